// What went over the wire: transports report each exchange to one observer,
// if there is one. With none set, a transport pays a single atomic load per
// exchange (acquire, so that an observer set while transports run is seen
// whole; on x86-64 the same plain load as a relaxed one) and builds nothing.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

class CModbus;

struct CTrafficExchange {
    std::uint64_t nSequence = 0;  // set by the ring, from 1
    std::chrono::system_clock::time_point tSent;
    const CModbus* pSource = nullptr;  // the master that made the exchange
    std::string strTransport;          // "tcp 127.0.0.1:502", "serial com1", ...
    CByteArray request;                // as sent: a Modbus/TCP frame with its header, or a PDU
    CByteArray answer;                 // as received; empty when nothing came
    WORD wStatus = 0;                  // the transport's status of the exchange
    std::string strStatus;             // its text
    double dMillis = 0;                // round trip
};

class ITrafficObserver {
public:
    virtual ~ITrafficObserver() = default;
    // Called on the exchanging thread, after the answer (or the failure).
    virtual void OnExchange(CTrafficExchange&& exchange) = 0;
};

namespace Traffic {
// The observer, or nullptr: the one check a transport makes per exchange.
inline std::atomic<ITrafficObserver*>& Observer() {
    static std::atomic<ITrafficObserver*> s_pObserver{nullptr};
    return s_pObserver;
}
inline ITrafficObserver* Current() {
    return Observer().load(std::memory_order_acquire);
}
// An observer must outlive every exchange that may have loaded it: set it to
// something that lives as long as the process (the ring below), and clear it
// to stop capture.
inline void SetObserver(ITrafficObserver* pObserver) {
    Observer().store(pObserver, std::memory_order_release);
}

// One exchange as a transport captures it: the observer is looked up once,
// at the start (one load); with none, nothing else is done.
class CCapture {
public:
    CCapture() : m_pObserver(Current()) {
        if (m_pObserver != nullptr) {
            m_tSent = std::chrono::system_clock::now();
            m_tStart = std::chrono::steady_clock::now();
        }
    }
    explicit operator bool() const { return m_pObserver != nullptr; }
    // Hands the exchange over; only to be called when the capture is on.
    void Report(const CModbus* pSource, std::string strTransport, const BYTE* pRequest,
                size_t nRequest, const BYTE* pAnswer, size_t nAnswer, WORD wStatus,
                std::string strStatus) const;

private:
    ITrafficObserver* m_pObserver;
    std::chrono::system_clock::time_point m_tSent;
    std::chrono::steady_clock::time_point m_tStart;
};

// "HH:MM:SS.mmm" local time.
std::string FormatTime(std::chrono::system_clock::time_point t);
// Bytes as upper-case hex pairs separated by blanks.
std::string FormatHex(const BYTE* p, size_t n);
// One line of an exchange in its parts, as the monitor's columns show them.
struct CTrafficLine {
    std::string strTime;
    char chDirection = '>';  // '>' the request, '<' the answer
    std::string strBytes;
    std::string strStatus;  // the answer's only, as is the round trip
    std::string strMillis;
    std::string strDecoded;  // what the bytes mean (FrameDecode); empty when nothing came
    // The line as text: "time  name  >  bytes[  status  millis][  decoded]".
    std::string Text(const std::string& strName) const;
};
// The request's line and the answer's.
std::array<CTrafficLine, 2> DescribeLines(const CTrafficExchange& exchange);
// The two lines of an exchange, request then answer:
//   12:00:01.250  name  >  00 00 00 00 00 06 01 03 00 00 00 02  unit 1: read holding
//                          registers, address 0, quantity 2
//   12:00:01.252  name  <  00 00 ... 00 08  Ok  1.843 ms  unit 1: read holding registers: 7 8
// (each on one line).
// The answer line is written at the request's time plus the round trip.
std::vector<std::string> FormatLines(const CTrafficExchange& exchange, const std::string& strName);
}  // namespace Traffic

// The last nCapacity exchanges; safe to fill from any number of threads and
// read from another.
class CTrafficRing : public ITrafficObserver {
public:
    explicit CTrafficRing(size_t nCapacity = 20000) : m_nCapacity(nCapacity) {}

    void OnExchange(CTrafficExchange&& exchange) override;

    // The exchanges with a sequence number above nAfter, oldest first.
    std::vector<CTrafficExchange> Since(std::uint64_t nAfter) const;
    void Clear();
    size_t Size() const;
    size_t Capacity() const { return m_nCapacity; }
    // Exchanges pushed out since the last Clear.
    std::uint64_t Dropped() const;

private:
    const size_t m_nCapacity;
    mutable std::mutex m_mutex;
    std::deque<CTrafficExchange> m_exchanges;
    std::uint64_t m_nNext = 1;
    std::uint64_t m_nDropped = 0;
};

namespace Traffic {
// The application's ring, for as long as the process lives.
CTrafficRing& Ring();
}  // namespace Traffic
