// A listener on the serial server's local socket in a runtime directory
// that greets each client as a server of another protocol version would,
// and serves nothing: what a client meets when another build's server, or
// an installed one, already runs there.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"
#include "platform/WinTypes.h"

class CGreetingServer {
public:
    CGreetingServer(const std::string& strRuntimeDir, WORD wVersion);
    ~CGreetingServer() { Stop(); }
    // Stops listening, once the client being served has gone, and removes
    // the socket; the counts are final then.
    void Stop();
    CGreetingServer(const CGreetingServer&) = delete;
    CGreetingServer& operator=(const CGreetingServer&) = delete;

    bool IsListening() const { return m_listener.IsValid(); }
    // Clients met, each greeted before it could read a word.
    int GetGreeted() const { return m_nGreeted; }
    // Frames clients sent after the greeting, their own greetings included.
    int GetFramesReceived() const { return m_nFrames; }

private:
    void Serve();

    std::string m_strPath;
    WORD m_wVersion;
    CUniqueFd m_listener;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nGreeted{0};
    std::atomic<int> m_nFrames{0};
    std::thread m_thread;
};
