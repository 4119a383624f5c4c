#include "DialogTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "connections/Connections.h"
#include "platform/com/ComApi.h"
#include "platform/com/RpcSettings.h"

CScriptedBoxes::CScriptedBoxes() {
    m_previous = AfxSetMessageBoxHook([this](const CString& strText, UINT nType) {
        m_texts.push_back(strText);
        m_types.push_back(nType);
        if (!m_answers.empty()) {
            int nAnswer = m_answers.front();
            m_answers.pop_front();
            return nAnswer;
        }
        return (nType & 0xF) == MB_YESNO ? IDYES : IDOK;
    });
}

CScriptedBoxes::~CScriptedBoxes() {
    AfxSetMessageBoxHook(std::move(m_previous));
}

CTcpSim::CTcpSim() {
    const std::string strPrefix = "listening on 127.0.0.1:";
    std::string strLine;
    m_bStarted = m_process.Start({REGPROBE_SIM_PROGRAM, "--listen", "127.0.0.1:0", "--holding",
                                  "0=11,22,33"}) &&
                 m_process.ReadLine(strLine, 10000) && strLine.rfind(strPrefix, 0) == 0;
    if (m_bStarted) {
        m_nPort = static_cast<WORD>(std::stoi(strLine.substr(strPrefix.size())));
    }
}

WORD ClosedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof sa;
    ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &n);
    ::close(s);  // bound but never listening: nothing accepts there
    return ntohs(sa.sin_port);
}

CSerialRig::CSerialRig() {
    if (::mkdtemp(m_szDir) == nullptr) {
        m_strError = "mkdtemp";
        return;
    }
    ::setenv(RPC_RUNTIME_DIR_VARIABLE, m_szDir, 1);
    const std::string strKey = std::string(m_szDir) + "/access.key";
    std::ofstream(strKey) << "00112233445566778899aabbccddeeff\n";
    ::chmod(strKey.c_str(), 0600);
    CoSetAccessKeyFile(strKey.c_str());

    std::string strLine;
    if (!m_sim.Start({REGPROBE_SIM_PROGRAM, "--pty", "--holding", "0=11,22,33"}) ||
        !m_sim.ReadLine(strLine, 10000) || strLine.rfind("pty /dev/", 0) != 0) {
        m_strError = "regprobe-sim --pty: " + strLine;
        return;
    }
    const std::string strPrefix = "listening on 127.0.0.1:0 port ";
    if (!m_server.Start({REGPROBE_SERVER_PROGRAM, "--port", "COM1=" + strLine.substr(4), "--listen",
                         "127.0.0.1:0", "--key-file", strKey}) ||
        !m_server.ReadLine(strLine, 10000) || strLine.rfind(strPrefix, 0) != 0) {
        m_strError = "modbus-serial-server: " + strLine;
        return;
    }
    m_strRemote = "127.0.0.1:" + strLine.substr(strPrefix.size());
    m_bStarted = true;
}

CSerialRig::~CSerialRig() {
    CoSetAccessKeyFile(nullptr);
    ::unsetenv(RPC_RUNTIME_DIR_VARIABLE);
    std::error_code ec;
    std::filesystem::remove_all(m_szDir, ec);
}

void WhenDialog(const QString& strTitle, std::function<void(CDialog*)> action) {
    auto* pTimer = new QTimer;
    auto nTicks = std::make_shared<int>(0);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, nTicks, strTitle, action] {
        auto* pDialog = qobject_cast<CDialog*>(QApplication::activeModalWidget());
        bool bFound = pDialog != nullptr && pDialog->windowTitle() == strTitle;
        if (!bFound && ++*nTicks <= 500) {
            return;
        }
        pTimer->stop();
        pTimer->deleteLater();
        if (!bFound) {
            ADD_FAILURE() << "no dialog " << strTitle.toStdString();
            return;
        }
        QPointer<CDialog> pGuard(pDialog);
        action(pDialog);
        QTimer::singleShot(10000, [pGuard] {
            if (pGuard && pGuard->isVisible()) {
                ADD_FAILURE() << "dialog left open";
                pGuard->done(-2);
            }
        });
    });
    pTimer->start(20);
}

void SetText(const QWidget* pDialog, int nID, const char* pszText) {
    if (auto* pEdit = Ctl<QLineEdit>(pDialog, nID)) {
        pEdit->setText(QString::fromUtf8(pszText));
    }
}

void Click(const QWidget* pDialog, int nID) {
    if (auto* pButton = Ctl<QAbstractButton>(pDialog, nID)) {
        pButton->click();
    }
}

bool Choose(const QWidget* pDialog, int nID, const char* pszText) {
    auto* pCombo = Ctl<QComboBox>(pDialog, nID);
    int nIndex = pCombo ? pCombo->findText(QString::fromUtf8(pszText)) : -1;
    if (nIndex >= 0) {
        pCombo->setCurrentIndex(nIndex);
    }
    return nIndex >= 0;
}

std::vector<CString> Lines(const QWidget* pDialog, int nID) {
    std::vector<CString> lines;
    if (auto* pList = Ctl<QListWidget>(pDialog, nID)) {
        for (int i = 0; i < pList->count(); ++i) {
            lines.push_back(pList->item(i)->text().toStdString());
        }
    }
    return lines;
}

std::vector<CString> ConnectionNames() {
    std::vector<CString> names;
    POSITION pos = theConnections.GetStartPosition();
    while (pos != nullptr) {
        CString strName;
        CConnection* pConnection = nullptr;
        theConnections.GetNextAssoc(pos, strName, pConnection);
        names.push_back(strName);
    }
    std::sort(names.begin(), names.end());
    return names;
}
