#include "SerialSettingsJob.h"

#include <cctype>

#include "BackgroundJob.h"
#include "platform/Text.h"
#include "platform/com/ComApi.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcSettings.h"
#include "transport/BlockingSocket.h"

CSerialSettingsJob::CSerialSettingsJob(CString strServer, CString strPort, bool bHasServer,
                                       bool bHasTcpServer)
    : m_strServer(std::move(strServer)),
      m_strPort(std::move(strPort)),
      m_bHasServer(bHasServer),
      m_bHasTcpServer(bHasTcpServer) {}

// Nothing is left to release by then when the object went through Drop.
CSerialSettingsJob::~CSerialSettingsJob() = default;

std::shared_ptr<CBackgroundJob> CSerialSettingsJob::Start(std::shared_ptr<CSerialSettingsJob> pJob,
                                                          EPhase phase) {
    {
        std::lock_guard<std::mutex> guard(pJob->m_mutex);
        pJob->m_bRunning = true;
    }
    return CBackgroundJob::Start([pJob, phase](CBackgroundJob&) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        pJob->Run(phase);
        bool bDropped = false;
        {
            std::lock_guard<std::mutex> guard(pJob->m_mutex);
            pJob->m_bRunning = false;
            bDropped = pJob->m_bDropped;
        }
        if (bDropped) {
            // Nobody takes the objects now; they go while this thread may wait.
            pJob->m_auto.ReleaseServer();
        }
        CoUninitialize();
    });
}

void CSerialSettingsJob::Drop(std::shared_ptr<CSerialSettingsJob> pJob) {
    if (pJob == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(pJob->m_mutex);
        if (pJob->m_bRunning) {
            pJob->m_bDropped = true;
            return;
        }
    }
    if (pJob->m_auto.m_pPort != nullptr) {
        CBackgroundJob::Start([pJob](CBackgroundJob&) { pJob->m_auto.ReleaseServer(); });
    }
}

CString CSerialSettingsJob::GetServerPlace() const {
    const CString strServer = Trim(m_strServer);
    if (strServer.empty()) {
        return "this machine";
    }
    if (strServer.find(':') == CString::npos) {
        return strServer + ":" + std::to_string(RPC_DEFAULT_PORT);
    }
    return strServer;
}

CString CSerialSettingsJob::PlaceLine(const CString& strCause) const {
    const CString strPlace = GetServerPlace();
    return (strPlace == "this machine" ? "On " : "At ") + strPlace + ": " + strCause;
}

CString CSerialSettingsJob::GetOpenFailureLine() const {
    if (!m_bOpened && !m_strUnreachable.empty()) {
        return m_strUnreachable;
    }
    if (m_bOpened || m_auto.m_strPort.empty() || SUCCEEDED(m_hrOpen)) {
        return CString();
    }
    CString strPort = m_auto.m_strPort;
    for (char& c : strPort) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    switch (m_hrOpen) {
        case HRESULT_FROM_WIN32(ERROR_UNKNOWN_PORT):
            return PlaceLine("The serial-port server has no device for " + strPort + ".");
        case HRESULT_FROM_WIN32(ERROR_BUSY):
            return PlaceLine(strPort + " is in use by another program.");
        case E_ACCESSDENIED:
            return PlaceLine("The serial-port server may not open " + strPort + ".");
        default: {
            char text[500];
            return ::GetFailureText(m_hrOpen, text, sizeof text) ? PlaceLine(text) : CString();
        }
    }
}

void CSerialSettingsJob::Run(EPhase phase) {
    switch (phase) {
        case READ:
            if (Open()) {
                ReadValues();
            }
            // Nothing more is asked of this object.
            m_auto.ReleaseServer();
            break;
        case CREATE:
            Create();
            break;
        case WRITE:
            Write();
            break;
    }
}

bool CSerialSettingsJob::Open() {
    if (!m_bHasServer) {
        return false;
    }
    if (m_auto.m_pPort == nullptr) {
        m_hrCreate = m_auto.Create(m_strServer, m_strPort);
        if (FAILED(m_hrCreate)) {
            // The server is out of reach: that is why the port will not open.
            CString strCause = TakeErrorDescription();
            char text[500];
            if (strCause.empty() && ::GetFailureText(m_hrCreate, text, sizeof text)) {
                strCause = text;
            }
            m_strUnreachable = strCause.empty() ? CString() : PlaceLine(strCause);
        }
    }
    return m_auto.m_pPort != nullptr;
}

void CSerialSettingsJob::Create() {
    m_hrCreate = m_auto.Create(m_strServer, m_strPort);
    if (FAILED(m_hrCreate)) {
        // Taken here: error objects belong to the thread that failed.
        const CString strCause = TakeErrorDescription();
        char text[500];
        m_strFailure = ::GetFailureText(m_hrCreate, text, sizeof text)
                           ? CString(text)
                           : CString("Can't Create Automation Object");
        if (!strCause.empty()) {
            m_strFailure += "\n" + PlaceLine(strCause);
        }
        m_auto.ReleaseServer();
        return;
    }
    if (m_auto.IsConnected()) {
        ReadValues();
    }
}

void CSerialSettingsJob::ReadValues() {
    CSerialPortValues& v = m_values;
    v.nPort = m_auto.GetPort();
    v.nBaudRate = m_auto.GetBaudRate();
    v.nParity = m_auto.GetParity();
    v.nStopBits = m_auto.GetStopBits();
    v.nByteSize = m_auto.GetByteSize();
    v.nTimeout = m_auto.GetTimeout();
    v.nSilentInterval = m_auto.GetSilentInterval();
    v.nErrorDelay = m_auto.GetErrorDelay();
    v.bActive = m_auto.IsConnected() != FALSE;
    v.nFlowControl = m_auto.GetFlowControl();
    v.nMode = m_auto.GetMode();
    IModbusTcpServer* pTcpServer = m_bHasTcpServer ? m_auto.m_pTcpServer.Get() : nullptr;
    v.bHasTcpServer = pTcpServer != nullptr;
    if (pTcpServer != nullptr) {
        const CCallTimeLimit limit(CAutoModbus::kPropertyCallMillis);
        CComBSTR bstrAddress;
        if (SUCCEEDED(pTcpServer->get_Address(&bstrAddress))) {
            v.strTcpAddress = bstrAddress.ToString();
        }
        pTcpServer->get_Port(&v.nTcpPort);
        VARIANT_BOOL bRunning = VARIANT_FALSE;
        pTcpServer->get_Running(&bRunning);
        v.bTcpRunning = bRunning == VARIANT_TRUE;
    }
    m_bHasValues = true;
}

void CSerialSettingsJob::Write() {
    // Without a server object the setters do nothing and the port stays shut.
    Open();
    const CSerialPortWrite& w = m_write;
    const auto Passed = [&w](CSerialPortWrite::EStep step) { return w.nFirstInvalid > step; };
    if (!Passed(CSerialPortWrite::PORT)) {
        return;
    }
    m_auto.SetPort(w.nPort);
    if (!Passed(CSerialPortWrite::BAUD_RATE)) {
        return;
    }
    m_auto.SetBaudRate(w.nBaudRate);
    if (!Passed(CSerialPortWrite::PARITY)) {
        return;
    }
    m_auto.SetParity(w.nParity);
    if (!Passed(CSerialPortWrite::STOP_BITS)) {
        return;
    }
    m_auto.SetStopBits(w.nStopBits);
    m_auto.SetFlowControl(w.nFlowControl);
    if (!Passed(CSerialPortWrite::TIMEOUT)) {
        return;
    }
    m_auto.SetTimeout(w.nTimeout);
    if (!Passed(CSerialPortWrite::SILENT_INTERVAL)) {
        return;
    }
    m_auto.SetSilentInterval(w.nSilentInterval);
    m_auto.SetErrorDelay(w.nErrorDelay);
    m_auto.SetMode(w.nMode);
    if (!Passed(CSerialPortWrite::BYTE_SIZE)) {
        return;
    }
    m_auto.SetByteSize(w.nByteSize);
    m_bOpened = m_auto.Connect(&m_hrOpen) != FALSE;
    IModbusTcpServer* pTcpServer = m_bHasTcpServer ? m_auto.m_pTcpServer.Get() : nullptr;
    if (!m_bOpened || pTcpServer == nullptr) {
        return;
    }
    const CCallTimeLimit limit(CAutoModbus::kPropertyCallMillis);
    VARIANT_BOOL bResult = VARIANT_FALSE;
    if (w.bTcpServer) {
        pTcpServer->put_Address(CComBSTR(w.strTcpAddress));
        pTcpServer->put_Port(w.nTcpPort);
        pTcpServer->Start(&bResult);
        m_tcpResult = bResult == VARIANT_FALSE ? TCP_START_FAILED : TCP_DONE;
    } else {
        pTcpServer->Stop(&bResult);
        m_tcpResult = bResult == VARIANT_FALSE ? TCP_STOP_FAILED : TCP_DONE;
    }
}
