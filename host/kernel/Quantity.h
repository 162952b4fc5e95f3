#pragma once

#include <string>
#include <string_view>

#include "host/kernel/Units.h"

class CQel_Setup;

namespace qel {

// How the stored value relates to the base unit.
enum class ValueKind {
    Physical,  // the stored value is the base-unit value (drive data, motor data, registers)
    Scaled,    // the drive holds it in internal units; base = (stored + offset) x factor
};

// What the module's scale answers for one quantity: base = (internal + offset) x factor.
struct Scale {
    double factor = 1.0;
    double offset = 0.0;

    double ToBase(double internalValue) const { return (internalValue + offset) * factor; }
    double ToInternal(double baseValue) const { return baseValue / factor - offset; }
};

// What parameters and drive variables share: a name, a unit family with a selected display unit,
// and one stored value in internal units, of which the base-unit and display-unit values are views.
class Quantity {
  public:
    Quantity(CQel_Setup* setup, std::string name, const UnitFamily& family, ValueKind kind,
             double internalValue);

    const std::string& GetName() const { return name_; }
    const UnitFamily& GetUnitFamily() const { return *family_; }
    ValueKind GetKind() const { return kind_; }
    CQel_Setup* GetSetup() const { return setup_; }

    // The selected display unit ("IU" when internal units are shown) and the family's base unit.
    std::string GetUnitName() const;
    const std::string& GetBaseUnitName() const { return family_->BaseUnit().name; }
    bool ShowsInternalUnits() const { return unitIndex_ < 0; }

    double GetValueInInternalUnit() const { return internal_; }
    double GetValueInBaseUnit() const { return InternalToBase(internal_); }
    // The value in the selected display unit.
    double GetValue() const;
    // The value in any unit of the family, or internal units for "IU"; NaN for a foreign unit.
    double GetValueInUnit(std::string_view unitName) const;

    Scale GetScale() const;
    double InternalToBase(double internalValue) const;
    double BaseToInternal(double baseValue) const;
    // Base-unit value of a value given in a unit of the family (or IU); NaN for a foreign unit.
    double UnitToBase(double value, std::string_view unitName) const;

    // Selects a display unit of the current family, or internal units.
    bool ChangeUnit(std::string_view unitName);
    // Moves to the family holding the named unit and selects that unit (rotary to linear, ...).
    bool ChangeUnitType(std::string_view unitName);
    void ChangeName(std::string name) { name_ = std::move(name); }

    // Sends the stored value to the drive the setup is connected to; reports and returns false
    // when there is none or the drive refused it.
    bool WriteToChip() const;

  protected:
    // Stores an internal value that the caller has already checked.
    void StoreInternal(double internalValue) { internal_ = internalValue; }
    void RebindSetup(CQel_Setup* setup) { setup_ = setup; }

  private:
    CQel_Setup* setup_;
    std::string name_;
    const UnitFamily* family_;
    int unitIndex_ = 0;  // index into the family's units, or -1 for internal units
    ValueKind kind_;
    double internal_;

    friend class ::CQel_Setup;
};

}  // namespace qel
