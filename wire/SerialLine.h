// One serial device opened through termios: raw 8-bit I/O without modem
// control, the port's format and flow control, and reads and writes under a
// time limit. What Linux cannot do is reported as a warning, never dropped
// silently:
//   - one and a half stop bits do not exist; two are sent instead;
//   - there is no DSR flow control; DTR is raised, DSR is not waited for;
//   - a pseudo-terminal keeps no parity or 7-bit format (the kernel drops
//     or refuses them); on a pty that is a warning, on a real device an
//     error, since the line would carry garbage.
#pragma once

#include <termios.h>

#include <vector>

#include "SerialSettings.h"

class CSerialLine {
public:
    enum class EResult {
        OK,
        TIMEOUT,
        GONE,    // the device went away (unplugged, pty closed)
        FAILED,  // any other error
    };

    CSerialLine() = default;
    ~CSerialLine() { Close(); }
    CSerialLine(const CSerialLine&) = delete;
    CSerialLine& operator=(const CSerialLine&) = delete;

    // Opens the device exclusively and sets it up; FALSE with GetError().
    // GetWarnings() lists what could not be set as asked.
    BOOL Open(const CString& strPath, const CSerialSettings& settings);
    void Close();
    BOOL IsOpen() const { return m_hFile >= 0; }
    BOOL IsPty() const { return m_bPty; }
    int GetHandle() const { return m_hFile; }
    const CString& GetPath() const { return m_strPath; }
    const CString& GetError() const { return m_strError; }
    // The errno behind the last failure; 0 when the system gave none.
    int GetErrno() const { return m_nErrno; }
    const std::vector<CString>& GetWarnings() const { return m_warnings; }

    // Writes everything within nMillis.
    EResult Write(const BYTE* pb, size_t n, int nMillis);
    // The same on any non-blocking descriptor (a pty's master end, say);
    // gives up with TIMEOUT as well once hStopEvent (if not -1) is readable.
    static EResult WriteTo(int hFile, const BYTE* pb, size_t n, int nMillis, int hStopEvent);
    // Waits up to nMicros for input and reads what is there, at most nMax
    // bytes; *pnRead is 0 on a time-out.
    EResult Read(BYTE* pb, size_t nMax, LONGLONG nMicros, size_t* pnRead);
    // Drops input that arrived and was not read.
    void FlushInput();

    // A pty slave or master: its format settings do not matter.
    static bool IsPtyHandle(int hFile);

    // The line's termios for settings, made from its current ones: raw
    // 8-bit I/O, the format, flow control and a standard rate (38400 for an
    // arbitrary one, which is set afterwards). What cannot be done as asked
    // goes to warnings.
    static termios MakeTermios(const termios& current, const CSerialSettings& settings,
                               std::vector<CString>& warnings);

private:
    // Makes the termios, applies it, checks what the device took, then sets
    // an arbitrary rate and DTR.
    BOOL Configure(const CSerialSettings& settings);
    BOOL Apply(const termios& wanted);
    BOOL Verify(const termios& wanted);
    BOOL SetRate(LONG nBaudRate);
    BOOL RaiseDtr(const CSerialSettings& settings);
    BOOL Fail(const CString& strWhat, int nError);
    void Warn(const CString& strWhat);

    int m_hFile = -1;
    BOOL m_bPty = FALSE;
    CString m_strPath;
    CString m_strError;
    int m_nErrno = 0;
    std::vector<CString> m_warnings;
};
