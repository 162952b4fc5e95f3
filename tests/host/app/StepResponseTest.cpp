#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/app/StepResponse.h"
#include "tests/drive/CaseLabel.h"

namespace {

// The reference steps from 0.5 A to 2.5 A after 1 ms; the response is sampled with it, every
// 2 µs, for 10 ms.
constexpr double kStep_s = 1e-3;
constexpr double kEnd_s = 10e-3;
constexpr double kSample_s = 2e-6;
constexpr double kBefore_A = 0.5;
constexpr double kAfter_A = 2.5;

struct Curves {
    std::vector<ui::GraphPoint> reference;
    std::vector<ui::GraphPoint> response;
};

// fraction: the response as a fraction of the step, over the time since it.
Curves Sampled(const std::function<double(double since_s)>& fraction, double before = kBefore_A,
               double after = kAfter_A) {
    Curves curves;
    const int count = static_cast<int>(std::lround(kEnd_s / kSample_s));
    for (int i = 0; i <= count; ++i) {
        const double time_s = i * kSample_s;
        const bool stepped = time_s >= kStep_s;
        curves.reference.push_back({time_s, stepped ? after : before});
        curves.response.push_back(
            {time_s, before + (after - before) * (stepped ? fraction(time_s - kStep_s) : 0.0)});
    }
    return curves;
}

// First order with a time constant of 200 µs: 63 % after one time constant, 10 % to 90 % in
// ln 9 of them, within 2 % after ln 50 of them, no overshoot.
constexpr double kTau_s = 200e-6;
double FirstOrder(double since_s) {
    return 1.0 - std::exp(-since_s / kTau_s);
}

struct FirstOrderCase {
    std::string label;
    double before_A;
    double after_A;
    friend std::ostream& operator<<(std::ostream& out, const FirstOrderCase& row) {
        return out << row.label;
    }
};

class FirstOrderResponse : public ::testing::TestWithParam<FirstOrderCase> {};

// The sampling (2 µs) bounds the interpolation's error: a hundredth of the time constant.
TEST_P(FirstOrderResponse, GivesTheTimeConstantsFigures) {
    const FirstOrderCase& row = GetParam();
    const Curves curves = Sampled(FirstOrder, row.before_A, row.after_A);
    const StepResponse measured = MeasureStepResponse(curves.reference, curves.response);
    ASSERT_EQ(measured.error, "");
    const StepFigures& figures = measured.figures;
    ASSERT_TRUE(figures.achievedBandwidth_rad_s && figures.riseTime_s && figures.settlingTime_s);
    EXPECT_NEAR(*figures.achievedBandwidth_rad_s, 1.0 / kTau_s, 0.01 / kTau_s);
    EXPECT_NEAR(*figures.riseTime_s, std::log(9.0) * kTau_s, 0.01 * kTau_s);
    EXPECT_NEAR(*figures.settlingTime_s, std::log(50.0) * kTau_s, 0.01 * kTau_s);
    EXPECT_EQ(figures.overshoot_percent, 0.0);
    EXPECT_NEAR(figures.steadyStateError, 0.0, 1e-9);
}

// A measured speed at rest jitters by a count of its measurement: the level before the step is the
// reference's resting one, not the response's first sample.
TEST(StepResponse, ACountOfJitterAtRestIsNotTakenForTheStep) {
    Curves curves = Sampled(FirstOrder, 0.0, 1.0);
    constexpr double kCount = 0.025;
    curves.response.front().y = kCount;
    const StepResponse measured = MeasureStepResponse(curves.reference, curves.response);
    ASSERT_EQ(measured.error, "");
    ASSERT_TRUE(measured.figures.achievedBandwidth_rad_s);
    EXPECT_NEAR(*measured.figures.achievedBandwidth_rad_s, 1.0 / kTau_s, 0.01 / kTau_s);
    EXPECT_EQ(measured.figures.overshoot_percent, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Steps, FirstOrderResponse,
                         ::testing::Values(FirstOrderCase{"Up", kBefore_A, kAfter_A},
                                           FirstOrderCase{"Down", kAfter_A, kBefore_A},
                                           FirstOrderCase{"FromZero", 0.0, 1.0},
                                           // A position's curves start where the rotor stands.
                                           FirstOrderCase{"FarFromZero", 1000.0, 1000.03},
                                           FirstOrderCase{"Negative", 0.0, -3.0}),
                         ByLabel());

// A profile test's reference: it rises from 0.5 A to 2.5 A, holds, returns to 0.5 A at kReturn_s
// and pauses there. The response follows the first order from the moment the reference passes
// half-way and falls back to 0.5 A with the return: the figures are the first order's, read from
// the rise and the hold only, and from the response's first value, the level before the step.
constexpr double kReturn_s = 6e-3;

struct ProfileCase {
    std::string label;
    // When the rise begins; at the first point the reference has then already risen, as when
    // the logger begins after the profile's first period.
    double riseStart_s;
    // The reference before the return, over the time since the rise began at kStep_s.
    std::function<double(double since_s)> rise_A;
    friend std::ostream& operator<<(std::ostream& out, const ProfileCase& row) {
        return out << row.label;
    }
};

class ProfileReference : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileReference, GivesTheFiguresOfTheFirstRiseAndItsHold) {
    Curves curves;
    const int count = static_cast<int>(std::lround(kEnd_s / kSample_s));
    std::optional<double> halfway_s;
    for (int i = 0; i <= count; ++i) {
        const double time_s = i * kSample_s;
        const bool held = time_s >= GetParam().riseStart_s && time_s < kReturn_s;
        const double reference_A =
            held ? GetParam().rise_A(time_s - GetParam().riseStart_s) : kBefore_A;
        if (!halfway_s && reference_A >= 0.5 * (kBefore_A + kAfter_A)) {
            halfway_s = time_s;
        }
        curves.reference.push_back({time_s, reference_A});
        curves.response.push_back(
            {time_s, halfway_s && held
                         ? kBefore_A + (kAfter_A - kBefore_A) * FirstOrder(time_s - *halfway_s)
                         : kBefore_A});
    }
    const StepResponse measured = MeasureStepResponse(curves.reference, curves.response);
    ASSERT_EQ(measured.error, "");
    const StepFigures& figures = measured.figures;
    ASSERT_TRUE(figures.achievedBandwidth_rad_s && figures.settlingTime_s);
    EXPECT_NEAR(*figures.achievedBandwidth_rad_s, 1.0 / kTau_s, 0.01 / kTau_s);
    EXPECT_NEAR(*figures.settlingTime_s, std::log(50.0) * kTau_s, 0.01 * kTau_s);
    // The hold's end lies 24 time constants after the step: the first order has reached it.
    EXPECT_NEAR(figures.steadyStateError, 0.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Rises, ProfileReference,
    ::testing::Values(ProfileCase{"Step", kStep_s, [](double) { return kAfter_A; }},
                      ProfileCase{"RisenAtTheFirstPoint", 0.0, [](double) { return kAfter_A; }},
                      // A ramp over 0.2 ms in steps of 0.1 A, each standing still for five samples,
                      // as a drive's reference does when it changes by less than a unit per
                      // logged point: the level is the ramp's top, not its first stand.
                      ProfileCase{"RampThatStandsStill", kStep_s,
                                  [](double since_s) {
                                      constexpr double kRamp_s = 0.2e-3;
                                      constexpr double kUnit_A = 0.1;
                                      const double ramped_A =
                                          kBefore_A +
                                          (kAfter_A - kBefore_A) * std::min(1.0, since_s / kRamp_s);
                                      return kBefore_A +
                                             kUnit_A * std::floor((ramped_A - kBefore_A) / kUnit_A +
                                                                  1e-9);
                                  }}),
    ByLabel());

// Second order with the damping ratio and a natural frequency of 5000 rad/s: the overshoot is
// exp(-pi zeta / sqrt(1 - zeta^2)).
constexpr double kNatural_rad_s = 5000.0;
double SecondOrder(double zeta, double since_s) {
    const double damped_rad_s = kNatural_rad_s * std::sqrt(1.0 - zeta * zeta);
    const double phase_rad = std::acos(zeta);
    return 1.0 - std::exp(-zeta * kNatural_rad_s * since_s) / std::sqrt(1.0 - zeta * zeta) *
                     std::sin(damped_rad_s * since_s + phase_rad);
}

class SecondOrderResponse : public ::testing::TestWithParam<double> {};

TEST_P(SecondOrderResponse, OvershootsAsTheDampingSaysAndSettles) {
    const double zeta = GetParam();
    const Curves curves = Sampled([zeta](double since_s) { return SecondOrder(zeta, since_s); });
    const StepResponse measured = MeasureStepResponse(curves.reference, curves.response);
    ASSERT_EQ(measured.error, "");
    const double overshoot_percent =
        100.0 * std::exp(-std::numbers::pi * zeta / std::sqrt(1.0 - zeta * zeta));
    EXPECT_NEAR(measured.figures.overshoot_percent, overshoot_percent, 0.01);
    // The 2 % band is reached before the envelope exp(-zeta wn t) / sqrt(1 - zeta^2) enters it.
    const double envelopeInBand_s =
        std::log(1.0 / (0.02 * std::sqrt(1.0 - zeta * zeta))) / (zeta * kNatural_rad_s);
    ASSERT_TRUE(measured.figures.settlingTime_s);
    EXPECT_LE(*measured.figures.settlingTime_s, envelopeInBand_s);
    EXPECT_GT(*measured.figures.settlingTime_s, *measured.figures.riseTime_s);
    EXPECT_NEAR(measured.figures.steadyStateError, 0.0, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Dampings, SecondOrderResponse, ::testing::Values(0.3, 0.5, 0.7));

// Responses that do not show every figure.
struct PartialCase {
    std::string label;
    std::function<double(double since_s)> fraction;
    bool bandwidth;
    bool riseTime;
    bool settles;
    double steadyStateError;
    friend std::ostream& operator<<(std::ostream& out, const PartialCase& row) {
        return out << row.label;
    }
};

class PartialResponse : public ::testing::TestWithParam<PartialCase> {};

TEST_P(PartialResponse, LeavesOutTheFiguresItDoesNotShow) {
    const PartialCase& row = GetParam();
    const Curves curves = Sampled(row.fraction);
    const StepResponse measured = MeasureStepResponse(curves.reference, curves.response);
    ASSERT_EQ(measured.error, "");
    EXPECT_EQ(measured.figures.achievedBandwidth_rad_s.has_value(), row.bandwidth);
    EXPECT_EQ(measured.figures.riseTime_s.has_value(), row.riseTime);
    EXPECT_EQ(measured.figures.settlingTime_s.has_value(), row.settles);
    EXPECT_NEAR(measured.figures.steadyStateError, row.steadyStateError, 0.002);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, PartialResponse,
    ::testing::Values(
        // Rises, but a 10 kHz ripple of 5 % keeps leaving the 2 % band (its last point is on a
        // crest); its last tenth (0.9 ms) holds whole periods of the ripple, whose mean is the
        // step.
        PartialCase{"NeverSettles",
                    [](double since_s) {
                        return FirstOrder(since_s) +
                               0.05 * std::cos(2.0 * std::numbers::pi * 10e3 * since_s);
                    },
                    true, true, false, 0.0},
        // Ends 5 % short: outside the 2 % band, with that error.
        PartialCase{"EndsShort", [](double since_s) { return 0.95 * FirstOrder(since_s); }, true,
                    true, false, 0.05},
        // Stops at half the step: never at 63 % or 90 %.
        PartialCase{"StopsHalfway", [](double since_s) { return 0.5 * FirstOrder(since_s); }, false,
                    false, false, 0.5},
        // Does not move at all.
        PartialCase{"Motionless", [](double) { return 0.0; }, false, false, false, 1.0}),
    ByLabel());

struct NoStepCase {
    std::string label;
    std::vector<ui::GraphPoint> reference;
    std::vector<ui::GraphPoint> response;
    std::string error;
    friend std::ostream& operator<<(std::ostream& out, const NoStepCase& row) {
        return out << row.label;
    }
};

class NoStep : public ::testing::TestWithParam<NoStepCase> {};

TEST_P(NoStep, IsAnErrorAndNoFigures) {
    const NoStepCase& row = GetParam();
    const StepResponse measured = MeasureStepResponse(row.reference, row.response);
    EXPECT_EQ(measured.error, row.error);
}

INSTANTIATE_TEST_SUITE_P(
    References, NoStep,
    ::testing::Values(
        NoStepCase{"Flat",
                   {{0.0, 2.0}, {1e-3, 2.0}, {2e-3, 2.0}},
                   {{0.0, 2.0}, {1e-3, 2.1}, {2e-3, 2.0}},
                   "no step found: the reference curve never leaves the level before the step"},
        NoStepCase{"Zero",
                   {{0.0, 0.0}, {1e-3, 0.0}},
                   {{0.0, 0.0}, {1e-3, 0.0}},
                   "no step found: the reference curve never leaves the level before the step"},
        NoStepCase{"Empty", {}, {}, "no step found: the reference curve has no points"},
        NoStepCase{"NoResponse", {{0.0, 0.0}, {1e-3, 1.0}}, {}, "the measured curve has no points"},
        NoStepCase{"ResponseEndsBeforeTheStep",
                   {{0.0, 0.0}, {1e-3, 0.0}, {2e-3, 1.0}},
                   {{0.0, 0.0}, {1e-3, 0.0}},
                   "the measured curve has no points after the step"}),
    ByLabel());

}  // namespace
