#pragma once

#include <vector>

#include "host/kernel/Setup.h"

struct ReportOptions {
    bool json = false;
    bool withOptions = true;
};

// Prints parameters with their base value and unit, display value, internal value, range and unit
// family, then (optionally) the setup's options: as a table, or as JSON of the form
// {"parameters": {NAME: {"base", "internal", "min", "max", "unit", ...}}, "options": {...}}.
void PrintParameters(const std::vector<const CQel_Parameter*>& parameters, const CQel_Setup& setup,
                     const ReportOptions& options);

// Every parameter of the setup, in its order, that the predicate accepts.
template <typename Predicate>
std::vector<const CQel_Parameter*> SelectParameters(const CQel_Setup& setup, Predicate accept) {
    std::vector<const CQel_Parameter*> selected;
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        if (accept(setup.GetParameterAt(i))) {
            selected.push_back(&setup.GetParameterAt(i));
        }
    }
    return selected;
}

// Registers are the raw values written to the drive; every other parameter is a user parameter.
bool IsRegister(const CQel_Parameter& parameter);
