#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>

#include "drive/SineCosineTracker.h"
#include "tests/drive/CaseLabel.h"

namespace {

using drive::SineCosineTracker;

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
// The series is exact to a double: two units of rounding in its few products and sums.
constexpr double kSeriesTolerance = 2 * kEpsilon;
// Between two resyncs the rotations' roundings add up; 512 units in the last place of a value
// near 1 allow two per rotation, far below the physics' own error.
constexpr double kTrackedTolerance = 2 * SineCosineTracker::kRotationsBetweenResyncs * kEpsilon;
// Long enough for a run to pass many resyncs.
constexpr int kSteps = 20 * SineCosineTracker::kRotationsBetweenResyncs + 37;

// A series and the rotations it serves.
struct SeriesCase {
    const char* label;
    drive::SineCosine (*series)(double angle_rad);
    double limit_rad;
    friend std::ostream& operator<<(std::ostream& out, const SeriesCase& row) {
        return out << row.label;
    }
};

class Series : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(Series, MatchesTheLibraryUpToItsLimit) {
    constexpr int kSamples = 1000;
    for (int sample = -kSamples; sample <= kSamples; ++sample) {
        const double angle_rad = GetParam().limit_rad * sample / kSamples;
        const drive::SineCosine pair = GetParam().series(angle_rad);
        EXPECT_NEAR(pair.sine, std::sin(angle_rad), kSeriesTolerance) << angle_rad;
        EXPECT_NEAR(pair.cosine, std::cos(angle_rad), kSeriesTolerance) << angle_rad;
    }
}

INSTANTIATE_TEST_SUITE_P(Rotations, Series,
                         ::testing::Values(SeriesCase{"Small", drive::SineCosineOfSmallAngle,
                                                      SineCosineTracker::kMaxRotation_rad},
                                           SeriesCase{"Tiny", drive::SineCosineOfTinyAngle,
                                                      SineCosineTracker::kTinyRotation_rad}),
                         ByLabel());

struct RunCase {
    const char* label;
    double start_rad;
    // The angle's change per step, and how much that change itself grows per step (a rotor
    // speeding up or braking).
    double stepAngle_rad;
    double stepGrowth_rad;
    friend std::ostream& operator<<(std::ostream& out, const RunCase& row) {
        return out << row.label;
    }
};

class TrackedRun : public ::testing::TestWithParam<RunCase> {};

// The tracked pair stays with the library's at every step of a long run, through the resyncs.
TEST_P(TrackedRun, StaysWithTheLibrarysSineAndCosine) {
    const RunCase& row = GetParam();
    SineCosineTracker tracker;
    double angle_rad = row.start_rad;
    double stepAngle_rad = row.stepAngle_rad;
    double worst = 0.0;
    for (int step = 0; step < kSteps; ++step) {
        const drive::SineCosine pair = tracker.At(angle_rad);
        worst = std::fmax(worst, std::fabs(pair.sine - std::sin(angle_rad)));
        worst = std::fmax(worst, std::fabs(pair.cosine - std::cos(angle_rad)));
        angle_rad += stepAngle_rad;
        stepAngle_rad += row.stepGrowth_rad;
    }
    EXPECT_LE(worst, kTrackedTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, TrackedRun,
    ::testing::Values(RunCase{"AtTheRotationLimit", 0.3, SineCosineTracker::kMaxRotation_rad, 0.0},
                      RunCase{"AtTheTinyRotationLimit", 0.3, SineCosineTracker::kTinyRotation_rad,
                              0.0},
                      RunCase{"FastBackwards", 2.0, -0.05, 0.0}, RunCase{"Slow", -1.0, 1e-5, 0.0},
                      RunCase{"Standstill", 4.0, 0.0, 0.0}, RunCase{"FarFromZero", 1e4, 0.03, 0.0},
                      RunCase{"Accelerating", 0.0, 0.0, 1e-5},
                      RunCase{"Reversing", 0.0, 0.04, -1e-5}),
    ByLabel());

struct AfreshCase {
    const char* label;
    // Calls before the one checked, each this far on from the last, and whether Invalidate
    // comes before the checked one.
    int callsBefore;
    double stepAngle_rad;
    bool invalidate;
    friend std::ostream& operator<<(std::ostream& out, const AfreshCase& row) {
        return out << row.label;
    }
};

class TakenAfresh : public ::testing::TestWithParam<AfreshCase> {};

// Where the tracker takes the pair afresh, it is the library's to the last bit.
TEST_P(TakenAfresh, IsTheLibrarysPair) {
    const AfreshCase& row = GetParam();
    SineCosineTracker tracker;
    double angle_rad = 1.0;
    for (int call = 0; call < row.callsBefore; ++call) {
        tracker.At(angle_rad);
        angle_rad += row.stepAngle_rad;
    }
    if (row.invalidate) {
        tracker.Invalidate();
    }
    const drive::SineCosine pair = tracker.At(angle_rad);
    EXPECT_EQ(pair.sine, std::sin(angle_rad));
    EXPECT_EQ(pair.cosine, std::cos(angle_rad));
}

// The first call takes the pair afresh and the next kRotationsBetweenResyncs rotate it.
INSTANTIATE_TEST_SUITE_P(
    Resyncs, TakenAfresh,
    ::testing::Values(AfreshCase{"BeyondTheRotationLimit", 5,
                                 2 * SineCosineTracker::kMaxRotation_rad, false},
                      AfreshCase{"AfterInvalidate", 10, 0.01, true},
                      AfreshCase{"AfterItsRotations",
                                 SineCosineTracker::kRotationsBetweenResyncs + 1, 0.01, false}),
    ByLabel());

}  // namespace
