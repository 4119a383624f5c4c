// An in-process stand-in for the serial automation server: properties kept in
// memory, Transfer answered from a script, every call observable. Register
// it behind activation with CFakeServerRegistration.
#pragma once

#include <atomic>
#include <deque>
#include <functional>

#include "platform/com/ComApi.h"
#include "serialapi/ModbusSerialServer.h"
#include "serialapi/OleSafeArrayEx.h"
#include "tests/support/UnusedSlots.h"

// A property kept in a member. Getters may set garbage above the bits
// that count, as a server may.
#define FAKE_PROPERTY(name, getType, putType, member, garbage) \
    HRESULT get_##name(getType* pVal) override {               \
        *pVal = static_cast<getType>((garbage) | member);      \
        return S_OK;                                           \
    }                                                          \
    HRESULT put_##name(putType newVal) override {              \
        member = static_cast<decltype(member)>(newVal);        \
        return S_OK;                                           \
    }

class CFakeTcpServer : public CNoDispatch<IModbusTcpServer> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch ||
            (riid == IID_IModbusTcpServer && m_hrQuery == S_OK)) {
            *ppv = static_cast<IModbusTcpServer*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return riid == IID_IModbusTcpServer ? m_hrQuery : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override { return --m_nRefs; }  // owned by the test
    HRESULT get_Address(BSTR* pVal) override {
        *pVal = AllocBstr(m_strAddress);
        return S_OK;
    }
    HRESULT put_Address(BSTR newVal) override {
        m_strAddress = BstrToString(newVal);
        return S_OK;
    }
    FAKE_PROPERTY(Port, LONG, SHORT, m_nPort, 0)
    HRESULT Start(VARIANT_BOOL* pResult) override {
        m_bRunning = true;
        ++m_nStarts;
        *pResult = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT Stop(VARIANT_BOOL* pResult) override {
        m_bRunning = false;
        *pResult = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT get_Running(VARIANT_BOOL* pVal) override {
        *pVal = m_bRunning ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    std::atomic<int> m_nRefs{0};
    HRESULT m_hrQuery = S_OK;
    CString m_strAddress = "0.0.0.0";
    WORD m_nPort = 502;
    bool m_bRunning = false;
    int m_nStarts = 0;
};

class CFakeSerialServer : public CUnusedSlots<CNoDispatch<IModbusSerialPort>> {
public:
    // One scripted answer of Transfer.
    struct Scripted {
        HRESULT hr = S_OK;
        LONG nStatus = 0;
        // Fills the response VARIANT; by default a VT_UI1 array of bytes.
        std::function<void(VARIANT*)> fill;
        CByteArray bytes;
    };

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IModbusSerialPort) {
            *ppv = static_cast<IModbusSerialPort*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override { return --m_nRefs; }  // owned by the test

    FAKE_PROPERTY(Port, LONG, SHORT, m_nPort, 0x7F00)
    FAKE_PROPERTY(BaudRate, LONG, LONG, m_nBaudRate, 0)
    FAKE_PROPERTY(Parity, SHORT, SHORT, m_nParity, 0x5500)
    FAKE_PROPERTY(FlowControl, LONG, SHORT, m_nFlowControl, 0)
    FAKE_PROPERTY(SilentInterval, LONG, LONG, m_nSilentInterval, 0)
    FAKE_PROPERTY(Timeout, LONG, LONG, m_nTimeout, 0)
    FAKE_PROPERTY(StopBits, SHORT, SHORT, m_nStopBits, 0x3300)
    FAKE_PROPERTY(Mode, SHORT, SHORT, m_nMode, 0)
    FAKE_PROPERTY(ByteSize, SHORT, SHORT, m_nByteSize, 0)
    FAKE_PROPERTY(ErrorDelay, LONG, LONG, m_nErrorDelay, 0)

    HRESULT Connect(VARIANT_BOOL* pResult) override {
        ++m_nConnects;
        m_bActive = m_bConnectSucceeds;
        *pResult = m_bActive ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT SelectPort(BSTR name, LONG nOne, SHORT* pResult) override {
        m_strSelected = BstrToString(name);
        m_nSelectArg = nOne;
        *pResult = 1;
        return S_OK;
    }
    HRESULT get_Active(VARIANT_BOOL* pVal) override {
        *pVal = m_bActive ? m_vbActiveTrue : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse, LONG nResponseLength,
                     VARIANT* pExtra, LONG* pStatus) override {
        COleSafeArrayEx helper;
        m_lastRequest.clear();
        m_bRequestWasArray =
            helper.ToByteArray(m_lastRequest, &request) && request.vt == (VT_ARRAY | VT_UI1);
        m_nLastRequestLength = nRequestLength;
        m_nLastResponseLength = nResponseLength;
        m_vtLastExtra = pExtra != nullptr ? pExtra->vt : VARTYPE(0xFFFF);
        if (m_answers.empty()) {
            *pStatus = MODBUS_SERVER_STATUS_BASE + 1;
            return S_OK;
        }
        Scripted a = m_answers.front();
        m_answers.pop_front();
        if (a.fill) {
            a.fill(pResponse);
        } else {
            helper.FromByteArray(a.bytes, pResponse, VT_UI1);
        }
        *pStatus = a.nStatus;
        return a.hr;
    }
    HRESULT get_TcpServer(IDispatch** ppVal) override {
        if (m_hrTcpServer != S_OK) {
            *ppVal = nullptr;
            return m_hrTcpServer;
        }
        m_tcp.AddRef();
        *ppVal = &m_tcp;
        return S_OK;
    }
    void Answer(CByteArray bytes) {
        Scripted a;
        a.bytes = std::move(bytes);
        m_answers.push_back(a);
    }
    void Fail(LONG nStatus, HRESULT hr = S_OK) {
        Scripted a;
        a.nStatus = nStatus;
        a.hr = hr;
        m_answers.push_back(a);
    }

    std::atomic<int> m_nRefs{0};
    BYTE m_nPort = 1;
    LONG m_nBaudRate = 9600;
    BYTE m_nParity = 0;
    BYTE m_nFlowControl = 0;
    BYTE m_nStopBits = 0;
    SHORT m_nMode = 0;
    SHORT m_nByteSize = 8;
    LONG m_nTimeout = 1000;
    LONG m_nSilentInterval = 5;
    LONG m_nErrorDelay = 100;
    bool m_bActive = false;
    bool m_bConnectSucceeds = true;
    VARIANT_BOOL m_vbActiveTrue = VARIANT_TRUE;
    int m_nConnects = 0;
    CString m_strSelected;
    LONG m_nSelectArg = 0;
    HRESULT m_hrTcpServer = S_OK;
    CFakeTcpServer m_tcp;

    std::deque<Scripted> m_answers;
    CByteArray m_lastRequest;
    bool m_bRequestWasArray = false;
    LONG m_nLastRequestLength = -1;
    LONG m_nLastResponseLength = -1;
    VARTYPE m_vtLastExtra = 0xFFFF;
};

// Hands out one fake server for CLSID_ModbusSerialServer in the contexts given,
// for as long as it lives; records the contexts that activation asked for.
class CFakeServerRegistration : public IClassFactory {
public:
    CFakeServerRegistration(CFakeSerialServer& server, DWORD dwClsContext) : m_server(server) {
        CoRegisterClassObject(CLSID_ModbusSerialServer, this, dwClsContext, REGCLS_MULTIPLEUSE,
                              &m_dwCookie);
    }
    ~CFakeServerRegistration() { CoRevokeClassObject(m_dwCookie); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (pUnkOuter != nullptr) {
            return E_NOINTERFACE;
        }
        if (FAILED(m_hrCreate)) {
            *ppv = nullptr;
            return m_hrCreate;
        }
        return m_server.QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

    CFakeSerialServer& m_server;
    DWORD m_dwCookie = 0;
    HRESULT m_hrCreate = S_OK;
};

#undef FAKE_PROPERTY
