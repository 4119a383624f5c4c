// The server's remote side as someone on the path or a stranger sees it: a
// relay that alters, replays or injects records between a keyed client and
// the server, and a flood of connections that never prove the key.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "tests/server/ServerProgram.h"
#include "tests/support/PeerSocket.h"
#include "transport/AutoModbus.h"

namespace {
using Clock = std::chrono::steady_clock;

int ConnectTo(WORD nPort, bool bBlocking) {
    const int h =
        ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (bBlocking ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(nPort);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(h, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        ::close(h);
        return -1;
    }
    return h;
}

// True once the peer has closed the socket (or reset it) within nMillis;
// whatever arrives meanwhile is read and dropped.
bool ClosedByPeer(int h, int nMillis) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMillis);
    BYTE buf[4096];
    while (Clock::now() < deadline) {
        pollfd p{h, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(h, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return true;
        }
    }
    return false;
}

// Passes one client's connection on to the server, byte for byte, unless
// told to alter what the client sends next; keeps every chunk the client
// sent, and can add chunks of its own.
class CRelay {
public:
    explicit CRelay(WORD nServerPort) : m_nServerPort(nServerPort) {
        m_hListen = ListenLoopback(1, &m_nPort);
        m_thread = std::thread(&CRelay::Run, this);
    }
    ~CRelay() {
        m_bStop = true;
        m_thread.join();
        for (int h : {m_hListen, m_hClient, m_hServer}) {
            if (h >= 0) {
                ::close(h);
            }
        }
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_nPort); }
    // Flips one bit of the next chunk the client sends, or the server.
    void TamperNext() { m_bTamper = true; }
    void TamperNextAnswer() { m_bTamperAnswer = true; }
    std::vector<CByteArray> ClientChunks() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_chunks;
    }
    void InjectToServer(const CByteArray& bytes) {
        std::lock_guard<std::mutex> guard(m_mutex);
        ::send(m_hServer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

private:
    void Run() {
        for (int i = 0; i < 100 && !m_bStop && m_hClient < 0; ++i) {
            pollfd p{m_hListen, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                m_hClient = ::accept4(m_hListen, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        if (m_hClient < 0) {
            return;
        }
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_hServer = ConnectTo(m_nServerPort, true);
        }
        // Bounded by the test: at most a minute.
        const auto end = Clock::now() + std::chrono::seconds(60);
        BYTE buf[16384];
        while (!m_bStop && Clock::now() < end) {
            pollfd p[2] = {{m_hClient, POLLIN, 0}, {m_hServer, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0) {
                continue;
            }
            if (p[0].revents != 0) {
                const ssize_t n = ::recv(m_hClient, buf, sizeof buf, 0);
                if (n <= 0) {
                    break;
                }
                CByteArray chunk(buf, buf + n);
                if (m_bTamper.exchange(false)) {
                    chunk.back() ^= 0x01;
                }
                std::lock_guard<std::mutex> guard(m_mutex);
                m_chunks.push_back(CByteArray(buf, buf + n));
                ::send(m_hServer, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            }
            if (p[1].revents != 0) {
                const ssize_t n = ::recv(m_hServer, buf, sizeof buf, 0);
                if (n <= 0) {
                    break;
                }
                if (m_bTamperAnswer.exchange(false)) {
                    buf[n - 1] ^= 0x01;
                }
                ::send(m_hClient, buf, size_t(n), MSG_NOSIGNAL);
            }
        }
        // Either side gone: so is the other.
        ::shutdown(m_hClient, SHUT_RDWR);
        ::shutdown(m_hServer, SHUT_RDWR);
    }

    const WORD m_nServerPort;
    WORD m_nPort = 0;
    int m_hListen = -1;
    int m_hClient = -1;
    int m_hServer = -1;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bTamper{false};
    std::atomic<bool> m_bTamperAnswer{false};
    std::mutex m_mutex;
    std::vector<CByteArray> m_chunks;
    std::thread m_thread;
};

class RemoteSecurity : public ServerProgram {
protected:
    void SetUp() override {
        ServerProgram::SetUp();
        ASSERT_TRUE(StartServer({}));
        CoSetAccessKeyFile(Path("right.key").c_str());
    }
};

TEST_F(RemoteSecurity, AlteredRecordsFailTheCallAndReachNothing) {
    CRelay relay(m_nRemotePort);
    CAutoModbus m;
    ASSERT_EQ(m.Create(relay.Address(), "com1"), S_OK);
    ASSERT_TRUE(m.Connect());
    CWordArray values(1);
    ASSERT_EQ(m.ReadOutputRegisters(1, 3, 1, values), 0);
    EXPECT_EQ(values[0], 0x5503);
    // Nothing readable of the request crosses the relay.
    const CByteArray request{1, 6, 0, 3, 0x12, 0x34};
    for (const CByteArray& chunk : relay.ClientChunks()) {
        EXPECT_EQ(std::search(chunk.begin(), chunk.end(), request.begin() + 2, request.end()),
                  chunk.end());
    }

    relay.TamperNext();
    const auto start = Clock::now();
    EXPECT_EQ(m.PresetSingleRegister(1, 3, 0x1234), AUTO_AUTOMATION_ERROR);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(m_device.GetHoldingRegister(3), 0x5503);
    // The connection is over for good.
    EXPECT_EQ(m.ReadOutputRegisters(1, 3, 1, values), AUTO_AUTOMATION_ERROR);

    // An altered answer is not taken for the device's.
    CRelay answers(m_nRemotePort);
    CAutoModbus reader;
    ASSERT_EQ(reader.Create(answers.Address(), "com1"), S_OK);
    ASSERT_EQ(reader.ReadOutputRegisters(1, 3, 1, values), 0);
    answers.TamperNextAnswer();
    values[0] = 0;
    EXPECT_EQ(reader.ReadOutputRegisters(1, 3, 1, values), AUTO_AUTOMATION_ERROR);
    EXPECT_EQ(values[0], 0);
}

TEST_F(RemoteSecurity, ReplayedAndInjectedRecordsReachNothing) {
    CByteArray session;
    {
        CRelay relay(m_nRemotePort);
        CAutoModbus m;
        ASSERT_EQ(m.Create(relay.Address(), "com1"), S_OK);
        ASSERT_TRUE(m.Connect());
        ASSERT_EQ(m.PresetSingleRegister(1, 4, 0x0A0A), 0);
        ASSERT_EQ(m_device.GetHoldingRegister(4), 0x0A0A);
        m_device.SetHoldingRegister(4, 0);
        // The write's record again, inside the live session: refused, and the
        // session ends.
        const std::vector<CByteArray> chunks = relay.ClientChunks();
        ASSERT_FALSE(chunks.empty());
        relay.InjectToServer(chunks.back());
        CWordArray values(1);
        EXPECT_EQ(m.ReadOutputRegisters(1, 4, 1, values), AUTO_AUTOMATION_ERROR);
        EXPECT_EQ(m_device.GetHoldingRegister(4), 0);
        for (const CByteArray& chunk : chunks) {
            session.insert(session.end(), chunk.begin(), chunk.end());
        }
    }
    // The whole recorded session on a connection of its own: its handshake
    // cannot complete, so none of its requests is carried out.
    const int h = ConnectTo(m_nRemotePort, true);
    ASSERT_GE(h, 0);
    ::send(h, session.data(), session.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedByPeer(h, 3000));
    ::close(h);
    EXPECT_EQ(m_device.GetHoldingRegister(4), 0);
}

TEST_F(RemoteSecurity, FloodOfStrangersKeepsOutNeitherKeyedNorLocalClients) {
    CAutoModbus keyed;
    ASSERT_EQ(keyed.Create(m_strRemote, "com1"), S_OK);
    ASSERT_TRUE(keyed.Connect());
    CAutoModbus local;
    ASSERT_EQ(local.Create("", "com1"), S_OK);

    // Silent connections, and ones that announce a record far larger than
    // a handshake and stop there.
    std::vector<int> flood;
    const BYTE header[] = {0x16, 0x03, 0x01, 0x40, 0x00, 0x01, 0x00, 0x3F, 0xFC};
    for (int i = 0; i < 200; ++i) {
        const int h = ConnectTo(m_nRemotePort, false);
        ASSERT_GE(h, 0);
        flood.push_back(h);
        if (i % 2 == 1) {
            ::send(h, header, sizeof header, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }
    for (int nRound = 0; nRound < 2; ++nRound) {
        CWordArray values(1);
        EXPECT_EQ(keyed.ReadOutputRegisters(1, 5, 1, values), 0);
        EXPECT_EQ(local.ReadOutputRegisters(1, 6, 1, values), 0);
        EXPECT_EQ(values[0], 0x5506);
        // A keyed client that arrives now gets in as well (on a connection
        // of its own: the name differs from the first client's).
        CAutoModbus late;
        const auto start = Clock::now();
        EXPECT_EQ(late.Create("localhost:" + std::to_string(m_nRemotePort), "com1"), S_OK);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(late.ReadOutputRegisters(1, 7, 1, values), 0);
        EXPECT_EQ(values[0], 0x5507);
    }
    // One that sends more than a handshake needs is dropped at once, not
    // read on until its record is complete.
    const int hGreedy = ConnectTo(m_nRemotePort, true);
    ASSERT_GE(hGreedy, 0);
    CByteArray greedy(8192, 0x5A);
    std::copy(std::begin(header), std::begin(header) + 5, greedy.begin());
    ::send(hGreedy, greedy.data(), greedy.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedByPeer(hGreedy, 500));
    ::close(hGreedy);

    // None of the strangers is kept beyond the handshake's second.
    size_t nOpen = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (int h : flood) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        nOpen += ClosedByPeer(h, std::max(1, static_cast<int>(left.count()))) ? 0 : 1;
        ::close(h);
    }
    EXPECT_EQ(nOpen, 0u);
}
}  // namespace
