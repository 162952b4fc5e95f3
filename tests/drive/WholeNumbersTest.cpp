#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>

#include "drive/WholeNumbers.h"
#include "tests/drive/CaseLabel.h"

namespace {

// The physics rounds with these in place of std::floor and std::round: any difference, down to
// the sign of a zero, would change a simulated run.
struct ValueCase {
    const char* label;
    double value;
    friend std::ostream& operator<<(std::ostream& out, const ValueCase& row) {
        return out << row.label;
    }
};

class WholeNumbers : public ::testing::TestWithParam<ValueCase> {};

std::uint64_t Bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

TEST_P(WholeNumbers, FloorAndRoundGiveTheLibrarysValuesBitForBit) {
    const double value = GetParam().value;
    // Also its neighbours, where a rounding boundary shows first.
    for (const double near :
         {std::nextafter(value, -INFINITY), value, std::nextafter(value, INFINITY)}) {
        EXPECT_EQ(Bits(drive::whole::Floor(near)), Bits(std::floor(near))) << near;
        EXPECT_EQ(Bits(drive::whole::Round(near)), Bits(std::round(near))) << near;
    }
}

constexpr double kTwoTo52 = 4503599627370496.0;

INSTANTIATE_TEST_SUITE_P(
    Values, WholeNumbers,
    ::testing::Values(ValueCase{"Zero", 0.0}, ValueCase{"NegativeZero", -0.0},
                      ValueCase{"SmallestSubnormal", std::numeric_limits<double>::denorm_min()},
                      ValueCase{"NegativeTiny", -1e-300}, ValueCase{"Half", 0.5},
                      ValueCase{"NegativeHalf", -0.5}, ValueCase{"OneAndAHalf", 1.5},
                      ValueCase{"NegativeTwoAndAHalf", -2.5},
                      ValueCase{"JustBelowAHalf", 0.49999999999999994},
                      ValueCase{"NegativeWhole", -3.0}, ValueCase{"CurrentCounts", 2381.4},
                      ValueCase{"NegativeCurrentCounts", -37.5},
                      ValueCase{"EncoderCounts", 123456789.99999999},
                      ValueCase{"HalfBelowTwoTo52", kTwoTo52 - 0.5},
                      ValueCase{"NegativeHalfBelowTwoTo52", -(kTwoTo52 - 0.5)},
                      ValueCase{"TwoTo52", kTwoTo52}, ValueCase{"TwoTo53Plus2", 2 * kTwoTo52 + 2},
                      ValueCase{"Largest", std::numeric_limits<double>::max()},
                      ValueCase{"Infinity", INFINITY}, ValueCase{"NegativeInfinity", -INFINITY}),
    ByLabel());

TEST(WholeNumbersSweep, AgreeWithTheLibraryOverQuartersAndThirdsOfCounts) {
    for (int step = -40000; step <= 40000; ++step) {
        for (const double value : {step / 4.0, step / 3.0, step * 0.1}) {
            ASSERT_EQ(Bits(drive::whole::Floor(value)), Bits(std::floor(value))) << value;
            ASSERT_EQ(Bits(drive::whole::Round(value)), Bits(std::round(value))) << value;
        }
    }
}

TEST(WholeNumbersNaN, StaysNotANumber) {
    EXPECT_TRUE(std::isnan(drive::whole::Floor(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(drive::whole::Round(std::numeric_limits<double>::quiet_NaN())));
}

}  // namespace
