#include "PollOptions.h"

#include <climits>
#include <iterator>
#include <utility>

#include "platform/Text.h"
#include "scan/RawRequest.h"

namespace {

using CL = CCommandLine;

const char kHead[] =
    "Usage: regprobe-poll [options]\n"
    "Polls a Modbus device and prints the values read, or writes one value.\n"
    "\n";

const char kTail[] =
    "\n"
    "The numbers of options are decimal or hexadecimal with 0x (--address 0x160);\n"
    "a --write value is read as the test window reads it.\n"
    "\n"
    "--workspace polls what a test window of a saved workspace polls: its\n"
    "connection (from the workspace's own records, loaded as --config loads\n"
    "one), device, function, address, quantity, type and interval, each text\n"
    "read as the window reads it (an interval out of range is 10000). Options\n"
    "that the window sets cannot be given with it; --once, --count, --tries,\n"
    "--format and --trace can. A file that cannot be read, a window that is not\n"
    "there or has no connection are bad options (exit status 2).\n"
    "\n"
    "--transport tls speaks Modbus/TCP inside TLS 1.2 or 1.3: the device's\n"
    "certificate must be signed by --ca and carry the host name or address\n"
    "given; the device may ask for --cert, which --key signs for. A key that is\n"
    "encrypted needs its passphrase: asked for on the terminal (not shown) when\n"
    "standard input is one, otherwise read from the first line of\n"
    "--key-passphrase-file. The same holds for a saved Modbus/TCP Security\n"
    "connection.\n"
    "\n"
    "A connection by host and port (--host, or a saved Open Modbus, RTU over\n"
    "TCP, Modbus/UDP or Modbus/TCP Security one) that a failed\n"
    "exchange dropped, or that could not be made at the start, is made again\n"
    "before the next read, after a pause that doubles from 50 ms up to the\n"
    "interval or 1 s, whichever is longer; with --reconnect every exchange makes\n"
    "its own. A read without a connection is a failed read (\"Socket not\n"
    "connected\").\n"
    "\n"
    "Text prints for each read its values on one line, labelled by the address\n"
    "of the register (or bit) each comes from as the test window labels them (a\n"
    "float at 10 is [10]=...), then the status text with the read's time, then\n"
    "the statistics line: reads, errors and the reads per second that the read's\n"
    "own time allows (every tenth read: the last ten's average). A failed read\n"
    "prints no values. Control characters of a char value are written \\n, \\r or\n"
    "\\xNN, a backslash \\\\. CSV prints a header, then one line per value (time,\n"
    "connection, device, function, type, address, value, status, read_ms); a\n"
    "read without values is one line with address and value empty. A field with\n"
    "a comma, a quote or a line end is quoted (RFC 4180); a NUL character is an\n"
    "empty value. JSON prints one array with an object per read and its values;\n"
    "numbers are exact: a 64-bit integer further from 0 than 2^53, which a double\n"
    "cannot hold, is a string.\n"
    "\n"
    "--scan-addresses prints each readable range of the table as FIRST-LAST,\n"
    "one a line, and on standard error the number of requests it took. A read\n"
    "is taken to succeed when every entry it reaches exists; readable runs are\n"
    "read as much at a time as a request takes (125 registers, 2000 bits) and\n"
    "their ends found by bisection; where nothing can be read, one address in\n"
    "--scan-step is probed, so a range shorter than that lying between two\n"
    "probes can be missed. Any answer but data or exception 2 ends the scan.\n"
    "\n"
    "--raw prints the request and the answer as --trace does (\"> 01 03 00 00 00\n"
    "02  unit 1: read holding registers, address 0, quantity 2\"), then the\n"
    "status with the round trip; an exception answer is shown as its three\n"
    "bytes. CSV prints request,answer,status,round_trip_ms,request_decoded,\n"
    "answer_decoded; JSON one object with those names and ok.\n"
    "\n"
    "--scan-units prints a line per unit as it is asked (\"unit 3: data (0.41\n"
    "ms)\", \"unit 4: silent (1000.20 ms)\", \"unit 7: exception 2 (illegal data\n"
    "address) (0.38 ms)\", \"unit 9: error: CRC Error (0.52 ms)\"), then the units\n"
    "that answered. An exception is an answer: the unit is there. A gateway's\n"
    "exception 10 or 11 means no device answered behind it: silent. CSV prints\n"
    "unit,result,round_trip_ms; JSON an array of objects with unit, result,\n"
    "round_trip_ms and, unless the result is data, status.\n"
    "\n"
    "--reads FILE runs every read of the file, one a line, each on its own\n"
    "schedule: CONNECTION DEVICE FUNCTION ADDRESS QUANTITY TYPE INTERVAL_MS,\n"
    "blanks between them, '#' to the end of a line a comment. CONNECTION is a\n"
    "connection saved in --config FILE (in double quotes when its name has\n"
    "blanks) or tcp:HOST:PORT, rtu-over-tcp:HOST:PORT or udp:HOST:PORT. A\n"
    "workspace (FILE.rpw) is read as such a file: each test window a read,\n"
    "through its connection from the workspace's own records. Reads of\n"
    "one connection share it, one exchange at a time; --count and --once count\n"
    "each read's own. Text starts each line with the read (\"plc 1 holding 0:\n"
    "\"); CSV and JSON name it in their fields.\n"
    "\n"
    "--publish sends each value of each read to the broker as one message, topic\n"
    "PREFIX/CONNECTION/DEVICE/FUNCTION/ADDRESS, payload the read's JSON fields with\n"
    "the value's address and value; CONNECTION is the saved connection's name or\n"
    "HOST:PORT, each '/', '+', '#' or control character in it written '_'.\n"
    "PREFIX/CONNECTION/status is retained: {\"state\":\"online\"} or \"offline\" with\n"
    "the last read's status, published when either changes, \"offline\" when the\n"
    "poller stops, and by the broker (the will) when the poller is lost. Messages\n"
    "go at QoS 1; those not yet acknowledged wait, at most --queue of them per\n"
    "connection, the oldest dropped and counted beyond that. A lost broker is\n"
    "tried again after 1 s, doubling up to 30 s; while it is away or messages are\n"
    "dropped, a line on standard error every minute says so. SIGTERM or SIGINT\n"
    "stops the reads, publishes \"offline\" and waits at most --flush-timeout for\n"
    "the broker to take what waits. The user's password, if the broker wants one,\n"
    "is taken from the environment variable REGPROBE_MQTT_PASSWORD.\n"
    "\n"
    "Exit status: 0 when every read (and the write) succeeded, or every unit of\n"
    "a scan was asked, and every message was delivered; 1 otherwise; 2 for bad\n"
    "options.\n"
    "\n"
    "Examples:\n"
    "  regprobe-poll --port 1502 --address 10 --quantity 1 --type float --count 3\n"
    "  regprobe-poll --host 192.0.2.7 --once --format json --quantity 4\n"
    "  regprobe-poll --port 1502 --type int32-cdab --address 40 --write -100000 --once\n"
    "  regprobe-poll --port 1502 --write-function coil --write-address 3 --write 1\n"
    "  regprobe-poll --config ~/Regpr.cfg --connection com1 --once --format csv\n"
    "  regprobe-poll --workspace ~/line3.rpw --window 2 --count 10\n"
    "  regprobe-poll --host 192.0.2.7 --scan-units 1-247 --scan-timeout 200\n"
    "  regprobe-poll --host 192.0.2.7 --device 3 --function coils --scan-addresses\n"
    "  regprobe-poll --port 1502 --raw \"16 0004 00F2 0025\"\n"
    "  regprobe-poll --transport rtu-over-tcp --host 192.0.2.7 --port 4001 --once\n"
    "  regprobe-poll --transport tls --host 192.0.2.7 --ca ca.pem --cert client.pem \\\n"
    "      --key client.key --once\n"
    "  regprobe-poll --reads panel.reads --publish mqtt://127.0.0.1/plant/line1\n";

// set, noting in bGiven that the option was given; the rules after the
// parse ask for that.
CL::Handler Given(bool& bGiven, CL::Handler set) {
    return [&bGiven, set = std::move(set)](const CString& strName, const CString& strValue,
                                           CString& strError) {
        bGiven = true;
        return set(strName, strValue, strError);
    };
}

// set, noting the option's name in strFirst unless one is noted already.
CL::Handler Noted(std::string& strFirst, CL::Handler set) {
    return [&strFirst, set = std::move(set)](const CString& strName, const CString& strValue,
                                             CString& strError) {
        if (strFirst.empty()) {
            strFirst = strName;
        }
        return set(strName, strValue, strError);
    };
}

// "FROM-TO" (or one unit), each 0-255, FROM not above TO.
CL::Handler UnitRange(long& nFirst, long& nLast) {
    return [&nFirst, &nLast](const CString& strName, const CString& strValue, CString& strError) {
        const size_t nDash = strValue.find('-');
        const CString strFirst = strValue.substr(0, nDash);
        const CString strLast = nDash == CString::npos ? strFirst : strValue.substr(nDash + 1);
        long long n1 = 0;
        long long n2 = 0;
        if (!CL::ParseNumber(strFirst, 0, 255, n1, true) ||
            !CL::ParseNumber(strLast, 0, 255, n2, true) || n1 > n2) {
            strError = strName + " needs unit ids FROM-TO, each from 0 to 255 and FROM not " +
                       "above TO, not '" + strValue + "'";
            return false;
        }
        nFirst = long(n1);
        nLast = long(n2);
        return true;
    };
}

// Pairs of hex digits (blanks, ':' and '-' between them are skipped): a
// request's function code and data, at most a PDU's 253 bytes.
CL::Handler HexBytes(CByteArray& bytes) {
    return [&bytes](const CString& strName, const CString& strValue, CString& strError) {
        if (!ParseRawHex(strValue, bytes)) {
            strError = strName + " needs the function code and data as pairs of hex digits, not '" +
                       strValue + "'";
            return false;
        }
        if (bytes.size() > MAX_RAW_PDU) {
            strError = strName + ": a request holds at most 253 bytes of function code and " +
                       "data, not " + std::to_string(bytes.size());
            return false;
        }
        return true;
    };
}

// One of kTransports; a wrong name is told with the right ones.
CL::Handler Transport(std::string& strTarget) {
    return [&strTarget](const CString& strName, const CString& strValue, CString& strError) {
        CString strNames;
        for (const char* pszName : kTransports) {
            if (strValue == pszName) {
                strTarget = strValue;
                return true;
            }
            strNames += (strNames.empty() ? "" : ", ") + CString(pszName);
        }
        strError = "unknown transport '" + strValue + "' for " + strName + ": one of " + strNames;
        return false;
    };
}

// An MQTT broker's address and topic prefix.
CL::Handler Target(std::string& strTarget, CMqttTarget& target) {
    return [&strTarget, &target](const CString&, const CString& strValue, CString& strError) {
        strTarget = strValue;
        return ParseMqttTarget(strValue, target, strError);
    };
}

// Every number may be given in hex as well.
CL::Handler Number(long& nTarget, long long nMin, long long nMax) {
    return CL::Number(nTarget, nMin, nMax, true);
}

}  // namespace

namespace {
// What --workspace cannot go with: the window brings it.
CString WorkspaceConflict(const CPollOptions& o, bool bScan, bool bTlsFiles) {
    if (!o.strConfig.empty()) {
        return "--workspace brings its own connections: it goes without --config and "
               "--connection";
    }
    if (o.bAddressGiven || o.bTransportGiven || bTlsFiles) {
        return "the window's connection brings its own address, transport and files";
    }
    if (!o.strFormOption.empty()) {
        return "the window says what to read: --workspace goes without " + o.strFormOption;
    }
    if (bScan) {
        return "--workspace polls as its window does: it goes without --scan-units, "
               "--scan-addresses and --raw";
    }
    return CString();
}

// What --reads and --publish cannot go with.
CString ReadsConflict(const CPollOptions& o, bool bScan, bool bTlsFiles) {
    if (!o.strReads.empty() && !o.strWorkspace.empty()) {
        return "--reads goes without --workspace: a workspace's windows are read with --reads "
               "FILE.rpw";
    }
    if (!o.strReads.empty() && (!o.strConnection.empty() || o.bAddressGiven || o.bTransportGiven ||
                                bTlsFiles || bScan || o.bWrite)) {
        return "--reads brings its own connections and reads: it goes without --connection, "
               "--host, --port, --transport, --write, scans and --raw";
    }
    if (!o.strPublish.empty() && bScan) {
        return "--publish goes with reads, not with scans or --raw";
    }
    const bool bMqttFiles =
        !o.strMqttCaFile.empty() || !o.strMqttCertFile.empty() || !o.strMqttKeyFile.empty();
    if (bMqttFiles && (o.strPublish.empty() || !o.publish.bTls)) {
        return "--mqtt-ca, --mqtt-cert and --mqtt-key go with --publish mqtts://...";
    }
    if (o.strMqttCertFile.empty() != o.strMqttKeyFile.empty()) {
        return "--mqtt-cert and --mqtt-key go together";
    }
    return CString();
}

// Why options given together cannot run; empty when they can.
CString Conflict(const CPollOptions& o) {
    const bool bScan = o.bScanUnits || o.bScanAddresses || o.bRaw;
    // A reads file may name connections of --config itself.
    if (o.strConfig.empty() != o.strConnection.empty() && o.strReads.empty()) {
        return "--config and --connection go together";
    }
    if (o.strWorkspace.empty() != (o.nWindow == 0)) {
        return "--workspace and --window go together";
    }
    const bool bTlsFiles = !o.strCaFile.empty() || !o.strCertFile.empty() || !o.strKeyFile.empty();
    if (!o.strWorkspace.empty()) {
        const CString strWhy = WorkspaceConflict(o, bScan, bTlsFiles);
        if (!strWhy.empty()) {
            return strWhy;
        }
    }
    if (!o.strConfig.empty() && o.bAddressGiven) {
        return "a saved connection brings its own address and time-out";
    }
    if (!o.strConfig.empty() && (o.bTransportGiven || bTlsFiles)) {
        return "a saved connection brings its own transport and files";
    }
    // A saved connection's kind is known only once it is loaded: its
    // key may need the passphrase file.
    if (o.strConfig.empty() && o.strWorkspace.empty() && o.strTransport != "tls" &&
        (bTlsFiles || !o.strKeyPassphraseFile.empty())) {
        return "--ca, --cert, --key and --key-passphrase-file go with --transport tls";
    }
    if (o.strTransport == "tls" &&
        (o.strCaFile.empty() || o.strCertFile.empty() || o.strKeyFile.empty())) {
        return "--transport tls needs --ca, --cert and --key";
    }
    if (o.bOnce && o.bCountGiven) {
        return "--once and --count exclude each other";
    }
    if (int(o.bScanUnits) + int(o.bScanAddresses) + int(o.bRaw) > 1) {
        return "one of --scan-units, --scan-addresses and --raw at a time";
    }
    if (bScan && (o.bWrite || o.bOnce || o.bCountGiven)) {
        return o.bRaw ? "--raw goes without --write, --once and --count"
                      : "a scan goes without --write, --once and --count";
    }
    if (bScan && !o.bRaw && o.strFunction == "loopback") {
        return "a scan asks with a read, not loopback";
    }
    if (o.nScanTimeout != 0 && !o.bScanUnits) {
        return "--scan-timeout goes with --scan-units";
    }
    return ReadsConflict(o, bScan, bTlsFiles);
}
}  // namespace

CCommandLine::Table PollOptionTable(CPollOptions& o) {
    const CL::Handler count = Given(o.bCountGiven, Number(o.nCount, 1, LONG_MAX));
    return {
        CL::Heading("The device, a saved connection:"),
        {"--config", "FILE", "a connections file saved by the application (Regpr.cfg)",
         CL::Text(o.strConfig)},
        {"--connection", "NAME",
         "the connection of that name in it: Open Modbus, RTU over\n"
         "TCP, Modbus/UDP and Modbus/TCP Security directly,\n"
         "Local/DCom through modbus-serial-server, started when it\n"
         "is not running, with the file's line settings",
         CL::Text(o.strConnection)},
        CL::Heading("or a window of a workspace:"),
        {"--workspace", "FILE", "a workspace saved by the application (.rpw)",
         CL::Text(o.strWorkspace)},
        {"--window", "N",
         "poll what its window N (from 1, in the file's order)\n"
         "polls: its connection, device, function, address,\n"
         "quantity, type and interval, read as the window reads\n"
         "them",
         Number(o.nWindow, 1, LONG_MAX)},
        CL::Heading("or given here:"),
        {"--transport", "T",
         "tcp (Modbus/TCP, the default) | rtu-over-tcp (RTU frames\n"
         "over TCP) | udp (Modbus/UDP) | tls (Modbus/TCP Security)",
         Given(o.bTransportGiven, Transport(o.strTransport))},
        {"--host", "HOST", "the device's host name or address (default 127.0.0.1)",
         Given(o.bAddressGiven, CL::Text(o.strHost))},
        {"--port", "N", "its port, 1-65535 (default 502; 802 for tls)",
         Given(o.bAddressGiven, Given(o.bPortGiven, Number(o.nPort, 1, 65535)))},
        {"--timeout", "MS", "time-out of each exchange in milliseconds (default 10000)",
         Given(o.bAddressGiven, Number(o.nTimeout, 1, 0xFFFFFFFFLL))},
        {"--reconnect", nullptr, "open a new connection for every exchange",
         Given(o.bAddressGiven, CL::Flag(o.bReconnect))},
        {"--tries", "N",
         "attempts per exchange, 1-100 (default 1; with\n"
         "--connection, the saved connection's)",
         Given(o.bTriesGiven, Number(o.nTries, 1, 100))},
        {"--ca", "FILE", "tls: the CA certificate (PEM) that signed the device's",
         CL::Text(o.strCaFile)},
        {"--cert", "FILE", "tls: this client's certificate (PEM)", CL::Text(o.strCertFile)},
        {"--key", "FILE",
         "tls: the certificate's private key (PEM); when it is\n"
         "encrypted, its passphrase is asked for on the terminal,\n"
         "or is the first line of --key-passphrase-file FILE",
         CL::Text(o.strKeyFile)},
        {"--key-passphrase-file", "FILE", nullptr, CL::Text(o.strKeyPassphraseFile)},
        CL::Heading("\nWhat to read:"),
        {"--device", "N", "device (unit) address, 0-255 (default 1)",
         Noted(o.strFormOption, Number(o.nDevice, 0, 255))},
        {"--function", "F",
         "coils | inputs | holding | input-registers | loopback\n"
         "(default holding)",
         Noted(o.strFormOption,
               CL::Choice(o.strFunction, {std::begin(kFunctions), std::end(kFunctions)},
                          "function"))},
        {"--address", "N", "starting address, 0-65535, sent as given (default 0)",
         Noted(o.strFormOption, Number(o.nAddress, 0, 65535))},
        {"--quantity", "N", "number of values, 0-255 (default 10)",
         Noted(o.strFormOption, Given(o.bQuantityGiven, Number(o.nQuantity, 0, 255)))},
        {"--type", "T",
         "char | int16 | uint16 | float | float-reverse | double |\n"
         "double-reverse | int32-ORDER | uint32-ORDER |\n"
         "float32-ORDER | hex16 | bin16 | int64-ORDER |\n"
         "uint64-ORDER | float64-ORDER, ORDER one of abcd, cdab,\n"
         "badc, dcba (registers only; default uint16)",
         Noted(o.strFormOption,
               CL::Choice(o.strType, {std::begin(kTypes), std::end(kTypes)}, "type"))},
        CL::Heading("\nHow often:"),
        {"--interval", "MS", "pause between reads, 0-10000 (default 1000)",
         Noted(o.strFormOption, Number(o.nInterval, 0, 10000))},
        {"--count", "N",
         "stop after N reads (default: until interrupted);\n"
         "--cycles N is the same",
         count},
        {"--cycles", "N", nullptr, count},
        {"--once", nullptr,
         "one read: exit status 0 when it succeeded, 1 when it\n"
         "failed (the status text on standard error)",
         CL::Flag(o.bOnce)},
        CL::Heading(
            "\nWriting (done once, before any read; with --once or --count the reads follow):"),
        {"--write", "VALUE", "the value as typed in the test window, read by --type",
         Noted(o.strFormOption, Given(o.bWrite, CL::Text(o.strWriteValue)))},
        {"--write-function", "F", "register | coil (default register)",
         Noted(o.strFormOption, CL::Choice(o.strWriteFunction,
                                           {std::begin(kWriteFunctions), std::end(kWriteFunctions)},
                                           "write function"))},
        {"--write-address", "N", "address to write, 0-65535 (default: --address)",
         Noted(o.strFormOption, Number(o.nWriteAddress, 0, 65535))},
        CL::Heading("\nFinding units (instead of reading):"),
        {"--scan-units", "FROM-TO",
         "ask each unit id in the range with one read of\n"
         "--function, --address and --quantity (default 1), and\n"
         "print who answered with data, with an exception, or not",
         Given(o.bScanUnits, UnitRange(o.nScanFirst, o.nScanLast))},
        {"--scan-timeout", "MS",
         "time-out for each unit of the scan, usually shorter\n"
         "than the connection's (Modbus/TCP; default: the\n"
         "connection's)",
         Number(o.nScanTimeout, 1, 0xFFFFFFFFLL)},
        {"--scan-addresses", nullptr,
         "find the readable address ranges of --function's table\n"
         "of --device and print one a line, FIRST-LAST; --quantity\n"
         "given is the most one read may ask for",
         CL::Flag(o.bScanAddresses)},
        {"--scan-step", "N",
         "addresses between probes where nothing can be read,\n"
         "1-2000 (default 40; 1 finds every range, however short)",
         Number(o.nScanStep, 1, 2000)},
        CL::Heading("\nAny request (instead of reading):"),
        {"--raw", "HEX",
         "send one request to --device: its function code and data\n"
         "as hex (\"16 0004 00F2 0025\"), and print the answer\n"
         "decoded with its round trip",
         Given(o.bRaw, HexBytes(o.rawPdu))},
        CL::Heading("\nOutput:"),
        {"--format", "F", "text (default) | csv | json",
         CL::Choice(o.strFormat, {"text", "csv", "json"}, "format")},
        {"--trace", nullptr,
         "every exchange's bytes and what they mean on standard\n"
         "error, as the traffic monitor shows them",
         CL::Flag(o.bTrace)},
        CL::Heading("\nSeveral reads:"),
        {"--reads", "FILE",
         "the reads of FILE, one a line, each on its own schedule\n"
         "(see below), instead of the read of the options",
         CL::Text(o.strReads)},
        CL::Heading("\nPublishing to an MQTT broker (instead of printing):"),
        {"--publish", "URL",
         "mqtt://[USER@]HOST[:PORT]/PREFIX (port 1883), or\n"
         "mqtts://... for TLS (port 8883): each value read is one\n"
         "message under PREFIX",
         Target(o.strPublish, o.publish)},
        {"--mqtt-ca", "FILE", "mqtts: the CA certificate (PEM) that signed the broker's",
         CL::Text(o.strMqttCaFile)},
        {"--mqtt-cert", "FILE", "mqtts: this client's certificate (PEM), when the broker\nasks",
         CL::Text(o.strMqttCertFile)},
        {"--mqtt-key", "FILE", "mqtts: its private key (PEM)", CL::Text(o.strMqttKeyFile)},
        {"--queue", "N",
         "messages that may wait for the broker per connection,\n"
         "1-10000000 (default 10000); beyond, the oldest are dropped",
         Number(o.nQueue, 1, 10000000)},
        {"--flush-timeout", "MS",
         "once stopped, how long to wait for the broker to take\n"
         "the messages still waiting, 0-600000 (default 5000)",
         Number(o.nFlushTimeout, 0, 600000)},
    };
}

std::string PollHelp() {
    CPollOptions o;
    return kHead + CCommandLine::Help(PollOptionTable(o)) + kTail;
}

CCommandLine::EResult ParsePollOptions(int argc, const char* const* argv, CPollOptions& o,
                                       CString& strError) {
    const CCommandLine::EResult result =
        CCommandLine::Parse(argc, argv, PollOptionTable(o), strError);
    if (result != CCommandLine::EResult::RUN) {
        return result;
    }
    strError = Conflict(o);
    if (!strError.empty()) {
        return CCommandLine::EResult::BAD;
    }
    for (size_t i = 0; i < std::size(kTransports) && !o.bPortGiven; ++i) {
        if (o.strTransport == kTransports[i]) {
            o.nPort = kTransportPorts[i];
        }
    }
    if (o.bScanUnits && !o.bQuantityGiven) {
        o.nQuantity = 1;
    }
    if (o.bOnce) {
        o.nCount = 1;
    } else if (o.bWrite && !o.bCountGiven) {
        o.nCount = 0;  // only the write
    }
    return CCommandLine::EResult::RUN;
}
