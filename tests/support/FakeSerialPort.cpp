#include "tests/support/FakeSerialPort.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

std::atomic<int> g_nLiveFakes{0};
std::atomic<int> g_nMostRunning{0};

namespace {
std::atomic<int> g_nTransfersRunning{0};

void PutLong(VARIANT* pvar, DWORD dw) {
    pvar->vt = VT_ARRAY | VT_UI1;
    pvar->parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    __builtin_memcpy(pvar->parray->pvData, &dw, 4);
}

void Sleep(int nMillis) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nMillis));
}

// Answers a command request; false when the request is none or asks for an echo.
bool RunCommand(const VARIANT& request, VARIANT* pResponse) {
    const SAFEARRAY* psa = request.parray;
    if (request.vt != (VT_ARRAY | VT_UI1) || psa == nullptr || psa->rgsabound[0].cElements < 4 ||
        static_cast<BYTE*>(psa->pvData)[0] != FAKE_COMMAND) {
        return false;
    }
    const auto* pb = static_cast<const BYTE*>(psa->pvData);
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(pb[2] + 256 * pb[3]);
    switch (pb[1]) {
        case 0x01:
            PutLong(pResponse, static_cast<DWORD>(g_nLiveFakes.load()));
            return true;
        case 0x02:
            std::this_thread::sleep_until(until);
            return false;
        case 0x03:
            Sleep(100);
            ::kill(::getpid(), SIGKILL);
            return true;
        case 0x04:
            PutLong(pResponse, static_cast<DWORD>(::getpid()));
            return true;
        case 0x05:
            while (g_nTransfersRunning < 2 && std::chrono::steady_clock::now() < until) {
                Sleep(2);
            }
            Sleep(20);  // lets the other one see this one too
            return false;
        default:
            return false;
    }
}
}  // namespace

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

HRESULT CFakeSerialPort::SelectPort(BSTR name, LONG nOne, SHORT* pResult) {
    std::string strName = BstrToString(name);
    *pResult = static_cast<SHORT>(strName.size() == 4 && nOne == 1 ? strName[3] - '0' : -1);
    return S_OK;
}

HRESULT CFakeSerialPort::Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse,
                                  LONG nResponseLength, VARIANT* pExtra, LONG* pStatus) {
    if (nRequestLength == -1) {
        *pStatus = 123;
        return FAKE_TRANSFER_FAILED;
    }
    int nRunning = ++g_nTransfersRunning;
    for (int nMost = g_nMostRunning; nRunning > nMost;) {
        if (g_nMostRunning.compare_exchange_weak(nMost, nRunning)) {
            break;
        }
    }
    if (!RunCommand(request, pResponse)) {
        VariantCopy(pResponse, &request);
    }
    --g_nTransfersRunning;
    if (pExtra != nullptr && pExtra->vt == VT_I2) {
        ++pExtra->iVal;
    } else if (pExtra != nullptr && pExtra->vt == VT_EMPTY) {
        pExtra->vt = VT_BSTR;
        pExtra->bstrVal = AllocBstr("extra");
    }
    *pStatus = nRequestLength * 1000 + nResponseLength + (pExtra == nullptr ? 500 : 0);
    return S_OK;
}

HRESULT CFakeSerialPort::get_TcpServer(IDispatch** ppVal) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pTcpServer == nullptr) {
        m_pTcpServer.Attach(new CFakeTcpServer());
    }
    *ppVal = CComPtr<CFakeTcpServer>(m_pTcpServer).Detach();
    return S_OK;
}

HRESULT CFakeClassFactory::CreateInstance(IUnknown*, REFIID riid, void** ppv) {
    CComPtr<CFakeSerialPort> pPort;
    pPort.Attach(new CFakeSerialPort());
    return pPort->QueryInterface(riid, ppv);
}
