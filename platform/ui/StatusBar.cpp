#include "StatusBar.h"

#include <QLabel>
#include <QMainWindow>

#include "AfxRes.h"
#include "ResourceModule.h"
#include "WidgetIds.h"

CStatusBar::CStatusBar() = default;

BOOL CStatusBar::Create(QMainWindow* pParentWnd, DWORD dwStyle, UINT nID) {
    if (pParentWnd == nullptr) {
        return FALSE;
    }
    setObjectName(QStringLiteral("AFX_IDW_STATUS_BAR_%1").arg(nID));
    setProperty(kBarIdProperty, nID);
    pParentWnd->setStatusBar(this);
    setVisible(dwStyle & WS_VISIBLE);
    return TRUE;
}

BOOL CStatusBar::SetIndicators(const UINT* lpIDArray, int nIDCount) {
    for (Pane& pane : m_panes) {
        removeWidget(pane.pLabel);
        delete pane.pLabel;
    }
    m_panes.clear();
    BOOL bResult = TRUE;
    for (int i = 0; i < nIDCount; ++i) {
        UINT nID = lpIDArray[i];
        auto* pLabel = new QLabel(this);
        pLabel->setTextFormat(Qt::PlainText);
        if (nID == ID_SEPARATOR) {
            pLabel->setText(QString::fromStdString(AfxLoadString(AFX_IDS_IDLEMESSAGE)));
            addWidget(pLabel, 1);
            m_panes.push_back({nID, pLabel, CString(), TRUE});
            continue;
        }
        CString strText;
        if (!AfxLoadString(nID, strText)) {
            bResult = FALSE;
        }
        pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pLabel->setAlignment(Qt::AlignCenter);
        int cxText = pLabel->fontMetrics().horizontalAdvance(QString::fromStdString(strText));
        pLabel->setFixedWidth(cxText + 2 * pLabel->fontMetrics().averageCharWidth() +
                              2 * pLabel->frameWidth());
        addPermanentWidget(pLabel);
        m_panes.push_back({nID, pLabel, strText, FALSE});
    }
    return bResult;
}

UINT CStatusBar::GetItemID(int nIndex) const {
    return nIndex >= 0 && nIndex < GetCount() ? m_panes[nIndex].nID : 0;
}

CString CStatusBar::GetPaneText(int nIndex) const {
    if (nIndex < 0 || nIndex >= GetCount()) {
        return CString();
    }
    return m_panes[nIndex].pLabel->text().toStdString();
}

BOOL CStatusBar::SetPaneText(int nIndex, const CString& strText) {
    if (nIndex < 0 || nIndex >= GetCount()) {
        return FALSE;
    }
    Pane& pane = m_panes[nIndex];
    pane.strText = strText;
    if (pane.nID == ID_SEPARATOR || pane.bEnabled) {
        pane.pLabel->setText(QString::fromStdString(strText));
    }
    return TRUE;
}

void CStatusBar::EnablePane(int nIndex, BOOL bEnable) {
    if (nIndex < 0 || nIndex >= GetCount() || m_panes[nIndex].nID == ID_SEPARATOR) {
        return;
    }
    Pane& pane = m_panes[nIndex];
    pane.bEnabled = bEnable;
    pane.pLabel->setText(bEnable ? QString::fromStdString(pane.strText) : QString());
}

CString CStatusBar::GetMessageText() const {
    if (!currentMessage().isEmpty()) {
        return currentMessage().toStdString();
    }
    for (const Pane& pane : m_panes) {
        if (pane.nID == ID_SEPARATOR) {
            return pane.pLabel->text().toStdString();
        }
    }
    return CString();
}

void CStatusBar::SetMessageText(const CString& strText) {
    for (size_t i = 0; i < m_panes.size(); ++i) {
        if (m_panes[i].nID == ID_SEPARATOR) {
            SetPaneText(static_cast<int>(i), strText);
            return;
        }
    }
}
