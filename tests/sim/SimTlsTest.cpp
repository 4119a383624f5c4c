// The simulator's TLS side: requests that OpenSSL holds after reading them
// off the socket, the fault rules inside TLS, and files it cannot use.
#include "sim/SimTls.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include "sim/SimTcpServer.h"
#include "tests/support/SimRule.h"
#include "tests/support/PeerSocket.h"
#include "tests/support/TestCertificates.h"
#include "transport/TlsModbus.h"

namespace {
const CTestCertificates& Certs() {
    return CTestCertificates::Shared();
}

constexpr DWORD TIMEOUT_MS = 2000;

class SimTls : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Certs().Ok()) << "openssl could not make the test certificates";
        m_device.SetHoldingRegister(0, 0x0102);
        m_device.SetHoldingRegister(1, 0x0304);
        auto pTls = std::make_shared<CSimTls>();
        CString strError;
        ASSERT_TRUE(pTls->Load(Path("device.pem"), Path("device.key"), Path("ca.pem"), strError))
            << strError;
        m_server.SetTls(pTls);
        ASSERT_TRUE(m_server.Start()) << m_server.GetError();
    }
    static std::string Path(const char* pszName) { return Certs().Path(pszName); }

    CSimDevice m_device;
    CSimTcpServer m_server{m_device};
};

// A bare TLS client whose records can be sent together in one segment.
class CTlsClient {
public:
    CTlsClient(WORD nPort, const CTestCertificates& certs) : m_raw(nPort) {
        m_pCtx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_file(m_pCtx, certs.Path("ca.pem").c_str());
        SSL_CTX_use_certificate_chain_file(m_pCtx, certs.Path("client.pem").c_str());
        SSL_CTX_use_PrivateKey_file(m_pCtx, certs.Path("client.key").c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_set_verify(m_pCtx, SSL_VERIFY_PEER, nullptr);
        m_pSsl = SSL_new(m_pCtx);
        const timeval tv{2, 0};
        ::setsockopt(m_raw.m_hSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        m_bConnected = m_raw.m_bConnected && SSL_set_fd(m_pSsl, m_raw.m_hSocket) == 1 &&
                       SSL_connect(m_pSsl) == 1;
    }
    ~CTlsClient() {
        SSL_free(m_pSsl);
        SSL_CTX_free(m_pCtx);
    }
    // Each request its own record, all in one send.
    void SendTogether(const std::vector<CByteArray>& requests) {
        BIO* pSocketBio = SSL_get_wbio(m_pSsl);
        BIO_up_ref(pSocketBio);
        BIO* pMemory = BIO_new(BIO_s_mem());
        SSL_set0_wbio(m_pSsl, pMemory);
        for (const CByteArray& request : requests) {
            size_t nDone = 0;
            ASSERT_EQ(SSL_write_ex(m_pSsl, request.data(), request.size(), &nDone), 1);
        }
        BUF_MEM* pBuffer = nullptr;
        BIO_get_mem_ptr(pMemory, &pBuffer);
        m_raw.Send(CByteArray(pBuffer->data, pBuffer->data + pBuffer->length));
        SSL_set0_wbio(m_pSsl, pSocketBio);
    }
    CByteArray Receive(size_t n) {
        CByteArray got(n);
        size_t nGot = 0;
        size_t nDone = 0;
        while (nGot < n && SSL_read_ex(m_pSsl, got.data() + nGot, n - nGot, &nDone) == 1) {
            nGot += nDone;
        }
        got.resize(nGot);
        return got;
    }

    CRawClient m_raw;
    SSL_CTX* m_pCtx = nullptr;
    SSL* m_pSsl = nullptr;
    bool m_bConnected = false;
};

CByteArray ReadRequest(BYTE byId, BYTE byAddress) {
    return {0, byId, 0, 0, 0, 6, 1, 3, 0, byAddress, 0, 1};
}

TEST_F(SimTls, RequestsReadOffTheSocketTogetherAreAllAnswered) {
    CTlsClient client(m_server.GetPort(), Certs());
    ASSERT_TRUE(client.m_bConnected);
    client.SendTogether({ReadRequest(1, 0), ReadRequest(2, 1), ReadRequest(3, 0)});
    EXPECT_EQ(client.Receive(33), (CByteArray{0, 1, 0, 0, 0, 5, 1, 3, 2, 1, 2,  //
                                              0, 2, 0, 0, 0, 5, 1, 3, 2, 3, 4,  //
                                              0, 3, 0, 0, 0, 5, 1, 3, 2, 1, 2}));
}

struct SFaultCase {
    const char* pszRule;
    WORD wStatus;
};

class SimTlsFault : public SimTls, public testing::WithParamInterface<SFaultCase> {};

TEST_P(SimTlsFault, AppliesInsideTls) {
    m_server.AddFault(Rule(GetParam().pszRule));
    CTlsModbus master;
    master.SetCaFile(Path("ca.pem"));
    master.SetCertFile(Path("client.pem"));
    master.SetKeyFile(Path("client.key"));
    ASSERT_TRUE(master.Connect("127.0.0.1", m_server.GetPort(), TIMEOUT_MS))
        << master.GetLastCause();
    CWordArray values(2);
    EXPECT_EQ(master.ReadOutputRegisters(1, 0, 2, values), GetParam().wStatus);
    if (GetParam().wStatus == MODBUS_OK) {
        EXPECT_EQ(values, (CWordArray{0x0102, 0x0304}));
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, SimTlsFault,
                         testing::Values(SFaultCase{"split-header=20", MODBUS_OK},
                                         SFaultCase{"byte-by-byte=1", MODBUS_OK},
                                         SFaultCase{"extra-bytes=3", MODBUS_OK},
                                         SFaultCase{"exception=2", MODBUS_EXCEPTION_BASE + 2},
                                         SFaultCase{"close", REMOTE_READ_ERROR}));

struct SFilesCase {
    const char* pszCert;
    const char* pszKey;
    const char* pszCa;
    const char* pszError;  // how the error begins
};

class SimTlsFiles : public SimTls, public testing::WithParamInterface<SFilesCase> {};

TEST_P(SimTlsFiles, AreRefusedWithWhichFile) {
    const SFilesCase& c = GetParam();
    CSimTls tls;
    CString strError;
    EXPECT_FALSE(tls.Load(Path(c.pszCert), Path(c.pszKey), Path(c.pszCa), strError));
    EXPECT_EQ(strError.rfind(c.pszError, 0), 0u) << strError;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimTlsFiles,
    testing::Values(
        SFilesCase{"missing.pem", "device.key", "ca.pem", "cannot read the certificate file"},
        SFilesCase{"device.pem", "device.key", "missing.pem", "cannot read the CA file"},
        SFilesCase{"device.pem", "client.key", "ca.pem", "cannot use the private key"},
        SFilesCase{"device.pem", "device.key", "device.key", "cannot use the CA file"}));
}  // namespace
