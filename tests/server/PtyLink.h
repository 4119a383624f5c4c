// A null-modem cable between two pseudo-terminals: what is written to one
// end's device comes out of the other's. Peers that open a serial device
// themselves (libmodbus, pyserial) sit at one end, our server at the other.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class CPtyLink {
public:
    CPtyLink();
    // Stops the copying and closes both pairs.
    ~CPtyLink();
    CPtyLink(const CPtyLink&) = delete;
    CPtyLink& operator=(const CPtyLink&) = delete;

    bool IsOpen() const { return m_bOpen; }
    const std::string& GetPathA() const { return m_strPath[0]; }
    const std::string& GetPathB() const { return m_strPath[1]; }

private:
    void Copy();

    bool m_bOpen = false;
    int m_hMaster[2] = {-1, -1};
    // Each device is held open so that its master never sees a hang-up.
    int m_hHeld[2] = {-1, -1};
    std::string m_strPath[2];
    int m_hStop = -1;
    std::thread m_thread;
};
