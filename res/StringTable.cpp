#include "RegprobeResources.h"
#include "Resource.h"
#include "platform/ui/AfxRes.h"

void AddStringTable(CResourceModule& module) {
    module.m_strings = {
        {IDP_OLE_INIT_FAILED,
         "OLE initialization failed.  Make sure that the OLE libraries are the correct version."},
        {IDP_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
        {IDR_MAINFRAME, "Regprobe"},
        {IDR_REGPROTYPE, "\nRegpro\nRegpro\n\n\nRegprobe.Document\nRegpro Document"},
        {IDR_TRAYICON, "Regprobe"},
        {AFX_IDS_APP_TITLE, "Regprobe"},
        {AFX_IDS_IDLEMESSAGE, "Ready"},

        // Status-bar prompts; after a line break, the tool tip.
        {ID_OPTIONS_CONNECTIONS, "Open/Remove Connections"},
        {ID_TRAY_TERMINATE, "Exit Aplication"},
        {ID_OPTIONS_REGISTER_TYPELIB, "Register Type Library"},
        {ID_TRAY_CONNECTIONS, "Configure Connections"},
        {ID_TRAY_POLL_DEVICE, "Test connection with modbus device "},
        {ID_FILE_NEW, "Create a new document\nNew"},
        {ID_FILE_OPEN, "Open an existing document\nOpen"},
        {ID_FILE_CLOSE, "Close the active document\nClose"},
        {ID_FILE_SAVE, "Save the active document\nSave"},
        {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
        {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
        {ID_WINDOW_NEW, "Open another window for the active document\nNew Window"},
        {ID_WINDOW_ARRANGE, "Arrange icons at the bottom of the window\nArrange Icons"},
        {ID_WINDOW_CASCADE, "Arrange windows so they overlap\nCascade Windows"},
        {ID_WINDOW_TILE_HORZ, "Arrange windows as non-overlapping tiles\nTile Windows"},
        {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
        {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},

        {ID_INDICATOR_CAPS, "CAP"},
        {ID_INDICATOR_NUM, "NUM"},
        {ID_INDICATOR_SCRL, "SCRL"},

        // The framework's own texts.
        {AFX_IDS_UNTITLED, "Untitled"},
        {AFX_IDS_OPENFILE, "Open"},
        {AFX_IDS_SAVEFILE, "Save As"},
        {AFX_IDS_ALLFILTER, "All Files (*.*)"},
        {AFX_IDP_ASK_TO_SAVE, "Save changes to %1?"},
        {AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open document."},
        {AFX_IDP_FAILED_TO_SAVE_DOC, "Failed to save document."},
    };
}
