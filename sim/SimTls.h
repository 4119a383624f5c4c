// The simulator's Modbus/TCP Security side: one TLS context (1.2 or 1.3)
// made from the simulator's certificate and key and, when given, the CA
// whose client certificates it then requires and checks. Each accepted
// connection shakes hands and becomes a byte stream for the framer.
#pragma once

#include <memory>

#include "platform/WinTypes.h"
#include "wire/ByteStream.h"

struct ssl_ctx_st;

class CSimTls {
public:
    // A client that connects but does not finish its handshake is let go.
    static constexpr int HANDSHAKE_TIMEOUT_MS = 10000;

    CSimTls() = default;
    ~CSimTls();
    CSimTls(const CSimTls&) = delete;
    CSimTls& operator=(const CSimTls&) = delete;

    // FALSE with strError ("cannot read the certificate file cert.pem")
    // when a file cannot be used. An empty CA file: clients need none.
    BOOL Load(const CString& strCertFile, const CString& strKeyFile, const CString& strCaFile,
              CString& strError);

    // Runs the server's handshake on the accepted hSocket within nMillis or
    // until hStopEvent is readable; nullptr with strWhy ("the client gave no
    // certificate") when it fails. The socket stays its owner's.
    std::unique_ptr<CByteStream> Accept(int hSocket, int hStopEvent, int nMillis,
                                        CString& strWhy) const;

private:
    ssl_ctx_st* m_pCtx = nullptr;
};
