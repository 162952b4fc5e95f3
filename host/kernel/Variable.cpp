#include "host/kernel/Variable.h"

#include <cmath>
#include <cstdio>

#include "host/kernel/ErrorReport.h"
#include "host/kernel/Setup.h"

CQel_Variable::CQel_Variable(CQel_Setup* setup, std::string name, const qel::UnitFamily& family,
                             double internalValue)
    : Quantity(setup, std::move(name), family, qel::ValueKind::Scaled, internalValue) {}

bool CQel_Variable::SetValueInInternalUnit(double internalValue) {
    if (!std::isfinite(internalValue)) {
        qel::ReportError("Refused to store a non-finite value in the variable \"" + GetName() +
                         "\".");
        return false;
    }
    StoreInternal(internalValue);
    return true;
}

bool CQel_Variable::ReadFromChip() {
    qel::DriveLink* link = GetSetup() == nullptr ? nullptr : GetSetup()->GetDriveLink();
    double internalValue = 0.0;
    if (link == nullptr || !link->ReadValue(GetName(), internalValue)) {
        return false;
    }
    return SetValueInInternalUnit(internalValue);
}

bool CQel_Variable::SetValueInBaseUnit(double baseValue) {
    return SetValueInInternalUnit(BaseToInternal(baseValue));
}

std::string CQel_Variable::PrintValue() const {
    char text[64];
    std::snprintf(text, sizeof text, "%g", GetValue());
    return text;
}
