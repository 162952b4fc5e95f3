#include "module/UnitScales.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "engine/BaseScales.h"
#include "engine/QuietProbes.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"

namespace {

// Radians of electrical angle per unit of the test angle: the drive's angle register spans
// +-pi over +-32767 (not 32768).
constexpr double kTestAngle_rad = 9.587672516830327e-5;
// The electrical-angle register is a 32-bit fraction of a turn.
constexpr int kElectricalAngleBits = 32;

double Adcmax(const CQel_Setup& setup) {
    return static_cast<double>(Compute_ADCMaxValue(setup));
}

double Base(const CQel_Setup& setup, const char* name) {
    return setup.GetParameterValueInBaseUnit(name);
}

double AnalogueInputVolts(const CQel_Setup& setup) {
    return Base(setup, "AnalogueInputsRange") / Adcmax(setup);
}

double TestAngleIncrement(const CQel_Setup& setup) {
    double turnsPerCount = setup.GetParameterValueInInternalUnit("MECRESL") *
                           setup.GetParameterValueInInternalUnit("ENC2THL");
    if (HasElectricalResolutionFraction(setup)) {
        turnsPerCount *= std::exp2(Base(setup, "ELRES_FRACT"));
    }
    const double polePairs = RoundDecimalValue(std::ldexp(turnsPerCount, -kElectricalAngleBits), 0);
    return kTestAngle_rad / ComputeCurrentLoopPeriod(setup) / polePairs;
}

double DegreesCelsius(const CQel_Setup& setup) {
    return Base(setup, "ADCrange") / (Adcmax(setup) * Base(setup, "DriveTempSensorGain"));
}

using FactorFunction = double (*)(const CQel_Setup&);

struct FactorRule {
    std::vector<std::string_view> units;
    std::vector<std::string_view> parameters;  // empty: any parameter
    FactorFunction factor;
};

template <FactorFunction kScale>
double Inverse(const CQel_Setup& setup) {
    return 1.0 / kScale(setup);
}

template <FactorFunction kScale>
double InverseMagnitude(const CQel_Setup& setup) {
    return 1.0 / std::fabs(kScale(setup));
}

template <FactorFunction kScale>
double InversePerSpeedPeriod(const CQel_Setup& setup) {
    return 1.0 / kScale(setup) / ComputeSpeedLoopPeriod(setup);
}

double One(const CQel_Setup& /*setup*/) {
    return 1.0;
}
double TestAngle(const CQel_Setup& /*setup*/) {
    return kTestAngle_rad;
}

// Limits, errors and test values of position and speed are magnitudes: they convert with a
// positive factor whatever the sign of the transmission, while actual positions and speeds keep it.
const std::vector<std::string_view> kPositionMagnitudes = {"ERR_position", "FreezeControl_errband",
                                                           "TestPosition", "POS_max", "POS_min"};
const std::vector<std::string_view> kSpeedMagnitudes = {"ERR_speed", "Limit_Speed", "ErefMaxSpeed",
                                                        "TestSpeed", "SPD_max",     "SPD_min"};

// Tested in this order; the first rule whose unit and parameter match decides.
const std::vector<FactorRule>& FactorRules() {
    static const std::vector<FactorRule> rules = {
        {{"V "}, {}, Inverse<ComputeDCBusVoltageScale>},
        {{"V"}, {"AnalogueInputsRange"}, One},
        {{"V"},
         {"DeadBand_Point", "DeadBand_Range", "AD2", "AD2FIL_VAL", "AD5"},
         AnalogueInputVolts},
        {{"V"}, {}, Inverse<ComputeMotorVoltageScale>},
        {{"A"}, {}, Inverse<ComputeCurrentScale>},
        {{"s"}, {"Ts_C"}, ComputeCurrentLoopPeriod},
        {{"s"}, {}, ComputeSpeedLoopPeriod},
        {{"rad"}, {"Motor_Position", "APOS_MT"}, Inverse<ComputeMotorPositionScale>},
        {{"rad"}, {"THTST"}, TestAngle},
        {{"rad"}, kPositionMagnitudes, InverseMagnitude<ComputePositionScale>},
        {{"rad"}, {}, Inverse<ComputePositionScale>},
        {{"m"}, kPositionMagnitudes, InverseMagnitude<ComputePositionScale>},
        {{"m"}, {}, Inverse<ComputePositionScale>},
        {{"rad/s"},
         {"Motor_Speed", "ASPD", "ASPD_MT", "TestMaxSpeed", "SPDREF", "Motor_Speed_Reference"},
         Inverse<ComputeMotorSpeedScale>},
        {{"rad/s"}, {"TINCTST"}, TestAngleIncrement},
        {{"rad/s"}, kSpeedMagnitudes, InverseMagnitude<ComputeSpeedScale>},
        {{"rad/s"}, {}, Inverse<ComputeSpeedScale>},
        {{"m/s"}, kSpeedMagnitudes, InverseMagnitude<ComputeSpeedScale>},
        {{"m/s"}, {}, Inverse<ComputeSpeedScale>},
        {{"rad/s^2", "m/s^2"}, {}, Inverse<ComputeAccelerationScale>},
        {{"rad/s^3", "m/s^3"}, {}, Inverse<ComputeJerkScale>},
        {{qel::kDegreesCelsius}, {}, DegreesCelsius},
        {{"V/s"}, {}, InversePerSpeedPeriod<ComputeMotorVoltageScale>},
        {{"A/s"}, {}, InversePerSpeedPeriod<ComputeCurrentScale>},
    };
    return rules;
}

bool NameIn(const std::vector<std::string_view>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(), [name](std::string_view listed) {
        return qel::EqualsIgnoringCase(listed, name);
    });
}

}  // namespace

double ScaleFactorFor(const CQel_Setup& setup, std::string_view unitName,
                      std::string_view parameterName) {
    const std::string unit = qel::NormalizeUnitName(unitName);
    for (const FactorRule& rule : FactorRules()) {
        if (NameIn(rule.units, unit) &&
            (rule.parameters.empty() || NameIn(rule.parameters, parameterName))) {
            return rule.factor(setup);
        }
    }
    return 1.0;
}

double ScaleOffsetFor(const CQel_Setup& setup, std::string_view unitName) {
    if (!qel::EqualsIgnoringCase(qel::NormalizeUnitName(unitName), qel::kDegreesCelsius)) {
        return 0.0;
    }
    // The sensor's output at 0 degrees, in converter counts, taken off before the gain applies.
    return -(Adcmax(setup) * Base(setup, "DriveTempOutputAt0oC") / Base(setup, "ADCrange"));
}
