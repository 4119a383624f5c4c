// The Tools windows: a unit scan, an address scan and a request of any
// function, each on a connection chosen from the application's. The work
// runs off the GUI thread, so test windows go on polling the same connection
// meanwhile (the master's lock keeps their exchanges apart); the window shows
// its progress, can be cancelled, and shows the results as the poller prints
// them, to be copied or saved as the poller's CSV.
#pragma once

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/WinTypes.h"

class CBackgroundJob;
class CJobWatch;
class CModbus;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// What a run has found so far, shared by its worker and its window.
class CToolRun {
public:
    // Adds to the text and CSV and sets the progress; the worker's side.
    void Add(const std::string& strText, const std::string& strCsv, unsigned nDone);
    void SetTotal(unsigned nTotal) { m_nTotal = nTotal; }
    void SetSummary(const std::string& strSummary);
    // The window's side: all so far.
    void Read(std::string* pstrText, std::string* pstrCsv, unsigned* pnDone,
              std::string* pstrSummary) const;
    unsigned Total() const { return m_nTotal; }

    // What Add calls to tell the window; set by the worker before it runs.
    void SetWake(std::function<void()> pfnWake) { m_pfnWake = std::move(pfnWake); }

    void Cancel() { m_bCancelled = true; }
    bool IsCancelled() const { return m_bCancelled; }

private:
    mutable std::mutex m_mutex;
    std::string m_strText;
    std::string m_strCsv;
    std::string m_strSummary;
    unsigned m_nDone = 0;
    std::atomic<unsigned> m_nTotal{0};
    std::atomic<bool> m_bCancelled{false};
    std::function<void()> m_pfnWake;
};

class CToolWnd : public QWidget {
    Q_OBJECT

public:
    ~CToolWnd() override;

    // The connection list again, keeping the choice while it exists.
    void FillConnections();
    bool IsRunning() const { return m_pWatch != nullptr; }
    // The results as shown, and as saved.
    QString ResultText() const;
    // The status line: how the run went, or why it did not start.
    QString StatusText() const;
    const std::string& ResultCsv() const { return m_strCsv; }
    // Starts as the Start button does; false (with the reason in the status
    // line) when the fields are refused.
    bool Start();
    void Cancel();
    bool Save();

    // Asks where to save; tests answer instead of the file dialog.
    std::function<QString()> m_chooseFile;

protected:
    CToolWnd(const QString& strTitle, QWidget* pParent);

    // Where a window adds its own fields, below the connection.
    QFormLayout* Fields() const { return m_pFields; }
    // A field that tests find by strName.
    QLineEdit* AddNumberField(const QString& strLabel, const QString& strValue,
                              const QString& strName);
    QComboBox* AddReadFunctionField();
    // A number in nMin..nMax from the field, decimal or 0x hex; false with
    // the reason when it is not one.
    static bool FieldNumber(QLineEdit* pEdit, const QString& strName, long nMin, long nMax,
                            long* pnValue, QString* pstrWhy);

    // The run itself, on the worker thread: it holds what it needs, never
    // the window, which may be closed meanwhile.
    using Work = std::function<void(CModbus& modbus, CToolRun& run)>;
    // Checks the fields and sets up the run on the GUI thread; an empty work
    // with the reason when they are refused.
    virtual Work Prepare(CToolRun& run, QString* pstrWhy) = 0;

private:
    void OnWake();
    void SetRunning(bool bRunning);

    QComboBox* m_comboConnection = nullptr;
    QFormLayout* m_pFields = nullptr;
    QPushButton* m_btnStart = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_btnCopy = nullptr;
    QPushButton* m_btnSave = nullptr;
    QProgressBar* m_progress = nullptr;
    QPlainTextEdit* m_text = nullptr;
    QLabel* m_status = nullptr;

    std::shared_ptr<CToolRun> m_pRun;
    std::unique_ptr<CJobWatch> m_pWatch;
    std::string m_strCsv;
};

// Tools > Scan Units...: who answers in a range of unit ids.
class CScanUnitsWnd : public CToolWnd {
    Q_OBJECT

public:
    explicit CScanUnitsWnd(QWidget* pParent = nullptr);

protected:
    Work Prepare(CToolRun& run, QString* pstrWhy) override;

private:
    QComboBox* m_comboFunction;
    QLineEdit* m_editAddress;
    QLineEdit* m_editQuantity;
    QLineEdit* m_editFirst;
    QLineEdit* m_editLast;
    QLineEdit* m_editTimeout;
};

// Tools > Scan Addresses...: which ranges of one table a unit lets be read.
class CScanAddressesWnd : public CToolWnd {
    Q_OBJECT

public:
    explicit CScanAddressesWnd(QWidget* pParent = nullptr);

protected:
    Work Prepare(CToolRun& run, QString* pstrWhy) override;

private:
    QLineEdit* m_editUnit;
    QComboBox* m_comboFunction;
    QLineEdit* m_editStep;
};

// Tools > Send Request...: one request of any function, given in hex.
class CSendRequestWnd : public CToolWnd {
    Q_OBJECT

public:
    explicit CSendRequestWnd(QWidget* pParent = nullptr);

protected:
    Work Prepare(CToolRun& run, QString* pstrWhy) override;

private:
    QLineEdit* m_editUnit;
    QLineEdit* m_editPdu;
};
