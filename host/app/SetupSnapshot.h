#pragma once

// The values of a setup's parameters at one moment, and what changed between two moments: what
// brevan test lists as a dialog's proposals and brevan commission as each step's and the whole
// run's changes.

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/kernel/Setup.h"

// One parameter's value: base and internal for a number, the text for a text parameter; the
// display value with its display unit as the dialogs show it.
struct ParameterValue {
    double base = 0.0;
    double internal = 0.0;
    std::optional<std::string> text;
    std::string unit;
    std::string display;

    bool operator==(const ParameterValue& other) const {
        return internal == other.internal && text == other.text;
    }
};

using Snapshot = std::map<std::string, ParameterValue>;

Snapshot TakeSnapshot(const CQel_Setup& setup);

struct Proposal {
    std::string name;
    ParameterValue before;
    ParameterValue after;
};

// The parameters of the setup's order whose value differs between the two snapshots.
std::vector<Proposal> Differences(const CQel_Setup& setup, const Snapshot& before,
                                  const Snapshot& after);

// A base value as brevan show prints it, with its base unit.
std::string Readable(const ParameterValue& value);

// The base value, or the text of a text parameter.
nlohmann::ordered_json ValueJson(const ParameterValue& value);

// {NAME: {"old": ..., "new": ...}} in the order of the proposals.
nlohmann::ordered_json ProposalsJson(const std::vector<Proposal>& proposals);
