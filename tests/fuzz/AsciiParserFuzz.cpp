// Feeds arbitrary bytes to the ASCII reader, as answers to a chosen request
// or as requests, in pieces of a chosen size, and checks what it accepts: a
// whole frame re-encodes to the text that ended it, its LRC holds and it is
// no larger than Modbus allows.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "server/AsciiFrame.h"
#include "server/AsciiParser.h"

namespace {
void Check(bool bHolds) {
    if (!bHolds) {
        __builtin_trap();
    }
}

// Upper-case hexadecimal digits, as Encode writes them.
CByteArray UpperCase(const CByteArray& text) {
    CByteArray upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](BYTE c) { return c >= 'a' && c <= 'f' ? BYTE(c - 'a' + 'A') : c; });
    return upper;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const BYTE request[] = {0x01, data[1], 0x00, 0x00, 0x00, 0x0A};
    const bool bRequests = (data[0] & 1) != 0;
    const size_t nPiece = 1 + data[2] % 64;
    data += 3;
    size -= 3;

    CAsciiParser parser;
    CByteArray taken;
    auto restart = [&] {
        taken.clear();
        if (bRequests) {
            parser.ExpectRequest();
        } else {
            parser.ExpectAnswerTo(request, sizeof request);
        }
    };
    restart();
    size_t nPos = 0;
    while (nPos < size) {
        const size_t n = std::min(nPiece, size - nPos);
        size_t nUsed = 0;
        const CFrameParser::EState state = parser.Feed(data + nPos, n, &nUsed);
        Check(nUsed <= n);
        taken.insert(taken.end(), data + nPos, data + nPos + nUsed);
        nPos += nUsed;
        if (state == CFrameParser::EState::COMPLETE) {
            const CByteArray& frame = parser.GetFrame();
            Check(frame.size() >= 2 && frame.size() <= CFrameParser::MAX_ADU);
            // The frame is the text from the last ':' on.
            const auto colon = std::find(taken.rbegin(), taken.rend(), ':');
            Check(colon != taken.rend());
            const CByteArray text(colon.base() - 1, taken.end());
            Check(CAsciiFrame::Encode(frame.data(), frame.size()) == UpperCase(text));
        }
        if (state != CFrameParser::EState::NEED_MORE) {
            restart();
        } else {
            Check(nUsed == n);
        }
    }
    return 0;
}
