#include "sim/SimAnswer.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/SimRule.h"

namespace {
using ELink = CSimAnswer::ELink;
using EAction = CSimAnswer::EAction;

// Read two holding registers from address 0.
const CByteArray READ_TWO = {3, 0, 0, 0, 2};

class SimAnswer : public testing::Test {
protected:
    void SetUp() override {
        m_device.SetHoldingRegister(0, 0x0102);
        m_device.SetHoldingRegister(1, 0x0304);
    }
    CSimAnswer Make(ELink link, const char* pszRule, BYTE unit = 1,
                    const CByteArray& pdu = READ_TWO) {
        const CSimFaultRule rule = pszRule != nullptr ? Rule(pszRule) : CSimFaultRule();
        return CSimAnswer::Make(link, m_device, unit, pdu.data(), pdu.size(),
                                pszRule != nullptr ? &rule : nullptr);
    }

    CSimDevice m_device;
};
}  // namespace

TEST_F(SimAnswer, EveryLinkGetsTheSameFaultedPdu) {
    for (ELink link : {ELink::TCP, ELink::SERIAL}) {
        EXPECT_EQ(Make(link, nullptr).m_pdu, (CByteArray{3, 4, 1, 2, 3, 4}));
        EXPECT_EQ(Make(link, "exception=2").m_pdu, (CByteArray{0x83, 2}));
        EXPECT_EQ(Make(link, "cut-short=3").m_pdu, (CByteArray{3, 4, 1}));
        EXPECT_EQ(Make(link, "wrong-function").m_pdu[0], 4);
        EXPECT_EQ(Make(link, "wrong-unit").m_unit, 2);
        EXPECT_EQ(Make(link, "extra-bytes=2").m_after, CByteArray(2, CSimAnswer::JUNK));
        EXPECT_EQ(Make(link, "no-answer").m_action, EAction::SILENT);
        // A unit without a device says nothing.
        m_device.SetUnit(9, FALSE);
        EXPECT_EQ(Make(link, nullptr, 9).m_action, EAction::SILENT);
    }
}

// What each link makes of the faults that depend on its framing: a header's
// length field or a byte count to lie in, a checksum, a connection to close,
// broadcasts that go unanswered.
struct SLinkFaults {
    ELink link;
    size_t nLengthBias;  // of bad-length=3
    BYTE byCount;        // the byte count under bad-length=3
    bool bChecksummed;   // garbage, bad-crc and gap apply
    EAction close;
    EAction broadcast;
};

class SimAnswerLink : public SimAnswer, public testing::WithParamInterface<SLinkFaults> {};

TEST_P(SimAnswerLink, KeepsItsOwnFaults) {
    const SLinkFaults& c = GetParam();
    const CSimAnswer badLength = Make(c.link, "bad-length=3");
    EXPECT_EQ(badLength.m_nLengthBias, c.nLengthBias);
    EXPECT_EQ(badLength.m_pdu[1], c.byCount);
    EXPECT_EQ(Make(c.link, "garbage=2").m_before.size(), c.bChecksummed ? 2u : 0u);
    EXPECT_EQ(Make(c.link, "bad-crc").m_bBadChecksum, c.bChecksummed);
    EXPECT_EQ(Make(c.link, "gap=5").m_pace,
              c.bChecksummed ? CSimAnswer::EPace::GAP : CSimAnswer::EPace::AT_ONCE);
    EXPECT_EQ(Make(c.link, "close").m_action, c.close);
    // A broadcast is carried out either way.
    const CByteArray write = {6, 0, 1, 0x12, 0x34};
    EXPECT_EQ(Make(c.link, nullptr, 0, write).m_action, c.broadcast);
    EXPECT_EQ(m_device.GetValue(CSimDevice::Table::HoldingRegisters, 1), 0x1234);
}

std::string LinkName(const testing::TestParamInfo<SLinkFaults>& info) {
    static const char* const kNames[] = {"Tcp", "Serial", "RtuOverTcp", "Udp"};
    return kNames[int(info.param.link)];
}

INSTANTIATE_TEST_SUITE_P(
    Links, SimAnswerLink,
    testing::Values(SLinkFaults{ELink::TCP, 3, 4, false, EAction::CLOSE, EAction::SEND},
                    SLinkFaults{ELink::SERIAL, 0, 7, true, EAction::SILENT, EAction::SILENT},
                    SLinkFaults{ELink::RTU_OVER_TCP, 0, 7, true, EAction::CLOSE, EAction::SILENT},
                    SLinkFaults{ELink::UDP, 3, 4, false, EAction::SILENT, EAction::SEND}),
    LinkName);

TEST_F(SimAnswer, RtuFrameCarriesTheCrcOrASpoiledOne) {
    EXPECT_EQ(Make(ELink::RTU_OVER_TCP, nullptr).RtuFrame(),
              (CByteArray{1, 3, 4, 1, 2, 3, 4, 0x5B, 0x3C}));
    const CByteArray spoiled = Make(ELink::RTU_OVER_TCP, "bad-crc").RtuFrame();
    ASSERT_EQ(spoiled.size(), 9u);
    EXPECT_NE(CByteArray(spoiled.begin() + 7, spoiled.end()), (CByteArray{0x5B, 0x3C}));
}

TEST_F(SimAnswer, SendsAtThePaceAndStopsWhenAWaitFails) {
    std::vector<CByteArray> writes;
    std::vector<int> waits;
    const auto write = [&](const BYTE* pb, size_t n) {
        writes.emplace_back(pb, pb + n);
        return true;
    };
    const auto wait = [&](int nMillis) {
        waits.push_back(nMillis);
        return true;
    };
    const CByteArray framed = {1, 2, 3, 4, 5, 6, 7, 8};

    CSimAnswer answer = Make(ELink::SERIAL, "garbage=1");
    answer.m_after = {9};
    EXPECT_TRUE(answer.Send(framed, write, wait));
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], (CByteArray{CSimAnswer::JUNK, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

    writes.clear();
    EXPECT_TRUE(Make(ELink::TCP, "split-header=7").Send(framed, write, wait));
    EXPECT_EQ(writes, (std::vector<CByteArray>{{1, 2, 3}, {4, 5, 6}, {7, 8}}));
    EXPECT_EQ(waits, (std::vector<int>{7, 7}));

    writes.clear();
    waits.clear();
    EXPECT_TRUE(Make(ELink::SERIAL, "delay=30").Send(framed, write, wait));
    EXPECT_EQ(waits, std::vector<int>{30});
    EXPECT_EQ(writes.size(), 1u);

    writes.clear();
    EXPECT_TRUE(Make(ELink::SERIAL, "gap=40").Send(framed, write, wait));
    EXPECT_EQ(writes, (std::vector<CByteArray>{{1, 2, 3, 4}, {5, 6, 7, 8}}));

    writes.clear();
    const auto stopped = [](int) { return false; };
    EXPECT_FALSE(Make(ELink::TCP, "byte-by-byte").Send(framed, write, stopped));
    EXPECT_EQ(writes.size(), 1u);
}
