// Which addresses of one table a unit lets be read, found from its answers
// rather than by one request per address. A read of several entries is taken
// to succeed exactly when every one of them may be read, as devices answer
// "illegal data address" for a read that reaches one they do not have.
// Readable runs are read as many entries at a time as a request allows, and
// where a run ends is found by bisection; stretches that cannot be read are
// probed every step addresses, and where the run of a readable probe begins
// is found by bisection back to the last address known not to be readable.
// A readable run shorter than the step that lies wholly between two probes
// of such a stretch is not found; a step of 1 finds every one.
#pragma once

#include <functional>
#include <vector>

#include "platform/WinTypes.h"

class CModbus;

struct CAddressRange {
    unsigned nFirst = 0;
    unsigned nLast = 0;
    bool operator==(const CAddressRange&) const = default;
};

class CAddressScan {
public:
    enum class ERead {
        DATA,             // every entry read
        ILLEGAL_ADDRESS,  // exception 2: an entry of the read does not exist
        FAILED,           // anything else: the scan stops there
    };
    // Reads nCount entries from nFirst.
    using Reader = std::function<ERead(unsigned nFirst, unsigned nCount)>;

    struct CResult {
        std::vector<CAddressRange> ranges;  // in address order, none adjacent
        unsigned nRequests = 0;
        bool bComplete = false;  // false: a read FAILED, at nFailedAt
        unsigned nFailedAt = 0;
    };

    // The readable ranges within nFirst..nLast, reading at most nMaxCount
    // entries at a time and probing every nStep addresses (at most
    // nMaxCount) where nothing can be read.
    static CResult Scan(const Reader& read, unsigned nFirst, unsigned nLast, unsigned nMaxCount,
                        unsigned nStep);
};

// Reads one table (an entry of the read-function list) of one unit through a
// master, keeping each read's status in *pwStatus; a read is FAILED without
// being sent once pfnStop says so.
CAddressScan::Reader TableReader(CModbus& modbus, int nReadFunction, BYTE byUnit, WORD* pwStatus,
                                 std::function<bool()> pfnStop);
// The entries one read of the table may ask for: 2000 bits or 125 registers.
unsigned MaxReadCount(int nReadFunction);
