// What the Communications Parameters dialog asks of the serial-port server,
// done on a job's thread with a server object of the job's own: reading a
// port's settings, creating the object of a new connection, writing the
// settings. Only plain values cross to the GUI thread, which alone touches
// the record, and only once the job is done and still wanted.
#pragma once

#include <memory>
#include <mutex>

#include "transport/AutoModbus.h"

class CBackgroundJob;

// A port's settings and its Modbus TCP server, as the server reports them.
struct CSerialPortValues {
    BYTE nPort = 0;
    LONG nBaudRate = 0;
    BYTE nParity = 0;
    BYTE nStopBits = 0;
    SHORT nByteSize = 0;
    SHORT nMode = 0;
    BYTE nFlowControl = 0;
    LONG nTimeout = 0;
    LONG nSilentInterval = 0;
    LONG nErrorDelay = 0;
    bool bActive = false;
    bool bHasTcpServer = false;  // the rest only then
    CString strTcpAddress;
    LONG nTcpPort = 0;
    bool bTcpRunning = false;
};

// The dialog's values, written in this order. Each checked one is written
// only when it and those before it passed; the first that did not stops
// the writing there.
struct CSerialPortWrite {
    enum EStep { PORT, BAUD_RATE, PARITY, STOP_BITS, TIMEOUT, SILENT_INTERVAL, BYTE_SIZE, ALL };
    EStep nFirstInvalid = ALL;
    BYTE nPort = 0;
    LONG nBaudRate = 0;
    BYTE nParity = 0;
    BYTE nStopBits = 0;
    BYTE nFlowControl = 0;
    LONG nTimeout = 0;
    LONG nSilentInterval = 0;
    LONG nErrorDelay = 0;
    SHORT nMode = 0;
    SHORT nByteSize = 0;
    bool bTcpServer = false;  // start the TCP server (else stop it)
    CString strTcpAddress;
    SHORT nTcpPort = 0;
};

class CSerialSettingsJob {
public:
    enum EPhase {
        READ,    // the settings of an existing connection's port
        CREATE,  // a new connection's server object; the settings too when the port is open
        WRITE,   // the settings, opening the port, the TCP server
    };
    enum ETcpResult { TCP_UNTOUCHED, TCP_DONE, TCP_START_FAILED, TCP_STOP_FAILED };

    // strServer: empty for this machine; strPort: "com1".."com8". bHasServer
    // false: an existing connection whose creation stopped before its
    // server object (nothing is read, nothing written); bHasTcpServer false:
    // one that stopped before its TCP server.
    CSerialSettingsJob(CString strServer, CString strPort, bool bHasServer = true,
                       bool bHasTcpServer = true);
    ~CSerialSettingsJob();
    CSerialSettingsJob(const CSerialSettingsJob&) = delete;
    CSerialSettingsJob& operator=(const CSerialSettingsJob&) = delete;

    // Runs the phase on a job of its own, which holds this object.
    static std::shared_ptr<CBackgroundJob> Start(std::shared_ptr<CSerialSettingsJob> pJob,
                                                 EPhase phase);
    // Gives the object up, running or not. Its server objects are released
    // off the caller's thread, since a release is a call to the server: by
    // the job still running, else by a job of their own.
    static void Drop(std::shared_ptr<CSerialSettingsJob> pJob);

    // On the GUI thread before WRITE starts.
    void SetWrite(const CSerialPortWrite& values) { m_write = values; }
    // On the job's thread; blocks while the server answers.
    void Run(EPhase phase);

    // Read once the job is done.
    // CREATE: S_OK (or another success), or the failure, with GetFailureMessage.
    HRESULT GetCreateResult() const { return m_hrCreate; }
    // Today's text of the failure, then a line naming the server and why.
    const CString& GetFailureMessage() const { return m_strFailure; }
    // READ, and CREATE of a port already open: what the server has.
    bool HasValues() const { return m_bHasValues; }
    const CSerialPortValues& GetValues() const { return m_values; }
    // WRITE: whether the port opened, and what became of the TCP server.
    bool IsOpened() const { return m_bOpened; }
    // WRITE: when the port did not open and the server said why, a line
    // naming the server and the cause; else empty.
    CString GetOpenFailureLine() const;
    ETcpResult GetTcpResult() const { return m_tcpResult; }

    // "this machine" or "host:port", the port the server is reached at.
    CString GetServerPlace() const;
    // After CREATE and WRITE on the GUI thread: the record's master (which
    // has no server objects) takes the job's.
    void InstallInto(CAutoModbus& target) { target.TakeServerFrom(m_auto); }
    // After WRITE of an existing connection: its master learns the limit
    // the new settings give exchanges.
    void UpdateLimitOf(CAutoModbus& target) const { target.TakeExchangeLimitFrom(m_auto); }

private:
    // "On this machine: " or "At host:port: ", then the cause.
    CString PlaceLine(const CString& strCause) const;
    void ReadValues();
    void Create();
    void Write();
    bool Open();

    const CString m_strServer;
    const CString m_strPort;
    const bool m_bHasServer;
    const bool m_bHasTcpServer;
    CAutoModbus m_auto;  // the job's own view of the port
    std::mutex m_mutex;  // guards the two flags, which decide who releases
    bool m_bRunning = false;
    bool m_bDropped = false;
    CSerialPortWrite m_write;

    HRESULT m_hrCreate = S_OK;
    CString m_strFailure;
    bool m_bHasValues = false;
    CSerialPortValues m_values;
    bool m_bOpened = false;
    HRESULT m_hrOpen = S_OK;
    CString m_strUnreachable;  // why an existing connection's server was not reached
    ETcpResult m_tcpResult = TCP_UNTOUCHED;
};
