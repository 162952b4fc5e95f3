#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <ostream>

#include "engine/BaseScales.h"
#include "host/kernel/KernelFunctions.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/drive/programs/ProgramRun.h"

// Each identification program runs on a simulated axis whose motor the program knows nothing of;
// the test applies the module's formulas to what the programs return, as the test dialogs do, and
// compares with the motor file's values.
namespace {

// The value the module reads as "the program produced nothing".
constexpr double kNoValue = 1.2345e100;
// Angle units per electrical turn in the module's frequency formula (its divisor is 65535).
constexpr double kFrequencyDivisor = 65535.0;

struct MotorCase {
    const char* label;
    const char* motorFile;
    double bus_V;
    double currentNoise_A;
    double resistanceTolerance;
    double inductanceTolerance;
    friend std::ostream& operator<<(std::ostream& out, const MotorCase& row) {
        return out << row.label;
    }
};

// A drive running the motor from its setup's registers, with the bus at busVoltage_V.
std::unique_ptr<drive::SimulatedDrive> MakeDrive(const CQel_Setup& setup,
                                                 const drive::MotorData& motor,
                                                 double currentNoise_A, double busVoltage_V) {
    drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(setup);
    EXPECT_TRUE(loaded.missing.empty());
    loaded.hardware.currentNoise_A = currentNoise_A;
    loaded.hardware.noiseSeed = 7;
    loaded.hardware.busVoltage_V = busVoltage_V;
    auto drive = std::make_unique<drive::SimulatedDrive>(motor, loaded.hardware, loaded.registers);
    drive->Motor().SetShaftState(kStartShaftAngle_rad, 0.0);
    return drive;
}

struct Identified {
    double resistance_ohm = 0.0;
    double inductance_H = 0.0;
    double busVoltage_V = 0.0;
};

// Two positionings and resistance runs at the test current and half of it (the first logged at
// the speed-loop rate, the second at the current-loop rate, as the test dialog logs them), then
// the inductance run, with the module's formulas.
Identified IdentifyResistanceAndInductance(CQel_Setup& setup, drive::SimulatedDrive& drive) {
    const auto testCurrent =
        static_cast<std::int64_t>(setup.GetParameterValueInInternalUnit("TestCurrent"));
    Identified result;

    const ProgramRun first =
        RunProgram(drive, "Initial_Positioning_Test", {{"In1", double(testCurrent)}});
    EXPECT_GT(*first.program->GetVariable("In1"), 0.0);
    const ProgramRun resistance1 =
        RunProgram(drive, "Ident_R_or_Rs",
                   {{"RefTest", *first.program->GetDriveVariable("REFTST_V")},
                    {"RIncTest", *first.program->GetDriveVariable("RINCTST_V")},
                    {"In1", double(testCurrent)}},
                   LogRate::SpeedLoop);
    const double u1 = resistance1.program->GetDriveVariable("var_i1").value_or(kNoValue);
    const double i1 = HostMean(resistance1.q);

    const std::int64_t halfCurrent = testCurrent / 2;
    const ProgramRun second =
        RunProgram(drive, "Initial_Positioning_Test", {{"In1", double(halfCurrent)}});
    EXPECT_GT(*second.program->GetVariable("In1"), 0.0);
    const ProgramRun resistance2 =
        RunProgram(drive, "Ident_R_or_Rs",
                   {{"RefTest", *second.program->GetDriveVariable("REFTST_V")},
                    {"RIncTest", *second.program->GetDriveVariable("RINCTST_V")},
                    {"In1", double(halfCurrent)}});
    const double u2 = resistance2.program->GetDriveVariable("var_i1").value_or(kNoValue);
    const double busRaw = resistance2.program->GetDriveVariable("var_u2").value_or(kNoValue);
    const double i2 = HostMean(resistance2.q);

    result.busVoltage_V = setup.GetParameterValueInBaseUnit("VdcMaxMeasurable") * busRaw /
                          static_cast<double>(Compute_ADCMaxValue(setup));
    EXPECT_TRUE(setup.SetParameterValueInBaseUnit("Vdc", result.busVoltage_V));
    const double ki = ComputeCurrentScale(setup);
    const double ku = ComputeMotorVoltageScale(setup);
    result.resistance_ohm = (u1 - u2) / (i1 - i2) / ku * ki;

    const ProgramRun inductance =
        RunProgram(drive, "Ident_L_or_Tau_el", {{"In1", double(testCurrent)}});
    const double ua = inductance.program->GetDriveVariable("var_i1").value_or(kNoValue);
    const auto n = static_cast<double>(drive.Firmware().TestAngleIncrement());
    std::vector<double> squares;
    for (std::size_t index = 0; index < inductance.d.size(); ++index) {
        squares.push_back(inductance.d[index] * inductance.d[index] +
                          inductance.q[index] * inductance.q[index]);
    }
    const double md = HostMean(inductance.d);
    const double ms = HostMean(squares);
    const double omega =
        n * 2.0 * std::numbers::pi / (ComputeCurrentLoopPeriod(setup) * kFrequencyDivisor);
    result.inductance_H = md * ua / (omega * ms) * ki / ku;
    if (setup.GetParameterValueInBaseUnit("MotorPhaseConnectionType") == 1.0) {
        result.resistance_ohm *= 3.0;
        result.inductance_H *= 3.0;
    }
    return result;
}

// The reference axis's bus is 48 V; the drive's true bus differs so that the measurement counts.
constexpr double kTrueBus_V = 45.5;
// The small delta motor's own bench.
constexpr double kSmallBench_V = 24.0;

class ResistanceAndInductance : public ::testing::TestWithParam<MotorCase> {};

TEST_P(ResistanceAndInductance, FormulasOnTheProgramsResultsGiveTheMotorsValues) {
    const MotorCase& row = GetParam();
    const drive::MotorData motor = LoadExampleMotor(row.motorFile);
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = MakeDrive(*setup, motor, row.currentNoise_A, row.bus_V);

    const Identified found = IdentifyResistanceAndInductance(*setup, *drive);

    EXPECT_NEAR(found.resistance_ohm, motor.phaseResistance_ohm,
                row.resistanceTolerance * motor.phaseResistance_ohm);
    EXPECT_NEAR(found.inductance_H, motor.phaseInductance_H,
                row.inductanceTolerance * motor.phaseInductance_H);
    EXPECT_FALSE(drive->IsOn());
}

constexpr double kExact = 0.01;
// A tenth of the converter's step.
constexpr double kLoggedCurrentTolerance = 0.1;
constexpr double kNoisy = 0.05;
constexpr double kNoise_A = 0.02;

INSTANTIATE_TEST_SUITE_P(
    ExampleMotors, ResistanceAndInductance,
    ::testing::Values(
        MotorCase{"ReferenceMotor", "reference-axis-motor.json", kTrueBus_V, 0.0, kExact, kExact},
        MotorCase{"LargeMotor", "large-motor.json", kTrueBus_V, 0.0, kExact, kExact},
        MotorCase{"LoadTorqueMotor", "load-torque-motor.json", kTrueBus_V, 0.0, kExact, kExact},
        MotorCase{"SmallDeltaMotor", "small-delta-motor.json", kTrueBus_V, 0.0, kExact, kExact},
        // On the motor's own bench, as a user runs it.
        MotorCase{"SmallDeltaMotorOnItsBench", "small-delta-motor.json", kSmallBench_V, 0.0, kExact,
                  kExact},
        MotorCase{"ReferenceMotorNoisy", "reference-axis-motor.json", kTrueBus_V, kNoise_A, kNoisy,
                  kNoisy},
        MotorCase{"LargeMotorNoisy", "large-motor.json", kTrueBus_V, kNoise_A, kNoisy, kNoisy},
        MotorCase{"SmallDeltaMotorNoisy", "small-delta-motor.json", kTrueBus_V, kNoise_A, kNoisy,
                  kNoisy}),
    ByLabel{});

// The resistance program's logged current, measured in the converter's whole steps, is the
// current that truly flows: the resistance rests on the difference of two such means, which is
// far smaller than the currents themselves.
struct BenchCase {
    const char* label;
    const char* motorFile;
    double bus_V;
    friend std::ostream& operator<<(std::ostream& out, const BenchCase& row) {
        return out << row.label;
    }
};

class ResistanceCurrent : public ::testing::TestWithParam<BenchCase> {};

TEST_P(ResistanceCurrent, LoggedMeanIsTheTrueCurrent) {
    const BenchCase& row = GetParam();
    const drive::MotorData motor = LoadExampleMotor(row.motorFile);
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = MakeDrive(*setup, motor, 0.0, row.bus_V);
    const double step_A =
        static_cast<double>(drive->Power().Hardware().adcStep) / drive->Power().CurrentScale();
    const auto testCurrent =
        static_cast<std::int64_t>(setup->GetParameterValueInInternalUnit("TestCurrent"));
    for (const std::int64_t current : {testCurrent, testCurrent / 2}) {
        const ProgramRun positioning =
            RunProgram(*drive, "Initial_Positioning_Test", {{"In1", double(current)}});
        const ProgramRun run =
            RunProgram(*drive, "Ident_R_or_Rs",
                       {{"RefTest", *positioning.program->GetDriveVariable("REFTST_V")},
                        {"RIncTest", *positioning.program->GetDriveVariable("RINCTST_V")},
                        {"In1", double(current)}});
        ASSERT_FALSE(run.q.empty());
        const double logged_A = HostMean(run.q) / drive->Power().CurrentScale();
        EXPECT_NEAR(logged_A, HostMean(run.phaseA_A), kLoggedCurrentTolerance * step_A) << current;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ExampleMotors, ResistanceCurrent,
    ::testing::Values(BenchCase{"ReferenceMotor", "reference-axis-motor.json", kTrueBus_V},
                      BenchCase{"LargeMotor", "large-motor.json", kTrueBus_V},
                      BenchCase{"LoadTorqueMotor", "load-torque-motor.json", kTrueBus_V},
                      BenchCase{"SmallDeltaMotorOnItsBench", "small-delta-motor.json",
                                kSmallBench_V}),
    ByLabel{});

struct BusCase {
    const char* label;
    double bus_V;
};

class BusVoltage : public ::testing::TestWithParam<BusCase> {};

TEST_P(BusVoltage, DetectionProgramGivesTheTrueBusVoltage) {
    const drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = MakeDrive(*setup, motor, 0.0, GetParam().bus_V);

    const ProgramRun run = RunProgram(*drive, "VDC_Detection_Test", {});

    const double raw = run.program->GetDriveVariable("var_u2").value_or(kNoValue);
    const double bus_V = raw / ComputeDCBusVoltageScale(*setup);
    EXPECT_NEAR(bus_V, GetParam().bus_V, 0.005 * GetParam().bus_V);
}

INSTANTIATE_TEST_SUITE_P(Supplies, BusVoltage,
                         ::testing::Values(BusCase{"Low", 14.0}, BusCase{"Nominal", 48.0},
                                           BusCase{"High", 70.0}),
                         ByLabel{});

struct PositioningCase {
    const char* label;
    double current;
    bool enableInput;
    bool reachesCurrent;
};

class Positioning : public ::testing::TestWithParam<PositioningCase> {};

TEST_P(Positioning, ReturnsTheCurrentReachedOrZero) {
    const drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = MakeDrive(*setup, motor, 0.0, kTrueBus_V);
    drive->SetEnableInput(GetParam().enableInput);
    drive->Advance(kPollPeriod_s);

    auto program = drive::CreateTestProgram("Initial_Positioning_Test");
    ASSERT_NE(program, nullptr);
    program->SetVariable("In1", GetParam().current);
    program->Start(*drive);
    drive->Advance(kLongestRun_s);

    EXPECT_EQ(*program->GetVariable("STARTED"), 1.0);
    EXPECT_FALSE(drive->IsOn());
    const double reached = *program->GetVariable("In1");
    if (GetParam().reachesCurrent) {
        EXPECT_NEAR(reached, GetParam().current, 0.01 * GetParam().current);
        EXPECT_NEAR(std::remainder(drive->Motor().ElectricalAngle_rad(), 2.0 * std::numbers::pi),
                    0.0, 0.01);
    } else {
        EXPECT_EQ(reached, 0.0);
    }
    const bool enableBit =
        (drive->Firmware().MotionErrors() & (1u << drive::mer::kEnableInputBit)) != 0;
    EXPECT_EQ(enableBit, !GetParam().enableInput);
}

INSTANTIATE_TEST_SUITE_P(Inputs, Positioning,
                         ::testing::Values(PositioningCase{"TestCurrent", 3472.0, true, true},
                                           PositioningCase{"ZeroCurrent", 0.0, true, false},
                                           PositioningCase{"EnableInputOff", 3472.0, false, false}),
                         ByLabel{});

}  // namespace
