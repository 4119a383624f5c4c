// Message boxes: the application's title, no icon, the buttons the type asks
// for. Tests install a hook that sees each text and gives the answer.
#pragma once

#include <functional>

#include "WinUser.h"

int AfxMessageBox(const CString& strText, UINT nType = MB_OK, UINT nIDHelp = 0);
// The text is string nIDPrompt.
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));

// The hook answers instead of a box being shown; it returns IDOK, IDYES, ...
// Returns the hook it replaces. An empty hook shows real boxes again.
using AFX_MESSAGEBOX_HOOK = std::function<int(const CString& strText, UINT nType)>;
AFX_MESSAGEBOX_HOOK AfxSetMessageBoxHook(AFX_MESSAGEBOX_HOOK pfnHook);
