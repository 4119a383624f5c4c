#include "tests/support/ui/DialogTestSupport.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "connections/Connections.h"
#include "platform/com/rpc/RpcSettings.h"
#include "tests/support/ConnectionNames.h"
#include "tests/support/PeerSocket.h"

namespace {
// The rest of the first line of output that starts with strPrefix.
CString After(CChildProcess& process, const std::string& strPrefix) {
    std::string strLine;
    if (!process.ReadLine(strLine, 10000) || strLine.rfind(strPrefix, 0) != 0) {
        ADD_FAILURE() << "expected \"" << strPrefix << "\", got \"" << strLine << "\"";
        return CString();
    }
    return strLine.substr(strPrefix.size());
}
}  // namespace

CTcpSim::CTcpSim(std::vector<std::string> options) {
    options.insert(options.begin(), {REGPROBE_SIM_PROGRAM, "--listen", "127.0.0.1:0"});
    if (m_process.Start(options)) {
        m_nPort = static_cast<WORD>(std::atoi(After(m_process, "listening on 127.0.0.1:").c_str()));
    }
}

WORD ClosedPort() {
    WORD nPort = 0;
    ::close(ListenLoopback(-1, &nPort));
    return nPort;
}

CSerialRig::CSerialRig() {
    if (m_dir.Path().empty()) {
        return;
    }
    const std::string strKey =
        m_dir.WriteFile("access.key", "00112233445566778899aabbccddeeff\n", 0600);
    CoSetAccessKeyFile(strKey.c_str());
    if (!m_sim.Start({REGPROBE_SIM_PROGRAM, "--pty", "--holding", "0=11,22,33"})) {
        return;
    }
    CString strPty = After(m_sim, "pty ");
    if (!strPty.empty() && m_server.Start({REGPROBE_SERVER_PROGRAM, "--port", "COM1=" + strPty,
                                           "--listen", "127.0.0.1:0", "--key-file", strKey})) {
        CString strPort = After(m_server, "listening on 127.0.0.1:0 port ");
        m_strRemote = strPort.empty() ? CString() : "127.0.0.1:" + strPort;
    }
}

CSerialRig::~CSerialRig() {
    CoSetAccessKeyFile(nullptr);
}

void SetText(const QWidget* pDialog, int nID, const CString& strText) {
    if (auto* pEdit = Ctl<QLineEdit>(pDialog, nID)) {
        pEdit->setText(QString::fromStdString(strText));
    }
}

QString Text(const QWidget* pDialog, int nID) {
    QWidget* pControl = GetDlgItem(pDialog, nID);
    if (auto* pCombo = qobject_cast<QComboBox*>(pControl)) {
        return pCombo->currentText();
    }
    return Ctl<QLineEdit>(pDialog, nID)->text();
}

void Click(const QWidget* pDialog, int nID) {
    if (auto* pButton = Ctl<QAbstractButton>(pDialog, nID)) {
        pButton->click();
    }
}

void Choose(const QWidget* pDialog, int nID, const char* pszLine) {
    auto* pCombo = Ctl<QComboBox>(pDialog, nID);
    int nIndex = pCombo->findText(QString::fromUtf8(pszLine));
    ASSERT_GE(nIndex, 0) << pszLine;
    pCombo->setCurrentIndex(nIndex);
}

std::vector<CString> Lines(const QWidget* pDialog, int nID) {
    std::vector<CString> lines;
    auto* pList = Ctl<QListWidget>(pDialog, nID);
    for (int i = 0; i < pList->count(); ++i) {
        lines.push_back(pList->item(i)->text().toStdString());
    }
    return lines;
}

std::vector<CString> ConnectionNames() {
    std::vector<CString> names = ConnectionNames(theConnections);
    std::sort(names.begin(), names.end());
    return names;
}

void ExpectAnswersWhileConnecting(QWidget* pDialog, int nOkID,
                                  const std::function<bool()>& connecting, const CString& strTarget,
                                  std::chrono::nanoseconds okTook) {
    using Clock = std::chrono::steady_clock;
    EXPECT_LT(okTook, std::chrono::milliseconds(100));
    ASSERT_TRUE(connecting());
    auto* pLabel = pDialog->findChild<QLabel*>("connecting");
    ASSERT_NE(pLabel, nullptr);
    EXPECT_TRUE(pLabel->isVisible());
    EXPECT_EQ(pLabel->text(), QString::fromStdString("Connecting to " + strTarget) + QChar(0x2026));
    EXPECT_FALSE(GetDlgItem(pDialog, nOkID)->isEnabled());

    QTimer timer;
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    int nTicks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // Counted from the first tick: the dialog's first paint comes before.
        const Clock::time_point now = Clock::now();
        if (nTicks++ > 0) {
            longest = std::max(longest, now - last);
        }
        last = now;
    });
    timer.start(10);
    Pump(std::chrono::milliseconds(1000));
    timer.stop();
    EXPECT_TRUE(connecting());
    const double dLongest = std::chrono::duration<double, std::milli>(longest).count();
    std::printf(
        "while connecting: OK held the GUI thread %.2f ms; longest timer gap %.2f ms "
        "(%d ticks)\n",
        std::chrono::duration<double, std::milli>(okTook).count(), dLongest, nTicks);
    testing::Test::RecordProperty("longest_gap_us", static_cast<int>(dLongest * 1000));
    EXPECT_GT(nTicks, 20);
    EXPECT_LT(longest, std::chrono::milliseconds(200));
}
