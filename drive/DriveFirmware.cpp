#include "drive/DriveFirmware.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace drive {

namespace {

using fixed::kQ15Max;
using fixed::kQ15Shift;
using fixed::Q15Gain;

// ACR: bit 6 takes the reference from the analogue input; bits 9 and 10 close the speed and
// position loops (bit 8, the current loop, is always closed in these modes); with position
// control, bit 9 puts the speed loop inside it and makes SATS (not SATP) bound the current; bit
// 14 switches the speed feed-forward on.
constexpr int kAcrAnalogueReferenceBit = 6;
constexpr int kAcrSpeedLoopBit = 9;
constexpr int kAcrPositionLoopBit = 10;
constexpr int kAcrSpeedForwardBit = 14;
// UPGRADE bit 6 runs the speed and position loops at the current-loop period.
constexpr int kUpgradePosSpdInFastLoopBit = 6;
// PCR: one enable bit per protection.
constexpr int kPcrOverCurrentBit = 0;
constexpr int kPcrMotorI2tBit = 1;
constexpr int kPcrMotorOverTempBit = 2;
constexpr int kPcrDriveOverTempBit = 3;
constexpr int kPcrOverVoltageBit = 4;
constexpr int kPcrUnderVoltageBit = 5;
constexpr int kPcrDriveI2tBit = 7;
// SCR: the motor's and the drive's temperature sensors are fitted.
constexpr int kScrMotorTemperatureSensorBit = 7;
constexpr int kScrDriveTemperatureSensorBit = 8;
// MTSTYPE 1: the motor's sensor is a PTC (its reading rises with the temperature); otherwise an
// NTC (it falls).
constexpr std::int64_t kPtcSensor = 1;
// ASR bit 12 arms the software limit switches.
constexpr int kAsrSoftwareLimitSwitchesBit = 12;
// COUNTINGDIR 1 reverses the position counter.
constexpr std::int64_t kReverseCountingDirection = 1;
// TERRMAX and TSERRMAX of 65535 switch the error protections off.
constexpr std::int64_t kProtectionOff = 65535;
// The I2t integrators weigh (I^2 - In^2) / 16 by SFI2T / 2^26 each speed-loop period.
constexpr int kI2tSquareShift = 4;
constexpr int kI2tTimeShift = 26;
// 1/sqrt(3) in Q15, for the Clarke transform of two measured phases.
constexpr std::int64_t kInverseSqrt3Q15 = 18919;
// The fraction bits of the electrical resolution are at most the interpolator's 16 bits.
constexpr std::int64_t kMaxElectricalFraction = 16;
// The electrical angle is the top 16 bits of a 32-bit fraction of a turn.
constexpr int kAngleFractionShift = 16;
constexpr std::uint64_t kLow32Bits = 0xFFFFFFFFULL;
// Positions errors and outputs of the outer loops are bounded to +-2^30 counts, which keeps every
// 64-bit product of a 16-bit mantissa and a bounded shift in range.
constexpr std::int64_t kOuterLoopLimit = std::int64_t{1} << 30;
// The electric angle controller reckons the rotor's motion with 8 bits below the angle's unit,
// from at most 2^24 counts a period (far beyond any search), which keeps its products of a 32-bit
// angle per count within 64 bits.
constexpr int kMotionFractionBits = 8;
constexpr std::int64_t kMaxMotionCounts = std::int64_t{1} << 24;
// The fast loop's speed units: Q16 ratio of the speed-loop period to the current-loop period.
constexpr int kRatioShift = 16;
// The acceleration feed-forward's second shift is at most this many bits.
constexpr int kMaxAccelerationShift = 16;
// A measured speed saturates at the 32-bit range: a shaft far faster than any the counter can
// follow leaves it there rather than overflowing what the loops compute from it.
constexpr std::int64_t kSpeedLimit = std::numeric_limits<std::int32_t>::max();

// A measured current is a converter count, within 2^16 of the centre; a count far beyond (from a
// power stage whose current scale has no sensible value) saturates here instead of overflowing
// the transforms.
constexpr std::int64_t kMeasurementLimit = std::int64_t{1} << 20;

// A position saturates at 2^61 counts (a shaft far beyond any count a test expects), so that the
// difference of two positions, or of a position and a 32-bit register, never overflows.
constexpr std::int64_t kPositionLimit = std::int64_t{1} << 61;

// a - b and a x b, saturated to the 64-bit range instead of overflowing (a shaft run away
// under an absurd load counts far more than any loop expects).
std::int64_t SaturatingSubtract(std::int64_t a, std::int64_t b) {
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference)) {
        return b < 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    }
    return difference;
}

std::int64_t SaturatingMultiply(std::int64_t a, std::int64_t b) {
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) {
        return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min()
                                  : std::numeric_limits<std::int64_t>::max();
    }
    return product;
}

// Motion-error bits that latch until cleared, and those that follow their input.
constexpr std::uint16_t kLatchedErrors =
    (1u << mer::kShortCircuitBit) | (1u << mer::kControlErrorBit) | (1u << mer::kMotorI2tBit) |
    (1u << mer::kDriveI2tBit) | (1u << mer::kOverVoltageBit) | (1u << mer::kUnderVoltageBit) |
    (1u << mer::kMotorOverTemperatureBit) | (1u << mer::kDriveOverTemperatureBit);

bool BitSet(std::int64_t value, int bit) {
    return ((value >> bit) & 1) != 0;
}

Q15Gain Gain(std::int64_t mantissa, std::int64_t shift) {
    return {mantissa, static_cast<int>(std::clamp<std::int64_t>(shift, fixed::kMinGainShift,
                                                                fixed::kMaxGainShift))};
}

// One step of y += q (x - y) with y kept with 15 fraction bits; q = 32767 passes x unchanged.
std::int64_t FirstOrderFilter(std::int64_t& stateQ15, std::int64_t input, std::int64_t q) {
    if (q >= kQ15Max) {
        stateQ15 = input << kQ15Shift;
        return input;
    }
    stateQ15 += fixed::ShiftRightRounded(q * ((input << kQ15Shift) - stateQ15), kQ15Shift);
    return fixed::ShiftRightRounded(stateQ15, kQ15Shift);
}

std::int64_t FloorModulo(std::int64_t value, std::int64_t modulus) {
    const std::int64_t remainder = value % modulus;
    return remainder < 0 ? remainder + modulus : remainder;
}

}  // namespace

DriveFirmware::DriveFirmware(const DriveRegisters& registers, int interpolationBits)
    : registers_(registers), interpolationBits_(interpolationBits) {
    Decode();
    loopMode_ = ConfiguredLoopMode();
}

void DriveFirmware::Configure(const DriveRegisters& registers) {
    registers_ = registers;
    Decode();
}

void DriveFirmware::Decode() {
    const DriveRegisters& r = registers_;
    Settings& s = settings_;
    s.kpi = Gain(r.KPI, r.SFTKPI);
    s.kii = Gain(r.KII, r.SFTKII);
    s.kps = Gain(r.KPS, r.SFTKPS);
    s.kis = Gain(r.KIS, r.SFTKIS);
    s.kpp = Gain(r.KPP, r.SFTKPP);
    s.kip = Gain(r.KIP, r.SFTKIP);
    s.kdp = Gain(r.KDP, r.SFTKDP);
    s.kffs = Gain(r.KFFS, r.SFTSFFW);
    s.kffa = Gain(r.KFFA, r.SFTAFFW);
    s.kpTheta = Gain(r.KPTHT, r.SFTKPTHT);
    s.kiTheta = Gain(r.KITHT, r.SFTKITHT);
    s.accelerationShift =
        static_cast<int>(std::clamp<std::int64_t>(r.SFTKFF, 0, kMaxAccelerationShift));
    s.voltageLimitD = fixed::LimitFromSaturationRegister(r.SATID);
    s.voltageLimitQ = fixed::LimitFromSaturationRegister(r.SATIQ);
    s.speedOutputLimit = fixed::LimitFromSaturationRegister(r.SATS);
    s.speedIntegralLimit = fixed::LimitFromSaturationRegister(r.IMAXS);
    s.positionOutputLimit = fixed::LimitFromSaturationRegister(r.SATP);
    s.positionIntegralLimit = fixed::LimitFromSaturationRegister(r.IMAXP);
    s.filterQ = std::clamp<std::int64_t>(r.FILTERQ, 0, kQ15Max);
    s.derivativeFilter = std::clamp<std::int64_t>(r.KDFP, 0, kQ15Max);
    s.gravityOffset = fixed::Multiply(r.FFL, Gain(r.KFFL, 0));
    s.positionWithSpeedLoop = BitSet(r.ACR, kAcrSpeedLoopBit);
    s.speedFeedForward = BitSet(r.ACR, kAcrSpeedForwardBit);
    s.fastLoop = BitSet(r.UPGRADE, kUpgradePosSpdInFastLoopBit);
    s.countingReversed = r.COUNTINGDIR == kReverseCountingDirection;
    const std::int64_t fraction =
        std::clamp<std::int64_t>(r.ELRES_FRACT, 0, kMaxElectricalFraction);
    s.electricalShift = interpolationBits_ - static_cast<int>(fraction);
    s.electricalCountsPerTurn = std::max<std::int64_t>(1, r.MECRESL << fraction);
    // A turn of a power of two counts (the usual encoders) takes the position within it by a
    // mask, which is the floor modulo in two's complement, instead of a 64-bit division.
    const bool turnIsPowerOfTwo =
        (s.electricalCountsPerTurn & (s.electricalCountsPerTurn - 1)) == 0;
    s.electricalTurnMask = turnIsPowerOfTwo ? s.electricalCountsPerTurn - 1 : -1;
    s.electricalAnglePerCount = r.ENC2THL;
    s.currentLoopDivider = std::max<std::int64_t>(1, r.CLPER);
    s.speedLoopDivider = std::max<std::int64_t>(1, r.SLPER);
    s.speedPeriodsPerLoopPeriodQ16 =
        s.fastLoop ? (s.speedLoopDivider << kRatioShift) / s.currentLoopDivider
                   : std::int64_t{1} << kRatioShift;
    s.overCurrentProtection = BitSet(r.PCR, kPcrOverCurrentBit);
    s.motorI2tProtection = BitSet(r.PCR, kPcrMotorI2tBit);
    s.driveI2tProtection = BitSet(r.PCR, kPcrDriveI2tBit);
    s.overVoltageProtection = BitSet(r.PCR, kPcrOverVoltageBit);
    s.underVoltageProtection = BitSet(r.PCR, kPcrUnderVoltageBit);
    s.motorTemperatureProtection =
        BitSet(r.SCR, kScrMotorTemperatureSensorBit) && BitSet(r.PCR, kPcrMotorOverTempBit);
    s.driveTemperatureProtection =
        BitSet(r.SCR, kScrDriveTemperatureSensorBit) && BitSet(r.PCR, kPcrDriveOverTempBit);
    s.motorSensorIsPtc = r.MTSTYPE == kPtcSensor;
    s.softwareLimits = BitSet(r.ASR, kAsrSoftwareLimitSwitchesBit);
    s.analogueReference = BitSet(r.ACR, kAcrAnalogueReferenceBit);
    s.deadBandCentre = r.LEVEL_AD5;
    s.deadBandHalfWidth = r.E_LEVEL_AD5;
    s.analogueFilter = std::clamp<std::int64_t>(r.FILTER1, 0, kQ15Max);
    s.analogueGain = Gain(r.CADIN, r.SFTADIN);
    // Slots are taken in order by the three chains; counts beyond the three slots are cut.
    const std::size_t slots = biquads_.size();
    s.speedReferenceSlots =
        std::min<std::size_t>(std::max<std::int64_t>(r.SPDREF_BQ_INI, 0), slots);
    s.currentReferenceSlots = std::min<std::size_t>(std::max<std::int64_t>(r.IQREF_BQ_INI, 0),
                                                    slots - s.speedReferenceSlots);
    s.speedFeedbackSlots =
        std::min<std::size_t>(std::max<std::int64_t>(r.ASPD_BQ_INI, 0),
                              slots - s.speedReferenceSlots - s.currentReferenceSlots);
    for (std::size_t slot = 0; slot < slots; ++slot) {
        biquads_[slot].Configure(r.BQ[slot]);
    }
}

void DriveFirmware::Reset(std::int64_t encoderCount) {
    countOrigin_ = encoderCount;
    position_ = 0;
    lastLoopPosition_ = 0;
    speed_ = speedFeedback_ = 0;
    angleOffset_ = 0;
    testAngle_ = testAngleIncrement_ = 0;
    controlAngle_ = 0;
    pwmPeriodsSinceSpeedLoop_ = 0;
    speedReference_ = 0;
    positionReference_ = 0;
    requestedCurrentD_ = requestedCurrentQ_ = 0;
    openLoopVoltageD_ = openLoopVoltageQ_ = 0;
    motionErrors_ = 0;
    motionStatus_ = 0;
    encoderErrors_ = 0;
    powerOn_ = false;
    loopMode_ = ConfiguredLoopMode();
    angleSource_ = AngleSource::Encoder;
    referenceSource_ = ConfiguredReferenceSource();
    analogueAcquisition_ = false;
    analogueInput_ = analogueFiltered_ = analogueReference_ = 0;
    motorI2t_ = driveI2t_ = 0;
    ResetLoops();
}

ReferenceSource DriveFirmware::ConfiguredReferenceSource() const {
    return settings_.analogueReference ? ReferenceSource::AnalogueInput : ReferenceSource::Host;
}

void DriveFirmware::StartAngleController(std::int64_t startAngle) {
    angleSource_ = AngleSource::AngleController;
    angleControllerStart_ = fixed::WrapAngle(startAngle);
    angleControllerAngle_ = angleControllerStart_;
    lastAnglePosition_ = position_;
    anglePi_.Reset();
}

LoopMode DriveFirmware::ConfiguredLoopMode() const {
    if (BitSet(registers_.ACR, kAcrPositionLoopBit)) {
        return LoopMode::Position;
    }
    if (BitSet(registers_.ACR, kAcrSpeedLoopBit)) {
        return LoopMode::Speed;
    }
    return LoopMode::Current;
}

void DriveFirmware::SetLoopMode(LoopMode mode) {
    loopMode_ = mode;
    ResetLoops();
}

void DriveFirmware::ResetLoops() {
    speedPi_.Reset();
    positionPi_.Reset();
    currentPiD_.Reset();
    currentPiQ_.Reset();
    for (BiquadFilter& biquad : biquads_) {
        biquad.Reset();
    }
    positionReference_ = position_;
    lastPositionReference_ = position_;
    lastReferenceSpeed_ = 0;
    lastSpeedReference_ = speedReference_;
    speedLoopReference_ = 0;
    lastPositionError_ = 0;
    derivative_ = 0;
    speedError_ = 0;
    currentReferenceD_ = currentReferenceQ_ = 0;
    voltageD_ = voltageQ_ = 0;
    filteredVoltageQ_ = 0;
    overCurrentPeriods_ = positionErrorPeriods_ = speedErrorPeriods_ = 0;
}

void DriveFirmware::ReadDigitalInputs(bool enable, bool positiveLimitSwitch,
                                      bool negativeLimitSwitch) {
    SetStateBit(mer::kEnableInputBit, !enable);
    SetStateBit(mer::kPositiveLimitSwitchBit, positiveLimitSwitch);
    SetStateBit(mer::kNegativeLimitSwitchBit, negativeLimitSwitch);
}

bool DriveFirmware::SwitchOn() {
    if (motionErrors_ != 0) {
        return false;
    }
    powerOn_ = true;
    ResetLoops();
    return true;
}

void DriveFirmware::ClearMotionErrors() {
    motionErrors_ &= static_cast<std::uint16_t>(~kLatchedErrors);
}

void DriveFirmware::TripShortCircuit() {
    Latch(mer::kShortCircuitBit);
}

void DriveFirmware::Latch(int bit) {
    motionErrors_ |= static_cast<std::uint16_t>(1u << bit);
    powerOn_ = false;
}

void DriveFirmware::SetStateBit(int bit, bool set) {
    const auto mask = static_cast<std::uint16_t>(1u << bit);
    if (set) {
        motionErrors_ |= mask;
        powerOn_ = false;
    } else {
        motionErrors_ &= static_cast<std::uint16_t>(~mask);
    }
}

void DriveFirmware::SetCurrentReference(std::int64_t currentD, std::int64_t currentQ) {
    requestedCurrentD_ = currentD;
    requestedCurrentQ_ = currentQ;
}

void DriveFirmware::SetVoltageCommand(std::int64_t voltageD, std::int64_t voltageQ) {
    openLoopVoltageD_ = voltageD;
    openLoopVoltageQ_ = voltageQ;
}

std::int64_t DriveFirmware::ElectricalResolutionCount(std::int64_t position) const {
    return settings_.electricalShift >= 0
               ? position >> settings_.electricalShift
               : SaturatingMultiply(position, std::int64_t{1} << -settings_.electricalShift);
}

std::int64_t DriveFirmware::PositionOfCount(std::int64_t encoderCount) const {
    const std::int64_t counted =
        fixed::Saturate(SaturatingSubtract(encoderCount, countOrigin_), kPositionLimit);
    return settings_.countingReversed ? -counted : counted;
}

std::int64_t DriveFirmware::EncoderElectricAngle(std::int64_t position) const {
    const std::int64_t count = ElectricalResolutionCount(position);
    const std::int64_t inTurn = settings_.electricalTurnMask >= 0
                                    ? count & settings_.electricalTurnMask
                                    : FloorModulo(count, settings_.electricalCountsPerTurn);
    // Only the low 32 bits of the product matter (a fraction of an electrical turn); unsigned
    // arithmetic keeps them exact whatever the product's size.
    const std::uint64_t turnFraction =
        (static_cast<std::uint64_t>(inTurn) *
         static_cast<std::uint64_t>(settings_.electricalAnglePerCount)) &
        kLow32Bits;
    return static_cast<std::int64_t>(turnFraction >> kAngleFractionShift);
}

std::int64_t DriveFirmware::RotorElectricAngle() const {
    return fixed::WrapAngle(EncoderElectricAngle(position_) + angleOffset_);
}

void DriveFirmware::SetElectricAngleReference(std::int64_t angleNow) {
    SetElectricAngleAt(position_, angleNow);
}

void DriveFirmware::SetElectricAngleAt(std::int64_t position, std::int64_t angle) {
    angleOffset_ = fixed::WrapAngle(angle - EncoderElectricAngle(position));
}

VoltageCommand DriveFirmware::Step(const FirmwareInputs& inputs) {
    ReadDigitalInputs(inputs.enableInput, inputs.positiveLimitSwitch, inputs.negativeLimitSwitch);
    busVoltage_ = inputs.busVoltage;
    phaseCurrentA_ = fixed::Saturate(inputs.phaseCurrents[0], kMeasurementLimit);
    phaseCurrentB_ = fixed::Saturate(inputs.phaseCurrents[1], kMeasurementLimit);
    position_ = PositionOfCount(inputs.encoderCount);

    if (ConvertsAnalogueInput()) {
        analogueInput_ = inputs.analogueInput;
    }

    switch (angleSource_) {
        case AngleSource::TestAngle:
            testAngle_ = fixed::WrapAngle(testAngle_ + testAngleIncrement_);
            controlAngle_ = testAngle_;
            break;
        case AngleSource::AngleController:
            controlAngle_ = angleControllerAngle_;
            break;
        case AngleSource::Encoder:
            controlAngle_ = RotorElectricAngle();
            break;
    }
    const std::int64_t sine = fixed::SineQ15(controlAngle_);
    const std::int64_t cosine = fixed::CosineQ15(controlAngle_);
    const std::int64_t alpha = phaseCurrentA_;
    const std::int64_t beta = fixed::ShiftRightRounded(
        (phaseCurrentA_ + 2 * phaseCurrentB_) * kInverseSqrt3Q15, kQ15Shift);
    currentD_ = fixed::ShiftRightRounded(alpha * cosine + beta * sine, kQ15Shift);
    currentQ_ = fixed::ShiftRightRounded(beta * cosine - alpha * sine, kQ15Shift);

    const bool speedLoopDue = IsSpeedLoopDue();
    pwmPeriodsSinceSpeedLoop_ += settings_.currentLoopDivider;
    if (speedLoopDue) {
        pwmPeriodsSinceSpeedLoop_ =
            settings_.fastLoop ? 0 : pwmPeriodsSinceSpeedLoop_ - settings_.speedLoopDivider;
        const std::int64_t moved = SaturatingSubtract(position_, lastLoopPosition_);
        lastLoopPosition_ = position_;
        // Saturated before the rounding shift, which adds half a unit.
        const std::int64_t speedQ16 =
            fixed::Saturate(SaturatingMultiply(moved, settings_.speedPeriodsPerLoopPeriodQ16),
                            kSpeedLimit << kRatioShift);
        speed_ = fixed::ShiftRightRounded(speedQ16, kRatioShift);
        speedFeedback_ =
            FilterChain(settings_.speedReferenceSlots + settings_.currentReferenceSlots,
                        settings_.speedFeedbackSlots, speed_);
        if (ConvertsAnalogueInput()) {
            RunAnalogueReference();
        }
        UpdateSoftwareLimits();
        if (powerOn_) {
            if (angleSource_ == AngleSource::AngleController) {
                RunAngleController();
            }
            RunMotionLoops();
        }
        RunProtections(inputs);
    }
    if (!powerOn_) {
        voltageD_ = voltageQ_ = 0;
        return {};
    }
    return RunCurrentLoop(sine, cosine);
}

std::int64_t DriveFirmware::FilterChain(std::size_t first, std::size_t count, std::int64_t value) {
    for (std::size_t slot = first; slot < first + count; ++slot) {
        value = biquads_[slot].Process(value);
    }
    return value;
}

std::int64_t DriveFirmware::CurrentLimit() const {
    return settings_.positionWithSpeedLoop ? settings_.speedOutputLimit
                                           : settings_.positionOutputLimit;
}

std::int64_t DriveFirmware::AccelerationFeedForward(std::int64_t acceleration) const {
    const std::int64_t product =
        fixed::Multiply(fixed::Saturate(acceleration, kOuterLoopLimit), settings_.kffa);
    return fixed::Saturate(product * (std::int64_t{1} << settings_.accelerationShift),
                           kOuterLoopLimit);
}

std::int64_t DriveFirmware::GravityOffset() const {
    return settings_.gravityOffset;
}

// Inline: the current loop runs two of these every period, where a call costs a third of one.
inline std::int64_t DriveFirmware::PiStep(PiState& state, std::int64_t error, Q15Gain proportional,
                                          Q15Gain integral, std::int64_t integralLimit,
                                          std::int64_t outputLimit) {
    const std::int64_t integralLimitQ15 = integralLimit << kQ15Shift;
    state.integral = std::clamp(state.integral + fixed::MultiplyToQ15(error, integral),
                                -integralLimitQ15, integralLimitQ15);
    const std::int64_t output =
        fixed::Multiply(error, proportional) + fixed::ShiftRightRounded(state.integral, kQ15Shift);
    return fixed::Saturate(output, outputLimit);
}

void DriveFirmware::RunAnalogueReference() {
    const Settings& s = settings_;
    const bool inDeadBand = std::abs(analogueInput_ - s.deadBandCentre) <= s.deadBandHalfWidth;
    const std::int64_t input = inDeadBand ? s.deadBandCentre : analogueInput_;
    const std::int64_t filtered = FirstOrderFilter(analogueFiltered_, input, s.analogueFilter);
    analogueReference_ = registers_.AD5OFF + fixed::Multiply(filtered, s.analogueGain);
    if (referenceSource_ != ReferenceSource::AnalogueInput) {
        return;
    }
    switch (loopMode_) {
        case LoopMode::Position:
            positionReference_ = analogueReference_;
            break;
        case LoopMode::Speed:
            speedReference_ = analogueReference_;
            break;
        case LoopMode::Current:
            requestedCurrentQ_ = analogueReference_;
            break;
        case LoopMode::VoltageOpenLoop:
            break;
    }
}

void DriveFirmware::UpdateSoftwareLimits() {
    const bool armed = settings_.softwareLimits;
    SetStatus(msr::kPositiveSoftwareLimitBit, armed && position_ >= registers_.SWPOSLS);
    SetStatus(msr::kNegativeSoftwareLimitBit, armed && position_ <= registers_.SWNEGLS);
}

void DriveFirmware::SetStatus(int bit, bool set) {
    const auto mask = static_cast<std::uint16_t>(1u << bit);
    motionStatus_ = set ? static_cast<std::uint16_t>(motionStatus_ | mask)
                        : static_cast<std::uint16_t>(motionStatus_ & ~mask);
}

std::int64_t DriveFirmware::LimitOutward(std::int64_t reference) const {
    const bool atPositive = BitSet(motionStatus_, msr::kPositiveSoftwareLimitBit);
    const bool atNegative = BitSet(motionStatus_, msr::kNegativeSoftwareLimitBit);
    return (atPositive && reference > 0) || (atNegative && reference < 0) ? 0 : reference;
}

void DriveFirmware::RunAngleController() {
    // The rotor's motion from the position counter at the encoder's full resolution (the
    // electrical resolution's counts are too coarse for a proportional gain of hundreds), in
    // electrical angle units with kMotionFractionBits more bits.
    const std::int64_t moved = fixed::Saturate(
        fixed::ShiftRightRounded(fixed::Saturate(position_ - lastAnglePosition_, kMaxMotionCounts) *
                                     settings_.speedPeriodsPerLoopPeriodQ16,
                                 kRatioShift),
        kMaxMotionCounts);
    lastAnglePosition_ = position_;
    const std::int64_t turned =
        fixed::Saturate(fixed::ShiftRightRounded(
                            moved * settings_.electricalAnglePerCount,
                            settings_.electricalShift + kAngleFractionShift - kMotionFractionBits),
                        kOuterLoopLimit);
    constexpr std::int64_t kLimit = kOuterLoopLimit << kMotionFractionBits;
    const std::int64_t correction =
        PiStep(anglePi_, -turned, settings_.kpTheta, settings_.kiTheta, kLimit, kLimit);
    angleControllerAngle_ = fixed::WrapAngle(
        angleControllerStart_ + fixed::ShiftRightRounded(correction, kMotionFractionBits));
}

void DriveFirmware::RunMotionLoops() {
    const std::int64_t ratio = settings_.speedPeriodsPerLoopPeriodQ16;
    if (loopMode_ == LoopMode::Speed) {
        const std::int64_t reference = LimitOutward(speedReference_);
        const std::int64_t acceleration =
            fixed::ShiftRightRounded((reference - lastSpeedReference_) * ratio, kRatioShift);
        lastSpeedReference_ = reference;
        currentReferenceQ_ = RunSpeedLoop(reference, acceleration);
        currentReferenceD_ = requestedCurrentD_;
        return;
    }
    if (loopMode_ != LoopMode::Position) {
        return;
    }
    if (settings_.softwareLimits) {
        positionReference_ = std::clamp(positionReference_, registers_.SWNEGLS,
                                        std::max(registers_.SWNEGLS, registers_.SWPOSLS));
    }
    const std::int64_t referenceSpeed = fixed::ShiftRightRounded(
        fixed::Saturate(positionReference_ - lastPositionReference_, kOuterLoopLimit) * ratio,
        kRatioShift);
    lastPositionReference_ = positionReference_;
    const std::int64_t referenceAcceleration =
        fixed::ShiftRightRounded((referenceSpeed - lastReferenceSpeed_) * ratio, kRatioShift);
    lastReferenceSpeed_ = referenceSpeed;
    const std::int64_t error = fixed::Saturate(positionReference_ - position_, kOuterLoopLimit);
    currentReferenceD_ = requestedCurrentD_;

    if (settings_.positionWithSpeedLoop) {
        std::int64_t speedReference = PiStep(positionPi_, error, settings_.kpp, settings_.kip,
                                             settings_.positionIntegralLimit, kOuterLoopLimit);
        if (settings_.speedFeedForward) {
            speedReference += fixed::Multiply(referenceSpeed, settings_.kffs);
        }
        currentReferenceQ_ = RunSpeedLoop(
            fixed::Saturate(speedReference, settings_.positionOutputLimit), referenceAcceleration);
        return;
    }
    // PID on the current: the derivative of the error, through its first-order filter.
    const std::int64_t change = fixed::Saturate(error - lastPositionError_, kOuterLoopLimit);
    lastPositionError_ = error;
    FirstOrderFilter(derivative_, change, settings_.derivativeFilter);
    const std::int64_t integralLimitQ15 = settings_.positionIntegralLimit << kQ15Shift;
    positionPi_.integral =
        std::clamp(positionPi_.integral + fixed::MultiplyToQ15(error, settings_.kip),
                   -integralLimitQ15, integralLimitQ15);
    const std::int64_t pid =
        fixed::Multiply(error, settings_.kpp) +
        fixed::ShiftRightRounded(positionPi_.integral, kQ15Shift) +
        fixed::Multiply(fixed::ShiftRightRounded(derivative_, kQ15Shift), settings_.kdp);
    const std::int64_t filtered =
        FilterChain(settings_.speedReferenceSlots, settings_.currentReferenceSlots,
                    fixed::Saturate(pid, kOuterLoopLimit));
    currentReferenceQ_ =
        fixed::Saturate(filtered + AccelerationFeedForward(referenceAcceleration) + GravityOffset(),
                        CurrentLimit());
}

std::int64_t DriveFirmware::RunSpeedLoop(std::int64_t reference,
                                         std::int64_t referenceAcceleration) {
    speedLoopReference_ = FilterChain(0, settings_.speedReferenceSlots, reference);
    speedError_ = reference - speed_;
    const std::int64_t error = speedLoopReference_ - speedFeedback_;
    const std::int64_t output = PiStep(speedPi_, error, settings_.kps, settings_.kis,
                                       settings_.speedIntegralLimit, kOuterLoopLimit);
    const std::int64_t filtered =
        FilterChain(settings_.speedReferenceSlots, settings_.currentReferenceSlots, output);
    return fixed::Saturate(
        filtered + AccelerationFeedForward(referenceAcceleration) + GravityOffset(),
        CurrentLimit());
}

VoltageCommand DriveFirmware::RunCurrentLoop(std::int64_t sine, std::int64_t cosine) {
    if (loopMode_ == LoopMode::VoltageOpenLoop) {
        voltageD_ = fixed::Saturate(openLoopVoltageD_, kQ15Max);
        voltageQ_ = fixed::Saturate(openLoopVoltageQ_, kQ15Max);
    } else {
        if (loopMode_ == LoopMode::Current) {
            currentReferenceD_ = fixed::Saturate(requestedCurrentD_, kQ15Max);
            currentReferenceQ_ =
                fixed::Saturate(LimitOutward(requestedCurrentQ_) + GravityOffset(), CurrentLimit());
        }
        voltageD_ = PiStep(currentPiD_, currentReferenceD_ - currentD_, settings_.kpi,
                           settings_.kii, settings_.voltageLimitD, settings_.voltageLimitD);
        const std::int64_t voltageQ =
            PiStep(currentPiQ_, currentReferenceQ_ - currentQ_, settings_.kpi, settings_.kii,
                   settings_.voltageLimitQ, settings_.voltageLimitQ);
        voltageQ_ = FirstOrderFilter(filteredVoltageQ_, voltageQ, settings_.filterQ);
    }
    return {fixed::ShiftRightRounded(voltageD_ * cosine - voltageQ_ * sine, kQ15Shift),
            fixed::ShiftRightRounded(voltageD_ * sine + voltageQ_ * cosine, kQ15Shift)};
}

void DriveFirmware::RunProtections(const FirmwareInputs& inputs) {
    const DriveRegisters& r = registers_;
    const std::int64_t currentSquared = currentD_ * currentD_ + currentQ_ * currentQ_;
    // Each I2t integrator warns above its warning level and trips at its limit.
    const auto integrateI2t = [&](bool enabled, std::int64_t& integrator, std::int64_t nominal,
                                  std::int64_t timeScale, std::int64_t warning, std::int64_t limit,
                                  int warningBit, int faultBit) {
        if (enabled) {
            integrator += ((currentSquared - nominal * nominal) >> kI2tSquareShift) * timeScale;
            integrator = std::max<std::int64_t>(integrator, 0);
        }
        SetStatus(warningBit, enabled && integrator >= (warning << kI2tTimeShift));
        if (enabled && integrator >= (limit << kI2tTimeShift)) {
            Latch(faultBit);
        }
    };
    integrateI2t(settings_.motorI2tProtection, motorI2t_, r.II2TPROT_M, r.SFI2T_M, r.I2TWARLIM_M,
                 r.I2TINTLIM_M, msr::kMotorI2tWarningBit, mer::kMotorI2tBit);
    integrateI2t(settings_.driveI2tProtection, driveI2t_, r.II2TPROT_D, r.SFI2T_D, r.II2TWARLIM_D,
                 r.I2TINTLIM_D, msr::kDriveI2tWarningBit, mer::kDriveI2tBit);
    if (settings_.overVoltageProtection && inputs.busVoltage > r.UMAXPROT) {
        Latch(mer::kOverVoltageBit);
    }
    if (settings_.underVoltageProtection && inputs.busVoltage < r.UMINPROT) {
        Latch(mer::kUnderVoltageBit);
    }
    const bool motorHot = settings_.motorSensorIsPtc ? inputs.motorTemperatureSensor > r.T1MAXPROT
                                                     : inputs.motorTemperatureSensor < r.T1MAXPROT;
    if (settings_.motorTemperatureProtection && motorHot) {
        Latch(mer::kMotorOverTemperatureBit);
    }
    if (settings_.driveTemperatureProtection && inputs.driveTemperatureSensor > r.T2MAXPROT) {
        Latch(mer::kDriveOverTemperatureBit);
    }
    if (!powerOn_) {
        return;
    }
    const auto lasts = [](bool condition, std::int64_t& periods, std::int64_t allowed) {
        periods = condition ? periods + 1 : 0;
        return condition && periods >= allowed;
    };
    if (settings_.overCurrentProtection &&
        lasts(currentSquared > r.IMAXPROT * r.IMAXPROT, overCurrentPeriods_, r.TIMAXPROT)) {
        Latch(mer::kShortCircuitBit);
    }
    if (loopMode_ == LoopMode::Position && r.TERRMAX != kProtectionOff &&
        lasts(std::abs(PositionError()) > r.ERRMAX, positionErrorPeriods_, r.TERRMAX)) {
        Latch(mer::kControlErrorBit);
    }
    const bool speedLoopRuns = loopMode_ == LoopMode::Speed ||
                               (loopMode_ == LoopMode::Position && settings_.positionWithSpeedLoop);
    if (speedLoopRuns && r.TSERRMAX != kProtectionOff &&
        lasts(std::abs(speedError_) > r.SERRMAX, speedErrorPeriods_, r.TSERRMAX)) {
        Latch(mer::kControlErrorBit);
    }
}

}  // namespace drive
