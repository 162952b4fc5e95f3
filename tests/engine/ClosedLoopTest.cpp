#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/ClosedLoop.h"
#include "engine/GainDesign.h"
#include "tests/support/Examples.h"

namespace {

constexpr double kLevels[] = {0.1, 0.5, 0.63, 0.9};
// The integration's crossing against the closed form's.
constexpr double kTimeTolerance = 2e-6;

// A loop whose unit step response has a closed form.
struct KnownLoop {
    const char* label;
    ClosedLoop loop;
    std::function<double(double)> response;
};

std::ostream& operator<<(std::ostream& out, const KnownLoop& known) {
    return out << known.label;
}

// The first time the closed form reaches the level: stepped forward, then halved down.
double ClosedFormTime(const std::function<double(double)>& response, double level) {
    double before_s = 0.0;
    double after_s = 1e-4;
    while (response(after_s) < level) {
        before_s = after_s;
        after_s += 1e-4;
    }
    for (int i = 0; i < 60; ++i) {
        const double middle_s = 0.5 * (before_s + after_s);
        (response(middle_s) < level ? before_s : after_s) = middle_s;
    }
    return after_s;
}

class StepTime : public ::testing::TestWithParam<KnownLoop> {};

TEST_P(StepTime, MatchesTheClosedForm) {
    for (const double level : kLevels) {
        const std::optional<double> time_s = StepTimeToReach(GetParam().loop, level);
        ASSERT_TRUE(time_s) << "level " << level;
        const double expected_s = ClosedFormTime(GetParam().response, level);
        EXPECT_NEAR(*time_s / expected_s, 1.0, kTimeTolerance) << "level " << level;
    }
}

TEST_P(StepTime, ResponseFollowsTheClosedForm) {
    const std::vector<double> times_s = {0.0, 1e-5, 2e-4, 5e-4, 1e-3, 2e-3, 5e-3};
    const std::vector<double> response = StepResponseAt(GetParam().loop, times_s);
    ASSERT_EQ(response.size(), times_s.size());
    for (std::size_t i = 0; i < times_s.size(); ++i) {
        EXPECT_NEAR(response[i], GetParam().response(times_s[i]), 1e-9) << times_s[i] << " s";
    }
}

constexpr double w = 1000.0;
const double kUnderdamping = 0.5;
const double kDampedFrequency = w * std::sqrt(1.0 - kUnderdamping * kUnderdamping);

INSTANTIATE_TEST_SUITE_P(
    ClosedForms, StepTime,
    ::testing::Values(
        KnownLoop{"FirstOrder",
                  {{w}, {1.0, w}},
                  [](double time_s) { return 1.0 - std::exp(-w * time_s); }},
        KnownLoop{"CriticallyDamped",
                  {{w * w}, {1.0, 2.0 * w, w* w}},
                  [](double time_s) { return 1.0 - std::exp(-w * time_s) * (1.0 + w * time_s); }},
        // The PI's zero on an integrator at damping 1: (2 w s + w^2) / (s + w)^2.
        KnownLoop{"CriticallyDampedWithZero",
                  {{2.0 * w, w* w}, {1.0, 2.0 * w, w* w}},
                  [](double time_s) { return 1.0 - std::exp(-w * time_s) * (1.0 - w * time_s); }},
        KnownLoop{"Underdamped",
                  {{w * w}, {1.0, 2.0 * kUnderdamping* w, w* w}},
                  [](double time_s) {
                      return 1.0 -
                             std::exp(-kUnderdamping * w * time_s) *
                                 (std::cos(kDampedFrequency * time_s) +
                                  kUnderdamping / std::sqrt(1.0 - kUnderdamping * kUnderdamping) *
                                      std::sin(kDampedFrequency * time_s));
                  }},
        KnownLoop{"TriplePole",
                  {{w * w * w}, {1.0, 3.0 * w, 3.0 * w* w, w* w* w}},
                  [](double time_s) {
                      return 1.0 - std::exp(-w * time_s) *
                                       (1.0 + w * time_s + 0.5 * w * time_s * w * time_s);
                  }},
        // Poles at w and 100 w: the slow one sets the time, the fast one the integration step.
        KnownLoop{"PolesDecadesApart",
                  {{100.0 * w * w}, {1.0, 101.0 * w, 100.0 * w* w}},
                  [](double time_s) {
                      return 1.0 -
                             (100.0 * std::exp(-w * time_s) - std::exp(-100.0 * w * time_s)) / 99.0;
                  }}),
    [](const ::testing::TestParamInfo<KnownLoop>& row) { return row.param.label; });

struct UnanswerableLoop {
    const char* label;
    ClosedLoop loop;
};

class NoStepTime : public ::testing::TestWithParam<UnanswerableLoop> {};

TEST_P(NoStepTime, IsNone) {
    EXPECT_FALSE(StepTimeToReach(GetParam().loop, 0.63));
}

TEST(StepResponse, TimesOutOfOrderGiveNone) {
    const std::vector<double> times_s = {1e-3, 5e-4};
    EXPECT_TRUE(StepResponseAt(ClosedLoop{{1.0}, {1.0, 1.0}}, times_s).empty());
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Refused, NoStepTime,
    ::testing::Values(UnanswerableLoop{"DenominatorNotMonic", {{1.0}, {2.0, 1.0}}},
                      UnanswerableLoop{"PassesTheStepThrough", {{1.0, 1.0}, {1.0, 1.0}}},
                      UnanswerableLoop{"NoDenominator", {{1.0}, {}}},
                      UnanswerableLoop{"AnIntegrator", {{1.0}, {1.0, 0.0}}},
                      UnanswerableLoop{"NotANumber", {{kNaN}, {1.0, 1.0}}},
                      // Settles at half the step: never reaches 63 %.
                      UnanswerableLoop{"SettlesBelowTheLevel", {{0.5}, {1.0, 1.0}}}),
    [](const ::testing::TestParamInfo<UnanswerableLoop>& row) { return row.param.label; });

// The reference axis: R 1.2 ohm, L 2.4 mH (time constant 2 ms, forty 50 us periods), PB_C 5000
// rad/s at damping 0.7, PB_S 300 and PB_P 50 rad/s at damping 1, the position loop over the
// speed loop, loops at 20 kHz and 2 kHz.
class DesignedLoops : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_ = LoadExample("reference-axis.json");
        ASSERT_TRUE(setup_);
    }

    void Set(const std::string& name, double value) {
        ASSERT_TRUE(setup_->SetParameterValueInBaseUnit(name, value)) << name;
        ASSERT_DOUBLE_EQ(setup_->GetParameterValueInBaseUnit(name), value) << name;
    }

    static void ExpectLoop(const std::optional<ClosedLoop>& loop,
                           const std::vector<double>& numerator,
                           const std::vector<double>& denominator) {
        ASSERT_TRUE(loop);
        ASSERT_EQ(loop->numerator.size(), numerator.size());
        ASSERT_EQ(loop->denominator.size(), denominator.size());
        for (std::size_t i = 0; i < numerator.size(); ++i) {
            EXPECT_NEAR(loop->numerator[i], numerator[i], 1e-9 * std::abs(numerator[i])) << i;
        }
        for (std::size_t i = 0; i < denominator.size(); ++i) {
            EXPECT_NEAR(loop->denominator[i], denominator[i], 1e-9 * std::abs(denominator[i])) << i;
        }
    }

    std::unique_ptr<CQel_Setup> setup_;
};

TEST_F(DesignedLoops, CurrentLoopKeepsTheCircuitsPoleInItsZero) {
    // (2 0.7 5000 - 1.2 / 0.0024) s + 5000^2 over s^2 + 2 0.7 5000 s + 5000^2.
    ExpectLoop(DesignedClosedLoop(*setup_, ControlLoop::Current), {7000.0 - 500.0, 25e6},
               {1.0, 7000.0, 25e6});
}

TEST_F(DesignedLoops, FastWindingLoopHasTheSamplingLimitedProportionalGain) {
    // L 0.12 mH: a time constant of 100 us, two periods, too fast to place. Kp = (a - 1) R with
    // a = 100 us / (2 sqrt 2 x 50 us), Ki = w R: ((a - 1) s + w) / (tau s^2 + a s + w).
    Set("L", 1.2e-4);
    const double tau = 1e-4;
    const double a = tau / (2.0 * std::sqrt(2.0) * 5e-5);
    ExpectLoop(DesignedClosedLoop(*setup_, ControlLoop::Current), {(a - 1.0) / tau, 5000.0 / tau},
               {1.0, a / tau, 5000.0 / tau});
}

TEST_F(DesignedLoops, SpeedAndPositionLoopsArePisOnAnIntegrator) {
    ExpectLoop(DesignedClosedLoop(*setup_, ControlLoop::Speed), {600.0, 90000.0},
               {1.0, 600.0, 90000.0});
    ExpectLoop(DesignedClosedLoop(*setup_, ControlLoop::Position), {100.0, 2500.0},
               {1.0, 100.0, 2500.0});
}

TEST_F(DesignedLoops, PositionPidOnTheCurrentPlacesThreePoles) {
    Set("PositionControlType", 0.0);
    // (s + 50)(s^2 + 100 s + 2500) = s^3 + 150 s^2 + 7500 s + 125000, the numerator its lower
    // three terms.
    ExpectLoop(DesignedClosedLoop(*setup_, ControlLoop::Position), {150.0, 7500.0, 125000.0},
               {1.0, 150.0, 7500.0, 125000.0});
}

TEST_F(DesignedLoops, HighestPassbandsFollowTheLoopPeriodsAndTheInnerLoops) {
    // 0.18 / 50 us; 0.1 / 0.5 ms (below a tenth of the current loop's 3600); a tenth of the
    // speed loop's 200, its 300 being beyond.
    EXPECT_NEAR(*HighestValidPassband_rad_s(*setup_, ControlLoop::Current), 3600.0, 1e-9);
    EXPECT_NEAR(*HighestValidPassband_rad_s(*setup_, ControlLoop::Speed), 200.0, 1e-9);
    EXPECT_NEAR(*HighestValidPassband_rad_s(*setup_, ControlLoop::Position), 20.0, 1e-9);
    // A slower current loop bounds the speed loop, a slower speed loop the position loop.
    Set("PB_C", 1500.0);
    Set("PB_S", 120.0);
    EXPECT_NEAR(*HighestValidPassband_rad_s(*setup_, ControlLoop::Speed), 150.0, 1e-9);
    EXPECT_NEAR(*HighestValidPassband_rad_s(*setup_, ControlLoop::Position), 12.0, 1e-9);
    // The position PID commands the current at the speed loop's period: as the speed loop.
    Set("PositionControlType", 0.0);
    EXPECT_NEAR(*HighestValidPassband_rad_s(*setup_, ControlLoop::Position), 150.0, 1e-9);
    // Both outer loops run in the current loop's period in the fast loop: the inner loop bounds.
    Set("PB_C", 3600.0);
    Set("PosSpd_in_FastLoop", 1.0);
    EXPECT_NEAR(*HighestValidPassband_rad_s(*setup_, ControlLoop::Speed), 360.0, 1e-9);
}

}  // namespace
