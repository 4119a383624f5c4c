#include "SerialPortObject.h"

#include <cerrno>

#include "core/Modbus.h"
#include "serialapi/OleSafeArrayEx.h"

CSerialPortObject::CSerialPortObject(std::shared_ptr<CSerialPorts> pPorts)
    : m_pPorts(std::move(pPorts)), m_pPort(m_pPorts->GetPort(1)) {
    m_pPorts->ObjectCreated();
}

CSerialPortObject::~CSerialPortObject() {
    m_pPorts->ObjectDestroyed();
}

std::shared_ptr<CSerialPort> CSerialPortObject::GetPort() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_pPort;
}

template <typename T, typename F>
HRESULT CSerialPortObject::GetSetting(T* pVal, F field) const {
    return pVal == nullptr ? E_POINTER : ReturnValue(pVal, GetPort()->GetSettings().*field);
}

template <typename F>
HRESULT CSerialPortObject::PutSetting(LONG nValue, bool bValid, F field) {
    if (!bValid) {
        return E_INVALIDARG;
    }
    GetPort()->ChangeSettings([&](CSerialSettings& s) { s.*field = nValue; });
    return S_OK;
}

HRESULT CSerialPortObject::get_Port(LONG* pVal) {
    return pVal == nullptr ? E_POINTER : ReturnValue(pVal, GetPort()->GetNumber());
}

HRESULT CSerialPortObject::put_Port(SHORT newVal) {
    std::shared_ptr<CSerialPort> pPort = m_pPorts->GetPort(newVal);
    if (pPort == nullptr) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    m_pPort = std::move(pPort);
    return S_OK;
}

HRESULT CSerialPortObject::SelectPort(BSTR name, LONG, SHORT* pResult) {
    const int nPort = CPortMap::ParsePortName(BstrToString(name));
    const bool bBound = nPort != 0 && SUCCEEDED(put_Port(static_cast<SHORT>(nPort)));
    if (pResult != nullptr) {
        *pResult = bBound ? 1 : 0;
    }
    return S_OK;
}

HRESULT CSerialPortObject::get_BaudRate(LONG* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nBaudRate);
}

HRESULT CSerialPortObject::put_BaudRate(LONG newVal) {
    return PutSetting(newVal, CSerialSettings::IsValidBaudRate(newVal),
                      &CSerialSettings::m_nBaudRate);
}

HRESULT CSerialPortObject::get_Parity(SHORT* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nParity);
}

HRESULT CSerialPortObject::put_Parity(SHORT newVal) {
    return PutSetting(newVal, CSerialSettings::IsValidParity(newVal), &CSerialSettings::m_nParity);
}

HRESULT CSerialPortObject::get_FlowControl(LONG* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nFlowControl);
}

HRESULT CSerialPortObject::put_FlowControl(SHORT newVal) {
    return PutSetting(newVal, CSerialSettings::IsValidFlowControl(newVal),
                      &CSerialSettings::m_nFlowControl);
}

HRESULT CSerialPortObject::get_StopBits(SHORT* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nStopBits);
}

HRESULT CSerialPortObject::put_StopBits(SHORT newVal) {
    return PutSetting(newVal, CSerialSettings::IsValidStopBits(newVal),
                      &CSerialSettings::m_nStopBits);
}

HRESULT CSerialPortObject::get_ByteSize(SHORT* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nByteSize);
}

HRESULT CSerialPortObject::put_ByteSize(SHORT newVal) {
    return PutSetting(newVal, CSerialSettings::IsValidByteSize(newVal),
                      &CSerialSettings::m_nByteSize);
}

HRESULT CSerialPortObject::get_Mode(SHORT* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nMode);
}

HRESULT CSerialPortObject::put_Mode(SHORT newVal) {
    return PutSetting(newVal, CSerialSettings::IsValidMode(newVal), &CSerialSettings::m_nMode);
}

HRESULT CSerialPortObject::get_Timeout(LONG* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nTimeout);
}

HRESULT CSerialPortObject::put_Timeout(LONG newVal) {
    return PutSetting(newVal, newVal >= 1 && newVal <= CSerialSettings::MAX_TIMEOUT,
                      &CSerialSettings::m_nTimeout);
}

HRESULT CSerialPortObject::get_SilentInterval(LONG* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nSilentInterval);
}

HRESULT CSerialPortObject::put_SilentInterval(LONG newVal) {
    return PutSetting(newVal, newVal >= 0 && newVal <= CSerialSettings::MAX_SILENT_INTERVAL,
                      &CSerialSettings::m_nSilentInterval);
}

HRESULT CSerialPortObject::get_ErrorDelay(LONG* pVal) {
    return GetSetting(pVal, &CSerialSettings::m_nErrorDelay);
}

HRESULT CSerialPortObject::put_ErrorDelay(LONG newVal) {
    return PutSetting(newVal, newVal >= 0 && newVal <= CSerialSettings::MAX_ERROR_DELAY,
                      &CSerialSettings::m_nErrorDelay);
}

HRESULT CSerialPortObject::Connect(VARIANT_BOOL* pResult) {
    int nError = 0;
    const bool bOpen = GetPort()->Connect(&nError) != FALSE;
    const HRESULT hr = ReturnResult(pResult, bOpen);
    if (bOpen || FAILED(hr)) {
        return hr;
    }
    // Why the port stayed shut, for the client to tell its user; the result
    // says false all the same.
    switch (nError) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return HRESULT_FROM_WIN32(ERROR_UNKNOWN_PORT);
        case EBUSY:
            return HRESULT_FROM_WIN32(ERROR_BUSY);
        case EACCES:
        case EPERM:
            return E_ACCESSDENIED;
        default:
            return E_FAIL;
    }
}

HRESULT CSerialPortObject::get_Active(VARIANT_BOOL* pVal) {
    return pVal == nullptr
               ? E_POINTER
               : ReturnValue(pVal, GetPort()->IsActive() ? VARIANT_TRUE : VARIANT_FALSE);
}

HRESULT CSerialPortObject::Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse, LONG,
                                    VARIANT*, LONG* pStatus) {
    if (pResponse == nullptr || pStatus == nullptr) {
        return E_POINTER;
    }
    COleSafeArrayEx helper;
    CByteArray bytes;
    CByteArray answer;
    HRESULT hr = S_OK;
    LONG nStatus = MODBUS_SERVER_STATUS_BASE + MODBUS_WRITE_ERROR;
    if (!helper.ToByteArray(bytes, &request) || nRequestLength < 2 ||
        size_t(nRequestLength) > bytes.size() || size_t(nRequestLength) > CFrameParser::MAX_ADU) {
        hr = E_INVALIDARG;
    } else {
        nStatus = GetPort()->Exchange(bytes.data(), size_t(nRequestLength), answer);
    }
    // The caller's variant may hold anything; it is replaced.
    if (!helper.FromByteArray(answer, pResponse, VT_UI1) && SUCCEEDED(hr)) {
        hr = E_OUTOFMEMORY;
    }
    *pStatus = nStatus;
    return hr;
}

HRESULT CSerialPortObject::get_TcpServer(IDispatch** ppVal) {
    if (ppVal == nullptr) {
        return E_POINTER;
    }
    return GetPort()->GetGateway(ppVal);
}
