#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>

#include "drive/SimulatedDrive.h"
#include "drive/programs/TestProgram.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"

// The analogue reference input: the potentiometer's voltage through the drive's 10-bit converter,
// the firmware's dead band, filter and scaling, and the loops it drives when ACR says so.
namespace {

// ACR bit 6 takes the references from the analogue input; bits 8 to 10 select the loops.
constexpr std::int64_t kAnalogueReference = 0x40;
constexpr std::int64_t kTorqueControl = 0x100;
constexpr std::int64_t kSpeedControl = 0x300;
constexpr std::int64_t kPositionControl = 0x500;

drive::DriveHardware BipolarInput() {
    drive::DriveHardware hardware;
    hardware.deadTime_s = 0.0;
    hardware.analogueInputSpan_V = 20.0;
    hardware.analogueInputLowest_V = -10.0;
    return hardware;
}

drive::DriveHardware UnipolarInput() {
    drive::DriveHardware hardware = BipolarInput();
    hardware.analogueInputSpan_V = 10.0;
    hardware.analogueInputLowest_V = 0.0;
    return hardware;
}

// A motor that does not move: only the registers decide what the firmware computes.
drive::MotorData HeldMotor() {
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.rotorInertia_kgm2 = 1e6;
    return motor;
}

// Runs whole current-loop periods up to and including the next one that runs the speed loop,
// where the firmware takes the analogue reference.
void RunSpeedLoopPeriod(drive::SimulatedDrive& axis) {
    while (!axis.Firmware().IsSpeedLoopDue()) {
        axis.RunCurrentLoopPeriods(1);
    }
    axis.RunCurrentLoopPeriods(1);
}

struct ConverterCase {
    const char* label;
    drive::DriveHardware (*hardware)();
    double input_V;
    std::int64_t counts;
    friend std::ostream& operator<<(std::ostream& out, const ConverterCase& row) {
        return out << row.label;
    }
};

class AnalogueConverter : public ::testing::TestWithParam<ConverterCase> {};

// The input's span over the converter's 65472 counts, in steps of 64 (its 10 bits), clipped at
// both ends: 2.5 V of +-10 V is 12.5 / 20 of the range, 639.4 steps, read as 639.
TEST_P(AnalogueConverter, ReadsTheVoltageInItsStepsOverTheInputsSpan) {
    const ConverterCase& row = GetParam();
    drive::DriveRegisters registers;
    registers.ACR = kTorqueControl | kAnalogueReference;
    drive::SimulatedDrive axis(HeldMotor(), row.hardware(), registers);
    axis.SetAnalogueInput(row.input_V);
    axis.RunCurrentLoopPeriods(1);
    EXPECT_EQ(axis.Firmware().AnalogueInput(), row.counts);
}

INSTANTIATE_TEST_SUITE_P(
    Voltages, AnalogueConverter,
    ::testing::Values(ConverterCase{"BipolarLowestEnd", BipolarInput, -10.0, 0},
                      ConverterCase{"BipolarHighestEnd", BipolarInput, 10.0, 65472},
                      ConverterCase{"BipolarWithin", BipolarInput, 2.5, 40896},
                      ConverterCase{"BipolarBelowTheRange", BipolarInput, -12.0, 0},
                      ConverterCase{"UnipolarWithin", UnipolarInput, 3.0, 19648},
                      ConverterCase{"UnipolarAboveTheRange", UnipolarInput, 11.0, 65472},
                      ConverterCase{"UnipolarBelowTheRange", UnipolarInput, -1.0, 0}),
    ByLabel());

struct ReferenceCase {
    const char* label;
    double input_V;
    std::int64_t deadBandCentre, deadBandHalfWidth;
    std::int64_t gain, shift, offset;
    std::int64_t reference;
    friend std::ostream& operator<<(std::ostream& out, const ReferenceCase& row) {
        return out << row.label;
    }
};

class AnalogueReference : public ::testing::TestWithParam<ReferenceCase> {};

// AD5OFF + CADIN x 2^SFTADIN x input / 32768 on the +-10 V input, the input within E_LEVEL_AD5 of
// LEVEL_AD5 reading as LEVEL_AD5: 2.5 V (40896 counts) at a gain of 16384 is 20448 above the
// offset; 0.05 V (32896) lies in a band of 328 about 32736 and reads as 32736, 0.2 V (33408) does
// not.
TEST_P(AnalogueReference, IsTheOffsetPlusTheScaledInputOutsideTheDeadBand) {
    const ReferenceCase& row = GetParam();
    drive::DriveRegisters registers;
    registers.ACR = kTorqueControl | kAnalogueReference;
    registers.LEVEL_AD5 = row.deadBandCentre;
    registers.E_LEVEL_AD5 = row.deadBandHalfWidth;
    registers.CADIN = row.gain;
    registers.SFTADIN = row.shift;
    registers.AD5OFF = row.offset;
    drive::SimulatedDrive axis(HeldMotor(), BipolarInput(), registers);
    axis.SetAnalogueInput(row.input_V);
    RunSpeedLoopPeriod(axis);
    EXPECT_EQ(axis.Firmware().AnalogueReference(), row.reference);
}

INSTANTIATE_TEST_SUITE_P(
    Registers, AnalogueReference,
    ::testing::Values(ReferenceCase{"LowestEndIsTheOffset", -10.0, 0, 0, 16384, 0, -1000, -1000},
                      ReferenceCase{"HighestEndIsTheSpan", 10.0, 0, 0, 16384, 0, -1000, 31736},
                      ReferenceCase{"Within", 2.5, 0, 0, 16384, 0, -1000, 19448},
                      ReferenceCase{"NegativeGainRunsDown", 2.5, 0, 0, -16384, 0, 5000, -15448},
                      // 10000 x 4 x 19648 (-4 V) / 32768, rounded.
                      ReferenceCase{"ShiftMultiplies", -4.0, 0, 0, 10000, 2, 0, 23984},
                      ReferenceCase{"InsideTheDeadBand", 0.05, 32736, 328, 16384, 0, 0, 16368},
                      ReferenceCase{"BeyondTheDeadBand", 0.2, 32736, 328, 16384, 0, 0, 16704}),
    ByLabel());

// FILTER1 of 16384 takes half of the way to the input every speed-loop period: 20448 after the
// gain, 10224 after one period, 15336 after two.
TEST(AnalogueReferenceFilter, TakesItsShareOfTheWayEverySpeedLoopPeriod) {
    drive::DriveRegisters registers;
    registers.ACR = kTorqueControl | kAnalogueReference;
    registers.FILTER1 = 16384;
    registers.CADIN = 16384;
    drive::SimulatedDrive axis(HeldMotor(), BipolarInput(), registers);
    axis.SetAnalogueInput(2.5);
    RunSpeedLoopPeriod(axis);
    EXPECT_EQ(axis.Firmware().AnalogueReference(), 10224);
    RunSpeedLoopPeriod(axis);
    EXPECT_EQ(axis.Firmware().AnalogueReference(), 15336);
    for (int period = 0; period < 30; ++period) {
        RunSpeedLoopPeriod(axis);
    }
    EXPECT_EQ(axis.Firmware().AnalogueReference(), 20448);
}

struct LoopCase {
    const char* label;
    std::int64_t loops;
    std::int64_t (*reference)(const drive::DriveFirmware&);
    friend std::ostream& operator<<(std::ostream& out, const LoopCase& row) {
        return out << row.label;
    }
};

class ExternalReference : public ::testing::TestWithParam<LoopCase> {};

// With ACR bit 6 the loop the ACR bits close follows the potentiometer: the reference turns with
// it; without the bit the input is not even converted and the host's reference stays.
TEST_P(ExternalReference, TheConfiguredLoopFollowsThePotentiometer) {
    const LoopCase& row = GetParam();
    drive::DriveRegisters registers;
    registers.ACR = row.loops | kAnalogueReference;
    registers.CADIN = 16384;
    registers.AD5OFF = -16000;
    drive::SimulatedDrive axis(HeldMotor(), BipolarInput(), registers);
    ASSERT_TRUE(axis.SwitchOn());
    for (const double input_V : {2.5, -6.0}) {
        axis.SetAnalogueInput(input_V);
        RunSpeedLoopPeriod(axis);
        const std::int64_t analogue = axis.Firmware().AnalogueReference();
        EXPECT_EQ(row.reference(axis.Firmware()), analogue) << input_V << " V";
    }
    EXPECT_EQ(axis.Firmware().AnalogueReference(), -16000 + 6560);

    registers.ACR = row.loops;
    drive::SimulatedDrive plain(HeldMotor(), BipolarInput(), registers);
    plain.Firmware().SetCurrentReference(0, 700);
    plain.Firmware().SetSpeedReference(700);
    ASSERT_TRUE(plain.SwitchOn());
    plain.Firmware().SetPositionReference(700);
    plain.SetAnalogueInput(2.5);
    RunSpeedLoopPeriod(plain);
    EXPECT_EQ(plain.Firmware().AnalogueInput(), 0);
    EXPECT_EQ(row.reference(plain.Firmware()), 700);
}

INSTANTIATE_TEST_SUITE_P(
    Loops, ExternalReference,
    ::testing::Values(LoopCase{"Torque", kTorqueControl,
                               [](const drive::DriveFirmware& f) { return f.CurrentReferenceQ(); }},
                      LoopCase{"Speed", kSpeedControl,
                               [](const drive::DriveFirmware& f) { return f.SpeedReference(); }},
                      LoopCase{
                          "Position", kPositionControl,
                          [](const drive::DriveFirmware& f) { return f.PositionReference(); }}),
    ByLabel());

// A program sets the references itself while it runs; once stopped, the analogue input has the
// loops again. The analogue reference test converts the input whatever ACR says, and only while
// it runs.
TEST(AnalogueReferenceTest, ConvertsTheInputOnlyWhileItRunsAndKeepsTheLoopsFromIt) {
    drive::DriveRegisters registers;
    registers.ACR = kSpeedControl | kAnalogueReference;
    drive::SimulatedDrive external(HeldMotor(), BipolarInput(), registers);
    const auto program = drive::CreateTestProgram("Analogue_Reference_Test");
    ASSERT_NE(program, nullptr);
    program->Start(external);
    EXPECT_EQ(external.Firmware().GetReferenceSource(), drive::ReferenceSource::Host);
    program->Stop(external);
    EXPECT_EQ(external.Firmware().GetReferenceSource(), drive::ReferenceSource::AnalogueInput);

    registers.ACR = kSpeedControl;
    drive::SimulatedDrive axis(HeldMotor(), BipolarInput(), registers);
    axis.SetAnalogueInput(2.5);
    program->Start(axis);
    axis.Advance(0.02);
    EXPECT_EQ(*program->GetVariable("STARTED"), 1.0);
    EXPECT_TRUE(program->IsRunning());
    EXPECT_FALSE(axis.IsOn());
    EXPECT_EQ(axis.Firmware().AnalogueInput(), 40896);
    program->Stop(axis);
    axis.SetAnalogueInput(-10.0);
    axis.Advance(0.02);
    EXPECT_EQ(axis.Firmware().AnalogueInput(), 40896);
}

}  // namespace
