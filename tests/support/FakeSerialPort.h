// The fake serial server of the remoting tests, safe to call from several
// threads. Properties are kept in memory; Transfer echoes its request and
// answers commands, VT_UI1 arrays of F0 (FAKE_COMMAND), a code, lo, hi, ...:
//   01  the number of live fake objects (4 bytes, little-endian)
//   02  sleeps lo + 256 * hi ms, then echoes
//   03  kills its own process with SIGKILL after 100 ms
//   04  the server's process id
//   05  waits until another transfer runs beside it (at most lo + 256 * hi
//       ms), then echoes
// An echo's status is nRequestLength * 1000 + nResponseLength (+ 500 when
// pExtra is null); pExtra comes back as I2 plus one, or an empty one as the
// string "extra". A request length of -1 fails with FAKE_TRANSFER_FAILED
// after setting status 123.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/com/ComPtr.h"
#include "serialapi/ModbusSerialServer.h"
#include "tests/support/UnusedSlots.h"

constexpr BYTE FAKE_COMMAND = 0xF0;
constexpr HRESULT FAKE_TRANSFER_FAILED = static_cast<HRESULT>(0x80040201);

// Fake serial ports and TCP servers alive in this process, and the most
// transfers seen running at once.
extern std::atomic<int> g_nLiveFakes;
extern std::atomic<int> g_nMostRunning;

// Reference counts, QueryInterface and IDispatch (not implemented) of a fake.
template <class Itf>
class CFakeObject : public CRefCounted<CNoDispatch<Itf>> {
public:
    explicit CFakeObject(REFIID riid) : m_riid(riid) { ++g_nLiveFakes; }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != m_riid) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<Itf*>(this);
        this->AddRef();
        return S_OK;
    }

protected:
    ~CFakeObject() override { --g_nLiveFakes; }
    static HRESULT Answer(bool b, VARIANT_BOOL* pResult) {
        *pResult = b ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    const IID& m_riid;
};

// A property kept in memory, read as G and written as P.
#define FAKE_PROPERTY(Name, G, P, init)          \
    HRESULT get_##Name(G* pVal) override {       \
        *pVal = static_cast<G>(m_##Name.load()); \
        return S_OK;                             \
    }                                            \
    HRESULT put_##Name(P newVal) override {      \
        m_##Name = newVal;                       \
        return S_OK;                             \
    }                                            \
    std::atomic<G> m_##Name = init

class CFakeTcpServer : public CFakeObject<IModbusTcpServer> {
public:
    CFakeTcpServer() : CFakeObject(IID_IModbusTcpServer) {}
    HRESULT get_Address(BSTR* pVal) override;
    HRESULT put_Address(BSTR newVal) override;
    FAKE_PROPERTY(Port, LONG, SHORT, 502);
    HRESULT Start(VARIANT_BOOL* pResult) override { return Answer(m_bRunning = true, pResult); }
    HRESULT Stop(VARIANT_BOOL* pResult) override {
        return Answer(m_bRunning.exchange(false), pResult);
    }
    HRESULT get_Running(VARIANT_BOOL* pVal) override { return Answer(m_bRunning, pVal); }

private:
    std::mutex m_mutex;
    std::u16string m_strAddress;
    std::atomic<bool> m_bRunning{false};
};

class CFakeSerialPort : public CUnusedSlots<CFakeObject<IModbusSerialPort>> {
public:
    CFakeSerialPort() : CUnusedSlots(IID_IModbusSerialPort) {}

    FAKE_PROPERTY(Port, LONG, SHORT, 1);
    FAKE_PROPERTY(BaudRate, LONG, LONG, 9600);
    FAKE_PROPERTY(Parity, SHORT, SHORT, 0);
    FAKE_PROPERTY(FlowControl, LONG, SHORT, 0);
    FAKE_PROPERTY(SilentInterval, LONG, LONG, 0);
    FAKE_PROPERTY(Timeout, LONG, LONG, 0);
    FAKE_PROPERTY(StopBits, SHORT, SHORT, 0);
    FAKE_PROPERTY(Mode, SHORT, SHORT, 0);
    FAKE_PROPERTY(ByteSize, SHORT, SHORT, 0);
    FAKE_PROPERTY(ErrorDelay, LONG, LONG, 0);
    HRESULT Connect(VARIANT_BOOL* pResult) override { return Answer(m_bActive = true, pResult); }
    // Answers N for "comN" and 1, -1 otherwise.
    HRESULT SelectPort(BSTR name, LONG nOne, SHORT* pResult) override;
    HRESULT get_Active(VARIANT_BOOL* pVal) override { return Answer(m_bActive, pVal); }
    HRESULT Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse, LONG nResponseLength,
                     VARIANT* pExtra, LONG* pStatus) override;
    HRESULT get_TcpServer(IDispatch** ppVal) override;

private:
    std::atomic<bool> m_bActive{false};
    std::mutex m_mutex;
    CComPtr<CFakeTcpServer> m_pTcpServer;
};

// Makes a new fake serial port for every activation; lives as long as its owner.
class CFakeClassFactory : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = this;
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL) override { return S_OK; }
};
