// The user interface as data: dialog templates, menus, accelerator tables,
// tool bars, strings, images and the version record, in the shapes a resource
// script gives them. The helpers below read like the script's statements and
// add the styles the resource compiler adds.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "WinUser.h"

enum class CtlClass : BYTE { Button, Edit, Static, ListBox, ComboBox };

struct CDialogItemTemplate {
    CtlClass nClass;
    int nID;
    std::string strText;  // empty for controls without text
    UINT nImage;          // icon resource of an SS_ICON static, else 0
    short x, y, cx, cy;   // dialog units
    DWORD dwStyle;
    DWORD dwExStyle;
};

struct CDialogTemplate {
    UINT nID;
    DWORD dwStyle;
    short cx, cy;  // dialog units
    std::string strCaption;
    WORD wPointSize;
    std::string strFaceName;
    std::vector<CDialogItemTemplate> items;
};

struct CMenuItemTemplate {
    std::string strText;  // "\t" separates the shortcut shown at the right
    UINT nID;             // 0 for pop-ups and separators
    UINT nFlags;          // MF_POPUP, MF_SEPARATOR
    std::vector<CMenuItemTemplate> popup;
};

struct CMenuTemplate {
    UINT nID;
    std::vector<CMenuItemTemplate> items;
};

struct ACCEL {
    BYTE fVirt;
    WORD key;  // a virtual key, or an upper-case letter or digit
    WORD cmd;
};

struct CAcceleratorTable {
    UINT nID;
    std::vector<ACCEL> entries;
};

// Buttons are cut from the bitmap of the same id, left to right; a 0 in
// items is a separator and takes no image.
struct CToolBarTemplate {
    UINT nID;
    int cxButton;
    int cyButton;
    std::vector<UINT> items;
};

struct CStringEntry {
    UINT nID;
    std::string str;
};

// Images are files compiled in with Qt's resource system. An icon lists one
// file per size.
struct CImageEntry {
    UINT nID;
    std::vector<std::string> files;
};

struct CVersionInfo {
    WORD fileVersion[4];
    WORD productVersion[4];
    std::vector<std::pair<std::string, std::string>> strings;  // StringFileInfo
};

// Resource-script statements.
inline constexpr DWORD RC_CHILD = WS_CHILD | WS_VISIBLE;

inline CDialogItemTemplate CONTROL(const char* text, int id, CtlClass cls, DWORD style, short x,
                                   short y, short cx, short cy, DWORD exStyle = 0) {
    return {cls, id, text, 0, x, y, cx, cy, RC_CHILD | style, exStyle};
}
inline CDialogItemTemplate LTEXT(const char* text, int id, short x, short y, short cx, short cy,
                                 DWORD style = 0) {
    return CONTROL(text, id, CtlClass::Static, SS_LEFT | WS_GROUP | style, x, y, cx, cy);
}
inline CDialogItemTemplate EDITTEXT(int id, short x, short y, short cx, short cy, DWORD style = 0) {
    return CONTROL("", id, CtlClass::Edit, ES_LEFT | WS_BORDER | WS_TABSTOP | style, x, y, cx, cy);
}
inline CDialogItemTemplate PUSHBUTTON(const char* text, int id, short x, short y, short cx,
                                      short cy, DWORD style = 0) {
    return CONTROL(text, id, CtlClass::Button, BS_PUSHBUTTON | WS_TABSTOP | style, x, y, cx, cy);
}
inline CDialogItemTemplate DEFPUSHBUTTON(const char* text, int id, short x, short y, short cx,
                                         short cy, DWORD style = 0) {
    return CONTROL(text, id, CtlClass::Button, BS_DEFPUSHBUTTON | WS_TABSTOP | style, x, y, cx, cy);
}
inline CDialogItemTemplate GROUPBOX(const char* text, int id, short x, short y, short cx, short cy,
                                    DWORD style = 0) {
    return CONTROL(text, id, CtlClass::Button, BS_GROUPBOX | style, x, y, cx, cy);
}
inline CDialogItemTemplate COMBOBOX(int id, short x, short y, short cx, short cy, DWORD style) {
    return CONTROL("", id, CtlClass::ComboBox, style, x, y, cx, cy);
}
inline CDialogItemTemplate LISTBOX(int id, short x, short y, short cx, short cy, DWORD style) {
    return CONTROL("", id, CtlClass::ListBox, style, x, y, cx, cy);
}
inline CDialogItemTemplate ICON(UINT icon, int id, short x, short y, short cx, short cy) {
    return {CtlClass::Static, id, "", icon, x, y, cx, cy, RC_CHILD | SS_ICON, 0};
}
