#include "ScanOutput.h"

#include "PollOutput.h"
#include "core/FrameDecode.h"

namespace {

// "exception 2 (illegal data address)", "error: CRC Error", "data", "silent".
std::string Told(const CUnitAnswer& a) {
    switch (a.result) {
        case CUnitAnswer::EResult::EXCEPTION:
            return FrameDecode::ExceptionText(a.byException);
        case CUnitAnswer::EResult::ERROR:
            return "error: " + a.strStatus;
        default:
            return ResultText(a);
    }
}

bool Answered(const CUnitAnswer& a) {
    return a.result == CUnitAnswer::EResult::DATA || a.result == CUnitAnswer::EResult::EXCEPTION;
}

class CTextScan : public CScanOutput {
public:
    explicit CTextScan(std::FILE* pOut) : m_pOut(pOut) {}
    void Unit(const CUnitAnswer& a) override {
        std::fprintf(m_pOut, "unit %u: %s (%s ms)\n", unsigned(a.byUnit), Told(a).c_str(),
                     FormatMillis(a.dMillis).c_str());
        std::fflush(m_pOut);
    }
    void End(const std::vector<CUnitAnswer>& answers) override {
        std::string strUnits;
        for (const CUnitAnswer& a : answers) {
            if (Answered(a)) {
                strUnits += (strUnits.empty() ? "" : ", ") + std::to_string(a.byUnit);
            }
        }
        std::fprintf(
            m_pOut, "%s\n",
            strUnits.empty() ? "no unit answered" : ("units that answered: " + strUnits).c_str());
    }

private:
    std::FILE* m_pOut;
};

class CCsvScan : public CScanOutput {
public:
    explicit CCsvScan(std::FILE* pOut) : m_pOut(pOut) {
        std::fputs("unit,result,round_trip_ms\n", m_pOut);
    }
    void Unit(const CUnitAnswer& a) override {
        std::fprintf(m_pOut, "%u,%s,%s\n", unsigned(a.byUnit), ResultText(a).c_str(),
                     FormatMillis(a.dMillis).c_str());
        std::fflush(m_pOut);
    }
    void End(const std::vector<CUnitAnswer>&) override {}

private:
    std::FILE* m_pOut;
};

class CJsonScan : public CScanOutput {
public:
    explicit CJsonScan(std::FILE* pOut) : m_pOut(pOut) { std::fputs("[", m_pOut); }
    void Unit(const CUnitAnswer& a) override {
        std::fprintf(m_pOut, "%s\n  {\"unit\": %u, \"result\": %s, \"round_trip_ms\": %s",
                     m_bFirst ? "" : ",", unsigned(a.byUnit), JsonString(ResultText(a)).c_str(),
                     FormatMillis(a.dMillis).c_str());
        if (a.result != CUnitAnswer::EResult::DATA) {
            std::fprintf(m_pOut, ", \"status\": %s", JsonString(Latin1ToUtf8(a.strStatus)).c_str());
        }
        std::fputs("}", m_pOut);
        m_bFirst = false;
    }
    void End(const std::vector<CUnitAnswer>&) override {
        std::fputs(m_bFirst ? "]\n" : "\n]\n", m_pOut);
    }

private:
    std::FILE* m_pOut;
    bool m_bFirst = true;
};

}  // namespace

std::unique_ptr<CScanOutput> CScanOutput::Make(const std::string& strFormat, std::FILE* pOut) {
    if (strFormat == "text") {
        return std::make_unique<CTextScan>(pOut);
    }
    if (strFormat == "csv") {
        return std::make_unique<CCsvScan>(pOut);
    }
    if (strFormat == "json") {
        return std::make_unique<CJsonScan>(pOut);
    }
    return nullptr;
}

void PrintRanges(const std::string& strFormat, const std::vector<CAddressRange>& ranges,
                 std::FILE* pOut) {
    const bool bCsv = strFormat == "csv";
    const bool bJson = strFormat == "json";
    std::fputs(bCsv ? "first,last\n" : bJson ? "[" : "", pOut);
    for (size_t i = 0; i < ranges.size(); ++i) {
        const CAddressRange& r = ranges[i];
        if (bJson) {
            std::fprintf(pOut, "%s{\"first\": %u, \"last\": %u}", i == 0 ? "" : ", ", r.nFirst,
                         r.nLast);
        } else {
            std::fprintf(pOut, bCsv ? "%u,%u\n" : "%u-%u\n", r.nFirst, r.nLast);
        }
    }
    std::fputs(bJson ? "]\n" : "", pOut);
    std::fflush(pOut);
}
