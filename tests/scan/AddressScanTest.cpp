// The address scan against tables whose readable ranges are known: it finds
// them exactly, within a bounded number of requests, and stops where a read
// fails otherwise.
#include "scan/AddressScan.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <vector>

void PrintTo(const CAddressRange& r, std::ostream* pOut) {
    *pOut << r.nFirst << "-" << r.nLast;
}

namespace {

using Ranges = std::vector<CAddressRange>;

// A device whose readable addresses are the ranges: a read succeeds when
// all it reaches is readable.
CAddressScan::Reader Device(const Ranges& ranges) {
    return [ranges](unsigned nFirst, unsigned nCount) {
        for (const CAddressRange& r : ranges) {
            if (nFirst >= r.nFirst && nFirst + nCount - 1 <= r.nLast) {
                return CAddressScan::ERead::DATA;
            }
        }
        return CAddressScan::ERead::ILLEGAL_ADDRESS;
    };
}

struct CLayout {
    const char* pszName;
    Ranges readable;
    unsigned nStep;
    Ranges found;
    unsigned nMaxRequests;
};

void PrintTo(const CLayout& layout, std::ostream* pOut) {
    *pOut << layout.pszName;
}

class AddressScanLayouts : public ::testing::TestWithParam<CLayout> {};

TEST_P(AddressScanLayouts, FindsTheRangesWithinItsRequests) {
    const CLayout& layout = GetParam();
    const CAddressScan::CResult result =
        CAddressScan::Scan(Device(layout.readable), 0, 65535, 125, layout.nStep);
    EXPECT_TRUE(result.bComplete);
    EXPECT_EQ(result.ranges, layout.found);
    EXPECT_LE(result.nRequests, layout.nMaxRequests);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, AddressScanLayouts,
    ::testing::Values(
        // A simulator's table of 10,000 registers, of 100, and of all 65,536.
        CLayout{"Simulator", {{0, 9999}}, 40, {{0, 9999}}, 2000},
        CLayout{"Small", {{0, 99}}, 40, {{0, 99}}, 2000},
        CLayout{"Whole", {{0, 65535}}, 40, {{0, 65535}}, 525}, CLayout{"None", {}, 40, {}, 1660},
        CLayout{"Two", {{0, 99}, {1000, 1049}}, 40, {{0, 99}, {1000, 1049}}, 1700},
        CLayout{"Edges", {{0, 0}, {65535, 65535}}, 40, {{0, 0}, {65535, 65535}}, 1700},
        // Blocks that a read may not cross, whose addresses follow each other.
        CLayout{"Blocks", {{10, 19}, {20, 400}, {401, 401}}, 40, {{10, 401}}, 1700},
        CLayout{"BlocksFromZero", {{0, 149}, {150, 199}}, 40, {{0, 199}}, 1700},
        // Shorter than the step and between two probes: found only by step 1.
        CLayout{"IslandMissed", {{5001, 5010}, {5100, 5199}}, 40, {{5100, 5199}}, 1700},
        CLayout{
            "IslandFound", {{5001, 5010}, {5100, 5199}}, 1, {{5001, 5010}, {5100, 5199}}, 70000}),
    [](const ::testing::TestParamInfo<CLayout>& info) { return info.param.pszName; });

// With a step of 1 every readable address is found, whatever the layout,
// blocks that a read may not cross included.
TEST(AddressScan, StepOneFindsRandomLayoutsExactly) {
    std::mt19937 random(7);
    for (int nRound = 0; nRound < 200; ++nRound) {
        Ranges blocks;    // as the device has them
        Ranges readable;  // as the scan should tell them
        bool bReadable = false;
        for (unsigned a = 0; a < 1000; ++a) {
            // Runs of both kinds, about 60 long; now and then a block ends
            // inside a readable run.
            const bool bFlip = a == 0 || random() % 60 == 0;
            bReadable = bFlip ? !bReadable : bReadable;
            if (!bReadable) {
                continue;
            }
            if (!bFlip && random() % 40 != 0 && !blocks.empty() && blocks.back().nLast + 1 == a) {
                blocks.back().nLast = a;
            } else {
                blocks.push_back({a, a});
            }
            if (!readable.empty() && readable.back().nLast + 1 == a) {
                readable.back().nLast = a;
            } else {
                readable.push_back({a, a});
            }
        }
        const auto result = CAddressScan::Scan(Device(blocks), 0, 999, 125, 1);
        ASSERT_TRUE(result.bComplete);
        ASSERT_EQ(result.ranges, readable) << "round " << nRound;
    }
}

TEST(AddressScan, StopsWhereAReadFails) {
    const auto failing = [](unsigned nFirst, unsigned nCount) {
        if (nFirst + nCount > 300) {
            return CAddressScan::ERead::FAILED;
        }
        return CAddressScan::ERead::DATA;
    };
    const auto result = CAddressScan::Scan(failing, 0, 65535, 125, 40);
    EXPECT_FALSE(result.bComplete);
    EXPECT_EQ(result.nFailedAt, 250u);
    EXPECT_EQ(result.ranges, (Ranges{{0, 249}}));
}

}  // namespace
