// Loads arbitrary bytes as a configuration file. The network stays untouched:
// name lookups and connections made while loading are refused here.
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "connections/Connections.h"
#include "platform/Archive.h"
#include "tests/support/ConnectionNames.h"
#include "transport/AutoModbus.h"

extern "C" int getaddrinfo(const char*, const char*, const struct addrinfo*,
                           struct addrinfo** res) {
    *res = nullptr;
    return EAI_NONAME;
}

extern "C" int connect(int, const struct sockaddr*, socklen_t) {
    errno = ECONNREFUSED;
    return -1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CConnections connections;
    CMemFile file(CByteArray(data, data + size));
    try {
        CArchive ar(&file, CArchive::load);
        connections.Serialize(ar);
    } catch (CException* e) {
        e->Delete();
    }
    for (const CString& strName : ConnectionNames(connections)) {
        CConnection* pConnection = nullptr;
        // Every record kept has a working master.
        if (!connections.Lookup(strName, pConnection) || pConnection->m_pModbus == nullptr ||
            (pConnection->GetAutoModbus() != nullptr &&
             pConnection->GetAutoModbus()->m_pPort == nullptr)) {
            __builtin_trap();
        }
    }
    return 0;
}
