// Which device each of the ports COM1..COM8 opens. By default COM1..COM4
// are the on-board UARTs /dev/ttyS0..3 and COM5..COM8 the USB adapters
// /dev/ttyUSB0..3, the order in which such ports are usually numbered. A
// configuration file of "COMn=/path" lines, and then command-line
// assignments, change that. Safe from any thread.
#pragma once

#include <mutex>

#include "platform/WinTypes.h"

class CPortMap {
public:
    static constexpr int PORT_COUNT = 8;

    CPortMap();
    CPortMap(const CPortMap& other);
    CPortMap& operator=(const CPortMap& other);

    // nPort is 1..PORT_COUNT; empty for any other.
    CString GetPath(int nPort) const;
    BOOL SetPath(int nPort, const CString& strPath);
    // "COMn=/path", COM in any case.
    BOOL Assign(const CString& strText, CString& strError);
    // One assignment a line; blank lines and lines starting with '#' are
    // skipped. strError names the first bad line.
    BOOL LoadFile(const CString& strPath, CString& strError);

    // 1..PORT_COUNT for "com1".."com8" in any case, otherwise 0.
    static int ParsePortName(const CString& strName);
    // $XDG_CONFIG_HOME/regprobe/serial-ports.conf, else
    // ~/.config/regprobe/serial-ports.conf; empty without a home.
    static CString DefaultConfigPath();

private:
    mutable std::mutex m_mutex;
    CString m_strPaths[PORT_COUNT];
};
