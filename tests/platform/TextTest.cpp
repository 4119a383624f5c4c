#include "platform/Text.h"

#include <gtest/gtest.h>

namespace {

struct CTrimCase {
    const char* pszIn;
    ETrim cut;
    const char* pszOut;
};

class TrimText : public testing::TestWithParam<CTrimCase> {};

TEST_P(TrimText, CutsOnlyTheEndsOfTheKindAsked) {
    const CTrimCase& c = GetParam();
    EXPECT_EQ(Trim(c.pszIn, c.cut), c.pszOut);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimText,
    testing::Values(CTrimCase{"", ETrim::WHITE_SPACE, ""},
                    CTrimCase{" \t\r\n\v\f", ETrim::WHITE_SPACE, ""},
                    CTrimCase{"\r\n COM3 = /dev/ttyS0 \t\n", ETrim::WHITE_SPACE,
                              "COM3 = /dev/ttyS0"},
                    CTrimCase{"a \t b", ETrim::WHITE_SPACE, "a \t b"},
                    // A UTF-8 no-break space is text, not white space.
                    CTrimCase{"\xc2\xa0x\xc2\xa0", ETrim::WHITE_SPACE, "\xc2\xa0x\xc2\xa0"},
                    CTrimCase{" \t", ETrim::BLANKS, ""},
                    CTrimCase{"\t host.invalid  ", ETrim::BLANKS, "host.invalid"},
                    CTrimCase{"\r\nhost \n", ETrim::BLANKS, "\r\nhost \n"},
                    CTrimCase{" \vhost\f ", ETrim::BLANKS, "\vhost\f"}));

struct CSplitCase {
    const char* pszIn;
    std::vector<std::string> parts;
};

class SplitText : public testing::TestWithParam<CSplitCase> {};

TEST_P(SplitText, KeepsEveryPieceEmptyOnesIncluded) {
    EXPECT_EQ(Split(GetParam().pszIn, ','), GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitText,
                         testing::Values(CSplitCase{"", {""}}, CSplitCase{"1-3", {"1-3"}},
                                         CSplitCase{"1,2-4,9", {"1", "2-4", "9"}},
                                         CSplitCase{",a,,b,", {"", "a", "", "b", ""}},
                                         CSplitCase{",", {"", ""}}));

}  // namespace
