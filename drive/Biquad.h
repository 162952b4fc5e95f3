#pragma once

#include <cstdint>

namespace drive {

// The registers of one biquad slot: H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2),
// each real coefficient being its register / 2^31 x SF (SF a power of two).
struct BiquadSlotRegisters {
    std::int64_t B0 = 0;
    std::int64_t B1 = 0;
    std::int64_t B2 = 0;
    std::int64_t A1 = 0;
    std::int64_t A2 = 0;
    std::int64_t SF = 0;
};

// One biquad slot running in the drive's fixed point (direct form I). The past outputs are kept
// with a few fraction bits more than the signal, so that a narrow filter does not stall on the
// rounding of its own feedback.
class BiquadFilter {
  public:
    void Configure(const BiquadSlotRegisters& slot);
    void Reset();
    // The next output for the next input; both in the signal's integer units.
    std::int64_t Process(std::int64_t input);

  private:
    BiquadSlotRegisters slot_;
    std::int64_t input1_ = 0;
    std::int64_t input2_ = 0;
    std::int64_t output1_ = 0;  // with kGuardBits fraction bits
    std::int64_t output2_ = 0;
};

}  // namespace drive
