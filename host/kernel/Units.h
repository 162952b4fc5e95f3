#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qel {

// A unit the host converts itself: a fixed multiple of its family's base unit.
struct DisplayUnit {
    std::string name;
    double sizeInBaseUnits;  // one of this unit is this many base units (1 mA = 0.001 A)
};

// A family of units for one physical quantity. The base unit is the one whose conversion from
// the drive's internal units the module supplies; its name is what the module's scale is asked
// for, so it must stay byte for byte what the module expects ("V " with its blank, for instance).
struct UnitFamily {
    std::string id;
    std::vector<DisplayUnit> units;  // units[0] is the base unit, size 1

    const DisplayUnit& BaseUnit() const { return units.front(); }
    const DisplayUnit* FindUnit(std::string_view name) const;
};

// Selecting this unit shows the stored (internal) value itself.
inline constexpr std::string_view kInternalUnitName = "IU";

// Spellings of the degree sign: UTF-8, which the kernel keeps, and the single Windows-1252 byte
// a name may carry when it comes from outside.
inline constexpr std::string_view kDegreesCelsius =
    "\xC2\xB0"
    "C";
inline constexpr std::string_view kDegreesCelsiusLatin1 =
    "\xB0"
    "C";

// Brings the Windows-1252 spelling of the degree sign to the UTF-8 one; other names unchanged.
std::string NormalizeUnitName(std::string_view name);

const std::vector<UnitFamily>& UnitCatalogue();
const UnitFamily* FindUnitFamily(std::string_view id);
// The family holding the unit of that name (IU belongs to none).
const UnitFamily* FindFamilyOfUnit(std::string_view unitName);

}  // namespace qel
