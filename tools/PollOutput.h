// How regprobe-poll prints its reads: as text for a person (the test
// window's rows, status and statistics lines), or as CSV or JSON for a
// program, each value exact and labelled by its address.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "platform/WinTypes.h"
#include "scan/RawRequest.h"
#include "testview/ReadWrite.h"

// What every record carries besides the read itself.
struct CPollContext {
    std::string strConnection;
    long nDevice = 1;
    std::string strFunction;  // as given on the command line
    std::string strType;
    // Several reads in one output: text starts each of this read's lines
    // with it ("plc1 1 holding 0: "); CSV and JSON name the read anyway.
    std::string strLabel;
};

// One output for every read of the poller; the caller keeps reads of
// several threads apart.
class CPollOutput {
public:
    virtual ~CPollOutput() = default;
    // One read; strStatistics is the statistics line after it.
    virtual void Read(const CPollContext& context, std::int64_t nUnixMillis,
                      const CReadResult& result, const std::string& strStatistics) = 0;
    // After the last read (also after an interrupt): closes what is open.
    virtual void End() {}

    // "text", "csv" or "json"; null for anything else.
    static std::unique_ptr<CPollOutput> Make(const std::string& strFormat, std::FILE* pOut);
};

// One read as a JSON object with its values, as the JSON output prints it.
std::string JsonRead(const CPollContext& context, std::int64_t nUnixMillis,
                     const CReadResult& result);
// One value of a read as an object of its own: the read's fields, then the
// value's address and value, as they stand in JsonRead's values.
std::string JsonValue(const CPollContext& context, std::int64_t nUnixMillis,
                      const CReadResult& result, const CTypedValue& value);

// Latin-1 text (as the device's characters are taken) in UTF-8.
std::string Latin1ToUtf8(const std::string& str);
// Milliseconds with three decimals, as round trips are printed.
std::string FormatMillis(double dMillis);
// A JSON string literal, quotes included.
std::string JsonString(const std::string& strUtf8);

// As --trace shows an exchange ("> 01 03 ...  unit 1: read holding
// registers, ..."), then the status and round trip (text); or one CSV
// line after its header; or one JSON object.
void PrintRaw(const std::string& strFormat, const CRawExchange& exchange, std::FILE* pOut);
