#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <ostream>

#include "drive/EncoderModel.h"
#include "drive/MotorModel.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"

namespace {

// Fine steps for the physics: the known answers below are continuous-time ones.
constexpr double kStep_s = 1e-6;
// 1 - 1/e: one time constant of a first-order step.
constexpr double kOneTimeConstant = 1.0 - 0.36787944117144233;

const char* const kMotorFiles[] = {"reference-axis-motor.json", "small-delta-motor.json",
                                   "large-motor.json"};

class EveryMotor : public ::testing::TestWithParam<const char*> {};

// A voltage along phase A with the rotor's d axis on phase A makes no torque: the current rises
// in the terminals' RL circuit, whose time constant is L/R of the star equivalent (the same for
// a delta, whose R and L both divide by 3) and whose final value is V over the star resistance.
TEST_P(EveryMotor, CurrentRisesWithTheTerminalTimeConstant) {
    const drive::MotorData data = LoadExampleMotor(GetParam());
    drive::MotorModel motor(data);
    const double voltage_V = 2.0;
    const double resistance_ohm = data.connection == drive::PhaseConnection::Delta
                                      ? data.phaseResistance_ohm / 3
                                      : data.phaseResistance_ohm;
    const double final_A = voltage_V / resistance_ohm;
    const double tau_s = data.phaseInductance_H / data.phaseResistance_ohm;

    double previous_A = 0.0;
    double time_s = 0.0;
    double crossing_s = -1.0;
    while (time_s < 10 * tau_s) {
        motor.Step({voltage_V, 0.0}, kStep_s);
        time_s += kStep_s;
        const double current_A = motor.PhaseCurrentA_A();
        if (crossing_s < 0 && current_A >= kOneTimeConstant * final_A) {
            crossing_s = time_s - kStep_s * (current_A - kOneTimeConstant * final_A) /
                                      (current_A - previous_A);
        }
        previous_A = current_A;
    }
    EXPECT_NEAR(crossing_s, tau_s, 0.01 * tau_s);
    EXPECT_NEAR(motor.PhaseCurrentA_A(), final_A, 1e-4 * final_A);
    EXPECT_NEAR(motor.PhaseCurrentB_A(), -final_A / 2, 1e-4 * final_A);
    EXPECT_NEAR(motor.ShaftSpeed_rad_s(), 0.0, 1e-12);
}

// Shorted windings on a rotor turning at a steady speed carry the back-EMF current:
// |i| = E / |R + j w L| with E = pole pairs x speed x flux and the flux from the torque constant.
TEST_P(EveryMotor, ShortedWindingsCarryTheBackEmfCurrent) {
    drive::MotorData data = LoadExampleMotor(GetParam());
    data.rotorInertia_kgm2 = 1e6;  // the shaft keeps its speed whatever the braking
    drive::MotorModel motor(data);
    const double speed_rad_s = 50.0;
    motor.SetShaftState(0.0, speed_rad_s);
    const double resistance_ohm = data.TerminalResistance_ohm();
    const double inductance_H = data.TerminalInductance_H();
    for (double time_s = 0; time_s < 20 * inductance_H / resistance_ohm; time_s += kStep_s) {
        motor.Step({0.0, 0.0}, kStep_s);
    }
    const double electricalSpeed_rad_s = data.polePairs * speed_rad_s;
    const double emf_V = electricalSpeed_rad_s * data.torqueConstant_Nm_A / (1.5 * data.polePairs);
    const double expected_A =
        emf_V / std::hypot(resistance_ohm, electricalSpeed_rad_s * inductance_H);
    const drive::AlphaBeta current = motor.Current_A();
    EXPECT_NEAR(std::hypot(current.alpha, current.beta), expected_A, 0.01 * expected_A);
    // The current brakes: its torque opposes the motion.
    EXPECT_LT(motor.ElectricalTorque_Nm(), 0.0);
}

// A torque on the shaft with no current and no friction accelerates the total inertia.
TEST_P(EveryMotor, AcceleratesAtTorqueOverTotalInertia) {
    drive::MotorData data = LoadExampleMotor(GetParam());
    data.viscousFriction_Nms_rad = 0.0;
    data.coulombFriction_Nm = 0.0;
    drive::MotorModel motor(data);
    const double torque_Nm = 0.05;
    motor.SetExternalTorque(torque_Nm);
    const double duration_s = 0.1;
    for (int step = 0; step < 100000; ++step) {
        motor.StepOpenCircuit(duration_s / 100000);
    }
    const double acceleration = torque_Nm / (data.rotorInertia_kgm2 + data.loadInertia_kgm2);
    EXPECT_NEAR(motor.ShaftSpeed_rad_s(), acceleration * duration_s,
                0.01 * acceleration * duration_s);
    EXPECT_NEAR(motor.ShaftAngle_rad(), 0.5 * acceleration * duration_s * duration_s,
                0.01 * 0.5 * acceleration * duration_s * duration_s);
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, EveryMotor, ::testing::ValuesIn(kMotorFiles),
                         [](const ::testing::TestParamInfo<const char*>& row) {
                             std::string name;
                             for (const char* c = row.param; *c != '.'; ++c) {
                                 if (*c != '-') {
                                     name += *c;
                                 }
                             }
                             return name;
                         });

struct FrictionCase {
    const char* label;
    double torque_Nm, coulomb_Nm, load_Nm;
    double startSpeed_rad_s;
    double endSpeed_rad_s;  // after 0.2 s, with an inertia of 1e-3 kgm^2
    friend std::ostream& operator<<(std::ostream& out, const FrictionCase& row) {
        return out << row.label;
    }
};

class Friction : public ::testing::TestWithParam<FrictionCase> {};

TEST_P(Friction, AcceleratesWithWhatFrictionLeaves) {
    const FrictionCase& row = GetParam();
    drive::MotorData data;
    data.rotorInertia_kgm2 = 1e-3;
    data.coulombFriction_Nm = row.coulomb_Nm;
    data.loadTorque_Nm = row.load_Nm;
    drive::MotorModel motor(data);
    motor.SetShaftState(0.0, row.startSpeed_rad_s);
    motor.SetExternalTorque(row.torque_Nm);
    const double duration_s = 0.2;
    for (int step = 0; step < 20000; ++step) {
        motor.StepOpenCircuit(duration_s / 20000);
    }
    EXPECT_NEAR(motor.ShaftSpeed_rad_s(), row.endSpeed_rad_s,
                0.01 * std::fabs(row.endSpeed_rad_s) + 1e-12);
}

// 0.02 N m of friction on 1e-3 kg m^2: 20 rad/s^2 of deceleration.
INSTANTIATE_TEST_SUITE_P(
    CoulombAndLoad, Friction,
    ::testing::Values(FrictionCase{"HoldsBelowBreakaway", 0.019, 0.02, 0.0, 0.0, 0.0},
                      FrictionCase{"HoldsBackwardBelowBreakaway", -0.019, 0.02, 0.0, 0.0, 0.0},
                      FrictionCase{"AcceleratesWithTheExcess", 0.05, 0.02, 0.0, 0.0, 6.0},
                      FrictionCase{"AcceleratesBackwardWithTheExcess", -0.05, 0.02, 0.0, 0.0, -6.0},
                      FrictionCase{"HangingLoadFallsThroughFriction", 0.0, 0.02, 0.05, 0.0, -6.0},
                      FrictionCase{"HeldLoadStays", 0.05, 0.02, 0.05, 0.0, 0.0},
                      FrictionCase{"CoastsDownForward", 0.0, 0.02, 0.0, 10.0, 6.0},
                      FrictionCase{"CoastsDownBackward", 0.0, 0.02, 0.0, -10.0, -6.0},
                      FrictionCase{"BrakesAgainstTheMotion", -0.01, 0.02, 0.0, 10.0, 4.0},
                      FrictionCase{"StopsAndStays", 0.0, 0.02, 0.0, 2.0, 0.0}),
    ByLabel());

struct RestartCase {
    const char* label;
    bool openCircuit;
    friend std::ostream& operator<<(std::ostream& out, const RestartCase& row) {
        return out << row.label;
    }
};

class Restart : public ::testing::TestWithParam<RestartCase> {};

// A shaft state set from outside, or a step without current, starts the electrical angle's sine
// and cosine afresh: a motor that ran before and a new one in the same state then run the same
// steps to the last bit.
TEST_P(Restart, RunsAsANewMotorFromTheSameState) {
    const drive::MotorData data = LoadExampleMotor("reference-axis-motor.json");
    // Steps of 0.05 rad of electrical angle, where every rotation rounds.
    constexpr double kRestartStep_s = 25e-6;
    const double speed_rad_s = 0.05 / (kRestartStep_s * data.polePairs);
    drive::MotorModel used(data);
    // Two leads cut: the windings carry no current while the rotor turns, but every step asks
    // for the angle.
    used.SetWiring(drive::TerminalWiring{{true, true, false}, false});
    used.SetShaftState(0.0, speed_rad_s);
    for (int step = 0; step < 200; ++step) {
        used.Step({1.0, 0.5}, kRestartStep_s);
    }
    used.SetWiring({});
    if (GetParam().openCircuit) {
        used.StepOpenCircuit(kRestartStep_s);
    } else {
        used.SetShaftState(used.ShaftAngle_rad(), used.ShaftSpeed_rad_s());
    }
    drive::MotorModel fresh(data);
    fresh.SetShaftState(used.ShaftAngle_rad(), used.ShaftSpeed_rad_s());
    ASSERT_EQ(used.Current_A().alpha, 0.0);
    ASSERT_EQ(used.Current_A().beta, 0.0);
    for (int step = 0; step < 100; ++step) {
        used.Step({2.0, -1.0}, kRestartStep_s);
        fresh.Step({2.0, -1.0}, kRestartStep_s);
    }
    EXPECT_EQ(used.Current_A().alpha, fresh.Current_A().alpha);
    EXPECT_EQ(used.Current_A().beta, fresh.Current_A().beta);
    EXPECT_EQ(used.ShaftAngle_rad(), fresh.ShaftAngle_rad());
    EXPECT_EQ(used.ShaftSpeed_rad_s(), fresh.ShaftSpeed_rad_s());
}

INSTANTIATE_TEST_SUITE_P(Ways, Restart,
                         ::testing::Values(RestartCase{"SetShaftState", false},
                                           RestartCase{"OpenCircuitStep", true}),
                         ByLabel());

struct EncoderCase {
    const char* label;
    int lines, bits;
    bool reversed;
    std::int64_t countsPerTurn;
    friend std::ostream& operator<<(std::ostream& out, const EncoderCase& row) {
        return out << row.label;
    }
};

class EncoderTurn : public ::testing::TestWithParam<EncoderCase> {};

// One forward turn counts 4 x lines x 2^bits exactly, the sign following the wiring; from any
// starting angle (inside a count, so that no edge falls on the turn's ends).
TEST_P(EncoderTurn, CountsFourTimesLinesTimesInterpolationPerTurn) {
    const EncoderCase& row = GetParam();
    drive::EncoderData data;
    data.lines = row.lines;
    data.reversed = row.reversed;
    data.zeroAngle_rad = 0.3;
    const drive::EncoderModel encoder(data, row.bits);
    ASSERT_EQ(encoder.CountsPerTurn(), row.countsPerTurn);
    const double countAngle_rad = 2 * std::numbers::pi / static_cast<double>(row.countsPerTurn);
    for (const double start_rad : {-7.0, 0.0, 1.0, 123.0}) {
        const double inside_rad = (std::floor(start_rad / countAngle_rad) + 0.5) * countAngle_rad;
        const std::int64_t moved =
            encoder.Read(inside_rad + 2 * std::numbers::pi) - encoder.Read(inside_rad);
        EXPECT_EQ(moved, row.reversed ? -row.countsPerTurn : row.countsPerTurn) << start_rad;
    }
    // The encoder's zero reads zero, and a count further forward reads one more (or less).
    EXPECT_EQ(encoder.Read(data.zeroAngle_rad + 0.5 * countAngle_rad), row.reversed ? -1 : 0);
    EXPECT_EQ(encoder.Read(data.zeroAngle_rad + 1.5 * countAngle_rad), row.reversed ? -2 : 1);
}

INSTANTIATE_TEST_SUITE_P(LinesAndInterpolation, EncoderTurn,
                         ::testing::Values(EncoderCase{"Reference", 1024, 8, false, 1048576},
                                           EncoderCase{"NoInterpolation", 1024, 0, false, 4096},
                                           EncoderCase{"OddLines", 500, 3, false, 16000},
                                           EncoderCase{"ReversedChannels", 2048, 4, true, 131072}),
                         ByLabel());

}  // namespace
