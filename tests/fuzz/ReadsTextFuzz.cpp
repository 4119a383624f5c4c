// Reads arbitrary text as a reads file, as a broker's address and as a topic
// level. A refusal says why; what is taken is within the ranges the poller
// relies on, and a level can make neither a level nor a wildcard.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "publish/MqttTarget.h"
#include "tools/ReadsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string strText(data, data + size);
    std::vector<CReadLine> reads;
    std::string strError;
    if (!ParseReads(strText, "f", reads, strError)) {
        if (strError.empty()) {
            __builtin_trap();
        }
    }
    for (const CReadLine& r : reads) {
        const bool bPort = r.strTransport.empty() || (r.nPort >= 1 && r.nPort <= 65535);
        if (r.strConnection.empty() || !bPort || r.nDevice > 255 || r.nAddress > 65535 ||
            r.nQuantity > 255 || r.nInterval > 10000) {
            __builtin_trap();
        }
    }
    CMqttTarget target;
    strError.clear();
    if (ParseMqttTarget(strText, target, strError)) {
        if (target.strHost.empty() || target.strPrefix.empty() || target.nPort < 1 ||
            target.nPort > 65535 || target.strPrefix.find_first_of("+#") != std::string::npos) {
            __builtin_trap();
        }
    } else if (strError.empty()) {
        __builtin_trap();
    }
    if (TopicLevel(strText).find_first_of("/+#") != std::string::npos) {
        __builtin_trap();
    }
    return 0;
}
