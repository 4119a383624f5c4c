// RTU and ASCII framing against known frames, and the incremental readers
// against whole, split, truncated, oversized and noisy input.
#include <gtest/gtest.h>

#include "wire/AsciiFrame.h"
#include "wire/AsciiParser.h"
#include "wire/RtuFrame.h"
#include "wire/RtuParser.h"

namespace {
using EState = CFrameParser::EState;

CByteArray Bytes(const char* psz) {
    return CByteArray(psz, psz + std::char_traits<char>::length(psz));
}

CByteArray Rtu(const CByteArray& adu) {
    return CRtuFrame::Encode(adu.data(), adu.size());
}

CByteArray Concat(CByteArray a, const CByteArray& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const CByteArray READ_REQUEST{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
const CByteArray ODD_REQUEST{0x01, 0x41};  // a function of unknown length

// Feeds the input in pieces of nStep bytes as the answer to the request (a
// request itself when none is given); with bSilence the line then falls
// silent.
EState Read(CFrameParser& parser, const CByteArray& input, bool bSilence, size_t nStep = 1000,
            const CByteArray& request = READ_REQUEST) {
    if (request.empty()) {
        parser.ExpectRequest();
    } else {
        parser.ExpectAnswerTo(request.data(), request.size());
    }
    EState state = EState::NEED_MORE;
    for (size_t i = 0; i < input.size() && state == EState::NEED_MORE; i += nStep) {
        state = parser.Feed(input.data() + i, std::min(nStep, input.size() - i), nullptr);
    }
    return bSilence ? parser.EndOfFrame() : state;
}

TEST(Framing, KnownFrames) {
    EXPECT_EQ(Rtu(READ_REQUEST), (CByteArray{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
    EXPECT_EQ(Rtu({0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}),
              (CByteArray{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87}));
    const CByteArray one{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(CAsciiFrame::Encode(one.data(), one.size()), Bytes(":010300000001FB\r\n"));
    const CByteArray write{0xF7, 0x06, 0x12, 0x34, 0xAB, 0xCD};
    EXPECT_EQ(CAsciiFrame::Encode(write.data(), write.size()), Bytes(":F7061234ABCD45\r\n"));
}

TEST(Framing, RtuReader) {
    const CByteArray adu{0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78};
    CRtuParser parser;
    // Whole, in any pieces: done with the last byte, no silence needed.
    for (size_t nStep : {size_t(1), size_t(3), size_t(9)}) {
        EXPECT_EQ(Read(parser, Rtu(adu), false, nStep), EState::COMPLETE) << nStep;
        EXPECT_EQ(parser.GetFrame(), adu);
    }
    const CByteArray request = Rtu({0x05, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 1, 2, 3, 4});
    EXPECT_EQ(Read(parser, request, false, 2, {}), EState::COMPLETE);
    EXPECT_EQ(parser.GetFrame().size(), 11u);
    // An exception answer is 5 bytes; what follows is left to the caller.
    const CByteArray withTail = Concat(Rtu({0x01, 0x83, 0x02}), {0xEE});
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    size_t nUsed = 0;
    EXPECT_EQ(parser.Feed(withTail.data(), withTail.size(), &nUsed), EState::COMPLETE);
    EXPECT_EQ(nUsed, 5u);
    // A function of unknown length ends at the silence.
    EXPECT_EQ(Read(parser, Rtu({0x01, 0x41, 0x01, 0x02, 0x03}), false, 1000, ODD_REQUEST),
              EState::NEED_MORE);
    EXPECT_EQ(parser.EndOfFrame(), EState::COMPLETE);
    EXPECT_EQ(parser.GetFrame().size(), 5u);

    const CByteArray good = Rtu({0x01, 0x03, 0x02, 0x00, 0x07});
    // A flipped bit anywhere spoils the frame; a changed byte count leaves
    // it to the silence to end it, short.
    for (size_t i = 0; i < good.size(); ++i) {
        CByteArray bad = good;
        bad[i] ^= 0x10;
        const EState state = Read(parser, bad, false);
        EXPECT_EQ(state == EState::NEED_MORE ? parser.EndOfFrame() : state,
                  i == 2 ? EState::MALFORMED : EState::BAD_CHECKSUM)
            << i;
    }
    EXPECT_EQ(Read(parser, CByteArray(good.begin(), good.end() - 1), true), EState::MALFORMED);
    EXPECT_EQ(Read(parser, {}, true), EState::NEED_MORE);
    EXPECT_EQ(Read(parser, Concat({0xEE, 0xEE}, good), true), EState::BAD_CHECKSUM);
    // Input is bounded: by the byte count as soon as it is read, else by
    // the largest frame.
    EXPECT_EQ(Read(parser, {0x01, 0x03, 0xFF}, false), EState::OVERSIZED);
    const CByteArray flood(300, 0x41);
    parser.ExpectAnswerTo(ODD_REQUEST.data(), ODD_REQUEST.size());
    EXPECT_EQ(parser.Feed(flood.data(), flood.size(), &nUsed), EState::OVERSIZED);
    EXPECT_EQ(nUsed, CFrameParser::MAX_ADU + 2);
}

TEST(Framing, AsciiReader) {
    const CByteArray adu{0x01, 0x03, 0x02, 0xAB, 0xCD};
    const CByteArray noisy =
        Concat(Bytes("\xEE\x01garbage\r\n"), CAsciiFrame::Encode(adu.data(), adu.size()));
    CAsciiParser parser;
    for (size_t nStep : {size_t(1), size_t(4), noisy.size()}) {
        EXPECT_EQ(Read(parser, noisy, false, nStep), EState::COMPLETE) << nStep;
        EXPECT_EQ(parser.GetFrame(), adu);
    }
    const CByteArray flood = Concat(Bytes(":"), CByteArray(2 * (CFrameParser::MAX_ADU + 2), '4'));
    EXPECT_EQ(Read(parser, flood, false, 1000, ODD_REQUEST), EState::OVERSIZED);
    struct Case {
        const char* pszInput;
        EState expected;
    };
    const Case cases[] = {
        {":010302abcd82\r\n", EState::COMPLETE},       // lower case
        {":0103:010302ABCD82\r\n", EState::COMPLETE},  // ':' starts over
        {":010302ABCD83\r\n", EState::BAD_CHECKSUM},
        {":010302ABXD82\r\n", EState::MALFORMED},  // not a digit
        {":010302ABCD8\r\n", EState::MALFORMED},   // half a byte
        {":010302ABCD82\rX", EState::MALFORMED},   // CR without LF
        {":010302ABCDEF0102", EState::MALFORMED},  // longer than announced
        {":010304ABCD7A\r\n", EState::MALFORMED},  // shorter than announced
        {":01\r\n", EState::MALFORMED},            // no function, no LRC
        {"010302ABCD82\r\n", EState::NEED_MORE},   // never began
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Read(parser, Bytes(c.pszInput), false), c.expected) << c.pszInput;
    }
    EXPECT_EQ(Read(parser, Bytes(":0103"), true), EState::MALFORMED);
}
}  // namespace
