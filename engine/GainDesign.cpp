#include "engine/GainDesign.h"

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <utility>

#include "engine/BaseScales.h"
#include "engine/PhaseConnection.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

namespace {

// An electrical time constant above four current-loop periods is slow enough to place the
// closed-loop poles; a faster one is cancelled instead.
constexpr double kSlowPolePeriods = 4.0;

// The period the speed and position controllers run at: the current loop's when the drive runs
// them in its fast loop, else their own.
double OuterLoopPeriod(const CQel_Setup& setup) {
    const CQel_Parameter* fastLoop = nullptr;
    {
        const QuietLookups quiet;
        fastLoop = setup.FindParameter("PosSpd_in_FastLoop");
    }
    const bool inFastLoop = fastLoop != nullptr && fastLoop->GetValueInBaseUnit() != 0.0;
    return inFastLoop ? ComputeCurrentLoopPeriod(setup) : ComputeSpeedLoopPeriod(setup);
}

// The total inertia as a gain of the drive: internal current units per internal unit of the
// given motion scale (motor speed or motor position) per second squared.
double InertiaInDriveUnits(const CQel_Setup& setup, double inertia_kgm2, double torqueConstant_Nm_A,
                           double motionScale) {
    return inertia_kgm2 * ComputeCurrentScale(setup) / motionScale / torqueConstant_Nm_A;
}

// Writes every gain, in the order given, even after a refused one; true when all were stored.
bool WriteGains(std::initializer_list<std::pair<CQel_Parameter*, double>> gains) {
    bool written = true;
    for (const auto& [parameter, value] : gains) {
        written = parameter->SetValueInBaseUnit(value) && written;
    }
    return written;
}

}  // namespace

bool DesignCurrentController(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<7>(
        setup, {"MotorPhaseConnectionType", "L", "R", "Kp_C_scl", "Ki_C_scl", "PB_C", "Dump_C"});
    if (!found) {
        return false;
    }
    const auto [connection, inductance, resistance, kp, ki, bandwidth, damping] = *found;
    const double resistance_ohm = resistance->GetValueInBaseUnit();
    const double phaseResistance_ohm =
        engine::StarPhaseValue(resistance_ohm, connection->GetValueInBaseUnit());
    // The time constant is the motor's own, whatever the connection: L and R are measured on the
    // same terminals.
    const double timeConstant_s = inductance->GetValueInBaseUnit() / resistance_ohm;
    const double period_s = ComputeCurrentLoopPeriod(setup);
    const double bandwidth_rad_s = bandwidth->GetValueInBaseUnit();
    // Volts per ampere of the plant in the drive's units: voltage command per current count.
    const double plantGain =
        phaseResistance_ohm * ComputeMotorVoltageScale(setup) / ComputeCurrentScale(setup);

    double kpGain = 0.0;
    double kiGain = 0.0;
    if (timeConstant_s > kSlowPolePeriods * period_s) {
        // Closed-loop poles at the bandwidth with the damping asked for.
        kpGain = (2.0 * damping->GetValueInBaseUnit() * bandwidth_rad_s * timeConstant_s - 1.0) *
                 plantGain;
        kiGain = bandwidth_rad_s * bandwidth_rad_s * timeConstant_s * plantGain * period_s;
    } else {
        // The electrical pole is too fast to place: the proportional gain follows the sampling
        // period and the integral gain sets the bandwidth alone.
        kpGain = (timeConstant_s * 0.5 / std::numbers::sqrt2 / period_s - 1.0) * plantGain;
        kiGain = bandwidth_rad_s * plantGain * period_s;
    }
    return WriteGains({{kp, kpGain}, {ki, kiGain}});
}

bool DesignSpeedController(CQel_Setup& setup) {
    const auto gains = engine::FindInOrder<2>(setup, {"Ki_S_scl", "Kp_S_scl"});
    if (!gains) {
        return false;
    }
    const double period_s = OuterLoopPeriod(setup);
    const auto inputs = engine::FindInOrder<4>(setup, {"Jt", "K", "PB_S", "Dump_S"});
    if (!inputs) {
        return false;
    }
    const auto [ki, kp] = *gains;
    const auto [inertia, torqueConstant, bandwidth, damping] = *inputs;
    const double bandwidth_rad_s = bandwidth->GetValueInBaseUnit();
    const double inertiaGain =
        InertiaInDriveUnits(setup, inertia->GetValueInBaseUnit(),
                            torqueConstant->GetValueInBaseUnit(), ComputeMotorSpeedScale(setup));
    return WriteGains({{ki, bandwidth_rad_s * bandwidth_rad_s * period_s * inertiaGain},
                       {kp, bandwidth_rad_s * 2.0 * damping->GetValueInBaseUnit() * inertiaGain}});
}

bool DesignPositionController(CQel_Setup& setup) {
    const auto gains = engine::FindInOrder<3>(setup, {"Ki_P_scl", "Kp_P_scl", "Kd_P_scl"});
    if (!gains) {
        return false;
    }
    const double period_s = OuterLoopPeriod(setup);
    const auto inputs =
        engine::FindInOrder<5>(setup, {"PositionControlType", "Jt", "PB_P", "K", "Dump_P"});
    if (!inputs) {
        return false;
    }
    const auto [ki, kp, kd] = *gains;
    const auto [controlType, inertia, bandwidth, torqueConstant, damping] = *inputs;
    const double bandwidth_rad_s = bandwidth->GetValueInBaseUnit();
    const double dampingRatio = damping->GetValueInBaseUnit();
    const double positionScale = ComputeMotorPositionScale(setup);

    if (std::trunc(controlType->GetValueInBaseUnit()) == regfmt::kPositionControlWithSpeedLoop) {
        // A PI giving a speed reference: the speed loop is taken as ideal, so only the ratio of
        // the speed and position units enters.
        const double speedPerPosition = ComputeMotorSpeedScale(setup) / positionScale;
        return WriteGains({{ki, bandwidth_rad_s * bandwidth_rad_s * period_s * speedPerPosition},
                           {kp, bandwidth_rad_s * 2.0 * dampingRatio * speedPerPosition},
                           {kd, 0.0}});
    }
    // A PID on the current placing three poles at (s + w)(s^2 + 2 zeta w s + w^2).
    const double inertiaGain = InertiaInDriveUnits(
        setup, inertia->GetValueInBaseUnit(), torqueConstant->GetValueInBaseUnit(), positionScale);
    const double dampingSum_rad_s = (2.0 * dampingRatio + 1.0) * bandwidth_rad_s;
    return WriteGains(
        {{ki, bandwidth_rad_s * bandwidth_rad_s * bandwidth_rad_s * period_s * inertiaGain},
         {kp, dampingSum_rad_s * bandwidth_rad_s * inertiaGain},
         {kd, dampingSum_rad_s * inertiaGain / period_s}});
}
