#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <ostream>
#include <vector>

#include "drive/SimulatedDrive.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/ReferenceDrive.h"

namespace {

using namespace reference_drive;

// The reference axis's drive: 20 kHz current loop, 48 V bus, 1984 converter counts per ampere,
// 65534 modulator units for 1.1 bus voltages of phase amplitude.
constexpr double kVoltsPerUnit = 1.1 * 48.0 / 65534.0;
// The reference motor's 1024-line encoder read with 8 interpolation bits.
constexpr double kCountsPerTurn = 4.0 * 1024.0 * 256.0;
// Electrical angles: 65536 per turn.
constexpr double kAngleUnitsPerRadian = 65536.0 / (2.0 * std::numbers::pi);
// Friction that no test current can break away from: the rotor stays where it is.
constexpr double kHoldingFriction_Nm = 100.0;

// The measured phase currents in amperes; phase C from the other two, as the drive gets it.
std::array<double, 3> MeasuredPhaseCurrents_A(const drive::SimulatedDrive& axis) {
    const double a_A = static_cast<double>(axis.Firmware().PhaseCurrentA()) / kCountsPerAmpere;
    const double b_A = static_cast<double>(axis.Firmware().PhaseCurrentB()) / kCountsPerAmpere;
    return {a_A, b_A, -a_A - b_A};
}

// A voltage vector at a fixed angle of the stator frame, applied in open loop, the rotor held.
void ApplyVoltageVector(drive::SimulatedDrive& axis, std::int64_t voltage, double angle_rad) {
    axis.Firmware().SetLoopMode(drive::LoopMode::VoltageOpenLoop);
    axis.Firmware().SetAngleSource(drive::AngleSource::TestAngle);
    axis.Firmware().SetTestAngle(std::llround(angle_rad * kAngleUnitsPerRadian));
    axis.Firmware().SetTestAngleIncrement(0);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetVoltageCommand(voltage, 0);
}

struct VectorCase {
    const char* label;
    std::optional<drive::Fault> fault;
    // The terminal whose lead is cut (0, 1, 2 for A, B, C), if any.
    std::optional<std::size_t> openPhase;
    friend std::ostream& operator<<(std::ostream& out, const VectorCase& row) {
        return out << row.label;
    }
};

class VoltageVectorWithFault : public ::testing::TestWithParam<VectorCase> {};

// A vector of 2500 units at 10 degrees drives a current in every phase of a sound motor: each
// phase's share of the vector over R. With one lead cut the other two phases form one circuit of
// 2R across their line voltage, and the cut phase reads nothing. Exchanged leads at standstill
// are invisible: the windings are alike, so the terminals carry the sound currents. Mending the
// wiring brings the sound currents back.
TEST_P(VoltageVectorWithFault, MeasuresThePhaseCurrentsTheWiringCarries) {
    const VectorCase& row = GetParam();
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.coulombFriction_Nm = kHoldingFriction_Nm;
    drive::SimulatedDrive axis(motor, drive::DriveHardware{}, CurrentLoopRegisters());
    if (row.fault) {
        axis.InjectFault(*row.fault);
    }
    constexpr std::int64_t kVoltage = 2500;
    constexpr double kAngle_rad = 10.0 * std::numbers::pi / 180.0;
    ApplyVoltageVector(axis, kVoltage, kAngle_rad);
    axis.Advance(0.03);  // fifteen electrical time constants

    const double amplitude_V = kVoltage * kVoltsPerUnit;
    std::array<double, 3> phase_V{};
    std::array<double, 3> sound_A{};
    for (std::size_t phase = 0; phase < 3; ++phase) {
        phase_V[phase] = amplitude_V * std::cos(kAngle_rad - 2.0 * std::numbers::pi / 3.0 *
                                                                 static_cast<double>(phase));
        sound_A[phase] = phase_V[phase] / motor.phaseResistance_ohm;
    }
    std::array<double, 3> expected_A = sound_A;
    if (row.openPhase) {
        const std::size_t first = (*row.openPhase + 1) % 3;
        const std::size_t second = (*row.openPhase + 2) % 3;
        expected_A[*row.openPhase] = 0.0;
        expected_A[first] = (phase_V[first] - phase_V[second]) / (2.0 * motor.phaseResistance_ohm);
        expected_A[second] = -expected_A[first];
    }
    // The converters' 64-count steps (half a step on phases A and B, twice that on phase C, which
    // the drive takes from the other two), plus the dead-time-free modulator's half a percent.
    const double tolerance_A = kConverterStep / kCountsPerAmpere + 0.005 * std::fabs(sound_A[0]);
    const std::array<double, 3> measured_A = MeasuredPhaseCurrents_A(axis);
    for (std::size_t phase = 0; phase < 3; ++phase) {
        EXPECT_NEAR(measured_A[phase], expected_A[phase], tolerance_A) << "phase " << phase;
    }
    EXPECT_NEAR(axis.Motor().ShaftAngle_rad(), 0.0, 1e-12);

    axis.ClearFaults();
    axis.Advance(0.03);
    const std::array<double, 3> mended_A = MeasuredPhaseCurrents_A(axis);
    for (std::size_t phase = 0; phase < 3; ++phase) {
        EXPECT_NEAR(mended_A[phase], sound_A[phase], tolerance_A) << "phase " << phase;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Wiring, VoltageVectorWithFault,
    ::testing::Values(VectorCase{"Sound", std::nullopt, std::nullopt},
                      VectorCase{"PhaseAOpen", drive::Fault::DisconnectedPhaseA, 0},
                      VectorCase{"PhaseBOpen", drive::Fault::DisconnectedPhaseB, 1},
                      VectorCase{"PhaseCOpen", drive::Fault::DisconnectedPhaseC, 2},
                      VectorCase{"PhasesBCSwapped", drive::Fault::SwappedPhasesBC, std::nullopt}),
    ByLabel());

struct SequenceCase {
    const char* label;
    std::vector<drive::Fault> injected;
    bool clearedAfterwards;
    // +1: the field and the currents turn with the rotor, -1: against it.
    int expectedSense;
    friend std::ostream& operator<<(std::ostream& out, const SequenceCase& row) {
        return out << row.label;
    }
};

class PhaseSequence : public ::testing::TestWithParam<SequenceCase> {};

drive::SimulatedDrive AxisWith(const drive::MotorData& motor, const SequenceCase& row) {
    drive::SimulatedDrive axis(motor, drive::DriveHardware{}, CurrentLoopRegisters());
    for (const drive::Fault fault : row.injected) {
        axis.InjectFault(fault);
    }
    if (row.clearedAfterwards) {
        axis.ClearFaults();
    }
    return axis;
}

// A field the drive turns forward (ten electrical turns a second) pulls the free rotor along:
// forward through sound leads, backward through exchanged ones, which the encoder counts.
TEST_P(PhaseSequence, RotatingFieldTurnsTheRotorInTheWiringsSense) {
    const SequenceCase& row = GetParam();
    drive::SimulatedDrive axis = AxisWith(LoadExampleMotor("reference-axis-motor.json"), row);
    ApplyVoltageVector(axis, 2500, 0.0);
    axis.Firmware().SetTestAngleIncrement(65536 / 2000);
    axis.Advance(0.3);

    const double turned = static_cast<double>(axis.Firmware().MotorPosition()) / kCountsPerTurn;
    // Three turns of the field and three pole pairs: one turn of the shaft, give or take the
    // rotor's lag behind the field.
    EXPECT_NEAR(turned, row.expectedSense * 1.0, 0.2);
}

// The shaft turned forward by hand (an inertia too large to slow down) with the bridge holding
// zero volts: the back-EMF drives the currents. Their measured vector turns with the rotor
// through sound leads and against it through exchanged ones.
TEST_P(PhaseSequence, BackEmfCurrentsTurnInTheWiringsSense) {
    const SequenceCase& row = GetParam();
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.loadInertia_kgm2 = 1.0;
    drive::SimulatedDrive axis = AxisWith(motor, row);
    axis.Motor().SetShaftState(0.0, 50.0);
    ApplyVoltageVector(axis, 0, 0.0);
    axis.Advance(0.01);  // five electrical time constants

    double swept = 0.0;  // the measured current vector's turn, summed as cross products
    std::array<double, 2> last{};
    for (int period = 0; period < 100; ++period) {
        axis.RunCurrentLoopPeriods(1);
        const std::array<double, 3> current_A = MeasuredPhaseCurrents_A(axis);
        const std::array<double, 2> now = {current_A[0],
                                           (current_A[0] + 2.0 * current_A[1]) / std::sqrt(3.0)};
        if (period > 0) {
            swept += last[0] * now[1] - last[1] * now[0];
        }
        last = now;
    }
    // 150 electrical rad/s over 5 ms sweeps 0.75 rad of a current vector near 1.3 A: a cross
    // product sum near 1.3 A^2; a tenth of it is a clear sense.
    EXPECT_GT(row.expectedSense * swept, 0.1);
}

INSTANTIATE_TEST_SUITE_P(
    Wiring, PhaseSequence,
    ::testing::Values(SequenceCase{"Sound", {}, false, 1},
                      SequenceCase{"PhasesBCSwapped", {drive::Fault::SwappedPhasesBC}, false, -1},
                      SequenceCase{"SwapMended", {drive::Fault::SwappedPhasesBC}, true, 1}),
    ByLabel());

struct EncoderCase {
    const char* label;
    std::vector<drive::Fault> injected;
    // Counts per count of a sound encoder: 1 following the shaft, 0 holding, -1 backwards.
    int expectedSense;
    friend std::ostream& operator<<(std::ostream& out, const EncoderCase& row) {
        return out << row.label;
    }
};

class EncoderChannels : public ::testing::TestWithParam<EncoderCase> {};

// Turns the shaft by hand, the power stage off, for a tenth of a second, stops it and lets the
// drive sample it at rest; the angle turned.
double TurnByHand(drive::SimulatedDrive& axis) {
    const double start_rad = axis.Motor().ShaftAngle_rad();
    axis.SetExternalTorque(0.02);
    axis.Advance(0.1);
    axis.SetExternalTorque(0.0);
    axis.Motor().SetShaftState(axis.Motor().ShaftAngle_rad(), 0.0);
    axis.RunCurrentLoopPeriods(1);
    return axis.Motor().ShaftAngle_rad() - start_rad;
}

// The position counter follows the shaft with both channels, holds still without either and
// runs backwards with the two exchanged. Mended, the counter follows the shaft again from where
// it was, the turn it missed or counted backwards lost to it.
TEST_P(EncoderChannels, CounterFollowsTheShaftOnlyWithBothChannels) {
    const EncoderCase& row = GetParam();
    const drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    drive::SimulatedDrive axis(motor, drive::DriveHardware{}, CurrentLoopRegisters());
    axis.RunCurrentLoopPeriods(1);
    for (const drive::Fault fault : row.injected) {
        axis.InjectFault(fault);
    }
    constexpr double kCountsPerRadian = kCountsPerTurn / (2.0 * std::numbers::pi);
    const std::int64_t before = axis.Firmware().MotorPosition();
    const double turned_rad = TurnByHand(axis);
    ASSERT_GT(turned_rad, 0.5);
    EXPECT_NEAR(static_cast<double>(axis.Firmware().MotorPosition() - before),
                row.expectedSense * turned_rad * kCountsPerRadian, 2.0);

    axis.ClearFaults();
    const std::int64_t held = axis.Firmware().MotorPosition();
    const double turnedSince_rad = TurnByHand(axis);
    EXPECT_NEAR(static_cast<double>(axis.Firmware().MotorPosition() - held),
                turnedSince_rad * kCountsPerRadian, 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Wiring, EncoderChannels,
    ::testing::Values(
        EncoderCase{"BothChannels", {}, 1},
        EncoderCase{"ChannelAMissing", {drive::Fault::MissingEncoderChannelA}, 0},
        EncoderCase{"ChannelBMissing", {drive::Fault::MissingEncoderChannelB}, 0},
        EncoderCase{"BothMissing",
                    {drive::Fault::MissingEncoderChannelA, drive::Fault::MissingEncoderChannelB},
                    0},
        EncoderCase{"ChannelsSwapped", {drive::Fault::SwappedEncoderChannels}, -1},
        EncoderCase{"SwappedAndOneMissing",
                    {drive::Fault::SwappedEncoderChannels, drive::Fault::MissingEncoderChannelA},
                    0}),
    ByLabel());

struct ShortCase {
    const char* label;
    bool injectedWhileOn;
    bool mendedBeforeSwitchingOn;
    bool trips;
    friend std::ostream& operator<<(std::ostream& out, const ShortCase& row) {
        return out << row.label;
    }
};

class ShortCircuit : public ::testing::TestWithParam<ShortCase> {};

// A short trips the bridge's detection as soon as the bridge switches into it: the short-circuit
// bit latches and the power stage is off. It cannot be switched on again until the error is
// cleared, and once short and error are gone it stays on.
TEST_P(ShortCircuit, TripsTheBridgeOnceItSwitches) {
    const ShortCase& row = GetParam();
    drive::SimulatedDrive axis(LoadExampleMotor("reference-axis-motor.json"),
                               drive::DriveHardware{}, CurrentLoopRegisters());
    axis.Firmware().SetLoopMode(drive::LoopMode::Current);
    if (row.injectedWhileOn) {
        ASSERT_TRUE(axis.SwitchOn());
        axis.RunCurrentLoopPeriods(1);
    }
    axis.InjectFault(drive::Fault::ShortCircuit);
    if (row.mendedBeforeSwitchingOn) {
        axis.ClearFaults();
    }
    if (!row.injectedWhileOn) {
        axis.RunCurrentLoopPeriods(1);
        EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
        ASSERT_TRUE(axis.SwitchOn());
    }
    axis.RunCurrentLoopPeriods(1);

    EXPECT_EQ(axis.IsOn(), !row.trips);
    EXPECT_EQ(axis.Firmware().MotionErrors(),
              row.trips ? Bit(drive::mer::kShortCircuitBit) : std::uint16_t{0});
    if (!row.trips) {
        return;
    }
    EXPECT_FALSE(axis.SwitchOn());
    axis.ClearFaults();
    axis.Firmware().ClearMotionErrors();
    ASSERT_TRUE(axis.SwitchOn());
    axis.RunCurrentLoopPeriods(10);
    EXPECT_TRUE(axis.IsOn());
    EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
}

INSTANTIATE_TEST_SUITE_P(Bridge, ShortCircuit,
                         ::testing::Values(ShortCase{"WhileSwitchedOn", true, false, true},
                                           ShortCase{"BeforeSwitchingOn", false, false, true},
                                           ShortCase{"MendedBeforeSwitchingOn", false, true,
                                                     false}),
                         ByLabel());

}  // namespace
