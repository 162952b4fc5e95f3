#include "engine/GainDesign.h"

#include <algorithm>
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

// The drive applies a voltage on average a period and a half after it sampled the current: at a
// bandwidth of 0.18 / period that lag costs about 15 degrees of phase, beyond which the sampled
// loop rises faster and overshoots more than the continuous design.
constexpr double kCurrentLoopBandwidthPeriods = 0.18;
// The outer loops' bandwidth x their period. The speed is the position's difference over a
// period, half a period old, and the current reference the loop sets is held for a period; with
// the setup's filters on the speed and the current reference the lag grows faster with the
// bandwidth than the current loop's. Up to 0.1 the sampled speed loops of the example motors
// overshoot 15 to 26 % against the design's 13.5 %; at 0.15 they overshoot 40 to 56 %.
constexpr double kOuterLoopBandwidthPeriods = 0.1;
// An outer loop's design takes the loop inside it as ideal: it is, seen from a tenth of its
// bandwidth.
constexpr double kInnerLoopBandwidthRatio = 10.0;

bool PlacesThePoles(double timeConstant_s, double period_s) {
    return timeConstant_s > kSlowPolePeriods * period_s;
}

// The proportional gain of a winding too fast to place its pole, in ohms per ohm of the winding:
// the loop's own time constant is a sampling-limited 2 sqrt 2 periods.
double FastWindingProportionalGain(double timeConstant_s, double period_s) {
    return timeConstant_s * 0.5 / std::numbers::sqrt2 / period_s - 1.0;
}

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
    if (PlacesThePoles(timeConstant_s, period_s)) {
        // Closed-loop poles at the bandwidth with the damping asked for.
        kpGain = (2.0 * damping->GetValueInBaseUnit() * bandwidth_rad_s * timeConstant_s - 1.0) *
                 plantGain;
        kiGain = bandwidth_rad_s * bandwidth_rad_s * timeConstant_s * plantGain * period_s;
    } else {
        // The electrical pole is too fast to place: the proportional gain follows the sampling
        // period and the integral gain sets the bandwidth alone.
        kpGain = FastWindingProportionalGain(timeConstant_s, period_s) * plantGain;
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

namespace {

// A PI on an integrator (or on a winding whose pole it cancels, the circuit's own pole
// circuitPole_rad_s left in the zero): (2 zeta w - pole) s + w^2 over s^2 + 2 zeta w s + w^2.
ClosedLoop PiLoop(double bandwidth_rad_s, double damping, double circuitPole_rad_s) {
    const double w = bandwidth_rad_s;
    return {{2.0 * damping * w - circuitPole_rad_s, w * w}, {1.0, 2.0 * damping * w, w * w}};
}

std::optional<ClosedLoop> DesignedCurrentLoop(const CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(setup, {"L", "R", "PB_C", "Dump_C"});
    if (!found) {
        return std::nullopt;
    }
    const auto [inductance, resistance, bandwidth, damping] = *found;
    const double timeConstant_s =
        inductance->GetValueInBaseUnit() / resistance->GetValueInBaseUnit();
    const double period_s = ComputeCurrentLoopPeriod(setup);
    const double w = bandwidth->GetValueInBaseUnit();
    if (PlacesThePoles(timeConstant_s, period_s)) {
        return PiLoop(w, damping->GetValueInBaseUnit(), 1.0 / timeConstant_s);
    }
    // Kp = (a - 1) R and Ki = w R on R (tau s + 1): ((a - 1) s + w) / (tau s^2 + a s + w).
    const double a = FastWindingProportionalGain(timeConstant_s, period_s) + 1.0;
    return ClosedLoop{{(a - 1.0) / timeConstant_s, w / timeConstant_s},
                      {1.0, a / timeConstant_s, w / timeConstant_s}};
}

std::optional<ClosedLoop> DesignedSpeedLoop(const CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"PB_S", "Dump_S"});
    if (!found) {
        return std::nullopt;
    }
    const auto [bandwidth, damping] = *found;
    return PiLoop(bandwidth->GetValueInBaseUnit(), damping->GetValueInBaseUnit(), 0.0);
}

std::optional<ClosedLoop> DesignedPositionLoop(const CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"PositionControlType", "PB_P", "Dump_P"});
    if (!found) {
        return std::nullopt;
    }
    const auto [controlType, bandwidth, damping] = *found;
    const double w = bandwidth->GetValueInBaseUnit();
    const double dampingRatio = damping->GetValueInBaseUnit();
    if (std::trunc(controlType->GetValueInBaseUnit()) == regfmt::kPositionControlWithSpeedLoop) {
        return PiLoop(w, dampingRatio, 0.0);
    }
    // (Kd s^2 + Kp s + Ki) / (J s^3 + Kd s^2 + Kp s + Ki), the poles at
    // (s + w)(s^2 + 2 zeta w s + w^2).
    const double dampingSum_rad_s = (2.0 * dampingRatio + 1.0) * w;
    return ClosedLoop{{dampingSum_rad_s, dampingSum_rad_s * w, w * w * w},
                      {1.0, dampingSum_rad_s, dampingSum_rad_s * w, w * w * w}};
}

}  // namespace

std::optional<ClosedLoop> DesignedClosedLoop(const CQel_Setup& setup, ControlLoop loop) {
    switch (loop) {
        case ControlLoop::Current:
            return DesignedCurrentLoop(setup);
        case ControlLoop::Speed:
            return DesignedSpeedLoop(setup);
        case ControlLoop::Position:
            return DesignedPositionLoop(setup);
    }
    return std::nullopt;
}

std::optional<double> HighestValidPassband_rad_s(const CQel_Setup& setup, ControlLoop loop) {
    const double currentLoop_rad_s = kCurrentLoopBandwidthPeriods / ComputeCurrentLoopPeriod(setup);
    if (loop == ControlLoop::Current) {
        return currentLoop_rad_s;
    }
    const auto current = engine::FindInOrder<1>(setup, {"PB_C"});
    if (!current) {
        return std::nullopt;
    }
    const double speedLoop_rad_s = std::min(
        std::min(currentLoop_rad_s, (*current)[0]->GetValueInBaseUnit()) / kInnerLoopBandwidthRatio,
        kOuterLoopBandwidthPeriods / OuterLoopPeriod(setup));
    if (loop == ControlLoop::Speed) {
        return speedLoop_rad_s;
    }
    const auto inner = engine::FindInOrder<2>(setup, {"PositionControlType", "PB_S"});
    if (!inner) {
        return std::nullopt;
    }
    const auto [controlType, speedPassband] = *inner;
    if (std::trunc(controlType->GetValueInBaseUnit()) == regfmt::kPositionControlWithSpeedLoop) {
        return std::min(speedLoop_rad_s, speedPassband->GetValueInBaseUnit()) /
               kInnerLoopBandwidthRatio;
    }
    return speedLoop_rad_s;
}
