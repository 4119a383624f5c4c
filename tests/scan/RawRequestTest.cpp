// A request of any function: what is refused before sending, and how an
// answer told only as a status comes back.
#include "scan/RawRequest.h"

#include <gtest/gtest.h>

#include "scan/AddressScan.h"
#include "tests/support/FakeModbus.h"
#include "testview/RowFormat.h"

namespace {

struct CHexCase {
    const char* pszText;
    bool bHex;
    CByteArray bytes;
};

class RawHex : public ::testing::TestWithParam<CHexCase> {};

TEST_P(RawHex, TakesPairsOfDigitsWithSeparators) {
    CByteArray bytes;
    EXPECT_EQ(ParseRawHex(GetParam().pszText, bytes), GetParam().bHex);
    if (GetParam().bHex) {
        EXPECT_EQ(bytes, GetParam().bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, RawHex,
                         ::testing::Values(CHexCase{"03 0000 000a", true, {3, 0, 0, 0, 10}},
                                           CHexCase{"16:00-04", true, {0x16, 0, 4}},
                                           CHexCase{"030", false, {}}, CHexCase{"0x03", false, {}},
                                           CHexCase{"zz", false, {}}));

TEST(RawRequest, RefusesWhatNoFrameHoldsWithoutSending) {
    CFakeModbus modbus;
    for (size_t nPdu : {size_t(0), MAX_RAW_PDU + 1}) {
        const CRawExchange e = SendRawRequest(modbus, 1, CByteArray(nPdu, 0x10));
        EXPECT_FALSE(e.bOk);
        EXPECT_FALSE(e.strStatus.empty());
    }
    EXPECT_TRUE(modbus.m_requests.empty());
    modbus.Play(0, {1, 0x10, 0, 0, 0, 1});
    EXPECT_TRUE(SendRawRequest(modbus, 1, CByteArray(MAX_RAW_PDU, 0x10)).bOk);
    ASSERT_EQ(modbus.m_requests.size(), 1u);
    EXPECT_EQ(modbus.m_requests[0].size(), MAX_RAW_PDU + 1);
}

TEST(RawRequest, AnExceptionToldAsAStatusComesBackAsItsAnswer) {
    CFakeModbus modbus;
    modbus.Play(MODBUS_EXCEPTION_BASE + 2);
    const CRawExchange e = SendRawRequest(modbus, 7, {0x17, 0, 0});
    EXPECT_EQ(e.answer, (CByteArray{7, 0x97, 2}));
    EXPECT_FALSE(e.bOk);
}

TEST(TableReader, StopsWithoutAskingAndKeepsEachStatus) {
    CFakeModbus modbus;
    WORD wStatus = 0xFFFF;
    bool bStop = false;
    const auto read = TableReader(modbus, READ_INPUT_STATUS, 4, &wStatus, [&] { return bStop; });
    modbus.Play(MODBUS_EXCEPTION_BASE + 2);
    EXPECT_EQ(read(10, 8), CAddressScan::ERead::ILLEGAL_ADDRESS);
    EXPECT_EQ(wStatus, MODBUS_EXCEPTION_BASE + 2);
    ASSERT_EQ(modbus.m_requests.size(), 1u);
    EXPECT_EQ(modbus.m_requests[0], (CByteArray{4, 2, 0, 10, 0, 8}));
    bStop = true;
    EXPECT_EQ(read(10, 8), CAddressScan::ERead::FAILED);
    EXPECT_EQ(modbus.m_requests.size(), 1u);
}

}  // namespace
