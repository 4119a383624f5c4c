#include "TestCertificates.h"

#include <cstdlib>

namespace {
// Runs in the directory; every step must work.
const char kScript[] = R"(set -e
exec 2>openssl.log
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }
ca() {
  key "$1.key"
  openssl req -x509 -new -key "$1.key" -out "$1.pem" -subj "/CN=$2" -days 2 \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
}
# sign CSR CA OUT DAYS NAMES
sign() {
  printf 'subjectAltName=%s\n' "$5" > ext.cnf
  openssl x509 -req -in "$1" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -out "$3" \
    -days "$4" -extfile ext.cnf
}
ca ca "Regprobe Test CA"
ca other-ca "Other Test CA"
key device.key
openssl req -new -key device.key -subj /CN=device -out device.csr
sign device.csr ca device.pem 2 'IP:127.0.0.1,DNS:localhost'
sign device.csr other-ca device-other-ca.pem 2 'IP:127.0.0.1,DNS:localhost'
sign device.csr ca device-expired.pem -1 'IP:127.0.0.1,DNS:localhost'
sign device.csr ca device-other-name.pem 2 'DNS:other.example'
key client.key
openssl req -new -key client.key -subj /CN=client -out client.csr
sign client.csr ca client.pem 2 'DNS:client'
sign client.csr other-ca client-other-ca.pem 2 'DNS:client'
sign client.csr ca client-expired.pem -1 'DNS:client'
openssl pkey -in client.key -aes256 -passout pass:secret -out client-enc.key
)";
}  // namespace

CTestCertificates::CTestCertificates() {
    if (m_dir.Path().empty()) {
        return;
    }
    const std::string strScript = m_dir.WriteFile("make.sh", kScript, 0600);
    const std::string strCommand = "cd '" + m_dir.Path() + "' && sh ./make.sh";
    m_bOk = std::system(strCommand.c_str()) == 0;
}
