#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "drive/MotorFile.h"
#include "host/app/Commands.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/SetupFile.h"

namespace {

// A value that went through a unit scale and back may differ in its last bits; that is no change.
constexpr double kSameValueTolerance = 1e-12;

void WarnIfChanged(const CQel_Parameter& parameter, double requestedBase) {
    const double storedBase = parameter.GetValueInBaseUnit();
    if (std::fabs(storedBase - requestedBase) >
        kSameValueTolerance * std::max(1.0, std::fabs(requestedBase))) {
        std::fprintf(
            stderr, "brevan: %s: %s %s was stored as %s %s (range %s to %s, %s)\n",
            parameter.GetName().c_str(), FullPrecision(requestedBase).c_str(),
            parameter.GetBaseUnitName().c_str(), FullPrecision(storedBase).c_str(),
            parameter.GetBaseUnitName().c_str(),
            FullPrecision(parameter.GetMinInBaseUnit()).c_str(),
            FullPrecision(parameter.GetMaxInBaseUnit()).c_str(),
            parameter.GetValueType() == qel::ValueType::Integer ? "whole numbers" : "real numbers");
    }
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
    const bool stored = edit.kind == EditKind::SetBase ? parameter->SetValueInBaseUnit(value)
                                                       : parameter->SetValueInInternalUnit(value);
    if (!stored) {
        exitStatus = kExitFailure;
        return false;
    }
    WarnIfChanged(*parameter,
                  edit.kind == EditKind::SetBase ? value : parameter->InternalToBase(value));
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

}  // namespace

bool ApplyEdits(CQel_Setup& setup, const Invocation& invocation, int& exitStatus) {
    for (const SetupEdit& edit : invocation.edits) {
        switch (edit.kind) {
            case EditKind::SetBase:
            case EditKind::SetInternal:
                if (!SetParameter(setup, edit, exitStatus)) {
                    return false;
                }
                break;
            case EditKind::SetOption:
                setup.SetOption(edit.name, edit.value);
                break;
            case EditKind::Remove:
                if (!RemoveNamed(setup, edit.name)) {
                    exitStatus = kExitFailure;
                    return false;
                }
                break;
        }
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
