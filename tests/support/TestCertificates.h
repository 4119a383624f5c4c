// Certificates made at run time with the openssl command, in a scratch
// directory, for the TLS tests; none is ever checked in. Keys are P-256.
//
//   ca.pem, other-ca.pem      two CAs
//   device.pem/.key           the device, by ca, for 127.0.0.1 and localhost
//   device-other-ca.pem       the same key and names, by other-ca
//   device-expired.pem        the same, by ca, expired a day ago
//   device-other-name.pem     the same, by ca, for other.example only
//   client.pem/.key           a client, by ca
//   client-other-ca.pem       the same key, by other-ca
//   client-expired.pem        the same, by ca, expired a day ago
//   client-enc.key            client.key under the passphrase "secret"
#pragma once

#include <string>

#include "TempDir.h"

class CTestCertificates {
public:
    static constexpr const char* PASSPHRASE = "secret";

    // Makes them all; Ok() tells whether openssl managed.
    CTestCertificates();
    // One set for the whole test program, made at first use.
    static const CTestCertificates& Shared() {
        static const CTestCertificates s_certs;
        return s_certs;
    }

    bool Ok() const { return m_bOk; }
    // The path of one of the files above.
    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

private:
    CTempDir m_dir;
    bool m_bOk = false;
};
