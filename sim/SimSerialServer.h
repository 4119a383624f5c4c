// A Modbus slave for a CSimDevice on a serial line, RTU or ASCII: either a
// real tty, or a pseudo-terminal it makes itself whose other end a master
// opens like a serial device. One thread reads requests and answers them.
// Frames with a wrong checksum are dropped unanswered, as a slave must;
// requests to unit 0 are carried out but not answered. Fault rules
// (SimFaults.h) alter chosen answers, the serial-only ones included.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "SimAnswer.h"
#include "SimDevice.h"
#include "SimFaults.h"
#include "platform/UniqueFd.h"
#include "wire/FrameParser.h"
#include "wire/SerialLine.h"
#include "wire/StopEvent.h"

class CSimSerialServer {
public:
    enum class EMode { RTU, ASCII };

    explicit CSimSerialServer(CSimDevice& device);
    ~CSimSerialServer();
    CSimSerialServer(const CSimSerialServer&) = delete;
    CSimSerialServer& operator=(const CSimSerialServer&) = delete;

    // Settings taking effect at the next start. The baud rate sets the
    // silence that ends an RTU request and, on a tty, the line's rate.
    void SetMode(EMode mode) { m_mode = mode; }
    void SetBaudRate(LONG nBaudRate) { m_settings.m_nBaudRate = nBaudRate; }
    // Data bits 7 or 8, parity N, O, E or M, stop bits 1 or 2: for a tty.
    BOOL SetFormat(const CString& strFormat) { return ParseFormat(strFormat, m_settings); }
    // "8N1" and the like into settings; FALSE when malformed.
    static BOOL ParseFormat(const CString& strFormat, CSerialSettings& settings);
    void SetLog(std::function<void(const CString&)> log) { m_log = std::move(log); }

    // Makes a pseudo-terminal pair and serves it; GetPath() names the end a
    // master opens. FALSE with GetError() on failure.
    BOOL StartPty();
    // Opens the tty and serves it.
    BOOL StartDevice(const CString& strPath);
    // Stops serving and closes the line (a pty disappears for its master).
    void Stop();
    BOOL IsRunning() const { return m_bRunning; }

    CString GetPath() const { return m_strPath; }
    CString GetError() const { return m_strError; }
    ULONGLONG GetRequestCount() const { return m_nRequests; }

    void AddFault(const CSimFaultRule& rule) { m_faults.Add(rule, m_nRequests); }
    void ClearFaults() { m_faults.Clear(); }

private:
    BOOL StartServing();
    BOOL Fail(const CString& strWhat);
    enum class EWait { INPUT, SILENCE, STOP };
    // Waits for input, with bFraming at most nGapMicros (the silence that
    // ends an RTU frame).
    EWait WaitForInput(bool bFraming, LONGLONG nGapMicros);
    void Serve();
    // Acts on the parser's state: answers a complete request, drops a bad
    // one, and starts over on either.
    void Take(CFrameParser& parser, CFrameParser::EState state);
    void Answer(const CByteArray& request);
    // The answer as an ASCII frame, its LRC spoiled when asked.
    static CByteArray AsciiFrame(const CSimAnswer& answer);
    bool Write(const BYTE* pb, size_t n);
    void Log(const CString& strLine);

    CSimDevice& m_device;
    CSimFaults m_faults;
    EMode m_mode = EMode::RTU;
    CSerialSettings m_settings;
    std::function<void(const CString&)> m_log;
    CString m_strPath;
    CString m_strError;

    BOOL m_bRunning = FALSE;
    // What is served: the pty's master end, or the tty's line; owned by
    // m_hPtyMaster or m_line.
    int m_hFile = -1;
    CUniqueFd m_hPtyMaster;
    // The pty's other end, held open so that the master end never sees a
    // hang-up while no master has it open.
    CUniqueFd m_hPtyPeer;
    CSerialLine m_line;
    CStopEvent m_stop;
    std::thread m_thread;
    std::atomic<ULONGLONG> m_nRequests{0};
};
