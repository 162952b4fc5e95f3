#pragma once

#include <cstdint>

// The drive's fixed-point formats, shared by both directions of the register computation.
namespace regfmt {

// Largest positive 16-bit value: a Q15 mantissa of 1.0, a saturation register meaning "limit 0",
// a first-order filter register meaning "filter off".
inline constexpr double kQ15 = 32767.0;
// An unshifted gain mantissa below 1024 would round the gain by more than 0.05 %: such a gain
// is shifted right instead, its mantissa then lying between 16384 and 32767.
inline constexpr double kSmallestUnshiftedMantissa = 1024.0;
// The drive shifts a gain right by at most 16 bits.
inline constexpr int kMinGainShift = -16;
// A protection time of 65535 periods switches the protection off.
inline constexpr double kProtectionOff = 65535.0;
// The drive's I2t integrator counts 2^26 per speed-loop period at scale 1.
inline constexpr double kDriveI2tTimeScale = 67108864.0;
// The I2t integrators hold the squared currents divided by 16.
inline constexpr double kI2tSquareShare = 0.0625;
// The electrical-angle increment per encoder count is a 32-bit fraction of a turn.
inline constexpr double kElectricalTurn = 4294967296.0;
// Quadrature: four counts per encoder line.
inline constexpr double kCountsPerLine = 4.0;
// Axis identifiers in AAR_table are offset by 256; 0 means "no identifier from the table".
inline constexpr double kAxisIdOffset = 256.0;

// Bit maps of the drive's configuration registers (bit 0 is the least significant), shared by
// both directions so that a flag is read from the same bit it is written to.
// SCR, the system configuration: which temperature sensors are read, which speed source is used.
inline constexpr int kScrMotorTemperatureSensorBit = 7;
inline constexpr int kScrDriveTemperatureSensorBit = 8;
// Bits 3 to 5 select the speed source; 0x30 selects the estimator.
inline constexpr std::int64_t kScrSpeedSourceMask = 0x38;
inline constexpr std::int64_t kScrSpeedEstimator = 0x30;
// PCR, the protection control: one enable bit per protection.
inline constexpr int kPcrOverCurrentBit = 0;
inline constexpr int kPcrMotorI2tBit = 1;
inline constexpr int kPcrMotorOverTempBit = 2;
inline constexpr int kPcrDriveOverTempBit = 3;
inline constexpr int kPcrOverVoltageBit = 4;
inline constexpr int kPcrUnderVoltageBit = 5;
inline constexpr int kPcrDriveI2tBit = 7;
// ACR, the application control: start-up, reference source, loop structure.
inline constexpr int kAcrAutoActivateBit = 1;
// Set selects the second kind of digital reference (DigitalReferenceType 0).
inline constexpr int kAcrDigitalReferenceTypeBit = 2;
inline constexpr int kAcrFreezeControlBit = 4;
inline constexpr int kAcrAnalogueReferenceBit = 6;
inline constexpr int kAcrDigitalExternalReferenceBit = 7;
// Bits 8 to 10 close the current, speed and position loops; bit 9 also makes SATS (not SATP)
// bound the current.
inline constexpr int kAcrCurrentLoopBit = 8;
inline constexpr int kAcrSpeedLoopBit = 9;
inline constexpr int kAcrPositionLoopBit = 10;
inline constexpr int kAcrSpeedForwardBit = 14;
// OSR, the operation setup: brake resistor and how the motor is started.
inline constexpr int kOsrBrakeResistorBit = 9;
// Bits 2 to 4 select the start method; 0x14 starts without moving, 0x1C reads an EnDat encoder.
inline constexpr std::int64_t kOsrStartMask = 0x1C;
inline constexpr std::int64_t kOsrStartWithoutMove = 0x14;
inline constexpr std::int64_t kOsrStartEndat = 0x1C;
inline constexpr std::int64_t kOsrStartDefault = 0x04;
// ASR, the axis setup: input polarity, software limit switches, load direction.
// Set means the second polarity type (InputsPolarityType 0).
inline constexpr int kAsrInputsPolarityBit = 2;
inline constexpr int kAsrNegativeTransmissionBit = 7;
inline constexpr int kAsrSoftwareLimitSwitchesBit = 12;
// UPGRADE, the firmware options.
inline constexpr int kUpgradeLimitMaximumBit = 2;
inline constexpr int kUpgradePosSpdInFastLoopBit = 6;
// Set: T1ONA/T1ONB count hundredths of a second; clear: 1/65535 s.
inline constexpr int kUpgradeSlowTimeBaseBit = 9;
inline constexpr double kFastTimeBaseCountsPerSecond = 65535.0;
inline constexpr double kSlowTimeBaseCountsPerSecond = 100.0;
// DIGIN_ACTIVE_LEVEL: the active level of the limit switch and enable inputs.
inline constexpr int kDiginLspPolarityBit = 13;
inline constexpr int kDiginLsnPolarityBit = 14;
inline constexpr int kDiginEnablePolarityBit = 15;
// LSS_Active: a set bit keeps the value from the CAN layer-setting service unsaved.
inline constexpr int kLssAxisIdBit = 0;
inline constexpr int kLssCanBaudrateBit = 1;
// BRAKECFG: bit 0 enables the brake, bits 8 to 15 hold the output pin.
inline constexpr int kBrakeEnableBit = 0;
inline constexpr int kBrakePinShift = 8;
inline constexpr std::int64_t kBrakePinMask = 0xFF;

// ControlMode and PositionControlType codes of the user parameters the ACR loop bits stand for.
inline constexpr int kControlModePosition = 0;
inline constexpr int kControlModeSpeed = 1;
inline constexpr int kControlModeTorque = 2;
inline constexpr int kPositionControlWithoutSpeedLoop = 0;
inline constexpr int kPositionControlWithSpeedLoop = 1;

// EnDat serial clock codes (ENDAT_BR) and the clock they select; other codes select none (0).
struct EndatBaudRate {
    int code;
    double frequency_Hz;
};
inline constexpr EndatBaudRate kEndatBaudRates[] = {
    {19, 2000000.0}, {23, 1750000.0}, {26, 1500000.0}, {31, 1250000.0}, {39, 1000000.0},
    {52, 750000.0},  {79, 500000.0},  {159, 250000.0}, {399, 100000.0},
};

// ENDAT_SENSE reads -1 when the encoder counts in reverse.
inline constexpr double kEndatReverseSense = -1.0;
// COUNTINGDIR reads 1 when the incremental encoder counts in reverse.
inline constexpr double kReverseCountingDirection = 1.0;
// QUAL reads 1 when the encoder input filter is on.
inline constexpr double kEncoderFilterOn = 1.0;
// Software limit switches are signed 32-bit positions.
inline constexpr double kPosition32Min = -2147483648.0;
inline constexpr double kPosition32Max = 2147483647.0;
// The analogue reference span register CADIN: gain 1 is 65536 counts per 2^SFTADIN, and the input
// spans twice the gain times the converter's full scale.
inline constexpr double kAnalogueGainUnit = 65536.0;
// A +-10 V analogue input has a range of 20 V; its levels are counted from -10 V.
inline constexpr double kBipolarInputRange_V = 20.0;
inline constexpr double kBipolarInputOffset_V = 10.0;

}  // namespace regfmt
