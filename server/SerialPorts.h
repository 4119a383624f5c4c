// The ports COM1..COM8 of one server process and what keeps it busy: client
// objects alive, server locks and running gateways. Objects and the class
// factory share it; it goes when the last of them does.
#pragma once

#include <atomic>
#include <memory>

#include "SerialPort.h"

class CSerialPorts {
public:
    explicit CSerialPorts(const CPortMap& map);
    // Stops every gateway, then closes every line.
    ~CSerialPorts();
    CSerialPorts(const CSerialPorts&) = delete;
    CSerialPorts& operator=(const CSerialPorts&) = delete;

    // nPort 1..CPortMap::PORT_COUNT; null for any other.
    std::shared_ptr<CSerialPort> GetPort(int nPort) const;
    CPortMap& GetMap() { return *m_pMap; }

    void ObjectCreated() { ++m_nObjects; }
    void ObjectDestroyed() { --m_nObjects; }
    LONG GetObjectCount() const { return m_nObjects; }
    void LockServer(BOOL bLock) { m_nLocks += bLock ? 1 : -1; }
    // No client object, no lock and no gateway running.
    BOOL IsIdle() const;

private:
    std::shared_ptr<CPortMap> m_pMap;
    std::shared_ptr<CSerialPort> m_pPorts[CPortMap::PORT_COUNT];
    std::atomic<LONG> m_nObjects{0};
    std::atomic<LONG> m_nLocks{0};
};
