// Feeds arbitrary bytes to the remoting decoder (the same for a local socket
// and for what TLS has taken out of its records): as a stream of frames whose
// messages are taken apart field by field, and as the arguments of every
// member of the serial server's stubs, called on a small object that keeps
// nothing. A variant that decodes must encode to the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/rpc/RpcFrame.h"
#include "platform/com/rpc/RpcFrameReader.h"
#include "platform/com/rpc/RpcFrameWriter.h"
#include "platform/com/rpc/RpcInterfaceHandler.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "tests/support/UnusedSlots.h"

namespace {

class CQuietTcpServer : public CNoDispatch<IModbusTcpServer> {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT get_Address(BSTR* pVal) override {
        *pVal = SysAllocString(u"10.0.0.1");
        return S_OK;
    }
    HRESULT put_Address(BSTR newVal) override { return SysStringLen(newVal) > 15 ? E_FAIL : S_OK; }
    HRESULT get_Port(LONG* pVal) override {
        *pVal = 502;
        return S_OK;
    }
    HRESULT put_Port(SHORT) override { return S_OK; }
    HRESULT Start(VARIANT_BOOL* pResult) override {
        *pResult = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT Stop(VARIANT_BOOL* pResult) override {
        *pResult = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT get_Running(VARIANT_BOOL* pVal) override {
        *pVal = VARIANT_FALSE;
        return S_OK;
    }
};

#define QUIET_PROPERTY(name, GetType, PutType)   \
    HRESULT get_##name(GetType* pVal) override { \
        *pVal = 1;                               \
        return S_OK;                             \
    }                                            \
    HRESULT put_##name(PutType) override {       \
        return S_OK;                             \
    }

// Answers like a serial server without a line: echoes requests, changes
// the extra, hands out its TCP server.
class CQuietSerialPort : public CUnusedSlots<CNoDispatch<IModbusSerialPort>> {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    QUIET_PROPERTY(Port, LONG, SHORT)
    QUIET_PROPERTY(BaudRate, LONG, LONG)
    QUIET_PROPERTY(Parity, SHORT, SHORT)
    QUIET_PROPERTY(FlowControl, LONG, SHORT)
    HRESULT Connect(VARIANT_BOOL* pResult) override {
        *pResult = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT SelectPort(BSTR name, LONG, SHORT* pResult) override {
        if (pResult != nullptr) {
            *pResult = static_cast<SHORT>(SysStringLen(name));
        }
        return S_OK;
    }
    HRESULT get_Active(VARIANT_BOOL* pVal) override {
        *pVal = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT Transfer(VARIANT request, LONG, VARIANT* pResponse, LONG, VARIANT* pExtra,
                     LONG* pStatus) override {
        if (pResponse != nullptr) {
            VariantCopy(pResponse, &request);
        }
        if (pExtra != nullptr && pExtra->vt == VT_I2) {
            ++pExtra->iVal;
        } else if (pExtra != nullptr) {
            VariantClear(pExtra);
        }
        if (pStatus != nullptr) {
            *pStatus = 0;
        }
        return S_OK;
    }
    HRESULT get_TcpServer(IDispatch** ppVal) override {
        *ppVal = &m_tcp;
        return S_OK;
    }
    QUIET_PROPERTY(SilentInterval, LONG, LONG)
    QUIET_PROPERTY(Timeout, LONG, LONG)
    QUIET_PROPERTY(StopBits, SHORT, SHORT)
    QUIET_PROPERTY(Mode, SHORT, SHORT)
    QUIET_PROPERTY(ByteSize, SHORT, SHORT)
    QUIET_PROPERTY(ErrorDelay, LONG, LONG)

private:
    CQuietTcpServer m_tcp;
};

class CDiscardingExporter : public CRpcObjectExporter {
public:
    void PutInterface(CRpcFrameWriter& results, IUnknown* pItf, REFIID riid) override {
        results.PutU32(pItf != nullptr ? 1 : 0);
        results.PutGuid(riid);
        CComPtr<IUnknown> pDropped;
        pDropped.Attach(pItf);
    }
};

void CheckReencodes(const VARIANT& var, const BYTE* pbFrom, size_t n) {
    CRpcFrameWriter writer(RPC_MSG_ANSWER, 0);
    if (FAILED(writer.PutVariant(var))) {
        __builtin_trap();
    }
    const std::vector<BYTE>& bytes = writer.GetBytes();
    size_t nHeader = RPC_FRAME_HEADER + RPC_MIN_BODY;
    if (bytes.size() - nHeader != n || __builtin_memcmp(bytes.data() + nHeader, pbFrom, n) != 0) {
        __builtin_trap();
    }
}

// Reads what follows a message's fixed fields: strings and variants.
void TakeValues(CRpcFrameReader& reader, const BYTE* pbBody, size_t nBody) {
    for (int i = 0; i < 64 && reader.IsOk() && reader.GetRemaining() > 0; ++i) {
        size_t nStart = nBody - reader.GetRemaining();
        VARIANT var;
        if (reader.GetVariant(&var)) {
            CheckReencodes(var, pbBody + nStart, nBody - reader.GetRemaining() - nStart);
            VariantClear(&var);
        } else {
            CRpcFrameReader retry(pbBody + nStart, nBody - nStart);
            CComBSTR bstr;
            retry.GetBstr(&bstr);
        }
    }
}

void DecodeFrames(const BYTE* pb, size_t n) {
    while (n >= RPC_FRAME_HEADER) {
        size_t nBody = CRpcFrameReader::BodyLengthOf(pb);
        if (nBody == 0 || nBody > n - RPC_FRAME_HEADER) {
            return;
        }
        const BYTE* pbBody = pb + RPC_FRAME_HEADER;
        CRpcFrameReader reader(pbBody, nBody);
        BYTE byType;
        DWORD dwCallId, dwObjectId;
        LONG hr;
        WORD wSlot;
        GUID guid;
        WORD wVersion;
        reader.GetU8(byType);
        reader.GetU32(dwCallId);
        switch (byType) {
            case RPC_MSG_CALL:
                (void)(reader.GetU32(dwObjectId) && reader.GetGuid(guid) && reader.GetU16(wSlot));
                break;
            case RPC_MSG_ANSWER:
                reader.GetI32(hr);
                break;
            case RPC_MSG_QUERY:
                (void)(reader.GetU32(dwObjectId) && reader.GetGuid(guid));
                break;
            case RPC_MSG_ACTIVATE:
                reader.GetGuid(guid);
                break;
            case RPC_MSG_HELLO:
                (void)(reader.GetU32(dwObjectId) && reader.GetU16(wVersion));
                break;
            default:
                reader.GetU32(dwObjectId);
                break;
        }
        TakeValues(reader, pbBody, nBody);
        pb += RPC_FRAME_HEADER + nBody;
        n -= RPC_FRAME_HEADER + nBody;
    }
}

void CallStubs(const BYTE* pb, size_t n) {
    static bool s_bRegistered = SUCCEEDED(RegisterModbusSerialServerPs());
    static CQuietSerialPort s_port;
    static CQuietTcpServer s_tcp;
    if (!s_bRegistered || n < 2) {
        return;
    }
    bool bPort = pb[0] & 1;
    CRpcInterfaceHandler* pHandler =
        RpcFindInterfaceHandler(bPort ? IID_IModbusSerialPort : IID_IModbusTcpServer);
    CRpcFrameReader args(pb + 2, n - 2);
    CRpcFrameWriter results(RPC_MSG_ANSWER, 0);
    CDiscardingExporter exporter;
    void* pItf = bPort ? static_cast<void*>(static_cast<IModbusSerialPort*>(&s_port))
                       : static_cast<void*>(static_cast<IModbusTcpServer*>(&s_tcp));
    pHandler->Invoke(pItf, pb[1] % 64, args, results, exporter);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 2 * RPC_MAX_BODY) {
        return 0;
    }
    if (data[0] & 0x80) {
        CallStubs(data + 1, size - 1);
    } else {
        DecodeFrames(data + 1, size - 1);
    }
    return 0;
}
