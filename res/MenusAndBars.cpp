#include "RegprobeResources.h"
#include "Resource.h"
#include "platform/ui/AfxRes.h"

namespace {
CMenuItemTemplate Item(const char* text, UINT nID) {
    return {text, nID, MF_STRING, {}};
}
CMenuItemTemplate Separator() {
    return {"", 0, MF_SEPARATOR, {}};
}
CMenuItemTemplate Popup(const char* text, std::vector<CMenuItemTemplate> items) {
    return {text, 0, MF_POPUP, std::move(items)};
}

// With a test window active, its trend chart too.
CMenuItemTemplate ViewPopup(bool bDocument = false) {
    std::vector<CMenuItemTemplate> items{Item("&Toolbar", ID_VIEW_TOOLBAR),
                                         Item("&Status Bar", ID_VIEW_STATUS_BAR), Separator(),
                                         Item("T&raffic", ID_VIEW_TRAFFIC)};
    if (bDocument) {
        items.push_back(Item("Trend &Chart", ID_VIEW_TREND_CHART));
    }
    return Popup("&View", std::move(items));
}
CMenuItemTemplate ToolsPopup() {
    return Popup("&Tools", {Item("Scan &Units...", ID_TOOLS_SCAN_UNITS),
                            Item("Scan &Addresses...", ID_TOOLS_SCAN_ADDRESSES),
                            Item("Send &Request...", ID_TOOLS_SEND_REQUEST)});
}
// New (and Close, with a test window active), the workspace's commands and
// its recent files, then Exit.
CMenuItemTemplate FilePopup(bool bDocument) {
    std::vector<CMenuItemTemplate> items{Item("&New\tCtrl+N", ID_FILE_NEW)};
    if (bDocument) {
        items.push_back(Item("&Close", ID_FILE_CLOSE));
    }
    items.push_back(Separator());
    items.push_back(Item("&Open Workspace...", ID_FILE_OPEN_WORKSPACE));
    items.push_back(Item("&Save Workspace", ID_FILE_SAVE_WORKSPACE));
    items.push_back(Item("Save Workspace &As...", ID_FILE_SAVE_WORKSPACE_AS));
    items.push_back(Separator());
    for (UINT i = 0; i < RECENT_WORKSPACE_COUNT; ++i) {
        items.push_back(Item("Recent Workspace", ID_FILE_RECENT_WORKSPACE1 + i));
    }
    items.push_back(Separator());
    items.push_back(Item("E&xit", ID_APP_EXIT));
    return Popup("&File", std::move(items));
}
CMenuItemTemplate HelpPopup() {
    return Popup("&Help", {Item("&About Regprobe...", ID_APP_ABOUT)});
}
}  // namespace

void AddMenusAndBars(CResourceModule& module) {
    // No document open.
    module.m_menus.push_back(
        {IDR_MAINFRAME,
         {
             FilePopup(false),
             ViewPopup(),
             Popup("&Options", {Item("&Connections...", ID_OPTIONS_CONNECTIONS),
                                Item("&Register Type Library...", ID_OPTIONS_REGISTER_TYPELIB),
                                Item("&Preferences...", ID_OPTIONS_PREFERENCES)}),
             ToolsPopup(),
             HelpPopup(),
         }});
    // A document active.
    module.m_menus.push_back(
        {IDR_REGPROTYPE,
         {
             FilePopup(true),
             ViewPopup(true),
             ToolsPopup(),
             Popup("&Window",
                   {Item("&New Window", ID_WINDOW_NEW), Item("&Cascade", ID_WINDOW_CASCADE),
                    Item("&Tile", ID_WINDOW_TILE_HORZ), Item("&Arrange Icons", ID_WINDOW_ARRANGE)}),
             HelpPopup(),
         }});
    // The notification-area icon.
    module.m_menus.push_back({IDR_TRAYICON,
                              {
                                  Popup("Tray", {Item("Poll Device", ID_TRAY_POLL_DEVICE),
                                                 Item("&Connections...", ID_TRAY_CONNECTIONS),
                                                 Item("&Terminate", ID_TRAY_TERMINATE), Separator(),
                                                 Item("&About", ID_APP_ABOUT)}),
                              }});

    constexpr BYTE kCtrl = FVIRTKEY | FCONTROL | FNOINVERT;
    constexpr BYTE kShift = FVIRTKEY | FSHIFT | FNOINVERT;
    constexpr BYTE kAlt = FVIRTKEY | FALT | FNOINVERT;
    constexpr BYTE kPlain = FVIRTKEY | FNOINVERT;
    module.m_accelerators.push_back({IDR_MAINFRAME,
                                     {
                                         {kCtrl, 'N', ID_FILE_NEW},
                                         {kCtrl, 'O', ID_FILE_OPEN},
                                         {kCtrl, 'S', ID_FILE_SAVE},
                                         {kCtrl, 'Z', ID_EDIT_UNDO},
                                         {kCtrl, 'X', ID_EDIT_CUT},
                                         {kCtrl, 'C', ID_EDIT_COPY},
                                         {kCtrl, 'V', ID_EDIT_PASTE},
                                         {kAlt, VK_BACK, ID_EDIT_UNDO},
                                         {kShift, VK_DELETE, ID_EDIT_CUT},
                                         {kCtrl, VK_INSERT, ID_EDIT_COPY},
                                         {kShift, VK_INSERT, ID_EDIT_PASTE},
                                         {kPlain, VK_F6, ID_NEXT_PANE},
                                         {kShift, VK_F6, ID_PREV_PANE},
                                     }});

    module.m_toolBars.push_back({IDR_MAINFRAME, 16, 15, {ID_FILE_NEW, ID_APP_ABOUT}});

    module.m_icons.push_back(
        {IDR_MAINFRAME,
         {":/res/art/regprobe16.png", ":/res/art/regprobe32.png", ":/res/art/regprobe48.png"}});
    module.m_icons.push_back(
        {IDR_REGPROTYPE,
         {":/res/art/document16.png", ":/res/art/document32.png", ":/res/art/document48.png"}});
    module.m_icons.push_back(
        {IDR_TRAYICON, {":/res/art/tray16.png", ":/res/art/tray22.png", ":/res/art/tray32.png"}});
    module.m_bitmaps.push_back({IDR_MAINFRAME, {":/res/art/toolbar.bmp"}});
    module.m_bitmaps.push_back({IDB_SPLASH, {":/res/art/splash.bmp"}});

    module.m_version = CVersionInfo{{1, 0, 0, 1},
                                    {1, 0, 0, 1},
                                    {
                                        {"FileDescription", "Regprobe MFC Application"},
                                        {"FileVersion", "1, 0, 0, 1"},
                                        {"InternalName", "Regprobe"},
                                        {"ProductName", "Regprobe Application"},
                                        {"ProductVersion", "1, 0, 0, 1"},
                                    }};
}
