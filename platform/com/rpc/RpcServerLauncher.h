// Starts a local server on demand: detached from the client (its own
// session, reparented to init, stdin and stdout on /dev/null) with the
// argument --activated. The server tells when it listens through an
// inherited pipe; its end closing without word means it is gone.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/UniqueFd.h"
#include "platform/com/ComBase.h"

class CRpcServerLauncher {
public:
    enum EState { STARTING, READY, GONE };

    CRpcServerLauncher() = default;
    CRpcServerLauncher(const CRpcServerLauncher&) = delete;
    CRpcServerLauncher& operator=(const CRpcServerLauncher&) = delete;

    // S_OK once the executable runs; CO_E_SERVER_EXEC_FAILURE when it is
    // missing or could not be started, GetError() then saying why.
    HRESULT Start(const std::string& strExe, const std::string& strRuntimeDir);
    // The errno of the last failed Start; 0 when none was given.
    int GetError() const { return m_nError; }
    // Waits up to nMillis for news from the server.
    EState Wait(int nMillis);
    // Ends a server that is still starting: one that did not become ready in
    // the time its client gave it is hung, and is not left running.
    void Abandon();

private:
    CUniqueFd m_ready;
    EState m_state = STARTING;
    pid_t m_pidServer = -1;
    int m_nError = 0;
};
