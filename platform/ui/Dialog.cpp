#include "Dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

#include "ModalWindow.h"
#include "ResourceModule.h"
#include "WinApp.h"

IMPLEMENT_DYNAMIC(CDialog, CCmdTarget)

CDialog::CDialog(UINT nIDTemplate, QWidget* pParentWnd)
    : QDialog(nullptr), m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {
    HINSTANCE hInst = AfxGetResourceHandle();
    m_pTemplate = hInst ? hInst->FindDialog(nIDTemplate) : nullptr;
    if (m_pTemplate != nullptr) {
        m_pBuilder = std::make_unique<CDialogBuilder>(*m_pTemplate);
    }
    MapCommand(IDOK, [this] { OnOK(); });
    MapCommand(IDCANCEL, [this] { OnCancel(); });
}

CDialog::~CDialog() = default;

BOOL CDialog::Create() {
    if (m_bCreated) {
        return TRUE;
    }
    if (m_pTemplate == nullptr) {
        return FALSE;
    }
    QWidget* pParent = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (m_pTemplate->dwStyle & WS_CAPTION) {
        flags |= Qt::WindowTitleHint;
    }
    if (m_pTemplate->dwStyle & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    setParent(pParent, flags);
    setWindowTitle(QString::fromStdString(m_pTemplate->strCaption));
    m_pBuilder->Build(this, [this](int nID, int nCode) { SendCommand(nID, nCode); });
    setFixedSize(m_pBuilder->GetClientSize());
    m_bCreated = TRUE;
    OnInitDialog();
    return TRUE;
}

INT_PTR CDialog::DoModal() {
    if (!Create()) {
        return -1;
    }
    AfxPrepareModalWindow(this);
    // Like the system's modal dialogs, it disables its owner only.
    setWindowModality(parentWidget() != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    return exec();
}

void CDialog::EndDialog(int nResult) {
    done(nResult);
}

QWidget* CDialog::GetDlgItem(int nID) const {
    return ::GetDlgItem(this, nID);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

QRect CDialog::MapDialogRect(int x, int y, int cx, int cy) const {
    return m_pBuilder ? m_pBuilder->MapDialogRect(x, y, cx, cy) : QRect();
}

void CDialog::SendCommand(UINT nID, int nCode) {
    OnCmdMsg(nID, nCode, nullptr, nullptr);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) {
        return;
    }
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) {
        QDialog::keyPressEvent(pEvent);
        return;
    }
    switch (pEvent->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            UINT nID = IDOK;
            auto* pFocusButton = qobject_cast<QPushButton*>(focusWidget());
            if (pFocusButton != nullptr && GetDlgCtrlID(pFocusButton) != 0) {
                nID = GetDlgCtrlID(pFocusButton);
            } else if (int nDefault = m_pBuilder ? m_pBuilder->GetDefaultButtonId() : 0) {
                QWidget* pDefault = GetDlgItem(nDefault);
                if (pDefault == nullptr || pDefault->isEnabled()) {
                    nID = nDefault;
                }
            }
            SendCommand(nID);
            return;
        }
        case Qt::Key_Escape:
            SendCommand(IDCANCEL);
            return;
        default:
            QDialog::keyPressEvent(pEvent);
    }
}

void CDialog::closeEvent(QCloseEvent* pEvent) {
    // The dialog decides through its cancel handling; done() closes it.
    pEvent->ignore();
    SendCommand(IDCANCEL);
}

void CDialog::reject() {
    SendCommand(IDCANCEL);
}

void CDialog::accept() {
    SendCommand(IDOK);
}
