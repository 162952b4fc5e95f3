#include "host/kernel/Quantity.h"

#include <cmath>
#include <limits>

#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/Setup.h"

namespace qel {
namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

}  // namespace

Quantity::Quantity(CQel_Setup* setup, std::string name, const UnitFamily& family, ValueKind kind,
                   double internalValue)
    : setup_(setup),
      name_(std::move(name)),
      family_(&family),
      kind_(kind),
      internal_(internalValue) {}

std::string Quantity::GetUnitName() const {
    return ShowsInternalUnits() ? std::string(kInternalUnitName)
                                : family_->units[static_cast<std::size_t>(unitIndex_)].name;
}

double Quantity::GetValue() const {
    if (ShowsInternalUnits()) {
        return internal_;
    }
    return GetValueInBaseUnit() /
           family_->units[static_cast<std::size_t>(unitIndex_)].sizeInBaseUnits;
}

double Quantity::GetValueInUnit(std::string_view unitName) const {
    if (EqualsIgnoringCase(unitName, kInternalUnitName)) {
        return internal_;
    }
    const DisplayUnit* unit = family_->FindUnit(unitName);
    return unit == nullptr ? kNotANumber : GetValueInBaseUnit() / unit->sizeInBaseUnits;
}

Scale Quantity::GetScale() const {
    if (kind_ == ValueKind::Physical || setup_ == nullptr) {
        return {};
    }
    return setup_->ScaleOf(*this);
}

double Quantity::InternalToBase(double internalValue) const {
    return GetScale().ToBase(internalValue);
}

double Quantity::BaseToInternal(double baseValue) const {
    return GetScale().ToInternal(baseValue);
}

double Quantity::UnitToBase(double value, std::string_view unitName) const {
    if (EqualsIgnoringCase(unitName, kInternalUnitName)) {
        return InternalToBase(value);
    }
    const DisplayUnit* unit = family_->FindUnit(unitName);
    return unit == nullptr ? kNotANumber : value * unit->sizeInBaseUnits;
}

bool Quantity::ChangeUnit(std::string_view unitName) {
    if (EqualsIgnoringCase(unitName, kInternalUnitName)) {
        unitIndex_ = -1;
        return true;
    }
    const DisplayUnit* unit = family_->FindUnit(unitName);
    if (unit == nullptr) {
        ReportError("The unit \"" + std::string(unitName) +
                    "\" does not belong to the units of \"" + name_ + "\" (" + family_->id + ").");
        return false;
    }
    unitIndex_ = static_cast<int>(unit - family_->units.data());
    return true;
}

bool Quantity::ChangeUnitType(std::string_view unitName) {
    const UnitFamily* family = FindFamilyOfUnit(unitName);
    if (family == nullptr) {
        ReportError("Unknown unit \"" + std::string(unitName) + "\" for \"" + name_ + "\".");
        return false;
    }
    family_ = family;
    unitIndex_ = 0;
    return ChangeUnit(unitName);
}

bool Quantity::WriteToChip() const {
    DriveLink* link = setup_ == nullptr ? nullptr : setup_->GetDriveLink();
    if (link == nullptr) {
        ReportError("No drive is connected: \"" + name_ + "\" was not written to the drive.");
        return false;
    }
    if (!link->WriteValue(name_, internal_)) {
        ReportError("Writing \"" + name_ + "\" to the drive failed: " + link->LastError());
        return false;
    }
    return true;
}

}  // namespace qel
