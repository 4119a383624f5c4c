// Feeds arbitrary bytes to the Modbus/TCP master, or to the master of RTU
// frames over TCP, as the server's answers and runs every kind of operation
// over them until the stream is used up.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "transport/RemoteModbus.h"
#include "transport/RtuOverTcpModbus.h"

namespace {
// Runs the operations on master m over the answers waiting on hSocket.
template <class TMaster>
void Exchange(int hSocket, std::uint8_t byOptions, std::uint8_t byCount) {
    TMaster m;
    m.m_socket.m_hSocket = hSocket;
    m.m_addrPeer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m.m_dwTimeout = 50;
    m.m_bMapServerErrors = byOptions & 1;
    m.m_byServerErrorBase = static_cast<BYTE>(byOptions & 0xF0);
    m.m_nTries = (byOptions >> 1) & 3;
    WORD wCount = byCount;
    CByteArray bits(wCount);
    CWordArray words(wCount);
    CFloatArray floats(wCount);
    CDoubleArray doubles(wCount);
    for (int i = 0; i < 200 && m.m_socket.m_hSocket != INVALID_SOCKET; ++i) {
        WORD wStatus = 0;
        switch (i % 8) {
            case 0:
                wStatus = m.ReadOutputStatus(1, 0, wCount, bits);
                break;
            case 1:
                wStatus = m.ReadInputRegisters(1, 0, wCount, words);
                break;
            case 2:
                wStatus = m.ReadOutputRegistersFloat(1, 0, wCount, floats, i & 1);
                break;
            case 3:
                wStatus = m.ReadInputRegistersDouble(1, 0, wCount, doubles, TRUE);
                break;
            case 4:
                wStatus = m.ForceSingleCoil(1, 0, 1);
                break;
            case 5:
                wStatus = m.PresetMultipleRegisters(1, 0, wCount, words);
                break;
            case 6:
                wStatus = m.PresetRegisterDouble(1, 0, 1.5, FALSE);
                break;
            default:
                wStatus = m.LoopbackTest(1);
                break;
        }
        (void)m.GetErrorText(wStatus);
        if (wStatus == REMOTE_READ_ERROR) {
            break;  // the stream is used up
        }
    }
    m.m_socket.CloseQuietly();
    m.m_addrPeer.sin_addr.s_addr = INADDR_NONE;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 60000) {
        return 0;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return 0;
    }
    int nBuf = 256 * 1024;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &nBuf, sizeof nBuf);
    ::setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &nBuf, sizeof nBuf);
    const std::uint8_t byOptions = data[0];
    const std::uint8_t byCount = data[1];
    if (::write(fds[1], data + 2, size - 2) != static_cast<ssize_t>(size - 2)) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ::shutdown(fds[1], SHUT_WR);

    if (byOptions & 0x08) {
        Exchange<CRtuOverTcpModbus>(fds[0], byOptions, byCount);
    } else {
        Exchange<CRemoteModbus>(fds[0], byOptions, byCount);
    }
    ::close(fds[1]);
    return 0;
}
