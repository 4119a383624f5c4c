// Builds one frame: the length prefix, the message type and call id, then
// little-endian fields. The length is filled in when the frame is sealed.
#pragma once

#include <vector>

#include "platform/com/OleAuto.h"

class CRpcFrameWriter {
public:
    CRpcFrameWriter(BYTE byType, DWORD dwCallId);

    void PutU8(BYTE by) { m_data.push_back(by); }
    void PutU16(WORD w);
    void PutU32(DWORD dw);
    void PutI16(SHORT n) { PutU16(static_cast<WORD>(n)); }
    void PutI32(LONG n) { PutU32(static_cast<DWORD>(n)); }
    void PutGuid(REFGUID guid);
    void PutBytes(const BYTE* pb, size_t n);
    // A null BSTR stays distinct from an empty one.
    void PutBstr(BSTR bstr);
    // By-reference variants go as the value they refer to. Types outside the
    // remoted set give DISP_E_BADVARTYPE, arrays of more than one dimension
    // E_INVALIDARG; the frame is then unchanged.
    HRESULT PutVariant(const VARIANT& var);

    // Overwrites four bytes at the offset into the body.
    void PatchU32(size_t nBodyOffset, DWORD dw);
    // The frame's call id, set when the call is sent.
    void SetCallId(DWORD dwCallId) { PatchU32(1, dwCallId); }
    DWORD GetCallId() const;
    BYTE GetType() const { return m_data[4]; }
    size_t GetBodySize() const { return m_data.size() - 4; }
    // Writes the length prefix; false when the body is over the maximum.
    bool Seal();
    const std::vector<BYTE>& GetBytes() const { return m_data; }

private:
    // A variant by value: its type, then what it holds.
    HRESULT PutValue(const VARIANT& value);
    HRESULT PutArray(VARTYPE vtElement, SAFEARRAY* psa);

    std::vector<BYTE> m_data;
};
