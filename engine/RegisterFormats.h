#pragma once

#include <cstdint>

// The drive's fixed-point formats, shared by both directions of the register computation.
namespace regfmt {

// Largest positive 16-bit value: a Q15 mantissa of 1.0, a saturation register meaning "limit 0",
// a first-order filter register meaning "filter off".
inline constexpr double kQ15 = 32767.0;
// A protection time of 65535 periods switches the protection off.
inline constexpr double kProtectionOff = 65535.0;
// The I2t integrators count 2^26 (drive) and 2^27 (motor) per speed-loop period at scale 1.
inline constexpr double kDriveI2tTimeScale = 67108864.0;
inline constexpr double kMotorI2tTimeScale = 134217728.0;
// The I2t integrators hold the squared currents divided by 16.
inline constexpr double kI2tSquareShare = 0.0625;
// The electrical-angle increment per encoder count is a 32-bit fraction of a turn.
inline constexpr double kElectricalTurn = 4294967296.0;
// Quadrature: four counts per encoder line.
inline constexpr double kCountsPerLine = 4.0;
// Axis identifiers in AAR_table are offset by 256; 0 means "no identifier from the table".
inline constexpr double kAxisIdOffset = 256.0;

}  // namespace regfmt
