// A plain TCP socket as a byte stream; the socket stays its owner's.
#pragma once

#include "ByteStream.h"

class CSocketStream : public CByteStream {
public:
    explicit CSocketStream(int hSocket) : m_hSocket(hSocket) {}

    int Handle() const override { return m_hSocket; }
    ssize_t Receive(BYTE* pb, size_t n) override;
    // A blocking send bounded by the socket's send time-out.
    bool Send(const BYTE* pb, size_t n) override;

private:
    int m_hSocket;
};
