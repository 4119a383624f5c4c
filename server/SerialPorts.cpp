#include "SerialPorts.h"

CSerialPorts::CSerialPorts(const CPortMap& map) : m_pMap(std::make_shared<CPortMap>(map)) {
    for (int i = 0; i < CPortMap::PORT_COUNT; ++i) {
        m_pPorts[i] = std::make_shared<CSerialPort>(i + 1, m_pMap);
    }
}

CSerialPorts::~CSerialPorts() {
    // Gateway threads hold ports while they serve: they go first.
    for (auto& pPort : m_pPorts) {
        pPort->StopGateway();
    }
    for (auto& pPort : m_pPorts) {
        pPort->Close();
    }
}

std::shared_ptr<CSerialPort> CSerialPorts::GetPort(int nPort) const {
    if (nPort < 1 || nPort > CPortMap::PORT_COUNT) {
        return nullptr;
    }
    return m_pPorts[nPort - 1];
}

BOOL CSerialPorts::IsIdle() const {
    if (m_nObjects > 0 || m_nLocks > 0) {
        return FALSE;
    }
    for (const auto& pPort : m_pPorts) {
        if (pPort->IsGatewayRunning()) {
            return FALSE;
        }
    }
    return TRUE;
}
