// RTU and ASCII framing against known frames, and the incremental readers
// against whole, split, truncated, oversized and noisy input.
#include <gtest/gtest.h>

#include "server/AsciiFrame.h"
#include "server/AsciiParser.h"
#include "server/RtuFrame.h"
#include "server/RtuParser.h"

namespace {
using EState = CFrameParser::EState;

CByteArray Bytes(const char* psz) {
    return CByteArray(psz, psz + std::char_traits<char>::length(psz));
}

CByteArray Rtu(const CByteArray& adu) {
    return CRtuFrame::Encode(adu.data(), adu.size());
}

// Feeds the frame in pieces of nStep bytes; the state after the last piece.
EState FeedInSteps(CFrameParser& parser, const CByteArray& frame, size_t nStep) {
    EState state = EState::NEED_MORE;
    for (size_t i = 0; i < frame.size() && state == EState::NEED_MORE; i += nStep) {
        state = parser.Feed(frame.data() + i, std::min(nStep, frame.size() - i), nullptr);
    }
    return state;
}

const CByteArray READ_REQUEST{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};

TEST(Framing, KnownFrames) {
    EXPECT_EQ(Rtu(READ_REQUEST), (CByteArray{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
    EXPECT_EQ(Rtu({0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}),
              (CByteArray{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87}));
    const CByteArray one{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(CAsciiFrame::Encode(one.data(), one.size()), Bytes(":010300000001FB\r\n"));
    const CByteArray write{0xF7, 0x06, 0x12, 0x34, 0xAB, 0xCD};
    EXPECT_EQ(CAsciiFrame::Encode(write.data(), write.size()), Bytes(":F7061234ABCD45\r\n"));
    EXPECT_EQ(CAsciiFrame::Lrc(nullptr, 0), 0);
}

TEST(Framing, RtuAnswerEndsWhenTheFunctionSaysSo) {
    const CByteArray answer = Rtu({0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78});
    for (size_t nStep : {size_t(1), size_t(3), answer.size()}) {
        CRtuParser parser;
        parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
        EXPECT_FALSE(parser.HasStarted());
        EXPECT_EQ(FeedInSteps(parser, answer, nStep), EState::COMPLETE) << nStep;
        EXPECT_EQ(parser.GetFrame(), (CByteArray{0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78}));
    }
    // Bytes after a complete frame are left to the caller.
    CByteArray withTail = Rtu({0x01, 0x83, 0x02});
    withTail.push_back(0xEE);
    CRtuParser parser;
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    size_t nUsed = 0;
    EXPECT_EQ(parser.Feed(withTail.data(), withTail.size(), &nUsed), EState::COMPLETE);
    EXPECT_EQ(nUsed, 5u);
}

TEST(Framing, RtuFailuresAreReported) {
    CRtuParser parser;
    const CByteArray good = Rtu({0x01, 0x03, 0x02, 0x00, 0x07});
    // A flipped bit anywhere spoils the frame: a changed function or byte
    // count leaves it to the silence to end it.
    for (size_t i = 0; i < good.size(); ++i) {
        CByteArray bad = good;
        bad[i] ^= 0x10;
        parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
        EState state = parser.Feed(bad.data(), bad.size(), nullptr);
        if (state == EState::NEED_MORE) {
            state = parser.EndOfFrame();
        }
        EXPECT_EQ(state, i == 2 ? EState::MALFORMED : EState::BAD_CHECKSUM) << i;
    }
    // Cut off: only silence ends it, and it is short.
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    EXPECT_EQ(parser.Feed(good.data(), good.size() - 1, nullptr), EState::NEED_MORE);
    EXPECT_EQ(parser.EndOfFrame(), EState::MALFORMED);
    // Silence before anything came is no frame at all.
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    EXPECT_EQ(parser.EndOfFrame(), EState::NEED_MORE);
    // A function whose length nobody knows ends at the silence.
    const BYTE odd[] = {0x01, 0x41};
    const CByteArray oddAnswer = Rtu({0x01, 0x41, 0x01, 0x02, 0x03});
    parser.ExpectAnswerTo(odd, sizeof odd);
    EXPECT_EQ(parser.Feed(oddAnswer.data(), oddAnswer.size(), nullptr), EState::NEED_MORE);
    EXPECT_EQ(parser.EndOfFrame(), EState::COMPLETE);
    EXPECT_EQ(parser.GetFrame().size(), 5u);
    // Noise before a frame cannot be told from it.
    CByteArray noisy{0xEE, 0xEE};
    noisy.insert(noisy.end(), good.begin(), good.end());
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    parser.Feed(noisy.data(), noisy.size(), nullptr);
    EXPECT_NE(parser.EndOfFrame(), EState::COMPLETE);
}

TEST(Framing, RtuInputIsBounded) {
    CRtuParser parser;
    const BYTE odd[] = {0x01, 0x41};
    const CByteArray flood(300, 0x41);
    parser.ExpectAnswerTo(odd, sizeof odd);
    size_t nUsed = 0;
    EXPECT_EQ(parser.Feed(flood.data(), flood.size(), &nUsed), EState::OVERSIZED);
    EXPECT_EQ(nUsed, CFrameParser::MAX_ADU + 2);
    // A byte count no RTU frame can hold fails as soon as it is read.
    const CByteArray huge{0x01, 0x03, 0xFF};
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    EXPECT_EQ(parser.Feed(huge.data(), huge.size(), nullptr), EState::OVERSIZED);
}

TEST(Framing, RtuRequestsForTheSlaveSide) {
    const CByteArray request = Rtu({0x05, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 1, 2, 3, 4});
    CRtuParser parser;
    parser.ExpectRequest();
    EXPECT_EQ(FeedInSteps(parser, request, 2), EState::COMPLETE);
    EXPECT_EQ(parser.GetFrame().size(), 11u);
}

TEST(Framing, AsciiAnswerSkipsNoiseAndTakesEitherCase) {
    const CByteArray adu{0x01, 0x03, 0x02, 0xAB, 0xCD};
    CByteArray frame = Bytes("\xEE\x01garbage\r\n");
    const CByteArray encoded = CAsciiFrame::Encode(adu.data(), adu.size());
    frame.insert(frame.end(), encoded.begin(), encoded.end());
    for (size_t nStep : {size_t(1), size_t(4), frame.size()}) {
        CAsciiParser parser;
        parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
        EXPECT_EQ(FeedInSteps(parser, frame, nStep), EState::COMPLETE) << nStep;
        EXPECT_EQ(parser.GetFrame(), adu);
    }
    CAsciiParser parser;
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    const CByteArray lower = Bytes(":010302abcd82\r\n");
    EXPECT_EQ(parser.Feed(lower.data(), lower.size(), nullptr), EState::COMPLETE);
    // A ':' starts the frame over, whatever came before it.
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    const CByteArray restarted = Bytes(":0103:010302ABCD82\r\n");
    EXPECT_EQ(parser.Feed(restarted.data(), restarted.size(), nullptr), EState::COMPLETE);
}

TEST(Framing, AsciiFailuresAreReported) {
    struct Case {
        const char* pszInput;
        EState expected;
    };
    const Case cases[] = {
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
        CAsciiParser parser;
        parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
        const CByteArray input = Bytes(c.pszInput);
        EXPECT_EQ(parser.Feed(input.data(), input.size(), nullptr), c.expected) << c.pszInput;
    }
    CAsciiParser parser;
    parser.ExpectAnswerTo(READ_REQUEST.data(), READ_REQUEST.size());
    const CByteArray open = Bytes(":0103");
    parser.Feed(open.data(), open.size(), nullptr);
    EXPECT_EQ(parser.EndOfFrame(), EState::MALFORMED);
}

TEST(Framing, AsciiInputIsBounded) {
    CAsciiParser parser;
    const BYTE odd[] = {0x01, 0x41};
    parser.ExpectAnswerTo(odd, sizeof odd);
    CByteArray flood = Bytes(":");
    flood.insert(flood.end(), 2 * (CFrameParser::MAX_ADU + 2), '4');
    EXPECT_EQ(parser.Feed(flood.data(), flood.size(), nullptr), EState::OVERSIZED);
}
}  // namespace
