// The kernel's standard encoder resolutions and the choice of the one nearest to a measured line
// count.

#include <gtest/gtest.h>

#include <ostream>

#include "host/kernel/Resolution.h"

namespace {

TEST(ResolutionListTest, AscendsStrictlyAndHoldsTheCommonCounts) {
    ASSERT_GT(CResolution::GetCount(), 0);
    for (int index = 1; index < CResolution::GetCount(); ++index) {
        EXPECT_LT(CResolution::GetResolution(index - 1), CResolution::GetResolution(index));
    }
    for (const int lines : {100, 200, 250, 360, 400, 500, 512, 1000, 1024, 1250, 2000, 2048, 2500,
                            4096, 5000, 8192, 10000, 65536}) {
        const int index = CResolution::FindBestResolution(lines);
        EXPECT_EQ(CResolution::GetResolution(index), lines) << "a standard count finds itself";
    }
    EXPECT_EQ(CResolution::GetResolution(-1), 0);
    EXPECT_EQ(CResolution::GetResolution(CResolution::GetCount()), 0);
}

struct NearestCase {
    int lines;
    int expected;  // the resolution found, or 0 for none
    friend std::ostream& operator<<(std::ostream& out, const NearestCase& row) {
        return out << row.lines << " lines";
    }
};

class FindBestResolutionTest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(FindBestResolutionTest, PicksTheNearestStandardCount) {
    const int index = CResolution::FindBestResolution(GetParam().lines);
    EXPECT_EQ(CResolution::GetResolution(index), GetParam().expected);
    EXPECT_EQ(index < 0, GetParam().expected == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, FindBestResolutionTest,
    ::testing::Values(NearestCase{1023, 1024}, NearestCase{1013, 1024}, NearestCase{1011, 1000},
                      // halfway between 1000 and 1024: the smaller one
                      NearestCase{1012, 1000}, NearestCase{2480, 2500}, NearestCase{3000, 3000},
                      NearestCase{4090, 4096}, NearestCase{9000, 8192}, NearestCase{9200, 10000},
                      // outside the list: its ends
                      NearestCase{1, 16}, NearestCase{10, 16}, NearestCase{1000000, 65536},
                      // nothing measured
                      NearestCase{0, 0}, NearestCase{-512, 0}));

}  // namespace
