#include "FileDialog.h"

#include <QFileDialog>
#include <QStringList>

#include "AfxRes.h"
#include "ModalWindow.h"
#include "ResourceModule.h"
#include "WinApp.h"

namespace {
AFX_FILEDIALOG_HOOK& Hook() {
    static AFX_FILEDIALOG_HOOK hook;
    return hook;
}

// "Name|*.a;*.b|" pairs become Qt's "Name (*.a *.b)" filters; the name keeps
// its own text when it already shows the patterns.
QStringList NameFilters(const CString& strFilter) {
    QStringList parts = QString::fromStdString(strFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;
        }
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString name = parts[i];
        filters << (name.contains(QLatin1Char('('))
                        ? name
                        : name + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters;
}
}  // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt, LPCSTR lpszFileName,
                         DWORD dwFlags, LPCSTR lpszFilter, QWidget* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog),
      m_strDefExt(lpszDefExt ? lpszDefExt : ""),
      m_strFileName(lpszFileName ? lpszFileName : ""),
      m_dwFlags(dwFlags),
      m_strFilter(lpszFilter ? lpszFilter : ""),
      m_pParentWnd(pParentWnd) {}

INT_PTR CFileDialog::DoModal() {
    if (Hook()) {
        return Hook()(*this, m_strPathName);
    }
    QFileDialog dlg(m_pParentWnd ? m_pParentWnd : AfxGetMainWnd());
    dlg.setWindowTitle(QString::fromStdString(
        AfxLoadString(m_bOpenFileDialog ? AFX_IDS_OPENFILE : AFX_IDS_SAVEFILE)));
    dlg.setAcceptMode(m_bOpenFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dlg.setFileMode(m_bOpenFileDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !(m_dwFlags & OFN_OVERWRITEPROMPT));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    QStringList filters = NameFilters(m_strFilter);
    if (!filters.isEmpty()) {
        dlg.setNameFilters(filters);
    }
    if (!m_strDefExt.empty()) {
        dlg.setDefaultSuffix(QString::fromStdString(m_strDefExt));
    }
    if (!m_strFileName.empty()) {
        dlg.selectFile(QString::fromStdString(m_strFileName));
    }
    AfxPrepareModalWindow(&dlg);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) {
        return IDCANCEL;
    }
    m_strPathName = dlg.selectedFiles().front().toStdString();
    return IDOK;
}

AFX_FILEDIALOG_HOOK AfxSetFileDialogHook(AFX_FILEDIALOG_HOOK pfnHook) {
    AFX_FILEDIALOG_HOOK previous = std::move(Hook());
    Hook() = std::move(pfnHook);
    return previous;
}
