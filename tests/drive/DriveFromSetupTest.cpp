#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <ostream>

#include "engine/BiquadDesigner.h"
#include "engine/GainDesign.h"
#include "engine/RegisterComputation.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/support/CollectedErrors.h"

// The drive run from registers the engine computed: the registers and hardware a setup gives,
// the biquad slots the engine designs, the torque the designed current loop makes, and the
// offsets and feed-forwards the setup's parameters ask for.
namespace {

// The reference axis's converters: 10 bits in a 16-bit word, steps of 64 counts.
constexpr double kConverterStep = 64.0;

TEST(ReadDriveFromSetup, TakesTheRegistersAndHardwareOfTheReferenceAxis) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    const drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(*setup);
    EXPECT_TRUE(loaded.missing.empty());
    EXPECT_EQ(loaded.registers.PWMPER, 1000);
    EXPECT_EQ(loaded.registers.ACR, 1808);
    EXPECT_EQ(loaded.registers.KPI, 19986);
    EXPECT_EQ(loaded.registers.SFTKPI, 4);
    EXPECT_EQ(loaded.registers.SATS, 14911);
    EXPECT_EQ(loaded.registers.ENC2THL, 3145728);
    EXPECT_EQ(loaded.registers.IQREF_BQ_INI, 1);
    EXPECT_EQ(loaded.registers.BQ[0].B0, 1734970014);
    EXPECT_EQ(loaded.registers.BQ[1].A1, 0);
    EXPECT_EQ(loaded.registers.SCR, 8576);
    EXPECT_EQ(loaded.registers.SWPOSLS, 104857600);
    EXPECT_EQ(loaded.registers.SWNEGLS, -104857600);
    EXPECT_EQ(loaded.registers.CADIN, 19019);
    EXPECT_EQ(loaded.registers.AD5OFF, -19000);
    EXPECT_EQ(loaded.registers.KPTHT, 29554);
    EXPECT_EQ(loaded.registers.II2TWARLIM_D, 19803363);
    EXPECT_DOUBLE_EQ(loaded.hardware.dspClock_Hz, 40e6);
    EXPECT_DOUBLE_EQ(loaded.hardware.maxMeasurableBus_V, 73.0);
    EXPECT_DOUBLE_EQ(loaded.hardware.peakCurrent_A, 16.5);
    EXPECT_EQ(loaded.hardware.adcFullScale, 65472u);
    EXPECT_EQ(loaded.hardware.adcStep, 64);
    // AnalogueInputsRange 20: the +-10 V input.
    EXPECT_DOUBLE_EQ(loaded.hardware.analogueInputSpan_V, 20.0);
    EXPECT_DOUBLE_EQ(loaded.hardware.analogueInputLowest_V, -10.0);
    EXPECT_DOUBLE_EQ(loaded.hardware.adcReference_V, 3.3);
    EXPECT_DOUBLE_EQ(loaded.hardware.driveSensorAtZero_V, 0.5);
    EXPECT_DOUBLE_EQ(loaded.hardware.driveSensorGain_V_C, 0.01);
    EXPECT_EQ(loaded.hardware.interpolationBits, 8);
    // DBT 0x2828: 40 clocks on both edges, half of them lost (DBTPC 50 %), at 40 MHz.
    EXPECT_DOUBLE_EQ(loaded.hardware.deadTime_s, 0.5e-6);
}

TEST(ReadDriveFromSetup, ListsMissingRegistersQuietlyAndKeepsTheirDefaults) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    ASSERT_TRUE(setup->RemoveParameter("KPI"));
    ASSERT_TRUE(setup->RemoveParameter("ELRES_FRACT"));
    ASSERT_TRUE(setup->RemoveParameter("BQ3SF"));
    ASSERT_TRUE(setup->RemoveParameter("Vdc"));
    const CollectedErrors errors;
    g_bShowErrors = 1;
    const drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(*setup);
    EXPECT_EQ(loaded.missing, (std::vector<std::string>{"KPI"}));
    EXPECT_EQ(loaded.registers.KPI, drive::DriveRegisters{}.KPI);
    EXPECT_TRUE(errors.Messages().empty());
    EXPECT_EQ(g_bShowErrors, 1);
}

// The setup's "Vdc" is the user's belief; the bus is the bench's, which the caller supplies.
TEST(ReadDriveFromSetup, LeavesTheBusToTheBench) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    ASSERT_TRUE(setup->SetParameterValueInBaseUnit("Vdc", 36.0));
    const drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(*setup);
    EXPECT_DOUBLE_EQ(loaded.hardware.busVoltage_V, drive::DriveHardware{}.busVoltage_V);
    EXPECT_TRUE(loaded.missing.empty());
}

struct BiquadCase {
    const char* label;
    std::size_t slot;  // of the reference axis
    double frequency_Hz;
    double gain;
    double tolerance;
    friend std::ostream& operator<<(std::ostream& out, const BiquadCase& row) {
        return out << row.label;
    }
};

class EngineBiquad : public ::testing::TestWithParam<BiquadCase> {};

// The reference axis's slots as the engine designs them, run in the drive's fixed point at the
// speed-loop rate (2 kHz): a 400 Hz notch of Q 2 in slot 1, a 500 Hz second-order low pass of
// Q 0.7071 in slot 2. The gain of a sine is its amplitude out over in, once settled.
TEST_P(EngineBiquad, PassesASineWithTheDesignedGain) {
    const BiquadCase& row = GetParam();
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    ComputeDriveRegisters(*setup);
    const drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(*setup);
    drive::BiquadFilter filter;
    filter.Configure(loaded.registers.BQ[row.slot]);
    const double amplitude = 10000.0;
    const double rate_Hz = 2000.0;
    const double step_rad = 2 * std::numbers::pi * row.frequency_Hz / rate_Hz;
    // The output's component at the input's frequency over the last 1000 samples (whole cycles
    // of every frequency below): its amplitude whatever the phase the filter adds.
    double inPhase = 0.0;
    double quadrature = 0.0;
    const int settled = 3000;
    const int samples = 1000;
    for (int k = 0; k < settled + samples; ++k) {
        const double input = amplitude * std::cos(step_rad * k);
        const double output = static_cast<double>(filter.Process(std::llround(input)));
        if (k >= settled) {
            inPhase += output * std::cos(step_rad * k);
            quadrature += output * std::sin(step_rad * k);
        }
    }
    const double weight = row.frequency_Hz == 0.0 ? 1.0 : 2.0;
    const double gain = weight * std::hypot(inPhase, quadrature) / samples / amplitude;
    EXPECT_NEAR(gain, row.gain, row.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceAxis, EngineBiquad,
    ::testing::Values(
        BiquadCase{"NotchPassesDirectCurrent", 0, 0.0, 1.0, 1e-4},
        BiquadCase{"NotchStopsItsFrequency", 0, 400.0, 0.0, 0.01},
        // |1 - x^2| / sqrt((1 - x^2)^2 + (x / Q)^2), x = tan(pi f / 2 kHz) / tan(pi 400 / 2 kHz).
        BiquadCase{"NotchPassesAnOctaveBelow", 0, 200.0, 0.963, 0.005},
        BiquadCase{"LowPassPassesDirectCurrent", 1, 0.0, 1.0, 1e-4},
        BiquadCase{"LowPassHalvesThePowerAtItsFrequency", 1, 500.0, 1.0 / std::numbers::sqrt2,
                   0.02},
        // 1 / sqrt(1 + x^4), x = tan(pi 900 / 2 kHz) / tan(pi 500 / 2 kHz).
        BiquadCase{"LowPassStopsNearHalfTheRate", 1, 900.0, 0.0251, 0.002}),
    ByLabel());

struct ChainCase {
    const char* label;
    std::int64_t speedReferenceSlots, currentReferenceSlots, speedFeedbackSlots;
    // The share of a new value each chain passes at once (1: no filter).
    double referenceShare, currentShare, feedbackShare;
    friend std::ostream& operator<<(std::ostream& out, const ChainCase& row) {
        return out << row.label;
    }
};

class BiquadChain : public ::testing::TestWithParam<ChainCase> {};

// Three two-tap averages, one per slot, passing at once 1/2, 1/4 and 3/4 of a new value; the
// counts give slots in order to the speed-reference, current-reference and measured-speed chains,
// so each signal's first response after a change tells which slots filtered it.
TEST_P(BiquadChain, FiltersEachSignalThroughItsOwnSlots) {
    const ChainCase& row = GetParam();
    drive::DriveRegisters registers;
    registers.ACR = 0x300;
    registers.KPS = 32767;  // proportional gain 1
    registers.SPDREF_BQ_INI = row.speedReferenceSlots;
    registers.IQREF_BQ_INI = row.currentReferenceSlots;
    registers.ASPD_BQ_INI = row.speedFeedbackSlots;
    constexpr std::int64_t kHalf = 1073741824;  // 2^30: one half as a fraction of 2^31
    registers.BQ[0] = {kHalf, kHalf, 0, 0, 0, 1};
    registers.BQ[1] = {kHalf / 2, 3 * kHalf / 2, 0, 0, 0, 1};
    registers.BQ[2] = {3 * kHalf / 2, kHalf / 2, 0, 0, 0, 1};
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.rotorInertia_kgm2 = 1e6;  // a steady speed whatever the current
    drive::SimulatedDrive axis(motor, drive::DriveHardware{}, registers);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Motor().SetShaftState(0.0, 1.0);
    const std::int64_t reference = 1000;
    axis.Firmware().SetSpeedReference(reference);
    // Up to the first speed-loop period: every chain then sees its first new value.
    axis.RunCurrentLoopPeriods(10);
    const drive::DriveFirmware& firmware = axis.Firmware();
    const auto speed = static_cast<double>(firmware.MotorSpeed());
    ASSERT_GT(speed, 50.0);
    // Each slot rounds its output: a unit per slot.
    EXPECT_NEAR(static_cast<double>(firmware.SpeedReference()), row.referenceShare * reference,
                3.0);
    EXPECT_NEAR(static_cast<double>(firmware.SpeedFeedback()), row.feedbackShare * speed, 2.0);
    const auto error = static_cast<double>(firmware.SpeedReference() - firmware.SpeedFeedback());
    EXPECT_NEAR(static_cast<double>(firmware.CurrentReferenceQ()), row.currentShare * error, 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, BiquadChain,
    ::testing::Values(ChainCase{"None", 0, 0, 0, 1.0, 1.0, 1.0},
                      ChainCase{"SpeedReference", 1, 0, 0, 0.5, 1.0, 1.0},
                      ChainCase{"CurrentReference", 0, 1, 0, 1.0, 0.5, 1.0},
                      ChainCase{"MeasuredSpeed", 0, 0, 1, 1.0, 1.0, 0.5},
                      ChainCase{"AllThree", 1, 1, 1, 0.5, 0.25, 0.75},
                      ChainCase{"CurrentAndMeasuredSpeed", 0, 1, 1, 1.0, 0.5, 0.25},
                      // Counts beyond the three slots are cut: the reference takes all three.
                      ChainCase{"TooMany", 3, 2, 2, 0.5 * 0.25 * 0.75, 1.0, 1.0}),
    ByLabel());

class EveryMotor : public ::testing::TestWithParam<const char*> {};

// The designed current loop holds 1 A of q current on the aligned rotor: the motor accelerates
// at K x 1 A over the total inertia (frictions removed), whatever its connection. Without dead
// time: its distortion where the turning phase currents cross zero costs the low-resistance
// motor 1 % of its torque, another effect than the one this test checks. The loop holds the
// current its converters read, within half of their 64-count step of the true one (1.6 % of
// 1 A): the phase currents hardly turn within the run (the large motor's rotor turns a tenth of
// an electrical turn), so the rounding does not average out.
TEST_P(EveryMotor, AcceleratesAtTorqueConstantTimesHeldCurrentOverInertia) {
    drive::MotorData motor = LoadExampleMotor(GetParam());
    motor.viscousFriction_Nms_rad = 0.0;
    motor.coulombFriction_Nm = 0.0;
    const std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_TRUE(setup);
    ForceParameter(*setup, "PB_C", 2500);
    ASSERT_TRUE(DesignCurrentController(*setup));
    ComputeDriveRegisters(*setup);
    const std::unique_ptr<drive::SimulatedDrive> axis =
        DriveFromSetup(*setup, motor, DeadTime::Without);
    axis->AlignElectricAngleToRotor();
    axis->Firmware().SetLoopMode(drive::LoopMode::Current);
    ASSERT_TRUE(axis->SwitchOn());
    axis->Firmware().SetCurrentReference(0, std::llround(axis->Power().CurrentScale()));
    axis->Advance(0.002);
    const double startSpeed_rad_s = axis->Motor().ShaftSpeed_rad_s();
    const double duration_s = 0.02;
    axis->Advance(duration_s);
    const double acceleration = (axis->Motor().ShaftSpeed_rad_s() - startSpeed_rad_s) / duration_s;
    const double expected = motor.torqueConstant_Nm_A / motor.TotalInertia_kgm2();
    const double heldCurrentTolerance = 0.5 * kConverterStep / axis->Power().CurrentScale();
    EXPECT_NEAR(acceleration, expected, (0.01 + heldCurrentTolerance) * expected);
    EXPECT_EQ(axis->Firmware().MotionErrors(), 0);
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, EveryMotor,
                         ::testing::Values("reference-axis-motor.json", "small-delta-motor.json",
                                           "large-motor.json"));

// The gravitational offset: a hanging load of K x 0.5 A held by the current loop alone when
// the setup's offset current is 0.5 A; without it the load falls. The loop holds the current its
// converters read, within half of their step of the true one: what is left of the load's torque
// accelerates the shaft by at most K x half a step / J.
TEST(GravitationalOffset, HoldsTheHangingLoadItWasSetFor) {
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.loadTorque_Nm = 0.5 * motor.torqueConstant_Nm_A;
    for (const bool compensate : {true, false}) {
        const std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
        ASSERT_TRUE(setup);
        ForceParameter(*setup, "isCompensateGravitationalLoads", compensate ? 1 : 0);
        ForceParameter(*setup, "OffsetCurrent", 0.5);
        ComputeDriveRegisters(*setup);
        const std::unique_ptr<drive::SimulatedDrive> axis = DriveFromSetup(*setup, motor);
        axis->AlignElectricAngleToRotor();
        axis->Firmware().SetLoopMode(drive::LoopMode::Current);
        ASSERT_TRUE(axis->SwitchOn());
        axis->Advance(0.1);
        if (compensate) {
            const double residual_Nm =
                motor.torqueConstant_Nm_A * 0.5 * kConverterStep / axis->Power().CurrentScale();
            EXPECT_NEAR(axis->Motor().ShaftSpeed_rad_s(), 0.0,
                        residual_Nm / motor.TotalInertia_kgm2() * axis->Time_s());
        } else {
            EXPECT_LT(axis->Motor().ShaftSpeed_rad_s(), -40.0);
        }
    }
}

// Sets a reference ramp at every speed-loop period: speed units per period squared in speed
// mode, position counts per period in position mode; the largest error seen is kept.
class Ramp : public drive::DriveRoutine {
  public:
    Ramp(std::int64_t slope, bool position) : slope_(slope), position_(position) {}
    void OnPeriodStart(drive::SimulatedDrive& axis, bool speedLoopDue) override {
        if (!speedLoopDue) {
            return;
        }
        drive::DriveFirmware& firmware = axis.Firmware();
        const std::int64_t error = position_ ? firmware.PositionError()
                                             : firmware.SpeedReference() - firmware.MotorSpeed();
        largestError_ = std::max(largestError_, std::abs(error));
        reference_ += slope_;
        if (position_) {
            firmware.SetPositionReference(reference_);
        } else {
            firmware.SetSpeedReference(reference_);
        }
    }
    std::int64_t LargestError() const { return largestError_; }

  private:
    std::int64_t slope_;
    bool position_;
    std::int64_t reference_ = 0;
    std::int64_t largestError_ = 0;
};

struct FeedForwardCase {
    const char* label;
    bool position;
    std::int64_t slope;
    friend std::ostream& operator<<(std::ostream& out, const FeedForwardCase& row) {
        return out << row.label;
    }
};

class FeedForward : public ::testing::TestWithParam<FeedForwardCase> {};

// A ramp of the reference: with the feed-forward the setup asks for (the ideal acceleration gain
// J CS / (K x counts per radian x Ts_S^2) in speed mode; the speed feed-forward of gain 1 on the
// position over the speed loop), the loop follows with less than a third of the error it makes
// without.
TEST_P(FeedForward, CutsTheFollowingErrorOfARamp) {
    const FeedForwardCase& row = GetParam();
    const drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    std::int64_t largest[2] = {0, 0};
    for (const bool feedForward : {false, true}) {
        const std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
        ASSERT_TRUE(setup);
        ForceParameter(*setup, "BQFilter1", 0);
        ForceParameter(*setup, "BQFilter2", 0);
        ForceParameter(*setup, "PB_C", 2500);
        ASSERT_TRUE(DesignCurrentController(*setup));
        ForceParameter(*setup, "PB_S", 100);
        ASSERT_TRUE(DesignSpeedController(*setup));
        ForceParameter(*setup, "PB_P", 20);
        ASSERT_TRUE(DesignPositionController(*setup));
        const double countsPerRadian = 1048576.0 / (2 * std::numbers::pi);
        const double ideal = motor.TotalInertia_kgm2() * 65472.0 / 33.0 /
                             (motor.torqueConstant_Nm_A * countsPerRadian * 0.0005 * 0.0005);
        ForceParameter(*setup, "KFFA_scl", feedForward && !row.position ? ideal : 0.0);
        ForceParameter(*setup, "KFFS_scl", 1.0);
        ForceParameter(*setup, "SpeedForward", feedForward && row.position ? 1 : 0);
        ComputeDriveRegisters(*setup);
        const std::unique_ptr<drive::SimulatedDrive> axis = DriveFromSetup(*setup, motor);
        axis->AlignElectricAngleToRotor();
        axis->Firmware().SetLoopMode(row.position ? drive::LoopMode::Position
                                                  : drive::LoopMode::Speed);
        ASSERT_TRUE(axis->SwitchOn());
        Ramp ramp(row.slope, row.position);
        axis->AddRoutine(&ramp);
        axis->Advance(0.1);
        axis->RemoveRoutine(&ramp);
        EXPECT_EQ(axis->Firmware().MotionErrors(), 0);
        largest[feedForward ? 1 : 0] = ramp.LargestError();
    }
    EXPECT_GT(largest[0], 0);
    EXPECT_LT(3 * largest[1], largest[0]) << "without " << largest[0] << ", with " << largest[1];
}

INSTANTIATE_TEST_SUITE_P(
    Ramps, FeedForward,
    ::testing::Values(
        // 2 units per period squared: 2 / 83.4 rad/s per 0.5 ms, about 48 rad/s^2.
        FeedForwardCase{"AccelerationInSpeedMode", false, 2},
        // 400 counts per period: about 4.8 rad/s.
        FeedForwardCase{"SpeedInPositionOverSpeed", true, 400}),
    ByLabel());

}  // namespace
