#include "platform/CommandLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct CRun {
    CCommandLine::EResult result;
    CString strError;
    std::vector<CString> seen;  // "name=value" in order
};

CRun ParseArgs(std::vector<const char*> args, const CString& strRefuse = "") {
    args.insert(args.begin(), "prog");
    CRun run;
    run.result = CCommandLine::Parse(
        int(args.size()), args.data(), {{"--port", true}, {"--verbose", false}, {"--mode", true}},
        [&](const CString& strName, const CString& strValue, CString& strError) {
            run.seen.push_back(strName + "=" + strValue);
            if (strName == "--port") {
                long long n = 0;
                return CCommandLine::ParseNumber(strName, strValue, 1, 65535, n, strError);
            }
            return strValue != strRefuse || strRefuse.empty();
        },
        run.strError);
    return run;
}

TEST(CommandLine, BothValueFormsFlagsAndOrder) {
    CRun run = ParseArgs({"--port", "502", "--verbose", "--mode=rtu", "--mode=", "--port=1"});
    EXPECT_EQ(run.result, CCommandLine::EResult::RUN);
    EXPECT_EQ(run.seen, (std::vector<CString>{"--port=502", "--verbose=", "--mode=rtu",
                                              "--mode=", "--port=1"}));
}

TEST(CommandLine, EachFaultIsOneLineAndStopsTheParse) {
    EXPECT_EQ(ParseArgs({"--bogus", "--port", "1"}).strError, "unknown option --bogus");
    EXPECT_EQ(ParseArgs({"--port"}).strError, "--port needs a value");
    EXPECT_EQ(ParseArgs({"--verbose=1"}).strError, "--verbose takes no value");
    EXPECT_EQ(ParseArgs({"--mode", "x"}, "x").strError, "bad value for --mode: 'x'");
    CRun run = ParseArgs({"--port", "0", "--mode", "rtu"});
    EXPECT_EQ(run.result, CCommandLine::EResult::BAD);
    EXPECT_EQ(run.strError, "--port needs a number from 1 to 65535, not '0'");
    EXPECT_EQ(run.seen.size(), 1u);
    // A value that looks like an option is still the value.
    EXPECT_EQ(ParseArgs({"--mode", "--port"}).result, CCommandLine::EResult::RUN);
}

TEST(CommandLine, HelpWinsWhereverItStands) {
    EXPECT_EQ(ParseArgs({"--verbose", "-h", "--bogus"}).result, CCommandLine::EResult::HELP);
    EXPECT_EQ(ParseArgs({"--help"}).result, CCommandLine::EResult::HELP);
}

TEST(CommandLine, NumbersAreWholeDecimalsInRange) {
    long long n = 7;
    for (const char* psz :
         {"", " 5", "+5", "5 ", "5x", "0x10", "1e3", "-", "65536", "-1", "99999999999999999999"}) {
        EXPECT_FALSE(CCommandLine::ParseNumber(psz, 0, 65535, n)) << psz;
    }
    EXPECT_EQ(n, 7);
    EXPECT_TRUE(CCommandLine::ParseNumber("0", 0, 65535, n));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(CCommandLine::ParseNumber("-5", -10, 10, n));
    EXPECT_EQ(n, -5);
    EXPECT_TRUE(CCommandLine::ParseNumber("4294967295", 0, 0xFFFFFFFFLL, n));
    EXPECT_EQ(n, 0xFFFFFFFFLL);
}

}  // namespace
