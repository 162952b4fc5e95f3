// Protections of the drive and the motor, the brake resistor and the input polarities.
#include <algorithm>
#include <cmath>

#include "engine/BaseScales.h"
#include "engine/Derivation.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

namespace {

using derive::shape::FlagFromBit;
using derive::shape::FlagFromValue;
using derive::shape::MagnitudeFromCounts;
using derive::shape::WriteWithin;

// Supply voltage thresholds the power stage can be given, V.
constexpr double kMinProtectionVoltage_V = 1.0;
constexpr double kMaxProtectionVoltage_V = 2000.0;
// Drive temperature thresholds, degrees Celsius.
constexpr double kMinDriveTemperature_C = -100.0;
constexpr double kMaxDriveTemperature_C = 1000.0;
// An I2t protection trips after 2^26 speed-loop periods divided by its scale register, a 15-bit
// count from 1 to 2^15: from 2048 to 2^26 periods.
constexpr double kMinI2tTimePeriods = 2048.0;
// A protection delay counts at most 32767 speed-loop periods; the shortest is 1 ms.
constexpr double kMaxProtectionDelayPeriods = 32767.0;
constexpr double kMinProtectionDelay_s = 0.001;
// Smallest current limits, A.
constexpr double kMinCurrentLimit_A = 0.001;
constexpr double kMinSpeedError_rad_s = 0.001;
// The motor's I2t protection starts above 110 % of the nominal current.
constexpr double kMinMotorI2tOverNominal = 1.1;

// The current the I2t integrator trips at: the integrator limit holds (I^2 - In^2) / 16 in
// squared converter counts.
double I2tCurrent_A(double integratorLimit, double nominal_A, double countsPerAmpere) {
    const double nominal_counts = nominal_A * countsPerAmpere;
    return std::sqrt(integratorLimit / regfmt::kI2tSquareShare + nominal_counts * nominal_counts) /
           countsPerAmpere;
}

// The time at which an I2t integrator trips: 2^26 periods at scale 1, for drive and motor alike.
double I2tTime_s(double period_s, double scale) {
    return period_s * regfmt::kDriveI2tTimeScale / scale;
}

// A threshold of the supply voltage, from the measurement counts.
bool WriteBusVoltage(CQel_Setup& setup, std::string_view target, std::string_view registerName) {
    const auto found = engine::FindInOrder<2>(setup, {target, registerName});
    if (!found) {
        return false;
    }
    const auto [voltage, counts] = *found;
    return WriteWithin(*voltage, kMinProtectionVoltage_V, kMaxProtectionVoltage_V,
                       counts->GetValueInBaseUnit() / ComputeDCBusVoltageScale(setup));
}

// The over-current threshold, from its converter counts, up to what motor and drive both stand.
bool WriteProtectionCurrent(CQel_Setup& setup, std::string_view target, double low_A) {
    const auto found = engine::FindInOrder<4>(setup, {target, "IMAXPROT", "ImaxM", "ImaxPS"});
    if (!found) {
        return false;
    }
    const auto [current, imaxprot, imaxM, imaxPS] = *found;
    return WriteWithin(*current, low_A,
                       std::min(imaxM->GetValueInBaseUnit(), imaxPS->GetValueInBaseUnit()),
                       imaxprot->GetValueInBaseUnit() / ComputeCurrentScale(setup));
}

// A protection delay, from its count of speed-loop periods.
bool WriteProtectionDelay(CQel_Setup& setup, std::string_view target,
                          std::string_view registerName) {
    const auto found =
        engine::FindInOrder<5>(setup, {target, registerName, "SLPER", "PWMPER", "DSP_freq"});
    if (!found) {
        return false;
    }
    const double period_s = ComputeSpeedLoopPeriod(setup);
    return WriteWithin(*(*found)[0], kMinProtectionDelay_s, kMaxProtectionDelayPeriods * period_s,
                       (*found)[1]->GetValueInBaseUnit() * period_s);
}

bool MotorTemperatureDisabled(const CQel_Setup& setup) {
    const QuietLookups quiet;
    return setup.GetIntOption("DisableMotorTemperature") != 0;
}

}  // namespace

namespace derive {

bool isDriveTemperatureSensor(CQel_Setup& setup) {
    return FlagFromBit(setup, "isDriveTemperatureSensor", "SCR",
                       regfmt::kScrDriveTemperatureSensorBit);
}

bool isOverVoltage(CQel_Setup& setup) {
    return FlagFromBit(setup, "isOverVoltage", "PCR", regfmt::kPcrOverVoltageBit);
}

bool isUnderVoltage(CQel_Setup& setup) {
    return FlagFromBit(setup, "isUnderVoltage", "PCR", regfmt::kPcrUnderVoltageBit);
}

bool isDriveOverTemp(CQel_Setup& setup) {
    return FlagFromBit(setup, "isDriveOverTemp", "PCR", regfmt::kPcrDriveOverTempBit);
}

bool isDriveI2t(CQel_Setup& setup) {
    return FlagFromBit(setup, "isDriveI2t", "PCR", regfmt::kPcrDriveI2tBit);
}

bool UMAX_PROT(CQel_Setup& setup) {
    return WriteBusVoltage(setup, "UMAX_PROT", "UMAXPROT");
}

bool UMIN_PROT(CQel_Setup& setup) {
    return WriteBusVoltage(setup, "UMIN_PROT", "UMINPROT");
}

bool Temp_2(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<5>(
        setup, {"Temp_2", "T2MAXPROT", "DriveTempOutputAt0oC", "DriveTempSensorGain", "ADCrange"});
    if (!found) {
        return false;
    }
    const auto [temperature, counts, outputAt0, sensorGain, adcRange] = *found;
    // The sensor's voltage at the threshold, less its voltage at 0 degrees, over its gain.
    const double sensor_V =
        adcRange->GetValueInBaseUnit() * counts->GetValueInBaseUnit() / shape::AdcMax(setup);
    return WriteWithin(
        *temperature, kMinDriveTemperature_C, kMaxDriveTemperature_C,
        (sensor_V - outputAt0->GetValueInBaseUnit()) / sensorGain->GetValueInBaseUnit());
}

bool I_I2t_D(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(setup, {"I_I2t_D", "I2TINTLIM_D", "InPS", "ImaxPS"});
    if (!found) {
        return false;
    }
    const auto [current, limit, nominal, peak] = *found;
    const double nominal_A = nominal->GetValueInBaseUnit();
    return WriteWithin(
        *current, nominal_A, peak->GetValueInBaseUnit(),
        I2tCurrent_A(limit->GetValueInInternalUnit(), nominal_A, ComputeCurrentScale(setup)));
}

bool t_I2t_D(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<6>(
        setup, {"t_I2t_D", "Ts_S", "SFI2T_D", "SLPER", "PWMPER", "DSP_freq"});
    if (!found) {
        return false;
    }
    const auto [time, period, scale, slper, pwmper, dsp] = *found;
    const double period_s = ComputeSpeedLoopPeriod(setup);
    return WriteWithin(*time, kMinI2tTimePeriods * period_s, regfmt::kDriveI2tTimeScale * period_s,
                       I2tTime_s(period->GetValueInBaseUnit(), scale->GetValueInBaseUnit()));
}

bool isOverCurrent(CQel_Setup& setup) {
    return FlagFromBit(setup, "isOverCurrent", "PCR", regfmt::kPcrOverCurrentBit);
}

bool Imax_Prot(CQel_Setup& setup) {
    return WriteProtectionCurrent(setup, "Imax_Prot", kMinCurrentLimit_A);
}

bool TestProtectionCurrent(CQel_Setup& setup) {
    return WriteProtectionCurrent(setup, "TestProtectionCurrent", 0.0);
}

bool time_Imax_Prot(CQel_Setup& setup) {
    return WriteProtectionDelay(setup, "time_Imax_Prot", "TIMAXPROT");
}

bool isPositionControlError(CQel_Setup& setup) {
    return FlagFromValue(setup, "isPositionControlError", "TERRMAX", regfmt::kProtectionOff, false);
}

bool ERR_position(CQel_Setup& setup) {
    return MagnitudeFromCounts(setup, "ERR_position", "ERRMAX", 0.0, ComputePositionScale);
}

bool time_ERR_pos(CQel_Setup& setup) {
    return WriteProtectionDelay(setup, "time_ERR_pos", "TERRMAX");
}

bool isSpeedControlError(CQel_Setup& setup) {
    return FlagFromValue(setup, "isSpeedControlError", "TSERRMAX", regfmt::kProtectionOff, false);
}

bool ERR_speed(CQel_Setup& setup) {
    return MagnitudeFromCounts(setup, "ERR_speed", "SERRMAX", kMinSpeedError_rad_s,
                               ComputeSpeedScale);
}

bool time_ERR_spd(CQel_Setup& setup) {
    return WriteProtectionDelay(setup, "time_ERR_spd", "TSERRMAX");
}

bool isMotorOverTemp(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"isMotorOverTemp", "PCR"});
    if (!found) {
        return false;
    }
    const auto [flag, pcr] = *found;
    // A drive without a motor temperature input can only keep this protection off.
    const double high = MotorTemperatureDisabled(setup) ? 0.0 : 1.0;
    const bool on = engine::IsBitSet(pcr->GetValueInBaseUnit(), regfmt::kPcrMotorOverTempBit);
    return WriteWithin(*flag, 0.0, high, on ? 1.0 : 0.0);
}

bool isMotori2t(CQel_Setup& setup) {
    return FlagFromBit(setup, "isMotori2t", "PCR", regfmt::kPcrMotorI2tBit);
}

bool I_I2t_M(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(setup, {"I_I2t_M", "I2TINTLIM_M", "In", "ImaxM"});
    if (!found) {
        return false;
    }
    const auto [current, limit, nominal, peak] = *found;
    const double nominal_A = nominal->GetValueInBaseUnit();
    return WriteWithin(
        *current, kMinMotorI2tOverNominal * nominal_A, peak->GetValueInBaseUnit(),
        I2tCurrent_A(limit->GetValueInBaseUnit(), nominal_A, ComputeCurrentScale(setup)));
}

bool t_I2t_M(CQel_Setup& setup) {
    const auto found =
        engine::FindInOrder<5>(setup, {"t_I2t_M", "SLPER", "PWMPER", "DSP_freq", "SFI2T_M"});
    if (!found) {
        return false;
    }
    const double period_s = ComputeSpeedLoopPeriod(setup);
    return WriteWithin(*(*found)[0], kMinI2tTimePeriods * period_s,
                       regfmt::kDriveI2tTimeScale * period_s,
                       I2tTime_s(period_s, (*found)[4]->GetValueInBaseUnit()));
}

bool isBrakeResistor(CQel_Setup& setup) {
    return FlagFromBit(setup, "isBrakeResistor", "OSR", regfmt::kOsrBrakeResistorBit);
}

bool Vbrake(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"Vbrake", "BRAKELIM", "VdcMaxMeasurable"});
    if (!found) {
        return false;
    }
    const auto [voltage, counts, measurable] = *found;
    return WriteWithin(*voltage, kMinProtectionVoltage_V, measurable->GetValueInBaseUnit(),
                       counts->GetValueInBaseUnit() / ComputeDCBusVoltageScale(setup));
}

bool EnablePolarity(CQel_Setup& setup) {
    return FlagFromBit(setup, "EnablePolarity", "DIGIN_ACTIVE_LEVEL",
                       regfmt::kDiginEnablePolarityBit);
}

bool LSPPolarity(CQel_Setup& setup) {
    return FlagFromBit(setup, "LSPPolarity", "DIGIN_ACTIVE_LEVEL", regfmt::kDiginLspPolarityBit);
}

bool LSNPolarity(CQel_Setup& setup) {
    return FlagFromBit(setup, "LSNPolarity", "DIGIN_ACTIVE_LEVEL", regfmt::kDiginLsnPolarityBit);
}

}  // namespace derive
