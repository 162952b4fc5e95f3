// Registers of the power stage, the encoder and the motor start.
#include <algorithm>
#include <cmath>

#include "engine/BaseScales.h"
#include "engine/PhaseConnection.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterComputationSteps.h"
#include "engine/RegisterFormats.h"

using compute::support::ComputeFrom;
using compute::support::Store;
using compute::support::Units;

namespace {

// The PWM counter counts up and down, so PWMPER holds half a PWM period in DSP clocks.
constexpr double kCounterPeriodsPerPwmPeriod = 2.0;
// The PWM saturation keeps 2 us of every PWM period free for the current measurement, as a share
// of the 65535-count span: 65535 x 2e-6 per hertz of PWM frequency.
constexpr double kMeasurementWindowShare_per_Hz = 0.13107;
constexpr double kPercent = 100.0;
// The drive resolves 2^10 counts per electrical turn; interpolation fills in what the encoder
// lacks, with at most 8 bits, and only where the encoder gives at most 2^9 counts per turn.
constexpr double kElectricalResolutionBits = 10.0;
constexpr double kLargestCountBitsToInterpolate = 9.0;
constexpr double kMaxInterpolationBits = 8.0;
// The minimum move of the absolute start is a share of a third of an electrical turn.
constexpr double kAbsoluteStartTurnShare = 1.0 / 3.0;

double EndatCode(double frequency_Hz) {
    // The clock is a whole number of hertz; anything else is no clock the encoder takes.
    const double whole_Hz = std::round(frequency_Hz);
    for (const regfmt::EndatBaudRate& rate : regfmt::kEndatBaudRates) {
        if (rate.frequency_Hz == whole_Hz) {
            return rate.code;
        }
    }
    return 0.0;
}

bool CopyPwmSaturation(CQel_Setup& setup, std::string_view target) {
    return ComputeFrom(setup, target, {"SATPWM"}, [](double saturation) { return saturation; });
}

bool TimeBetweenPhaseTests(CQel_Setup& setup, std::string_view target) {
    return ComputeFrom(setup, target, {"time_AB", "UPGRADE"}, [](double time_s, double upgrade) {
        return time_s * (engine::IsBitSet(upgrade, regfmt::kUpgradeSlowTimeBaseBit)
                             ? regfmt::kSlowTimeBaseCountsPerSecond
                             : regfmt::kFastTimeBaseCountsPerSecond);
    });
}

// The start voltage of REFTST and RINCTST: what drives StartCurrent through the winding, plus what
// the dead time takes from every PWM period.
bool StartVoltage(CQel_Setup& setup, std::string_view target) {
    return ComputeFrom(
        setup, target, {"R", "In", "StartCurrent", "PWM_freq", "Vdc", "MotorPhaseConnectionType"},
        [&setup](double resistance_Ohm, double nominal_A, double start_percent, double pwm_Hz,
                 double bus_V, double connection) {
            const double voltageScale = ComputeMotorVoltageScale(setup);
            const double phase_Ohm = engine::StarPhaseValue(resistance_Ohm, connection);
            return voltageScale * start_percent * nominal_A * phase_Ohm / kPercent +
                   pwm_Hz * ComputeDeadTime(setup) * bus_V * voltageScale;
        });
}

}  // namespace

bool compute::PWMPER(CQel_Setup& setup) {
    return ComputeFrom(setup, "PWMPER", {"DSP_freq", "PWM_freq"}, [](double dsp_Hz, double pwm_Hz) {
        return dsp_Hz / kCounterPeriodsPerPwmPeriod / pwm_Hz;
    });
}

bool compute::SATPWM(CQel_Setup& setup) {
    return ComputeFrom(setup, "SATPWM", {"CurrentMeasurementType", "PWM_freq"},
                       [](double measurementType, double pwm_Hz) {
                           return std::trunc(measurementType) != 0.0
                                      ? pwm_Hz * kMeasurementWindowShare_per_Hz
                                      : 0.0;
                       });
}

bool compute::ENDAT_RES(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "ENDAT_RES", {"No_encoder_lines"},
        [](double lines) { return support::CeilLog2(lines * regfmt::kCountsPerLine); },
        Units::Internal);
}

bool compute::ENDAT_NO_REV(CQel_Setup& setup) {
    return ComputeFrom(setup, "ENDAT_NO_REV", {"isMultiTurn", "No_Bits_Turns"},
                       [](double multiTurn, double turnBits) {
                           return std::trunc(multiTurn) != 0.0 ? turnBits : 0.0;
                       });
}

bool compute::ENDAT_BR(CQel_Setup& setup) {
    return ComputeFrom(setup, "ENDAT_BR", {"SPI_freq"}, EndatCode);
}

bool compute::ENDAT_SENSE(CQel_Setup& setup) {
    return ComputeFrom(setup, "ENDAT_SENSE", {"isReverseCounting"}, [](double reverse) {
        return std::trunc(reverse) == 0.0 ? 1.0 : regfmt::kEndatReverseSense;
    });
}

namespace {

// Interpolation bits the drive adds to the encoder counts of one electrical turn, so that a coarse
// encoder still gives about 1024 counts per electrical turn.
double ElectricalResolutionFraction(double lines, double polePairs) {
    const double countBits = compute::support::CeilLog2(lines * regfmt::kCountsPerLine / polePairs);
    // A count of bits that is not a number (no pole pairs) is no encoder to interpolate.
    return countBits >= 0.0 && countBits <= kLargestCountBitsToInterpolate
               ? std::min(kElectricalResolutionBits - countBits, kMaxInterpolationBits)
               : 0.0;
}

}  // namespace

bool compute::MECRESL(CQel_Setup& setup) {
    return ComputeFrom(setup, "MECRESL", {"No_encoder_lines"},
                       [](double lines) { return lines * regfmt::kCountsPerLine; });
}

bool compute::ENC2THL(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"ENC2THL", "pp", "No_encoder_lines"});
    if (!found) {
        return false;
    }
    const auto [angleStep, polePairs, lines] = *found;
    // The fraction the electrical-resolution step writes later in the same run, not the one the
    // setup holds now: the angle increment must match the fraction the drive will get, or a
    // change of lines or pole pairs would leave both registers out of step.
    const double interpolationBits =
        HasElectricalResolutionFraction(setup)
            ? ElectricalResolutionFraction(lines->GetValueInBaseUnit(),
                                           polePairs->GetValueInBaseUnit())
            : 0.0;
    const double countsPerTurn =
        lines->GetValueInBaseUnit() * regfmt::kCountsPerLine * std::exp2(interpolationBits);
    return Store(*angleStep,
                 polePairs->GetValueInBaseUnit() * regfmt::kElectricalTurn / countsPerTurn);
}

bool compute::MTSTYPE(CQel_Setup& setup) {
    return ComputeFrom(setup, "MTSTYPE", {"Motor_TempSensor_Type"},
                       [](double type) { return engine::IsOne(type) ? 1.0 : 0.0; });
}

bool compute::AAR_table(CQel_Setup& setup) {
    return ComputeFrom(setup, "AAR_table", {"Axis_ID_list"}, [](double axisId) {
        return std::trunc(axisId) != 0.0 ? axisId + regfmt::kAxisIdOffset : 0.0;
    });
}

bool compute::SATID(CQel_Setup& setup) {
    return CopyPwmSaturation(setup, "SATID");
}

bool compute::SATIQ(CQel_Setup& setup) {
    return CopyPwmSaturation(setup, "SATIQ");
}

bool compute::FILTERQ(CQel_Setup& setup) {
    return ComputeFrom(setup, "FILTERQ",
                       {"isUseFilterOnCrtCtrlOutput", "FilterOnCurrentControllerOutput"},
                       [&setup](double useFilter, double cutoff_rad_s) {
                           if (std::trunc(useFilter) == 0.0) {
                               return regfmt::kQ15;
                           }
                           return std::trunc(support::FirstOrderFilterRegister(
                               cutoff_rad_s, ComputeCurrentLoopPeriod(setup)));
                       });
}

bool compute::FFL(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "FFL", {"OffsetCurrent", "isCompensateGravitationalLoads"},
        [&setup](double offset_A, double compensate) {
            return std::trunc(compensate) != 0.0 ? offset_A * ComputeCurrentScale(setup) : 0.0;
        });
}

bool compute::KFFL(CQel_Setup& setup) {
    // The load-current feed-forward always passes FFL at full gain.
    return support::StoreConstant(setup, "KFFL", regfmt::kQ15);
}

bool compute::GEAR(CQel_Setup& setup) {
    return ComputeFrom(setup, "GEAR", {"GEARSLAVE", "GEARMASTER"},
                       [](double slave, double master) { return slave / master; });
}

bool compute::T1ONA(CQel_Setup& setup) {
    return TimeBetweenPhaseTests(setup, "T1ONA");
}

bool compute::T1ONB(CQel_Setup& setup) {
    return TimeBetweenPhaseTests(setup, "T1ONB");
}

bool compute::REFTST(CQel_Setup& setup) {
    return StartVoltage(setup, "REFTST");
}

bool compute::RINCTST(CQel_Setup& setup) {
    return StartVoltage(setup, "RINCTST");
}

bool compute::ELRESL(CQel_Setup& setup) {
    return ComputeFrom(setup, "ELRESL", {"No_encoder_lines", "pp"},
                       [](double lines, double pp) { return lines * regfmt::kCountsPerLine / pp; });
}

bool compute::ELRES_FRACT(CQel_Setup& setup) {
    if (!HasElectricalResolutionFraction(setup)) {
        return true;
    }
    const auto found =
        engine::FindInOrder<4>(setup, {"ELRES_FRACT", "SINCOS_fract", "No_encoder_lines", "pp"});
    if (!found) {
        return false;
    }
    const auto [fraction, interpolation, lines, polePairs] = *found;
    const double bits =
        ElectricalResolutionFraction(lines->GetValueInBaseUnit(), polePairs->GetValueInBaseUnit());
    if (!Store(*fraction, bits)) {
        return false;
    }
    return SetParameterRange(*interpolation, bits,
                             std::max(bits, interpolation->GetMaxInBaseUnit()));
}

bool compute::ABSTART_MINMOVE(CQel_Setup& setup) {
    if (!HasAbsoluteStartMinMove(setup)) {
        return true;
    }
    return ComputeFrom(setup, "ABSTART_MINMOVE", {"pp", "No_encoder_lines", "SINCOS_fract"},
                       [&setup](double pp, double lines, double interpolationBits) {
                           const double countsPerElectricalTurn =
                               std::exp2(interpolationBits) * lines * regfmt::kCountsPerLine / pp;
                           return countsPerElectricalTurn * kAbsoluteStartTurnShare *
                                  GetAbsoluteStartMinMovePercent(setup) / kPercent;
                       });
}
