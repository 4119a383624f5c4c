#include "FormView.h"

#include <QFocusEvent>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ResourceModule.h"

IMPLEMENT_DYNAMIC(CFormView, CView)

CFormView::CFormView(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {
    m_pScrollArea = new QScrollArea(this);
    m_pScrollArea->setFrameShape(QFrame::NoFrame);
    m_pForm = new QWidget;
    HINSTANCE hInst = AfxGetResourceHandle();
    const CDialogTemplate* pTemplate = hInst ? hInst->FindDialog(nIDTemplate) : nullptr;
    if (pTemplate != nullptr) {
        m_pBuilder = std::make_unique<CDialogBuilder>(*pTemplate);
        m_pBuilder->Build(m_pForm,
                          [this](int nID, int nCode) { OnCmdMsg(nID, nCode, nullptr, nullptr); });
        m_pForm->setFixedSize(m_pBuilder->GetClientSize());
    }
    m_pScrollArea->setWidget(m_pForm);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addWidget(m_pScrollArea);
}

CFormView::~CFormView() = default;

QWidget* CFormView::GetDlgItem(int nID) const {
    return ::GetDlgItem(m_pForm, nID);
}

BOOL CFormView::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(m_pForm, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

QSize CFormView::GetFormSize() const {
    return m_pBuilder ? m_pBuilder->GetClientSize() : QSize();
}

QRect CFormView::MapDialogRect(int x, int y, int cx, int cy) const {
    return m_pBuilder ? m_pBuilder->MapDialogRect(x, y, cx, cy) : QRect();
}

void CFormView::OnInitialUpdate() {
    UpdateData(FALSE);
    CView::OnInitialUpdate();
}

void CFormView::DoDataExchange(CDataExchange*) {}

QSize CFormView::sizeHint() const {
    return GetFormSize().isEmpty() ? CView::sizeHint() : GetFormSize();
}

void CFormView::focusInEvent(QFocusEvent* pEvent) {
    CView::focusInEvent(pEvent);
    for (QObject* pChild : m_pForm->children()) {
        auto* pControl = qobject_cast<QWidget*>(pChild);
        if (pControl != nullptr && (pControl->focusPolicy() & Qt::TabFocus) &&
            pControl->isEnabled() && !pControl->isHidden()) {
            pControl->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}
