#include "SimFaults.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "core/FunctionCodes.h"
#include "platform/Text.h"
#include "wire/AsciiFrame.h"

namespace {
using Kind = CSimFaultRule::Kind;
using Select = CSimFaultRule::Select;

// The functions whose request starts with an address.
constexpr BYTE ADDRESSED_FUNCTIONS[] = {
    ModbusFunction::READ_COILS,
    ModbusFunction::READ_DISCRETE_INPUTS,
    ModbusFunction::READ_HOLDING_REGISTERS,
    ModbusFunction::READ_INPUT_REGISTERS,
    ModbusFunction::WRITE_SINGLE_COIL,
    ModbusFunction::WRITE_SINGLE_REGISTER,
    ModbusFunction::WRITE_MULTIPLE_COILS,
    ModbusFunction::WRITE_MULTIPLE_REGISTERS,
};

struct KindName {
    Kind kind;
    const char* pszName;
    // -1: takes no value; 0: value optional; 1: value required.
    int nValue;
};

constexpr KindName KIND_NAMES[] = {
    {Kind::Delay, "delay", 1},
    {Kind::Exception, "exception", 1},
    {Kind::WrongUnit, "wrong-unit", 0},
    {Kind::WrongFunction, "wrong-function", 0},
    {Kind::CutShort, "cut-short", 1},
    {Kind::BadLength, "bad-length", 0},
    {Kind::SplitHeader, "split-header", 0},
    {Kind::ByteByByte, "byte-by-byte", 0},
    {Kind::Close, "close", -1},
    {Kind::NoAnswer, "no-answer", -1},
    {Kind::ExtraBytes, "extra-bytes", 1},
    {Kind::BadCrc, "bad-crc", -1},
    {Kind::Gap, "gap", 1},
    {Kind::Garbage, "garbage", 1},
};

int HexDigit(char c) {
    return CAsciiFrame::HexValue(static_cast<BYTE>(c));
}

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
bool ParseNumber(const CString& s, ULONGLONG nMax, ULONGLONG& v) {
    size_t i = 0;
    unsigned base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= s.size()) {
        return false;
    }
    v = 0;
    for (; i < s.size(); ++i) {
        int d = HexDigit(s[i]);
        if (d < 0 || unsigned(d) >= base) {
            return false;
        }
        v = v * base + unsigned(d);
        if (v > nMax) {
            return false;
        }
    }
    return true;
}

bool ParseSelector(const CString& s, CSimFaultRule& rule, CString& strError) {
    ULONGLONG v;
    if (s.empty()) {
        strError = "a selector is expected after '@'";
        return false;
    }
    if (s.rfind("request=", 0) == 0 || s.rfind("next=", 0) == 0) {
        bool bNext = s[0] == 'n';
        if (!ParseNumber(s.substr(s.find('=') + 1), ~0ULL, v) || v == 0) {
            strError = "a request number or count of 1 or more is expected in '" + s + "'";
            return false;
        }
        rule.m_select = bNext ? Select::NextRequests : Select::RequestNumber;
        rule.m_nRequest = v;
        return true;
    }
    CString range = s;
    CString function;
    size_t nSlash = s.find('/');
    if (s.rfind("fn", 0) == 0) {
        range.clear();
        function = s;
    } else if (nSlash != CString::npos) {
        range = s.substr(0, nSlash);
        function = s.substr(nSlash + 1);
    }
    if (!function.empty()) {
        if (function.rfind("fn", 0) != 0) {
            strError = "'fnN' is expected after the address range in '" + s + "'";
            return false;
        }
        function.erase(0, 2);
        if (!ParseNumber(function, 255, v) || v == 0) {
            strError = "a function code of 1..255 is expected in '" + s + "'";
            return false;
        }
        rule.m_byFunction = static_cast<BYTE>(v);
    }
    rule.m_select = Select::AddressRange;
    if (range.empty()) {
        return true;
    }
    size_t nDash = range.find('-');
    ULONGLONG first, last;
    bool bOk = ParseNumber(range.substr(0, nDash), 0xFFFF, first);
    last = first;
    if (bOk && nDash != CString::npos) {
        bOk = ParseNumber(range.substr(nDash + 1), 0xFFFF, last);
    }
    if (!bOk || last < first) {
        strError = "an address or address range A-B (0..65535) is expected in '" + s + "'";
        return false;
    }
    rule.m_wFirst = static_cast<WORD>(first);
    rule.m_wLast = static_cast<WORD>(last);
    return true;
}

// The value after '=' of a fault of this kind, if any, into the rule.
BOOL ParseValue(const KindName& kind, bool bHasValue, const CString& value, const CString& text,
                CSimFaultRule& rule, CString& strError) {
    const CString name = kind.pszName;
    if (!bHasValue) {
        if (kind.nValue > 0) {
            strError = "fault '" + name + "' needs a value (" + name + "=N)";
            return FALSE;
        }
        return TRUE;
    }
    if (kind.nValue < 0) {
        strError = "fault '" + name + "' takes no value";
        return FALSE;
    }
    if (rule.m_kind == Kind::ExtraBytes && value.size() > 2 && value[0] == '0' &&
        (value[1] == 'x' || value[1] == 'X')) {
        if (!ParseHexBytes(value.substr(2), rule.m_extra) || rule.m_extra.size() > 255) {
            strError =
                "pairs of hexadecimal digits (1 to 255 bytes) are expected in '" + value + "'";
            return FALSE;
        }
        rule.m_dwValue = static_cast<DWORD>(rule.m_extra.size());
        rule.m_bHasValue = TRUE;
        return TRUE;
    }
    ULONGLONG nMax = 255;
    if (rule.m_kind == Kind::Delay || rule.m_kind == Kind::SplitHeader ||
        rule.m_kind == Kind::ByteByByte || rule.m_kind == Kind::Gap) {
        nMax = 600000;
    }
    ULONGLONG v;
    if (!ParseNumber(value, nMax, v)) {
        strError = "a number of 0.." + std::to_string(nMax) + " is expected in '" + text + "'";
        return FALSE;
    }
    rule.m_dwValue = static_cast<DWORD>(v);
    rule.m_bHasValue = TRUE;
    return TRUE;
}
}  // namespace

BOOL CSimFaults::Parse(const CString& strText, CSimFaultRule& rule, CString& strError) {
    rule = CSimFaultRule();
    CString text = strText;
    ULONGLONG v;
    size_t nColon = text.rfind(':');
    if (nColon != CString::npos) {
        if (!ParseNumber(text.substr(nColon + 1), 0xFFFFFFFF, v) || v == 0) {
            strError = "a limit of 1 or more is expected after ':' in '" + strText + "'";
            return FALSE;
        }
        rule.m_nLimit = static_cast<DWORD>(v);
        text.resize(nColon);
    }
    size_t nAt = text.find('@');
    if (nAt != CString::npos) {
        if (!ParseSelector(text.substr(nAt + 1), rule, strError)) {
            return FALSE;
        }
        text.resize(nAt);
    }
    size_t nEquals = text.find('=');
    CString name = text.substr(0, nEquals);
    CString value = nEquals != CString::npos ? text.substr(nEquals + 1) : CString();
    const KindName* pKind = nullptr;
    for (const KindName& k : KIND_NAMES) {
        if (name == k.pszName) {
            pKind = &k;
        }
    }
    if (pKind == nullptr) {
        strError = "unknown fault kind '" + name + "'";
        return FALSE;
    }
    rule.m_kind = pKind->kind;
    return ParseValue(*pKind, nEquals != CString::npos, value, text, rule, strError);
}

CString CSimFaults::Describe(const CSimFaultRule& rule) {
    CString text;
    for (const KindName& k : KIND_NAMES) {
        if (k.kind == rule.m_kind) {
            text = k.pszName;
        }
    }
    if (!rule.m_extra.empty()) {
        text += "=0x";
        for (BYTE b : rule.m_extra) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            text += hex;
        }
    } else if (rule.m_bHasValue) {
        text += '=';
        text += std::to_string(rule.m_dwValue);
    }
    switch (rule.m_select) {
        case Select::Any:
            break;
        case Select::AddressRange: {
            // "fnN" alone stands for the whole address range.
            bool bRange = rule.m_wFirst != 0 || rule.m_wLast != 0xFFFF || rule.m_byFunction == 0;
            text += "@";
            if (bRange) {
                text += std::to_string(rule.m_wFirst);
                if (rule.m_wLast != rule.m_wFirst) {
                    text += '-';
                    text += std::to_string(rule.m_wLast);
                }
            }
            if (rule.m_byFunction != 0) {
                text += bRange ? "/fn" : "fn";
                text += std::to_string(rule.m_byFunction);
            }
            break;
        }
        case Select::RequestNumber:
            text += "@request=";
            text += std::to_string(rule.m_nRequest);
            break;
        case Select::NextRequests:
            text += "@next=";
            text += std::to_string(rule.m_nRequest);
            break;
    }
    if (rule.m_nLimit != 0) {
        text += ':';
        text += std::to_string(rule.m_nLimit);
    }
    return text;
}

void CSimFaults::Add(const CSimFaultRule& rule, ULONGLONG nRequestsSoFar) {
    std::lock_guard<std::mutex> guard(m_mutex);
    CEntry entry;
    entry.m_rule = rule;
    entry.m_nBase = nRequestsSoFar;
    m_entries.push_back(entry);
}

void CSimFaults::Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_entries.clear();
}

size_t CSimFaults::GetCount() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_entries.size();
}

bool CSimFaults::Selects(const CEntry& entry, ULONGLONG nRequest, const BYTE* pdu, size_t n) {
    const CSimFaultRule& rule = entry.m_rule;
    switch (rule.m_select) {
        case Select::Any:
            return true;
        case Select::RequestNumber:
            return nRequest == rule.m_nRequest;
        case Select::NextRequests:
            return nRequest > entry.m_nBase && nRequest - entry.m_nBase <= rule.m_nRequest;
        case Select::AddressRange:
            break;
    }
    if (n == 0 || (rule.m_byFunction != 0 && pdu[0] != rule.m_byFunction)) {
        return false;
    }
    if (rule.m_wFirst == 0 && rule.m_wLast == 0xFFFF) {
        return true;
    }
    if (std::find(std::begin(ADDRESSED_FUNCTIONS), std::end(ADDRESSED_FUNCTIONS), pdu[0]) ==
        std::end(ADDRESSED_FUNCTIONS)) {
        return false;
    }
    if (n < 3) {
        return false;
    }
    const WORD wStart = static_cast<WORD>((pdu[1] << 8) | pdu[2]);
    return wStart >= rule.m_wFirst && wStart <= rule.m_wLast;
}

BOOL CSimFaults::Match(ULONGLONG nRequest, const BYTE* pdu, size_t n, CSimFaultRule& rule) {
    std::lock_guard<std::mutex> guard(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (!Selects(*it, nRequest, pdu, n)) {
            continue;
        }
        if (it->m_rule.m_nLimit != 0 && it->m_nUsed >= it->m_rule.m_nLimit) {
            continue;
        }
        ++it->m_nUsed;
        rule = it->m_rule;
        return TRUE;
    }
    return FALSE;
}
