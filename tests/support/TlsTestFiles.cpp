#include "TlsTestFiles.h"

namespace {
const char kOpenssl[] = "/usr/bin/openssl";

// Runs a program to its end (20 s at most); true when it succeeded.
bool Run(const std::vector<std::string>& argv) {
    CChildProcess process;
    return process.Start(argv, true) && process.Wait(20000) == 0;
}
}  // namespace

CTlsTestFiles::CTlsTestFiles() {
    if (m_dir.Path().empty()) {
        return;
    }
    const std::string strExt = m_dir.WriteFile("ip.ext", "subjectAltName=IP:127.0.0.1\n", 0600);
    m_bMade = Run({kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                   "-nodes", "-keyout", Path("ca.key"), "-out", Path("ca.pem"), "-days", "2",
                   "-subj", "/CN=Regprobe test CA"}) &&
              Signed("device", {"-nodes"}, strExt) &&
              Signed("client", {"-passout", std::string("pass:") + PASSPHRASE}, std::string());
}

bool CTlsTestFiles::Signed(const std::string& strName, const std::vector<std::string>& keyOptions,
                           const std::string& strExtFile) {
    std::vector<std::string> req = {kOpenssl,   "req",
                                    "-newkey",  "ec",
                                    "-pkeyopt", "ec_paramgen_curve:P-256",
                                    "-keyout",  Path(strName + ".key"),
                                    "-out",     Path(strName + ".csr"),
                                    "-subj",    "/CN=" + strName};
    req.insert(req.end(), keyOptions.begin(), keyOptions.end());
    std::vector<std::string> sign = {kOpenssl,
                                     "x509",
                                     "-req",
                                     "-in",
                                     Path(strName + ".csr"),
                                     "-CA",
                                     Path("ca.pem"),
                                     "-CAkey",
                                     Path("ca.key"),
                                     "-CAcreateserial",
                                     "-out",
                                     Path(strName + ".pem"),
                                     "-days",
                                     "2"};
    if (!strExtFile.empty()) {
        sign.insert(sign.end(), {"-extfile", strExtFile});
    }
    return Run(req) && Run(sign);
}

CTlsTestServer::CTlsTestServer(const CTlsTestFiles& files) {
    // -www: it reads requests from the connection, not from its standard
    // input, which is /dev/null here.
    if (!m_process.Start({kOpenssl, "s_server", "-www", "-accept", "127.0.0.1:0", "-cert",
                          files.Path("device.pem"), "-key", files.Path("device.key"), "-CAfile",
                          files.Path("ca.pem"), "-Verify", "1"},
                         true)) {
        return;
    }
    const std::string strPrefix = "ACCEPT 127.0.0.1:";
    std::string strLine;
    for (int i = 0; i < 5 && m_process.ReadLine(strLine, 10000); ++i) {
        if (strLine.rfind(strPrefix, 0) == 0) {
            m_strPort = strLine.substr(strPrefix.size());
            return;
        }
    }
}
