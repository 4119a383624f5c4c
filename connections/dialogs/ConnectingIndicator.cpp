#include "ConnectingIndicator.h"

#include <QLabel>
#include <QProgressBar>

#include "platform/ui/Dialog.h"

void CConnectingIndicator::Create(CDialog* pDlg, const QRect& rcLabel, const QRect& rcBar) {
    m_pDlg = pDlg;
    m_sizeIdle = pDlg->size();
    m_pLabel = new QLabel(pDlg);
    m_pLabel->setObjectName("connecting");
    m_pLabel->setGeometry(rcLabel);
    m_pBar = new QProgressBar(pDlg);
    m_pBar->setRange(0, 0);  // no end is known: busy
    m_pBar->setTextVisible(false);
    m_pBar->setGeometry(rcBar);
    m_pLabel->hide();
    m_pBar->hide();
}

void CConnectingIndicator::Show(const CString& strPlace) {
    m_pLabel->setText(QString::fromStdString("Connecting to " + strPlace) + QChar(0x2026));
    m_pDlg->setFixedSize(m_sizeIdle.width(),
                         m_pBar->geometry().bottom() + m_pDlg->MapDialogRect(0, 0, 0, 6).height());
    m_pLabel->show();
    m_pBar->show();
}

void CConnectingIndicator::Hide() {
    m_pDlg->setFixedSize(m_sizeIdle);
    m_pLabel->hide();
    m_pBar->hide();
}
