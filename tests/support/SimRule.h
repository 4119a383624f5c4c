// A fault rule in the simulator's grammar; a rule that does not parse fails
// the test.
#pragma once

#include <gtest/gtest.h>

#include "sim/SimFaults.h"

inline CSimFaultRule Rule(const CString& strText) {
    CSimFaultRule rule;
    CString strError;
    EXPECT_TRUE(CSimFaults::Parse(strText, rule, strError)) << strText << ": " << strError;
    return rule;
}
