#include "PtyLink.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>

CPtyLink::CPtyLink() {
    for (int i = 0; i < 2; ++i) {
        m_hMaster[i] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        char szName[128];
        if (m_hMaster[i] < 0 || ::grantpt(m_hMaster[i]) != 0 || ::unlockpt(m_hMaster[i]) != 0 ||
            ::ptsname_r(m_hMaster[i], szName, sizeof szName) != 0) {
            return;
        }
        m_strPath[i] = szName;
        m_hHeld[i] = ::open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        termios tio{};
        if (m_hHeld[i] < 0 || ::tcgetattr(m_hHeld[i], &tio) != 0) {
            return;
        }
        ::cfmakeraw(&tio);
        ::tcsetattr(m_hHeld[i], TCSANOW, &tio);
    }
    m_hStop = ::eventfd(0, EFD_CLOEXEC);
    m_bOpen = m_hStop >= 0;
    if (m_bOpen) {
        m_thread = std::thread(&CPtyLink::Copy, this);
    }
}

CPtyLink::~CPtyLink() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        if (::write(m_hStop, &one, sizeof one) == sizeof one) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }
    for (int h : {m_hMaster[0], m_hMaster[1], m_hHeld[0], m_hHeld[1], m_hStop}) {
        if (h >= 0) {
            ::close(h);
        }
    }
}

void CPtyLink::Copy() {
    for (;;) {
        pollfd pfds[3] = {
            {m_hStop, POLLIN, 0}, {m_hMaster[0], POLLIN, 0}, {m_hMaster[1], POLLIN, 0}};
        if (::poll(pfds, 3, 1000) < 0 || pfds[0].revents != 0) {
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if ((pfds[1 + i].revents & POLLIN) == 0) {
                continue;
            }
            unsigned char buffer[512];
            const ssize_t n = ::read(m_hMaster[i], buffer, sizeof buffer);
            for (ssize_t nDone = 0, nTries = 0; n > 0 && nDone < n && nTries < 100; ++nTries) {
                const ssize_t nWritten =
                    ::write(m_hMaster[1 - i], buffer + nDone, size_t(n - nDone));
                if (nWritten > 0) {
                    nDone += nWritten;
                } else {
                    ::usleep(1000);
                }
            }
        }
    }
}
