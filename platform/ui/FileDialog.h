// The file open and save dialogs. The filter is the system's form: pairs of
// "name|patterns" separated by '|' and ended by "||". Tests answer instead
// of the dialog through a hook.
#pragma once

#include <functional>

#include "WinUser.h"

constexpr DWORD OFN_OVERWRITEPROMPT = 0x2;
constexpr DWORD OFN_HIDEREADONLY = 0x4;
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

class CFileDialog {
public:
    CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt = nullptr, LPCSTR lpszFileName = nullptr,
                DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCSTR lpszFilter = nullptr,
                QWidget* pParentWnd = nullptr);

    // IDOK when a file was chosen, IDCANCEL otherwise.
    INT_PTR DoModal();
    // The full path of the file chosen.
    CString GetPathName() const { return m_strPathName; }

    BOOL IsOpenDialog() const { return m_bOpenFileDialog; }
    const CString& GetFilter() const { return m_strFilter; }

private:
    BOOL m_bOpenFileDialog;
    CString m_strDefExt;
    CString m_strFileName;
    DWORD m_dwFlags;
    CString m_strFilter;
    QWidget* m_pParentWnd;
    CString m_strPathName;
};

// The hook gets the dialog and sets the chosen path; it returns IDOK or
// IDCANCEL. Returns the hook it replaces.
using AFX_FILEDIALOG_HOOK = std::function<INT_PTR(const CFileDialog& dlg, CString& rPathName)>;
AFX_FILEDIALOG_HOOK AfxSetFileDialogHook(AFX_FILEDIALOG_HOOK pfnHook);
