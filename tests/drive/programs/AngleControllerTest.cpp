#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>

#include "engine/BaseScales.h"
#include "engine/RegisterComputation.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/drive/programs/ProgramRun.h"

// The electric angle controller of the motionless start, tuned and tested as the tuning dialog
// does: the gains through the setup's registers, the program's inputs from the setup's test
// parameters, its verdict in "test_flag".
namespace {

// The controller turns the frame by Kp times the rotor's motion in a speed-loop period and Ki
// times its displacement, both in electrical angle units. About the aligned angle the test
// current I makes the torque K I x (the frame's error in radians), so the rotor's electrical
// angle answers the controller as x'' = a (e - (1 + Ki) x - Kp Ts x') with a = pole pairs x K x
// I / J: a spring of a (1 + Ki) damped by a Kp Ts. The design takes the stiffness that lets the
// rotor give way by a twentieth of the frame's first error (Ki = 19) and critical damping.
struct Gains {
    double kp = 0.0;
    double ki = 0.0;
};

constexpr double kStiffness = 19.0;
constexpr double kDamping = 1.0;
// The verdict's tolerance: 10 electrical degrees.
constexpr double kTolerance = 1820.0;

Gains DesignedGains(const drive::MotorData& motor, const CQel_Setup& setup) {
    const double current_A = setup.GetParameterValueInBaseUnit("MAX_CURRENT");
    const double a =
        motor.polePairs * motor.torqueConstant_Nm_A * current_A / motor.TotalInertia_kgm2();
    const double naturalFrequency_rad_s = std::sqrt(a * (1.0 + kStiffness));
    return {2.0 * kDamping * naturalFrequency_rad_s / (a * ComputeSpeedLoopPeriod(setup)),
            kStiffness};
}

// The program's verdicts.
constexpr double kPassed = 1.0;
constexpr double kOverCurrent = -1.0;
constexpr double kNotStabilized = -2.0;
constexpr double kLowCurrent = -3.0;

struct TuningCase {
    const char* label;
    const char* motorFile;
    Gains (*gains)(const Gains& designed);
    double extraFriction_Nm;
    double protection_A;  // 0: the setup's
    double verdict;
    friend std::ostream& operator<<(std::ostream& out, const TuningCase& row) {
        return out << row.label;
    }
};

struct TuningRun {
    ProgramRun run;
    double verdict;
    double goal;
    double finalAngle;
    double shaftMoved_rad;
};

TuningRun RunTuning(const TuningCase& row) {
    drive::MotorData motor = LoadExampleMotor(row.motorFile);
    motor.coulombFriction_Nm += row.extraFriction_Nm;
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    EXPECT_NE(setup, nullptr);
    const Gains gains = row.gains(DesignedGains(motor, *setup));
    ForceParameter(*setup, "Kp_T_scl", gains.kp);
    ForceParameter(*setup, "Ki_T_scl", gains.ki);
    if (row.protection_A > 0.0) {
        ForceParameter(*setup, "Imax_Prot", row.protection_A);
    }
    ComputeDriveRegisters(*setup);
    auto drive = DriveFromSetup(*setup, motor);
    drive->Motor().SetShaftState(kStartShaftAngle_rad, 0.0);
    TuningRun result;
    result.run =
        RunProgram(*drive, "Angle_Controller_Tuning_Test",
                   {{"In1", setup->GetParameterValueInInternalUnit("MAX_CURRENT")},
                    {"ReferenceIncrement", setup->GetParameterValueInInternalUnit("REF_INC")},
                    {"TimeLimit", setup->GetParameterValueInInternalUnit("TIME_LIMIT")}});
    result.verdict = result.run.program->GetVariable("test_flag").value_or(0.0);
    result.goal = result.run.program->GetVariable("theta_1").value_or(0.0);
    result.finalAngle = static_cast<double>(drive->Firmware().ElectricAngle());
    result.shaftMoved_rad = drive->Motor().ShaftAngle_rad();
    return result;
}

class AngleControllerTuning : public ::testing::TestWithParam<TuningCase> {};

// Designed gains settle within the time limit on every motor, the rotor hardly moving (the
// alignment left its d axis on phase A, so the frame's goal is -16384); gains far from the design
// leave the angle off or swinging; friction the test current cannot overcome leaves the rotor
// still; a protection level below the test current stops the test at once.
TEST_P(AngleControllerTuning, GivesTheVerdictTheGainsDeserve) {
    const TuningCase& row = GetParam();
    const TuningRun tuning = RunTuning(row);
    EXPECT_EQ(tuning.verdict, row.verdict);
    if (row.verdict == kOverCurrent) {
        return;
    }
    EXPECT_EQ(tuning.goal, -16384.0);
    if (row.verdict == kPassed) {
        EXPECT_NEAR(tuning.finalAngle, tuning.goal, kTolerance);
    }
}

Gains Designed(const Gains& designed) {
    return designed;
}

INSTANTIATE_TEST_SUITE_P(
    Gains, AngleControllerTuning,
    ::testing::Values(
        TuningCase{"DesignedReferenceMotor", "reference-axis-motor.json", Designed, 0, 0, kPassed},
        TuningCase{"DesignedLargeMotor", "large-motor.json", Designed, 0, 0, kPassed},
        TuningCase{"DesignedSmallDeltaMotor", "small-delta-motor.json", Designed, 0, 0, kPassed},
        // A tenth of the stiffness: the rotor turns a long way onto the field.
        TuningCase{"TooLittleIntegralGain", "reference-axis-motor.json",
                   [](const Gains& g) {
                       return Gains{g.kp, g.ki / 10.0};
                   },
                   0, 0, kNotStabilized},
        // Ten times the damping: the sampled loop turns unstable and the angle swings.
        TuningCase{"TooMuchProportionalGain", "reference-axis-motor.json",
                   [](const Gains& g) {
                       return Gains{10.0 * g.kp, g.ki};
                   },
                   0, 0, kNotStabilized},
        TuningCase{"TooMuchProportionalGainSmallDeltaMotor", "small-delta-motor.json",
                   [](const Gains& g) {
                       return Gains{10.0 * g.kp, g.ki};
                   },
                   0, 0, kNotStabilized},
        // No damping on a frictionless rotor: the angle swings on.
        TuningCase{"NoProportionalGain", "reference-axis-motor.json",
                   [](const Gains& g) {
                       return Gains{0.0, g.ki};
                   },
                   0, 0, kNotStabilized},
        // No gain at all: a flat line while the rotor turns onto the field.
        TuningCase{"NoGain", "large-motor.json", [](const Gains&) { return Gains{}; }, 0, 0,
                   kNotStabilized},
        // 1 N m of friction against the large motor's 0.8 N m at the test current.
        TuningCase{"CurrentTooLowForTheFriction", "large-motor.json", Designed, 1.0, 0,
                   kLowCurrent},
        TuningCase{"ProtectionBelowTheTestCurrent", "reference-axis-motor.json", Designed, 0, 1.0,
                   kOverCurrent}),
    ByLabel());

}  // namespace
