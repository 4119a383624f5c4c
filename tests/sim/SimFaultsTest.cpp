#include "sim/SimFaults.h"

#include <gtest/gtest.h>

#include "tests/support/SimRule.h"

namespace {
using Kind = CSimFaultRule::Kind;

// The kind of the rule that request nRequest with this PDU gets, or -1.
int Applied(CSimFaults& faults, ULONGLONG nRequest, const CByteArray& pdu) {
    CSimFaultRule rule;
    if (!faults.Match(nRequest, pdu.data(), pdu.size(), rule)) {
        return -1;
    }
    return static_cast<int>(rule.m_kind);
}
}  // namespace

TEST(SimFaults, ParsesTheRuleGrammar) {
    // Every part of a rule shows in its description; hex digits in either case.
    EXPECT_EQ(CSimFaults::Describe(Rule("exception=0xaB@100-199/fn3:3")),
              "exception=171@100-199/fn3:3");
    EXPECT_EQ(Rule("extra-bytes=0x0001fF").m_extra, (CByteArray{0x00, 0x01, 0xFF}));
    EXPECT_EQ(Rule("wrong-unit").ValueOr(9), 9u);
    for (const char* pszText :
         {"close@request=5", "wrong-unit", "delay=200@7", "no-answer@fn6", "split-header@next=2:1",
          "bad-length=4@0-65535", "extra-bytes=0x0A0B:2", "cut-short=3@10-20/fn16"}) {
        EXPECT_EQ(CSimFaults::Describe(Rule(pszText)), pszText);
    }

    CSimFaultRule rule;
    CString strError;
    for (const char* pszText :
         {"", "delay", "close=1", "explode", "delay=x", "exception=256", "delay=5@", "delay=5@9-3",
          "delay=5@1-70000", "delay=5@1-2/3", "delay=5@fn0", "delay=5@request=0", "delay=5:0",
          "delay=5:x", "extra-bytes=0x123", "extra-bytes=0xZZ", "delay=010x"}) {
        EXPECT_FALSE(CSimFaults::Parse(pszText, rule, strError)) << pszText;
        EXPECT_FALSE(strError.empty()) << pszText;
        strError.clear();
    }
}

TEST(SimFaults, MatchesBySelectorInOrderWithinLimits) {
    CSimFaults faults;
    faults.Add(Rule("exception=2@100-199/fn3:2"), 0);
    faults.Add(Rule("delay=1@100-199"), 0);
    faults.Add(Rule("close@request=7"), 0);
    faults.Add(Rule("no-answer@next=2"), 3);

    const CByteArray read150{3, 0, 150, 0, 1};
    const CByteArray write150{6, 0, 150, 0, 1};
    EXPECT_EQ(Applied(faults, 1, read150), int(Kind::Exception));
    EXPECT_EQ(Applied(faults, 2, write150), int(Kind::Delay));
    EXPECT_EQ(Applied(faults, 3, read150), int(Kind::Exception));
    // Used up: the next matching rule takes over.
    EXPECT_EQ(Applied(faults, 4, read150), int(Kind::Delay));
    // next=2 added after request 3 covers requests 4 and 5 only.
    EXPECT_EQ(Applied(faults, 5, {3, 0, 10, 0, 1}), int(Kind::NoAnswer));
    EXPECT_EQ(Applied(faults, 6, {3, 0, 10, 0, 1}), -1);
    EXPECT_EQ(Applied(faults, 7, {3, 0, 10, 0, 1}), int(Kind::Close));
    EXPECT_EQ(Applied(faults, 8, {3, 0, 10, 0, 1}), -1);
    // Diagnostics carries no start address.
    EXPECT_EQ(Applied(faults, 9, {8, 0, 150, 0, 0}), -1);
    EXPECT_EQ(Applied(faults, 10, {3, 0, 200, 0, 1}), -1);
    EXPECT_EQ(Applied(faults, 11, {3, 0, 99, 0, 1}), -1);

    faults.Clear();
    EXPECT_EQ(faults.GetCount(), 0u);
    EXPECT_EQ(Applied(faults, 12, read150), -1);
    faults.Add(Rule("wrong-function@fn8"), 12);
    EXPECT_EQ(Applied(faults, 13, {8, 0, 0, 0, 0}), int(Kind::WrongFunction));
}
