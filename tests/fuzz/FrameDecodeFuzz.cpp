// Feeds arbitrary bytes to the traffic decoder as a request and its answer,
// in each framing, and checks that every text stays one bounded line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/FrameDecode.h"

namespace {
// Sixteen values of up to five digits, the words around them and a reason.
constexpr std::size_t kMaxText = 400;

void Check(const std::string& str) {
    if (str.empty() || str.size() > kMaxText || str.find('\n') != std::string::npos) {
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first byte picks the framings, the second where the request ends.
    using FrameDecode::EFraming;
    const EFraming kFramings[] = {EFraming::UNIT_PDU, EFraming::TCP_HEADER, EFraming::RTU,
                                  EFraming::UNIT_PDU};
    const EFraming request = kFramings[data[0] & 3];
    const EFraming answer = kFramings[(data[0] >> 2) & 3];
    const std::uint8_t* p = data + 2;
    const std::size_t n = size - 2;
    const std::size_t nRequest = data[1] < n ? data[1] : n;
    Check(FrameDecode::DecodeRequest(p, nRequest, request));
    Check(FrameDecode::DecodeAnswer(p, nRequest, request, p + nRequest, n - nRequest, answer));
    Check(FrameDecode::DecodeAnswer(nullptr, 0, request, p, n, answer));
    (void)FrameDecode::HasTcpHeader(p, n);
    (void)FrameDecode::HasRtuCrc(p, n);
    return 0;
}
