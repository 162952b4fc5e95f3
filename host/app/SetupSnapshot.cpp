#include "host/app/SetupSnapshot.h"

#include <cstdio>

#include "host/ui/Utf8Text.h"

namespace {

// A unit that only says "a plain number" is not worth printing after the value.
std::string WithUnit(const std::string& value, const std::string& unit) {
    // Some unit names carry a trailing blank that tells two families apart.
    const std::string trimmed = unit.substr(0, unit.find_last_not_of(' ') + 1);
    return trimmed.empty() || trimmed == "-" ? value : value + " " + trimmed;
}

}  // namespace

Snapshot TakeSnapshot(const CQel_Setup& setup) {
    Snapshot snapshot;
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        const CQel_Parameter& parameter = setup.GetParameterAt(i);
        ParameterValue value;
        if (parameter.GetValueType() == qel::ValueType::Text) {
            value.text = parameter.GetText();
            value.display = ui::DisplayUtf8("\"" + *value.text + "\"");
        } else {
            value.base = parameter.GetValueInBaseUnit();
            value.internal = parameter.GetValueInInternalUnit();
            char text[64];
            std::snprintf(text, sizeof text, "%.*f", parameter.GetPrecision(),
                          parameter.GetValue());
            value.display = ui::DisplayUtf8(WithUnit(text, parameter.GetUnitName()));
        }
        value.unit = parameter.GetBaseUnitName();
        snapshot.emplace(parameter.GetName(), value);
    }
    return snapshot;
}

std::vector<Proposal> Differences(const CQel_Setup& setup, const Snapshot& before,
                                  const Snapshot& after) {
    std::vector<Proposal> proposals;
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        const std::string& name = setup.GetParameterAt(i).GetName();
        const auto old = before.find(name);
        const auto now = after.find(name);
        if (old != before.end() && now != after.end() && !(old->second == now->second)) {
            proposals.push_back({name, old->second, now->second});
        }
    }
    return proposals;
}

std::string Readable(const ParameterValue& value) {
    if (value.text) {
        return "\"" + *value.text + "\"";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.10g", value.base);
    return WithUnit(text, value.unit);
}

nlohmann::ordered_json ValueJson(const ParameterValue& value) {
    return value.text ? nlohmann::ordered_json(*value.text) : nlohmann::ordered_json(value.base);
}

nlohmann::ordered_json ProposalsJson(const std::vector<Proposal>& proposals) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    for (const Proposal& proposal : proposals) {
        json[proposal.name] = {{"old", ValueJson(proposal.before)},
                               {"new", ValueJson(proposal.after)}};
    }
    return json;
}
