#include "host/kernel/Units.h"

#include <numbers>

#include "host/kernel/CaseInsensitive.h"

namespace qel {
namespace {

constexpr double kTurn_rad = 2.0 * std::numbers::pi;
constexpr double kDegree_rad = std::numbers::pi / 180.0;
constexpr double kRpm_rad_s = kTurn_rad / 60.0;

std::vector<UnitFamily> MakeCatalogue() {
    return {
        {"current", {{"A", 1.0}, {"mA", 1e-3}}},
        {"dc_voltage", {{"V ", 1.0}}},
        {"voltage", {{"V", 1.0}, {"mV", 1e-3}}},
        {"time", {{"s", 1.0}, {"ms", 1e-3}, {"\xC2\xB5s", 1e-6}, {"min", 60.0}}},
        {"rotary_position", {{"rad", 1.0}, {"rot", kTurn_rad}, {"deg", kDegree_rad}}},
        {"linear_position", {{"m", 1.0}, {"mm", 1e-3}, {"\xC2\xB5m", 1e-6}}},
        {"rotary_speed", {{"rad/s", 1.0}, {"rpm", kRpm_rad_s}, {"rot/s", kTurn_rad}}},
        {"linear_speed", {{"m/s", 1.0}, {"mm/s", 1e-3}}},
        {"rotary_acceleration", {{"rad/s^2", 1.0}, {"rot/s^2", kTurn_rad}}},
        {"linear_acceleration", {{"m/s^2", 1.0}, {"mm/s^2", 1e-3}}},
        {"rotary_jerk", {{"rad/s^3", 1.0}, {"rot/s^3", kTurn_rad}}},
        {"linear_jerk", {{"m/s^3", 1.0}, {"mm/s^3", 1e-3}}},
        {"temperature", {{std::string(kDegreesCelsius), 1.0}}},
        {"voltage_rate", {{"V/s", 1.0}}},
        {"current_rate", {{"A/s", 1.0}}},
        {"frequency", {{"Hz", 1.0}, {"kHz", 1e3}, {"MHz", 1e6}}},
        {"resistance", {{"Ohm", 1.0}, {"mOhm", 1e-3}}},
        {"inductance", {{"H", 1.0}, {"mH", 1e-3}, {"\xC2\xB5H", 1e-6}}},
        {"torque_constant", {{"Nm/A", 1.0}}},
        {"torque", {{"Nm", 1.0}, {"mNm", 1e-3}}},
        {"inertia", {{"kgm^2", 1.0}, {"kgcm^2", 1e-4}, {"gcm^2", 1e-7}}},
        {"percent", {{"%", 1.0}}},
        {"count", {{"counts", 1.0}}},
        {"number", {{"-", 1.0}}},
        {"register", {{"", 1.0}}},
    };
}

// Exact spelling first: "V" and "V " differ only by a blank, and "m" and "M" must not be
// confused with another unit by the case-folding fallback.
template <typename Items, typename Name>
auto FindByName(const Items& items, std::string_view wanted, Name nameOf) -> decltype(&items[0]) {
    for (const auto& item : items) {
        if (nameOf(item) == wanted) {
            return &item;
        }
    }
    for (const auto& item : items) {
        if (EqualsIgnoringCase(nameOf(item), wanted)) {
            return &item;
        }
    }
    return nullptr;
}

}  // namespace

const DisplayUnit* UnitFamily::FindUnit(std::string_view name) const {
    const std::string normalized = NormalizeUnitName(name);
    return FindByName(units, normalized,
                      [](const DisplayUnit& unit) -> const std::string& { return unit.name; });
}

std::string NormalizeUnitName(std::string_view name) {
    return EqualsIgnoringCase(name, kDegreesCelsiusLatin1) ? std::string(kDegreesCelsius)
                                                           : std::string(name);
}

const std::vector<UnitFamily>& UnitCatalogue() {
    static const std::vector<UnitFamily> catalogue = MakeCatalogue();
    return catalogue;
}

const UnitFamily* FindUnitFamily(std::string_view id) {
    return FindByName(UnitCatalogue(), id,
                      [](const UnitFamily& family) -> const std::string& { return family.id; });
}

const UnitFamily* FindFamilyOfUnit(std::string_view unitName) {
    const std::string normalized = NormalizeUnitName(unitName);
    for (const UnitFamily& family : UnitCatalogue()) {
        for (const DisplayUnit& unit : family.units) {
            if (unit.name == normalized) {
                return &family;
            }
        }
    }
    for (const UnitFamily& family : UnitCatalogue()) {
        if (family.FindUnit(normalized) != nullptr) {
            return &family;
        }
    }
    return nullptr;
}

}  // namespace qel
