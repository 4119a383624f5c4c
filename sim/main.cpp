// regprobe-sim: a simulated Modbus device on Modbus/TCP, RTU frames over TCP,
// Modbus/UDP or a serial line for trying out and testing masters, with
// faults on demand.
#include <signal.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

#include "SimDevice.h"
#include "SimFaults.h"
#include "SimSerialServer.h"
#include "SimTcpServer.h"
#include "SimTls.h"
#include "SimUdpServer.h"
#include "platform/CommandLine.h"
#include "platform/Text.h"

namespace {
using Table = CSimDevice::Table;
using CSimServerLog = std::function<void(const CString&)>;

constexpr long long MAX_CLIENTS = 1024;

const char HELP_TEXT[] = R"(Usage: regprobe-sim [OPTION]...
Simulates a Modbus device (slave) with coils, discrete inputs, holding
registers and input registers, on Modbus/TCP, RTU frames over TCP,
Modbus/UDP or on a serial line (RTU or ASCII). Answers functions 1, 2, 3,
4, 5, 6, 8 (sub-function 0), 15, 16, 22 and 23.
Runs until interrupted (SIGINT or SIGTERM).

  --listen ADDR:PORT    listen on IPv4 address ADDR, port PORT
                        (default 127.0.0.1:5020). Port 0 picks a free port.
                        Once listening, prints "listening on ADDR:PORT".
                        With --serial or --pty only when given.
  --transport tcp|rtu-over-tcp|udp|tls
                        what --listen serves (default tcp): Modbus/TCP;
                        RTU frames (address, PDU, CRC) on TCP connections,
                        as behind a serial-to-Ethernet converter, a frame
                        with a wrong CRC going unanswered; Modbus/TCP
                        frames in UDP datagrams, one a datagram, each
                        answered to its sender; or Modbus/TCP inside TLS
                        1.2 or 1.3 (Modbus/TCP Security, whose usual port
                        is 802)
  --serial PATH         serve the serial device (tty) PATH
  --pty                 make a pseudo-terminal and serve it; prints
                        "pty /dev/pts/N", the device a master opens
  --mode rtu|ascii      serial framing (default rtu)
  --baud N              serial bit/s (default 9600); on a pty it only sets
                        the silence (3.5 characters) that ends an RTU request
  --format DPS          data bits 7 or 8, parity N, O, E or M, stop bits 1
                        or 2 of the --serial device (default 8N1)
  --units LIST          unit ids that answer, e.g. 1,2,10-20, or "all"
                        (default: all, 0-255). Requests for other units get
                        no answer, as from a gateway with no device there.
  --size TABLE=N        entries in TABLE (default 10000, at most 65536)
  --fill TABLE=V        initial value of every entry of TABLE (default 0)
  --coils ADDR=B,B,...  coil values (0 or 1) from address ADDR on
  --discrete ADDR=B,... discrete input values from ADDR on
  --holding ADDR=V,...  holding register values from ADDR on
  --input ADDR=V,...    input register values from ADDR on
  --float ADDR=F[:reverse]
                        a 32-bit float in holding registers ADDR, ADDR+1;
                        least significant word first, most significant
                        first with :reverse
  --double ADDR=F[:reverse]
                        a 64-bit float in holding registers ADDR..ADDR+3
  --input-float ADDR=F[:reverse], --input-double ADDR=F[:reverse]
                        the same in input registers
  --fault RULE          inject a fault; repeat for several rules (see below)
  --max-clients N       connections served at once (default 16); more are
                        closed as soon as accepted
  --tls-cert FILE       with --transport tls: the simulator's certificate
                        (PEM), followed by any CA certificates of its chain
  --tls-key FILE        with --transport tls: its private key (PEM, without
                        a passphrase)
  --tls-ca FILE         with --transport tls: require a client certificate
                        signed by a CA in FILE (PEM), and refuse others
  --animate             input register 0 counts up, 1 goes up and down
                        between 0 and 100, 2-3 hold a float sine wave (least
                        significant word first) and discrete input 0 blinks,
                        every 500 ms
  --verbose             print connections, requests and applied faults
  --help                print this help and exit

TABLE is coils, discrete, holding or input. Addresses, sizes, unit ids and
values are decimal or 0x hex; register values may also be -32768..-1 (two's
complement).

Fault RULE: KIND[=VALUE][@SELECTOR][:LIMIT]
  KIND[=VALUE]
    delay=MS            answer after MS milliseconds
    exception=CODE      answer exception CODE (0-255); request not executed
    wrong-unit[=U]      answer carries unit U (default: request's + 1)
    wrong-function[=F]  answer carries function F (default: request's + 1)
    cut-short=K         send only K bytes of the answer PDU; the length field
                        announces just those
    bad-length[=K]      the length field announces K (default 1) bytes more
                        than are sent; the connection stays open, so the
                        master must time out
    split-header[=MS]   send the header as 3 + 3 bytes, then the rest, MS
                        (default 20) ms apart
    byte-by-byte[=MS]   send the answer one byte at a time, MS (default 2)
                        ms apart
    close               close the connection instead of answering; request
                        not executed
    no-answer           swallow the request, keep the connection; request
                        not executed
    extra-bytes=K       K garbage bytes (0xEE) follow the answer in the same
                        send; extra-bytes=0xHEX... sends exactly those bytes
    On a serial line and RTU over TCP only (Modbus/TCP and UDP ignore them):
    bad-crc             the answer carries a wrong CRC (RTU) or LRC (ASCII)
    gap=MS              the answer stops halfway for MS ms, longer than the
                        silence that ends an RTU frame
    garbage=K           K junk bytes (0xEE) go out just before the answer
    There, bad-length makes the byte count of a read answer announce K more
    bytes than follow. On a serial line and UDP close acts as no-answer; on
    UDP each piece of a split-header or byte-by-byte answer is a datagram of
    its own.
  @SELECTOR (without it, every request)
    A or A-B            requests whose start address is in A..B
    A-B/fnN or fnN      only requests of function N
    request=N           the Nth request the server receives, counted from 1
    next=K              the K requests after the rule is added
  :LIMIT                apply the rule at most LIMIT times
  The first matching rule applies; a request gets at most one fault.
  Requests without a start address (function 8, unknown functions) never
  match an address range.

Examples:
  regprobe-sim --listen 127.0.0.1:0 --holding 0=1,2,3 --float 100=1.5:reverse
  regprobe-sim --fault delay=200@0-9 --fault exception=2@100-199:3
  regprobe-sim --fault close@request=5 --fault no-answer@fn6
  regprobe-sim --pty --mode ascii --fault bad-crc@request=2 --fault garbage=3@fn4
  regprobe-sim --transport rtu-over-tcp --fault bad-crc@request=3
  regprobe-sim --transport udp --listen 127.0.0.1:1502 --fault delay=500:1
  regprobe-sim --transport tls --listen 127.0.0.1:8020 --tls-cert device.pem \
      --tls-key device.key --tls-ca ca.pem
)";

// What --listen serves.
enum class ETransport { TCP, RTU_OVER_TCP, UDP, TLS };

// The --transport values.
const std::pair<const char*, ETransport> TRANSPORTS[] = {
    {"tcp", ETransport::TCP},
    {"rtu-over-tcp", ETransport::RTU_OVER_TCP},
    {"udp", ETransport::UDP},
    {"tls", ETransport::TLS},
};

struct Options {
    CString strAddress = "127.0.0.1";
    WORD nPort = 5020;
    ETransport transport = ETransport::TCP;
    size_t nMaxClients = CSimTcpServer::DEFAULT_MAX_CONNECTIONS;
    bool bAnimate = false;
    bool bVerbose = false;
    bool bListenGiven = false;
    CString strSerial;
    bool bPty = false;
    CSimSerialServer::EMode mode = CSimSerialServer::EMode::RTU;
    LONG nBaudRate = 9600;
    CString strFormat = "8N1";
    size_t nSizes[4] = {CSimDevice::DEFAULT_SIZE, CSimDevice::DEFAULT_SIZE,
                        CSimDevice::DEFAULT_SIZE, CSimDevice::DEFAULT_SIZE};
    WORD wFills[4] = {0, 0, 0, 0};
    // Empty: every unit answers.
    std::vector<std::pair<unsigned, unsigned>> units;
    // Applied in the given order once the tables have their size.
    std::vector<std::function<bool(CSimDevice&)>> values;
    std::vector<CSimFaultRule> faults;
    CString strTlsCert;
    CString strTlsKey;
    CString strTlsCa;
};

bool ParseUnsigned(const CString& s, unsigned long long nMax, unsigned long long& v) {
    if (s.empty()) {
        return false;
    }
    bool bHex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const char* pszDigits = s.c_str() + (bHex ? 2 : 0);
    // strtoull would skip blanks and take a sign.
    if (!std::isxdigit(static_cast<unsigned char>(*pszDigits))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    v = std::strtoull(pszDigits, &end, bHex ? 16 : 10);
    return errno == 0 && *end == '\0' && v <= nMax;
}

bool ParseRegister(const CString& s, WORD& w) {
    unsigned long long v;
    if (!s.empty() && s[0] == '-') {
        if (!ParseUnsigned(s.substr(1), 32768, v)) {
            return false;
        }
        w = static_cast<WORD>(0x10000 - v);
        return true;
    }
    if (!ParseUnsigned(s, 0xFFFF, v)) {
        return false;
    }
    w = static_cast<WORD>(v);
    return true;
}

bool ParseTable(const CString& s, Table& table) {
    const std::pair<const char*, Table> names[] = {{"coils", Table::Coils},
                                                   {"discrete", Table::DiscreteInputs},
                                                   {"holding", Table::HoldingRegisters},
                                                   {"input", Table::InputRegisters}};
    for (const auto& [pszName, t] : names) {
        if (s == pszName) {
            table = t;
            return true;
        }
    }
    return false;
}

bool ParseListen(const CString& s, Options& opt) {
    size_t nColon = s.rfind(':');
    unsigned long long v;
    if (nColon == CString::npos || nColon == 0 || !ParseUnsigned(s.substr(nColon + 1), 65535, v)) {
        return false;
    }
    opt.strAddress = s.substr(0, nColon);
    opt.nPort = static_cast<WORD>(v);
    return true;
}

bool ParseUnits(const CString& s, Options& opt) {
    opt.units.clear();
    if (s == "all") {
        return true;
    }
    for (const CString& part : Split(s, ',')) {
        std::vector<CString> ends = Split(part, '-');
        unsigned long long first, last;
        if (ends.size() > 2 || !ParseUnsigned(ends[0], 255, first) ||
            !ParseUnsigned(ends.back(), 255, last) || last < first) {
            return false;
        }
        opt.units.emplace_back(unsigned(first), unsigned(last));
    }
    return true;
}

// TABLE=N for --size and --fill.
bool ParseTableSetting(const CString& s, bool bSize, Options& opt) {
    size_t nEquals = s.find('=');
    Table table;
    if (nEquals == CString::npos || !ParseTable(s.substr(0, nEquals), table)) {
        return false;
    }
    CString value = s.substr(nEquals + 1);
    const size_t t = static_cast<size_t>(table);
    if (bSize) {
        unsigned long long v = 0;
        if (!ParseUnsigned(value, CSimDevice::MAX_SIZE, v)) {
            return false;
        }
        opt.nSizes[t] = size_t(v);
        return true;
    }
    return ParseRegister(value, opt.wFills[t]);
}

// ADDR=V,V,... for --coils, --discrete, --holding and --input.
bool ParseValues(const CString& s, Table table, Options& opt) {
    size_t nEquals = s.find('=');
    unsigned long long nAddress;
    if (nEquals == CString::npos || !ParseUnsigned(s.substr(0, nEquals), 0xFFFF, nAddress)) {
        return false;
    }
    CWordArray values;
    bool bBits = table == Table::Coils || table == Table::DiscreteInputs;
    for (const CString& part : Split(s.substr(nEquals + 1), ',')) {
        WORD w;
        if (!ParseRegister(part, w) || (bBits && w > 1)) {
            return false;
        }
        values.push_back(w);
    }
    opt.values.push_back([table, nAddress, values](CSimDevice& d) {
        return d.SetValues(table, size_t(nAddress), values) != 0;
    });
    return true;
}

// ADDR=F[:reverse] for the float and double options.
bool ParseReal(const CString& s, Table table, bool bDouble, Options& opt) {
    size_t nEquals = s.find('=');
    unsigned long long nAddress;
    if (nEquals == CString::npos || !ParseUnsigned(s.substr(0, nEquals), 0xFFFF, nAddress)) {
        return false;
    }
    CString value = s.substr(nEquals + 1);
    BOOL bReverse = FALSE;
    const CString suffix = ":reverse";
    if (value.size() > suffix.size() &&
        value.compare(value.size() - suffix.size(), suffix.size(), suffix) == 0) {
        bReverse = TRUE;
        value.resize(value.size() - suffix.size());
    }
    char* end = nullptr;
    double d = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0') {
        return false;
    }
    opt.values.push_back([=](CSimDevice& dev) {
        return (bDouble
                    ? dev.SetDouble(table, size_t(nAddress), d, bReverse)
                    : dev.SetFloat(table, size_t(nAddress), static_cast<float>(d), bReverse)) != 0;
    });
    return true;
}

// The options that set up the device's tables and values.
bool ApplyDeviceOption(const CString& strName, const CString& strValue, Options& opt) {
    if (strName == "--units") {
        return ParseUnits(strValue, opt);
    }
    if (strName == "--size" || strName == "--fill") {
        return ParseTableSetting(strValue, strName == "--size", opt);
    }
    // --coils, --discrete, --holding and --input are named after their table.
    Table table;
    if (ParseTable(strName.substr(2), table)) {
        return ParseValues(strValue, table, opt);
    }
    const bool bInput = strName.rfind("--input-", 0) == 0;
    const bool bDouble =
        strName.size() > 6 && strName.compare(strName.size() - 6, 6, "double") == 0;
    return ParseReal(strValue, bInput ? Table::InputRegisters : Table::HoldingRegisters, bDouble,
                     opt);
}

// The serial line's options; the device's go to ApplyDeviceOption.
bool ApplySerialOption(const CString& strName, const CString& strValue, Options& opt,
                       CString& strError) {
    if (strName == "--serial") {
        opt.strSerial = strValue;
        return !strValue.empty();
    }
    if (strName == "--mode") {
        opt.mode =
            strValue == "ascii" ? CSimSerialServer::EMode::ASCII : CSimSerialServer::EMode::RTU;
        return strValue == "rtu" || strValue == "ascii";
    }
    if (strName == "--baud") {
        long long n = 0;
        if (!CCommandLine::ParseNumber(strName, strValue, CSerialSettings::MIN_BAUD_RATE,
                                       CSerialSettings::MAX_BAUD_RATE, n, strError)) {
            return false;
        }
        opt.nBaudRate = LONG(n);
        return true;
    }
    if (strName == "--format") {
        opt.strFormat = strValue;
        CSerialSettings settings;
        return CSimSerialServer::ParseFormat(strValue, settings) != FALSE;
    }
    return ApplyDeviceOption(strName, strValue, opt);
}

// The options of the servers; the serial line's go to ApplySerialOption.
bool ApplyOption(const CString& strName, const CString& strValue, Options& opt, CString& strError) {
    long long n = 0;
    if (strName == "--animate" || strName == "--verbose" || strName == "--pty") {
        (strName == "--animate" ? opt.bAnimate
         : strName == "--pty"   ? opt.bPty
                                : opt.bVerbose) = true;
        return true;
    }
    if (strName == "--listen") {
        opt.bListenGiven = true;
        return ParseListen(strValue, opt);
    }
    if (strName == "--transport") {
        for (const auto& [pszName, transport] : TRANSPORTS) {
            if (strValue == pszName) {
                opt.transport = transport;
                return true;
            }
        }
        return false;
    }
    if (strName == "--max-clients") {
        if (!CCommandLine::ParseNumber(strName, strValue, 1, MAX_CLIENTS, n, strError)) {
            return false;
        }
        opt.nMaxClients = size_t(n);
        return true;
    }
    if (strName == "--tls-cert" || strName == "--tls-key" || strName == "--tls-ca") {
        (strName == "--tls-cert"  ? opt.strTlsCert
         : strName == "--tls-key" ? opt.strTlsKey
                                  : opt.strTlsCa) = strValue;
        return !strValue.empty();
    }
    if (strName == "--fault") {
        CSimFaultRule rule;
        CString strWhy;
        if (!CSimFaults::Parse(strValue, rule, strWhy)) {
            strError = "bad value for --fault: '" + strValue + "': " + strWhy;
            return false;
        }
        opt.faults.push_back(rule);
        return true;
    }
    return ApplySerialOption(strName, strValue, opt, strError);
}

CCommandLine::EResult ParseArguments(int argc, char** argv, Options& opt, CString& strError) {
    return CCommandLine::Parse(
        argc, argv, {{"--listen", true},      {"--serial", true},       {"--pty", false},
                     {"--mode", true},        {"--baud", true},         {"--format", true},
                     {"--units", true},       {"--size", true},         {"--fill", true},
                     {"--coils", true},       {"--discrete", true},     {"--holding", true},
                     {"--input", true},       {"--float", true},        {"--double", true},
                     {"--input-float", true}, {"--input-double", true}, {"--fault", true},
                     {"--max-clients", true}, {"--animate", false},     {"--verbose", false},
                     {"--transport", true},   {"--tls-cert", true},     {"--tls-key", true},
                     {"--tls-ca", true}},
        [&opt](const CString& strName, const CString& strValue, CString& strWhy) {
            return ApplyOption(strName, strValue, opt, strWhy);
        },
        strError);
}

// One step of --animate; nTick counts half seconds.
void Animate(CSimDevice& device, unsigned long nTick) {
    device.SetValue(Table::InputRegisters, 0, static_cast<WORD>(nTick));
    unsigned long nPhase = nTick % 200;
    device.SetValue(Table::InputRegisters, 1,
                    static_cast<WORD>(nPhase <= 100 ? nPhase : 200 - nPhase));
    const double kPi = 3.14159265358979323846;
    device.SetFloat(Table::InputRegisters, 2,
                    static_cast<float>(100.0 * std::sin(nTick * kPi / 20)), FALSE);
    device.SetValue(Table::DiscreteInputs, 0, static_cast<WORD>(nTick / 2 % 2));
}
// The device as the options describe it; false when a value lies beyond
// the end of its table.
bool SetUpDevice(const Options& opt, CSimDevice& device) {
    for (size_t t = 0; t < 4; ++t) {
        device.Resize(static_cast<Table>(t), opt.nSizes[t], opt.wFills[t]);
    }
    if (!opt.units.empty()) {
        device.SetAllUnits(FALSE);
        for (auto [first, last] : opt.units) {
            for (unsigned u = first; u <= last; ++u) {
                device.SetUnit(static_cast<BYTE>(u), TRUE);
            }
        }
    }
    for (const auto& apply : opt.values) {
        if (!apply(device)) {
            return false;
        }
    }
    return true;
}

// Either server logs only with --verbose and gets every fault rule.
template <typename TServer>
void SetLogAndFaults(const Options& opt, const CSimServerLog& log, TServer& server) {
    if (opt.bVerbose) {
        server.SetLog(log);
    }
    for (const CSimFaultRule& rule : opt.faults) {
        server.AddFault(rule);
    }
}

bool StartSerial(const Options& opt, const CSimServerLog& log, CSimSerialServer& serial) {
    serial.SetMode(opt.mode);
    serial.SetBaudRate(opt.nBaudRate);
    serial.SetFormat(opt.strFormat);
    SetLogAndFaults(opt, log, serial);
    if (!(opt.bPty ? serial.StartPty() : serial.StartDevice(opt.strSerial))) {
        std::fprintf(stderr, "regprobe-sim: %s\n", serial.GetError().c_str());
        return false;
    }
    if (opt.bPty) {
        std::printf("pty %s\n", serial.GetPath().c_str());
        std::fflush(stdout);
    }
    return true;
}

// With --transport tls, the TLS side from the --tls-* files.
bool SetUpTls(const Options& opt, CSimTcpServer& server) {
    if (opt.transport != ETransport::TLS) {
        return true;
    }
    auto pTls = std::make_shared<CSimTls>();
    CString strError;
    if (!pTls->Load(opt.strTlsCert, opt.strTlsKey, opt.strTlsCa, strError)) {
        std::fprintf(stderr, "regprobe-sim: %s\n", strError.c_str());
        return false;
    }
    server.SetTls(std::move(pTls));
    return true;
}

// Starts the server of --listen and says where it listens.
template <typename TServer>
bool StartListening(const Options& opt, const CSimServerLog& log, TServer& server) {
    server.SetAddress(opt.strAddress);
    server.SetPort(opt.nPort);
    SetLogAndFaults(opt, log, server);
    if (!server.Start()) {
        std::fprintf(stderr, "regprobe-sim: %s\n", server.GetError().c_str());
        return false;
    }
    std::printf("listening on %s:%u\n", server.GetAddress().c_str(), unsigned(server.GetPort()));
    std::fflush(stdout);
    return true;
}

// Animates the device, if asked, until SIGINT or SIGTERM.
void RunUntilStopped(const Options& opt, const sigset_t& stopSignals, CSimDevice& device) {
    unsigned long nTick = 0;
    for (;;) {
        if (opt.bAnimate) {
            Animate(device, nTick++);
        }
        timespec wait{0, 500 * 1000 * 1000};
        const int nSignal = sigtimedwait(&stopSignals, nullptr, &wait);
        if (nSignal == SIGINT || nSignal == SIGTERM) {
            return;
        }
    }
}

// The --tls-* files go with --transport tls, which needs a certificate and
// its key.
bool CheckTlsOptions(const Options& opt, int& nExit) {
    const bool bTls = opt.transport == ETransport::TLS;
    const bool bFiles = !opt.strTlsCert.empty() || !opt.strTlsKey.empty() || !opt.strTlsCa.empty();
    const char* pszWhy = nullptr;
    if (bTls && (opt.strTlsCert.empty() || opt.strTlsKey.empty())) {
        pszWhy = "--transport tls needs --tls-cert and --tls-key";
    } else if (!bTls && bFiles) {
        pszWhy = "--tls-cert, --tls-key and --tls-ca go with --transport tls";
    }
    if (pszWhy != nullptr) {
        std::fprintf(stderr, "regprobe-sim: %s\n", pszWhy);
        nExit = 2;
        return false;
    }
    return true;
}

// The options, checked; false with the exit code when the program should
// not run (help shown, or bad usage told).
bool ReadArguments(int argc, char** argv, Options& opt, int& nExit) {
    CString strError;
    switch (ParseArguments(argc, argv, opt, strError)) {
        case CCommandLine::EResult::HELP:
            std::fputs(HELP_TEXT, stdout);
            nExit = 0;
            return false;
        case CCommandLine::EResult::BAD:
            std::fprintf(stderr, "regprobe-sim: %s (see --help)\n", strError.c_str());
            nExit = 2;
            return false;
        case CCommandLine::EResult::RUN:
            break;
    }
    if (opt.bPty && !opt.strSerial.empty()) {
        std::fputs("regprobe-sim: --pty and --serial exclude each other\n", stderr);
        nExit = 2;
        return false;
    }
    return CheckTlsOptions(opt, nExit);
}

// Serves the device on the serial side, the network side or both until a stop
// signal; the exit code.
int Serve(const Options& opt, const sigset_t& stopSignals, CSimDevice& device) {
    std::mutex logMutex;
    const CSimServerLog log = [&logMutex](const CString& strLine) {
        std::lock_guard<std::mutex> guard(logMutex);
        std::fprintf(stderr, "%s\n", strLine.c_str());
    };
    for (const CSimFaultRule& rule : opt.faults) {
        if (opt.bVerbose) {
            std::fprintf(stderr, "fault %s\n", CSimFaults::Describe(rule).c_str());
        }
    }
    const bool bSerial = opt.bPty || !opt.strSerial.empty();
    CSimSerialServer serial(device);
    if (bSerial && !StartSerial(opt, log, serial)) {
        return 1;
    }
    const bool bListen = !bSerial || opt.bListenGiven;
    const bool bUdp = opt.transport == ETransport::UDP;
    CSimTcpServer server(device);
    server.SetMaxConnections(opt.nMaxClients);
    server.SetFraming(opt.transport == ETransport::RTU_OVER_TCP ? CSimTcpServer::EFraming::RTU
                                                                : CSimTcpServer::EFraming::MBAP);
    CSimUdpServer udp(device);
    if (bListen && !(bUdp ? StartListening(opt, log, udp)
                          : SetUpTls(opt, server) && StartListening(opt, log, server))) {
        return 1;
    }
    RunUntilStopped(opt, stopSignals, device);
    server.Stop();
    udp.Stop();
    serial.Stop();
    if (opt.bVerbose) {
        std::fprintf(
            stderr, "stopped after %llu connections, %llu requests, %llu serial requests\n",
            static_cast<unsigned long long>(server.GetConnectionCount()),
            static_cast<unsigned long long>(server.GetRequestCount() + udp.GetRequestCount()),
            static_cast<unsigned long long>(serial.GetRequestCount()));
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    Options opt;
    int nExit = 0;
    if (!ReadArguments(argc, argv, opt, nExit)) {
        return nExit;
    }
    CSimDevice device;
    if (!SetUpDevice(opt, device)) {
        std::fputs("regprobe-sim: a value lies beyond the end of its table\n", stderr);
        return 2;
    }

    // The serving threads inherit this mask: only the main thread takes the
    // stop signals, synchronously.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return Serve(opt, stopSignals, device);
}
