// The remoting wire format. A frame is a 32-bit little-endian body length
// followed by the body: a message type, a call id and the message's fields.
//
//   CALL      u32 object id, IID, u16 vtable slot, arguments   -> ANSWER
//   ANSWER    i32 HRESULT, out-arguments when the member ran
//   RELEASE   u32 object id                                    (no answer)
//   QUERY     u32 object id, IID                               -> ANSWER [u32 id]
//   ACTIVATE  CLSID                                            -> ANSWER [u32 id]
//   HELLO     u32 magic, u16 version          (server first; the client
//                                              answers with its own)
//
// Over TCP the frames travel inside TLS, whose handshake comes first.
//
// An interface pointer travels as u32 object id (0 for null) and its IID.
#pragma once

#include <cstddef>
#include <vector>

#include "RpcFrameReader.h"
#include "RpcFrameWriter.h"
#include "platform/com/ComBase.h"

enum RPC_MESSAGE : BYTE {
    RPC_MSG_CALL = 1,
    RPC_MSG_ANSWER = 2,
    RPC_MSG_RELEASE = 3,
    RPC_MSG_QUERY = 4,
    RPC_MSG_ACTIVATE = 5,
    RPC_MSG_HELLO = 6,
};

constexpr std::size_t RPC_FRAME_HEADER = 4;
// Type and call id: the smallest body.
constexpr std::size_t RPC_MIN_BODY = 5;
// Checked before anything is allocated for a frame.
constexpr std::size_t RPC_MAX_BODY = 1024 * 1024;
constexpr DWORD RPC_MAGIC = 0x42525052;  // "RPRB"
// Both ends of a connection speak the same version or part at the greeting.
// 2: the client answers the server's greeting.
constexpr WORD RPC_VERSION = 2;
// TCP port of remote activation when the server name carries none.
constexpr WORD RPC_DEFAULT_PORT = 5135;

// Failures the remoting layer adds to the common ones.
constexpr HRESULT RPC_X_BAD_STUB_DATA_HR = static_cast<HRESULT>(0x800706F7);
constexpr HRESULT RPC_S_DUPLICATE_ENDPOINT_HR = static_cast<HRESULT>(0x800706CC);
constexpr HRESULT RPC_S_PROCNUM_OUT_OF_RANGE_HR = static_cast<HRESULT>(0x800706D1);
constexpr HRESULT ERROR_TIMEOUT_HR = static_cast<HRESULT>(0x800705B4);

// This end's greeting.
inline CRpcFrameWriter RpcHello() {
    CRpcFrameWriter hello(RPC_MSG_HELLO, 0);
    hello.PutU32(RPC_MAGIC);
    hello.PutU16(RPC_VERSION);
    return hello;
}

// The version that a greeting of this protocol announces; false for a body
// that is not one, whatever its version.
inline bool RpcReadHello(const std::vector<BYTE>& body, WORD* pwVersion) {
    CRpcFrameReader hello(body.data(), body.size());
    BYTE byType;
    DWORD dwCallId, dwMagic;
    return hello.GetU8(byType) && byType == RPC_MSG_HELLO && hello.GetU32(dwCallId) &&
           hello.GetU32(dwMagic) && dwMagic == RPC_MAGIC && hello.GetU16(*pwVersion);
}
