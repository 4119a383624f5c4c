// Workspaces in the application, offscreen, against the simulator: every
// field of every window back as it was saved, the resume question, a
// missing connection, giving up while connecting, a damaged file, unsaved
// changes, the recent list, and no growth over many opens.
#include <dirent.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QSettings>
#include <fstream>
#include <sstream>

#include "connections/Connections.h"
#include "monitor/TrafficWnd.h"
#include "platform/ui/MDIChildWnd.h"
#include "res/Resource.h"
#include "shell/MainFrm.h"
#include "shell/WorkspaceSession.h"
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
            const int nAnswer = m_answers.empty() ? IDNO : m_answers.front();
            if (!m_answers.empty()) {
                m_answers.pop_front();
            }
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
    CRegprobeView* NewWindow() {
        m_pFrame->SendCommand(ID_FILE_NEW);
        CMDIChildWnd* pChild = m_pFrame->MDIGetActive();
        return pChild ? dynamic_cast<CRegprobeView*>(pChild->GetActiveView()) : nullptr;
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
    static void Choose(QComboBox* pCombo, const QString& text) {
        const int nIndex = pCombo->findText(text);
        ASSERT_GE(nIndex, 0) << text.toStdString();
        pCombo->setCurrentIndex(nIndex);
    }
    std::string Write(const std::string& strName, const std::string& strText) {
        const std::string strPath = m_dir.Path() + "/" + strName;
        std::ofstream(strPath) << strText;
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
    CRegprobeView* pPlain = NewWindow();
    ASSERT_NE(pPlain, nullptr);
    Choose(pPlain->m_comboConnection, QString::fromStdString(strSecond));
    pPlain->m_editDevice->setText("7");
    pPlain->m_comboReadFunction->setCurrentIndex(READ_OUTPUT_STATUS);
    pPlain->m_editReadAddress->setText("0");
    pPlain->m_editQuantity->setText("3");
    pPlain->m_comboWriteFunction->setCurrentIndex(1);
    pPlain->m_editWriteAddress->setText("2");
    pPlain->m_editWriteValue->setText("1");
    pPlain->m_editInterval->setText("250");
    m_pFrame->MDIGetActive()->setGeometry(10, 20, 400, 300);

    CRegprobeView* pPolled = NewWindow();
    Choose(pPolled->m_comboConnection, QString::fromStdString(strFirst));
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

    const std::string strPath = m_dir.Path() + "/day.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
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

TEST_F(Workspace, NoResumeOpensEveryWindowStill) {
    const CString strName = AddSim();
    NewWindow()->SetPolling(true);
    NewWindow()->SetPolling(true);
    const std::string strPath = m_dir.Path() + "/two.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
    m_app.CloseAllDocuments(FALSE);
    m_answers = {IDNO, IDNO};
    ASSERT_TRUE(Session().Open(strPath));
    EXPECT_EQ(m_questions.back(), "Resume polling in 2 windows?");
    ASSERT_EQ(Views().size(), 2U);
    for (CRegprobeView* pView : Views()) {
        EXPECT_FALSE(pView->IsPolling());
        EXPECT_EQ(pView->m_comboConnection->currentText().toStdString(), strName);
    }
}

TEST_F(Workspace, AWindowWithoutItsConnectionOpensWithItsSettingsNotPolling) {
    const CString strKept = AddSim();
    const CString strGone = AddSim();
    CRegprobeView* pGone = NewWindow();
    Choose(pGone->m_comboConnection, QString::fromStdString(strGone));
    pGone->m_editQuantity->setText("2");
    pGone->SetPolling(true);
    CRegprobeView* pKept = NewWindow();
    Choose(pKept->m_comboConnection, QString::fromStdString(strKept));
    pKept->SetPolling(true);
    const std::string strPath = m_dir.Path() + "/gone.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
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
    CRegprobeView* pView = NewWindow();
    Choose(pView->m_comboConnection, QString::fromStdString(strFast));
    pView->SetPolling(true);
    const std::string strPath = m_dir.Path() + "/slow.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
    // The slow record's time-out in the file: 20 s.
    std::string strText;
    {
        std::ifstream in(strPath);
        strText.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string strShort = "\"timeout_ms\": 1,";
    const size_t nAt = strText.find(strShort);
    ASSERT_NE(nAt, std::string::npos) << strText;
    strText.replace(nAt, strShort.size(), "\"timeout_ms\": 20000,");
    Write("slow.rpw", strText);
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

TEST_F(Workspace, ADamagedOrNewerFileOpensNothing) {
    AddSim();
    NewWindow();
    const std::string strBefore = Text();
    const struct {
        const char* pszText;
        const char* pszPlace;
    } cases[] = {
        {"{\"format\": \"regprobe-workspace\",\n \"version\": 1,,}", "line 2"},
        {"{\"format\": \"regprobe-workspace\", \"version\": 99}", "99"},
    };
    for (const auto& c : cases) {
        const std::string strPath = Write("bad.rpw", c.pszText);
        m_boxes.m_boxes.clear();
        EXPECT_FALSE(Session().Open(strPath));
        ASSERT_EQ(m_boxes.Texts().size(), 1U);
        EXPECT_NE(m_boxes.Texts()[0].find(c.pszPlace), std::string::npos) << m_boxes.Texts()[0];
        EXPECT_EQ(Text(), strBefore);
    }
}

TEST_F(Workspace, ChangesAreOfferedForSavingAndCancelKeepsEverything) {
    AddSim();
    CRegprobeView* pView = NewWindow();
    const std::string strPath = m_dir.Path() + "/changes.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
    const std::string strOther = m_dir.Path() + "/other.rpw";
    ASSERT_TRUE(Session().SaveAs(strOther));
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
}

TEST_F(Workspace, AFailedSaveSaysWhyAndKeepsTheWorkspaceItHad) {
    AddSim();
    NewWindow();
    const std::string strPath = m_dir.Path() + "/kept.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
    EXPECT_FALSE(Session().SaveAs(m_dir.Path() + "/no-such-dir/x.rpw"));
    ASSERT_EQ(m_boxes.Texts().size(), 1U);
    EXPECT_NE(m_boxes.Texts()[0].find("no-such-dir"), std::string::npos) << m_boxes.Texts()[0];
    EXPECT_EQ(Session().GetPath(), strPath);
}

TEST_F(Workspace, RecentListKeepsTheLastFourMostRecentFirst) {
    AddSim();
    for (const char* psz : {"a", "b", "c", "d", "e", "b"}) {
        ASSERT_TRUE(Session().SaveAs(m_dir.Path() + "/" + psz + ".rpw"));
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
    const std::string strPath = m_dir.Path() + "/eight.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
    auto count = [](const char* pszDir) {
        int n = 0;
        if (DIR* pDir = ::opendir(pszDir)) {
            while (::readdir(pDir) != nullptr) {
                ++n;
            }
            ::closedir(pDir);
        }
        return n;
    };
    int nFds = 0;
    int nThreads = 0;
    for (int i = 0; i < 20; ++i) {
        m_answers = {IDYES};
        ASSERT_TRUE(Session().Open(strPath));
        ASSERT_EQ(Views().size(), 8U);
        ASSERT_TRUE(WaitFor(
            [&] {
                for (CRegprobeView* pView : Views()) {
                    if (!pView->IsPolling()) {
                        return false;
                    }
                }
                return true;
            },
            5s));
        Pump(50ms);
        if (i == 1) {
            nFds = count("/proc/self/fd");
            nThreads = count("/proc/self/task");
        }
    }
    EXPECT_LE(count("/proc/self/fd"), nFds + 2);
    EXPECT_LE(count("/proc/self/task"), nThreads + 2);
}

TEST_F(Workspace, CommandLineOpensTheWorkspaceNamed) {
    AddSim();
    NewWindow();
    const std::string strPath = m_dir.Path() + "/start.rpw";
    ASSERT_TRUE(Session().SaveAs(strPath));
    m_app.CloseAllDocuments(FALSE);
    EXPECT_TRUE(Views().empty());
    Session().OpenFromCommandLine({"regprobe", "-Embedding", QString::fromStdString(strPath)});
    ASSERT_TRUE(WaitFor([&] { return Views().size() == 1; }, 5s));
    EXPECT_EQ(Session().GetPath(), strPath);
}
}  // namespace
