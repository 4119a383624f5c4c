// Workspaces in the application, offscreen, against the simulator: every
// field of every window back as it was saved, the resume question, a
// missing connection, giving up while connecting, a damaged file, unsaved
// changes, the recent list, and no growth over many opens.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QSettings>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "connections/Connections.h"
#include "monitor/TrafficWnd.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/WorkspaceSession.h"
#include "tests/support/FileLines.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/TempDir.h"
#include "tests/support/ui/DialogTestSupport.h"
#include "tests/support/ui/UiTestSupport.h"
#include "testview/ui/RegprobeView.h"
#include "transport/RemoteModbus.h"

namespace {
using namespace std::chrono_literals;

class Workspace : public CFrameTest {
protected:
    void SetUp() override {
        CFrameTest::SetUp();
        CWorkspaceSession::Settings()->clear();
        Session().m_ask = [this](const CString& strQuestion, UINT) {
            m_questions.push_back(strQuestion);
            if (m_answers.empty()) {
                return IDNO;
            }
            const int nAnswer = m_answers.front();
            m_answers.pop_front();
            return nAnswer;
        };
    }
    void TearDown() override {
        m_app.CloseAllDocuments(FALSE);
        CFrameTest::TearDown();
    }

    CWorkspaceSession& Session() { return *m_pFrame->GetWorkspace(); }

    CString AddSim(std::vector<std::string> options = {"--holding", "0=11,22,33"}) {
        const WORD nPort = m_sims.emplace_back(std::make_unique<CTcpSim>(options))->m_nPort;
        const CString strName = "127.0.0.1:" + std::to_string(nPort);
        CRemoteModbus* pModbus =
            theConnections.Add(strName, CONNECTION_OPEN_MODBUS)->GetRemoteModbus();
        EXPECT_TRUE(pModbus->Connect("127.0.0.1", nPort, 3000));
        return strName;
    }
    // A new test window, on the named connection when one is given.
    CRegprobeView* NewWindow(const CString& strConnection = CString()) {
        m_pFrame->SendCommand(ID_FILE_NEW);
        CMDIChildWnd* pChild = m_pFrame->MDIGetActive();
        auto* pView = pChild ? dynamic_cast<CRegprobeView*>(pChild->GetActiveView()) : nullptr;
        if (pView != nullptr && !strConnection.empty()) {
            QComboBox* pCombo = pView->m_comboConnection;
            pCombo->setCurrentIndex(pCombo->findText(QString::fromStdString(strConnection)));
            EXPECT_EQ(pCombo->currentText().toStdString(), strConnection);
        }
        return pView;
    }
    // The test windows, bottom first.
    std::vector<CRegprobeView*> Views() const {
        std::vector<CRegprobeView*> views;
        for (QMdiSubWindow* pWindow :
             m_pFrame->GetMDIClient()->subWindowList(QMdiArea::StackingOrder)) {
            if (auto* pChild = dynamic_cast<CMDIChildWnd*>(pWindow)) {
                views.push_back(dynamic_cast<CRegprobeView*>(pChild->GetActiveView()));
            }
        }
        return views;
    }
    std::string Text() const { return WorkspaceToText(m_pFrame->GetWorkspace()->Capture()); }
    // Saves what is open as the named file in the test's directory.
    std::string Save(const std::string& strName) {
        const std::string strPath = m_dir.Path() + "/" + strName;
        EXPECT_TRUE(Session().SaveAs(strPath)) << strPath;
        return strPath;
    }

    CTempDir m_dir;
    std::vector<std::unique_ptr<CTcpSim>> m_sims;
    std::deque<int> m_answers;
    std::vector<CString> m_questions;
};

TEST_F(Workspace, EveryFieldComesBackAsSaved) {
    const CString strFirst = AddSim();
    const CString strSecond = AddSim({"--coils", "0=1,0,1"});
    CRegprobeView* pPlain = NewWindow(strSecond);
    ASSERT_NE(pPlain, nullptr);
    pPlain->m_editDevice->setText("7");
    pPlain->m_comboReadFunction->setCurrentIndex(READ_OUTPUT_STATUS);
    pPlain->m_editReadAddress->setText("0");
    pPlain->m_editQuantity->setText("3");
    pPlain->m_comboWriteFunction->setCurrentIndex(1);
    pPlain->m_editWriteAddress->setText("2");
    pPlain->m_editWriteValue->setText("1");
    pPlain->m_editInterval->setText("250");
    m_pFrame->MDIGetActive()->setGeometry(10, 20, 400, 300);

    CRegprobeView* pPolled = NewWindow(strFirst);
    pPolled->m_comboDataType->setCurrentIndex(TYPE_FLOAT);
    pPolled->m_editQuantity->setText("4");
    pPolled->m_editInterval->setText("50");
    CString strError;
    ASSERT_TRUE(pPolled->StartLogging(m_dir.Path() + "/values.csv", strError)) << strError;
    pPolled->SetPolling(true);
    pPolled->ShowChart(true);
    m_pFrame->MDIGetActive()->setGeometry(30, 40, 420, 320);
    m_pFrame->MDIGetActive()->showMaximized();
    m_pFrame->SendCommand(ID_VIEW_TRAFFIC);
    m_pFrame->GetTrafficWnd()->m_checkPause->setChecked(true);

    const std::string strPath = Save("day.rpw");
    const std::string strSaved = Text();
    EXPECT_NE(strSaved.find("\"maximised\""), std::string::npos) << strSaved;
    EXPECT_FALSE(Session().IsModified());

    // Another day: nothing open, no connections.
    m_app.CloseAllDocuments(FALSE);
    m_pFrame->GetTrafficWnd()->hide();
    theConnections.RemoveAll();
    // What is open now differs from the file: keep the file as it is.
    m_answers = {IDNO, IDYES};
    ASSERT_TRUE(Session().Open(strPath));
    EXPECT_EQ(m_questions, (std::vector<CString>{"Save changes to the workspace " + strPath + "?",
                                                 "Resume polling in 1 window?"}));
    const std::vector<CRegprobeView*> views = Views();
    ASSERT_EQ(views.size(), 2U);
    EXPECT_FALSE(views[0]->IsPolling());
    EXPECT_TRUE(views[1]->IsPolling());
    EXPECT_TRUE(views[1]->IsChartShown());
    EXPECT_TRUE(m_pFrame->GetTrafficWnd()->isVisible());
    EXPECT_EQ(Text(), strSaved);
    EXPECT_FALSE(Session().IsModified());
    // The polled window reads its simulator again, into its log too.
    ASSERT_TRUE(WaitFor([&] { return views[1]->m_listValues->count() == 4; }, 5s));
}

TEST_F(Workspace, AWindowWithoutItsConnectionOpensWithItsSettingsNotPolling) {
    const CString strKept = AddSim();
    const CString strGone = AddSim();
    CRegprobeView* pGone = NewWindow(strGone);
    pGone->m_editQuantity->setText("2");
    pGone->SetPolling(true);
    NewWindow(strKept)->SetPolling(true);
    const std::string strPath = Save("gone.rpw");
    m_app.CloseAllDocuments(FALSE);
    // The second simulator is gone by the next morning.
    m_sims.back().reset();
    m_answers = {IDNO, IDYES};
    ASSERT_TRUE(Session().Open(strPath));
    const std::vector<CRegprobeView*> views = Views();
    ASSERT_EQ(views.size(), 2U);
    EXPECT_EQ(views[0]->m_comboConnection->currentText().toStdString(), strGone);
    EXPECT_EQ(views[0]->m_editQuantity->text(), "2");
    EXPECT_FALSE(views[0]->IsPolling());
    const std::string strNote = views[0]->m_staticResult->text().toStdString();
    EXPECT_EQ(strNote.rfind("Not polling: the connection " + strGone + " could not connect", 0), 0U)
        << strNote;
    EXPECT_TRUE(views[1]->IsPolling());
}

TEST_F(Workspace, GivingUpWhileConnectingOpensTheWindowsWithoutPolling) {
    const CString strFast = AddSim();
    // A device whose connection never completes: its listener's backlog is
    // full, so the handshake waits for the record's whole time-out.
    CListener full(0);
    CRawClient waiting(full.Port());
    CConnection* pSlow = theConnections.Add("slow", CONNECTION_OPEN_MODBUS);
    pSlow->GetRemoteModbus()->Connect("127.0.0.1", full.Port(), 1);
    NewWindow(strFast)->SetPolling(true);
    const std::string strPath = Save("slow.rpw");
    // The slow record's time-out in the file: 20 s.
    std::string strText = FileText(strPath);
    const std::string strShort = "\"timeout_ms\": 1,";
    const size_t nAt = strText.find(strShort);
    ASSERT_NE(nAt, std::string::npos) << strText;
    std::ofstream(strPath) << strText.replace(nAt, strShort.size(), "\"timeout_ms\": 20000,");
    m_app.CloseAllDocuments(FALSE);
    theConnections.RemoveAll();

    m_answers = {IDNO, IDYES};
    Session().m_onLoading = [](QProgressDialog& progress, int nRecord, int nCount) {
        if (nRecord == nCount) {
            progress.cancel();
        }
    };
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(Session().Open(strPath))
        << ::testing::PrintToString(m_boxes.Texts()) << ::testing::PrintToString(m_questions);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s);
    ASSERT_EQ(Views().size(), 1U);
    EXPECT_FALSE(Views()[0]->IsPolling());
}

// A damaged file, a failed save and unsaved changes: each keeps what is
// open. Which damage names which place is the loader's (tests/workspace).
TEST_F(Workspace, ADamagedFileAFailedSaveAndUnsavedChangesKeepWhatIsOpen) {
    AddSim();
    CRegprobeView* pView = NewWindow();
    const std::string strPath = Save("changes.rpw");
    const std::string strOther = Save("other.rpw");
    const std::string strBefore = Text();
    const std::string strBad = m_dir.Path() + "/bad.rpw";
    std::ofstream(strBad) << "{\"format\": \"regprobe-workspace\",\n \"version\": 1,,}";
    EXPECT_FALSE(Session().Open(strBad));
    EXPECT_FALSE(Session().SaveAs(m_dir.Path() + "/no-such-dir/x.rpw"));
    ASSERT_EQ(m_boxes.Texts().size(), 2U);
    EXPECT_NE(m_boxes.Texts()[0].find("line 2"), std::string::npos) << m_boxes.Texts()[0];
    EXPECT_NE(m_boxes.Texts()[1].find("no-such-dir"), std::string::npos) << m_boxes.Texts()[1];
    EXPECT_EQ(Text(), strBefore);
    EXPECT_EQ(Session().GetPath(), strOther);

    pView->m_editDevice->setText("42");
    EXPECT_TRUE(Session().IsModified());
    m_answers = {IDCANCEL};
    EXPECT_FALSE(Session().Open(strPath));
    EXPECT_EQ(Views().size(), 1U);
    EXPECT_EQ(Session().GetPath(), strOther);
    // Yes saves the change before the other workspace opens.
    m_answers = {IDYES};
    ASSERT_TRUE(Session().Open(strPath));
    EXPECT_EQ(Views().at(0)->m_editDevice->text(), "1");
    CWorkspace saved;
    CString strError;
    ASSERT_TRUE(LoadWorkspace(strOther, saved, strError)) << strError;
    ASSERT_EQ(saved.windows.size(), 1U);
    EXPECT_EQ(saved.windows[0].strDevice, "42");

    // Named on the command line, a workspace opens once the loop runs.
    m_app.CloseAllDocuments(FALSE);
    Session().OpenFromCommandLine({"regprobe", "-Embedding", QString::fromStdString(strOther)});
    ASSERT_TRUE(WaitFor([&] { return Views().size() == 1; }, 5s));
    EXPECT_EQ(Session().GetPath(), strOther);
}

TEST_F(Workspace, RecentListKeepsTheLastFourMostRecentFirst) {
    AddSim();
    for (const char* psz : {"a", "b", "c", "d", "e", "b"}) {
        Save(std::string(psz) + ".rpw");
    }
    QStringList expected;
    for (const char* psz : {"b", "e", "d", "c"}) {
        expected << QString::fromStdString(m_dir.Path() + "/" + psz + ".rpw");
    }
    EXPECT_EQ(Session().GetRecent(), expected);
    // The menu's entries, numbered, open their workspace.
    QAction* pFirst = MenuItem(m_pFrame, ID_FILE_RECENT_WORKSPACE1);
    ASSERT_NE(pFirst, nullptr);
    for (QAction* pPopup : m_pFrame->menuBar()->actions()) {
        if (pPopup->menu() != nullptr && pPopup->menu()->actions().contains(pFirst)) {
            emit pPopup->menu()->aboutToShow();
        }
    }
    EXPECT_EQ(pFirst->text(), "&1 " + expected[0]);
    m_pFrame->SendCommand(ID_FILE_RECENT_WORKSPACE1 + 2);
    EXPECT_EQ(Session().GetPath(), expected[2].toStdString());
}

// Open and close a workspace of eight polling windows twenty times: no
// descriptor, thread or window is left behind.
TEST_F(Workspace, ReopeningEightPollingWindowsLeavesNothingBehind) {
    const CString strName = AddSim();
    for (int i = 0; i < 8; ++i) {
        CRegprobeView* pView = NewWindow();
        pView->m_editInterval->setText("20");
        pView->SetPolling(true);
    }
    const std::string strPath = Save("eight.rpw");
    auto count = [](const char* pszDir) {
        return std::distance(std::filesystem::directory_iterator(pszDir), {});
    };
    std::ptrdiff_t nFds = 0;
    std::ptrdiff_t nThreads = 0;
    for (int i = 0; i < 20; ++i) {
        m_answers = {IDYES};
        ASSERT_TRUE(Session().Open(strPath));
        const std::vector<CRegprobeView*> views = Views();
        ASSERT_EQ(views.size(), 8U);
        ASSERT_TRUE(WaitFor(
            [&] {
                return std::all_of(views.begin(), views.end(),
                                   [](CRegprobeView* pView) { return pView->IsPolling(); });
            },
            5s));
        Pump(50ms);
        if (i == 1) {
            nFds = count("/proc/self/fd");
            nThreads = count("/proc/self/task");
        }
    }
    // Workers of the windows just closed may still be on their way out.
    EXPECT_TRUE(WaitFor([&] { return count("/proc/self/fd") <= nFds + 2; }, 2s))
        << count("/proc/self/fd") << " descriptors, " << nFds << " after the second open";
    EXPECT_TRUE(WaitFor([&] { return count("/proc/self/task") <= nThreads + 2; }, 2s))
        << count("/proc/self/task") << " threads, " << nThreads << " after the second open";

    // Not resumed, every window opens still, on its connection.
    ASSERT_TRUE(Session().Open(strPath));
    EXPECT_EQ(m_questions.back(), "Resume polling in 8 windows?");
    ASSERT_EQ(Views().size(), 8U);
    for (CRegprobeView* pView : Views()) {
        EXPECT_FALSE(pView->IsPolling());
        EXPECT_EQ(pView->m_comboConnection->currentText().toStdString(), strName);
    }
}
}  // namespace
