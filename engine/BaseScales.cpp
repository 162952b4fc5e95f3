#include "engine/BaseScales.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "engine/QuietProbes.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
// Full scale of the voltage command: +-32767 spans 1.1 times the supply voltage, which leaves
// headroom above the bus for the current controller's output.
constexpr double kVoltageCommandSpan = 65534.0;
constexpr double kVoltageCommandHeadroom = 1.1;
// Encoder counts are quadrature counts: four per line.
constexpr double kCountsPerLine = 4.0;
// The interpolation exponent is taken modulo the 32 bits of the position register.
constexpr std::int64_t kInterpolationBitsModulus = 32;
// Dead time when the register is 0: the power stage's own minimum.
constexpr double kMinimumDeadTime_s = 1e-6;
// The dead-time register holds two 8-bit dead times, one per switching edge, in DSP clocks.
constexpr std::int64_t kDeadTimeByteMask = 0xFF;
constexpr int kDeadTimeHighByteShift = 8;
// Without a DBTPC register the dead time counts for half its length.
constexpr double kDefaultDeadTimeShare = 0.5;
constexpr double kPercent = 100.0;
// Registers are at most 32 bits wide.
constexpr double kLargestRegisterValue = 4294967295.0;

double Base(const CQel_Setup& setup, const char* name) {
    return setup.GetParameterValueInBaseUnit(name);
}

double LoopPeriod(const CQel_Setup& setup, const char* dividerRegister) {
    return 2.0 * Base(setup, dividerRegister) * Base(setup, "PWMPER") / Base(setup, "DSP_freq");
}

// N: encoder lines as the drive counts them, the integer part of MECRESL divided by 4 in integer
// arithmetic. Truncating twice is that division for every value a double holds exactly.
double CountedLines(const CQel_Setup& setup) {
    return std::trunc(std::trunc(Base(setup, "MECRESL")) / kCountsPerLine);
}

// F: the interpolation factor of the sine-cosine encoder, 2^(int(SINCOS_fract) mod 32).
double InterpolationFactor(const CQel_Setup& setup) {
    const double bits = std::trunc(Base(setup, "SINCOS_fract"));
    if (!std::isfinite(bits) ||
        std::fabs(bits) > static_cast<double>(std::numeric_limits<std::int64_t>::max())) {
        return kNotANumber;
    }
    return std::ldexp(1.0, static_cast<int>(PositiveModulo(static_cast<std::int64_t>(bits),
                                                           kInterpolationBitsModulus)));
}

// G: signed transmission ratio; a negative ratio reverses the load's direction.
double TransmissionRatio(const CQel_Setup& setup) {
    return Base(setup, "Motor_transmission") / Base(setup, "Load_transmission");
}

double CountsPerMotorRadian(const CQel_Setup& setup) {
    return CountedLines(setup) * 2.0 * InterpolationFactor(setup) / std::numbers::pi;
}

double CountsPerLoadUnitFromLines(const CQel_Setup& setup) {
    return InterpolationFactor(setup) * 2.0 * Base(setup, "No_encoder_lines") / std::numbers::pi *
           TransmissionRatio(setup);
}

}  // namespace

double ComputeCurrentLoopPeriod(const CQel_Setup& setup) {
    return LoopPeriod(setup, "CLPER");
}

double ComputeSpeedLoopPeriod(const CQel_Setup& setup) {
    return LoopPeriod(setup, "SLPER");
}

double ComputeMotorVoltageScale(const CQel_Setup& setup) {
    return kVoltageCommandSpan / (kVoltageCommandHeadroom * Base(setup, "Vdc"));
}

double ComputeDCBusVoltageScale(const CQel_Setup& setup) {
    return static_cast<double>(Compute_ADCMaxValue(setup)) / Base(setup, "VdcMaxMeasurable");
}

double ComputeCurrentScale(const CQel_Setup& setup) {
    // The current sensors span -ImaxPS ... +ImaxPS over the converter's full scale.
    return static_cast<double>(Compute_ADCMaxValue(setup)) / (2.0 * Base(setup, "ImaxPS"));
}

double ComputeMotorPositionScale(const CQel_Setup& setup) {
    return CountsPerMotorRadian(setup);
}

double ComputePositionScale(const CQel_Setup& setup) {
    return CountsPerMotorRadian(setup) * TransmissionRatio(setup);
}

double ComputeMotorSpeedScale(const CQel_Setup& setup) {
    return ComputeSpeedLoopPeriod(setup) * CountsPerMotorRadian(setup);
}

double ComputeSpeedScale(const CQel_Setup& setup) {
    return ComputeSpeedLoopPeriod(setup) * CountsPerMotorRadian(setup) * TransmissionRatio(setup);
}

double ComputeAccelerationScale(const CQel_Setup& setup) {
    const double period_s = ComputeSpeedLoopPeriod(setup);
    return CountsPerLoadUnitFromLines(setup) * period_s * period_s;
}

double ComputeJerkScale(const CQel_Setup& setup) {
    const double period_s = ComputeSpeedLoopPeriod(setup);
    return CountsPerLoadUnitFromLines(setup) * period_s * period_s * period_s;
}

double ComputeDeadTime(const CQel_Setup& setup) {
    bool hasShare = false;
    double deadTimeRegister = 0.0;
    {
        const QuietLookups quiet;
        const CQel_Parameter* dbt = setup.FindParameter("DBT");
        if (dbt == nullptr) {
            return 0.0;
        }
        deadTimeRegister = std::trunc(dbt->GetValueInBaseUnit());
        hasShare = setup.FindParameter("DBTPC") != nullptr;
    }
    if (deadTimeRegister == 0.0) {
        return kMinimumDeadTime_s;
    }
    if (!std::isfinite(deadTimeRegister) || std::fabs(deadTimeRegister) > kLargestRegisterValue) {
        return kNotANumber;
    }
    const auto bits = static_cast<std::int64_t>(deadTimeRegister);
    const std::int64_t risingEdge_clocks = bits & kDeadTimeByteMask;
    const std::int64_t fallingEdge_clocks = (bits >> kDeadTimeHighByteShift) & kDeadTimeByteMask;
    const double longer_clocks =
        static_cast<double>(std::max(risingEdge_clocks, fallingEdge_clocks));
    const double share = hasShare ? Base(setup, "DBTPC") / kPercent : kDefaultDeadTimeShare;
    return longer_clocks * share / Base(setup, "DSP_freq");
}
