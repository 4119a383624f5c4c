#include "TlsBench.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "transport/TlsModbus.h"

namespace {
constexpr int kCount = kBenchCount;
constexpr std::array<BYTE, 12> kRequest = {0, 0, 0, 0, 0, 6, 1, 3, 0, 0, 0, kCount};
constexpr size_t kAnswerSize = 9 + 2 * kCount;

// A CA, the simulator's certificate for 127.0.0.1 and a client's, made with
// the openssl command in a directory of our own, removed at the end.
class CBenchCertificates {
public:
    CBenchCertificates() {
        char szDir[] = "/tmp/regprobe-bench-XXXXXX";
        if (::mkdtemp(szDir) == nullptr) {
            throw std::runtime_error("no scratch directory");
        }
        m_strDir = szDir;
        const std::string strCommand = "cd '" + m_strDir + R"(' && (set -e
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }
key ca.key
openssl req -x509 -new -key ca.key -out ca.pem -subj /CN=bench-ca -days 2
for who in device client; do
  key $who.key
  openssl req -new -key $who.key -subj /CN=$who -out $who.csr
  echo subjectAltName=IP:127.0.0.1 > ext.cnf
  openssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile ext.cnf -out $who.pem
done) >/dev/null 2>&1)";
        if (std::system(strCommand.c_str()) != 0) {
            throw std::runtime_error("openssl could not make the bench's certificates");
        }
    }
    ~CBenchCertificates() {
        std::error_code ec;
        std::filesystem::remove_all(m_strDir, ec);
    }
    std::string Path(const char* pszName) const { return m_strDir + "/" + pszName; }

private:
    std::string m_strDir;
};

class COurTls : public COurMaster<CTlsModbus> {
public:
    COurTls(const CBenchCertificates& certs, int nPort) {
        m_master.SetCaFile(certs.Path("ca.pem"));
        m_master.SetCertFile(certs.Path("client.pem"));
        m_master.SetKeyFile(certs.Path("client.key"));
        if (!m_master.Connect("127.0.0.1", static_cast<WORD>(nPort), 2000)) {
            throw std::runtime_error("regprobe TLS master: " + m_master.GetLastCause());
        }
    }
};

// The floor: a blocking socket under OpenSSL's own socket transport, the
// same checks in the handshake, then nothing but SSL_write and SSL_read.
class CRawTls : public CContender {
public:
    CRawTls(const CBenchCertificates& certs, int nPort) {
        m_expected = {0, 0, 0, 0, 0, 3 + 2 * kCount, 1, 3, 2 * kCount};
        for (int i = 0; i < kCount; ++i) {
            m_expected.push_back(HIBYTE(BenchValue(i)));
            m_expected.push_back(LOBYTE(BenchValue(i)));
        }
        m_pCtx = SSL_CTX_new(TLS_client_method());
        if (m_pCtx == nullptr ||
            SSL_CTX_load_verify_file(m_pCtx, certs.Path("ca.pem").c_str()) != 1 ||
            SSL_CTX_use_certificate_chain_file(m_pCtx, certs.Path("client.pem").c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_pCtx, certs.Path("client.key").c_str(),
                                        SSL_FILETYPE_PEM) != 1) {
            throw std::runtime_error("raw TLS: cannot load the certificates");
        }
        SSL_CTX_set_verify(m_pCtx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_read_ahead(m_pCtx, 1);
        Connect(nPort);
    }
    ~CRawTls() override {
        SSL_free(m_pSsl);
        SSL_CTX_free(m_pCtx);
        if (m_h >= 0) {
            ::close(m_h);
        }
    }
    bool Exchange() override {
        size_t nDone = 0;
        if (SSL_write_ex(m_pSsl, kRequest.data(), kRequest.size(), &nDone) != 1) {
            return false;
        }
        size_t nGot = 0;
        while (nGot < kAnswerSize) {
            if (SSL_read_ex(m_pSsl, m_answer + nGot, sizeof m_answer - nGot, &nDone) != 1) {
                return false;
            }
            nGot += nDone;
        }
        return nGot == kAnswerSize && std::memcmp(m_answer, m_expected.data(), nGot) == 0;
    }

private:
    void Connect(int nPort) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(static_cast<uint16_t>(nPort));
        m_h = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        if (m_h < 0 || ::connect(m_h, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
            ::setsockopt(m_h, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
            throw std::runtime_error("raw TLS: cannot connect");
        }
        m_pSsl = SSL_new(m_pCtx);
        if (m_pSsl == nullptr || SSL_set_fd(m_pSsl, m_h) != 1 ||
            SSL_set1_host(m_pSsl, "127.0.0.1") != 1 || SSL_connect(m_pSsl) != 1) {
            throw std::runtime_error("raw TLS: no handshake");
        }
    }

    SSL_CTX* m_pCtx = nullptr;
    SSL* m_pSsl = nullptr;
    int m_h = -1;
    std::vector<BYTE> m_expected;
    BYTE m_answer[64];
};

double Measure(CContender& c, int n) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        if (!c.Exchange()) {
            return 0;
        }
    }
    const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    return n / dt.count();
}

// The simulator serving TLS; its port, or an exception.
int StartSimulator(const CBenchCertificates& certs, CChild& sim) {
    std::string strLine;
    if (!sim.Start({REGPROBE_SIM_PROGRAM, "--transport", "tls", "--listen", "127.0.0.1:0",
                    "--tls-cert", certs.Path("device.pem"), "--tls-key", certs.Path("device.key"),
                    "--tls-ca", certs.Path("ca.pem"), "--holding", BenchValuesArgument()}) ||
        !sim.ReadLine(strLine, 5000) || strLine.rfind("listening on 127.0.0.1:", 0) != 0) {
        throw std::runtime_error("regprobe-sim --transport tls did not start: " + strLine);
    }
    return std::stoi(strLine.substr(strLine.rfind(':') + 1));
}

const char* const kNames[] = {"regprobe", "raw TLS"};

void Print(int nRounds, int nExchanges, const std::vector<double> (&rates)[2]) {
    std::printf("\nModbus/TCP Security: the same read inside TLS %s, kept connection\n",
                OpenSSL_version(OPENSSL_VERSION));
    std::printf("server: regprobe-sim --transport tls (client certificates required)\n");
    std::printf("%d rounds of %d exchanges per contender\n\n", nRounds, nExchanges);
    std::printf("%-11s %14s %12s %12s\n", "contender", "median/s", "min/s", "max/s");
    double medians[2];
    for (int c = 0; c < 2; ++c) {
        const CSpread spread = Spread(rates[c]);
        medians[c] = spread.dMedian;
        std::printf("%-11s %14.0f %12.0f %12.0f\n", kNames[c], spread.dMedian, spread.dMin,
                    spread.dMax);
    }
    const double dRatio = medians[0] / medians[1];
    std::printf("\nours/raw TLS %.3f  goal >=0.90 %s\n", dRatio, dRatio >= 0.9 ? "met" : "NOT met");
}
}  // namespace

int RunTlsBench(int nRounds, int nExchanges) {
    try {
        const CBenchCertificates certs;
        CChild sim;
        const int nPort = StartSimulator(certs, sim);
        std::unique_ptr<CContender> contenders[2] = {std::make_unique<COurTls>(certs, nPort),
                                                     std::make_unique<CRawTls>(certs, nPort)};
        std::vector<double> rates[2];
        for (int round = kWarmUpRound; round < nRounds; ++round) {
            for (int k = 0; k < 2; ++k) {
                const int c = ContenderAt(round, k, 2);
                const double rate = Measure(*contenders[c], ExchangesIn(round, nExchanges));
                if (rate == 0) {
                    std::fprintf(stderr, "%s, TLS: wrong or no answer\n", kNames[c]);
                    return 1;
                }
                if (round != kWarmUpRound) {
                    rates[c].push_back(rate);
                }
            }
        }
        Print(nRounds, nExchanges, rates);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
