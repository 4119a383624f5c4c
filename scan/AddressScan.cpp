#include "AddressScan.h"

#include <algorithm>

#include "UnitScan.h"
#include "core/Modbus.h"
#include "testview/RowFormat.h"

namespace {

class CScan {
public:
    CScan(const CAddressScan::Reader& read, CAddressScan::CResult& result)
        : m_read(read), m_result(result) {}

    // Counts the request; false once a read failed, and the scan must stop.
    bool Read(unsigned nFirst, unsigned nCount, bool& bData) {
        ++m_result.nRequests;
        const CAddressScan::ERead e = m_read(nFirst, nCount);
        if (e == CAddressScan::ERead::FAILED) {
            m_result.nFailedAt = nFirst;
            return false;
        }
        bData = e == CAddressScan::ERead::DATA;
        return true;
    }

    void AddReadable(unsigned nFirst, unsigned nLast) {
        std::vector<CAddressRange>& ranges = m_result.ranges;
        if (!ranges.empty() && ranges.back().nLast + 1 == nFirst) {
            ranges.back().nLast = nLast;
        } else {
            ranges.push_back({nFirst, nLast});
        }
    }

    // How many entries from nFirst can be read, fewer than nFailing (a read
    // of nFailing entries from nFirst was refused); -1 when a read failed.
    long ReadablePrefix(unsigned nFirst, unsigned nFailing) {
        unsigned nGood = 0;
        while (nFailing - nGood > 1) {
            const unsigned nMid = nGood + (nFailing - nGood) / 2;
            bool bData = false;
            if (!Read(nFirst, nMid, bData)) {
                return -1;
            }
            (bData ? nGood : nFailing) = nMid;
        }
        return long(nGood);
    }

    // Where the readable run that holds nReadable begins, after nUnreadable
    // (which is not readable); -1 when a read failed.
    long RunStart(unsigned nUnreadable, unsigned nReadable) {
        unsigned nBad = nUnreadable;
        unsigned nGood = nReadable;
        while (nGood - nBad > 1) {
            const unsigned nMid = nBad + (nGood - nBad) / 2;
            bool bData = false;
            if (!Read(nMid, nReadable - nMid + 1, bData)) {
                return -1;
            }
            (bData ? nGood : nBad) = nMid;
        }
        return long(nGood);
    }

    // Probes every nStep addresses after nBad (not readable) up to nLast;
    // at the first readable probe, adds the runs from the last unreadable
    // address to it and returns the probe. nBad when nothing could be read,
    // -1 when a read failed.
    long ProbeFrom(unsigned nBad, unsigned nLast, unsigned nStep) {
        while (nBad < nLast) {
            const unsigned nProbe = nLast - nBad > nStep ? nBad + nStep : nLast;
            bool bData = false;
            if (!Read(nProbe, 1, bData)) {
                return -1;
            }
            if (bData) {
                return AddRunsBack(nBad, nProbe) ? long(nProbe) : -1;
            }
            nBad = nProbe;
        }
        return long(nBad);
    }

    // Adds the readable runs between nBad (not readable) and nReadable,
    // which is: the run that holds nReadable, and any that end right before
    // it begins (a device's blocks), found backwards.
    bool AddRunsBack(unsigned nBad, unsigned nReadable) {
        std::vector<CAddressRange> runs;
        unsigned nEnd = nReadable;
        for (;;) {
            const long nStart = RunStart(nBad, nEnd);
            if (nStart < 0) {
                return false;
            }
            runs.push_back({unsigned(nStart), nEnd});
            if (unsigned(nStart) == nBad + 1) {
                break;
            }
            bool bData = false;
            if (!Read(unsigned(nStart) - 1, 1, bData)) {
                return false;
            }
            if (!bData) {
                break;
            }
            nEnd = unsigned(nStart) - 1;
        }
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            AddReadable(it->nFirst, it->nLast);
        }
        return true;
    }

private:
    const CAddressScan::Reader& m_read;
    CAddressScan::CResult& m_result;
};

}  // namespace

CAddressScan::CResult CAddressScan::Scan(const Reader& read, unsigned nFirst, unsigned nLast,
                                         unsigned nMaxCount, unsigned nStep) {
    CResult result;
    nMaxCount = std::max(1u, nMaxCount);
    nStep = std::clamp(nStep, 1u, nMaxCount);
    CScan scan(read, result);
    unsigned nAt = nFirst;  // the first address not known yet
    while (nAt <= nLast) {
        // Along a readable run, as many entries at a time as a read takes.
        const unsigned nCount = std::min(nMaxCount, nLast - nAt + 1);
        bool bData = false;
        if (!scan.Read(nAt, nCount, bData)) {
            return result;
        }
        if (bData) {
            scan.AddReadable(nAt, nAt + nCount - 1);
            nAt += nCount;
            continue;
        }
        const long nPrefix = scan.ReadablePrefix(nAt, nCount);
        if (nPrefix < 0) {
            return result;
        }
        unsigned nBad = nAt + unsigned(nPrefix);
        if (nPrefix > 0) {
            scan.AddReadable(nAt, nBad - 1);
            // Not readable with the run before it, but perhaps alone: a
            // device's blocks may end where the next begins.
            if (!scan.Read(nBad, 1, bData)) {
                return result;
            }
            if (bData) {
                nAt = nBad;
                continue;
            }
        }
        // nBad cannot be read: probe onwards until an address can.
        const long nFound = scan.ProbeFrom(nBad, nLast, nStep);
        if (nFound < 0) {
            return result;
        }
        if (unsigned(nFound) == nBad) {
            break;  // nothing readable up to the end
        }
        nAt = unsigned(nFound) + 1;
    }
    result.bComplete = true;
    return result;
}

CAddressScan::Reader TableReader(CModbus& modbus, int nReadFunction, BYTE byUnit, WORD* pwStatus,
                                 std::function<bool()> pfnStop) {
    return [&modbus, nReadFunction, byUnit, pwStatus, pfnStop](unsigned nFirst, unsigned nCount) {
        if (pfnStop && pfnStop()) {
            return CAddressScan::ERead::FAILED;
        }
        *pwStatus = ReadTable(modbus, nReadFunction, byUnit, WORD(nFirst), WORD(nCount));
        return *pwStatus == MODBUS_OK                   ? CAddressScan::ERead::DATA
               : *pwStatus == MODBUS_EXCEPTION_BASE + 2 ? CAddressScan::ERead::ILLEGAL_ADDRESS
                                                        : CAddressScan::ERead::FAILED;
    };
}

unsigned MaxReadCount(int nReadFunction) {
    return nReadFunction == READ_OUTPUT_STATUS || nReadFunction == READ_INPUT_STATUS ? 2000u : 125u;
}
