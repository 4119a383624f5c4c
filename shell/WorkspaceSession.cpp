#include "WorkspaceSession.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "MainFrm.h"
#include "connections/ConfigLoadJob.h"
#include "connections/Connections.h"
#include "connections/dialogs/ConfigLoadProgress.h"
#include "monitor/TrafficWnd.h"
#include "platform/ui/DocTemplate.h"
#include "platform/ui/MDIChildWnd.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WinApp.h"
#include "res/Resource.h"
#include "testview/ui/RegprobeDoc.h"
#include "testview/ui/RegprobeView.h"
#include "transport/RemoteModbus.h"

namespace {
const char kNormalGeometry[] = "regprobeNormalGeometry";
const char kRecentKey[] = "workspace/recent";
const char kStartWithLastKey[] = "workspace/startWithLast";
const char kFilter[] = "Regprobe workspaces (*.rpw);;All files (*)";

// The form's controls hold single-byte text, one byte a character.
CString Text(const QLineEdit* pEdit) {
    return pEdit->text().toLatin1().toStdString();
}
QString ToQt(const CString& str) {
    return QString::fromLatin1(str.data(), qsizetype(str.size()));
}

CWindowGeometry GeometryOf(const QRect& rcNormal, bool bMaximised, bool bMinimised) {
    CWindowGeometry geometry;
    if (rcNormal.isValid()) {
        geometry = {rcNormal.x(), rcNormal.y(), rcNormal.width(), rcNormal.height()};
    }
    geometry.state = bMinimised   ? EWindowState::MINIMISED
                     : bMaximised ? EWindowState::MAXIMISED
                                  : EWindowState::NORMAL;
    return geometry;
}

// A top-level window: the window manager keeps its normal rectangle.
CWindowGeometry TopLevelGeometry(const QWidget& window) {
    return GeometryOf(window.normalGeometry(), window.isMaximized(), window.isMinimized());
}

void RestoreTopLevel(QWidget& window, const CWindowGeometry& geometry) {
    if (geometry.nWidth > 0 && geometry.nHeight > 0) {
        window.setGeometry(geometry.x, geometry.y, geometry.nWidth, geometry.nHeight);
    }
    switch (geometry.state) {
        case EWindowState::MAXIMISED:
            window.showMaximized();
            break;
        case EWindowState::MINIMISED:
            window.showMinimized();
            break;
        case EWindowState::NORMAL:
            window.showNormal();
            break;
    }
}

// The combo's entry of that text, added when it has none.
void SelectText(QComboBox* pCombo, const QString& strText) {
    int nIndex = pCombo->findText(strText);
    if (nIndex < 0) {
        pCombo->addItem(strText);
        nIndex = pCombo->count() - 1;
    }
    pCombo->setCurrentIndex(nIndex);
}

void SelectIndex(QComboBox* pCombo, int nIndex) {
    if (nIndex >= 0 && nIndex < pCombo->count()) {
        pCombo->setCurrentIndex(nIndex);
    }
}

CRegprobeView* PollViewOf(QMdiSubWindow* pWindow) {
    auto* pChild = dynamic_cast<CMDIChildWnd*>(pWindow);
    return pChild != nullptr ? dynamic_cast<CRegprobeView*>(pChild->GetActiveView()) : nullptr;
}

// Keeps a test window's normal rectangle while it is maximised or
// minimised: the area itself forgets it.
class CNormalGeometryKeeper : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* pObject, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::Move || pEvent->type() == QEvent::Resize) {
            auto* pWindow = static_cast<QWidget*>(pObject);
            if (!pWindow->isMaximized() && !pWindow->isMinimized() && pWindow->isVisible()) {
                pWindow->setProperty(kNormalGeometry, pWindow->geometry());
            }
        }
        return false;
    }
};
}  // namespace

CWorkspaceSession::CWorkspaceSession(CMainFrame& frame) : QObject(&frame), m_frame(frame) {
    if (QMdiArea* pArea = m_frame.GetMDIClient()) {
        connect(pArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* pWindow) {
            if (pWindow != nullptr) {
                Track(pWindow);
            }
        });
    }
}

CWorkspaceSession::~CWorkspaceSession() = default;

QSettings* CWorkspaceSession::Settings() {
    static QSettings* pSettings = nullptr;
    if (pSettings == nullptr) {
        pSettings = new QSettings(QSettings::IniFormat, QSettings::UserScope, "Regprobe",
                                  "regprobe", QCoreApplication::instance());
    }
    return pSettings;
}

void CWorkspaceSession::Track(QMdiSubWindow* pWindow) {
    if (pWindow->property(kNormalGeometry).isValid()) {
        return;
    }
    pWindow->setProperty(kNormalGeometry, pWindow->geometry());
    static CNormalGeometryKeeper* pKeeper = nullptr;
    if (pKeeper == nullptr) {
        pKeeper = new CNormalGeometryKeeper(QCoreApplication::instance());
    }
    pWindow->installEventFilter(pKeeper);
}

CWorkspace CWorkspaceSession::Capture() const {
    CWorkspace workspace;
    workspace.mainWindow = TopLevelGeometry(m_frame);
    // By name: the collection's own order depends on its history, and the
    // same connections should make the same file.
    workspace.connections = WorkspaceConnectionsOf(theConnections);
    std::sort(workspace.connections.begin(), workspace.connections.end(),
              [](const CWorkspaceConnection& a, const CWorkspaceConnection& b) {
                  return a.strName < b.strName;
              });
    if (QMdiArea* pArea = m_frame.GetMDIClient()) {
        for (QMdiSubWindow* pWindow : pArea->subWindowList(QMdiArea::StackingOrder)) {
            CRegprobeView* pView = PollViewOf(pWindow);
            if (pView == nullptr || pView->m_comboConnection == nullptr) {
                continue;
            }
            CWorkspaceWindow window;
            window.strConnection = pView->m_comboConnection->currentText().toStdString();
            window.strDevice = Text(pView->m_editDevice);
            window.nReadFunction = pView->m_comboReadFunction->currentIndex();
            window.strAddress = Text(pView->m_editReadAddress);
            window.strQuantity = Text(pView->m_editQuantity);
            window.nDataType = pView->m_comboDataType->currentIndex();
            window.nWriteFunction = pView->m_comboWriteFunction->currentIndex();
            window.strWriteAddress = Text(pView->m_editWriteAddress);
            window.strWriteValue = Text(pView->m_editWriteValue);
            window.strInterval = Text(pView->m_editInterval);
            window.bPolling = pView->m_checkEnablePoll->isChecked();
            window.strLogFile = pView->GetLogPath();
            window.bLogging = !window.strLogFile.empty();
            window.bChart = pView->IsChartShown();
            const bool bAltered = pWindow->isMaximized() || pWindow->isMinimized();
            const QVariant normal = pWindow->property(kNormalGeometry);
            const QRect rcNormal =
                !bAltered ? pWindow->geometry() : (normal.isValid() ? normal.toRect() : QRect());
            window.geometry = GeometryOf(rcNormal, pWindow->isMaximized(), pWindow->isMinimized());
            workspace.windows.push_back(std::move(window));
        }
    }
    if (CTrafficWnd* pTraffic = m_frame.GetTrafficWnd()) {
        workspace.traffic.bOpen = pTraffic->isVisible();
        if (pTraffic->m_comboConnection->currentIndex() > 0) {
            workspace.traffic.strConnection =
                pTraffic->m_comboConnection->currentText().toStdString();
        }
        workspace.traffic.bPaused = pTraffic->m_checkPause->isChecked();
        workspace.traffic.geometry = TopLevelGeometry(*pTraffic);
    }
    return workspace;
}

bool CWorkspaceSession::IsModified() const {
    return !m_strPath.empty() && WorkspaceToText(Capture()) != m_strSavedText;
}

int CWorkspaceSession::Ask(const CString& strQuestion, UINT nType) const {
    return m_ask ? m_ask(strQuestion, nType) : AfxMessageBox(strQuestion, nType);
}

QString CWorkspaceSession::ChooseFile(bool bSave) const {
    if (m_chooseFile) {
        return m_chooseFile(bSave);
    }
    const QString strDir = m_strPath.empty() ? QString() : QString::fromStdString(m_strPath);
    if (!bSave) {
        return QFileDialog::getOpenFileName(&m_frame, "Open Workspace", strDir, kFilter);
    }
    QFileDialog dlg(&m_frame, "Save Workspace As", strDir, kFilter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix("rpw");
    return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
}

bool CWorkspaceSession::ConfirmDiscard() {
    if (!IsModified()) {
        return true;
    }
    const int nAnswer =
        Ask("Save changes to the workspace " + m_strPath + "?", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (nAnswer == IDCANCEL) {
        return false;
    }
    return nAnswer == IDNO || SaveAs(m_strPath);
}

bool CWorkspaceSession::SaveAs(const CString& strPath) {
    const CWorkspace workspace = Capture();
    CString strError;
    if (!SaveWorkspace(workspace, strPath, strError)) {
        AfxMessageBox(strError, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    m_strPath = strPath;
    m_strSavedText = WorkspaceToText(workspace);
    NoteRecent(strPath);
    return true;
}

void CWorkspaceSession::OnSave() {
    if (m_strPath.empty()) {
        OnSaveAs();
        return;
    }
    SaveAs(m_strPath);
}

void CWorkspaceSession::OnSaveAs() {
    const QString strPath = ChooseFile(true);
    if (!strPath.isEmpty()) {
        SaveAs(strPath.toStdString());
    }
}

void CWorkspaceSession::OnOpen() {
    const QString strPath = ChooseFile(false);
    if (!strPath.isEmpty()) {
        Open(strPath.toStdString());
    }
}

void CWorkspaceSession::OpenFromCommandLine(const QStringList& args) {
    QString strPath;
    for (qsizetype i = 1; i < args.size() && strPath.isEmpty(); ++i) {
        if (args[i].endsWith(WORKSPACE_EXTENSION, Qt::CaseInsensitive)) {
            strPath = args[i];
        }
    }
    if (strPath.isEmpty() && GetStartWithLast()) {
        strPath = GetRecent().value(0);
    }
    if (!strPath.isEmpty()) {
        // Opening asks and shows progress: not before the window is up.
        QTimer::singleShot(0, this, [this, strPath] { Open(strPath.toStdString()); });
    }
}

void CWorkspaceSession::OnRecent(UINT nIndex) {
    const QStringList recent = GetRecent();
    if (nIndex < UINT(recent.size())) {
        Open(recent[int(nIndex)].toStdString());
    }
}

QStringList CWorkspaceSession::GetRecent() const {
    return Settings()->value(kRecentKey).toStringList().mid(0, int(RECENT_WORKSPACE_COUNT));
}

void CWorkspaceSession::NoteRecent(const CString& strPath) {
    const QString strAbsolute = QFileInfo(QString::fromStdString(strPath)).absoluteFilePath();
    QStringList recent = GetRecent();
    recent.removeAll(strAbsolute);
    recent.prepend(strAbsolute);
    Settings()->setValue(kRecentKey, recent.mid(0, int(RECENT_WORKSPACE_COUNT)));
    Settings()->sync();
}

bool CWorkspaceSession::GetStartWithLast() const {
    return Settings()->value(kStartWithLastKey, false).toBool();
}

void CWorkspaceSession::SetStartWithLast(bool bOn) {
    Settings()->setValue(kStartWithLastKey, bOn);
    Settings()->sync();
}

void CWorkspaceSession::OnPreferences() {
    QDialog dlg(&m_frame);
    dlg.setWindowTitle("Preferences");
    auto* pLayout = new QVBoxLayout(&dlg);
    auto* pStartWithLast = new QCheckBox("&Start with the last workspace", &dlg);
    pStartWithLast->setChecked(GetStartWithLast());
    pLayout->addWidget(pStartWithLast);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    connect(pButtons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    pLayout->addWidget(pButtons);
    if (dlg.exec() == QDialog::Accepted) {
        SetStartWithLast(pStartWithLast->isChecked());
    }
}

bool CWorkspaceSession::CloseWindows() {
    if (CWinApp* pApp = AfxGetApp()) {
        pApp->CloseAllDocuments(FALSE);
    }
    QMdiArea* pArea = m_frame.GetMDIClient();
    return pArea == nullptr || pArea->subWindowList().isEmpty();
}

bool CWorkspaceSession::LoadConnections(const CWorkspace& workspace, const CString& strPath,
                                        CString& strError) {
    auto pLoad = std::make_shared<CConfigLoadJob>(theConnections,
                                                  ConfigImageOf(workspace.connections), strPath);
    const bool bWhole =
        RunConfigLoad(pLoad, &m_frame, "Open Workspace", "Connecting" + QString(QChar(0x2026)),
                      [this](QProgressDialog& progress, const CConfigLoadJob::Progress& now) {
                          if (m_onLoading) {
                              m_onLoading(progress, now.nRecord, now.nCount);
                          }
                      });
    pLoad->Finish(theConnections, &strError);
    return bWhole;
}

bool CWorkspaceSession::Open(const CString& strPath) {
    if (m_frame.IsToolRunning()) {
        // Its run holds a master that opening would replace.
        AfxMessageBox("Cancel the Tools window's run before opening a workspace", MB_OK);
        return false;
    }
    CWorkspace workspace;
    CString strError;
    if (!LoadWorkspace(strPath, workspace, strError)) {
        AfxMessageBox(strError, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (!ConfirmDiscard()) {
        return false;
    }
    if (!CloseWindows()) {
        AfxMessageBox("A test window is still closing; open the workspace again once it has gone.",
                      MB_OK);
        return false;
    }
    int nPolling = 0;
    for (const CWorkspaceWindow& window : workspace.windows) {
        nPolling += window.bPolling ? 1 : 0;
    }
    bool bResume = false;
    if (nPolling > 0) {
        const CString strQuestion = "Resume polling in " + std::to_string(nPolling) +
                                    (nPolling == 1 ? " window?" : " windows?");
        bResume = Ask(strQuestion, MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    CString strLoadError;
    // Given up: every window opens, none polls.
    bResume = LoadConnections(workspace, strPath, strLoadError) && bResume;
    m_strPath = strPath;
    NoteRecent(strPath);
    RestoreTopLevel(m_frame, workspace.mainWindow);
    if (!workspace.windows.empty() && theConnections.IsEmpty()) {
        AfxMessageBox("None of the workspace's connections could be loaded" +
                          (strLoadError.empty() ? CString() : ": " + strLoadError) +
                          ". Its test windows need one to open.",
                      MB_OK | MB_ICONEXCLAMATION);
    } else {
        for (const CWorkspaceWindow& window : workspace.windows) {
            OpenWindow(window, bResume);
        }
        if (!strLoadError.empty()) {
            AfxMessageBox("Not every connection of the workspace was loaded: " + strLoadError,
                          MB_OK | MB_ICONEXCLAMATION);
        }
    }
    RestoreTraffic(workspace.traffic);
    // What was opened, as this program would save it: unchanged until the
    // user changes something.
    m_strSavedText = WorkspaceToText(Capture());
    return true;
}

namespace {
// A window's normal rectangle, then its state.
void RestoreGeometry(CMDIChildWnd* pChild, const CWindowGeometry& geometry) {
    if (geometry.nWidth > 0 && geometry.nHeight > 0) {
        pChild->setGeometry(geometry.x, geometry.y, geometry.nWidth, geometry.nHeight);
        pChild->setProperty(kNormalGeometry, pChild->geometry());
    }
    if (geometry.state == EWindowState::MAXIMISED) {
        pChild->showMaximized();
    } else if (geometry.state == EWindowState::MINIMISED) {
        pChild->showMinimized();
    }
}

// Why a window of this connection cannot poll; empty when it can.
CString NotPollingNote(const CString& strConnection) {
    CConnection* pConnection = nullptr;
    if (!theConnections.Lookup(strConnection, pConnection)) {
        return "Not polling: the connection " + strConnection +
               " is not among the workspace's loaded connections";
    }
    CRemoteModbus* pRemote = pConnection->GetRemoteModbus();
    if (pRemote != nullptr && !pRemote->GetReconnect() && !pRemote->IsConnected()) {
        const CString strCause = pRemote->GetLastCause();
        return "Not polling: the connection " + strConnection + " could not connect" +
               (strCause.empty() ? CString() : ": " + strCause);
    }
    return CString();
}
}  // namespace

void CWorkspaceSession::OpenWindow(const CWorkspaceWindow& window, bool bResume) {
    CWinApp* pApp = AfxGetApp();
    if (pApp == nullptr || pApp->GetDocTemplates().empty()) {
        return;
    }
    CDocument* pDoc = pApp->GetDocTemplates().front()->OpenDocumentFile(nullptr);
    if (pDoc == nullptr || pDoc->GetViews().empty()) {
        return;
    }
    auto* pView = dynamic_cast<CRegprobeView*>(pDoc->GetViews().front());
    CMDIChildWnd* pChild = pView != nullptr ? pView->GetParentFrame() : nullptr;
    if (pChild == nullptr || pView->m_comboConnection == nullptr) {
        return;
    }
    Track(pChild);
    if (!window.strConnection.empty()) {
        SelectText(pView->m_comboConnection, QString::fromStdString(window.strConnection));
    }
    pView->m_editDevice->setText(ToQt(window.strDevice));
    SelectIndex(pView->m_comboReadFunction, window.nReadFunction);
    pView->m_editReadAddress->setText(ToQt(window.strAddress));
    pView->m_editQuantity->setText(ToQt(window.strQuantity));
    SelectIndex(pView->m_comboDataType, window.nDataType);
    SelectIndex(pView->m_comboWriteFunction, window.nWriteFunction);
    pView->m_editWriteAddress->setText(ToQt(window.strWriteAddress));
    pView->m_editWriteValue->setText(ToQt(window.strWriteValue));
    pView->m_editInterval->setText(ToQt(window.strInterval));
    pView->ApplyForm();

    RestoreGeometry(pChild, window.geometry);
    CString strNote = NotPollingNote(window.strConnection);
    if (window.bLogging && !window.strLogFile.empty()) {
        CString strError;
        if (!pView->StartLogging(window.strLogFile, strError)) {
            strNote += (strNote.empty() ? "" : "; ") + strError;
        }
    }
    if (window.bChart) {
        pView->ShowChart(true);
    }
    if (!strNote.empty()) {
        pView->ShowNote(strNote);
    } else if (window.bPolling && bResume) {
        pView->SetPolling(true);
    }
}

void CWorkspaceSession::RestoreTraffic(const CWorkspaceTraffic& traffic) {
    CTrafficWnd* pTraffic = m_frame.GetTrafficWnd();
    if (!traffic.bOpen) {
        if (pTraffic != nullptr) {
            pTraffic->hide();
        }
        return;
    }
    m_frame.SendCommand(ID_VIEW_TRAFFIC);
    pTraffic = m_frame.GetTrafficWnd();
    if (pTraffic == nullptr) {
        return;
    }
    if (traffic.strConnection.empty()) {
        pTraffic->m_comboConnection->setCurrentIndex(0);
    } else {
        SelectText(pTraffic->m_comboConnection, QString::fromStdString(traffic.strConnection));
    }
    pTraffic->m_checkPause->setChecked(traffic.bPaused);
    RestoreTopLevel(*pTraffic, traffic.geometry);
}
