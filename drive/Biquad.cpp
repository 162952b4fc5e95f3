#include "drive/Biquad.h"

#include "drive/FixedPoint.h"

namespace drive {

namespace {

// The coefficients are fractions of 2^31.
constexpr int kCoefficientFractionBits = 31;
// Fraction bits kept on the past outputs.
constexpr int kGuardBits = 8;
// Signals through a slot are bounded to +-2^22 (speeds and currents stay far below), so that the
// 64-bit products of 32-bit coefficients and guarded outputs cannot overflow.
constexpr std::int64_t kSignalLimit = std::int64_t{1} << 22;
// A scale factor beyond 2^8 is not one the filter design produces; bounding it keeps the
// products in range whatever a register holds.
constexpr std::int64_t kMaxScaleFactor = 256;

}  // namespace

void BiquadFilter::Configure(const BiquadSlotRegisters& slot) {
    slot_ = slot;
    slot_.SF = std::clamp<std::int64_t>(slot.SF, 0, kMaxScaleFactor);
}

void BiquadFilter::Reset() {
    input1_ = input2_ = 0;
    output1_ = output2_ = 0;
}

std::int64_t BiquadFilter::Process(std::int64_t input) {
    const std::int64_t x0 = fixed::Saturate(input, kSignalLimit);
    const std::int64_t feedforward = slot_.B0 * x0 + slot_.B1 * input1_ + slot_.B2 * input2_;
    const std::int64_t feedback =
        fixed::ShiftRightRounded(slot_.A1 * output1_ + slot_.A2 * output2_, kGuardBits);
    const std::int64_t guarded =
        fixed::ShiftRightRounded(feedforward - feedback, kCoefficientFractionBits - kGuardBits) *
        slot_.SF;
    const std::int64_t output0 = fixed::Saturate(guarded, kSignalLimit << kGuardBits);
    input2_ = input1_;
    input1_ = x0;
    output2_ = output1_;
    output1_ = output0;
    return fixed::ShiftRightRounded(output0, kGuardBits);
}

}  // namespace drive
