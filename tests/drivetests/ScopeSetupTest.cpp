#include <gtest/gtest.h>

#include <ostream>

#include "drivetests/ScopeSetup.h"
#include "tests/drive/CaseLabel.h"

namespace {

using profile::Direction;
using profile::Loop;
using scope_setup::Acquisition;

struct AcquisitionCase {
    const char* label;
    Direction direction;
    Loop loop;
    double amplitude;
    bool cycles;
    Acquisition expected;
    friend std::ostream& operator<<(std::ostream& out, const AcquisitionCase& row) {
        return out << row.label;
    }
};

// Rise 0.1 s, hold 0.4 s, return 0.2 s, pause 0.3 s.
constexpr scope_setup::ProfileTimes kTimes{0.1, 0.4, 0.2, 0.3};

class ProfileAcquisition : public ::testing::TestWithParam<AcquisitionCase> {};

TEST_P(ProfileAcquisition, CoversTheProfileAndTriggersOnTheReference) {
    const AcquisitionCase& row = GetParam();
    const Acquisition got = scope_setup::ForProfile(kTimes, &row.amplitude, row.direction,
                                                    row.cycles, row.loop, "Reference");
    EXPECT_DOUBLE_EQ(got.duration_s, row.expected.duration_s);
    EXPECT_EQ(got.mode, row.expected.mode);
    EXPECT_EQ(got.slope, row.expected.slope);
    EXPECT_EQ(got.variable, "Reference");
    EXPECT_DOUBLE_EQ(got.level, row.expected.level);
    EXPECT_EQ(got.preTrigger_percent, row.expected.preTrigger_percent);
}

INSTANTIATE_TEST_SUITE_P(
    Scope, ProfileAcquisition,
    ::testing::Values(
        // 0.7 s of rise, hold and return and the shorter ramp again; 0.1 / 0.8 of it before.
        AcquisitionCase{"SpeedOnce",
                        Direction::Positive,
                        Loop::Speed,
                        50.0,
                        false,
                        {0.8, scope_setup::kSingle, 1, "", 50.0, 13}},
        AcquisitionCase{"SpeedCyclesDownward",
                        Direction::Positive,
                        Loop::Speed,
                        -50.0,
                        true,
                        {0.8, scope_setup::kRepeated, 0, "", -50.0, 13}},
        AcquisitionCase{"SpeedBothWays",
                        Direction::Bidirectional,
                        Loop::Speed,
                        50.0,
                        false,
                        {1.3, scope_setup::kSingle, 1, "", 50.0, 8}},
        AcquisitionCase{"PositionShortOfTheTarget",
                        Direction::Positive,
                        Loop::Position,
                        2.0,
                        false,
                        {0.8, scope_setup::kSingle, 1, "", 1.9, 13}},
        // A negative amplitude moved the negative way: a positive level, reached rising.
        AcquisitionCase{"PositionNegativeTypeNegativeAmplitude",
                        Direction::Negative,
                        Loop::Position,
                        -2.0,
                        false,
                        {0.8, scope_setup::kSingle, 1, "", 1.9, 13}},
        AcquisitionCase{"PositionBothWays",
                        Direction::Bidirectional,
                        Loop::Position,
                        2.0,
                        true,
                        {1.3, scope_setup::kRepeated, 1, "", 1.8, 8}}),
    ByLabel());

TEST(ProfileAcquisition, WithoutAnAmplitudeRunsUntriggeredOverTheWholeProfile) {
    const Acquisition once =
        scope_setup::ForProfile(kTimes, nullptr, Direction::Positive, true, Loop::Speed, "R");
    EXPECT_EQ(once.mode, scope_setup::kUntriggered);
    EXPECT_DOUBLE_EQ(once.duration_s, 1.0);
    EXPECT_EQ(once.variable, "");
    EXPECT_EQ(once.preTrigger_percent, 0);
    EXPECT_DOUBLE_EQ(
        scope_setup::ForProfile(kTimes, nullptr, Direction::Bidirectional, true, Loop::Speed, "R")
            .duration_s,
        1.3);
}

struct ScaleCase {
    double magnitude;
    double scale;
};

class OneTwoFive : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(OneTwoFive, IsTheSmallestStepHoldingTheMagnitude) {
    EXPECT_DOUBLE_EQ(scope_setup::OneTwoFiveScale(GetParam().magnitude), GetParam().scale);
}

INSTANTIATE_TEST_SUITE_P(Scope, OneTwoFive,
                         ::testing::Values(ScaleCase{12.5, 20.0}, ScaleCase{20.0, 20.0},
                                           ScaleCase{21.0, 50.0}, ScaleCase{51.0, 100.0},
                                           ScaleCase{100.0, 100.0}, ScaleCase{0.3, 0.5},
                                           ScaleCase{0.0015, 0.002}, ScaleCase{0.0, 0.2},
                                           ScaleCase{-3.0, 0.2}));

}  // namespace
