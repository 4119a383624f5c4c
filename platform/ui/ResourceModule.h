// The module's resources and the calls that load them. The program hands its
// tables over once at start (AfxSetResourceHandle); every loader reads the
// module set then.
#pragma once

#include <QPixmap>
#include <optional>

#include "ResourceTypes.h"

class CResourceModule {
public:
    const CDialogTemplate* FindDialog(UINT nID) const;
    const CMenuTemplate* FindMenu(UINT nID) const;
    const CAcceleratorTable* FindAccelerators(UINT nID) const;
    const CToolBarTemplate* FindToolBar(UINT nID) const;
    const CStringEntry* FindString(UINT nID) const;
    const CImageEntry* FindIcon(UINT nID) const;
    const CImageEntry* FindBitmap(UINT nID) const;

    std::vector<CDialogTemplate> m_dialogs;
    std::vector<CMenuTemplate> m_menus;
    std::vector<CAcceleratorTable> m_accelerators;
    std::vector<CToolBarTemplate> m_toolBars;
    std::vector<CStringEntry> m_strings;
    std::vector<CImageEntry> m_icons;
    std::vector<CImageEntry> m_bitmaps;
    std::optional<CVersionInfo> m_version;
};

using HINSTANCE = const CResourceModule*;

void AfxSetResourceHandle(HINSTANCE hInstResource);
HINSTANCE AfxGetResourceHandle();

// Copies string nID (at most nBufferMax - 1 characters and a terminator);
// returns the number of characters copied, 0 when there is no such string.
int LoadString(HINSTANCE hInstance, UINT nID, char* lpBuffer, int nBufferMax);
// The whole string, or FALSE when there is none.
BOOL AfxLoadString(UINT nID, CString& rString);
CString AfxLoadString(UINT nID);

// Icons are shared: the handle stays valid until the application ends and is
// never destroyed by the caller. Null when the module has no such icon.
HICON LoadIcon(HINSTANCE hInstance, UINT nID);
// Null pixmap when the module has no such bitmap or it cannot be read.
QPixmap AfxLoadBitmap(UINT nID);
