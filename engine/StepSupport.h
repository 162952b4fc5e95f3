#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "host/kernel/Setup.h"

// What every engine step shares: its names looked up in order with the error display as the
// caller left it (on, normally), the range rule, and reading bits of registers.
namespace engine {

// Looks the names up in the order given; at the first name the setup lacks (which the kernel
// reports) the step must stop, so nothing is returned. A const setup gives const parameters.
template <std::size_t N, typename Setup>
auto FindInOrder(Setup& setup, const std::array<std::string_view, N>& names)
    -> std::optional<std::array<decltype(setup.FindParameter(names[0])), N>> {
    std::array<decltype(setup.FindParameter(names[0])), N> found{};
    for (std::size_t i = 0; i < N; ++i) {
        found[i] = setup.FindParameter(names[i]);
        if (found[i] == nullptr) {
            return std::nullopt;
        }
    }
    return found;
}

// A flag or a selector as the drive reads it: the integer part of its value.
inline double WholePart(double value) {
    return std::trunc(value);
}
// A flag is on when the drive reads one from it; the setup's flags are whole numbers, and a
// fraction is cut off as the drive cuts it.
inline bool IsOne(double flag) {
    return WholePart(flag) == 1.0;
}

// The integer part of a register's value, for testing and setting bits; 0 for a value that is not
// a finite number (nothing a register holds).
std::int64_t RegisterBits(double registerValue);
bool IsBitSet(double registerValue, int bit);
// The register with the bit set or cleared; other bits as the register held them.
double WithBit(double registerValue, int bit, bool set);

// The drive's gain rule: a 15-bit mantissa M and a shift S stand for G = M x 2^S / 32767.
double GainFromRegisters(double mantissa, double shift);

}  // namespace engine

// Sets a parameter's minimum and maximum without the minimum ever exceeding the maximum, even
// for a moment, and brings a value the new range no longer holds to its nearer end; fails and
// changes nothing when low > high.
bool SetParameterRange(CQel_Parameter& parameter, double low, double high);
