#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <ostream>

#include "drive/SimulatedDrive.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/FirmwareBench.h"
#include "tests/drive/ReferenceDrive.h"

namespace {

using namespace reference_drive;

// The reference axis's drive: 40 MHz clock, 20 kHz PWM, current loop every period, speed loop
// every ten; 48 V bus; 16.5 A converters of 65472 counts (1984 counts per ampere).
constexpr double kBus_V = 48.0;
constexpr double kVoltsPerUnit = 1.1 * kBus_V / 65534.0;

std::int64_t Amperes(double current_A) {
    return std::llround(current_A * kCountsPerAmpere);
}

struct OpenLoopCase {
    const char* label;
    double deadTime_s;
    std::int64_t voltage;
    friend std::ostream& operator<<(std::ostream& out, const OpenLoopCase& row) {
        return out << row.label;
    }
};

class OpenLoopVoltage : public ::testing::TestWithParam<OpenLoopCase> {};

// A voltage command along phase A, rotor aligned with it: the steady current is the modulator's
// volts (1.1 bus voltages per 65534 units) less the dead-time loss, over the resistance. With
// phase A carrying +I and B and C -I/2, each leg loses bus x dead time x PWM frequency, which
// the star point turns into 4/3 of that on the alpha axis. The converters read the current at
// 1984 counts per ampere, in their steps.
TEST_P(OpenLoopVoltage, DrivesTheCurrentTheModulatorAndDeadTimeGive) {
    const OpenLoopCase& row = GetParam();
    const drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    drive::DriveHardware hardware = QuietHardware();
    hardware.deadTime_s = row.deadTime_s;
    drive::SimulatedDrive axis(motor, hardware, CurrentLoopRegisters());
    axis.Firmware().SetLoopMode(drive::LoopMode::VoltageOpenLoop);
    axis.Firmware().SetAngleSource(drive::AngleSource::TestAngle);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetVoltageCommand(row.voltage, 0);
    axis.Advance(0.03);  // fifteen electrical time constants

    const double loss_V = 4.0 / 3.0 * kBus_V * row.deadTime_s * 20000.0;
    const double expected_A =
        (static_cast<double>(row.voltage) * kVoltsPerUnit - loss_V) / motor.phaseResistance_ohm;
    EXPECT_NEAR(axis.Motor().PhaseCurrentA_A(), expected_A, 0.005 * std::fabs(expected_A));
    EXPECT_NEAR(axis.Motor().ShaftAngle_rad(), 0.0, 1e-9);
    axis.RunCurrentLoopPeriods(1);
    EXPECT_NEAR(static_cast<double>(axis.Firmware().PhaseCurrentA()),
                axis.Motor().PhaseCurrentA_A() * kCountsPerAmpere, kConverterStep / 2);
    EXPECT_NEAR(static_cast<double>(axis.Firmware().CurrentD()), expected_A * kCountsPerAmpere,
                0.005 * std::fabs(expected_A) * kCountsPerAmpere + kConverterStep);
    EXPECT_NEAR(static_cast<double>(axis.Firmware().CurrentQ()), 0.0, kConverterStep);
}

INSTANTIATE_TEST_SUITE_P(Modulator, OpenLoopVoltage,
                         ::testing::Values(OpenLoopCase{"NoDeadTime", 0.0, 2500},
                                           OpenLoopCase{"NegativeVoltage", 0.0, -1500},
                                           OpenLoopCase{"OneMicrosecondDeadTime", 1e-6, 2500}),
                         ByLabel());

// Protections: each case arms one, provokes it, and says which bit latches and how many
// speed-loop periods after the cause it must trip (at the earliest and at the latest).
struct ProtectionCase {
    const char* label;
    void (*arm)(drive::DriveRegisters&);
    void (*provoke)(drive::SimulatedDrive&);
    int bit;
    double earliest_s, latest_s;
    friend std::ostream& operator<<(std::ostream& out, const ProtectionCase& row) {
        return out << row.label;
    }
};

void HoldTwoAmperes(drive::SimulatedDrive& axis) {
    axis.Firmware().SetLoopMode(drive::LoopMode::Current);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetCurrentReference(Amperes(2.0), 0);
}

void ChaseDistantPosition(drive::SimulatedDrive& axis) {
    axis.Firmware().SetLoopMode(drive::LoopMode::Position);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetPositionReference(100000);
}

void ChaseDistantSpeed(drive::SimulatedDrive& axis) {
    axis.Firmware().SetLoopMode(drive::LoopMode::Speed);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetSpeedReference(5000);
}

class Protection : public ::testing::TestWithParam<ProtectionCase> {};

TEST_P(Protection, LatchesItsBitAndSwitchesOffInTime) {
    const ProtectionCase& row = GetParam();
    drive::DriveRegisters registers = CurrentLoopRegisters();
    row.arm(registers);
    drive::SimulatedDrive axis(LoadExampleMotor("reference-axis-motor.json"), QuietHardware(),
                               registers);
    row.provoke(axis);
    const double start_s = axis.Time_s();
    while (axis.IsOn() && axis.Time_s() - start_s < 2 * row.latest_s + 0.1) {
        axis.RunCurrentLoopPeriods(1);
    }
    const double tripped_s = axis.Time_s() - start_s;
    EXPECT_FALSE(axis.IsOn());
    EXPECT_EQ(axis.Firmware().MotionErrors(), Bit(row.bit));
    // Times are whole current-loop periods; half a period absorbs their rounding.
    const double margin_s = 0.5 * axis.CurrentLoopPeriod_s();
    EXPECT_GE(tripped_s, row.earliest_s - margin_s);
    EXPECT_LE(tripped_s, row.latest_s + margin_s);
    // A latched error keeps the power stage off until it is cleared.
    EXPECT_FALSE(axis.SwitchOn());
    axis.Firmware().ClearMotionErrors();
    EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
    EXPECT_TRUE(axis.SwitchOn());
}

INSTANTIATE_TEST_SUITE_P(
    Armed, Protection,
    ::testing::Values(
        // 1 A for 20 periods; the current reaches 1 A within a millisecond.
        ProtectionCase{"OverCurrentAfterItsTime",
                       [](drive::DriveRegisters& r) {
                           r.PCR = 1;
                           r.IMAXPROT = Amperes(1.0);
                           r.TIMAXPROT = 20;
                       },
                       HoldTwoAmperes, drive::mer::kShortCircuitBit, 20 * kSpeedLoopPeriod_s,
                       22 * kSpeedLoopPeriod_s + 0.001},
        // Motor I2t: nominal 1 A, 2 A allowed for 1 s: SFI2T = Ts_S 2^26 / 1 s, the limit
        // (2^2 - 1^2) A^2 x 1984^2 / 16.
        ProtectionCase{"MotorI2tAtItsTime",
                       [](drive::DriveRegisters& r) {
                           r.PCR = 2;
                           r.II2TPROT_M = Amperes(1.0);
                           r.SFI2T_M = std::llround(kSpeedLoopPeriod_s * 67108864.0 / 1.0);
                           r.I2TINTLIM_M =
                               std::llround(3.0 * kCountsPerAmpere * kCountsPerAmpere / 16.0);
                       },
                       HoldTwoAmperes, drive::mer::kMotorI2tBit, 0.99, 1.02},
        ProtectionCase{"DriveI2tAtItsTime",
                       [](drive::DriveRegisters& r) {
                           r.PCR = 0x80;
                           r.II2TPROT_D = Amperes(1.0);
                           r.SFI2T_D = std::llround(kSpeedLoopPeriod_s * 67108864.0 / 1.0);
                           r.I2TINTLIM_D =
                               std::llround(3.0 * kCountsPerAmpere * kCountsPerAmpere / 16.0);
                       },
                       HoldTwoAmperes, drive::mer::kDriveI2tBit, 0.99, 1.02},
        // 48 V measured against a 40 V maximum: at the first speed-loop period.
        ProtectionCase{"OverVoltageAtOnce",
                       [](drive::DriveRegisters& r) {
                           r.PCR = 0x10;
                           r.UMAXPROT = std::llround(40.0 / 73.0 * 65472.0);
                       },
                       HoldTwoAmperes, drive::mer::kOverVoltageBit, kSpeedLoopPeriod_s,
                       kSpeedLoopPeriod_s},
        ProtectionCase{"UnderVoltageAtOnce",
                       [](drive::DriveRegisters& r) {
                           r.PCR = 0x20;
                           r.UMINPROT = std::llround(50.0 / 73.0 * 65472.0);
                       },
                       HoldTwoAmperes, drive::mer::kUnderVoltageBit, kSpeedLoopPeriod_s,
                       kSpeedLoopPeriod_s},
        // No position gains: the error stays beyond 100 counts; 10 periods allowed.
        ProtectionCase{"PositionErrorAfterItsTime",
                       [](drive::DriveRegisters& r) {
                           r.ACR = 0x500;
                           r.ERRMAX = 100;
                           r.TERRMAX = 10;
                       },
                       ChaseDistantPosition, drive::mer::kControlErrorBit, 10 * kSpeedLoopPeriod_s,
                       10 * kSpeedLoopPeriod_s},
        ProtectionCase{"SpeedErrorAfterItsTime",
                       [](drive::DriveRegisters& r) {
                           r.ERRMAX = 100;
                           r.SERRMAX = 200;
                           r.TSERRMAX = 40;
                       },
                       ChaseDistantSpeed, drive::mer::kControlErrorBit, 40 * kSpeedLoopPeriod_s,
                       40 * kSpeedLoopPeriod_s}),
    ByLabel());

// 65535 periods switch the error protections off: the same errors run on untouched.
TEST(ErrorProtection, StaysOffWithSixtyFiveThousandFiveHundredThirtyFivePeriods) {
    drive::DriveRegisters registers = CurrentLoopRegisters();
    registers.ACR = 0x500;
    registers.ERRMAX = 100;
    registers.TERRMAX = 65535;
    drive::SimulatedDrive axis(LoadExampleMotor("reference-axis-motor.json"), QuietHardware(),
                               registers);
    ChaseDistantPosition(axis);
    axis.Advance(0.5);
    EXPECT_TRUE(axis.IsOn());
    EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
    EXPECT_EQ(axis.Firmware().PositionError(), 100000);
}

// The bridge's own detection: a phase current beyond the converters' range switches off within
// the period, whatever PCR says.
TEST(ShortCircuit, SwitchesOffWithinThePeriodOfTheExcess) {
    const drive::MotorData motor = LoadExampleMotor("large-motor.json");
    drive::SimulatedDrive axis(motor, QuietHardware(), CurrentLoopRegisters());
    axis.Firmware().SetLoopMode(drive::LoopMode::VoltageOpenLoop);
    axis.Firmware().SetAngleSource(drive::AngleSource::TestAngle);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetVoltageCommand(20000, 0);  // 16 V on 0.25 ohm
    double peak_A = 0.0;
    while (axis.IsOn() && axis.Time_s() < 0.1) {
        axis.RunCurrentLoopPeriods(1);
        peak_A = std::max(peak_A, std::fabs(axis.Motor().PhaseCurrentA_A()));
    }
    EXPECT_FALSE(axis.IsOn());
    EXPECT_EQ(axis.Firmware().MotionErrors(), Bit(drive::mer::kShortCircuitBit));
    // It switched off as the current crossed 16.5 A, not a period later.
    const double slope_A_s = 16.0 / motor.phaseInductance_H;
    EXPECT_LT(peak_A, 16.5 + slope_A_s * axis.PwmPeriod_s());
    // With the bridge open the windings carry no current from the next step on.
    axis.RunCurrentLoopPeriods(1);
    EXPECT_EQ(axis.Motor().PhaseCurrentA_A(), 0.0);
}

struct InputCase {
    const char* label;
    bool enable, positiveLimit, negativeLimit;
    int bit;
    friend std::ostream& operator<<(std::ostream& out, const InputCase& row) {
        return out << row.label;
    }
};

class DigitalInput : public ::testing::TestWithParam<InputCase> {};

// An inactive enable input or an active limit switch stops the motor with its bit, which follows
// the input: clearing the latched errors leaves it, the input's return clears it.
TEST_P(DigitalInput, StopsTheMotorWithItsBitWhileItLasts) {
    const InputCase& row = GetParam();
    drive::SimulatedDrive axis(LoadExampleMotor("reference-axis-motor.json"), QuietHardware(),
                               CurrentLoopRegisters());
    HoldTwoAmperes(axis);
    axis.Advance(0.01);
    axis.SetEnableInput(row.enable);
    axis.SetLimitSwitches(row.positiveLimit, row.negativeLimit);
    axis.RunCurrentLoopPeriods(1);
    EXPECT_FALSE(axis.IsOn());
    EXPECT_EQ(axis.Firmware().MotionErrors(), Bit(row.bit));
    EXPECT_FALSE(axis.SwitchOn());
    axis.Firmware().ClearMotionErrors();
    EXPECT_EQ(axis.Firmware().MotionErrors(), Bit(row.bit));
    axis.SetEnableInput(true);
    axis.SetLimitSwitches(false, false);
    EXPECT_TRUE(axis.SwitchOn());
    EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, DigitalInput,
                         ::testing::Values(InputCase{"EnableInactive", false, false, false,
                                                     drive::mer::kEnableInputBit},
                                           InputCase{"PositiveLimitSwitch", true, true, false,
                                                     drive::mer::kPositiveLimitSwitchBit},
                                           InputCase{"NegativeLimitSwitch", true, false, true,
                                                     drive::mer::kNegativeLimitSwitchBit}),
                         ByLabel());

struct CountingCase {
    const char* label;
    bool encoderReversed;
    std::int64_t countingDirection;
    int sign;  // of the position counter when the shaft turns forward
    friend std::ostream& operator<<(std::ostream& out, const CountingCase& row) {
        return out << row.label;
    }
};

class PositionCounter : public ::testing::TestWithParam<CountingCase> {};

// A shaft turning at a steady speed: the counter moves by the encoder's counts, signed by the
// wiring and COUNTINGDIR; the speed reads counts per speed-loop period; the electrical angle
// advances pole-pairs turns per turn once aligned, forward only when the counter counts forward.
TEST_P(PositionCounter, CountsTheTurnSignedByWiringAndCountingDirection) {
    const CountingCase& row = GetParam();
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.rotorInertia_kgm2 = 1e6;  // a steady speed
    motor.encoder.reversed = row.encoderReversed;
    drive::DriveRegisters registers = CurrentLoopRegisters();
    registers.COUNTINGDIR = row.countingDirection;
    drive::SimulatedDrive axis(motor, QuietHardware(), registers);
    const double speed_rad_s = 10.0;
    axis.Motor().SetShaftState(0.0, speed_rad_s);
    axis.AlignElectricAngleToRotor();
    axis.Advance(0.1);

    const double countsPerRadian = 1048576.0 / (2 * std::numbers::pi);
    const double turned_rad = axis.Motor().ShaftAngle_rad();
    // The counter was sampled at the start of the last period.
    const double sampled_rad = turned_rad - speed_rad_s * axis.CurrentLoopPeriod_s();
    EXPECT_NEAR(static_cast<double>(axis.Firmware().MotorPosition()),
                row.sign * sampled_rad * countsPerRadian, 1.0);
    EXPECT_NEAR(static_cast<double>(axis.Firmware().MotorSpeed()),
                row.sign * speed_rad_s * countsPerRadian * kSpeedLoopPeriod_s, 1.0);
    // Electrical angle, 65536 per electrical turn: the true one when the counter counts forward,
    // its mirror when it counts backward; within one count of the electrical resolution (4096
    // counts a turn, 3 pole pairs: 48 units).
    const double electrical = 3 * sampled_rad / (2 * std::numbers::pi) * 65536.0;
    const double expected = row.sign > 0 ? electrical : -electrical;
    const double difference =
        std::remainder(static_cast<double>(axis.Firmware().ElectricAngle()) - expected, 65536.0);
    EXPECT_NEAR(difference, 0.0, 3 * 65536.0 / 4096 + 1);
}

INSTANTIATE_TEST_SUITE_P(Directions, PositionCounter,
                         ::testing::Values(CountingCase{"Forward", false, 0, 1},
                                           CountingCase{"ReversedWiring", true, 0, -1},
                                           CountingCase{"ReverseCounting", false, 1, -1},
                                           CountingCase{"BothReversed", true, 1, 1}),
                         ByLabel());

TEST(ElectricalResolution, CountsTheTurnAtItsFractionBits) {
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    drive::DriveRegisters registers = CurrentLoopRegisters();
    registers.ELRES_FRACT = 3;
    drive::SimulatedDrive axis(motor, QuietHardware(), registers);
    axis.Motor().SetShaftState(2 * std::numbers::pi + 1e-6, 0.0);
    axis.RunCurrentLoopPeriods(1);
    // 4 x 1024 x 2^3 counts a turn, the interpolator's 8 bits less the 3 kept.
    EXPECT_EQ(axis.Firmware().ElectricalResolutionCount(), 32768);
    EXPECT_EQ(axis.Firmware().MotorPosition(), 1048576);
}

// Many short advances make the same run as one long one, noise included (same seed); another
// seed gives other measurements.
TEST(Advance, ShortStepsAddUpToTheSameRun) {
    const drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    drive::DriveHardware hardware = QuietHardware();
    hardware.currentNoise_A = 0.05;
    const auto run = [&](std::uint64_t seed, int pieces) {
        hardware.noiseSeed = seed;
        auto axis =
            std::make_unique<drive::SimulatedDrive>(motor, hardware, CurrentLoopRegisters());
        axis->Firmware().SetLoopMode(drive::LoopMode::Current);
        EXPECT_TRUE(axis->SwitchOn());
        axis->Firmware().SetCurrentReference(0, Amperes(1.0));
        for (int piece = 0; piece < pieces; ++piece) {
            axis->Advance(1.0 / pieces);
        }
        return axis;
    };
    const auto once = run(7, 1);
    const auto inPieces = run(7, 50);
    const auto otherSeed = run(8, 1);
    EXPECT_EQ(once->CurrentLoopPeriodsRun(), 20000);
    EXPECT_EQ(inPieces->CurrentLoopPeriodsRun(), 20000);
    EXPECT_EQ(once->Motor().ShaftAngle_rad(), inPieces->Motor().ShaftAngle_rad());
    EXPECT_EQ(once->Firmware().MotorPosition(), inPieces->Firmware().MotorPosition());
    EXPECT_NE(once->Motor().ShaftAngle_rad(), otherSeed->Motor().ShaftAngle_rad());
}

struct ChangeCase {
    const char* label;
    // The bus and the PWM period register from the change on.
    double bus_V;
    std::int64_t pwmPeriodRegister;
    friend std::ostream& operator<<(std::ostream& out, const ChangeCase& row) {
        return out << row.label;
    }
};

class ChangeBetweenPeriods : public ::testing::TestWithParam<ChangeCase> {};

// A steady command, then a change of the bus or of the PWM period between two periods: the next
// period runs, from its first step, on the legs a power stage that never ran gives for the
// command at the new bus and PWM frequency (its dead-time loss included), at the new step.
TEST_P(ChangeBetweenPeriods, HoldsFromTheNextPeriodsFirstStep) {
    const ChangeCase& row = GetParam();
    const drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    drive::DriveHardware hardware = QuietHardware();
    hardware.deadTime_s = 1e-6;
    drive::SimulatedDrive axis(motor, hardware, CurrentLoopRegisters());
    axis.Firmware().SetLoopMode(drive::LoopMode::VoltageOpenLoop);
    axis.Firmware().SetAngleSource(drive::AngleSource::TestAngle);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetVoltageCommand(2500, 0);
    axis.RunCurrentLoopPeriods(20);

    axis.SetBusVoltage(row.bus_V);
    ASSERT_TRUE(axis.WriteRegister("PWMPER", static_cast<double>(row.pwmPeriodRegister)));
    // The command of the next period (the same as the last one's), from a copy of the firmware.
    drive::DriveFirmware firmware = axis.Firmware();
    const drive::VoltageCommand command = firmware.Step(drive::FirmwareInputs{});
    ASSERT_NE(command.alpha, 0);
    hardware.busVoltage_V = row.bus_V;
    const drive::BridgeCommand legs =
        drive::PowerStage(hardware).Legs(command, 1.0 / axis.PwmPeriod_s());
    drive::MotorModel expected = axis.Motor();
    const int stepsPerPwmPeriod = hardware.stepsPerPwmPeriod;
    for (int step = 0; step < stepsPerPwmPeriod; ++step) {
        expected.Step(drive::PowerStage::PhaseVoltages(legs, expected.PhaseCurrents_A()),
                      axis.PwmPeriod_s() / stepsPerPwmPeriod);
    }
    axis.RunCurrentLoopPeriods(1);
    EXPECT_EQ(axis.Motor().Current_A().alpha, expected.Current_A().alpha);
    EXPECT_EQ(axis.Motor().Current_A().beta, expected.Current_A().beta);
    EXPECT_EQ(axis.Motor().ShaftAngle_rad(), expected.ShaftAngle_rad());
}

INSTANTIATE_TEST_SUITE_P(BusAndPwm, ChangeBetweenPeriods,
                         ::testing::Values(ChangeCase{"NoChange", kBus_V, 1000},
                                           ChangeCase{"LowerBus", 30.0, 1000},
                                           ChangeCase{"HigherBus", 60.0, 1000},
                                           ChangeCase{"ShorterPwmPeriod", kBus_V, 800},
                                           ChangeCase{"BothChange", 36.0, 1250}),
                         ByLabel());

}  // namespace

namespace {

struct EncoderLinkCase {
    const char* label;
    bool absolute;
    bool linkBroken;
    std::uint16_t errors;  // CER after every operation was tried once
    friend std::ostream& operator<<(std::ostream& out, const EncoderLinkCase& row) {
        return out << row.label;
    }
};

class EncoderLink : public ::testing::TestWithParam<EncoderLinkCase> {};

// Every operation on the absolute encoder that fails sets its own CER bit; a working link
// fails only the read of an offset never written.
TEST_P(EncoderLink, FailedOperationsSetTheirEncoderErrorBits) {
    const EncoderLinkCase& row = GetParam();
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.encoder.absolute = row.absolute;
    drive::SimulatedDrive axis(motor, QuietHardware(), CurrentLoopRegisters());
    axis.SetEncoderLinkBroken(row.linkBroken);
    const bool works = row.absolute && !row.linkBroken;
    EXPECT_EQ(axis.ReadEncoderAlarms().has_value(), works);
    EXPECT_EQ(axis.ResetEncoderAlarms(), works);
    EXPECT_FALSE(axis.ReadEncoderOffset().has_value());
    EXPECT_EQ(axis.WriteEncoderOffset(1234), works);
    EXPECT_EQ(axis.ReadEncoderOffset(), works ? std::optional<std::int64_t>(1234) : std::nullopt);
    EXPECT_EQ(axis.Firmware().EncoderErrors(), row.errors);
    EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
    axis.ResetBoard();
    EXPECT_EQ(axis.Firmware().EncoderErrors(), 0);
}

INSTANTIATE_TEST_SUITE_P(Links, EncoderLink,
                         ::testing::Values(EncoderLinkCase{"AbsoluteEncoder", true, false,
                                                           Bit(drive::cer::kOffsetReadBit)},
                                           EncoderLinkCase{"IncrementalEncoder", false, false,
                                                           0x0F00},
                                           EncoderLinkCase{"BrokenLink", true, true, 0x0F00}),
                         ByLabel());

// The offset written with the rotor's d axis on phase A lets a reset start with the true
// electrical angle wherever the shaft then stands; a wrong offset starts with a wrong angle.
TEST(AbsoluteEncoder, StartsWithTheRotorAngleFromItsStoredOffset) {
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.encoder.absolute = true;
    drive::SimulatedDrive axis(motor, QuietHardware(), CurrentLoopRegisters());
    const std::optional<std::int64_t> atPhaseA = axis.ReadEncoderPosition();
    ASSERT_TRUE(atPhaseA);
    ASSERT_TRUE(axis.WriteEncoderOffset(*atPhaseA));

    const auto angleError = [&](double shaft_rad) {
        axis.Motor().SetShaftState(shaft_rad, 0.0);
        axis.ResetBoard();
        axis.RunCurrentLoopPeriods(1);
        const double electrical = 3 * shaft_rad / (2 * std::numbers::pi) * 65536.0;
        return std::remainder(static_cast<double>(axis.Firmware().ElectricAngle()) - electrical,
                              65536.0);
    };
    // Within one count of the electrical resolution: 48 units.
    for (const double shaft_rad : {1.234, -5.0, 40.0}) {
        EXPECT_NEAR(angleError(shaft_rad), 0.0, 49.0) << shaft_rad;
    }
    ASSERT_TRUE(axis.WriteEncoderOffset(*atPhaseA + 1048576 / 12));  // a quarter electrical turn
    EXPECT_NEAR(std::fabs(angleError(1.234)), 16384.0, 49.0);
}

}  // namespace

namespace {

// A loop's limits and filters, each read from its register: what one register sets, the
// firmware's variable shows after the given number of current-loop periods. The motor is held
// still (a huge inertia) so that only the registers decide.
struct LimitCase {
    const char* label;
    void (*arm)(drive::DriveRegisters&);
    drive::LoopMode mode;
    std::int64_t currentReference, speedReference, positionReference;
    std::int64_t periods;
    std::int64_t (*read)(const drive::DriveFirmware&);
    std::int64_t expected;
    friend std::ostream& operator<<(std::ostream& out, const LimitCase& row) {
        return out << row.label;
    }
};

class LoopLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(LoopLimit, FollowsItsRegister) {
    const LimitCase& row = GetParam();
    drive::DriveRegisters registers;
    registers.KPI = registers.KII = 0;
    row.arm(registers);
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.rotorInertia_kgm2 = 1e6;
    drive::SimulatedDrive axis(motor, QuietHardware(), registers);
    axis.Firmware().SetLoopMode(row.mode);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetCurrentReference(row.currentReference, row.currentReference);
    axis.Firmware().SetSpeedReference(row.speedReference);
    axis.Firmware().SetPositionReference(row.positionReference);
    axis.RunCurrentLoopPeriods(row.periods);
    EXPECT_EQ(row.read(axis.Firmware()), row.expected);
}

std::int64_t VoltageD(const drive::DriveFirmware& firmware) {
    return firmware.VoltageD();
}
std::int64_t VoltageQ(const drive::DriveFirmware& firmware) {
    return firmware.VoltageQ();
}
std::int64_t CurrentReference(const drive::DriveFirmware& firmware) {
    return firmware.CurrentReferenceQ();
}

void HighCurrentGainDifferentSaturations(drive::DriveRegisters& r) {
    r.KPI = 32767;
    r.SFTKPI = 4;
    r.SATID = 32767 - 1000;
    r.SATIQ = 32767 - 3000;
}

void UnitCurrentGainHalfFilter(drive::DriveRegisters& r) {
    r.KPI = 32767;
    r.FILTERQ = 16384;
}

void SpeedIntegralOnly(drive::DriveRegisters& r) {
    r.ACR = 0x300;
    r.KIS = 32767;
    r.SATS = 32767 - 5000;
    r.IMAXS = 32767 - 3000;
}

void PositionIntegralOnly(drive::DriveRegisters& r) {
    r.ACR = 0x500;
    r.KIP = 32767;
    r.SATP = 32767 - 4000;
    r.IMAXP = 32767 - 2000;
}

void PositionDerivativeOnly(drive::DriveRegisters& r) {
    r.ACR = 0x500;
    r.KDP = 32767;
    r.KDFP = 8192;
    r.SATP = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Registers, LoopLimit,
    ::testing::Values(
        LimitCase{"VoltageDStopsAtItsSaturation", HighCurrentGainDifferentSaturations,
                  drive::LoopMode::Current, Amperes(10.0), 0, 0, 5, VoltageD, 1000},
        LimitCase{"VoltageQStopsAtItsSaturation", HighCurrentGainDifferentSaturations,
                  drive::LoopMode::Current, Amperes(10.0), 0, 0, 5, VoltageQ, 3000},
        // The first period's error is the whole reference: u = 500, q about one half.
        LimitCase{"OutputFilterHalvesTheFirstQVoltage", UnitCurrentGainHalfFilter,
                  drive::LoopMode::Current, 500, 0, 0, 1, VoltageQ, 250},
        LimitCase{"OutputFilterLeavesTheDVoltage", UnitCurrentGainHalfFilter,
                  drive::LoopMode::Current, 500, 0, 0, 1, VoltageD, 500},
        // An error of 1000 every speed-loop period: the integral passes 3000 at the third.
        LimitCase{"SpeedIntegralStopsAtItsLimit", SpeedIntegralOnly, drive::LoopMode::Speed, 0,
                  1000, 0, 40, CurrentReference, 3000},
        LimitCase{"SpeedOutputStopsAtItsSaturation",
                  [](drive::DriveRegisters& r) {
                      SpeedIntegralOnly(r);
                      r.IMAXS = 32767 - 6000;
                  },
                  drive::LoopMode::Speed, 0, 1000, 0, 80, CurrentReference, 5000},
        LimitCase{"PositionIntegralStopsAtItsLimit", PositionIntegralOnly,
                  drive::LoopMode::Position, 0, 0, 1000, 40, CurrentReference, 2000},
        LimitCase{"PositionOutputStopsAtItsSaturation",
                  [](drive::DriveRegisters& r) {
                      PositionIntegralOnly(r);
                      r.IMAXP = 0;
                  },
                  drive::LoopMode::Position, 0, 0, 1000, 60, CurrentReference, 4000},
        // The error jumps by 1000 at the first speed-loop period; the derivative filter lets
        // a quarter of it through at once.
        LimitCase{"DerivativeFilterPassesAQuarterOfTheKick", PositionDerivativeOnly,
                  drive::LoopMode::Position, 0, 0, 1000, 10, CurrentReference, 250},
        LimitCase{"UnfilteredDerivativePassesTheWholeKick",
                  [](drive::DriveRegisters& r) {
                      PositionDerivativeOnly(r);
                      r.KDFP = 32767;
                  },
                  drive::LoopMode::Position, 0, 0, 1000, 10, CurrentReference, 1000}),
    ByLabel());

}  // namespace

namespace {

class TestFrame : public ::testing::TestWithParam<const char*> {};

// A voltage on the q axis of a test frame turning at w = TINCTST x 2 pi / (Ts_C x 65536): in that
// frame the windings carry I = j U / (R + j w L) (star equivalents), so d reads U w L / |Z|^2 and
// q reads U R / |Z|^2. The bridge applies each period's voltage from half a period after the
// sample for one period: the currents are seen rotated back by w Ts_C, and the hold weakens the
// voltage by sinc(w Ts_C / 2).
TEST_P(TestFrame, RotatingVoltageDrivesTheCurrentOfTheWindingsImpedance) {
    const drive::MotorData motor = LoadExampleMotor(GetParam());
    drive::SimulatedDrive axis(motor, QuietHardware(), CurrentLoopRegisters());
    drive::DriveFirmware& firmware = axis.Firmware();
    firmware.SetLoopMode(drive::LoopMode::VoltageOpenLoop);
    firmware.SetAngleSource(drive::AngleSource::TestAngle);
    const std::int64_t increment = 1638;  // 500 Hz at 20 kHz
    firmware.SetTestAngleIncrement(increment);
    ASSERT_TRUE(axis.SwitchOn());
    // Currents of about 1200 counts: the converter's 64-count steps, taken at every angle of the
    // turning frame, average out within the 1 %.
    const std::int64_t voltage = 6000;
    firmware.SetVoltageCommand(0, voltage);
    axis.Advance(0.1);
    double sumD = 0.0;
    double sumQ = 0.0;
    const int periods = 400;  // ten turns of the frame
    for (int k = 0; k < periods; ++k) {
        axis.RunCurrentLoopPeriods(1);
        sumD += static_cast<double>(firmware.CurrentD());
        sumQ += static_cast<double>(firmware.CurrentQ());
    }
    const double period_s = axis.CurrentLoopPeriod_s();
    const double w = static_cast<double>(increment) * 2 * std::numbers::pi / (period_s * 65536.0);
    const double lag = w * period_s;
    const double u_V = static_cast<double>(voltage) * kVoltsPerUnit * std::sin(lag / 2) / (lag / 2);
    const double r = motor.TerminalResistance_ohm();
    const double x = w * motor.TerminalInductance_H();
    const double z2 = r * r + x * x;
    // j U / Z rotated back by the lag.
    const double d_A = u_V * (x * std::cos(lag) + r * std::sin(lag)) / z2;
    const double q_A = u_V * (r * std::cos(lag) - x * std::sin(lag)) / z2;
    const double magnitude = std::hypot(d_A, q_A) * kCountsPerAmpere;
    EXPECT_NEAR(sumD / periods, d_A * kCountsPerAmpere, 0.01 * magnitude);
    EXPECT_NEAR(sumQ / periods, q_A * kCountsPerAmpere, 0.01 * magnitude);
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, TestFrame,
                         ::testing::Values("reference-axis-motor.json", "small-delta-motor.json",
                                           "large-motor.json"));

TEST(WriteRegister, ChangesTheRunningFirmwareByName) {
    drive::SimulatedDrive axis(LoadExampleMotor("reference-axis-motor.json"), QuietHardware(),
                               CurrentLoopRegisters());
    HoldTwoAmperes(axis);
    axis.Advance(0.01);
    ASSERT_GT(axis.Firmware().CurrentD(), Amperes(1.9));
    // No voltage left to the d axis: the d current decays to nothing.
    EXPECT_TRUE(axis.WriteRegister("satid", 32767));
    EXPECT_EQ(axis.Registers().SATID, 32767);
    axis.Advance(0.02);
    EXPECT_EQ(axis.Firmware().VoltageD(), 0);
    EXPECT_NEAR(static_cast<double>(axis.Firmware().CurrentD()), 0.0, 2.0);
    EXPECT_FALSE(axis.WriteRegister("NO_SUCH_REGISTER", 1));
    EXPECT_EQ(axis.Registers().SATIQ, 2621);
}

}  // namespace

namespace {

using firmware_bench::Bench;
using firmware_bench::kUnitMantissa;
using firmware_bench::kUnitShift;
using firmware_bench::SaturationFor;

// Every loop structure against each of its limits, count for count: the firmware alone on the
// bench, with gains of exactly one, so that the limited quantity would be exactly the value the
// row drives. At the limit the value passes whole; one count past it (either sign) it is clipped
// to the limit; one count inside it passes untouched. The other limits of each row lie far
// narrower or far wider, so that a limit read from the wrong register shows.
struct ExactLimitCase {
    const char* label;
    void (*arm)(drive::DriveRegisters&);
    drive::LoopMode mode;
    std::int64_t limit;
    // Runs the loops so that the limited quantity, unbounded, would be this value.
    void (*drive)(Bench&, std::int64_t value);
    std::int64_t (*read)(const drive::DriveFirmware&);
    friend std::ostream& operator<<(std::ostream& out, const ExactLimitCase& row) {
        return out << row.label;
    }
};

// A limit far narrower than any row's, and one wider than all.
constexpr std::int64_t kNarrow = 100;
constexpr std::int64_t kWide = 32767;
// What the integral rows put in at their first period; their second period adds the rest.
constexpr std::int64_t kFirstIntegralStep = 1000;

void UnitCurrentGain(drive::DriveRegisters& r) {
    r.KPI = kUnitMantissa;
    r.SFTKPI = kUnitShift;
}
void UnitCurrentIntegral(drive::DriveRegisters& r) {
    r.KII = kUnitMantissa;
    r.SFTKII = kUnitShift;
}
void UnitSpeedGain(drive::DriveRegisters& r) {
    r.KPS = kUnitMantissa;
    r.SFTKPS = kUnitShift;
}
void UnitSpeedIntegral(drive::DriveRegisters& r) {
    r.KIS = kUnitMantissa;
    r.SFTKIS = kUnitShift;
}
void UnitPositionGain(drive::DriveRegisters& r) {
    r.KPP = kUnitMantissa;
    r.SFTKPP = kUnitShift;
}
void UnitPositionIntegral(drive::DriveRegisters& r) {
    r.KIP = kUnitMantissa;
    r.SFTKIP = kUnitShift;
}

// The current error (the measured currents are 0) for one current-loop period, or for two that
// integrate to the value.
void CurrentQOnce(Bench& bench, std::int64_t value) {
    bench.Firmware().SetCurrentReference(0, value);
    bench.Period();
}
void CurrentDOnce(Bench& bench, std::int64_t value) {
    bench.Firmware().SetCurrentReference(value, 0);
    bench.Period();
}
void CurrentQTwice(Bench& bench, std::int64_t value) {
    CurrentQOnce(bench, kFirstIntegralStep);
    CurrentQOnce(bench, value - kFirstIntegralStep);
}
void CurrentDTwice(Bench& bench, std::int64_t value) {
    CurrentDOnce(bench, kFirstIntegralStep);
    CurrentDOnce(bench, value - kFirstIntegralStep);
}
// The speed error (the encoder stands still) for one speed-loop period, or two.
void SpeedOnce(Bench& bench, std::int64_t value) {
    bench.Firmware().SetSpeedReference(value);
    bench.SpeedLoopPeriod();
}
void SpeedTwice(Bench& bench, std::int64_t value) {
    SpeedOnce(bench, kFirstIntegralStep);
    SpeedOnce(bench, value - kFirstIntegralStep);
}
// The position error (the axis stands at 0) for one speed-loop period, or two.
void PositionOnce(Bench& bench, std::int64_t value) {
    bench.Firmware().SetPositionReference(value);
    bench.SpeedLoopPeriod();
}
void PositionTwice(Bench& bench, std::int64_t value) {
    PositionOnce(bench, kFirstIntegralStep);
    PositionOnce(bench, value - kFirstIntegralStep);
}
// FFL 500 x KFFL 32768 / 32768 adds exactly 500 to the q current reference.
constexpr std::int64_t kGravity = 500;
void CurrentQWithGravity(Bench& bench, std::int64_t value) {
    CurrentQOnce(bench, value - kGravity);
}

std::int64_t ReadVoltageD(const drive::DriveFirmware& firmware) {
    return firmware.VoltageD();
}
std::int64_t ReadVoltageQ(const drive::DriveFirmware& firmware) {
    return firmware.VoltageQ();
}
std::int64_t ReadCurrentReference(const drive::DriveFirmware& firmware) {
    return firmware.CurrentReferenceQ();
}
std::int64_t ReadSpeedReference(const drive::DriveFirmware& firmware) {
    return firmware.SpeedReference();
}

class ExactLoopLimit : public ::testing::TestWithParam<ExactLimitCase> {
  protected:
    // The limited quantity after a fresh start that drives it toward the value.
    static std::int64_t Run(const ExactLimitCase& row, std::int64_t value) {
        drive::DriveRegisters registers;
        row.arm(registers);
        Bench bench(registers);
        bench.Start(row.mode);
        row.drive(bench, value);
        return row.read(bench.Firmware());
    }
};

TEST_P(ExactLoopLimit, ReachesItsLimitAndNoMore) {
    const ExactLimitCase& row = GetParam();
    EXPECT_EQ(Run(row, row.limit), row.limit);
    EXPECT_EQ(Run(row, -row.limit), -row.limit);
    EXPECT_EQ(Run(row, row.limit - 1), row.limit - 1);
    EXPECT_EQ(Run(row, 1 - row.limit), 1 - row.limit);
}

TEST_P(ExactLoopLimit, ClipsOneCountPastItsLimit) {
    const ExactLimitCase& row = GetParam();
    EXPECT_EQ(Run(row, row.limit + 1), row.limit);
    EXPECT_EQ(Run(row, -row.limit - 1), -row.limit);
}

INSTANTIATE_TEST_SUITE_P(
    CurrentLoop, ExactLoopLimit,
    ::testing::Values(
        ExactLimitCase{"QVoltageAtSATIQ",
                       [](drive::DriveRegisters& r) {
                           UnitCurrentGain(r);
                           r.SATIQ = SaturationFor(3000);
                           r.SATID = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Current, 3000, CurrentQOnce, ReadVoltageQ},
        ExactLimitCase{"DVoltageAtSATID",
                       [](drive::DriveRegisters& r) {
                           UnitCurrentGain(r);
                           r.SATID = SaturationFor(2000);
                           r.SATIQ = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Current, 2000, CurrentDOnce, ReadVoltageD},
        ExactLimitCase{"QIntegralAtSATIQ",
                       [](drive::DriveRegisters& r) {
                           UnitCurrentIntegral(r);
                           r.SATIQ = SaturationFor(3000);
                           r.SATID = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Current, 3000, CurrentQTwice, ReadVoltageQ},
        ExactLimitCase{"DIntegralAtSATID",
                       [](drive::DriveRegisters& r) {
                           UnitCurrentIntegral(r);
                           r.SATID = SaturationFor(2000);
                           r.SATIQ = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Current, 2000, CurrentDTwice, ReadVoltageD},
        // Without ACR bit 9 SATP bounds the q current reference, with it SATS.
        ExactLimitCase{"CurrentReferenceAtSATP",
                       [](drive::DriveRegisters& r) {
                           r.ACR = firmware_bench::kAcrCurrent;
                           r.SATP = SaturationFor(4000);
                           r.SATS = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Current, 4000, CurrentQOnce, ReadCurrentReference},
        ExactLimitCase{"CurrentReferenceAtSATSWithTheSpeedLoopBit",
                       [](drive::DriveRegisters& r) {
                           r.ACR = firmware_bench::kAcrSpeed;
                           r.SATS = SaturationFor(4500);
                           r.SATP = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Current, 4500, CurrentQOnce, ReadCurrentReference},
        ExactLimitCase{"CurrentReferenceWithGravityAtSATP",
                       [](drive::DriveRegisters& r) {
                           r.ACR = firmware_bench::kAcrCurrent;
                           r.FFL = kGravity;
                           r.KFFL = 32768;
                           r.SATP = SaturationFor(4000);
                           r.SATS = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Current, 4000, CurrentQWithGravity, ReadCurrentReference}),
    ByLabel());

void SpeedLoop(drive::DriveRegisters& r) {
    r.ACR = firmware_bench::kAcrSpeed;
}
void FastSpeedLoop(drive::DriveRegisters& r) {
    SpeedLoop(r);
    r.UPGRADE = firmware_bench::kUpgradeFastLoop;
}
void SpeedGainAtSats(drive::DriveRegisters& r) {
    UnitSpeedGain(r);
    r.SATS = SaturationFor(5000);
    r.IMAXS = SaturationFor(kWide);
    r.SATP = SaturationFor(kNarrow);
}
void SpeedIntegralAtImaxs(drive::DriveRegisters& r) {
    UnitSpeedIntegral(r);
    r.IMAXS = SaturationFor(3000);
    r.SATS = SaturationFor(kWide);
    r.SATP = SaturationFor(kNarrow);
    r.IMAXP = SaturationFor(kNarrow);
}

INSTANTIATE_TEST_SUITE_P(
    SpeedLoop, ExactLoopLimit,
    ::testing::Values(
        ExactLimitCase{"CurrentAtSATS",
                       [](drive::DriveRegisters& r) {
                           SpeedLoop(r);
                           SpeedGainAtSats(r);
                       },
                       drive::LoopMode::Speed, 5000, SpeedOnce, ReadCurrentReference},
        ExactLimitCase{"IntegralAtIMAXS",
                       [](drive::DriveRegisters& r) {
                           SpeedLoop(r);
                           SpeedIntegralAtImaxs(r);
                       },
                       drive::LoopMode::Speed, 3000, SpeedTwice, ReadCurrentReference},
        ExactLimitCase{"FastLoopCurrentAtSATS",
                       [](drive::DriveRegisters& r) {
                           FastSpeedLoop(r);
                           SpeedGainAtSats(r);
                       },
                       drive::LoopMode::Speed, 5000, SpeedOnce, ReadCurrentReference},
        ExactLimitCase{"FastLoopIntegralAtIMAXS",
                       [](drive::DriveRegisters& r) {
                           FastSpeedLoop(r);
                           SpeedIntegralAtImaxs(r);
                       },
                       drive::LoopMode::Speed, 3000, SpeedTwice, ReadCurrentReference},
        // A speed loop run without ACR bit 9 leaves SATP bounding the current.
        ExactLimitCase{"CurrentAtSATPWithoutTheSpeedLoopBit",
                       [](drive::DriveRegisters& r) {
                           r.ACR = firmware_bench::kAcrCurrent;
                           UnitSpeedGain(r);
                           r.SATP = SaturationFor(3500);
                           r.SATS = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Speed, 3500, SpeedOnce, ReadCurrentReference}),
    ByLabel());

void PositionOverSpeed(drive::DriveRegisters& r) {
    r.ACR = firmware_bench::kAcrPositionOverSpeed;
}
void FastPositionOverSpeed(drive::DriveRegisters& r) {
    PositionOverSpeed(r);
    r.UPGRADE = firmware_bench::kUpgradeFastLoop;
}
// The position loop's output, a speed reference, at SATP; SATS, which bounds the current, is
// narrow and must not bound it.
void SpeedReferenceAtSatp(drive::DriveRegisters& r) {
    UnitPositionGain(r);
    r.SATP = SaturationFor(1500);
    r.IMAXP = SaturationFor(kWide);
    r.SATS = SaturationFor(kNarrow);
}
void PositionIntegralAtImaxp(drive::DriveRegisters& r) {
    UnitPositionIntegral(r);
    r.IMAXP = SaturationFor(1200);
    r.SATP = SaturationFor(kWide);
    r.SATS = SaturationFor(kNarrow);
}
void CurrentAtSatsBehindThePositionLoop(drive::DriveRegisters& r) {
    UnitPositionGain(r);
    UnitSpeedGain(r);
    r.SATP = SaturationFor(kWide);
    r.SATS = SaturationFor(2500);
    r.IMAXS = SaturationFor(kNarrow);
}
void SpeedIntegralAtImaxsBehindThePositionLoop(drive::DriveRegisters& r) {
    UnitPositionGain(r);
    UnitSpeedIntegral(r);
    r.SATP = SaturationFor(kWide);
    r.SATS = SaturationFor(kWide);
    r.IMAXS = SaturationFor(1800);
    r.IMAXP = SaturationFor(kNarrow);
}

INSTANTIATE_TEST_SUITE_P(
    PositionOverSpeedLoop, ExactLoopLimit,
    ::testing::Values(
        ExactLimitCase{"SpeedReferenceAtSATP",
                       [](drive::DriveRegisters& r) {
                           PositionOverSpeed(r);
                           SpeedReferenceAtSatp(r);
                       },
                       drive::LoopMode::Position, 1500, PositionOnce, ReadSpeedReference},
        // The reference's own speed (the jump of the target) times KFFS, with no gain on the
        // error: the feed-forward lies inside SATP too.
        ExactLimitCase{"SpeedFeedForwardAtSATP",
                       [](drive::DriveRegisters& r) {
                           PositionOverSpeed(r);
                           r.ACR |= firmware_bench::kAcrSpeedFeedForward;
                           r.KFFS = kUnitMantissa;
                           r.SFTSFFW = kUnitShift;
                           r.SATP = SaturationFor(1500);
                           r.SATS = SaturationFor(kNarrow);
                       },
                       drive::LoopMode::Position, 1500, PositionOnce, ReadSpeedReference},
        ExactLimitCase{"PositionIntegralAtIMAXP",
                       [](drive::DriveRegisters& r) {
                           PositionOverSpeed(r);
                           PositionIntegralAtImaxp(r);
                       },
                       drive::LoopMode::Position, 1200, PositionTwice, ReadSpeedReference},
        ExactLimitCase{"CurrentAtSATS",
                       [](drive::DriveRegisters& r) {
                           PositionOverSpeed(r);
                           CurrentAtSatsBehindThePositionLoop(r);
                       },
                       drive::LoopMode::Position, 2500, PositionOnce, ReadCurrentReference},
        ExactLimitCase{"SpeedIntegralAtIMAXS",
                       [](drive::DriveRegisters& r) {
                           PositionOverSpeed(r);
                           SpeedIntegralAtImaxsBehindThePositionLoop(r);
                       },
                       drive::LoopMode::Position, 1800, PositionTwice, ReadCurrentReference},
        ExactLimitCase{"FastLoopSpeedReferenceAtSATP",
                       [](drive::DriveRegisters& r) {
                           FastPositionOverSpeed(r);
                           SpeedReferenceAtSatp(r);
                       },
                       drive::LoopMode::Position, 1500, PositionOnce, ReadSpeedReference},
        ExactLimitCase{"FastLoopPositionIntegralAtIMAXP",
                       [](drive::DriveRegisters& r) {
                           FastPositionOverSpeed(r);
                           PositionIntegralAtImaxp(r);
                       },
                       drive::LoopMode::Position, 1200, PositionTwice, ReadSpeedReference},
        ExactLimitCase{"FastLoopCurrentAtSATS",
                       [](drive::DriveRegisters& r) {
                           FastPositionOverSpeed(r);
                           CurrentAtSatsBehindThePositionLoop(r);
                       },
                       drive::LoopMode::Position, 2500, PositionOnce, ReadCurrentReference},
        ExactLimitCase{"FastLoopSpeedIntegralAtIMAXS",
                       [](drive::DriveRegisters& r) {
                           FastPositionOverSpeed(r);
                           SpeedIntegralAtImaxsBehindThePositionLoop(r);
                       },
                       drive::LoopMode::Position, 1800, PositionTwice, ReadCurrentReference}),
    ByLabel());

void PositionPid(drive::DriveRegisters& r) {
    r.ACR = firmware_bench::kAcrPositionPid;
}
void FastPositionPid(drive::DriveRegisters& r) {
    PositionPid(r);
    r.UPGRADE = firmware_bench::kUpgradeFastLoop;
}
// Without a speed loop the PID's output is the current reference, bounded by SATP.
void PidCurrentAtSatp(drive::DriveRegisters& r) {
    UnitPositionGain(r);
    r.SATP = SaturationFor(4000);
    r.IMAXP = SaturationFor(kWide);
    r.SATS = SaturationFor(kNarrow);
}
void PidIntegralAtImaxp(drive::DriveRegisters& r) {
    UnitPositionIntegral(r);
    r.IMAXP = SaturationFor(2000);
    r.SATP = SaturationFor(kWide);
    r.SATS = SaturationFor(kNarrow);
    r.IMAXS = SaturationFor(kNarrow);
}

INSTANTIATE_TEST_SUITE_P(PositionPid, ExactLoopLimit,
                         ::testing::Values(ExactLimitCase{"CurrentAtSATP",
                                                          [](drive::DriveRegisters& r) {
                                                              PositionPid(r);
                                                              PidCurrentAtSatp(r);
                                                          },
                                                          drive::LoopMode::Position, 4000,
                                                          PositionOnce, ReadCurrentReference},
                                           ExactLimitCase{"IntegralAtIMAXP",
                                                          [](drive::DriveRegisters& r) {
                                                              PositionPid(r);
                                                              PidIntegralAtImaxp(r);
                                                          },
                                                          drive::LoopMode::Position, 2000,
                                                          PositionTwice, ReadCurrentReference},
                                           ExactLimitCase{"FastLoopCurrentAtSATP",
                                                          [](drive::DriveRegisters& r) {
                                                              FastPositionPid(r);
                                                              PidCurrentAtSatp(r);
                                                          },
                                                          drive::LoopMode::Position, 4000,
                                                          PositionOnce, ReadCurrentReference},
                                           ExactLimitCase{"FastLoopIntegralAtIMAXP",
                                                          [](drive::DriveRegisters& r) {
                                                              FastPositionPid(r);
                                                              PidIntegralAtImaxp(r);
                                                          },
                                                          drive::LoopMode::Position, 2000,
                                                          PositionTwice, ReadCurrentReference}),
                         ByLabel());

}  // namespace

namespace {

// Inputs far beyond what a converter or a counter gives (a shaft run away under an absurd load, a
// power stage with a current scale of no sensible value): the firmware saturates them where it
// reads them, and every loop runs on without overflowing.
struct RunawayInputCase {
    const char* label;
    std::int64_t encoderCount;
    std::array<std::int64_t, 2> phaseCurrents;
    std::int64_t position;
    std::int64_t speed;
    std::array<std::int64_t, 2> measuredCurrents;
    friend std::ostream& operator<<(std::ostream& out, const RunawayInputCase& row) {
        return out << row.label;
    }
};

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kPositionLimit = std::int64_t{1} << 61;
constexpr std::int64_t kSpeedLimit = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kCurrentLimit = std::int64_t{1} << 20;

class RunawayInput : public ::testing::TestWithParam<RunawayInputCase> {};

TEST_P(RunawayInput, SaturatesWhereTheFirmwareReadsIt) {
    const RunawayInputCase& row = GetParam();
    drive::DriveRegisters registers = reference_drive::CurrentLoopRegisters();
    registers.ACR = firmware_bench::kAcrPositionOverSpeed;
    Bench bench(registers);
    bench.Start(drive::LoopMode::Position);
    bench.SpeedLoopPeriod();
    bench.Inputs().encoderCount = row.encoderCount;
    bench.Inputs().phaseCurrents = row.phaseCurrents;
    bench.SpeedLoopPeriod();
    EXPECT_EQ(bench.Firmware().MotorSpeed(), row.speed);
    for (int period = 0; period < 3; ++period) {
        EXPECT_EQ(bench.Firmware().MotorPosition(), row.position);
        EXPECT_EQ(bench.Firmware().PhaseCurrentA(), row.measuredCurrents[0]);
        EXPECT_EQ(bench.Firmware().PhaseCurrentB(), row.measuredCurrents[1]);
        bench.SpeedLoopPeriod();
    }
    // The position stands still after the jump: only the first speed-loop period saw it move.
    bench.Inputs().encoderCount = 0;
    bench.SpeedLoopPeriod();
    EXPECT_EQ(bench.Firmware().MotorSpeed(), -row.speed);
}

INSTANTIATE_TEST_SUITE_P(
    Extremes, RunawayInput,
    ::testing::Values(
        RunawayInputCase{"CountForward", kInt64Max, {0, 0}, kPositionLimit, kSpeedLimit, {0, 0}},
        RunawayInputCase{"CountBackward", kInt64Min, {0, 0}, -kPositionLimit, -kSpeedLimit, {0, 0}},
        RunawayInputCase{
            "CurrentsApart", 0, {kInt64Min, kInt64Max}, 0, 0, {-kCurrentLimit, kCurrentLimit}},
        RunawayInputCase{"Everything",
                         kInt64Min,
                         {kInt64Max, kInt64Min},
                         -kPositionLimit,
                         -kSpeedLimit,
                         {kCurrentLimit, -kCurrentLimit}}),
    ByLabel());

}  // namespace
