#include "FakeSerialPort.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

std::atomic<int> CFakeSerialPort::s_nLiveObjects{0};

namespace {
std::atomic<int> g_nTransfersRunning{0};
std::atomic<int> g_nMostRunning{0};

void PutBytes(VARIANT* pvar, const std::vector<BYTE>& bytes) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) {
        __builtin_memcpy(psa->pvData, bytes.data(), bytes.size());
    }
    pvar->vt = VT_ARRAY | VT_UI1;
    pvar->parray = psa;
}

std::vector<BYTE> LittleEndian(DWORD dw) {
    return {BYTE(dw), BYTE(dw >> 8), BYTE(dw >> 16), BYTE(dw >> 24)};
}

void ChangeExtra(VARIANT* pExtra) {
    switch (pExtra->vt) {
        case VT_EMPTY:
            pExtra->vt = VT_BSTR;
            pExtra->bstrVal = AllocBstr("extra");
            break;
        case VT_I2:
            ++pExtra->iVal;
            break;
        case VT_I4:
            ++pExtra->lVal;
            break;
        case VT_BSTR: {
            std::string str = BstrToString(pExtra->bstrVal) + "!";
            SysFreeString(pExtra->bstrVal);
            pExtra->bstrVal = AllocBstr(str);
            break;
        }
        case VT_ARRAY | VT_UI1: {
            SAFEARRAY* psa = pExtra->parray;
            auto* pb = static_cast<BYTE*>(psa->pvData);
            for (ULONG i = 0, j = psa->rgsabound[0].cElements; i + 1 < j; ++i, --j) {
                std::swap(pb[i], pb[j - 1]);
            }
            break;
        }
        default:
            break;
    }
}
}  // namespace

CFakeSerialPort::CFakeSerialPort() {
    ++s_nLiveObjects;
}

CFakeSerialPort::~CFakeSerialPort() {
    if (m_pTcpServer != nullptr) {
        m_pTcpServer->Release();
    }
    --s_nLiveObjects;
}

HRESULT CFakeSerialPort::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IModbusSerialPort) {
        *ppv = static_cast<IModbusSerialPort*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CFakeSerialPort::Release() {
    ULONG nLeft = --m_nRefs;
    if (nLeft == 0) {
        delete this;
    }
    return nLeft;
}

HRESULT CFakeSerialPort::Connect(VARIANT_BOOL* pResult) {
    m_bActive = true;
    *pResult = VARIANT_TRUE;
    return S_OK;
}

HRESULT CFakeSerialPort::SelectPort(BSTR name, LONG nOne, SHORT* pResult) {
    std::string strName = BstrToString(name);
    SHORT nPort = -1;
    if (strName.size() == 4 && strName.compare(0, 3, "com") == 0 && strName[3] >= '1' &&
        strName[3] <= '8' && nOne == 1) {
        nPort = static_cast<SHORT>(strName[3] - '0');
        m_nPort = nPort;
    }
    if (pResult != nullptr) {
        *pResult = nPort;
    }
    return S_OK;
}

HRESULT CFakeSerialPort::get_Active(VARIANT_BOOL* pVal) {
    *pVal = m_bActive ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

bool CFakeSerialPort::RunCommand(const VARIANT& request, VARIANT* pResponse) {
    if (request.vt != (VT_ARRAY | VT_UI1) || request.parray == nullptr ||
        request.parray->rgsabound[0].cElements < 2 ||
        static_cast<BYTE*>(request.parray->pvData)[0] != FAKE_COMMAND) {
        return false;
    }
    const auto* pb = static_cast<const BYTE*>(request.parray->pvData);
    ULONG n = request.parray->rgsabound[0].cElements;
    switch (pb[1]) {
        case 0x01:
            PutBytes(pResponse, LittleEndian(static_cast<DWORD>(s_nLiveObjects.load())));
            return true;
        case 0x02:
            if (n >= 4) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pb[2] + 256 * pb[3]));
            }
            return false;
        case 0x03:
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::kill(::getpid(), SIGKILL);
            return true;
        case 0x04:
            PutBytes(pResponse, LittleEndian(static_cast<DWORD>(::getpid())));
            return true;
        case 0x05:
            PutBytes(pResponse, LittleEndian(static_cast<DWORD>(g_nMostRunning.exchange(0))));
            return true;
        case 0x06:
            // Waits for a second transfer to run beside this one, or gives up.
            if (n >= 4) {
                auto until = std::chrono::steady_clock::now() +
                             std::chrono::milliseconds(pb[2] + 256 * pb[3]);
                while (g_nTransfersRunning < 2 && std::chrono::steady_clock::now() < until) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                // Let the other one see this one too.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            return false;
        default:
            return false;
    }
}

HRESULT CFakeSerialPort::Transfer(VARIANT request, LONG nRequestLength, VARIANT* pResponse,
                                  LONG nResponseLength, VARIANT* pExtra, LONG* pStatus) {
    if (nRequestLength == -1) {
        if (pStatus != nullptr) {
            *pStatus = 123;
        }
        return FAKE_TRANSFER_FAILED;
    }
    int nRunning = ++g_nTransfersRunning;
    for (int nMost = g_nMostRunning; nRunning > nMost;) {
        if (g_nMostRunning.compare_exchange_weak(nMost, nRunning)) {
            break;
        }
    }
    if (pResponse != nullptr && !RunCommand(request, pResponse)) {
        VariantCopy(pResponse, &request);
    }
    --g_nTransfersRunning;
    if (pExtra != nullptr) {
        ChangeExtra(pExtra);
    }
    if (pStatus != nullptr) {
        *pStatus = nRequestLength * 1000 + nResponseLength + (pExtra == nullptr ? 500 : 0);
    }
    return S_OK;
}

HRESULT CFakeSerialPort::get_TcpServer(IDispatch** ppVal) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pTcpServer == nullptr) {
        m_pTcpServer = new CFakeTcpServer();
    }
    m_pTcpServer->AddRef();
    *ppVal = m_pTcpServer;
    return S_OK;
}
