#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "drive/MotorFile.h"
#include "host/app/Commands.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/SetupConsistency.h"
#include "host/kernel/SetupFile.h"

namespace {

// How far outside its range, relative to the range's size, a typed value is still taken (as the
// setup dialogs take it): a range end typed from its shown digits is inside.
constexpr double kRangeTolerance = 1e-9;
// How far from a whole number an internal value computed from a base value may be and still be
// that whole number.
constexpr double kWholeTolerance = 1e-9;

// The shortest text that reads back as the same number.
std::string ShortNumber(double value) {
    char text[32];
    const auto [end, status] = std::to_chars(text, text + sizeof text, value);
    return status == std::errc() ? std::string(text, end) : FullPrecision(value);
}

// A unit's name without the blanks some families' names carry.
std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string UnitSuffix(const CQel_Parameter& parameter) {
    const std::string unit = Trimmed(parameter.GetBaseUnitName());
    return unit.empty() ? std::string() : " " + unit;
}

const char* OptionName(EditKind kind) {
    switch (kind) {
        case EditKind::SetBase:
            return "--set";
        case EditKind::SetInternal:
            return "--set-internal";
        case EditKind::SetOption:
            return "--option";
        case EditKind::Remove:
            break;
    }
    return "--remove";
}

void Refuse(const SetupEdit& edit, const std::string& reason) {
    if (edit.kind == EditKind::Remove) {
        std::fprintf(stderr, "brevan: --remove %s: %s\n", edit.name.c_str(), reason.c_str());
        return;
    }
    std::fprintf(stderr, "brevan: %s %s=%s: %s\n", OptionName(edit.kind), edit.name.c_str(),
                 edit.value.c_str(), reason.c_str());
}

// The range as the setup dialogs name it: "Enter a value of NAME between A and B UNIT.", with the
// range in internal units too when the value was given in them.
std::string AllowedRange(const CQel_Parameter& parameter, EditKind kind) {
    double low = parameter.GetMinInBaseUnit();
    double high = parameter.GetMaxInBaseUnit();
    if (low > high) {
        std::swap(low, high);
    }
    std::string allowed = "Enter a value of " + parameter.GetName() + " between " +
                          ShortNumber(low) + " and " + ShortNumber(high) + UnitSuffix(parameter);
    if (kind == EditKind::SetInternal) {
        double internalLow = parameter.BaseToInternal(low);
        double internalHigh = parameter.BaseToInternal(high);
        if (internalLow > internalHigh) {
            std::swap(internalLow, internalHigh);
        }
        allowed +=
            " (internal " + ShortNumber(internalLow) + " to " + ShortNumber(internalHigh) + ")";
    }
    return allowed + ".";
}

bool InRange(const CQel_Parameter& parameter, double baseValue) {
    const double minimum = parameter.GetMinInBaseUnit();
    const double maximum = parameter.GetMaxInBaseUnit();
    const double slack = kRangeTolerance * std::max({1.0, std::fabs(minimum), std::fabs(maximum)});
    return std::isfinite(baseValue) && baseValue >= minimum - slack && baseValue <= maximum + slack;
}

// A whole-number parameter holds whole internal counts. Given in base units, the value is taken
// when it lies on a count (within the last bits of the scale); otherwise the reason is returned.
std::string WholeNumberRefusal(const CQel_Parameter& parameter, const SetupEdit& edit,
                               double value) {
    if (edit.kind == EditKind::SetInternal) {
        return value == std::round(value) ? std::string()
                                          : parameter.GetName() + " takes whole numbers only; " +
                                                edit.value + " is not one.";
    }
    const double internal = parameter.BaseToInternal(value);
    const double nearest = std::round(internal);
    if (std::isfinite(internal) &&
        std::fabs(internal - nearest) <= kWholeTolerance * std::max(1.0, std::fabs(internal))) {
        return {};
    }
    const bool identity =
        parameter.InternalToBase(0.0) == 0.0 && parameter.InternalToBase(1.0) == 1.0;
    if (identity || !std::isfinite(internal)) {
        return parameter.GetName() + " takes whole numbers only; " + edit.value + " is not one.";
    }
    double below = parameter.InternalToBase(std::floor(internal));
    double above = parameter.InternalToBase(std::ceil(internal));
    if (below > above) {
        std::swap(below, above);
    }
    return parameter.GetName() + " holds whole counts of " +
           ShortNumber(std::fabs(parameter.InternalToBase(1.0) - parameter.InternalToBase(0.0))) +
           UnitSuffix(parameter) + "; " + edit.value + " lies between " + ShortNumber(below) +
           " and " + ShortNumber(above) + UnitSuffix(parameter) + ".";
}

// A real parameter shown with no decimals is a count in its display unit (pole pairs): a value
// between two counts would be held but shown as another; the reason is returned.
std::string ShownWholeRefusal(const CQel_Parameter& parameter, const SetupEdit& edit,
                              double baseValue) {
    const std::string unit = parameter.GetUnitName();
    const double displayed = parameter.ShowsInternalUnits()
                                 ? parameter.BaseToInternal(baseValue)
                                 : baseValue / parameter.UnitToBase(1.0, unit);
    if (!std::isfinite(displayed) || std::fabs(displayed - std::round(displayed)) <=
                                         kWholeTolerance * std::max(1.0, std::fabs(displayed))) {
        return {};
    }
    const bool shownInBase = !parameter.ShowsInternalUnits() &&
                             parameter.UnitToBase(1.0, unit) == 1.0 &&
                             edit.kind == EditKind::SetBase;
    if (shownInBase) {
        return parameter.GetName() + " takes whole numbers only; " + edit.value + " is not one.";
    }
    return parameter.GetName() + " is shown in whole " + Trimmed(unit) + "; " + edit.value +
           (edit.kind == EditKind::SetInternal ? " (internal)" : UnitSuffix(parameter)) + " is " +
           ShortNumber(displayed) + " " + Trimmed(unit) + ".";
}

bool SetParameter(CQel_Setup& setup, const SetupEdit& edit, int& exitStatus) {
    CQel_Parameter* parameter = setup.FindParameter(edit.name);
    if (parameter == nullptr) {
        exitStatus = kExitFailure;
        return false;
    }
    if (parameter->GetValueType() == qel::ValueType::Text) {
        parameter->SetText(edit.value);
        return true;
    }
    double value = 0.0;
    if (!ParseNumber(edit.value, value)) {
        std::fprintf(stderr, "brevan: %s: \"%s\" is not a number\n", edit.name.c_str(),
                     edit.value.c_str());
        exitStatus = kExitUsage;
        return false;
    }
    const double baseValue =
        edit.kind == EditKind::SetBase ? value : parameter->InternalToBase(value);
    if (!InRange(*parameter, baseValue)) {
        const std::string given = edit.kind == EditKind::SetBase
                                      ? edit.value + UnitSuffix(*parameter)
                                      : edit.value + " (internal, " + ShortNumber(baseValue) +
                                            UnitSuffix(*parameter) + ")";
        Refuse(edit,
               "the value " + given + " is out of range. " + AllowedRange(*parameter, edit.kind));
        exitStatus = kExitUsage;
        return false;
    }
    if (parameter->GetValueType() == qel::ValueType::Integer) {
        if (const std::string refusal = WholeNumberRefusal(*parameter, edit, value);
            !refusal.empty()) {
            Refuse(edit, refusal);
            exitStatus = kExitUsage;
            return false;
        }
    } else if (parameter->GetPrecision() == 0) {
        if (const std::string refusal = ShownWholeRefusal(*parameter, edit, baseValue);
            !refusal.empty()) {
            Refuse(edit, refusal);
            exitStatus = kExitUsage;
            return false;
        }
    }
    const bool stored = edit.kind == EditKind::SetBase ? parameter->SetValueInBaseUnit(value)
                                                       : parameter->SetValueInInternalUnit(value);
    if (!stored) {
        exitStatus = kExitFailure;
        return false;
    }
    return true;
}

bool RemoveNamed(CQel_Setup& setup, const std::string& name) {
    const int showErrors = std::exchange(g_bShowErrors, 0);
    const bool removed = setup.RemoveParameter(name) || setup.RemoveVariable(name);
    g_bShowErrors = showErrors;
    if (!removed) {
        std::fprintf(stderr,
                     "brevan: --remove %s: the setup has no parameter or variable of that name\n",
                     name.c_str());
    }
    return removed;
}

bool ApplyEdit(CQel_Setup& setup, const SetupEdit& edit, int& exitStatus) {
    switch (edit.kind) {
        case EditKind::SetBase:
        case EditKind::SetInternal:
            return SetParameter(setup, edit, exitStatus);
        case EditKind::SetOption:
            setup.SetOption(edit.name, edit.value);
            return true;
        case EditKind::Remove:
            if (!RemoveNamed(setup, edit.name)) {
                exitStatus = kExitFailure;
                return false;
            }
            return true;
    }
    return true;
}

}  // namespace

bool ApplyEdits(CQel_Setup& setup, const Invocation& invocation, int& exitStatus) {
    for (const SetupEdit& edit : invocation.edits) {
        // An edit after which the unit scales cannot convert every value (a parameter they read
        // removed, a value that makes a scale infinite) would leave a setup that neither shows nor
        // loads: it is refused, and the setup stays as it was.
        const CQel_Setup before(setup);
        if (!ApplyEdit(setup, edit, exitStatus)) {
            return false;
        }
        if (const qel::UnconvertibleValues broken = qel::FindUnconvertibleValues(setup);
            !broken.Empty()) {
            setup = before;
            Refuse(edit, "refused: " + qel::DescribeUnconvertible(broken) + ".");
            exitStatus = edit.kind == EditKind::Remove ? kExitFailure : kExitUsage;
            return false;
        }
    }
    // A changed scale moves the base values of the scaled parameters; what left its range is
    // brought to the range's nearer end, and the user is told.
    for (const qel::RangeCorrection& correction : qel::BringValuesIntoRange(setup)) {
        std::fprintf(stderr, "brevan: %s: %s\n", correction.name.c_str(),
                     qel::DescribeCorrection(correction).c_str());
    }
    return true;
}

bool SaveOutputIfRequested(const CQel_Setup& setup, const Invocation& invocation) {
    if (!invocation.output) {
        return true;
    }
    const std::string error = qel::SaveSetupFile(setup, *invocation.output);
    if (!error.empty()) {
        std::fprintf(stderr, "brevan: %s\n", error.c_str());
        return false;
    }
    return true;
}

std::string FullPrecision(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

bool ParseNumber(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [stop, status] = std::from_chars(text.data(), end, value);
    return status == std::errc() && stop == end && std::isfinite(value);
}

bool ReadBusOption(const Invocation& invocation, std::optional<double>& supply_V) {
    if (!invocation.busVoltage) {
        supply_V.reset();
        return true;
    }
    double value = 0.0;
    if (!ParseNumber(*invocation.busVoltage, value) || !drive::IsBenchSupply(value)) {
        std::fprintf(stderr, "brevan: --bus expects a supply from %g to %g volts, not \"%s\"\n",
                     drive::kMinBenchSupply_V, drive::kMaxBenchSupply_V,
                     invocation.busVoltage->c_str());
        return false;
    }
    supply_V = value;
    return true;
}
