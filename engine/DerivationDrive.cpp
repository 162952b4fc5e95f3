// Encoder and timing: what the drive's encoder and PWM registers say about the axis.
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
using derive::shape::WriteWithin;

// Most encoder lines the drive's 32-bit count per revolution (four counts a line) can hold.
constexpr double kMaxEncoderLines = 1073741823.0;
// The PWM period register counts DSP clocks per half PWM period.
constexpr double kHalvesPerPwmPeriod = 2.0;
// Motor temperature sensor types the drive knows.
constexpr double kMaxMotorTempSensorType = 1.0;

// The lowest and highest serial clock of the EnDat table.
double LowestEndatFrequency_Hz() {
    double lowest_Hz = regfmt::kEndatBaudRates[0].frequency_Hz;
    for (const regfmt::EndatBaudRate& rate : regfmt::kEndatBaudRates) {
        lowest_Hz = std::fmin(lowest_Hz, rate.frequency_Hz);
    }
    return lowest_Hz;
}

double HighestEndatFrequency_Hz() {
    double highest_Hz = regfmt::kEndatBaudRates[0].frequency_Hz;
    for (const regfmt::EndatBaudRate& rate : regfmt::kEndatBaudRates) {
        highest_Hz = std::fmax(highest_Hz, rate.frequency_Hz);
    }
    return highest_Hz;
}

// A loop period from the DSP clock: its divider times the PWM period.
bool WritePeriod(CQel_Setup& setup, std::string_view target, std::string_view divider,
                 double (*period)(const CQel_Setup&)) {
    const auto found = engine::FindInOrder<4>(setup, {target, divider, "PWMPER", "DSP_freq"});
    if (!found) {
        return false;
    }
    return (*found)[0]->SetValueInBaseUnit(period(setup));
}

}  // namespace

namespace derive {

double SpiFrequencyFromEndatCode(double code) {
    const auto whole = engine::RegisterBits(code);
    for (const regfmt::EndatBaudRate& rate : regfmt::kEndatBaudRates) {
        if (rate.code == whole) {
            return rate.frequency_Hz;
        }
    }
    return 0.0;
}

bool pp(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"pp", "ENC2THL", "MECRESL"});
    if (!found) {
        return false;
    }
    const auto [polePairs, enc2thl, mecresl] = *found;
    // ENC2THL is the electrical angle per encoder count as a 32-bit fraction of a turn, so the
    // counts of one revolution add up to pp electrical turns.
    double electricalTurns = mecresl->GetValueInBaseUnit() * enc2thl->GetValueInBaseUnit();
    if (HasElectricalResolutionFraction(setup)) {
        const CQel_Parameter* fraction = setup.FindParameter("ELRES_FRACT");
        electricalTurns *= std::exp2(fraction->GetValueInBaseUnit());
    }
    // ENC2THL holds its increment rounded to a whole 32-bit fraction, so the product misses a
    // whole number of electrical turns by up to MECRESL / 2 parts in 2^32 (300 lines give
    // 2.99999993): pole pairs are a count, the nearest whole number.
    return polePairs->SetValueInBaseUnit(std::round(electricalTurns / regfmt::kElectricalTurn));
}

bool isMultiTurn(CQel_Setup& setup) {
    return FlagFromValue(setup, "isMultiTurn", "ENDAT_NO_REV", 0.0, false);
}

bool No_Bits_Turns(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"No_Bits_Turns", "ENDAT_NO_REV"});
    if (!found) {
        return false;
    }
    const auto [bits, revolutions] = *found;
    // A single-turn encoder leaves the multi-turn width the user last chose.
    if (revolutions->GetValueInBaseUnit() == 0.0) {
        return true;
    }
    return bits->SetValueInBaseUnit(revolutions->GetValueInBaseUnit());
}

bool SPI_freq(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"SPI_freq", "ENDAT_BR"});
    if (!found) {
        return false;
    }
    const auto [frequency, code] = *found;
    // An unknown code gives 0, outside the range: the value is offered to the kernel as it is.
    return WriteWithin(*frequency, LowestEndatFrequency_Hz(), HighestEndatFrequency_Hz(),
                       SpiFrequencyFromEndatCode(code->GetValueInBaseUnit()));
}

bool isReverseCounting(CQel_Setup& setup) {
    return FlagFromValue(setup, "isReverseCounting", "ENDAT_SENSE", regfmt::kEndatReverseSense,
                         true);
}

bool No_encoder_lines(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"No_encoder_lines", "MECRESL"});
    if (!found) {
        return false;
    }
    const auto [lines, counts] = *found;
    return WriteWithin(*lines, 1.0, kMaxEncoderLines,
                       std::trunc(counts->GetValueInBaseUnit() / regfmt::kCountsPerLine));
}

bool isMotorTemperatureSensor(CQel_Setup& setup) {
    return FlagFromBit(setup, "isMotorTemperatureSensor", "SCR",
                       regfmt::kScrMotorTemperatureSensorBit);
}

bool Motor_TempSensor_Type(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"Motor_TempSensor_Type", "MTSTYPE"});
    if (!found) {
        return false;
    }
    const auto [type, mtstype] = *found;
    return WriteWithin(*type, 0.0, kMaxMotorTempSensorType,
                       std::trunc(mtstype->GetValueInBaseUnit()));
}

bool PWM_freq(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"PWM_freq", "DSP_freq", "PWMPER"});
    if (!found) {
        return false;
    }
    const auto [frequency, dsp, pwmper] = *found;
    return frequency->SetValueInBaseUnit(dsp->GetValueInBaseUnit() / kHalvesPerPwmPeriod /
                                         pwmper->GetValueInBaseUnit());
}

bool PWMperiod(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"PWMperiod", "DSP_freq", "PWMPER"});
    if (!found) {
        return false;
    }
    const auto [period, dsp, pwmper] = *found;
    return period->SetValueInBaseUnit(pwmper->GetValueInBaseUnit() * kHalvesPerPwmPeriod /
                                      dsp->GetValueInBaseUnit());
}

bool Ts_C(CQel_Setup& setup) {
    return WritePeriod(setup, "Ts_C", "CLPER", ComputeCurrentLoopPeriod);
}

bool Ts_S(CQel_Setup& setup) {
    return WritePeriod(setup, "Ts_S", "SLPER", ComputeSpeedLoopPeriod);
}

bool PosSpd_in_FastLoop(CQel_Setup& setup) {
    if (!HasParameters(setup, {"PosSpd_in_FastLoop"})) {
        return true;
    }
    return FlagFromBit(setup, "PosSpd_in_FastLoop", "UPGRADE", regfmt::kUpgradePosSpdInFastLoopBit);
}

}  // namespace derive
