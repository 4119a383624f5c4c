// The shapes of property members on the stub side: a getter has no
// arguments and one out-value, a setter one argument and none.
#pragma once

#include "RpcFrame.h"
#include "RpcFrameReader.h"
#include "RpcFrameWriter.h"
#include "platform/com/ComPtr.h"

inline bool RpcGetArg(CRpcFrameReader& args, LONG& n) {
    return args.GetI32(n);
}
inline bool RpcGetArg(CRpcFrameReader& args, SHORT& n) {
    return args.GetI16(n);
}
inline void RpcPutResult(CRpcFrameWriter& results, LONG n) {
    results.PutI32(n);
}
inline void RpcPutResult(CRpcFrameWriter& results, SHORT n) {
    results.PutI16(n);
}

template <typename T, typename Member>
HRESULT RpcStubGet(CRpcFrameReader& args, CRpcFrameWriter& results, Member member) {
    if (!args.IsDone()) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    T value = 0;
    HRESULT hr = member(&value);
    RpcPutResult(results, value);
    return hr;
}

template <typename T, typename Member>
HRESULT RpcStubPut(CRpcFrameReader& args, Member member) {
    T value;
    if (!RpcGetArg(args, value) || !args.IsDone()) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return member(value);
}

// A string getter: the string the member returns is the stub's to free.
template <typename Member>
HRESULT RpcStubGetBstr(CRpcFrameReader& args, CRpcFrameWriter& results, Member member) {
    if (!args.IsDone()) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    CComBSTR bstr;
    HRESULT hr = member(&bstr);
    results.PutBstr(bstr);
    return hr;
}

// A string setter: the member gets a copy that the stub frees afterwards,
// as an in-process caller would keep its own.
template <typename Member>
HRESULT RpcStubPutBstr(CRpcFrameReader& args, Member member) {
    CComBSTR bstr;
    if (!args.GetBstr(&bstr) || !args.IsDone()) {
        return RPC_X_BAD_STUB_DATA_HR;
    }
    return member(bstr);
}
