// Which serial-port server the clients of this process start on demand
// while the object lives. A test never leaves that to the lookup: its first
// places may hold another build's server, or an installed one.
#pragma once

#include <string>

#include "platform/com/rpc/RpcSettings.h"
#include "serialapi/ModbusSerialServer.h"
#include "tests/support/TempDir.h"

class CServerPin {
public:
    // The program given: the build's own server.
    explicit CServerPin(const std::string& strProgram) { Register(strProgram); }
    // None can start: the class names a program that does not exist.
    CServerPin() { Register(m_dir.Path() + "/no-server"); }
    // Unregistered, so that nothing is looked for afterwards either.
    ~CServerPin() { CoRegisterLocalServer(CLSID_ModbusSerialServer, nullptr); }
    CServerPin(const CServerPin&) = delete;
    CServerPin& operator=(const CServerPin&) = delete;

private:
    static void Register(const std::string& strProgram) {
        CoRegisterLocalServer(CLSID_ModbusSerialServer, strProgram.c_str());
    }

    CTempDir m_dir;
};
