// Protections of the drive and the motor: voltage, temperature, I2t, over-current, control errors,
// and the brake resistor's switching level.
#include <cmath>

#include "engine/BaseScales.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterComputationSteps.h"
#include "engine/RegisterFormats.h"
#include "host/kernel/KernelFunctions.h"

using compute::support::ComputeFrom;
using compute::support::ComputeSpeedLoopPeriods;
using compute::support::Units;

namespace {

// The I2t warning comes 2 s before the protection trips at the I2t current.
constexpr double kI2tWarningLead_s = 2.0;

double BusVoltage_counts(const CQel_Setup& setup, double voltage_V) {
    return voltage_V * ComputeDCBusVoltageScale(setup);
}

bool ComputeBusVoltageCounts(CQel_Setup& setup, std::string_view target,
                             std::string_view voltageName) {
    return ComputeFrom(setup, target, {voltageName},
                       [&setup](double voltage_V) { return BusVoltage_counts(setup, voltage_V); });
}

bool ComputeCurrentCounts(CQel_Setup& setup, std::string_view target, std::string_view currentName,
                          Units units = Units::Base) {
    return ComputeFrom(
        setup, target, {currentName},
        [&setup](double current_A) { return current_A * ComputeCurrentScale(setup); }, units);
}

// The I2t integrator's scale: it adds Ts_S x 2^26 / t per period, so that it reaches its limit
// after t seconds at the I2t current.
bool ComputeI2tTimeScale(CQel_Setup& setup, std::string_view target, std::string_view timeName) {
    return ComputeFrom(setup, target, {"Ts_S", timeName}, [](double period_s, double time_s) {
        return period_s * regfmt::kDriveI2tTimeScale / time_s;
    });
}

// The I2t integrator's limit: what the squared current above nominal, in current counts and
// divided by 16, adds up to.
double I2tLimit(const CQel_Setup& setup, double i2t_A, double nominal_A) {
    const double currentScale = ComputeCurrentScale(setup);
    return (i2t_A * i2t_A - nominal_A * nominal_A) * currentScale * currentScale *
           regfmt::kI2tSquareShare;
}

double I2tWarningLimit(const CQel_Setup& setup, double i2t_A, double nominal_A, double time_s) {
    return I2tLimit(setup, i2t_A, nominal_A) * (1.0 - kI2tWarningLead_s / time_s);
}

// A protection time in speed-loop periods while its protection is on, else the value that
// switches the protection off.
bool ComputeProtectionTime(CQel_Setup& setup, std::string_view target, std::string_view timeName,
                           std::string_view flagName) {
    return ComputeFrom(setup, target, {timeName, "Ts_S", flagName},
                       [](double time_s, double period_s, double protectionOn) {
                           return engine::IsOne(protectionOn) ? time_s / period_s
                                                              : regfmt::kProtectionOff;
                       });
}

}  // namespace

bool compute::T2MAXPROT(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "T2MAXPROT", {"Temp_2", "DriveTempSensorGain", "DriveTempOutputAt0oC", "ADCrange"},
        [&setup](double temperature_C, double sensorGain_V_per_C, double outputAt0C_V,
                 double adcRange_V) {
            const double sensor_V = outputAt0C_V + sensorGain_V_per_C * temperature_C;
            return static_cast<double>(Compute_ADCMaxValue(setup)) * sensor_V / adcRange_V;
        });
}

bool compute::UMAXPROT(CQel_Setup& setup) {
    return ComputeFrom(setup, "UMAXPROT", {"UMAX_PROT"}, [&setup](double voltage_V) {
        return std::trunc(BusVoltage_counts(setup, voltage_V));
    });
}

bool compute::UMINPROT(CQel_Setup& setup) {
    return ComputeBusVoltageCounts(setup, "UMINPROT", "UMIN_PROT");
}

bool compute::II2TPROT_D(CQel_Setup& setup) {
    return ComputeCurrentCounts(setup, "II2TPROT_D", "InPS", Units::Internal);
}

bool compute::SFI2T_D(CQel_Setup& setup) {
    return ComputeI2tTimeScale(setup, "SFI2T_D", "t_I2t_D");
}

bool compute::I2TINTLIM_D(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "I2TINTLIM_D", {"I_I2t_D", "InPS"},
        [&setup](double i2t_A, double nominal_A) { return I2tLimit(setup, i2t_A, nominal_A); });
}

bool compute::II2TWARLIM_D(CQel_Setup& setup) {
    if (!HasI2tWarningLimits(setup)) {
        return true;
    }
    return ComputeFrom(setup, "II2TWARLIM_D", {"I_I2t_D", "t_I2t_D", "InPS"},
                       [&setup](double i2t_A, double time_s, double nominal_A) {
                           return I2tWarningLimit(setup, i2t_A, nominal_A, time_s);
                       });
}

bool compute::IMAXPROT(CQel_Setup& setup) {
    return ComputeCurrentCounts(setup, "IMAXPROT", "Imax_Prot");
}

bool compute::TIMAXPROT(CQel_Setup& setup) {
    return ComputeSpeedLoopPeriods(setup, "TIMAXPROT", "time_Imax_Prot");
}

bool compute::ERRMAX(CQel_Setup& setup) {
    return support::ComputePositionCounts(setup, "ERRMAX", "ERR_position");
}

bool compute::TERRMAX(CQel_Setup& setup) {
    return ComputeProtectionTime(setup, "TERRMAX", "time_ERR_pos", "isPositionControlError");
}

bool compute::SERRMAX(CQel_Setup& setup) {
    return support::ComputeSpeedCounts(setup, "SERRMAX", "ERR_speed");
}

bool compute::TSERRMAX(CQel_Setup& setup) {
    return ComputeProtectionTime(setup, "TSERRMAX", "time_ERR_spd", "isSpeedControlError");
}

bool compute::T1MAXPROT(CQel_Setup& setup) {
    // No user parameter sets this protection level; it stays at full scale.
    return support::StoreConstant(setup, "T1MAXPROT", regfmt::kQ15);
}

bool compute::II2TPROT_M(CQel_Setup& setup) {
    return ComputeCurrentCounts(setup, "II2TPROT_M", "In");
}

bool compute::SFI2T_M(CQel_Setup& setup) {
    return ComputeI2tTimeScale(setup, "SFI2T_M", "t_I2t_M");
}

bool compute::I2TINTLIM_M(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "I2TINTLIM_M", {"I_I2t_M", "In"},
        [&setup](double i2t_A, double nominal_A) { return I2tLimit(setup, i2t_A, nominal_A); });
}

bool compute::I2TWARLIM_M(CQel_Setup& setup) {
    if (!HasI2tWarningLimits(setup)) {
        return true;
    }
    return ComputeFrom(setup, "I2TWARLIM_M", {"t_I2t_M", "I_I2t_M", "In"},
                       [&setup](double time_s, double i2t_A, double nominal_A) {
                           return I2tWarningLimit(setup, i2t_A, nominal_A, time_s);
                       });
}

bool compute::BRAKELIM(CQel_Setup& setup) {
    return ComputeBusVoltageCounts(setup, "BRAKELIM", "Vbrake");
}
