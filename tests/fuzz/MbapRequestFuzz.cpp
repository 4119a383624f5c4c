// Feeds arbitrary bytes to the Modbus/TCP request framing that the gateway
// and the simulator serve clients with, split into the segments the input
// chooses, and checks every request handed on against its own header.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wire/MbapFramer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 60000) {
        return 0;
    }
    int fds[2];
    int stop[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return 0;
    }
    if (::pipe(stop) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    int nBuf = 256 * 1024;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &nBuf, sizeof nBuf);
    ::setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &nBuf, sizeof nBuf);
    // The first byte picks the segment size (1..256): the framing must not
    // depend on where the reads happen to cut the stream.
    const std::size_t nSegment = std::size_t(data[0]) + 1;
    const std::uint8_t* p = data + 1;
    std::size_t nLeft = size - 1;
    std::size_t nTotal = 0;
    while (nLeft > 0) {
        const std::size_t n = nLeft < nSegment ? nLeft : nSegment;
        if (::send(fds[1], p, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) {
            break;
        }
        p += n;
        nLeft -= n;
        nTotal += n;
    }
    ::shutdown(fds[1], SHUT_WR);

    std::size_t nConsumed = 0;
    CMbapFramer framer;
    framer.Serve(fds[0], stop[0], [&](const BYTE* pbFrame, std::size_t nFrame) {
        // Each request is the next bytes of the stream, whole, with a sound
        // header whose length field covers exactly what follows it.
        const std::size_t nLength = (std::size_t(pbFrame[4]) << 8) | pbFrame[5];
        if (nFrame < 8 || pbFrame[2] != 0 || pbFrame[3] != 0 || nLength < 2 ||
            nLength > CMbapFramer::MAX_LENGTH_FIELD || nFrame != 6 + nLength ||
            nConsumed + nFrame > nTotal) {
            std::abort();
        }
        for (std::size_t i = 0; i < nFrame; ++i) {
            if (pbFrame[i] != data[1 + nConsumed + i]) {
                std::abort();
            }
        }
        nConsumed += nFrame;
        const CByteArray answer = CMbapFramer::Answer(pbFrame, pbFrame[6], CByteArray(1, 0x03));
        if (answer.size() != 8 || answer[0] != pbFrame[0] || answer[1] != pbFrame[1] ||
            answer[5] != 2) {
            std::abort();
        }
        return true;
    });
    ::close(fds[0]);
    ::close(fds[1]);
    ::close(stop[0]);
    ::close(stop[1]);
    return 0;
}
