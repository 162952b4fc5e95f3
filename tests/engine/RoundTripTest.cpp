#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "engine/Derivation.h"
#include "engine/RegisterComputation.h"
#include "tests/support/Examples.h"

namespace {

using Step = bool (*)(CQel_Setup&);

// A user parameter, the register that carries it to the drive, and how far one value of that
// register may stand from the exact one: half a count where the kernel rounds the computed
// register, a whole count where the register computation truncates it (UMAXPROT, FILTERQ).
struct Carried {
    const char* parameter;
    const char* carrier;
    double carrierSteps;
    Step derive;
    // The largest draw as a share of the reference value: 1.3 unless the register cannot carry
    // more than the reference holds.
    double largestShare = 1.3;
};

constexpr double kRounded = 0.5;
constexpr double kTruncated = 1.0;

const std::vector<Carried>& CarriedParameters() {
    static const std::vector<Carried> carried = {
        {"Kp_C_scl", "KPI", kRounded, derive::Kp_C_scl},
        {"Ki_C_scl", "KII", kRounded, derive::Ki_C_scl},
        {"Kp_S_scl", "KPS", kRounded, derive::Kp_S_scl},
        {"Ki_S_scl", "KIS", kRounded, derive::Ki_S_scl},
        {"Kp_P_scl", "KPP", kRounded, derive::Kp_P_scl},
        {"Ki_P_scl", "KIP", kRounded, derive::Ki_P_scl},
        {"KFFS_scl", "KFFS", kRounded, derive::KFFS_scl},
        {"KFFA_scl", "KFFA", kRounded, derive::KFFA_scl},
        {"filter_D", "KDFP", kRounded, derive::filter_D},
        {"IlimPS", "SATS", kRounded, derive::IlimPS},
        {"OffsetCurrent", "FFL", kRounded, derive::OffsetCurrent},
        {"Imax_Prot", "IMAXPROT", kRounded, derive::Imax_Prot},
        {"time_Imax_Prot", "TIMAXPROT", kRounded, derive::time_Imax_Prot},
        // The bus measurement reads at most VdcMaxMeasurable, where the reference already sits.
        {"UMAX_PROT", "UMAXPROT", kTruncated, derive::UMAX_PROT, 1.0},
        {"UMIN_PROT", "UMINPROT", kRounded, derive::UMIN_PROT},
        {"Temp_2", "T2MAXPROT", kRounded, derive::Temp_2},
        {"Vbrake", "BRAKELIM", kRounded, derive::Vbrake},
        {"I_I2t_D", "I2TINTLIM_D", kRounded, derive::I_I2t_D},
        {"t_I2t_D", "SFI2T_D", kRounded, derive::t_I2t_D},
        {"I_I2t_M", "I2TINTLIM_M", kRounded, derive::I_I2t_M},
        {"t_I2t_M", "SFI2T_M", kRounded, derive::t_I2t_M},
        {"ERR_position", "ERRMAX", kRounded, derive::ERR_position},
        {"time_ERR_pos", "TERRMAX", kRounded, derive::time_ERR_pos},
        {"ERR_speed", "SERRMAX", kRounded, derive::ERR_speed},
        {"time_ERR_spd", "TSERRMAX", kRounded, derive::time_ERR_spd},
        {"ErefMaxSpeed", "CSPD", kRounded, derive::ErefMaxSpeed},
        {"ErefMaxAcceleration", "CACC", kRounded, derive::ErefMaxAcceleration},
        {"FilterOnCurrentControllerOutput", "FILTERQ", kTruncated,
         derive::FilterOnCurrentControllerOutput},
        {"MotorBrake_applytime", "BRAKEAPPLYDELAY", kRounded, derive::MotorBrake_applytime},
        {"MotorBrake_releasetime", "BRAKERELEASEDELAY", kRounded, derive::MotorBrake_releasetime},
        {"FreezeControl_errband", "POSOKLIM_FC", kRounded, derive::FreezeControl_errband},
        {"FreezeControl_time", "TONPOSOK_FC", kRounded, derive::FreezeControl_time},
    };
    return carried;
}

// How much the derived parameter moves when its register moves by the allowed steps: the
// quantisation the register allows, in the parameter's base unit.
double Quantisation(const CQel_Setup& setup, const Carried& carried) {
    CQel_Setup nudged = setup;
    CQel_Parameter* carrier = nudged.FindParameter(carried.carrier);
    const double before = nudged.GetParameterValueInBaseUnit(carried.parameter);
    const double count = carrier->GetValueInInternalUnit();
    // Nudged away from the range end nearer to the value, so that the kernel does not clamp it.
    const double step = count + carried.carrierSteps <= carrier->GetMaxInBaseUnit()
                            ? carried.carrierSteps
                            : -carried.carrierSteps;
    carrier->SetMaxInBaseUnit(std::max(carrier->GetMaxInBaseUnit(), count + step));
    carrier->SetValueInInternalUnit(count + step);
    carried.derive(nudged);
    return std::fabs(nudged.GetParameterValueInBaseUnit(carried.parameter) - before);
}

// Each user parameter drawn within 30 % of the reference axis's value (inside its range), the
// registers computed, then the parameters derived back: each comes back within the quantisation
// of the register that carries it, and nothing else moves any of them.
TEST(RoundTrip, RegistersThenParametersGiveBackEveryDrawnValue) {
    const std::unique_ptr<CQel_Setup> reference = LoadExample("reference-axis.json");
    ASSERT_TRUE(reference);
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    constexpr int kDraws = 150;
    for (int draw = 0; draw < kDraws; ++draw) {
        CQel_Setup setup = *reference;
        std::vector<double> drawn;
        for (const Carried& carried : CarriedParameters()) {
            CQel_Parameter* parameter = setup.FindParameter(carried.parameter);
            ASSERT_NE(parameter, nullptr) << carried.parameter;
            const double lowest = 0.7;
            const double value = parameter->GetValueInBaseUnit() *
                                 (lowest + (carried.largestShare - lowest) * share(random));
            parameter->SetValueInBaseUnit(value);
            drawn.push_back(parameter->GetValueInBaseUnit());
        }
        ComputeDriveRegisters(setup);
        DeriveUserParameters(setup);
        for (std::size_t i = 0; i < drawn.size(); ++i) {
            const Carried& carried = CarriedParameters()[i];
            const double back = setup.GetParameterValueInBaseUnit(carried.parameter);
            const double allowed = Quantisation(setup, carried);
            EXPECT_LE(std::fabs(back - drawn[i]),
                      allowed * (1.0 + 1e-6) + 1e-12 * std::fabs(drawn[i]))
                << "draw " << draw << ": " << carried.parameter << " drawn " << drawn[i]
                << ", back " << back << ", allowed " << allowed << " (" << carried.carrierSteps
                << " count of " << carried.carrier << ")";
        }
    }
}

}  // namespace
