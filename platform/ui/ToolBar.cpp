#include "ToolBar.h"

#include <QAction>
#include <QBitmap>
#include <QMainWindow>

#include "AfxRes.h"
#include "Menu.h"
#include "Message.h"
#include "ResourceModule.h"
#include "WidgetIds.h"

namespace {
// The face colour of the system the tool-bar bitmaps are drawn for.
const QColor kButtonFace(192, 192, 192);

void SplitPrompt(UINT nID, QString& rPrompt, QString& rTip) {
    CString str = AfxLoadString(nID);
    size_t nNewline = str.find('\n');
    rPrompt = QString::fromStdString(str.substr(0, nNewline));
    rTip = nNewline == CString::npos ? QString() : QString::fromStdString(str.substr(nNewline + 1));
}
}  // namespace

CToolBar::CToolBar() = default;

BOOL CToolBar::Create(QMainWindow* pParentWnd, DWORD dwStyle, UINT nID) {
    if (pParentWnd == nullptr) {
        return FALSE;
    }
    setObjectName(QStringLiteral("AFX_IDW_TOOLBAR_%1").arg(nID));
    setProperty(kBarIdProperty, nID);
    m_dwStyle = dwStyle;
    pParentWnd->addToolBar(
        (dwStyle & CBRS_ALIGN_BOTTOM) ? Qt::BottomToolBarArea : Qt::TopToolBarArea, this);
    setMovable(false);
    setFloatable(false);
    setVisible(dwStyle & WS_VISIBLE);
    return TRUE;
}

BOOL CToolBar::LoadToolBar(UINT nIDResource) {
    HINSTANCE hInst = AfxGetResourceHandle();
    const CToolBarTemplate* pTemplate = hInst ? hInst->FindToolBar(nIDResource) : nullptr;
    QPixmap bitmap = AfxLoadBitmap(nIDResource);
    if (pTemplate == nullptr || bitmap.isNull()) {
        return FALSE;
    }
    int nImages = 0;
    for (UINT nID : pTemplate->items) {
        nImages += nID != ID_SEPARATOR;
    }
    if (bitmap.width() < nImages * pTemplate->cxButton || bitmap.height() < pTemplate->cyButton) {
        return FALSE;
    }
    bitmap.setMask(bitmap.createMaskFromColor(kButtonFace));
    clear();
    setIconSize(QSize(pTemplate->cxButton, pTemplate->cyButton));
    int nImage = 0;
    for (UINT nID : pTemplate->items) {
        if (nID == ID_SEPARATOR) {
            addSeparator();
            continue;
        }
        QPixmap image = bitmap.copy(nImage++ * pTemplate->cxButton, 0, pTemplate->cxButton,
                                    pTemplate->cyButton);
        QString strPrompt;
        QString strTip;
        SplitPrompt(nID, strPrompt, strTip);
        QAction* pAction = addAction(QIcon(image), strTip);
        pAction->setProperty(kCommandIdProperty, nID);
        pAction->setToolTip(strTip);
        pAction->setStatusTip(strPrompt);
        connect(pAction, &QAction::triggered, this,
                [this, nID] { SendMessage(window(), WM_COMMAND, nID, 0); });
    }
    SetBarStyle(m_dwStyle);
    return TRUE;
}

void CToolBar::SetBarStyle(DWORD dwStyle) {
    m_dwStyle = dwStyle;
    for (QAction* pAction : actions()) {
        UINT nID = GetActionCommandId(pAction);
        if (nID == 0) {
            continue;
        }
        QString strPrompt;
        QString strTip;
        SplitPrompt(nID, strPrompt, strTip);
        pAction->setToolTip((dwStyle & CBRS_TOOLTIPS) ? strTip : QString());
        pAction->setStatusTip((dwStyle & CBRS_FLYBY) ? strPrompt : QString());
    }
    setFloatable(dwStyle & CBRS_SIZE_DYNAMIC);
}

void CToolBar::EnableDocking(DWORD dwDockStyle) {
    Qt::ToolBarAreas areas;
    if (dwDockStyle & CBRS_ALIGN_TOP) {
        areas |= Qt::TopToolBarArea;
    }
    if (dwDockStyle & CBRS_ALIGN_BOTTOM) {
        areas |= Qt::BottomToolBarArea;
    }
    if (dwDockStyle & CBRS_ALIGN_LEFT) {
        areas |= Qt::LeftToolBarArea;
    }
    if (dwDockStyle & CBRS_ALIGN_RIGHT) {
        areas |= Qt::RightToolBarArea;
    }
    setAllowedAreas(areas);
    setMovable(areas != Qt::ToolBarAreas());
}

QAction* CToolBar::GetButton(UINT nID) const {
    for (QAction* pAction : actions()) {
        if (GetActionCommandId(pAction) == nID) {
            return pAction;
        }
    }
    return nullptr;
}
