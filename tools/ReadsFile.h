// A reads file: the reads one poller runs, one a line, each on its own
// schedule:
//
//   # CONNECTION         DEVICE FUNCTION ADDRESS QUANTITY TYPE    INTERVAL_MS
//   tcp:192.0.2.7:502    1      holding  0       10       uint16  1000
//   "boiler room"        3      coils    0x10    16       uint16  250
//
// CONNECTION is a connection saved in --config FILE (in double quotes when
// its name has blanks), or tcp:HOST:PORT, rtu-over-tcp:HOST:PORT or
// udp:HOST:PORT. The other fields take what the options of the same names
// take. Blank lines and everything after '#' are skipped.
#pragma once

#include <string>
#include <vector>

struct CReadLine {
    int nLine = 0;
    std::string strConnection;  // as written, quotes removed
    std::string strTransport;   // tcp, rtu-over-tcp or udp; empty: a saved connection
    std::string strHost;
    long nPort = 0;
    long nDevice = 1;
    std::string strFunction;
    long nAddress = 0;
    long nQuantity = 0;
    std::string strType;
    long nInterval = 0;
};

// The reads of the text; false with "FILE:LINE: why" in strError at the
// first line that is not a read. A file without reads is refused too.
bool ParseReads(const std::string& strText, const std::string& strFile,
                std::vector<CReadLine>& reads, std::string& strError);
// The same from a file.
bool LoadReads(const std::string& strFile, std::vector<CReadLine>& reads, std::string& strError);
