#include "RegprobeView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include <sys/eventfd.h>
#include <unistd.h>

#include "connections/Connections.h"
#include "platform/com/ComApi.h"
#include "platform/ui/CmdUI.h"
#include "platform/ui/MDIChildWnd.h"
#include "platform/ui/MDIFrameWnd.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WaitCursor.h"
#include "res/Resource.h"
#include "testview/RowFormat.h"
#include "testview/ui/TrendChart.h"

IMPLEMENT_DYNAMIC(CRegprobeView, CFormView)

namespace {
constexpr long MAX_INTERVAL = 10000;
// Nobody reads a list faster; the rest of a frame's time goes to reading.
constexpr int MIN_APPLY_SPACING_MS = 16;
// Cycles waiting for the chart while the window's thread is held up: the
// oldest go first beyond this.
constexpr size_t MAX_PENDING_SAMPLES = 8192;

// The controls hold single-byte text, as the device's characters are shown:
// one byte, one character.
CString Text(const QLineEdit* pEdit) {
    return pEdit->text().toLatin1().toStdString();
}

QString ToQt(const CString& str) {
    return QString::fromLatin1(str.data(), qsizetype(str.size()));
}

// "Max. Interval is 10000 ms" for a negative or too long interval.
bool IntervalInRange(long nInterval) {
    return nInterval >= 0 && nInterval <= MAX_INTERVAL;
}
}  // namespace

CRegprobeView::CRegprobeView() : CFormView(IDD_REGPROBE_FORM) {
    MapNotify(IDC_CHECK_ENABLE_POLL, BN_CLICKED, [this] { OnEnablePoll(); });
    MapNotify(IDC_EDIT_INTERVAL, EN_CHANGE, [this] { OnChangeInterval(); });
    MapNotify(IDC_BUTTON_WRITE, BN_CLICKED, [this] { OnWrite(); });
    MapNotify(IDC_CHECK_LOG_TO_FILE, BN_CLICKED, [this] { OnLogToFile(); });
    m_chooseLogFile = [this] {
        return CString(QFileDialog::getSaveFileName(this, "Log to File", QString(),
                                                    "CSV files (*.csv);;All files (*)", nullptr,
                                                    QFileDialog::DontConfirmOverwrite)
                           .toStdString());
    };
    // Every control the read uses hands the worker a fresh copy.
    for (int nID : {IDC_COMBO_READ_FUNCTION, IDC_COMBO_CONNECTION, IDC_COMBO_DATA_TYPE}) {
        MapNotify(nID, CBN_SELCHANGE, [this] { RefreshReadSettings(); });
    }
    for (int nID : {IDC_EDIT_DEVICE, IDC_EDIT_READ_ADDRESS, IDC_EDIT_QUANTITY}) {
        MapNotify(nID, EN_CHANGE, [this] { RefreshReadSettings(); });
    }
    m_hWake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (m_hWake) {
        m_pWakeNotifier = new QSocketNotifier(m_hWake.Get(), QSocketNotifier::Read, this);
        connect(m_pWakeNotifier, &QSocketNotifier::activated, this, [this] { OnWake(); });
    }
    m_pApplyTimer = new QTimer(this);
    m_pApplyTimer->setSingleShot(true);
    connect(m_pApplyTimer, &QTimer::timeout, this, [this] { ApplyLatestCycle(); });
    m_sinceApply.start();
    MapCommand(ID_VIEW_TREND_CHART, [this] { ShowChart(!IsChartShown()); });
    MapUpdateCommandUI(ID_VIEW_TREND_CHART,
                       [this](CCmdUI* pCmdUI) { pCmdUI->SetCheck(IsChartShown() ? 1 : 0); });
}

CRegprobeView::~CRegprobeView() {
    StopThread();
    WaitThread();
    delete m_pWakeNotifier;
    m_hWake.Reset();
}

void CRegprobeView::DoDataExchange(CDataExchange* pDX) {
    CFormView::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_COMBO_DATA_TYPE, m_comboDataType);
    DDX_Control(pDX, IDC_EDIT_INTERVAL, m_editInterval);
    DDX_Control(pDX, IDC_CHECK_ENABLE_POLL, m_checkEnablePoll);
    DDX_Control(pDX, IDC_STATIC_STATISTICS, m_staticStatistics);
    DDX_Control(pDX, IDC_STATIC_RESULT, m_staticResult);
    DDX_Control(pDX, IDC_STATIC_RESPONSE_TIMES, m_staticResponseTimes);
    DDX_Control(pDX, IDC_CHECK_LOG_TO_FILE, m_checkLogToFile);
    DDX_Control(pDX, IDC_LIST_VALUES, m_listValues);
    DDX_Control(pDX, IDC_COMBO_WRITE_FUNCTION, m_comboWriteFunction);
    DDX_Control(pDX, IDC_COMBO_READ_FUNCTION, m_comboReadFunction);
    DDX_Control(pDX, IDC_COMBO_CONNECTION, m_comboConnection);
    DDX_Control(pDX, IDC_EDIT_WRITE_VALUE, m_editWriteValue);
    DDX_Control(pDX, IDC_EDIT_QUANTITY, m_editQuantity);
    DDX_Control(pDX, IDC_EDIT_DEVICE, m_editDevice);
    DDX_Control(pDX, IDC_EDIT_WRITE_ADDRESS, m_editWriteAddress);
    DDX_Control(pDX, IDC_EDIT_READ_ADDRESS, m_editReadAddress);
    DDX_Control(pDX, IDC_BUTTON_WRITE, m_btnWrite);
}

void CRegprobeView::OnInitialUpdate() {
    CFormView::OnInitialUpdate();
    InitFormControls();
}

void CRegprobeView::InitFormControls() {
    if (m_comboReadFunction == nullptr || m_comboDataType == nullptr) {
        return;  // no template
    }
    for (const char* psz : g_szReadFunctions) {
        m_comboReadFunction->addItem(psz);
    }
    m_comboReadFunction->setCurrentIndex(READ_OUTPUT_REGISTERS);
    for (const char* psz : g_szWriteFunctions) {
        m_comboWriteFunction->addItem(psz);
    }
    m_comboWriteFunction->setCurrentIndex(WRITE_PRESET_SINGLE_REGISTER);
    m_comboConnection->clear();
    theConnections.ForEach([this](const CString& strName, CConnection*) {
        m_comboConnection->addItem(QString::fromStdString(strName));
    });
    m_comboConnection->setCurrentIndex(0);
    m_editDevice->setText("1");
    m_editWriteValue->setText("0");
    m_editWriteAddress->setText("0");
    m_editReadAddress->setText("0");
    m_editQuantity->setText("10");
    m_editInterval->setText("1000");
    for (const char* psz : g_szDataTypes) {
        m_comboDataType->addItem(psz);
    }
    m_comboDataType->setCurrentIndex(TYPE_SIGNED_16);
    RefreshReadSettings();
    // The chart from the values themselves too, leaving the form as it is.
    m_listValues->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listValues, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) {
                QMenu menu(this);
                QAction* pChart = menu.addAction("Trend Chart");
                pChart->setCheckable(true);
                pChart->setChecked(IsChartShown());
                if (menu.exec(m_listValues->viewport()->mapToGlobal(pos)) == pChart) {
                    ShowChart(!IsChartShown());
                }
            });
}

CModbus* CRegprobeView::GetSelectedModbus() const {
    if (m_comboConnection == nullptr || m_comboConnection->currentIndex() < 0) {
        return nullptr;
    }
    CConnection* pConnection = nullptr;
    if (!theConnections.Lookup(m_comboConnection->currentText().toStdString(), pConnection)) {
        return nullptr;
    }
    return pConnection->m_pModbus;
}

void CRegprobeView::RefreshReadSettings() {
    if (m_comboReadFunction == nullptr) {
        return;
    }
    CReadSettings settings;
    settings.pModbus = GetSelectedModbus();
    settings.nReadFunction = m_comboReadFunction->currentIndex();
    settings.nDataType = m_comboDataType->currentIndex();
    settings.strDevice = Text(m_editDevice);
    settings.strAddress = Text(m_editReadAddress);
    settings.strQuantity = Text(m_editQuantity);
    settings.strConnection = m_comboConnection->currentText().toStdString();
    std::lock_guard<std::mutex> lock(m_settingsLock);
    m_settings = std::move(settings);
}

// --- the worker ------------------------------------------------------------

void CRegprobeView::StartWork() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_statistics.Reset();
    m_responseTimes.Reset();
    m_pollRate.Reset();
}

void CRegprobeView::EndWork() {
    CoUninitialize();
}

WORD CRegprobeView::ReadAndDisplay(int nReadFunction, DWORD& dwElapsed, CString& strStatus) {
    // The cycle's copy of the form, taken once by DoWork.
    m_lastSettings.nReadFunction = nReadFunction;
    m_lastRead = ReadOnce(m_lastSettings);
    if (m_lastRead.bRead) {
        dwElapsed = m_lastRead.dwElapsed;
        strStatus = m_lastRead.strStatus;
    }
    return m_lastRead.wStatus;
}

void CRegprobeView::DoWork() {
    {
        std::lock_guard<std::mutex> lock(m_settingsLock);
        m_lastSettings = m_settings;
    }
    const int nReadFunction = m_lastSettings.nReadFunction;
    if (nReadFunction < 0 || nReadFunction >= READ_FUNCTION_COUNT) {
        return;
    }
    DWORD dwElapsed = 0;
    CString strStatus;
    ReadAndDisplay(nReadFunction, dwElapsed, strStatus);
    if (m_lastRead.bRead && m_log.IsOpen()) {
        const CReadSettings& settings = m_lastSettings;
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        m_log.Append(FormatLogLine(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count(),
            settings.strConnection, settings.strDevice, g_szReadFunctions[nReadFunction],
            m_lastRead.strStatus, m_lastRead.qwMicros, m_lastRead.list.rows));
    }
    CString strStatistics = m_statistics.AddCycle(m_lastRead);
    m_responseTimes.Add(m_lastRead);
    m_pollRate.Add(CPollRate::Clock::now());
    CString strResponseTimes = m_responseTimes.Line() + m_pollRate.Text();
    CTrendSample sample;
    const bool bSample = m_bCharting && m_lastRead.bRead;
    if (bSample) {
        const CReadSettings& settings = m_lastSettings;
        sample.nMillis = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        sample.key = {settings.strConnection,
                      settings.strDevice,
                      nReadFunction,
                      settings.nDataType,
                      ParseNumber(settings.strAddress),
                      ParseNumber(settings.strQuantity)};
        sample.bFailed = m_lastRead.Failed();
        sample.strStatus = m_lastRead.strStatus;
        sample.qwMicros = m_lastRead.qwMicros;
        if (!sample.bFailed) {
            sample.values = std::move(m_lastRead.values);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mailLock);
        m_mail.bNew = true;
        // A read that found no connection or raised leaves the list alone.
        if (m_lastRead.bRead && !m_lastRead.bException) {
            MergeListUpdate(m_mail.list, std::move(m_lastRead.list));
        }
        m_mail.strResult = std::move(strStatus);
        m_mail.strStatistics = std::move(strStatistics);
        m_mail.strResponseTimes = std::move(strResponseTimes);
        if (bSample) {
            if (m_mail.samples.size() >= MAX_PENDING_SAMPLES) {
                m_mail.samples.erase(m_mail.samples.begin(),
                                     m_mail.samples.begin() + MAX_PENDING_SAMPLES / 2);
            }
            m_mail.samples.push_back(std::move(sample));
        }
    }
    if (!m_bPostPending.exchange(true)) {
        const uint64_t nOne = 1;
        (void)!::write(m_hWake.Get(), &nOne, sizeof nOne);
    }
}

void CRegprobeView::ThreadEnded() {
    // The view outlives its worker (it waits for it) and its descriptor.
    m_bEndPending = true;
    const uint64_t nOne = 1;
    (void)!::write(m_hWake.Get(), &nOne, sizeof nOne);
}

// --- the window's side -----------------------------------------------------

void CRegprobeView::OnWake() {
    uint64_t nCount = 0;
    (void)!::read(m_hWake.Get(), &nCount, sizeof nCount);
    if (m_bEndPending.exchange(false)) {
        OnWorkerEnded();
    } else {
        OnCycleReady();
    }
}

void CRegprobeView::OnCycleReady() {
    const qint64 nSince = m_sinceApply.elapsed();
    if (nSince < MIN_APPLY_SPACING_MS) {
        if (!m_pApplyTimer->isActive()) {
            m_pApplyTimer->start(int(MIN_APPLY_SPACING_MS - nSince));
        }
        return;
    }
    ApplyLatestCycle();
}

void CRegprobeView::ApplyLatestCycle() {
    m_pApplyTimer->stop();
    m_bPostPending = false;
    CCycle cycle;
    {
        std::lock_guard<std::mutex> lock(m_mailLock);
        if (!m_mail.bNew) {
            return;
        }
        cycle = std::move(m_mail);
        m_mail = CCycle();
    }
    m_sinceApply.restart();
    for (const CTrendSample& sample : cycle.samples) {
        m_trend.Add(sample);
    }
    if (m_pChart != nullptr && !cycle.samples.empty()) {
        m_pChart->DataChanged();
    }
    if (m_listValues != nullptr && cycle.list.nMinQuantity >= 0) {
        CRowList rows;
        const int nOld = m_listValues->count();
        rows.rows.reserve(size_t(nOld));
        for (int i = 0; i < nOld; ++i) {
            rows.rows.push_back(m_listValues->item(i)->text().toLatin1().toStdString());
        }
        const QList<QListWidgetItem*> selected = m_listValues->selectedItems();
        rows.nSel = selected.isEmpty() ? -1 : m_listValues->row(selected.front());
        ApplyListUpdate(rows, cycle.list);
        // Redrawing off for the whole update, then one repaint.
        m_listValues->setUpdatesEnabled(false);
        const int nNew = int(rows.rows.size());
        for (int i = 0; i < std::min(nOld, nNew); ++i) {
            const QString text = ToQt(rows.rows[size_t(i)]);
            if (m_listValues->item(i)->text() != text) {
                m_listValues->item(i)->setText(text);
            }
        }
        for (int i = nOld - 1; i >= nNew; --i) {
            delete m_listValues->takeItem(i);
        }
        for (int i = nOld; i < nNew; ++i) {
            m_listValues->addItem(ToQt(rows.rows[size_t(i)]));
        }
        if (rows.nSel >= 0) {
            m_listValues->setCurrentRow(rows.nSel);
        } else {
            m_listValues->clearSelection();
        }
        m_listValues->setUpdatesEnabled(true);
    }
    if (m_staticResult != nullptr) {
        m_staticResult->setText(ToQt(cycle.strResult));
    }
    if (m_staticStatistics != nullptr) {
        m_staticStatistics->setText(ToQt(cycle.strStatistics));
    }
    if (m_staticResponseTimes != nullptr) {
        m_staticResponseTimes->setText(ToQt(cycle.strResponseTimes));
    }
    CheckLog();
}

void CRegprobeView::OnWorkerEnded() {
    if (m_bRunning) {
        return;  // a new worker started meanwhile
    }
    WaitThread();
    ApplyLatestCycle();  // the last cycle before polling stopped is always shown
    if (m_bRestartWanted && m_checkEnablePoll != nullptr && m_checkEnablePoll->isChecked()) {
        m_bRestartWanted = false;
        const long nInterval = ParseNumber(Text(m_editInterval));
        StartPolling(IntervalInRange(nInterval) ? DWORD(nInterval) : DWORD(MAX_INTERVAL));
    }
    emit WorkerEnded();
}

void CRegprobeView::ShowChart(bool bShow) {
    if (!bShow) {
        if (m_pChart != nullptr) {
            m_pChart->hide();
        }
        return;
    }
    m_bCharting = true;
    if (m_pChart == nullptr) {
        m_pChart = new CTrendChart(m_trend, this);
    }
    CMDIChildWnd* pChild = GetParentFrame();
    m_pChart->setWindowTitle("Trend Chart - " +
                             (pChild != nullptr ? pChild->windowTitle() : QString("Regprobe")));
    m_pChart->show();
    m_pChart->raise();
    m_pChart->activateWindow();
}

bool CRegprobeView::IsChartShown() const {
    return m_pChart != nullptr && m_pChart->isVisible();
}

void CRegprobeView::RequestStop() {
    m_bRestartWanted = false;
    StopThread();
}

void CRegprobeView::OnDestroy() {
    RequestStop();
    WaitThread();
    m_log.Close();
    m_pApplyTimer->stop();
    emit WorkerEnded();
    CFormView::OnDestroy();
}

void CRegprobeView::StartPolling(DWORD dwInterval) {
    RefreshReadSettings();
    if (!m_hWake || !StartThread(0, 0, nullptr, dwInterval)) {
        m_checkEnablePoll->setChecked(false);
        AfxMessageBox(
            "Polling could not be started: the system has no thread or descriptor to spare", MB_OK);
        return;
    }
    m_checkEnablePoll->setChecked(true);
}

void CRegprobeView::OnEnablePoll() {
    const long nInterval = ParseNumber(Text(m_editInterval));
    if (!IntervalInRange(nInterval)) {
        RefuseInterval();
        return;
    }
    if (m_checkEnablePoll->isChecked()) {
        if (!m_bRunning) {
            StartPolling(DWORD(nInterval));
        } else if (m_bStop) {
            // The stopped worker has not ended yet: a new one follows it.
            m_bRestartWanted = true;
        }
    } else {
        RequestStop();
    }
}

void CRegprobeView::SetPolling(bool bOn) {
    if (m_checkEnablePoll == nullptr || m_checkEnablePoll->isChecked() == bOn) {
        return;
    }
    m_checkEnablePoll->setChecked(bOn);
    OnEnablePoll();
}

void CRegprobeView::OnChangeInterval() {
    const long nInterval = ParseNumber(Text(m_editInterval));
    if (IntervalInRange(nInterval)) {
        m_dwInterval = DWORD(nInterval);
        return;
    }
    RefuseInterval();
}

void CRegprobeView::RefuseInterval() {
    AfxMessageBox("Max. Interval is 10000 ms", MB_OK);
    char sz[16];
    std::snprintf(sz, sizeof sz, "%d", int(MAX_INTERVAL));
    // Runs OnChangeInterval again, which takes 10000 over.
    m_editInterval->setText(sz);
}

void CRegprobeView::OnWrite() {
    CWriteSettings settings;
    settings.pModbus = GetSelectedModbus();
    CWaitCursor wait;
    if (settings.pModbus == nullptr) {
        return;
    }
    settings.strValue = Text(m_editWriteValue);
    settings.strDevice = Text(m_editDevice);
    settings.strAddress = Text(m_editWriteAddress);
    settings.nWriteFunction = m_comboWriteFunction->currentIndex();
    settings.nDataType = m_comboDataType->currentIndex();
    const CWriteResult result = WriteOnce(settings);
    CMDIChildWnd* pChild = GetParentFrame();
    CMDIFrameWnd* pFrame = pChild != nullptr ? pChild->GetMDIFrame() : nullptr;
    if (!result.strError.empty()) {
        // No earlier write's success stays in view above the failure.
        if (pFrame != nullptr) {
            pFrame->SetMessageText(AFX_IDS_IDLEMESSAGE);
        }
        wait.Restore();
        AfxMessageBox(result.strError, MB_OK);
    } else if (result.bWritten && pFrame != nullptr) {
        pFrame->SetMessageText(WriteDoneText(settings, result));
    }
}

void CRegprobeView::OnLogToFile() {
    if (!m_checkLogToFile->isChecked()) {
        m_log.Close();
        return;
    }
    const CString strPath = m_chooseLogFile ? m_chooseLogFile() : CString();
    CString strError;
    if (strPath.empty() || !StartLogging(strPath, strError)) {
        m_checkLogToFile->setChecked(false);
        if (!strError.empty()) {
            AfxMessageBox(strError, MB_OK);
        }
    }
}

bool CRegprobeView::StartLogging(const CString& strPath, CString& strError) {
    if (m_checkLogToFile == nullptr) {
        return false;
    }
    m_log.Close();
    if (!m_log.Open(strPath, strError)) {
        m_checkLogToFile->setChecked(false);
        return false;
    }
    m_strLogPath = strPath;
    m_checkLogToFile->setChecked(true);
    return true;
}

void CRegprobeView::ShowNote(const CString& strNote) {
    if (m_staticResult != nullptr) {
        m_staticResult->setText(ToQt(strNote));
    }
}

void CRegprobeView::CheckLog() {
    const CString strError = m_log.TakeError();
    if (strError.empty()) {
        return;
    }
    m_log.Close();
    if (m_checkLogToFile != nullptr) {
        m_checkLogToFile->setChecked(false);
    }
    AfxMessageBox(strError, MB_OK);
}
