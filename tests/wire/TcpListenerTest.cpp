#include "wire/TcpListener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {
// A connected client socket with a receive time-out, or an invalid one.
CUniqueFd Connect(WORD nPort) {
    CUniqueFd hSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{AF_INET, htons(nPort), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(hSocket.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        return CUniqueFd();
    }
    timeval tv{2, 0};
    ::setsockopt(hSocket.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return hSocket;
}

// One byte read, or -1 when the peer closed or nothing came in time.
int ReadByte(const CUniqueFd& hSocket) {
    BYTE b = 0;
    return ::recv(hSocket.Get(), &b, 1, 0) == 1 ? b : -1;
}
}  // namespace

// Each admitted client is served on its own thread until Stop wakes it; a
// refused one is closed at once; Stop leaves nothing running.
TEST(TcpListener, ServesAdmitsAndStops) {
    CTcpListener listener;
    std::atomic<int> nServed{0};
    std::atomic<int> nWoken{0};
    CTcpListener::CHooks hooks;
    hooks.admit = [](CConnectionThreads&, ULONGLONG nId, const CString& strPeer) {
        EXPECT_EQ(strPeer.rfind("127.0.0.1:", 0), 0u) << strPeer;
        return nId != 2;
    };
    hooks.serve = [&](CConnectionThreads::CConnection& connection) {
        const BYTE b = static_cast<BYTE>(connection.m_nId);
        ::send(connection.m_hSocket, &b, 1, MSG_NOSIGNAL);
        ++nServed;
        pollfd pfd{listener.GetStopEvent().Get(), POLLIN, 0};
        if (::poll(&pfd, 1, 5000) == 1) {
            ++nWoken;
        }
    };
    ASSERT_TRUE(listener.Start("127.0.0.1", 0, hooks)) << listener.GetError();
    ASSERT_NE(listener.GetPort(), 0);

    const CUniqueFd first = Connect(listener.GetPort());
    ASSERT_TRUE(first);
    EXPECT_EQ(ReadByte(first), 1);
    const CUniqueFd refused = Connect(listener.GetPort());
    ASSERT_TRUE(refused);
    EXPECT_EQ(ReadByte(refused), -1);
    const CUniqueFd third = Connect(listener.GetPort());
    EXPECT_EQ(ReadByte(third), 3);
    EXPECT_EQ(listener.GetAcceptedCount(), 3u);

    EXPECT_TRUE(listener.Stop());
    EXPECT_FALSE(listener.IsRunning());
    EXPECT_EQ(nServed, 2);
    EXPECT_EQ(nWoken, 2);
    // The served sockets were closed with the listener.
    EXPECT_EQ(ReadByte(first), -1);
    EXPECT_FALSE(Connect(listener.GetPort()));
}

TEST(TcpListener, SaysWhyItCannotListen) {
    CTcpListener busy;
    ASSERT_TRUE(busy.Start("127.0.0.1", 0, {}));
    CTcpListener second;
    EXPECT_FALSE(second.Start("127.0.0.1", busy.GetPort(), {}));
    EXPECT_EQ(second.GetError(), "bind 127.0.0.1:" + std::to_string(busy.GetPort()) + ": " +
                                     std::strerror(EADDRINUSE));
    EXPECT_FALSE(second.IsRunning());
    EXPECT_FALSE(second.Start("localhost", 0, {}));
    EXPECT_EQ(second.GetError(), "not a dotted IPv4 address: 'localhost'");
}
