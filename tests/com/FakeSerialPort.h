// A serial-port server object for the remoting tests, safe to call from
// several threads. Properties are kept in memory; Transfer echoes its
// request (any variant type) and answers a few commands given as a VT_UI1
// array starting with FAKE_COMMAND:
//   F0 01           the number of live fake objects (4 bytes, little-endian)
//   F0 02 lo hi ..  sleeps lo + 256 * hi ms, then echoes
//   F0 03           kills its own process with SIGKILL after 100 ms
//   F0 04           the server's process id (4 bytes, little-endian)
//   F0 05           the most transfers seen running at once, then forgets it
//   F0 06 lo hi ..  waits until another transfer runs beside it, at most
//                   lo + 256 * hi ms, then echoes
// An echo's status is nRequestLength * 1000 + nResponseLength (+ 500 when
// pExtra is null); pExtra comes back changed: I2/I4 plus one, a string with
// "!" appended, a byte array reversed, an empty variant as the string
// "extra". A request length of -1 fails with FAKE_TRANSFER_FAILED after
// setting status 123.
#pragma once

#include <atomic>
#include <mutex>

#include "FakeTcpServer.h"

constexpr BYTE FAKE_COMMAND = 0xF0;
constexpr HRESULT FAKE_TRANSFER_FAILED = static_cast<HRESULT>(0x80040201);

class CFakeSerialPort : public IModbusSerialPort {
public:
    // Fake serial ports and TCP servers alive in this process.
    static std::atomic<int> s_nLiveObjects;

    CFakeSerialPort();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT get_Port(LONG* pVal) override { return Get(m_nPort, pVal); }
    HRESULT put_Port(SHORT newVal) override { return Put(m_nPort, newVal); }
    HRESULT get_BaudRate(LONG* pVal) override { return Get(m_nBaudRate, pVal); }
    HRESULT put_BaudRate(LONG newVal) override { return Put(m_nBaudRate, newVal); }
    HRESULT get_Parity(SHORT* pVal) override { return Get(m_nParity, pVal); }
    HRESULT put_Parity(SHORT newVal) override { return Put(m_nParity, newVal); }
    HRESULT get_FlowControl(LONG* pVal) override { return Get(m_nFlowControl, pVal); }
    HRESULT put_FlowControl(SHORT newVal) override { return Put(m_nFlowControl, newVal); }
    HRESULT Connect(VARIANT_BOOL* pResult) override;
    // "comN" selects port N and answers N; other names answer -1.
    HRESULT SelectPort(BSTR name, LONG nOne, SHORT* pResult) override;
    HRESULT Reserved18() override { return E_NOTIMPL; }
    HRESULT Reserved19() override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }
    HRESULT Reserved21() override { return E_NOTIMPL; }
    HRESULT Reserved22() override { return E_NOTIMPL; }
    HRESULT Reserved23() override { return E_NOTIMPL; }
    HRESULT Reserved24() override { return E_NOTIMPL; }
    HRESULT Reserved25() override { return E_NOTIMPL; }
    HRESULT Reserved26() override { return E_NOTIMPL; }
    HRESULT Reserved27() override { return E_NOTIMPL; }
    HRESULT Reserved28() override { return E_NOTIMPL; }
    HRESULT Reserved29() override { return E_NOTIMPL; }
    HRESULT get_Active(VARIANT_BOOL* pVal) override;
    HRESULT Reserved31() override { return E_NOTIMPL; }
    HRESULT Reserved32() override { return E_NOTIMPL; }
    HRESULT Reserved33() override { return E_NOTIMPL; }
    HRESULT Reserved34() override { return E_NOTIMPL; }
    HRESULT Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse, LONG nResponseLength,
                     VARIANT* pExtra, LONG* pStatus) override;
    HRESULT get_TcpServer(IDispatch** ppVal) override;
    HRESULT Reserved37() override { return E_NOTIMPL; }
    HRESULT get_SilentInterval(LONG* pVal) override { return Get(m_nSilentInterval, pVal); }
    HRESULT put_SilentInterval(LONG newVal) override { return Put(m_nSilentInterval, newVal); }
    HRESULT get_Timeout(LONG* pVal) override { return Get(m_nTimeout, pVal); }
    HRESULT put_Timeout(LONG newVal) override { return Put(m_nTimeout, newVal); }
    HRESULT get_StopBits(SHORT* pVal) override { return Get(m_nStopBits, pVal); }
    HRESULT put_StopBits(SHORT newVal) override { return Put(m_nStopBits, newVal); }
    HRESULT get_Mode(SHORT* pVal) override { return Get(m_nMode, pVal); }
    HRESULT put_Mode(SHORT newVal) override { return Put(m_nMode, newVal); }
    HRESULT get_ByteSize(SHORT* pVal) override { return Get(m_nByteSize, pVal); }
    HRESULT put_ByteSize(SHORT newVal) override { return Put(m_nByteSize, newVal); }
    HRESULT Reserved48() override { return E_NOTIMPL; }
    HRESULT get_ErrorDelay(LONG* pVal) override { return Get(m_nErrorDelay, pVal); }
    HRESULT put_ErrorDelay(LONG newVal) override { return Put(m_nErrorDelay, newVal); }

private:
    virtual ~CFakeSerialPort();

    template <typename T, typename V>
    static HRESULT Get(const std::atomic<T>& field, V* pVal) {
        *pVal = static_cast<V>(field.load());
        return S_OK;
    }
    template <typename T, typename V>
    static HRESULT Put(std::atomic<T>& field, V newVal) {
        field = static_cast<T>(newVal);
        return S_OK;
    }
    // Answers a command request; false when the request is none.
    bool RunCommand(const VARIANT& request, VARIANT* pResponse);

    std::atomic<ULONG> m_nRefs{1};
    std::atomic<LONG> m_nPort{1};
    std::atomic<LONG> m_nBaudRate{9600};
    std::atomic<SHORT> m_nParity{0};
    std::atomic<LONG> m_nFlowControl{0};
    std::atomic<SHORT> m_nStopBits{0};
    std::atomic<SHORT> m_nMode{0};
    std::atomic<SHORT> m_nByteSize{8};
    std::atomic<LONG> m_nTimeout{1000};
    std::atomic<LONG> m_nSilentInterval{5};
    std::atomic<LONG> m_nErrorDelay{100};
    std::atomic<bool> m_bActive{false};
    std::mutex m_mutex;
    CFakeTcpServer* m_pTcpServer = nullptr;
};
