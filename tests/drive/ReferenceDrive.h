#pragma once

// The reference axis's drive as the drive tests set it up by hand: its converter scale, its speed
// loop period and a working current loop for the reference motor.

#include <cstdint>

#include "drive/SimulatedDrive.h"

namespace reference_drive {

// 16.5 A converters of 65472 counts over their +-range: 1984 counts per ampere.
inline constexpr double kCountsPerAmpere = 65472.0 / (2 * 16.5);
// The converters' 10 bits in a 16-bit word read in steps of 64 counts.
inline constexpr double kConverterStep = 64.0;
// The speed loop runs every tenth 20 kHz period.
inline constexpr double kSpeedLoopPeriod_s = 0.0005;

inline std::uint16_t Bit(int bit) {
    return static_cast<std::uint16_t>(1u << bit);
}

// The reference axis's current-loop gains and saturations.
inline drive::DriveRegisters CurrentLoopRegisters() {
    drive::DriveRegisters registers;
    registers.KPI = 19986;
    registers.SFTKPI = 4;
    registers.KII = 30748;
    registers.SFTKII = 1;
    registers.SATID = registers.SATIQ = 2621;
    return registers;
}

// No dead time: the phase voltages are exactly what the modulator asks for.
inline drive::DriveHardware QuietHardware() {
    drive::DriveHardware hardware;
    hardware.deadTime_s = 0.0;
    return hardware;
}

}  // namespace reference_drive
