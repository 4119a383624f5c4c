#include "Traffic.h"

#include <cstdio>
#include <ctime>

#include "FrameDecode.h"
#include "FunctionCodes.h"
#include "Modbus.h"

namespace Traffic {

std::string CTrafficLine::Text(const std::string& strName) const {
    std::string s = strTime + "  " + strName + "  " + chDirection + "  " + strBytes;
    if (chDirection == '<') {
        s += "  " + strStatus + "  " + strMillis;
    }
    if (!strDecoded.empty()) {
        s += "  " + strDecoded;
    }
    return s;
}

CTrafficRing& Ring() {
    // Never destroyed: a transport on another thread may still be using it
    // while the process exits.
    static CTrafficRing* s_pRing = new CTrafficRing;
    return *s_pRing;
}

void CCapture::Report(const CModbus* pSource, std::string strTransport, const BYTE* pRequest,
                      size_t nRequest, const BYTE* pAnswer, size_t nAnswer, WORD wStatus,
                      std::string strStatus) const {
    CTrafficExchange e;
    e.tSent = m_tSent;
    e.dMillis =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_tStart)
            .count();
    e.pSource = pSource;
    e.strTransport = std::move(strTransport);
    e.request.assign(pRequest, pRequest + nRequest);
    e.answer.assign(pAnswer, pAnswer + nAnswer);
    e.wStatus = wStatus;
    e.strStatus = std::move(strStatus);
    m_pObserver->OnExchange(std::move(e));
}

std::string FormatTime(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const time_t seconds = system_clock::to_time_t(time_point_cast<system_clock::duration>(t));
    const long nMillis =
        long(duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000 + 1000) % 1000;
    tm local{};
    ::localtime_r(&seconds, &local);
    char sz[32];
    std::snprintf(sz, sizeof sz, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  nMillis);
    return sz;
}

std::string FormatHex(const BYTE* p, size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        if (i > 0) {
            s += ' ';
        }
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 0x0F];
    }
    return s;
}

namespace {
// How the master that the label names frames its exchanges.
FrameDecode::EFraming FramingOf(const std::string& strTransport) {
    using FrameDecode::EFraming;
    const auto begins = [&strTransport](const char* psz) {
        return strTransport.rfind(psz, 0) == 0;
    };
    if (begins("tcp ") || begins("udp ") || begins("tls ")) {
        return EFraming::TCP_HEADER;
    }
    return begins("rtu-over-tcp ") ? EFraming::RTU : EFraming::UNIT_PDU;
}

void DecodeExchange(const CTrafficExchange& e, std::string& strRequest, std::string& strAnswer) {
    using FrameDecode::EFraming;
    // The masters on host and port capture their frames as sent, but a
    // request never sent as the device address and PDU they were handed.
    const EFraming framing = FramingOf(e.strTransport);
    const bool bFramed = framing == EFraming::TCP_HEADER
                             ? FrameDecode::HasTcpHeader(e.request.data(), e.request.size())
                         : framing == EFraming::RTU
                             ? FrameDecode::HasRtuCrc(e.request.data(), e.request.size())
                             : false;
    const EFraming request = bFramed ? framing : EFraming::UNIT_PDU;
    strRequest = FrameDecode::DecodeRequest(e.request.data(), e.request.size(), request);
    if (!e.answer.empty()) {
        strAnswer = FrameDecode::DecodeAnswer(e.request.data(), e.request.size(), request,
                                              e.answer.data(), e.answer.size(), framing);
    } else if (IsExceptionStatus(e.wStatus)) {
        // The serial server's exception answer reaches us as a status only:
        // decoded as the answer it stands for.
        const size_t nAt = request == EFraming::TCP_HEADER ? 6 : 0;
        if (e.request.size() >= nAt + 2) {
            const BYTE answer[3] = {e.request[nAt],
                                    BYTE(e.request[nAt + 1] | ModbusFunction::EXCEPTION_FLAG),
                                    BYTE(e.wStatus - MODBUS_EXCEPTION_BASE)};
            strAnswer = FrameDecode::DecodeAnswer(e.request.data(), e.request.size(), request,
                                                  answer, sizeof answer, EFraming::UNIT_PDU);
        }
    }
}
}  // namespace

std::array<CTrafficLine, 2> DescribeLines(const CTrafficExchange& exchange) {
    const auto tAnswer =
        exchange.tSent + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                             std::chrono::duration<double, std::milli>(exchange.dMillis));
    char szMillis[32];
    std::snprintf(szMillis, sizeof szMillis, "%.3f ms", exchange.dMillis);
    CTrafficLine request{FormatTime(exchange.tSent),
                         '>',
                         FormatHex(exchange.request.data(), exchange.request.size()),
                         "",
                         "",
                         ""};
    CTrafficLine answer{
        FormatTime(tAnswer), '<',      FormatHex(exchange.answer.data(), exchange.answer.size()),
        exchange.strStatus,  szMillis, ""};
    if (answer.strBytes.empty()) {
        answer.strBytes = "(nothing)";
    }
    answer.strStatus = FrameDecode::NameExceptionStatus(answer.strStatus, exchange.wStatus);
    DecodeExchange(exchange, request.strDecoded, answer.strDecoded);
    return {std::move(request), std::move(answer)};
}

std::vector<std::string> FormatLines(const CTrafficExchange& exchange, const std::string& strName) {
    const std::array<CTrafficLine, 2> lines = DescribeLines(exchange);
    return {lines[0].Text(strName), lines[1].Text(strName)};
}

}  // namespace Traffic

void CTrafficRing::OnExchange(CTrafficExchange&& exchange) {
    std::lock_guard<std::mutex> guard(m_mutex);
    exchange.nSequence = m_nNext++;
    if (m_exchanges.size() >= m_nCapacity) {
        m_exchanges.pop_front();
        ++m_nDropped;
    }
    m_exchanges.push_back(std::move(exchange));
}

std::vector<CTrafficExchange> CTrafficRing::Since(std::uint64_t nAfter) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<CTrafficExchange> out;
    // Sequence numbers rise by one along the ring: the first wanted is found
    // by arithmetic, not by a search.
    size_t nSkip = 0;
    if (!m_exchanges.empty() && nAfter >= m_exchanges.front().nSequence) {
        nSkip = size_t(std::min<std::uint64_t>(nAfter - m_exchanges.front().nSequence + 1,
                                               m_exchanges.size()));
    }
    out.assign(m_exchanges.begin() + std::ptrdiff_t(nSkip), m_exchanges.end());
    return out;
}

void CTrafficRing::Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_exchanges.clear();
    m_nDropped = 0;
}

size_t CTrafficRing::Size() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_exchanges.size();
}

std::uint64_t CTrafficRing::Dropped() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_nDropped;
}
