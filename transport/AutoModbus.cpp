#include "AutoModbus.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "core/Traffic.h"
#include "platform/Archive.h"
#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "platform/com/rpc/RpcSettings.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "serialapi/OleSafeArrayEx.h"

IMPLEMENT_DYNAMIC(CAutoModbus, CModbus)

namespace {
// The server's interfaces must be known to the remoting layer, and its class
// to local activation (the program beside ours, unless registered already).
void RegisterServerClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterModbusSerialServerPs();
        if (RpcGetLocalServer(CLSID_ModbusSerialServer).empty()) {
            CoRegisterLocalServer(CLSID_ModbusSerialServer, MODBUS_SERIAL_SERVER_PROGRAM);
        }
    });
}

// The server object on this machine (empty name) or on the named one.
HRESULT ActivateServer(const CString& strServer, CComPtr<IModbusSerialPort>& pPort) {
    COSERVERINFO serverInfo{};
    OLECHAR wszName[260] = {};
    COSERVERINFO* pServerInfo = nullptr;
    DWORD dwClsCtx = CLSCTX_LOCAL_SERVER;
    if (!strServer.empty()) {
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, strServer.c_str(), -1, wszName, 260);
        wszName[259] = u'\0';
        serverInfo.pwszName = wszName;
        pServerInfo = &serverInfo;
        dwClsCtx = CLSCTX_REMOTE_SERVER;
    }
    MULTI_QI qi{&IID_IModbusSerialPort, nullptr, S_OK};
    const HRESULT hr =
        CoCreateInstanceEx(CLSID_ModbusSerialServer, nullptr, dwClsCtx, pServerInfo, 1, &qi);
    if (FAILED(hr)) {
        return hr;
    }
    if (FAILED(qi.hr)) {
        return qi.hr;
    }
    pPort.Attach(static_cast<IModbusSerialPort*>(qi.pItf));
    return S_OK;
}

// The port's TCP server, asked for as a dispatch interface and taken as its
// own. S_OK only with both answers S_OK.
HRESULT TcpServerOf(IModbusSerialPort* pPort, CComPtr<IModbusTcpServer>& pTcpServer) {
    CComPtr<IDispatch> pDispatch;
    HRESULT hr = pPort->get_TcpServer(&pDispatch);
    if (hr != S_OK) {
        return hr;
    }
    return pDispatch != nullptr ? pDispatch.QueryInterface(IID_IModbusTcpServer, &pTcpServer)
                                : E_POINTER;
}

// Port names the server knows; any other would leave the object on COM1.
bool IsServerPortName(const CString& strPort) {
    return strPort.size() == 4 && (strPort[0] | 0x20) == 'c' && (strPort[1] | 0x20) == 'o' &&
           (strPort[2] | 0x20) == 'm' && strPort[3] >= '1' && strPort[3] <= '8';
}
}  // namespace

CAutoModbus::CAutoModbus() = default;

CAutoModbus::~CAutoModbus() {
    ReleaseServer();
}

void CAutoModbus::ReleaseServer() {
    m_pTcpServer.Release();
    if (m_pPort != nullptr) {
        const CCallTimeLimit limit(kPropertyCallMillis);
        m_pPort.Release();
    }
}

void CAutoModbus::TakeServerFrom(CAutoModbus& other) {
    m_pPort = std::move(other.m_pPort);
    m_pTcpServer = std::move(other.m_pTcpServer);
    m_strServer = std::move(other.m_strServer);
    m_strPort = std::move(other.m_strPort);
    other.m_strServer.clear();
    other.m_strPort.clear();
    TakeExchangeLimitFrom(other);
}

HRESULT CAutoModbus::Create(CString strServer, CString strPort) {
    RegisterServerClass();
    ReleaseServer();
    m_strServer.clear();
    m_strPort.clear();
    if (!IsServerPortName(strPort)) {
        return HRESULT_FROM_WIN32(ERROR_UNKNOWN_PORT);
    }
    HRESULT hr = ActivateServer(strServer, m_pPort);
    if (FAILED(hr)) {
        return hr;
    }

    const CCallTimeLimit limit(kPropertyCallMillis);
    SHORT nSelected = 0;
    m_pPort->SelectPort(CComBSTR(strPort), 1, &nSelected);
    m_strServer = strServer;
    m_strPort = strPort;
    RefreshExchangeLimit();

    CComPtr<IModbusTcpServer> pTcpServer;
    hr = TcpServerOf(m_pPort, pTcpServer);
    if (hr == S_OK) {
        m_pTcpServer = std::move(pTcpServer);
    }
    return hr;
}

WORD CAutoModbus::Transact(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                           DWORD dwResponseLength, BOOL bFlag) {
    const Traffic::CCapture capture;
    LONG nServerStatus = 0;
    const WORD wStatus =
        Transfer(request, dwRequestLength, response, dwResponseLength, bFlag, &nServerStatus);
    if (capture) {
        // What the server was handed (device and PDU) and what it returned,
        // with its own status beside ours.
        CString strStatus = GetErrorText(wStatus);
        if (nServerStatus != 0) {
            char sz[40];
            std::snprintf(sz, sizeof sz, " (server status 0x%08X)", unsigned(nServerStatus));
            strStatus += sz;
        }
        capture.Report(
            this, "serial " + (m_strServer.empty() ? m_strPort : m_strServer + ":" + m_strPort),
            request.data(), std::min<size_t>(dwRequestLength, request.size()), response.data(),
            wStatus == MODBUS_OK ? response.size() : 0, wStatus, strStatus);
    }
    return wStatus;
}

WORD CAutoModbus::Transfer(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                           DWORD dwResponseLength, BOOL bFlag, LONG* pnServerStatus) {
    COleSafeArrayEx req;
    if (!req.FromByteArray(request, nullptr, VT_UI1)) {
        return AUTO_BUILD_ARRAY_ERROR;
    }
    COleSafeArrayEx resp;
    COleSafeArrayEx extra;
    if (bFlag) {
        extra.vt = VT_I2;
        extra.iVal = 0;
    }
    LONG nStatus = 0;
    if (m_pPort == nullptr) {
        return AUTO_AUTOMATION_ERROR;
    }
    // A server that hangs fails the exchange about when the line would have.
    const CCallTimeLimit limit(m_dwExchangeLimit.load());
    // The request goes by value: the callee gets a view, the array stays ours.
    VARIANT byValue = req;
    HRESULT hr = m_pPort->Transfer(byValue, static_cast<LONG>(dwRequestLength), &resp,
                                   static_cast<LONG>(dwResponseLength), &extra, &nStatus);
    *pnServerStatus = nStatus;
    if (FAILED(hr)) {
        return AUTO_AUTOMATION_ERROR;
    }
    const BOOL bArray = resp.ToByteArray(response);
    if (nStatus == 0) {
        return bArray ? WORD(MODBUS_OK) : WORD(AUTO_BUILD_ARRAY_ERROR);
    }
    // A failed exchange reports its own status whether or not an array came.
    if (HRESULT_FACILITY(nStatus) == FACILITY_ITF) {
        return static_cast<WORD>(HRESULT_CODE(nStatus) - HRESULT_CODE(MODBUS_SERVER_STATUS_BASE));
    }
    return AUTO_AUTOMATION_ERROR;
}

CString CAutoModbus::GetErrorText(WORD wStatus) {
    switch (wStatus) {
        case AUTO_AUTOMATION_ERROR:
            return "Automation Error";
        case AUTO_BUILD_ARRAY_ERROR:
            return "Build Array Error";
        default:
            return CModbus::GetErrorText(wStatus);
    }
}

BOOL CAutoModbus::IsConnected() {
    if (m_pPort == nullptr) {
        return FALSE;
    }
    VARIANT_BOOL bActive = VARIANT_FALSE;
    const CCallTimeLimit limit(kPropertyCallMillis);
    m_pPort->get_Active(&bActive);
    return bActive == VARIANT_TRUE;
}

template <typename T>
T CAutoModbus::GetProperty(HRESULT (IModbusSerialPort::*get)(T*)) {
    T n = 0;
    if (m_pPort != nullptr) {
        const CCallTimeLimit limit(kPropertyCallMillis);
        (m_pPort->*get)(&n);
    }
    return n;
}

template <typename T, typename V>
bool CAutoModbus::SetProperty(HRESULT (IModbusSerialPort::*put)(T), V n) {
    if (m_pPort == nullptr) {
        return false;
    }
    const CCallTimeLimit limit(kPropertyCallMillis);
    (m_pPort->*put)(n);
    return true;
}

// Port and flow control come as zeroed 32-bit values, parity and stop bits as
// 16-bit ones; only their low byte counts.
BYTE CAutoModbus::GetPort() {
    return static_cast<BYTE>(GetProperty(&IModbusSerialPort::get_Port));
}

void CAutoModbus::SetPort(BYTE nPort) {
    if (SetProperty(&IModbusSerialPort::put_Port, nPort)) {
        RefreshExchangeLimit();
    }
}

LONG CAutoModbus::GetBaudRate() {
    return GetProperty(&IModbusSerialPort::get_BaudRate);
}

void CAutoModbus::SetBaudRate(LONG nBaudRate) {
    SetProperty(&IModbusSerialPort::put_BaudRate, nBaudRate);
}

BYTE CAutoModbus::GetParity() {
    return static_cast<BYTE>(GetProperty(&IModbusSerialPort::get_Parity));
}

void CAutoModbus::SetParity(BYTE nParity) {
    SetProperty(&IModbusSerialPort::put_Parity, nParity);
}

BYTE CAutoModbus::GetFlowControl() {
    return static_cast<BYTE>(GetProperty(&IModbusSerialPort::get_FlowControl));
}

void CAutoModbus::SetFlowControl(BYTE nFlowControl) {
    SetProperty(&IModbusSerialPort::put_FlowControl, nFlowControl);
}

BYTE CAutoModbus::GetStopBits() {
    return static_cast<BYTE>(GetProperty(&IModbusSerialPort::get_StopBits));
}

void CAutoModbus::SetStopBits(BYTE nStopBits) {
    SetProperty(&IModbusSerialPort::put_StopBits, nStopBits);
}

SHORT CAutoModbus::GetByteSize() {
    return GetProperty(&IModbusSerialPort::get_ByteSize);
}

void CAutoModbus::SetByteSize(SHORT nByteSize) {
    SetProperty(&IModbusSerialPort::put_ByteSize, nByteSize);
}

SHORT CAutoModbus::GetMode() {
    return GetProperty(&IModbusSerialPort::get_Mode);
}

void CAutoModbus::SetMode(SHORT nMode) {
    SetProperty(&IModbusSerialPort::put_Mode, nMode);
}

LONG CAutoModbus::GetTimeout() {
    return GetProperty(&IModbusSerialPort::get_Timeout);
}

void CAutoModbus::SetTimeout(LONG nTimeout) {
    if (SetProperty(&IModbusSerialPort::put_Timeout, nTimeout)) {
        RefreshExchangeLimit();
    }
}

LONG CAutoModbus::GetSilentInterval() {
    return GetProperty(&IModbusSerialPort::get_SilentInterval);
}

void CAutoModbus::SetSilentInterval(LONG nSilentInterval) {
    SetProperty(&IModbusSerialPort::put_SilentInterval, nSilentInterval);
}

LONG CAutoModbus::GetErrorDelay() {
    return GetProperty(&IModbusSerialPort::get_ErrorDelay);
}

void CAutoModbus::SetErrorDelay(LONG nErrorDelay) {
    if (SetProperty(&IModbusSerialPort::put_ErrorDelay, nErrorDelay)) {
        RefreshExchangeLimit();
    }
}

void CAutoModbus::RefreshExchangeLimit() {
    LONG nTimeout = 0, nErrorDelay = 0;
    {
        const CCallTimeLimit limit(kPropertyCallMillis);
        m_pPort->get_Timeout(&nTimeout);
        m_pPort->get_ErrorDelay(&nErrorDelay);
    }
    m_dwExchangeLimit = ExchangeLimitOf(nTimeout, nErrorDelay);
}

DWORD CAutoModbus::ExchangeLimitOf(LONG nTimeout, LONG nErrorDelay) {
    const auto Clamp = [](LONG n) { return n > 0 ? std::min<DWORD>(DWORD(n), 3600000) : 0; };
    return Clamp(nTimeout) + Clamp(nErrorDelay) + kExchangeMarginMillis;
}

BOOL CAutoModbus::Connect(HRESULT* phr) {
    VARIANT_BOOL bOpen = VARIANT_FALSE;
    HRESULT hr = E_POINTER;
    if (m_pPort != nullptr) {
        const CCallTimeLimit limit(kPropertyCallMillis);
        hr = m_pPort->Connect(&bOpen);
    }
    if (phr != nullptr) {
        *phr = hr;
    }
    return bOpen == VARIANT_TRUE;
}

void CAutoModbus::WriteSettings(CArchive& ar) {
    CModbus::WriteSettings(ar);
    StoreSettings(ar);
}

void CAutoModbus::Load(CArchive& ar, ELoad mode) {
    CModbus::Load(ar, mode);
    LoadSettings(ar, mode);
}

void CAutoModbus::StoreSettings(CArchive& ar) {
    // Covers the TCP server's members; the port's wrappers bound their own.
    const CCallTimeLimit limit(kPropertyCallMillis);
    ar << m_strServer << m_strPort;
    // The server's values at this moment, each widened to 32 bits.
    ar << DWORD(GetPort()) << DWORD(WORD(GetByteSize())) << DWORD(WORD(GetMode()))
       << DWORD(GetStopBits()) << DWORD(GetFlowControl()) << DWORD(GetSilentInterval())
       << DWORD(GetTimeout()) << DWORD(GetParity()) << DWORD(GetBaudRate())
       << DWORD(GetErrorDelay());
    if (m_pTcpServer == nullptr) {
        ar << WORD(0) << CString() << DWORD(0);
        return;
    }
    VARIANT_BOOL bRunning = VARIANT_FALSE;
    m_pTcpServer->get_Running(&bRunning);
    CComBSTR bstrAddress;
    m_pTcpServer->get_Address(&bstrAddress);
    LONG nPort = 0;
    m_pTcpServer->get_Port(&nPort);
    ar << WORD(bRunning) << bstrAddress.ToString() << DWORD(nPort);
}

void CAutoModbus::LoadSettings(CArchive& ar, ELoad mode) {
    // Covers the TCP server's members; the port's wrappers bound their own.
    const CCallTimeLimit limit(kPropertyCallMillis);
    DWORD dwPort = 0;
    ar >> m_strServer >> m_strPort >> dwPort;
    char szPort[32];
    std::snprintf(szPort, sizeof szPort, "com%d", static_cast<int>(dwPort));
    const bool bCreate = mode == ELoad::CONNECT;
    const HRESULT hr = bCreate ? Create(m_strServer, szPort) : E_ABORT;
    DWORD v[9];
    for (DWORD& d : v) {
        ar >> d;
    }
    if (SUCCEEDED(hr)) {
        ApplyPortSettings(v, dwPort);
    }
    WORD wEnabled = 0;
    CString strAddress;
    DWORD dwTcpPort = 0;
    ar >> wEnabled >> strAddress >> dwTcpPort;
    if (m_pTcpServer != nullptr && bCreate) {
        m_pTcpServer->put_Port(static_cast<SHORT>(dwTcpPort));
        m_pTcpServer->put_Address(CComBSTR(strAddress));
        if (wEnabled == 0xFFFF) {
            VARIANT_BOOL bRunning = VARIANT_FALSE;
            m_pTcpServer->Start(&bRunning);
        }
    }
}

void CAutoModbus::ApplyPortSettings(const DWORD (&v)[9], DWORD dwPort) {
    SetByteSize(static_cast<SHORT>(v[0]));
    SetMode(static_cast<SHORT>(v[1]));
    SetStopBits(static_cast<BYTE>(v[2]));
    SetFlowControl(static_cast<BYTE>(v[3]));
    SetSilentInterval(static_cast<LONG>(v[4]));
    SetTimeout(static_cast<LONG>(v[5]));
    SetParity(static_cast<BYTE>(v[6]));
    SetBaudRate(static_cast<LONG>(v[7]));
    SetErrorDelay(static_cast<LONG>(v[8]));
    SetPort(static_cast<BYTE>(dwPort));
    Connect();
}
