// How regprobe-poll prints a unit scan: a line per unit as it is asked and
// the units that answered (text), or unit,result,round_trip_ms (CSV), or one
// JSON array.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "scan/AddressScan.h"
#include "scan/UnitScan.h"

class CScanOutput {
public:
    virtual ~CScanOutput() = default;
    virtual void Unit(const CUnitAnswer& answer) = 0;
    // After the last unit asked (also after an interrupt).
    virtual void End(const std::vector<CUnitAnswer>& answers) = 0;

    // "text", "csv" or "json"; null for anything else.
    static std::unique_ptr<CScanOutput> Make(const std::string& strFormat, std::FILE* pOut);
};

// An address scan's ranges: FIRST-LAST a line (text), first,last lines
// after that header (CSV), or one array of {"first", "last"} (JSON).
void PrintRanges(const std::string& strFormat, const std::vector<CAddressRange>& ranges,
                 std::FILE* pOut);
