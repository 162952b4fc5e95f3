#include "engine/AxisOptions.h"

#include <array>
#include <cmath>
#include <optional>
#include <string_view>
#include <utility>

#include "engine/QuietProbes.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

namespace {

// PositionControlType 0: the position controller drives the current loop directly.
constexpr double kPositionControlOnCurrent = 0.0;

// What this module's axis is: a motor with an indexed encoder on its shaft, never a stepper.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kFixedOptions = {{
    {"IsStepMotor", "0"},
    {"IsStepperOpenLoop", "0"},
    {"isPositionFeedbackOnLoad", "0"},
    {"isPositionFeedbackOnMotor", "1"},
    {"isSpeedFeedback", "0"},
    {"isIndex", "1"},
}};

struct ClosedLoops {
    std::string_view position;
    std::string_view speed;
    std::string_view current;
};

// The linear and the rotary unit of one kind of quantity.
struct UnitPair {
    std::string_view linear;
    std::string_view rotary;
};
constexpr UnitPair kPositionUnits = {"mm", "rot"};
// Speeds the user types as test and reference values read best in rpm; limits and errors in rad/s.
constexpr UnitPair kSpeedUnits = {"m/s", "rpm"};
constexpr UnitPair kSpeedLimitUnits = {"m/s", "rad/s"};
constexpr UnitPair kAccelerationUnits = {"m/s^2", "rad/s^2"};
constexpr UnitPair kJerkUnits = {"m/s^3", "rad/s^3"};

struct UnitAssignment {
    std::string_view name;
    UnitPair units;
};

constexpr std::array<UnitAssignment, 6> kLoadParameters = {{
    {"Load_transmission", kPositionUnits},
    {"TestSpeed", kSpeedUnits},
    {"Limit_Speed", kSpeedLimitUnits},
    {"TestPosition", kPositionUnits},
    {"ERR_position", kPositionUnits},
    {"ERR_speed", kSpeedLimitUnits},
}};
constexpr std::array<UnitAssignment, 4> kAnalogueReferenceParameters = {{
    {"POS_max", kPositionUnits},
    {"POS_min", kPositionUnits},
    {"SPD_max", kSpeedUnits},
    {"SPD_min", kSpeedUnits},
}};
constexpr std::array<UnitAssignment, 2> kExternalReferenceParameters = {{
    {"ErefMaxSpeed", kSpeedUnits},
    {"ErefMaxAcceleration", kAccelerationUnits},
}};
constexpr std::array<UnitAssignment, 1> kFreezeControlParameters = {{
    {"FreezeControl_errband", kPositionUnits},
}};
constexpr std::array<UnitAssignment, 2> kSoftwareLimitParameters = {{
    {"Negative_SWLS", kPositionUnits},
    {"Positive_SWLS", kPositionUnits},
}};

constexpr std::array<UnitAssignment, 37> kLoadVariables = {{
    {"Load_Position", kPositionUnits},
    {"Load_Speed", kSpeedUnits},
    {"Target_Position", kPositionUnits},
    {"Target_Speed", kSpeedUnits},
    {"Speed_Reference", kSpeedUnits},
    {"Position_Error", kPositionUnits},
    {"Speed_Error", kSpeedUnits},
    {"Pulse_Dir_Input_Speed", kSpeedUnits},
    {"Pulse_Dir_Input_Position", kPositionUnits},
    {"APOS", kPositionUnits},
    {"APOS_LD", kPositionUnits},
    {"ASPD_LD", kSpeedUnits},
    {"CACC", kAccelerationUnits},
    {"CAPPOS", kPositionUnits},
    {"CDEC", kAccelerationUnits},
    {"CPOS", kPositionUnits},
    {"CSPD", kSpeedUnits},
    {"EREFP", kPositionUnits},
    {"EREFS", kSpeedUnits},
    {"ERRMAX", kPositionUnits},
    {"HOMEPOS", kPositionUnits},
    {"HOMESPD", kSpeedUnits},
    {"JERK", kJerkUnits},
    {"POSERR", kPositionUnits},
    {"POSINIT", kPositionUnits},
    {"POSOKLIM", kPositionUnits},
    {"POSTRIGG1", kPositionUnits},
    {"POSTRIGG2", kPositionUnits},
    {"POSTRIGG3", kPositionUnits},
    {"POSTRIGG4", kPositionUnits},
    {"SERRMAX", kSpeedUnits},
    {"SPDERR", kSpeedUnits},
    {"SPDREF", kSpeedUnits},
    {"TACC", kAccelerationUnits},
    {"TPOS", kPositionUnits},
    {"TPOSFAST", kPositionUnits},
    {"TSPD", kSpeedUnits},
}};

// The loops the drive closes in each control mode; nothing for a mode it does not know.
std::optional<ClosedLoops> LoopsOfControlMode(CQel_Setup& setup) {
    const CQel_Parameter* controlMode = setup.FindParameter("ControlMode");
    if (controlMode == nullptr) {
        return std::nullopt;
    }
    const double mode = std::trunc(controlMode->GetValueInBaseUnit());
    if (mode == regfmt::kControlModeSpeed) {
        return ClosedLoops{"0", "1", "1"};
    }
    if (mode == regfmt::kControlModeTorque) {
        return ClosedLoops{"0", "0", "1"};
    }
    if (mode != regfmt::kControlModePosition) {
        return std::nullopt;
    }
    const CQel_Parameter* positionControlType = setup.FindParameter("PositionControlType");
    if (positionControlType == nullptr) {
        return std::nullopt;
    }
    const double type = std::trunc(positionControlType->GetValueInBaseUnit());
    if (type == kPositionControlOnCurrent) {
        return ClosedLoops{"1", "0", "1"};
    }
    if (type == regfmt::kPositionControlWithSpeedLoop) {
        return ClosedLoops{"1", "1", "1"};
    }
    return std::nullopt;
}

template <std::size_t N>
void ChangeParameterUnits(CQel_Setup& setup, const std::array<UnitAssignment, N>& assignments,
                          bool linear) {
    for (const UnitAssignment& assignment : assignments) {
        if (CQel_Parameter* parameter = setup.FindParameter(assignment.name)) {
            parameter->ChangeUnitType(linear ? assignment.units.linear : assignment.units.rotary);
        }
    }
}

}  // namespace

bool SetFixedOptions(CQel_Setup& setup) {
    for (const auto& [name, text] : kFixedOptions) {
        setup.SetOption(name, text);
    }
    const std::optional<ClosedLoops> loops = LoopsOfControlMode(setup);
    if (!loops) {
        return false;
    }
    setup.SetOption("IsClosedPosition", loops->position);
    setup.SetOption("IsClosedSpeed", loops->speed);
    setup.SetOption("IsClosedCurrent", loops->current);
    return true;
}

bool SetUnitTypesByTransmission(CQel_Setup& setup) {
    const CQel_Parameter* transmissionType = setup.FindParameter("TransmissionType");
    if (transmissionType == nullptr) {
        return true;
    }
    const bool linear = transmissionType->GetValueInBaseUnit() != 0.0;

    ChangeParameterUnits(setup, kLoadParameters, linear);
    if (HasAnalogueReferenceInput(setup)) {
        ChangeParameterUnits(setup, kAnalogueReferenceParameters, linear);
    }
    ChangeParameterUnits(setup, kExternalReferenceParameters, linear);
    if (HasFreezeControl(setup)) {
        ChangeParameterUnits(setup, kFreezeControlParameters, linear);
    }
    if (HasSoftwareLimitSwitches(setup)) {
        ChangeParameterUnits(setup, kSoftwareLimitParameters, linear);
    }
    for (const UnitAssignment& assignment : kLoadVariables) {
        if (CQel_Variable* variable = setup.FindVariable(assignment.name, 1)) {
            variable->ChangeUnitType(linear ? assignment.units.linear : assignment.units.rotary);
        }
    }
    return true;
}

bool ForceSpeedForward(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(
        setup, {"SpeedForward", "ControlMode", "PositionControlType", "ACR"});
    if (!found) {
        return false;
    }
    const auto [speedForward, controlMode, positionControlType, acr] = *found;
    // With a speed loop under the position loop, the feed-forward stays the user's choice.
    if (std::trunc(controlMode->GetValueInBaseUnit()) == regfmt::kControlModePosition &&
        std::trunc(positionControlType->GetValueInBaseUnit()) ==
            regfmt::kPositionControlWithSpeedLoop) {
        return true;
    }
    const bool flagWritten = speedForward->SetValueInInternalUnit(1.0);
    const bool bitWritten = acr->SetValueInBaseUnit(
        engine::WithBit(acr->GetValueInBaseUnit(), regfmt::kAcrSpeedForwardBit, true));
    return flagWritten && bitWritten;
}
