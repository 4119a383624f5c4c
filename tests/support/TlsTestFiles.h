// Certificates for the secured connection's tests, made at run time with the
// openssl command in a scratch directory (never checked in), and openssl's
// own TLS server as a peer that asks for the client's certificate.
//
//   ca.pem, ca.key        the CA
//   device.pem/.key       the device, signed by the CA, for IP 127.0.0.1
//   client.pem/.key       a client, signed by the CA; its key is encrypted
//                         with PASSPHRASE
#pragma once

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

class CTlsTestFiles {
public:
    static constexpr const char* PASSPHRASE = "s3cret";

    CTlsTestFiles();
    // Whether openssl made them all.
    bool Made() const { return m_bMade; }
    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

private:
    // NAME.key (with the key options given) and NAME.pem signed by the CA,
    // with the extensions of strExtFile when given.
    bool Signed(const std::string& strName, const std::vector<std::string>& keyOptions,
                const std::string& strExtFile);

    CTempDir m_dir;
    bool m_bMade = false;
};

// openssl s_server on 127.0.0.1, a port of its choosing, with the device's
// certificate, requiring a client certificate signed by the CA. It answers
// no Modbus: a connection is made, a request is never answered.
class CTlsTestServer {
public:
    explicit CTlsTestServer(const CTlsTestFiles& files);
    // Its port, empty when it did not start.
    const std::string& Port() const { return m_strPort; }

private:
    CChildProcess m_process;
    std::string m_strPort;
};
