#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "host/kernel/Setup.h"
#include "host/kernel/Units.h"

// A text as a test name can show it: quoted, printable ASCII as it is, other bytes as \xHH.
inline std::string Printable(std::string_view text) {
    std::string shown = "\"";
    for (const char c : text) {
        if (c >= ' ' && c <= '~') {
            shown += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            shown += escaped;
        }
    }
    return shown + '"';
}

// A stand-in for the module's unit scales: one factor and offset for every scaled quantity, plus
// two names whose factor reads the setup. "TIMEOUT" counts periods of the physical "PERIOD";
// "LOOP" reads the scaled "ILIM", which a scale must never do. Every call is recorded.
namespace fake {

struct ScaleState {
    double factor = 1.0;
    double offset = 0.0;
    int factorCalls = 0;
    CQel_Setup* lastSetup = nullptr;
    std::string lastUnit;
};

inline ScaleState& State() {
    static ScaleState state;
    return state;
}

inline void Reset(double factor, double offset) {
    ScaleState fresh;
    fresh.factor = factor;
    fresh.offset = offset;
    State() = fresh;
}

inline double Factor(CQel_Setup* setup, const char* unitName, const char* parameterName) {
    ScaleState& state = State();
    ++state.factorCalls;
    state.lastSetup = setup;
    state.lastUnit = unitName;
    const std::string_view name = parameterName;
    if (name == "TIMEOUT") {
        return setup->GetParameterValueInBaseUnit("PERIOD");
    }
    if (name == "LOOP") {
        return setup->GetParameterValueInBaseUnit("ILIM");
    }
    return state.factor;
}

inline double Offset(CQel_Setup* /*setup*/, const char* /*unitName*/) {
    return State().offset;
}

inline qel::ScaleFunctions Functions() {
    return {Factor, Offset};
}

inline qel::ParameterDefinition Definition(std::string name, const char* family,
                                           qel::ValueKind kind, double value, double min = -1e9,
                                           double max = 1e9,
                                           qel::ValueType type = qel::ValueType::Real) {
    qel::ParameterDefinition definition;
    definition.name = std::move(name);
    definition.family = qel::FindUnitFamily(family);
    definition.kind = kind;
    definition.type = type;
    definition.value = value;
    definition.min = min;
    definition.max = max;
    return definition;
}

}  // namespace fake
