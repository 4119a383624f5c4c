// The device test view: the form of dialog template 101 with its poll
// worker. The worker never waits for the window: it reads the settings the
// window last handed it, and hands back its cycle (rows, status, statistics)
// to a mailbox that the window drains at most about 60 times a second.
#pragma once

#include <QElapsedTimer>
#include <functional>
#include <mutex>

#include "platform/UniqueFd.h"
#include "platform/ui/FormView.h"
#include "testview/PollRate.h"
#include "testview/PollStatistics.h"
#include "testview/ReadWrite.h"
#include "testview/ResponseTimes.h"
#include "testview/ThinThread.h"
#include "testview/TrendHistory.h"
#include "testview/ValueLog.h"

class CModbus;
class CTrendChart;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSocketNotifier;
class QTimer;

class CRegprobeView : public CFormView, public CThinThread {
    Q_OBJECT
    DECLARE_DYNAMIC(CRegprobeView)

public:
    CRegprobeView();
    // Stops and waits for a worker that still runs.
    ~CRegprobeView() override;

    void OnInitialUpdate() override;
    // The frame goes: the worker is stopped and waited for first.
    void OnDestroy() override;

    // The master of the selected connection, or null.
    CModbus* GetSelectedModbus() const;
    // One read with the settings of the form; on the worker.
    WORD ReadAndDisplay(int nReadFunction, DWORD& dwElapsed, CString& strStatus);

    // Asks the worker to end after the read in progress; the window's box
    // keeps its state.
    void RequestStop();
    BOOL IsPolling() const { return m_bRunning; }
    // Ticks or unticks the poll box as a click does, with the form's interval.
    void SetPolling(bool bOn);
    // Hands the worker the form as it now stands, after the form was set
    // from elsewhere than its own controls' edits.
    void ApplyForm() { RefreshReadSettings(); }
    // Starts logging to strPath as the log box does once a file is chosen;
    // false with the reason, the box unticked.
    bool StartLogging(const CString& strPath, CString& strError);
    // The log's file while logging; empty otherwise.
    CString GetLogPath() const { return m_log.IsOpen() ? m_strLogPath : CString(); }
    // A line in the window's status text, until the next read replaces it.
    void ShowNote(const CString& strNote);

    // The trend chart's window, opened or closed. From its first opening
    // every cycle goes into the chart's history, kept while the window lives.
    void ShowChart(bool bShow);
    bool IsChartShown() const;
    CTrendChart* GetChart() const { return m_pChart; }
    const CTrendHistory& GetTrendHistory() const { return m_trend; }

signals:
    // The worker has ended and its last cycle is on the screen.
    void WorkerEnded();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void InitFormControls();

    void StartWork() override;
    void DoWork() override;
    void EndWork() override;
    void ThreadEnded() override;

    void OnEnablePoll();
    void OnChangeInterval();
    void OnWrite();
    void OnLogToFile();

public:
    QComboBox* m_comboDataType = nullptr;
    QLineEdit* m_editInterval = nullptr;
    QCheckBox* m_checkEnablePoll = nullptr;
    QLabel* m_staticStatistics = nullptr;
    QLabel* m_staticResult = nullptr;
    QLabel* m_staticResponseTimes = nullptr;
    QCheckBox* m_checkLogToFile = nullptr;
    QListWidget* m_listValues = nullptr;
    QComboBox* m_comboWriteFunction = nullptr;
    QComboBox* m_comboReadFunction = nullptr;
    QComboBox* m_comboConnection = nullptr;
    QLineEdit* m_editWriteValue = nullptr;
    QLineEdit* m_editQuantity = nullptr;
    QLineEdit* m_editDevice = nullptr;
    QLineEdit* m_editWriteAddress = nullptr;
    QLineEdit* m_editReadAddress = nullptr;
    QPushButton* m_btnWrite = nullptr;
    // Poll statistics: the worker's alone.
    CPollStatistics m_statistics;
    CResponseTimes m_responseTimes;
    CPollRate m_pollRate;
    // Asks the user for the log's file; empty when cancelled.
    std::function<CString()> m_chooseLogFile;
    CValueLog m_log;
    CString m_strLogPath;  // the file m_log was last opened on

private:
    struct CCycle {
        bool bNew = false;
        CListUpdate list;
        CString strResult;
        CString strStatistics;
        CString strResponseTimes;
        // Every cycle since the last one shown, for the chart.
        std::vector<CTrendSample> samples;
    };

    // On the window's thread.
    void OnWake();
    // "Max. Interval is 10000 ms", and the edit set to the maximum.
    void RefuseInterval();
    void RefreshReadSettings();
    void OnCycleReady();
    void ApplyLatestCycle();
    void OnWorkerEnded();
    void StartPolling(DWORD dwInterval);
    // A failed log write ends logging with its message.
    void CheckLog();

    std::mutex m_settingsLock;
    CReadSettings m_settings;      // the form as the worker reads it
    CReadResult m_lastRead;        // the worker's, between ReadAndDisplay and DoWork
    CReadSettings m_lastSettings;  // the worker's: what m_lastRead was read with

    std::mutex m_mailLock;
    CCycle m_mail;
    // The worker wakes the window's thread through a descriptor: nothing of
    // the worker's crosses over but the mailbox, under its lock.
    CUniqueFd m_hWake;
    QSocketNotifier* m_pWakeNotifier = nullptr;
    std::atomic<bool> m_bPostPending{false};
    std::atomic<bool> m_bEndPending{false};
    QTimer* m_pApplyTimer = nullptr;
    QElapsedTimer m_sinceApply;
    bool m_bRestartWanted = false;

    // The chart's: the worker hands it samples once it was opened.
    std::atomic<bool> m_bCharting{false};
    CTrendHistory m_trend;
    CTrendChart* m_pChart = nullptr;
};
