#include "ToolWindows.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "connections/BackgroundJob.h"
#include "connections/Connections.h"
#include "connections/RemoteConnectAttempt.h"
#include "connections/dialogs/JobWatch.h"
#include "core/FrameDecode.h"
#include "scan/AddressScan.h"
#include "scan/RawRequest.h"
#include "scan/UnitScan.h"
#include "testview/RowFormat.h"
#include "tools/PollOutput.h"
#include "tools/ScanOutput.h"
#include "transport/RemoteModbus.h"

namespace {

// What a printing function writes to a file, as a string.
template <typename Print>
std::string Printed(Print print) {
    char* pBuffer = nullptr;
    size_t nSize = 0;
    std::FILE* pFile = ::open_memstream(&pBuffer, &nSize);
    if (pFile == nullptr) {
        return std::string();
    }
    print(pFile);
    std::fclose(pFile);
    std::string str(pBuffer, nSize);
    std::free(pBuffer);
    return str;
}

// The read-function list's entries that read a table.
constexpr int kFirstTable = READ_OUTPUT_REGISTERS;

QString Qs(const std::string& str) {
    return QString::fromStdString(str);
}

}  // namespace

void CToolRun::Add(const std::string& strText, const std::string& strCsv, unsigned nDone) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strText += strText;
    m_strCsv += strCsv;
    m_nDone = nDone;
    if (m_pfnWake) {
        m_pfnWake();
    }
}

void CToolRun::SetSummary(const std::string& strSummary) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strSummary = strSummary;
}

void CToolRun::Read(std::string* pstrText, std::string* pstrCsv, unsigned* pnDone,
                    std::string* pstrSummary) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    *pstrText = m_strText;
    *pstrCsv = m_strCsv;
    *pnDone = m_nDone;
    *pstrSummary = m_strSummary;
}

CToolWnd::CToolWnd(const QString& strTitle, QWidget* pParent) : QWidget(pParent, Qt::Window) {
    setWindowTitle(strTitle);
    auto* pLayout = new QVBoxLayout(this);
    m_pFields = new QFormLayout;
    m_comboConnection = new QComboBox(this);
    m_comboConnection->setObjectName("connection");
    m_pFields->addRow("&Connection:", m_comboConnection);
    pLayout->addLayout(m_pFields);

    auto* pButtons = new QHBoxLayout;
    m_btnStart = new QPushButton("&Start", this);
    m_btnCancel = new QPushButton("Cancel", this);
    m_btnCopy = new QPushButton("C&opy", this);
    m_btnSave = new QPushButton("Save &CSV...", this);
    m_progress = new QProgressBar(this);
    pButtons->addWidget(m_btnStart);
    pButtons->addWidget(m_btnCancel);
    pButtons->addWidget(m_progress, 1);
    pButtons->addWidget(m_btnCopy);
    pButtons->addWidget(m_btnSave);
    pLayout->addLayout(pButtons);

    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setFont(QFont("Monospace"));
    m_text->setMinimumSize(480, 200);
    pLayout->addWidget(m_text, 1);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    pLayout->addWidget(m_status);

    connect(m_btnStart, &QPushButton::clicked, this, [this] { Start(); });
    connect(m_btnCancel, &QPushButton::clicked, this, [this] { Cancel(); });
    connect(m_btnCopy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(ResultText()); });
    connect(m_btnSave, &QPushButton::clicked, this, [this] { Save(); });
    m_chooseFile = [this] {
        return QFileDialog::getSaveFileName(this, "Save CSV", QString(),
                                            "CSV files (*.csv);;All files (*)");
    };
    SetRunning(false);
    FillConnections();
}

CToolWnd::~CToolWnd() {
    if (m_pRun == nullptr || m_pWatch == nullptr) {
        return;
    }
    // The run asks through a connection's master, which goes with the
    // application: the window goes only with it, so the run is cancelled and
    // waited for (its exchange under way ends by its time-out), boundedly.
    m_pRun->Cancel();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!m_pWatch->Job().IsDone() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void CToolWnd::FillConnections() {
    const QString strChosen = m_comboConnection->currentText();
    m_comboConnection->clear();
    theConnections.ForEach(
        [this](const CString& strName, CConnection*) { m_comboConnection->addItem(Qs(strName)); });
    const int nAt = m_comboConnection->findText(strChosen);
    m_comboConnection->setCurrentIndex(nAt >= 0 ? nAt : 0);
}

QLineEdit* CToolWnd::AddNumberField(const QString& strLabel, const QString& strValue,
                                    const QString& strName) {
    auto* pEdit = new QLineEdit(strValue, this);
    pEdit->setObjectName(strName);
    m_pFields->addRow(strLabel, pEdit);
    return pEdit;
}

QComboBox* CToolWnd::AddReadFunctionField() {
    auto* pCombo = new QComboBox(this);
    pCombo->setObjectName("function");
    for (int n = kFirstTable; n < READ_FUNCTION_COUNT; ++n) {
        pCombo->addItem(g_szReadFunctions[n]);
    }
    m_pFields->addRow("&Function:", pCombo);
    return pCombo;
}

bool CToolWnd::FieldNumber(QLineEdit* pEdit, const QString& strName, long nMin, long nMax,
                           long* pnValue, QString* pstrWhy) {
    bool bOk = false;
    const QString strText = pEdit->text().trimmed();
    const long n = strText.toLong(&bOk, 0);
    if (!bOk || n < nMin || n > nMax) {
        *pstrWhy = QString("%1 must be a number from %2 to %3, not '%4'.")
                       .arg(strName)
                       .arg(nMin)
                       .arg(nMax)
                       .arg(strText);
        pEdit->setFocus();
        return false;
    }
    *pnValue = n;
    return true;
}

bool CToolWnd::Start() {
    if (IsRunning()) {
        return false;
    }
    CConnection* pConnection = nullptr;
    if (!theConnections.Lookup(m_comboConnection->currentText().toStdString(), pConnection) ||
        pConnection->m_pModbus == nullptr) {
        m_status->setText("No connection chosen: Options > Connections... adds one.");
        return false;
    }
    auto pRun = std::make_shared<CToolRun>();
    QString strWhy;
    Work work = Prepare(*pRun, &strWhy);
    if (!work) {
        m_status->setText(strWhy);
        return false;
    }
    m_pRun = pRun;
    m_text->clear();
    m_strCsv.clear();
    m_status->setText("Running on " + m_comboConnection->currentText() + "...");
    CModbus* pModbus = pConnection->m_pModbus;
    auto job = CBackgroundJob::Start([work, pRun, pModbus](CBackgroundJob& job) {
        pRun->SetWake([&job] { job.Wake(); });
        work(*pModbus, *pRun);
        pRun->SetWake(nullptr);
    });
    m_pWatch = std::make_unique<CJobWatch>(job, this, [this] { OnWake(); });
    SetRunning(true);
    return true;
}

void CToolWnd::Cancel() {
    if (m_pRun != nullptr && IsRunning()) {
        m_pRun->Cancel();
        m_status->setText("Cancelling after the exchange under way...");
    }
}

void CToolWnd::OnWake() {
    if (m_pRun == nullptr || m_pWatch == nullptr) {
        return;
    }
    // Asked first: a run that is done has left all it found.
    const bool bDone = m_pWatch->Job().IsDone();
    std::string strText, strSummary;
    unsigned nDone = 0;
    m_pRun->Read(&strText, &m_strCsv, &nDone, &strSummary);
    m_text->setPlainText(Qs(strText));
    m_progress->setMaximum(int(std::max(1u, m_pRun->Total())));
    m_progress->setValue(int(std::min(nDone, m_pRun->Total())));
    if (bDone) {
        m_pWatch.reset();
        m_status->setText(Qs(strSummary));
        SetRunning(false);
    }
}

QString CToolWnd::ResultText() const {
    return m_text->toPlainText();
}

QString CToolWnd::StatusText() const {
    return m_status->text();
}

bool CToolWnd::Save() {
    const QString strPath = m_chooseFile ? m_chooseFile() : QString();
    if (strPath.isEmpty()) {
        return false;
    }
    // Written whole or not at all: an old file of that name stays intact.
    QSaveFile file(strPath);
    const QByteArray csv = QByteArray::fromStdString(m_strCsv);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        m_status->setText("Not saved to " + strPath + ": " + file.errorString());
        return false;
    }
    m_status->setText("Saved to " + strPath);
    return true;
}

void CToolWnd::SetRunning(bool bRunning) {
    m_btnStart->setEnabled(!bRunning);
    m_btnCancel->setEnabled(bRunning);
    m_comboConnection->setEnabled(!bRunning);
    m_btnCopy->setEnabled(!bRunning);
    m_btnSave->setEnabled(!bRunning && !m_strCsv.empty());
}

// ---------------------------------------------------------------------------

namespace {
struct CUnitScanSettings {
    CUnitScanRequest request;
    long nTimeout = 0;  // 0: the connection's
};

// The master a unit scan asks through: the connection's, or, for a time-out
// of the scan's own on a host-and-port connection, a master of its own made
// with the connection's settings, so the windows polling it keep theirs.
CModbus* ScanMaster(CModbus& modbus, long nTimeout, std::unique_ptr<CRemoteConnectAttempt>* ppOwn) {
    auto* pTcp = dynamic_cast<CRemoteModbus*>(&modbus);
    if (nTimeout <= 0 || pTcp == nullptr) {
        return &modbus;
    }
    *ppOwn = std::make_unique<CRemoteConnectAttempt>(pTcp, pTcp->GetHost(), pTcp->GetPort(),
                                                     DWORD(nTimeout));
    (*ppOwn)->Run();
    (*ppOwn)->Master().SetReconnect(pTcp->GetReconnect());
    return &(*ppOwn)->Master();
}

// The line the poller prints for a unit, and its CSV line (without the header).
void AddUnit(CToolRun& run, const CUnitAnswer& a, unsigned nDone) {
    const std::string strText =
        Printed([&](std::FILE* p) { CScanOutput::Make("text", p)->Unit(a); });
    std::string strCsv = Printed([&](std::FILE* p) { CScanOutput::Make("csv", p)->Unit(a); });
    if (nDone > 1) {
        strCsv.erase(0, strCsv.find('\n') + 1);
    }
    run.Add(strText, strCsv, nDone);
}

void ScanUnitsWork(const CUnitScanSettings& settings, CModbus& modbus, CToolRun& run) {
    std::unique_ptr<CRemoteConnectAttempt> pOwn;
    CModbus* pModbus = ScanMaster(modbus, settings.nTimeout, &pOwn);
    std::string strCause;
    unsigned nDone = 0;
    const auto before = [&] {
        CString str;
        if (run.IsCancelled()) {
            return false;
        }
        if (!KeepConnected(*pModbus, &str)) {
            strCause = "Connection Error: " + str;
            return false;
        }
        return true;
    };
    const auto answered = [&](const CUnitAnswer& a) {
        AddUnit(run, a, ++nDone);
        return !run.IsCancelled();
    };
    const std::vector<CUnitAnswer> answers =
        ScanUnits(*pModbus, settings.request, before, answered);
    // A last unit that stayed silent does not leave the connection lost to
    // the windows polling it.
    CString strIgnored;
    KeepConnected(*pModbus, &strIgnored);
    std::string strSummary =
        Printed([&](std::FILE* p) { CScanOutput::Make("text", p)->End(answers); });
    strSummary.erase(strSummary.find_last_not_of('\n') + 1);
    if (!strCause.empty()) {
        strSummary = strCause + "\n" + strSummary;
    } else if (run.IsCancelled()) {
        strSummary = "Cancelled after " + std::to_string(answers.size()) + " units.\n" + strSummary;
    }
    run.SetSummary(strSummary);
}
}  // namespace

CScanUnitsWnd::CScanUnitsWnd(QWidget* pParent) : CToolWnd("Scan Units", pParent) {
    m_comboFunction = AddReadFunctionField();
    m_editAddress = AddNumberField("&Address:", "0", "address");
    m_editQuantity = AddNumberField("&Quantity:", "1", "quantity");
    m_editFirst = AddNumberField("First &unit:", "1", "first");
    m_editLast = AddNumberField("&Last unit:", "247", "last");
    m_editTimeout = AddNumberField("&Time-out per unit (ms):", "", "timeout");
    m_editTimeout->setPlaceholderText("the connection's");
}

CToolWnd::Work CScanUnitsWnd::Prepare(CToolRun& run, QString* pstrWhy) {
    const int nFunction = kFirstTable + m_comboFunction->currentIndex();
    long nAddress = 0, nQuantity = 1, nFirst = 1, nLast = 247;
    CUnitScanSettings settings;
    if (!FieldNumber(m_editAddress, "The address", 0, 65535, &nAddress, pstrWhy) ||
        !FieldNumber(m_editQuantity, "The quantity", 1, long(MaxReadCount(nFunction)), &nQuantity,
                     pstrWhy) ||
        !FieldNumber(m_editFirst, "The first unit", 0, 255, &nFirst, pstrWhy) ||
        !FieldNumber(m_editLast, "The last unit", nFirst, 255, &nLast, pstrWhy) ||
        (!m_editTimeout->text().trimmed().isEmpty() &&
         !FieldNumber(m_editTimeout, "The time-out", 1, 600000, &settings.nTimeout, pstrWhy))) {
        return Work();
    }
    settings.request = {nFunction, WORD(nAddress), WORD(nQuantity), BYTE(nFirst), BYTE(nLast)};
    run.SetTotal(unsigned(nLast - nFirst + 1));
    return [settings](CModbus& modbus, CToolRun& r) { ScanUnitsWork(settings, modbus, r); };
}

// ---------------------------------------------------------------------------

namespace {
struct CAddressScanSettings {
    int nFunction = READ_OUTPUT_REGISTERS;
    BYTE byUnit = 1;
    unsigned nStep = 40;
};

std::string AddressScanSummary(const CAddressScan::CResult& result, const std::string& strTable,
                               const std::string& strStopped) {
    const std::string strAfter = " after " + std::to_string(result.nRequests) + " requests";
    if (!strStopped.empty()) {
        return strStopped + " at " + std::to_string(result.nFailedAt) + strAfter;
    }
    return strTable + ": " + std::to_string(result.ranges.size()) + " range" +
           (result.ranges.size() == 1 ? "" : "s") + " in " + std::to_string(result.nRequests) +
           " requests.";
}

void ScanAddressesWork(const CAddressScanSettings& settings, CModbus& modbus, CToolRun& run) {
    CString strCause;
    if (!KeepConnected(modbus, &strCause)) {
        run.SetSummary("Connection Error: " + strCause);
        return;
    }
    WORD wStatus = 0;
    const CAddressScan::Reader table = TableReader(modbus, settings.nFunction, settings.byUnit,
                                                   &wStatus, [&run] { return run.IsCancelled(); });
    // The progress is how far through the table the scan has come.
    const auto read = [&](unsigned nFirst, unsigned nCount) {
        run.Add("", "", nFirst);
        return table(nFirst, nCount);
    };
    const CAddressScan::CResult result =
        CAddressScan::Scan(read, 0, 65535, MaxReadCount(settings.nFunction), settings.nStep);
    const std::string strText =
        Printed([&](std::FILE* p) { PrintRanges("text", result.ranges, p); });
    const std::string strCsv = Printed([&](std::FILE* p) { PrintRanges("csv", result.ranges, p); });
    run.Add(strText, strCsv, result.bComplete ? 65536 : result.nFailedAt);
    const std::string strStopped =
        result.bComplete ? std::string()
        : run.IsCancelled()
            ? std::string("Cancelled")
            : "Stopped (" +
                  FrameDecode::NameExceptionStatus(modbus.GetErrorText(wStatus), wStatus) + ")";
    run.SetSummary(AddressScanSummary(result, g_szReadFunctions[settings.nFunction], strStopped));
}
}  // namespace

CScanAddressesWnd::CScanAddressesWnd(QWidget* pParent) : CToolWnd("Scan Addresses", pParent) {
    m_editUnit = AddNumberField("&Unit:", "1", "unit");
    m_comboFunction = AddReadFunctionField();
    m_editStep = AddNumberField("&Probe every (addresses):", "40", "step");
}

CToolWnd::Work CScanAddressesWnd::Prepare(CToolRun& run, QString* pstrWhy) {
    CAddressScanSettings settings;
    settings.nFunction = kFirstTable + m_comboFunction->currentIndex();
    long nUnit = 1, nStep = 40;
    if (!FieldNumber(m_editUnit, "The unit", 0, 255, &nUnit, pstrWhy) ||
        !FieldNumber(m_editStep, "The probe step", 1, long(MaxReadCount(settings.nFunction)),
                     &nStep, pstrWhy)) {
        return Work();
    }
    settings.byUnit = BYTE(nUnit);
    settings.nStep = unsigned(nStep);
    run.SetTotal(65536);
    return [settings](CModbus& modbus, CToolRun& r) { ScanAddressesWork(settings, modbus, r); };
}

// ---------------------------------------------------------------------------

CSendRequestWnd::CSendRequestWnd(QWidget* pParent) : CToolWnd("Send Request", pParent) {
    m_editUnit = AddNumberField("&Unit:", "1", "unit");
    m_editPdu = AddNumberField("&Request (hex):", "03 0000 000A", "request");
    m_editPdu->setToolTip(
        "The function code and its data as pairs of hex digits, e.g. "
        "16 0004 00F2 0025 (mask write) or 17 0000 0002 0010 0001 02 0007 "
        "(read/write multiple registers).");
}

CToolWnd::Work CSendRequestWnd::Prepare(CToolRun& run, QString* pstrWhy) {
    long nUnit = 1;
    if (!FieldNumber(m_editUnit, "The unit", 0, 255, &nUnit, pstrWhy)) {
        return Work();
    }
    const QString strPdu = m_editPdu->text().trimmed();
    CByteArray pdu;
    if (!ParseRawHex(strPdu.toStdString(), pdu) || pdu.empty()) {
        *pstrWhy = "The request must be the function code and data as pairs of hex digits, not '" +
                   strPdu + "'.";
        return Work();
    }
    if (pdu.size() > MAX_RAW_PDU) {
        *pstrWhy = QString("A request holds at most %1 bytes of function code and data, not %2.")
                       .arg(MAX_RAW_PDU)
                       .arg(pdu.size());
        return Work();
    }
    run.SetTotal(1);
    return [nUnit, pdu](CModbus& modbus, CToolRun& r) {
        CString strCause;
        if (!KeepConnected(modbus, &strCause)) {
            r.SetSummary("Connection Error: " + strCause);
            return;
        }
        const CRawExchange exchange = SendRawRequest(modbus, BYTE(nUnit), pdu);
        r.Add(Printed([&](std::FILE* p) { PrintRaw("text", exchange, p); }),
              Printed([&](std::FILE* p) { PrintRaw("csv", exchange, p); }), 1);
        r.SetSummary(exchange.strStatus);
    };
}
