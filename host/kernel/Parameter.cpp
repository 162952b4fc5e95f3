#include "host/kernel/Parameter.h"

#include <algorithm>
#include <cmath>

#include "host/kernel/ErrorReport.h"

CQel_Parameter::CQel_Parameter(CQel_Setup* setup, const qel::ParameterDefinition& definition)
    : Quantity(setup, definition.name, *definition.family, definition.kind, definition.value),
      type_(definition.type),
      min_(definition.min),
      max_(definition.max),
      precision_(definition.precision),
      text_(definition.text) {
    if (!definition.unit.empty()) {
        ChangeUnit(definition.unit);
    }
}

bool CQel_Parameter::RefuseNonFinite(double value, const char* what) const {
    if (std::isfinite(value)) {
        return false;
    }
    qel::ReportError("Refused to store a non-finite " + std::string(what) + " in \"" + GetName() +
                     "\"; the parameter keeps its value.");
    return true;
}

double CQel_Parameter::ClampToRange(double baseValue) const {
    // Tested one end at a time so that an inverted range still yields one of its ends.
    if (baseValue < min_) {
        return min_;
    }
    if (baseValue > max_) {
        return max_;
    }
    return baseValue;
}

bool CQel_Parameter::SetValueInBaseUnit(double baseValue) {
    if (RefuseNonFinite(baseValue, "value")) {
        return false;
    }
    // One scale for the whole store: the module computes it afresh on every call.
    const qel::Scale scale = GetScale();
    double internalValue = scale.ToInternal(ClampToRange(baseValue));
    if (type_ == qel::ValueType::Integer) {
        internalValue = std::round(internalValue);
        // Rounding may step just outside the range; one count back inside is the nearest whole
        // number that the range admits.
        const double step = scale.factor >= 0.0 ? 1.0 : -1.0;
        const double roundedBase = scale.ToBase(internalValue);
        if (roundedBase > max_ && scale.ToBase(internalValue - step) >= min_) {
            internalValue -= step;
        } else if (roundedBase < min_ && scale.ToBase(internalValue + step) <= max_) {
            internalValue += step;
        }
    }
    if (RefuseNonFinite(internalValue, "internal value (the unit scale is not defined)")) {
        return false;
    }
    StoreInternal(internalValue);
    return true;
}

bool CQel_Parameter::SetValueInInternalUnit(double internalValue) {
    if (RefuseNonFinite(internalValue, "value")) {
        return false;
    }
    const double baseValue = InternalToBase(internalValue);
    if (baseValue >= min_ && baseValue <= max_ &&
        (type_ != qel::ValueType::Integer || internalValue == std::round(internalValue))) {
        // Kept as given: converting to base and back could change the last bit.
        StoreInternal(internalValue);
        return true;
    }
    return SetValueInBaseUnit(baseValue);
}

bool CQel_Parameter::SetValue(double value) {
    if (ShowsInternalUnits()) {
        return SetValueInInternalUnit(value);
    }
    return SetValueInBaseUnit(UnitToBase(value, GetUnitName()));
}

bool CQel_Parameter::SetMinInBaseUnit(double minimum) {
    if (RefuseNonFinite(minimum, "minimum")) {
        return false;
    }
    min_ = minimum;
    return true;
}

bool CQel_Parameter::SetMaxInBaseUnit(double maximum) {
    if (RefuseNonFinite(maximum, "maximum")) {
        return false;
    }
    max_ = maximum;
    return true;
}

bool CQel_Parameter::IsWithinRange(double baseValue) const {
    const double slack = qel::kRangeTolerance * std::max({1.0, std::fabs(min_), std::fabs(max_)});
    return baseValue >= min_ - slack && baseValue <= max_ + slack;
}

bool CQel_Parameter::BringIntoRange() {
    if (type_ == qel::ValueType::Text) {
        return false;
    }
    const double baseValue = GetValueInBaseUnit();
    if (!std::isfinite(baseValue) || IsWithinRange(baseValue)) {
        return false;
    }
    const double before = GetValueInInternalUnit();
    return SetValueInBaseUnit(baseValue) && GetValueInInternalUnit() != before;
}

qel::ParameterDefinition CQel_Parameter::GetDefinition() const {
    return {.name = GetName(),
            .family = &GetUnitFamily(),
            .unit = GetUnitName(),
            .kind = GetKind(),
            .type = type_,
            .value = GetValueInInternalUnit(),
            .min = min_,
            .max = max_,
            .precision = precision_,
            .text = text_};
}
