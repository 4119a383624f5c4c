#include "platform/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// A table: each option goes to its own entry's setter, the help comes from
// the same entries, and a table that would lose an option is refused.
struct CTableRun {
    int nPort = 0;
    bool bVerbose = false;
    std::string strMode = "rtu";
    std::string strName;
    CCommandLine::Table table;

    CTableRun() {
        const CCommandLine::Handler name = CCommandLine::Text(strName);
        table = {CCommandLine::Heading("Line:"),
                 {"--port", "N", "its port, 1-65535\n(default none)",
                  CCommandLine::Number(nPort, 1, 65535, true)},
                 {"--verbose", nullptr, "say more", CCommandLine::Flag(bVerbose)},
                 CCommandLine::Heading("\nMore:"),
                 {"--mode", "MODE", "rtu | ascii",
                  CCommandLine::Choice(strMode, {"rtu", "ascii"}, "mode")},
                 {"--name", "S", "its name; --alias S is the same", name},
                 {"--alias", "S", nullptr, name}};
    }
    CCommandLine::EResult Parse(std::vector<const char*> args, CString& strError) {
        args.insert(args.begin(), "prog");
        return CCommandLine::Parse(int(args.size()), args.data(), table, strError);
    }
};

TEST(CommandLine, ATableSetsEachOptionThroughItsOwnEntry) {
    CTableRun run;
    CString strError;
    EXPECT_EQ(run.Parse({"--port=0x1F6", "--verbose", "--mode", "ascii", "--alias", "a"}, strError),
              CCommandLine::EResult::RUN);
    EXPECT_EQ(run.nPort, 502);
    EXPECT_TRUE(run.bVerbose);
    EXPECT_EQ(run.strMode, "ascii");
    EXPECT_EQ(run.strName, "a");

    const std::pair<std::vector<const char*>, CString> kFaults[] = {
        {{"--port", "0"}, "--port needs a number from 1 to 65535, not '0'"},
        {{"--mode", "tcp"}, "unknown mode tcp"},
        {{"--verbose=1"}, "--verbose takes no value"},
        {{"--alias"}, "--alias needs a value"},
        {{"Line:"}, "unknown option Line:"}};
    for (const auto& [args, strWant] : kFaults) {
        EXPECT_EQ(CTableRun().Parse(args, strError), CCommandLine::EResult::BAD) << strWant;
        EXPECT_EQ(strError, strWant);
    }

    run.table.push_back({"--verbose", nullptr, "again", CCommandLine::Flag(run.bVerbose)});
    EXPECT_EQ(run.Parse({}, strError), CCommandLine::EResult::BAD);
    EXPECT_EQ(strError, "option table: --verbose declared twice");
    run.table.back() = {"--quiet", nullptr, "say less", nullptr};
    EXPECT_EQ(run.Parse({"--port", "1"}, strError), CCommandLine::EResult::BAD);
    EXPECT_EQ(strError, "option table: --quiet without a setter");
}

TEST(CommandLine, TheHelpLinesUpEachOptionsTextAfterTheLongest) {
    EXPECT_EQ(CCommandLine::Help(CTableRun().table),
              "Line:\n"
              "  --port N    its port, 1-65535\n"
              "              (default none)\n"
              "  --verbose   say more\n"
              "\n"
              "More:\n"
              "  --mode MODE rtu | ascii\n"
              "  --name S    its name; --alias S is the same\n"
              "  --help      show this text\n");
}

}  // namespace
