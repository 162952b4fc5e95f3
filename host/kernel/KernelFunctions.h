#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

class CQel_Setup;

// Full-scale count of the drive's analogue-to-digital converter: all resolution bits set, shifted
// to the top of the converter's word (a 10-bit converter left-aligned in 16 bits reads 65472).
std::uint32_t Compute_ADCMaxValue(const CQel_Setup& setup);

// The value rounded to that many decimals, halves away from zero.
double RoundDecimalValue(double value, int decimals);
// The nearest whole number, halves away from zero, as a real and as an integer.
double RoundToNearest(double value);
std::int64_t RoundToNearestInteger(double value);

// The remainder of value divided by modulus, in 0 ... modulus - 1 (modulus > 0).
std::int64_t PositiveModulo(std::int64_t value, std::int64_t modulus);

// A colour of the host's 16-colour palette.
struct QelColour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const QelColour&) const = default;
};
// Codes outside 0 ... 15 wrap around the palette.
QelColour RGB16(int paletteCode);

// Asks for a file of scope settings (JSON): one to load (open 1) or where to save them (open 0),
// with the name proposed. 1 with the path chosen, 0 when the user cancelled.
int DoPromptScopeLoggerFileName(int open, std::string_view proposedName,
                                std::filesystem::path& path);
