// Feeds arbitrary bytes to the RTU or the ASCII reader, as answers to a
// chosen request or as requests, in pieces of a chosen size, and checks what
// it accepts: a whole frame is exactly what the bytes taken encode (its CRC
// or LRC holds) and it is no larger than Modbus allows.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "wire/AsciiFrame.h"
#include "wire/AsciiParser.h"
#include "wire/RtuFrame.h"
#include "wire/RtuParser.h"

namespace {
void Check(bool bHolds) {
    if (!bHolds) {
        __builtin_trap();
    }
}

// Upper-case hexadecimal digits, as CAsciiFrame::Encode writes them.
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
    // Options: request or answer (bit 0), ASCII or RTU (bit 1), the request's
    // function, the piece size.
    const BYTE request[] = {0x01, data[1], 0x00, 0x00, 0x00, 0x0A};
    const bool bRequests = (data[0] & 1) != 0;
    const bool bAscii = (data[0] & 2) != 0;
    const size_t nPiece = 1 + data[2] % 64;
    data += 3;
    size -= 3;

    CRtuParser rtu;
    CAsciiParser ascii;
    CFrameParser& parser = bAscii ? static_cast<CFrameParser&>(ascii) : rtu;
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
        CFrameParser::EState state = parser.Feed(data + nPos, n, &nUsed);
        Check(nUsed <= n);
        taken.insert(taken.end(), data + nPos, data + nPos + nUsed);
        nPos += nUsed;
        // In RTU, a piece whose last byte is 0 stands for a silence after it.
        if (!bAscii && state == CFrameParser::EState::NEED_MORE && nUsed == n &&
            data[nPos - 1] == 0) {
            state = parser.EndOfFrame();
        }
        if (state == CFrameParser::EState::COMPLETE) {
            const CByteArray& frame = parser.GetFrame();
            Check(frame.size() >= 2 && frame.size() <= CFrameParser::MAX_ADU);
            if (bAscii) {
                // The frame is the text from the last ':' on.
                const auto colon = std::find(taken.rbegin(), taken.rend(), ':');
                Check(colon != taken.rend());
                const CByteArray text(colon.base() - 1, taken.end());
                Check(CAsciiFrame::Encode(frame.data(), frame.size()) == UpperCase(text));
            } else {
                Check(CRtuFrame::Encode(frame.data(), frame.size()) == taken);
            }
        }
        if (state != CFrameParser::EState::NEED_MORE) {
            Check(bAscii || taken.size() <= CFrameParser::MAX_ADU + 2);
            restart();
        } else {
            Check(nUsed == n);
        }
    }
    return 0;
}
