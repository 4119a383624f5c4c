// 32-bit values over two registers: each order laid out by hand.
#include <gtest/gtest.h>

#include "core/WordOrder.h"

namespace {
struct Layout {
    WordOrder order;
    WORD first, second;    // 0x12345678
    WORD fFirst, fSecond;  // 123456.0f is 0x47F12000
};

const Layout kLayouts[] = {
    {WordOrder::ABCD, 0x1234, 0x5678, 0x47F1, 0x2000},
    {WordOrder::CDAB, 0x5678, 0x1234, 0x2000, 0x47F1},
    {WordOrder::BADC, 0x3412, 0x7856, 0xF147, 0x0020},
    {WordOrder::DCBA, 0x7856, 0x3412, 0x0020, 0xF147},
};

TEST(WordOrder, EachOrderJoinsAndSplitsAsLaidOutByHand) {
    ASSERT_EQ(FloatBits(123456.0f), 0x47F12000u);
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(int(l.order));
        EXPECT_EQ(JoinDword(l.first, l.second, l.order), 0x12345678u);
        EXPECT_EQ(BitsFloat(JoinDword(l.fFirst, l.fSecond, l.order)), 123456.0f);
        WORD regs[2] = {};
        SplitDword(0x12345678u, l.order, regs);
        EXPECT_EQ(regs[0], l.first);
        EXPECT_EQ(regs[1], l.second);
        SplitDword(FloatBits(123456.0f), l.order, regs);
        EXPECT_EQ(regs[0], l.fFirst);
        EXPECT_EQ(regs[1], l.fSecond);
    }
}
}  // namespace
