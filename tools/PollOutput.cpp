#include "PollOutput.h"

#include <cstdint>

#include "core/FrameDecode.h"
#include "core/Traffic.h"
#include "testview/ValueLog.h"

std::string Latin1ToUtf8(const std::string& str) {
    std::string out;
    for (unsigned char ch : str) {
        if (ch < 0x80) {
            out += char(ch);
        } else {
            out += char(0xC0 | (ch >> 6));
            out += char(0x80 | (ch & 0x3F));
        }
    }
    return out;
}

std::string JsonString(const std::string& strUtf8) {
    std::string out = "\"";
    for (unsigned char ch : strUtf8) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += char(ch);
        } else if (ch < 0x20 || ch == 0x7F) {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\u%04x", unsigned(ch));
            out += sz;
        } else {
            out += char(ch);
        }
    }
    return out + "\"";
}

namespace {

// Control bytes and DEL as \n, \r or \xNN, a backslash doubled: a row
// that holds a line end still prints as one line.
std::string EscapeControls(const std::string& str) {
    std::string out;
    for (unsigned char ch : str) {
        if (ch == '\\') {
            out += "\\\\";
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch == '\r') {
            out += "\\r";
        } else if (ch < 0x20 || ch == 0x7F) {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\x%02x", unsigned(ch));
            out += sz;
        } else {
            out += char(ch);
        }
    }
    return out;
}

// The rows on one line, without the blanks the window pads them with.
std::string JoinRows(const std::vector<CString>& rows) {
    std::string strLine;
    for (CString strRow : rows) {
        while (!strRow.empty() && strRow.back() == ' ') {
            strRow.pop_back();
        }
        strLine += (strLine.empty() ? "" : " ") + strRow;
    }
    return strLine;
}

class CTextOutput : public CPollOutput {
public:
    explicit CTextOutput(std::FILE* pOut) : m_pOut(pOut) {}
    void Read(const CPollContext& context, std::int64_t, const CReadResult& result,
              const std::string& strStatistics) override {
        const char* pszLabel = context.strLabel.c_str();
        // Zero-filled rows of a failed read are not the device's values.
        if (!result.Failed() && result.list.bWroteRows) {
            std::fprintf(m_pOut, "%s%s\n", pszLabel,
                         EscapeControls(JoinRows(result.list.rows)).c_str());
        }
        std::fprintf(m_pOut, "%s%s (%s ms)\n%s%s\n", pszLabel, result.strStatus.c_str(),
                     FormatReadMillis(result.qwMicros).c_str(), pszLabel, strStatistics.c_str());
        std::fflush(m_pOut);
    }

private:
    std::FILE* m_pOut;
};

// A character value as a CSV field: a NUL, which CSV cannot carry, is an
// empty field, as the window's row ends there.
std::string CsvValue(const CTypedValue& v) {
    const CString strValue = ExactText(v);
    return CsvField(Latin1ToUtf8(strValue.substr(0, strValue.find('\0'))));
}

// fputs would end the text at a NUL.
void WriteText(const std::string& str, std::FILE* pOut) {
    std::fwrite(str.data(), 1, str.size(), pOut);
}

// One line per value; a read without values (a failure, a loop-back test)
// is one line with the address and value empty. Fields with a comma, a
// quote or a line end are quoted.
class CCsvOutput : public CPollOutput {
public:
    explicit CCsvOutput(std::FILE* pOut) : m_pOut(pOut) {
        std::fputs("time,connection,device,function,type,address,value,status,read_ms\n", m_pOut);
    }
    void Read(const CPollContext& context, std::int64_t nUnixMillis, const CReadResult& result,
              const std::string&) override {
        const std::string strHead =
            FormatUtcTime(nUnixMillis) + "," + CsvField(context.strConnection) + "," +
            std::to_string(context.nDevice) + "," + CsvField(context.strFunction) + "," +
            CsvField(context.strType) + ",";
        const std::string strTail = "," + CsvField(Latin1ToUtf8(result.strStatus)) + "," +
                                    FormatReadMillis(result.qwMicros) + "\n";
        if (result.values.empty()) {
            WriteText(strHead + "," + strTail, m_pOut);
        }
        for (const CTypedValue& v : result.values) {
            WriteText(strHead + std::to_string(v.nAddress) + "," + CsvValue(v) + strTail, m_pOut);
        }
        std::fflush(m_pOut);
    }

private:
    std::FILE* m_pOut;
};

// Most JSON readers hold a number in a double: a 64-bit integer that a
// double cannot hold exactly goes as a string, lest it be rounded.
bool IsJsonNumber(const CTypedValue& v) {
    constexpr std::int64_t kExact = std::int64_t(1) << 53;
    switch (v.kind) {
        case ValueKind::Int64: {
            const auto n = static_cast<std::int64_t>(v.nBits);
            return n >= -kExact && n <= kExact;
        }
        case ValueKind::Uint64:
            return v.nBits <= std::uint64_t(kExact);
        default:
            return !IsTextValue(v);
    }
}

// One array of reads, closed at the end, so that the whole output is one
// JSON document.
class CJsonOutput : public CPollOutput {
public:
    explicit CJsonOutput(std::FILE* pOut) : m_pOut(pOut) { std::fputs("[", m_pOut); }
    void Read(const CPollContext& context, std::int64_t nUnixMillis, const CReadResult& result,
              const std::string&) override {
        const std::string s = (m_bFirst ? "\n" : ",\n") + JsonRead(context, nUnixMillis, result);
        m_bFirst = false;
        std::fputs(s.c_str(), m_pOut);
        std::fflush(m_pOut);
    }
    void End() override {
        std::fputs("\n]\n", m_pOut);
        std::fflush(m_pOut);
    }

private:
    std::FILE* m_pOut;
    bool m_bFirst = true;
};

// The fields of a read that every object of it starts with, each followed
// by a comma.
std::string JsonReadFields(const CPollContext& context, std::int64_t nUnixMillis,
                           const CReadResult& result) {
    return "\"time\":" + JsonString(FormatUtcTime(nUnixMillis)) +
           ",\"connection\":" + JsonString(context.strConnection) +
           ",\"device\":" + std::to_string(context.nDevice) +
           ",\"function\":" + JsonString(context.strFunction) +
           ",\"type\":" + JsonString(context.strType) +
           ",\"ok\":" + (result.Failed() ? "false" : "true") +
           ",\"status\":" + JsonString(Latin1ToUtf8(result.strStatus)) +
           ",\"read_ms\":" + FormatReadMillis(result.qwMicros) + ",";
}

// "address":N,"value":V of one value.
std::string JsonValueFields(const CTypedValue& v) {
    const CString strValue = ExactText(v);
    return "\"address\":" + std::to_string(v.nAddress) +
           ",\"value\":" + (IsJsonNumber(v) ? strValue : JsonString(Latin1ToUtf8(strValue)));
}

}  // namespace

std::string JsonRead(const CPollContext& context, std::int64_t nUnixMillis,
                     const CReadResult& result) {
    std::string s = "{" + JsonReadFields(context, nUnixMillis, result) + "\"values\":[";
    for (size_t i = 0; i < result.values.size(); ++i) {
        s += (i > 0 ? ",{" : "{") + JsonValueFields(result.values[i]) + "}";
    }
    return s + "]}";
}

std::string JsonValue(const CPollContext& context, std::int64_t nUnixMillis,
                      const CReadResult& result, const CTypedValue& value) {
    return "{" + JsonReadFields(context, nUnixMillis, result) + JsonValueFields(value) + "}";
}

std::unique_ptr<CPollOutput> CPollOutput::Make(const std::string& strFormat, std::FILE* pOut) {
    if (strFormat == "text") {
        return std::make_unique<CTextOutput>(pOut);
    }
    if (strFormat == "csv") {
        return std::make_unique<CCsvOutput>(pOut);
    }
    if (strFormat == "json") {
        return std::make_unique<CJsonOutput>(pOut);
    }
    return nullptr;
}

std::string FormatMillis(double dMillis) {
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.3f", dMillis);
    return sz;
}

void PrintRaw(const std::string& strFormat, const CRawExchange& x, std::FILE* pOut) {
    using FrameDecode::EFraming;
    const std::string strRequest = Traffic::FormatHex(x.request.data(), x.request.size());
    const std::string strAnswer = Traffic::FormatHex(x.answer.data(), x.answer.size());
    const std::string strRequestDecoded =
        FrameDecode::DecodeRequest(x.request.data(), x.request.size(), EFraming::UNIT_PDU);
    const std::string strAnswerDecoded =
        x.answer.empty()
            ? std::string()
            : FrameDecode::DecodeAnswer(x.request.data(), x.request.size(), EFraming::UNIT_PDU,
                                        x.answer.data(), x.answer.size(), EFraming::UNIT_PDU);
    if (strFormat == "csv") {
        std::fprintf(pOut,
                     "request,answer,status,round_trip_ms,request_decoded,answer_decoded\n"
                     "%s,%s,%s,%s,%s,%s\n",
                     strRequest.c_str(), strAnswer.c_str(),
                     CsvField(Latin1ToUtf8(x.strStatus)).c_str(), FormatMillis(x.dMillis).c_str(),
                     CsvField(strRequestDecoded).c_str(), CsvField(strAnswerDecoded).c_str());
    } else if (strFormat == "json") {
        std::fprintf(pOut,
                     "{\"request\": %s, \"answer\": %s, \"ok\": %s, \"status\": %s, "
                     "\"round_trip_ms\": %s, \"request_decoded\": %s, \"answer_decoded\": %s}\n",
                     JsonString(strRequest).c_str(), JsonString(strAnswer).c_str(),
                     x.bOk ? "true" : "false", JsonString(Latin1ToUtf8(x.strStatus)).c_str(),
                     FormatMillis(x.dMillis).c_str(), JsonString(strRequestDecoded).c_str(),
                     JsonString(strAnswerDecoded).c_str());
    } else {
        std::fprintf(pOut, "> %s  %s\n", strRequest.c_str(), strRequestDecoded.c_str());
        if (!x.answer.empty()) {
            std::fprintf(pOut, "< %s  %s\n", strAnswer.c_str(), strAnswerDecoded.c_str());
        }
        std::fprintf(pOut, "%s (%s ms)\n", Latin1ToUtf8(x.strStatus).c_str(),
                     FormatMillis(x.dMillis).c_str());
    }
    std::fflush(pOut);
}
