#include "FakeTcpServer.h"

#include "FakeSerialPort.h"

CFakeTcpServer::CFakeTcpServer() {
    ++CFakeSerialPort::s_nLiveObjects;
}

CFakeTcpServer::~CFakeTcpServer() {
    --CFakeSerialPort::s_nLiveObjects;
}

HRESULT CFakeTcpServer::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IModbusTcpServer) {
        *ppv = static_cast<IModbusTcpServer*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CFakeTcpServer::Release() {
    ULONG nLeft = --m_nRefs;
    if (nLeft == 0) {
        delete this;
    }
    return nLeft;
}

HRESULT CFakeTcpServer::get_Address(BSTR* pVal) {
    std::lock_guard<std::mutex> guard(m_mutex);
    *pVal = SysAllocStringLen(m_strAddress.data(), static_cast<UINT>(m_strAddress.size()));
    return S_OK;
}

HRESULT CFakeTcpServer::put_Address(BSTR newVal) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_strAddress.assign(newVal != nullptr ? newVal : u"", SysStringLen(newVal));
    return S_OK;
}

HRESULT CFakeTcpServer::get_Port(LONG* pVal) {
    *pVal = m_nPort;
    return S_OK;
}

HRESULT CFakeTcpServer::put_Port(SHORT newVal) {
    m_nPort = static_cast<WORD>(newVal);
    return S_OK;
}

HRESULT CFakeTcpServer::Start(VARIANT_BOOL* pResult) {
    m_bRunning = true;
    *pResult = VARIANT_TRUE;
    return S_OK;
}

HRESULT CFakeTcpServer::Stop(VARIANT_BOOL* pResult) {
    *pResult = m_bRunning.exchange(false) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CFakeTcpServer::get_Running(VARIANT_BOOL* pVal) {
    *pVal = m_bRunning ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
