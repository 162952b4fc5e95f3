#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/GainDesign.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

namespace {

// The reference axis: Ts_C = 50 us, Ts_S = 500 us, 48 V bus (65534 / 52.8 voltage units per
// volt), 16.5 A power stage with a 65472-count converter (1984 counts per ampere), 1024 lines
// with 8 interpolation bits. The expected gains below were worked out by hand from these.
constexpr double kRelativeTolerance = 1e-12;

class GainDesign : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_ = LoadExample("reference-axis.json");
        ASSERT_TRUE(setup_);
        // Wide gain ranges, so that the kernel's clamping cannot hide a wrong value.
        for (const char* gain :
             {"Kp_C_scl", "Ki_C_scl", "Kp_S_scl", "Ki_S_scl", "Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}) {
            CQel_Parameter* parameter = setup_->FindParameter(gain);
            ASSERT_NE(parameter, nullptr) << gain;
            parameter->SetMinInBaseUnit(-1e12);
            parameter->SetMaxInBaseUnit(1e12);
        }
    }

    void Set(const std::string& name, double value) {
        ASSERT_TRUE(setup_->SetParameterValueInBaseUnit(name, value)) << name;
        ASSERT_EQ(setup_->GetParameterValueInBaseUnit(name), value) << name << " was clamped";
    }

    void ExpectGain(const std::string& name, double expected) {
        const double actual = setup_->GetParameterValueInBaseUnit(name);
        EXPECT_NEAR(actual, expected, std::fabs(expected) * kRelativeTolerance)
            << name << ": expected " << expected << ", actual " << actual;
    }

    std::unique_ptr<CQel_Setup> setup_;
};

struct CurrentCase {
    const char* label;
    double inductance_H, resistance_ohm, connection, bandwidth_rad_s, damping, kp, ki;
    friend std::ostream& operator<<(std::ostream& out, const CurrentCase& row) {
        return out << row.label;
    }
};

class CurrentDesign : public GainDesign, public ::testing::WithParamInterface<CurrentCase> {};

TEST_P(CurrentDesign, GivesTheGainsOfItsRegime) {
    const CurrentCase& row = GetParam();
    Set("L", row.inductance_H);
    Set("R", row.resistance_ohm);
    Set("MotorPhaseConnectionType", row.connection);
    Set("PB_C", row.bandwidth_rad_s);
    Set("Dump_C", row.damping);

    EXPECT_TRUE(DesignCurrentController(*setup_));
    ExpectGain("Kp_C_scl", row.kp);
    ExpectGain("Ki_C_scl", row.ki);
}

INSTANTIATE_TEST_SUITE_P(
    BothRegimes, CurrentDesign,
    ::testing::Values(
        // tau = 2 ms, forty current-loop periods: pole placement.
        CurrentCase{"SlowPoleStar", 2.4e-3, 1.2, 0, 5000, 0.7, 9.7592329545454533,
                    1.8767755681818181},
        // Delta: R / 3 in the gains, tau still 2 ms (with 0.4 ohm it would be 6 ms).
        CurrentCase{"SlowPoleDelta", 2.4e-3, 1.2, 1, 5000, 0.7, 3.2530776515151509,
                    0.62559185606060597},
        // tau = 175 us, 3.5 periods: the fast-pole formulas.
        CurrentCase{"FastPoleStar", 2.1e-4, 1.2, 0, 3000, 0.7, 0.17824628444589222,
                    0.11260653409090909},
        CurrentCase{"FastPoleIgnoresDamping", 2.1e-4, 1.2, 0, 3000, 2.0, 0.17824628444589222,
                    0.11260653409090909},
        // Delta in the fast regime: tau still 175 us (a third of R would make it 525 us, slow).
        CurrentCase{"FastPoleDelta", 2.1e-4, 1.2, 1, 3000, 0.7, 0.059415428148630732,
                    0.037535511363636365},
        // tau = 200 us = 4 Ts_C exactly (the same double) belongs to the fast regime.
        CurrentCase{"BoundaryIsFast", 2e-4, 1.0, 0, 3000, 0.7, 0.25912863129046004,
                    0.093838778409090898},
        CurrentCase{"JustAboveBoundaryIsSlow", 2.1e-4, 1.0, 0, 5000, 0.7, 0.29402817234848477,
                    0.16421786221590909}));

struct SpeedCase {
    const char* label;
    bool fastLoopPresent;
    double fastLoop, bandwidth_rad_s, damping, inertia_kgm2, torqueConstant_Nm_A, ki, kp;
    friend std::ostream& operator<<(std::ostream& out, const SpeedCase& row) {
        return out << row.label;
    }
};

class SpeedDesign : public GainDesign, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(SpeedDesign, UsesThePeriodOfItsLoop) {
    const SpeedCase& row = GetParam();
    if (row.fastLoopPresent) {
        Set("PosSpd_in_FastLoop", row.fastLoop);
    } else {
        ASSERT_TRUE(setup_->RemoveParameter("PosSpd_in_FastLoop"));
    }
    Set("PB_S", row.bandwidth_rad_s);
    Set("Dump_S", row.damping);
    Set("Jt", row.inertia_kgm2);
    Set("K", row.torqueConstant_Nm_A);
    const CollectedErrors errors;

    EXPECT_TRUE(DesignSpeedController(*setup_));
    ExpectGain("Ki_S_scl", row.ki);
    ExpectGain("Kp_S_scl", row.kp);
    EXPECT_TRUE(errors.Messages().empty()) << errors.Messages().front();
}

// Ki = PB^2 T Jt CS / MSS / K and Kp = 2 zeta PB Jt CS / MSS / K, MSS always on Ts_S (83.443).
INSTANTIATE_TEST_SUITE_P(WithAndWithoutFastLoop, SpeedDesign,
                         ::testing::Values(SpeedCase{"FastLoopAbsent", false, 0, 300, 1.0, 1e-4,
                                                     0.1, 1.0699515995502347, 14.266021327336462},
                                           SpeedCase{"FastLoopOff", true, 0, 300, 1.0, 1e-4, 0.1,
                                                     1.0699515995502347, 14.266021327336462},
                                           SpeedCase{"FastLoopOn", true, 1, 300, 1.0, 1e-4, 0.1,
                                                     0.10699515995502347, 14.266021327336462},
                                           SpeedCase{"OtherInertia", true, 0, 150, 0.7, 3e-4, 0.25,
                                                     0.32098547986507037, 5.991728957481314}));

struct PositionCase {
    const char* label;
    double controlType, fastLoop, bandwidth_rad_s, damping, inertia_kgm2, torqueConstant_Nm_A;
    double ki, kp, kd;
    friend std::ostream& operator<<(std::ostream& out, const PositionCase& row) {
        return out << row.label;
    }
};

class PositionDesign : public GainDesign, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(PositionDesign, GivesTheGainsOfItsStructure) {
    const PositionCase& row = GetParam();
    Set("PositionControlType", row.controlType);
    Set("PosSpd_in_FastLoop", row.fastLoop);
    Set("PB_P", row.bandwidth_rad_s);
    Set("Dump_P", row.damping);
    Set("Jt", row.inertia_kgm2);
    Set("K", row.torqueConstant_Nm_A);
    Set("Kd_P_scl", 123.0);

    EXPECT_TRUE(DesignPositionController(*setup_));
    ExpectGain("Ki_P_scl", row.ki);
    ExpectGain("Kp_P_scl", row.kp);
    if (row.kd == 0.0) {
        EXPECT_EQ(setup_->GetParameterValueInBaseUnit("Kd_P_scl"), 0.0);
    } else {
        ExpectGain("Kd_P_scl", row.kd);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BothStructures, PositionDesign,
    ::testing::Values(
        // PID on the current: poles (s + w)(s^2 + 2 zeta w s + w^2), MPS = 166886.05.
        PositionCase{"PidOnCurrent", 0, 0, 50, 1.0, 1e-4, 0.1, 0.00074302194413210741,
                     0.089162633295852875, 3.5665053318341156},
        PositionCase{"PidOnCurrentInFastLoop", 0, 1, 50, 1.0, 1e-4, 0.1, 7.4302194413210731e-05,
                     0.089162633295852875, 35.665053318341151},
        PositionCase{"PidOtherTuning", 0, 0, 20, 0.5, 2e-4, 0.2, 4.7553404424454873e-05,
                     0.0095106808848909735, 0.95106808848909741},
        // PI feeding the speed loop: MSS / MPS = Ts_S, no inertia, no torque constant.
        PositionCase{"PiOnSpeed", 1, 0, 50, 1.0, 1e-4, 0.1, 0.000625, 0.05, 0.0},
        PositionCase{"PiOnSpeedIgnoresInertiaAndTorqueConstant", 1, 0, 50, 1.0, 5e-4, 0.3, 0.000625,
                     0.05, 0.0},
        PositionCase{"PiOnSpeedInFastLoop", 1, 1, 50, 1.0, 1e-4, 0.1, 6.25e-05, 0.05, 0.0}));

struct MissingNameCase {
    const char* missing;
    std::function<bool(CQel_Setup&)> design;
    std::vector<const char*> gains;
    friend std::ostream& operator<<(std::ostream& out, const MissingNameCase& row) {
        return out << row.missing;
    }
};

class GainDesignMissingName : public GainDesign,
                              public ::testing::WithParamInterface<MissingNameCase> {};

TEST_P(GainDesignMissingName, IsReportedAndWritesNothing) {
    const MissingNameCase& row = GetParam();
    ASSERT_TRUE(setup_->RemoveParameter(row.missing));
    for (const char* gain : row.gains) {
        if (gain != std::string(row.missing)) {
            Set(gain, 777.0);
        }
    }
    const CollectedErrors errors;

    EXPECT_FALSE(row.design(*setup_));
    for (const char* gain : row.gains) {
        if (gain != std::string(row.missing)) {
            EXPECT_EQ(setup_->GetParameterValueInBaseUnit(gain), 777.0) << gain;
        }
    }
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages().front().find(row.missing), std::string::npos)
        << errors.Messages().front();
}

const std::vector<const char*> kCurrentGains = {"Kp_C_scl", "Ki_C_scl"};
const std::vector<const char*> kSpeedGains = {"Ki_S_scl", "Kp_S_scl"};
const std::vector<const char*> kPositionGains = {"Ki_P_scl", "Kp_P_scl", "Kd_P_scl"};

INSTANTIATE_TEST_SUITE_P(
    EachDesign, GainDesignMissingName,
    ::testing::Values(MissingNameCase{"Ki_C_scl", DesignCurrentController, kCurrentGains},
                      MissingNameCase{"Dump_C", DesignCurrentController, kCurrentGains},
                      MissingNameCase{"Dump_S", DesignSpeedController, kSpeedGains},
                      MissingNameCase{"Dump_P", DesignPositionController, kPositionGains}));

}  // namespace
