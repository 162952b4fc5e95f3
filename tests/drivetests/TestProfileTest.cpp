#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "drivetests/TestProfile.h"
#include "tests/drive/CaseLabel.h"

namespace {

using profile::Direction;
using profile::Loop;
using profile::Segment;

// A loop period of 1 ms: times below are whole numbers of periods.
constexpr double kPeriod_s = 0.001;
constexpr double kOne = profile::kFixedPointOne;

struct ProfileCase {
    const char* label;
    profile::Input input;
    std::vector<Segment> expected;  // the leading segments checked
    friend std::ostream& operator<<(std::ostream& out, const ProfileCase& row) {
        return out << row.label;
    }
};

profile::Input Make(std::int32_t amplitude, double rise, double hold, double back, double pause,
                    Direction direction, Loop loop) {
    return {amplitude,         rise * kPeriod_s, hold * kPeriod_s, back * kPeriod_s,
            pause * kPeriod_s, kPeriod_s,        direction,        loop};
}

class ProfileSegments : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileSegments, AreTheLengthsAndFixedPointSlopesTheDriveRuns) {
    const profile::Segments segments = profile::Compute(GetParam().input);
    for (std::size_t i = 0; i < GetParam().expected.size(); ++i) {
        EXPECT_EQ(segments[i].length, GetParam().expected[i].length) << "segment " << i;
        EXPECT_EQ(segments[i].increment, GetParam().expected[i].increment) << "segment " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ProfileSegments,
    ::testing::Values(
        ProfileCase{"PositiveRiseOfTenPeriodsLandsOnTheAmplitude",
                    Make(1000, 10, 50, 20, 30, Direction::Positive, Loop::Speed),
                    {{9, 6553600}, {1, 6553600}, {50, 0}, {19, -3276800}, {1, -3276800}, {30, 0}}},
        ProfileCase{"NegativeMirrorsPositive",
                    Make(1000, 10, 50, 20, 30, Direction::Negative, Loop::Speed),
                    {{9, -6553600}, {1, -6553600}, {50, 0}, {19, 3276800}, {1, 3276800}}},
        ProfileCase{"SpeedRiseOfOnePeriodStaysWhole",
                    Make(1000, 1, 5, 5, 5, Direction::Positive, Loop::Speed),
                    {{1, 65536000}, {1, 0}}},
        ProfileCase{"PositionRiseOfOnePeriodIsAllCorrection",
                    Make(1000, 1, 5, 5, 5, Direction::Positive, Loop::Position),
                    {{0, 65536000}, {1, 65536000}}},
        ProfileCase{"RoundedSlopeIsCorrectedInTheLastPeriod",
                    Make(1000, 3, 0, 3, 0, Direction::Positive, Loop::Speed),
                    // 333.33 per period rounds to 21845333 / 65536; the last period adds the rest.
                    {{2, 21845333}, {1, 21845334}, {0, 0}}},
        ProfileCase{"BidirectionalEndsExactlyAtZero",
                    Make(1000, 10, 5, 10, 7, Direction::Bidirectional, Loop::Speed),
                    {{10, 6553600}, {5, 0}, {20, -6553600}, {7, 0}, {9, 7281778}, {1, -2}}},
        ProfileCase{"UnknownTypeCountsAsPositive",
                    Make(500, 10, 1, 10, 1, profile::DirectionOf(7), Loop::Speed),
                    {{9, 3276800}, {1, 3276800}}}),
    ByLabel());

TEST(ProfileSegments, BidirectionalIncrementsSumToZero) {
    const profile::Segments segments =
        profile::Compute(Make(1234, 13, 4, 17, 3, Direction::Bidirectional, Loop::Position));
    double level = 0.0;
    for (const Segment& segment : segments) {
        level += static_cast<double>(segment.increment) * segment.length;
    }
    EXPECT_EQ(level, 0.0);
}

struct FaultCase {
    const char* label;
    profile::Input input;
    std::size_t segment;
    int messageId;
    friend std::ostream& operator<<(std::ostream& out, const FaultCase& row) {
        return out << row.label;
    }
};

class ProfileFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ProfileFault, NamesTheFirstSegmentTheDriveCannotTake) {
    const auto fault = profile::FirstFault(profile::Compute(GetParam().input));
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->segment, GetParam().segment);
    EXPECT_EQ(fault->messageId, GetParam().messageId);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ProfileFault,
    ::testing::Values(FaultCase{"SpeedRiseUnderHalfAPeriodIsTooSteep",
                                Make(1000, 0.4, 5, 5, 5, Direction::Positive, Loop::Speed), 0,
                                profile::kTooSteepMessageId},
                      FaultCase{"PositionRiseUnderHalfAPeriodIsTooLong",
                                Make(1000, 0.4, 5, 5, 5, Direction::Positive, Loop::Position), 0,
                                profile::kTooLongMessageId},
                      FaultCase{"HoldBeyond32767PeriodsAfterTheRise",
                                Make(1000, 10, 32768, 5, 5, Direction::Positive, Loop::Speed), 2,
                                profile::kTooLongMessageId},
                      FaultCase{"RampStepAboveTheRegister",
                                Make(2000000, 10, 5, 5, 5, Direction::Positive, Loop::Speed), 0,
                                profile::kTooSteepMessageId},
                      FaultCase{"NegativePauseIsTooLong",
                                Make(1000, 10, 5, 5, -3, Direction::Positive, Loop::Speed), 5,
                                profile::kTooLongMessageId}),
    ByLabel());

TEST(ProfileFault, LongestSegmentsAndSteepestSlopeStillPass) {
    // 32767 periods of hold and pause; a step of 32767 units in the one-period rise.
    EXPECT_FALSE(profile::FirstFault(
        profile::Compute(Make(32767, 1, 32767, 32767, 32767, Direction::Positive, Loop::Speed))));
    EXPECT_FALSE(profile::FirstFault(
        profile::Compute(Make(1000, 10, 0, 10, 0, Direction::Positive, Loop::Speed))));
}

}  // namespace
