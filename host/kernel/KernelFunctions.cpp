#include "host/kernel/KernelFunctions.h"

#include <array>
#include <cmath>
#include <optional>
#include <vector>

#include "host/kernel/Setup.h"
#include "host/ui/FileDialogs.h"

std::uint32_t Compute_ADCMaxValue(const CQel_Setup& setup) {
    const qel::AdcFormat& adc = setup.GetAdcFormat();
    if (!adc.IsValid()) {
        return 0;
    }
    const std::uint64_t resolutionMask = (std::uint64_t{1} << adc.adcBits) - 1;
    return static_cast<std::uint32_t>(resolutionMask << (adc.adcWordBits - adc.adcBits));
}

double RoundDecimalValue(double value, int decimals) {
    // From 2^52 on a double has no fraction left to round, and scaling could overflow.
    constexpr double kNoFractionAbove = 4503599627370496.0;
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= kNoFractionAbove) {
        return value;
    }
    return std::round(scaled) / scale;
}

double RoundToNearest(double value) {
    return std::round(value);
}

std::int64_t RoundToNearestInteger(double value) {
    return std::llround(value);
}

std::int64_t PositiveModulo(std::int64_t value, std::int64_t modulus) {
    const std::int64_t remainder = value % modulus;
    return remainder < 0 ? remainder + modulus : remainder;
}

QelColour RGB16(int paletteCode) {
    // The classic 16-colour palette: the eight dark colours, then their bright counterparts.
    static constexpr std::array<QelColour, 16> kPalette{{
        {0, 0, 0},
        {128, 0, 0},
        {0, 128, 0},
        {128, 128, 0},
        {0, 0, 128},
        {128, 0, 128},
        {0, 128, 128},
        {192, 192, 192},
        {128, 128, 128},
        {255, 0, 0},
        {0, 255, 0},
        {255, 255, 0},
        {0, 0, 255},
        {255, 0, 255},
        {0, 255, 255},
        {255, 255, 255},
    }};
    return kPalette[static_cast<std::size_t>(PositiveModulo(paletteCode, kPalette.size()))];
}

int DoPromptScopeLoggerFileName(int open, std::string_view proposedName,
                                std::filesystem::path& path) {
    const std::vector<ui::FileType> types = {{"Scope settings", "json"}};
    const std::optional<std::filesystem::path> chosen =
        open != 0 ? ui::AskOpenFilePath(nullptr, "Load Scope Settings", proposedName, types)
                  : ui::AskSaveFilePath(nullptr, "Save Scope Settings", proposedName, types);
    if (!chosen) {
        return 0;
    }
    path = *chosen;
    return 1;
}
