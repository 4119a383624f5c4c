// regprobe-poll's options: one table that both the parse and --help come
// from, and the rules that tie options together after the parse.
#pragma once

#include <string>

#include "platform/CommandLine.h"
#include "publish/MqttTarget.h"
#include "testview/FormNames.h"

struct CPollOptions {
    std::string strConfig;
    std::string strConnection;
    std::string strWorkspace;  // --workspace: what window nWindow (from 1) polls
    long nWindow = 0;
    // The first option given that a workspace's window sets: --device,
    // --function, --address, --quantity, --type, --interval or a write's.
    std::string strFormOption;
    std::string strTransport = "tcp";  // one of kTransports
    bool bTransportGiven = false;
    std::string strHost = "127.0.0.1";
    long nPort = 502;  // the transport's own unless given
    bool bPortGiven = false;
    std::string strCaFile;  // --transport tls: the three files
    std::string strCertFile;
    std::string strKeyFile;
    std::string strKeyPassphraseFile;
    long nTimeout = 10000;
    bool bReconnect = false;
    long nTries = 1;
    bool bTriesGiven = false;    // a saved connection keeps its own otherwise
    bool bAddressGiven = false;  // --host, --port, --timeout or --reconnect
    long nDevice = 1;
    std::string strFunction = "holding";
    long nAddress = 0;
    long nQuantity = 10;
    bool bQuantityGiven = false;
    std::string strType = "uint16";
    long nInterval = 1000;
    long nCount = -1;  // reads; -1 until interrupted
    bool bCountGiven = false;
    bool bOnce = false;
    bool bWrite = false;
    std::string strWriteValue;
    std::string strWriteFunction = "register";
    long nWriteAddress = -1;  // -1: the read address
    std::string strFormat = "text";
    bool bTrace = false;
    bool bScanUnits = false;  // --scan-units: the range instead of reads
    long nScanFirst = 1;
    long nScanLast = 247;
    long nScanTimeout = 0;        // 0: the connection's own
    bool bScanAddresses = false;  // --scan-addresses: the readable ranges instead of reads
    long nScanStep = 40;
    bool bRaw = false;       // --raw: one request of these bytes instead of reads
    CByteArray rawPdu;       // function code and data
    std::string strReads;    // --reads FILE: its reads instead of one from the options
    std::string strPublish;  // --publish URL: to an MQTT broker instead of printing
    CMqttTarget publish;
    std::string strMqttCaFile;
    std::string strMqttCertFile;
    std::string strMqttKeyFile;
    long nQueue = 10000;        // messages waiting for the broker, per connection
    long nFlushTimeout = 5000;  // ms to deliver what waits once stopped
};

// The transports by name, and the port each is served on unless --port says.
inline const char* const kTransports[] = {"tcp", "rtu-over-tcp", "udp", "tls"};
inline const long kTransportPorts[] = {502, 502, 502, 802};

// Every option with the field it sets, in the order --help shows them.
CCommandLine::Table PollOptionTable(CPollOptions& o);

// The whole --help text.
std::string PollHelp();

// The options into o, then the rules between them; BAD with the line to
// print in strError.
CCommandLine::EResult ParsePollOptions(int argc, const char* const* argv, CPollOptions& o,
                                       CString& strError);
