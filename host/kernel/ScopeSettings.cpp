#include "host/kernel/ScopeSettings.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace qel {
namespace {

using Json = nlohmann::json;

// Mantissas of the scale sequence within one decade.
constexpr std::array<double, 3> kMantissas = {1.0, 2.0, 5.0};
constexpr int kMantissaCount = static_cast<int>(kMantissas.size());
// Two scales this close (relative) are the same value of the sequence, whatever rounding of a
// decimal text brought them.
constexpr double kSameScale = 1e-9;

// The value of the sequence at a place: 1, 2, 5 at places 0, 1, 2, 10 at place 3, 0.5 at -1.
double ScaleAt(int place) {
    const int decade = place >= 0 ? place / kMantissaCount : -((-place + 2) / kMantissaCount);
    return kMantissas[static_cast<std::size_t>(place - decade * kMantissaCount)] *
           std::pow(10.0, decade);
}

// The place of the largest value of the sequence not above the scale (a positive number).
int PlaceAtMost(double scale) {
    int place = static_cast<int>(std::floor(std::log10(scale))) * kMantissaCount;
    while (ScaleAt(place + 1) <= scale * (1.0 + kSameScale)) {
        ++place;
    }
    while (ScaleAt(place) > scale * (1.0 + kSameScale)) {
        --place;
    }
    return place;
}

std::string Place(std::string_view where, std::string_view member) {
    return std::string(where) + (where.empty() ? "" : ".") + std::string(member);
}

// Throws the problem, caught by ParseScopeSettings.
struct Problem {
    std::string text;
};

const Json& Member(const Json& object, std::string_view where, const char* name) {
    const auto found = object.find(name);
    if (found == object.end()) {
        throw Problem{Place(where, name) + " is missing"};
    }
    return *found;
}

double Number(const Json& object, std::string_view where, const char* name) {
    const Json& value = Member(object, where, name);
    if (!value.is_number() || !std::isfinite(value.get<double>())) {
        throw Problem{Place(where, name) + " is not a number"};
    }
    return value.get<double>();
}

int Integer(const Json& object, std::string_view where, const char* name) {
    const Json& value = Member(object, where, name);
    if (!value.is_number_integer()) {
        throw Problem{Place(where, name) + " is not a whole number"};
    }
    return value.get<int>();
}

std::string Text(const Json& object, std::string_view where, const char* name) {
    const Json& value = Member(object, where, name);
    if (!value.is_string()) {
        throw Problem{Place(where, name) + " is not a text"};
    }
    return value.get<std::string>();
}

const Json& Object(const Json& object, std::string_view where, const char* name) {
    const Json& value = Member(object, where, name);
    if (!value.is_object()) {
        throw Problem{Place(where, name) + " is not an object"};
    }
    return value;
}

const Json& Array(const Json& object, std::string_view where, const char* name) {
    const Json& value = Member(object, where, name);
    if (!value.is_array()) {
        throw Problem{Place(where, name) + " is not a list"};
    }
    return value;
}

QelColour Colour(const Json& object, const std::string& where) {
    constexpr std::size_t kComponents = 3;
    constexpr int kComponentMaximum = 255;
    const Json& value = Member(object, where, "colour");
    std::array<std::uint8_t, kComponents> components{};
    if (!value.is_array() || value.size() != kComponents) {
        throw Problem{Place(where, "colour") + " is not a list of red, green and blue"};
    }
    for (std::size_t i = 0; i < kComponents; ++i) {
        if (!value[i].is_number_integer() || value[i].get<int>() < 0 ||
            value[i].get<int>() > kComponentMaximum) {
            throw Problem{Place(where, "colour") + " has a component outside 0 ... 255"};
        }
        components[i] = static_cast<std::uint8_t>(value[i].get<int>());
    }
    return QelColour{components[0], components[1], components[2]};
}

ScopeSettings Parse(const Json& root) {
    if (!root.is_object()) {
        throw Problem{"the settings are not a JSON object"};
    }
    if (Integer(root, "", "format") != kScopeSettingsFormat) {
        throw Problem{"format " + Member(root, "", "format").dump() +
                      " is not one this program reads (it reads format " +
                      std::to_string(kScopeSettingsFormat) + ")"};
    }
    ScopeSettings settings;
    const Json& acquisition = Object(root, "", "acquisition");
    settings.acquisition = {Number(acquisition, "acquisition", "duration_s"),
                            Integer(acquisition, "acquisition", "mode"),
                            Integer(acquisition, "acquisition", "slope"),
                            Text(acquisition, "acquisition", "variable"),
                            Number(acquisition, "acquisition", "level"),
                            Integer(acquisition, "acquisition", "preTrigger_percent")};
    const Json& channels = Array(root, "", "channels");
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const std::string where = "channels[" + std::to_string(i) + "]";
        const ScopeChannel channel{
            Text(channels[i], where, "variable"), Integer(channels[i], where, "flag"),
            Text(channels[i], where, "unit"), Number(channels[i], where, "valuePerDivision"),
            Number(channels[i], where, "centre")};
        if (!(channel.valuePerDivision > 0.0)) {
            throw Problem{where + ".valuePerDivision is not positive"};
        }
        settings.channels.push_back(channel);
    }
    const Json& curves = Array(root, "", "curves");
    for (std::size_t i = 0; i < curves.size(); ++i) {
        const std::string where = "curves[" + std::to_string(i) + "]";
        const int item = Integer(curves[i], where, "item");
        if (item < 1 || item > static_cast<int>(settings.channels.size())) {
            throw Problem{where + ".item names no channel"};
        }
        settings.curves.push_back({item, Colour(curves[i], where)});
    }
    return settings;
}

}  // namespace

std::string ScopeSettingsToJson(const ScopeSettings& settings) {
    const ScopeAcquisition& acquisition = settings.acquisition;
    Json channels = Json::array();
    for (const ScopeChannel& channel : settings.channels) {
        channels.push_back({{"variable", channel.variable},
                            {"flag", channel.flag},
                            {"unit", channel.unit},
                            {"valuePerDivision", channel.valuePerDivision},
                            {"centre", channel.centre}});
    }
    Json curves = Json::array();
    for (const ScopeCurve& curve : settings.curves) {
        curves.push_back({{"item", curve.item},
                          {"colour", {curve.colour.red, curve.colour.green, curve.colour.blue}}});
    }
    const Json root = {{"format", kScopeSettingsFormat},
                       {"acquisition",
                        {{"duration_s", acquisition.duration_s},
                         {"mode", acquisition.mode},
                         {"slope", acquisition.slope},
                         {"variable", acquisition.variable},
                         {"level", acquisition.level},
                         {"preTrigger_percent", acquisition.preTrigger_percent}}},
                       {"channels", std::move(channels)},
                       {"curves", std::move(curves)}};
    return root.dump(2) + "\n";
}

std::optional<ScopeSettings> ParseScopeSettings(std::string_view text, std::string& problem) {
    const Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        problem = "the text is not valid JSON";
        return std::nullopt;
    }
    try {
        return Parse(root);
    } catch (const Problem& found) {
        problem = found.text;
    } catch (const Json::exception& error) {
        problem = error.what();
    }
    return std::nullopt;
}

double ScopeScaleAtLeast(double magnitude) {
    if (!(magnitude > 0.0) || !std::isfinite(magnitude)) {
        return 1.0;
    }
    const int place = PlaceAtMost(magnitude);
    return ScaleAt(place) >= magnitude * (1.0 - kSameScale) ? ScaleAt(place) : ScaleAt(place + 1);
}

double StepScopeScale(double valuePerDivision, int steps) {
    const int place = PlaceAtMost(valuePerDivision);
    const bool onSequence = ScaleAt(place) >= valuePerDivision * (1.0 - kSameScale);
    // Between two values, a step down first lands on the lower one.
    const int from = onSequence || steps > 0 ? place : place + 1;
    return ScaleAt(from + steps);
}

}  // namespace qel
