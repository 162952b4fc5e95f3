#pragma once

// The firmware alone on a bench: its inputs set by hand, count for count, so that a test knows
// every value the loops and protections see and can ask for exact answers. The encoder stands
// still unless a test moves it, so every measured speed is 0 and every position error is the
// reference itself.

#include <gtest/gtest.h>

#include <cstdint>

#include "drive/DriveFirmware.h"
#include "drive/DriveRegisters.h"

namespace firmware_bench {

// A gain of exactly one: 16384 x 2^1 / 32768 multiplies by 1 with nothing to round.
inline constexpr std::int64_t kUnitMantissa = 16384;
inline constexpr std::int64_t kUnitShift = 1;
// ACR: current loop (bit 8), speed loop (bit 9), position loop (bit 10), speed feed-forward (14).
inline constexpr std::int64_t kAcrCurrent = 0x100;
inline constexpr std::int64_t kAcrSpeed = 0x300;
inline constexpr std::int64_t kAcrPositionOverSpeed = 0x700;
inline constexpr std::int64_t kAcrPositionPid = 0x500;
inline constexpr std::int64_t kAcrSpeedFeedForward = 0x4000;
// UPGRADE bit 6 runs the speed and position loops every current-loop period.
inline constexpr std::int64_t kUpgradeFastLoop = 0x40;
// The interpolator's bits of the reference axis's encoder.
inline constexpr int kInterpolationBits = 8;

// The saturation register that stands for a limit.
inline std::int64_t SaturationFor(std::int64_t limit) {
    return 32767 - limit;
}

class Bench {
  public:
    explicit Bench(const drive::DriveRegisters& registers)
        : firmware_(registers, kInterpolationBits) {}

    drive::DriveFirmware& Firmware() { return firmware_; }
    drive::FirmwareInputs& Inputs() { return inputs_; }

    // The loops in this mode, the power stage on.
    void Start(drive::LoopMode mode) {
        firmware_.SetLoopMode(mode);
        ASSERT_TRUE(firmware_.SwitchOn());
    }
    // One current-loop period.
    void Period() { firmware_.Step(inputs_); }
    // Current-loop periods up to and including the next one that runs the speed loop (one
    // period with the fast loop).
    void SpeedLoopPeriod() {
        bool due = false;
        do {
            due = firmware_.IsSpeedLoopDue();
            firmware_.Step(inputs_);
        } while (!due);
    }
    // Phase currents that put this current on the d axis of the rotor's frame at angle 0: phase
    // A carries it, B and C half of it back each (even currents: the halves are whole counts).
    void SetCurrentAlongD(std::int64_t current) { inputs_.phaseCurrents = {current, -current / 2}; }

  private:
    drive::DriveFirmware firmware_;
    drive::FirmwareInputs inputs_;
};

}  // namespace firmware_bench
