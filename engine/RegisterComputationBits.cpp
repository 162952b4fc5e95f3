// Bit-field registers: each named bit follows its flag, the other bits stay as the register held
// them unless the register's format says otherwise.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterComputationSteps.h"
#include "engine/RegisterFormats.h"

using compute::support::ComputeFrom;
using compute::support::IsOne;
using compute::support::Store;
using compute::support::Units;
using compute::support::WholePart;
using engine::RegisterBits;
using engine::WithBit;

namespace {

// OSR, ACR and UPGRADE are 16-bit registers.
constexpr std::int64_t kSixteenBits = 0xFFFF;
// This axis type runs with bit 13 of SCR set and bits 12 and 14 clear; SCR has no bits above 15.
constexpr std::int64_t kScrKeptBits = 0x8FFF;
constexpr std::int64_t kScrAxisTypeBits = 0x2000;
// PCR keeps bit 6 and its upper byte; the protections below are the user's.
constexpr std::int64_t kPcrKeptBits = 0xFF40;
// UPGRADE bit 15 must be clear in every setup this module writes.
constexpr int kUpgradeClearedBit = 15;
// DIGIN_ACTIVE_LEVEL: clearing the enable polarity clears the bits above it too.
constexpr std::int64_t kDiginBelowEnableBit = 0x7FFF;
// QUAL_ACT bits 16 to 23 hold the length of the encoder input qualification; QUAL_AQ2 bits 8 to 11,
// 14 and 15 its sampling pattern. The other bits stay.
constexpr std::int64_t kQualActKeptBits = 0xFF00FFFF;
constexpr int kQualActLengthShift = 16;
constexpr std::int64_t kQualAq2KeptBits = 0xFFFF30FF;
// Length and sampling pattern by FilterEncValue 0 to 12; other values switch qualification off.
constexpr std::array<std::int64_t, 13> kQualificationLengths = {0, 0, 1, 3, 2,  5, 3,
                                                                7, 4, 9, 5, 11, 6};
constexpr std::array<std::int64_t, 13> kQualificationPatterns = {
    0x4500, 0x8A00, 0x8A00, 0x4500, 0x8A00, 0x4500, 0x8A00,
    0x4500, 0x8A00, 0x4500, 0x8A00, 0x4500, 0x8A00};

// The register's kept bits, with the forced ones set.
double KeptBits(const CQel_Parameter& bitRegister, std::int64_t kept, std::int64_t forced = 0) {
    return static_cast<double>((RegisterBits(bitRegister.GetValueInBaseUnit()) & kept) | forced);
}

double WithBits(double value, std::int64_t mask, std::int64_t bits) {
    return static_cast<double>((RegisterBits(value) & ~mask) | bits);
}

// The optional parameter when the setup has it, asked without reporting its absence.
const CQel_Parameter* FindOptional(CQel_Setup& setup, bool present, std::string_view name) {
    return present ? setup.FindParameter(name) : nullptr;
}

// The drive's output pin for the port the user chose, or -1 when the drive has no such port.
int BrakePin(const CQel_Setup& setup, double port) {
    const double whole = std::trunc(port);
    if (!(whole >= 0.0 && whole <= std::numeric_limits<int>::max())) {
        return -1;
    }
    return setup.GetIOPinFromPort(static_cast<int>(whole));
}

}  // namespace

bool compute::SCR(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(
        setup, {"SCR", "isMotorTemperatureSensor", "isDriveTemperatureSensor"});
    if (!found) {
        return false;
    }
    const auto [scr, motorSensor, driveSensor] = *found;
    const CQel_Parameter* estimator =
        FindOptional(setup, HasSpeedEstimator(setup), "isSpeedEstimator");
    double value = KeptBits(*scr, kScrKeptBits, kScrAxisTypeBits);
    value = WithBit(value, regfmt::kScrMotorTemperatureSensorBit, IsOne(*motorSensor));
    value = WithBit(value, regfmt::kScrDriveTemperatureSensorBit, IsOne(*driveSensor));
    if (estimator != nullptr) {
        value = WithBits(value, regfmt::kScrSpeedSourceMask,
                         IsOne(*estimator) ? regfmt::kScrSpeedEstimator : 0);
    }
    return Store(*scr, value);
}

bool compute::OSR(CQel_Setup& setup) {
    const auto found =
        engine::FindInOrder<4>(setup, {"OSR", "isBrakeResistor", "isEnDatEncoder", "StartMode"});
    if (!found) {
        return false;
    }
    const auto [osr, brakeResistor, endat, startMode] = *found;
    const std::int64_t start = WholePart(*endat) != 0.0       ? regfmt::kOsrStartEndat
                               : WholePart(*startMode) != 0.0 ? regfmt::kOsrStartWithoutMove
                                                              : regfmt::kOsrStartDefault;
    double value =
        WithBit(KeptBits(*osr, kSixteenBits), regfmt::kOsrBrakeResistorBit, IsOne(*brakeResistor));
    value = WithBits(value, regfmt::kOsrStartMask, start);
    return Store(*osr, value);
}

bool compute::ASR(CQel_Setup& setup) {
    CQel_Parameter* asr = setup.FindParameter("ASR");
    if (asr == nullptr) {
        return false;
    }
    const CQel_Parameter* limitSwitches =
        FindOptional(setup, HasSoftwareLimitSwitches(setup), "isSWLS");
    const CQel_Parameter* polarity =
        FindOptional(setup, HasInputsPolarityType(setup), "InputsPolarityType");
    bool reversedLoad = false;
    if (AllowsNegativeTransmission(setup)) {
        const auto ratio =
            engine::FindInOrder<2>(setup, {"Motor_transmission", "Load_transmission"});
        if (!ratio) {
            return false;
        }
        reversedLoad = (*ratio)[0]->GetValueInBaseUnit() / (*ratio)[1]->GetValueInBaseUnit() < 0.0;
    }
    double value = asr->GetValueInBaseUnit();
    if (limitSwitches != nullptr) {
        value = WithBit(value, regfmt::kAsrSoftwareLimitSwitchesBit, IsOne(*limitSwitches));
    }
    if (polarity != nullptr) {
        value = WithBit(value, regfmt::kAsrInputsPolarityBit, !IsOne(*polarity));
    }
    return Store(*asr, WithBit(value, regfmt::kAsrNegativeTransmissionBit, reversedLoad));
}

bool compute::PCR(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<8>(
        setup, {"PCR", "isDriveI2t", "isUnderVoltage", "isOverVoltage", "isDriveOverTemp",
                "isMotorOverTemp", "isMotori2t", "isOverCurrent"});
    if (!found) {
        return false;
    }
    const auto [pcr, driveI2t, underVoltage, overVoltage, driveOverTemp, motorOverTemp, motorI2t,
                overCurrent] = *found;
    double value = KeptBits(*pcr, kPcrKeptBits);
    value = WithBit(value, regfmt::kPcrDriveI2tBit, IsOne(*driveI2t));
    value = WithBit(value, regfmt::kPcrUnderVoltageBit, IsOne(*underVoltage));
    value = WithBit(value, regfmt::kPcrOverVoltageBit, IsOne(*overVoltage));
    value = WithBit(value, regfmt::kPcrDriveOverTempBit, IsOne(*driveOverTemp));
    value = WithBit(value, regfmt::kPcrMotorOverTempBit, IsOne(*motorOverTemp));
    value = WithBit(value, regfmt::kPcrMotorI2tBit, IsOne(*motorI2t));
    value = WithBit(value, regfmt::kPcrOverCurrentBit, IsOne(*overCurrent));
    return Store(*pcr, value);
}

bool compute::ACR(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<7>(
        setup, {"ACR", "IsAutoActivatedAfterPowerOn", "isAnalogueReference", "DigitalReferenceType",
                "PositionControlType", "ControlMode", "ExternalReference"});
    if (!found) {
        return false;
    }
    const auto [acr, autoActivated, analogue, digitalType, positionControlType, controlMode,
                external] = *found;
    const CQel_Parameter* speedForward =
        FindOptional(setup, HasSpeedForward(setup), "SpeedForward");
    const CQel_Parameter* freezeControl = nullptr;
    if (HasFreezeControl(setup)) {
        freezeControl = setup.FindParameter("isFreezeControl");
        if (freezeControl == nullptr) {
            return false;
        }
    }

    // The loops the drive closes: the current loop always, the speed loop in speed control and
    // in position control through a speed loop, the position loop in position control.
    const std::int64_t currentLoop = std::int64_t{1} << regfmt::kAcrCurrentLoopBit;
    const std::int64_t speedLoop = std::int64_t{1} << regfmt::kAcrSpeedLoopBit;
    const std::int64_t positionLoop = std::int64_t{1} << regfmt::kAcrPositionLoopBit;
    std::int64_t loops = 0;
    const double mode = WholePart(*controlMode);
    if (mode == regfmt::kControlModePosition) {
        const bool throughSpeedLoop =
            WholePart(*positionControlType) == regfmt::kPositionControlWithSpeedLoop;
        loops = positionLoop | currentLoop | (throughSpeedLoop ? speedLoop : 0);
    } else if (mode == regfmt::kControlModeSpeed) {
        loops = speedLoop | currentLoop;
    } else if (mode == regfmt::kControlModeTorque) {
        loops = currentLoop;
    } else {
        return false;
    }

    double value =
        WithBit(KeptBits(*acr, kSixteenBits), regfmt::kAcrAutoActivateBit, IsOne(*autoActivated));
    value = WithBit(value, regfmt::kAcrAnalogueReferenceBit, false);
    value = WithBit(value, regfmt::kAcrDigitalExternalReferenceBit, false);
    if (IsOne(*external)) {
        if (IsOne(*analogue)) {
            value = WithBit(value, regfmt::kAcrAnalogueReferenceBit, true);
        } else {
            value = WithBit(value, regfmt::kAcrDigitalExternalReferenceBit, true);
            value =
                WithBit(value, regfmt::kAcrDigitalReferenceTypeBit, WholePart(*digitalType) == 0.0);
        }
    }
    value = WithBits(value, currentLoop | speedLoop | positionLoop, loops);
    value =
        WithBit(value, regfmt::kAcrSpeedForwardBit,
                speedForward != nullptr && engine::IsOne(speedForward->GetValueInInternalUnit()));
    if (freezeControl != nullptr) {
        value = WithBit(value, regfmt::kAcrFreezeControlBit,
                        engine::IsOne(freezeControl->GetValueInInternalUnit()));
    }
    return Store(*acr, value);
}

bool compute::DIGIN_ACTIVE_LEVEL(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(
        setup, {"DIGIN_ACTIVE_LEVEL", "EnablePolarity", "LSNPolarity", "LSPPolarity"});
    if (!found) {
        return false;
    }
    const auto [levels, enable, negativeLimit, positiveLimit] = *found;
    double value = IsOne(*enable) ? WithBit(levels->GetValueInBaseUnit(),
                                            regfmt::kDiginEnablePolarityBit, true)
                                  : KeptBits(*levels, kDiginBelowEnableBit);
    value = WithBit(value, regfmt::kDiginLsnPolarityBit, IsOne(*negativeLimit));
    value = WithBit(value, regfmt::kDiginLspPolarityBit, IsOne(*positiveLimit));
    return Store(*levels, value);
}

bool compute::UPGRADE(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"UPGRADE", "isLimitMaximum"});
    if (!found) {
        return false;
    }
    const auto [upgrade, limitMaximum] = *found;
    const CQel_Parameter* fastLoop =
        FindOptional(setup, HasParameters(setup, {"PosSpd_in_FastLoop"}), "PosSpd_in_FastLoop");
    double value = WithBit(KeptBits(*upgrade, kSixteenBits), kUpgradeClearedBit, false);
    value = WithBit(value, regfmt::kUpgradeLimitMaximumBit, IsOne(*limitMaximum));
    if (fastLoop != nullptr) {
        value = WithBit(value, regfmt::kUpgradePosSpdInFastLoopBit, IsOne(*fastLoop));
    }
    return Store(*upgrade, value);
}

bool compute::LSS_Active(CQel_Setup& setup) {
    if (!HasCANSettings(setup)) {
        return true;
    }
    return ComputeFrom(
        setup, "LSS_Active", {"save_CAN_baudrate", "save_axis_id"},
        [](double saveBaudRate, double saveAxisId) {
            // A set bit keeps the drive from saving the value it stands for.
            double value = WithBit(0.0, regfmt::kLssAxisIdBit, !engine::IsOne(saveAxisId));
            return WithBit(value, regfmt::kLssCanBaudrateBit, !engine::IsOne(saveBaudRate));
        });
}

bool compute::BRAKECFG(CQel_Setup& setup) {
    if (!HasMotorBrake(setup)) {
        return true;
    }
    const auto found =
        engine::FindInOrder<3>(setup, {"BRAKECFG", "isMotorBrake", "MotorBrake_output"});
    if (!found) {
        return false;
    }
    const auto [brake, brakeOn, output] = *found;
    // A port the drive does not have has no pin to write; the old configuration stays.
    const int pin = BrakePin(setup, output->GetValueInInternalUnit());
    if (pin < 0) {
        return false;
    }
    const double value =
        WithBit(static_cast<double>(std::int64_t{pin} << regfmt::kBrakePinShift),
                regfmt::kBrakeEnableBit, std::trunc(brakeOn->GetValueInInternalUnit()) != 0.0);
    return Store(*brake, value, Units::Internal);
}

bool compute::QUAL(CQel_Setup& setup) {
    if (!HasEncoderFilter(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<5>(
        setup, {"QUAL", "QUAL_ACT", "QUAL_AQ2", "isFilterEnc", "FilterEncValue"});
    if (!found) {
        return false;
    }
    const auto [qualify, length, pattern, filterOn, filterValue] = *found;
    if (!IsOne(*filterOn)) {
        return Store(*qualify, 0.0);
    }
    if (!Store(*qualify, regfmt::kEncoderFilterOn)) {
        return false;
    }
    const double choice = WholePart(*filterValue);
    const bool listed = choice >= 0.0 && choice < static_cast<double>(kQualificationLengths.size());
    const auto index = listed ? static_cast<std::size_t>(choice) : 0;
    const std::int64_t lengthField = listed ? kQualificationLengths[index] : 0;
    const std::int64_t patternBits = listed ? kQualificationPatterns[index] : 0;
    const double lengthValue =
        static_cast<double>((RegisterBits(length->GetValueInBaseUnit()) & kQualActKeptBits) |
                            (lengthField << kQualActLengthShift));
    const double patternValue = static_cast<double>(
        (RegisterBits(pattern->GetValueInBaseUnit()) & kQualAq2KeptBits) | patternBits);
    return Store(*length, lengthValue) && Store(*pattern, patternValue);
}

bool compute::TRANSMISSION(CQel_Setup& setup) {
    if (!HasTransmissionRegister(setup)) {
        return true;
    }
    return ComputeFrom(setup, "TRANSMISSION", {"Motor_transmission", "Load_transmission"},
                       [](double motor, double load) { return motor / load < 0.0 ? -1.0 : 1.0; });
}

bool compute::COUNTINGDIR(CQel_Setup& setup) {
    if (!HasReverseCounting(setup)) {
        return true;
    }
    return ComputeFrom(setup, "COUNTINGDIR", {"ReverseCounting"}, [](double reverse) {
        return engine::IsOne(reverse) ? regfmt::kReverseCountingDirection : 0.0;
    });
}
