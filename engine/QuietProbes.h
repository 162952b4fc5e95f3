#pragma once

#include <initializer_list>
#include <string_view>

class CQel_Setup;

// Clears the kernel's error display for its lifetime and restores the saved value afterwards:
// looking for an optional name must not tell the user that it is missing.
class QuietLookups {
  public:
    QuietLookups();
    ~QuietLookups();
    QuietLookups(const QuietLookups&) = delete;
    QuietLookups& operator=(const QuietLookups&) = delete;

  private:
    int savedShowErrors_;
};

// Whether the setup holds every one of the named parameters, asked without reporting.
bool HasParameters(const CQel_Setup& setup, std::initializer_list<std::string_view> names);

// Optional features of the drive, each told by the presence of its parameters.
bool HasAnalogueReferenceInput(const CQel_Setup& setup);
bool HasAngleController(const CQel_Setup& setup);
bool HasStartPosition(const CQel_Setup& setup);
bool HasAcquisitionsNumber(const CQel_Setup& setup);
bool HasSamplingRate(const CQel_Setup& setup);
bool HasSoftwareLimitSwitches(const CQel_Setup& setup);
bool HasSpeedEstimator(const CQel_Setup& setup);
bool HasCANSettings(const CQel_Setup& setup);
bool HasMotorBrake(const CQel_Setup& setup);
bool HasFreezeControl(const CQel_Setup& setup);
bool HasInputsPolarityType(const CQel_Setup& setup);
bool HasTransmissionRegister(const CQel_Setup& setup);
bool HasBiquadFilters(const CQel_Setup& setup);
bool HasSpeedTestReferenceType(const CQel_Setup& setup);
bool HasAbsoluteStartMinMove(const CQel_Setup& setup);
bool HasI2tWarningLimits(const CQel_Setup& setup);
bool HasElectricalResolutionFraction(const CQel_Setup& setup);
bool HasReverseCounting(const CQel_Setup& setup);
bool HasSpeedForward(const CQel_Setup& setup);
bool HasEncoderFilter(const CQel_Setup& setup);

// Setup options that change the module's behaviour, read without reporting an absent one.
bool AllowsNegativeTransmission(const CQel_Setup& setup);
bool HidesEnablePolarity(const CQel_Setup& setup);
bool UsesNewDeadBand(const CQel_Setup& setup);
// -1 when the option is empty or absent, else its integer value.
int GetInputsTypeProgrammable(const CQel_Setup& setup);

// Optional values with their defaults.
double GetAbsoluteStartMinMovePercent(const CQel_Setup& setup);
double GetMinCurrentLoopPeriod(const CQel_Setup& setup);
double GetMinSpeedLoopPeriod(const CQel_Setup& setup);
