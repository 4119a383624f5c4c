// A libmodbus TCP slave on a thread of the test process, listening on
// 127.0.0.1 at a port the system picks. The listening socket is ours:
// libmodbus's own listen wants a fixed port.
#pragma once

#include <modbus.h>

#include <atomic>
#include <mutex>
#include <thread>

class CLibmodbusSlave {
public:
    CLibmodbusSlave(int nBits, int nInputBits, int nRegisters, int nInputRegisters);
    ~CLibmodbusSlave();
    CLibmodbusSlave(const CLibmodbusSlave&) = delete;
    CLibmodbusSlave& operator=(const CLibmodbusSlave&) = delete;

    int GetPort() const { return m_nPort; }
    int GetAcceptedCount() const { return m_nAccepted; }

    // Runs f on the register map while the slave cannot touch it.
    template <typename F>
    auto WithMap(F f) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return f(*m_pMap);
    }

private:
    void Serve();

    modbus_t* m_pCtx = nullptr;
    modbus_mapping_t* m_pMap = nullptr;
    int m_hListen = -1;
    int m_nPort = 0;
    std::atomic<int> m_nAccepted{0};
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::thread m_thread;
};
