#include "engine/QuietProbes.h"

#include <algorithm>

#include "host/kernel/ErrorReport.h"
#include "host/kernel/Setup.h"

namespace {

// Share of the motion between two electrical poles the motionless start moves at least, when the
// setup does not say.
constexpr double kDefaultAbsoluteStartMinMove_percent = 60.0;

bool OptionReadsOne(const CQel_Setup& setup, std::string_view name) {
    const QuietLookups quiet;
    return setup.GetIntOption(name) == 1;
}

double ValueOr(const CQel_Setup& setup, std::string_view name, double fallback) {
    const CQel_Parameter* parameter = nullptr;
    {
        const QuietLookups quiet;
        parameter = setup.FindParameter(name);
    }
    return parameter != nullptr ? parameter->GetValueInBaseUnit() : fallback;
}

}  // namespace

QuietLookups::QuietLookups() : savedShowErrors_(g_bShowErrors) {
    g_bShowErrors = 0;
}

QuietLookups::~QuietLookups() {
    g_bShowErrors = savedShowErrors_;
}

bool HasParameters(const CQel_Setup& setup, std::initializer_list<std::string_view> names) {
    const QuietLookups quiet;
    return std::all_of(names.begin(), names.end(), [&setup](std::string_view name) {
        return setup.FindParameter(name) != nullptr;
    });
}

bool HasAnalogueReferenceInput(const CQel_Setup& setup) {
    const QuietLookups quiet;
    // The variable is looked up first, then the parameter of the same name.
    return setup.FindVariable("CADIN", 1) != nullptr && setup.FindParameter("CADIN") != nullptr;
}

bool HasAngleController(const CQel_Setup& setup) {
    return HasParameters(setup, {"KPTHT"});
}
bool HasStartPosition(const CQel_Setup& setup) {
    return HasParameters(setup, {"START_POS"});
}
bool HasAcquisitionsNumber(const CQel_Setup& setup) {
    return HasParameters(setup, {"AquisitionsNo"});
}
bool HasSamplingRate(const CQel_Setup& setup) {
    return HasParameters(setup, {"SamplingRate"});
}
bool HasSoftwareLimitSwitches(const CQel_Setup& setup) {
    return HasParameters(setup, {"isSWLS"});
}
bool HasSpeedEstimator(const CQel_Setup& setup) {
    return HasParameters(setup, {"isSpeedEstimator"});
}
bool HasCANSettings(const CQel_Setup& setup) {
    return HasParameters(setup, {"save_CAN_baudrate", "save_axis_id"});
}
bool HasMotorBrake(const CQel_Setup& setup) {
    return HasParameters(setup, {"BRAKECFG", "isMotorBrake"});
}
bool HasFreezeControl(const CQel_Setup& setup) {
    return HasParameters(setup, {"POSOKLIM_FC", "TONPOSOK_FC"});
}
bool HasInputsPolarityType(const CQel_Setup& setup) {
    return HasParameters(setup, {"InputsPolarityType"});
}
bool HasTransmissionRegister(const CQel_Setup& setup) {
    return HasParameters(setup, {"TRANSMISSION"});
}
bool HasBiquadFilters(const CQel_Setup& setup) {
    return HasParameters(setup, {"IQREF_BQ_INI"});
}
bool HasSpeedTestReferenceType(const CQel_Setup& setup) {
    return HasParameters(setup, {"SpeedTestReferenceType"});
}
bool HasAbsoluteStartMinMove(const CQel_Setup& setup) {
    return HasParameters(setup, {"ABSTART_MINMOVE"});
}
bool HasI2tWarningLimits(const CQel_Setup& setup) {
    return HasParameters(setup, {"II2TWARLIM_D", "I2TWARLIM_M"});
}
bool HasElectricalResolutionFraction(const CQel_Setup& setup) {
    return HasParameters(setup, {"ELRES_FRACT"});
}
bool HasReverseCounting(const CQel_Setup& setup) {
    return HasParameters(setup, {"ReverseCounting"});
}
bool HasSpeedForward(const CQel_Setup& setup) {
    return HasParameters(setup, {"SpeedForward"});
}
bool HasEncoderFilter(const CQel_Setup& setup) {
    return HasParameters(setup, {"isFilterEnc", "FilterEncValue"});
}

bool AllowsNegativeTransmission(const CQel_Setup& setup) {
    return OptionReadsOne(setup, "hasNegTransmission");
}
bool HidesEnablePolarity(const CQel_Setup& setup) {
    return OptionReadsOne(setup, "hideEnablePolarity");
}
bool UsesNewDeadBand(const CQel_Setup& setup) {
    return OptionReadsOne(setup, "NewDeadBand");
}

int GetInputsTypeProgrammable(const CQel_Setup& setup) {
    const std::string text = setup.GetOptionNoError("IsInputsTypeProgrammable");
    if (text.empty()) {
        return -1;
    }
    const QuietLookups quiet;
    return setup.GetIntOption("IsInputsTypeProgrammable");
}

double GetAbsoluteStartMinMovePercent(const CQel_Setup& setup) {
    return ValueOr(setup, "ABSTART_MINMOVE_PERCENT", kDefaultAbsoluteStartMinMove_percent);
}
double GetMinCurrentLoopPeriod(const CQel_Setup& setup) {
    return ValueOr(setup, "Ts_C_min", 0.0);
}
double GetMinSpeedLoopPeriod(const CQel_Setup& setup) {
    return ValueOr(setup, "Ts_S_min", 0.0);
}
