#pragma once

#include <string>

#include "host/kernel/Quantity.h"

namespace qel {

// Relative slack of a range check: a base value converted from internal units may differ from the
// range end it was clamped to in the last bits.
inline constexpr double kRangeTolerance = 1e-9;

enum class ValueType {
    Real,
    Integer,  // registers, flags, enumerations: whole numbers only
    Text,
};

// Everything a setup file says about one parameter.
struct ParameterDefinition {
    std::string name;
    const UnitFamily* family = nullptr;
    std::string unit;  // selected display unit; empty selects the base unit
    ValueKind kind = ValueKind::Physical;
    ValueType type = ValueType::Real;
    double value = 0.0;  // internal units
    double min = 0.0;    // base units
    double max = 0.0;    // base units
    int precision = 6;   // decimals shown
    std::string text;    // the value of a text parameter
};

}  // namespace qel

// A named value of the setup: a drive register or a user parameter. The stored value is in
// internal units; its range is in base units. Every store is clamped to the range and rounded to
// a whole number for integer types, and a non-finite value is refused, so what the setup holds is
// always a value the drive can take.
class CQel_Parameter : public qel::Quantity {
  public:
    CQel_Parameter(CQel_Setup* setup, const qel::ParameterDefinition& definition);

    qel::ValueType GetValueType() const { return type_; }
    int GetPrecision() const { return precision_; }
    void ChangePrecision(int decimals) { precision_ = decimals; }

    bool SetValueInBaseUnit(double baseValue);
    bool SetValueInInternalUnit(double internalValue);
    // Sets the value in the selected display unit.
    bool SetValue(double value);

    double GetMinInBaseUnit() const { return min_; }
    double GetMaxInBaseUnit() const { return max_; }
    // A range end is stored as given; the stored value is not moved, since callers narrow a range
    // in two steps and must not lose the value in between. The next store clamps.
    bool SetMinInBaseUnit(double minimum);
    bool SetMaxInBaseUnit(double maximum);
    // Whether a base value lies in the range, within the relative tolerance conversions need.
    bool IsWithinRange(double baseValue) const;
    // Stores the value again when its base value lies outside the range (a narrowed range, a
    // changed unit scale), which brings it to the nearer end; true when the value moved. A value
    // the scale cannot convert stays as it is.
    bool BringIntoRange();

    const std::string& GetText() const { return text_; }
    void SetText(std::string text) { text_ = std::move(text); }

    // The definition that recreates this parameter, as a setup file holds it.
    qel::ParameterDefinition GetDefinition() const;

  private:
    double ClampToRange(double baseValue) const;
    bool RefuseNonFinite(double value, const char* what) const;

    qel::ValueType type_;
    double min_;
    double max_;
    int precision_;
    std::string text_;

    friend class CQel_Setup;
};
