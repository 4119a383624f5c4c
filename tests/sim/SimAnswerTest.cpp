#include "sim/SimAnswer.h"

#include <gtest/gtest.h>

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
        CSimFaultRule rule;
        CString strError;
        if (pszRule != nullptr) {
            EXPECT_TRUE(CSimFaults::Parse(pszRule, rule, strError)) << strError;
        }
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

TEST_F(SimAnswer, EachLinkKeepsItsOwnFaults) {
    // Modbus/TCP lies in its header's length field, a serial frame in its
    // byte count; faults of the line are nothing on TCP.
    const CSimAnswer tcp = Make(ELink::TCP, "bad-length=3");
    EXPECT_EQ(tcp.m_nLengthBias, 3u);
    EXPECT_EQ(tcp.m_pdu[1], 4);
    const CSimAnswer serial = Make(ELink::SERIAL, "bad-length=3");
    EXPECT_EQ(serial.m_nLengthBias, 0u);
    EXPECT_EQ(serial.m_pdu[1], 7);
    EXPECT_TRUE(Make(ELink::TCP, "garbage=2").m_before.empty());
    EXPECT_EQ(Make(ELink::SERIAL, "garbage=2").m_before, CByteArray(2, CSimAnswer::JUNK));
    EXPECT_FALSE(Make(ELink::TCP, "bad-crc").m_bBadChecksum);
    EXPECT_TRUE(Make(ELink::SERIAL, "bad-crc").m_bBadChecksum);
    EXPECT_EQ(Make(ELink::TCP, "gap=5").m_pace, CSimAnswer::EPace::AT_ONCE);

    EXPECT_EQ(Make(ELink::TCP, "close").m_action, EAction::CLOSE);
    EXPECT_EQ(Make(ELink::SERIAL, "close").m_action, EAction::SILENT);
    // A serial broadcast is written, never answered; TCP answers unit 0.
    const CByteArray write = {6, 0, 1, 0x12, 0x34};
    EXPECT_EQ(Make(ELink::SERIAL, nullptr, 0, write).m_action, EAction::SILENT);
    EXPECT_EQ(m_device.GetValue(CSimDevice::Table::HoldingRegisters, 1), 0x1234);
    EXPECT_EQ(Make(ELink::TCP, nullptr, 0, write).m_action, EAction::SEND);
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
