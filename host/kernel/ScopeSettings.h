#pragma once

// The scope's settings as a person keeps them: the acquisition, the logged variables with the
// scale each channel is shown at, and the curves of the scope graph. They travel as JSON, in a
// file of their own or in a setup option:
//
//   {"format": 1,
//    "acquisition": {"duration_s": 0.5, "mode": 4, "slope": 1, "variable": "Speed_Reference",
//                    "level": 104.7, "preTrigger_percent": 10},
//    "channels": [{"variable": "Speed_Reference", "flag": 1, "unit": "rpm",
//                  "valuePerDivision": 500, "centre": 0}],
//    "curves": [{"item": 1, "colour": [0, 128, 0]}]}
//
// The level is in the trigger variable's base unit; a channel's value per division and centre
// (the value on the grid's centre line) are in the channel's unit. A channel's value v is drawn
// (v - centre) / valuePerDivision divisions above the centre line of a grid kScopeDivisions high.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/KernelFunctions.h"

namespace qel {

inline constexpr int kScopeSettingsFormat = 1;
// Divisions of the scope's grid, from bottom to top.
inline constexpr int kScopeDivisions = 8;

struct ScopeAcquisition {
    double duration_s = 1.0;
    int mode = 1;
    int slope = 1;
    std::string variable;
    double level = 0.0;  // the trigger variable's base unit
    int preTrigger_percent = 0;
};

struct ScopeChannel {
    std::string variable;
    int flag = 1;
    std::string unit;  // a unit of the variable's family, or "IU"
    double valuePerDivision = 1.0;
    double centre = 0.0;
};

// A curve of the scope graph: the logged item it shows against the time (1 the first channel).
struct ScopeCurve {
    int item = 1;
    QelColour colour;
};

struct ScopeSettings {
    ScopeAcquisition acquisition;
    std::vector<ScopeChannel> channels;
    std::vector<ScopeCurve> curves;
};

std::string ScopeSettingsToJson(const ScopeSettings& settings);
// The settings of a JSON text; std::nullopt with the problem (words for the user to follow a
// colon) when the text is not settings of this format.
std::optional<ScopeSettings> ParseScopeSettings(std::string_view text, std::string& problem);

// The scales a scope channel steps through: 1, 2 and 5 times the powers of ten.
// The smallest of them at least the magnitude (1 for a magnitude that is not positive).
double ScopeScaleAtLeast(double magnitude);
// The scale steps places along the sequence from the scale; a scale between two of the
// sequence's values first moves to the one in the step's direction.
double StepScopeScale(double valuePerDivision, int steps);

}  // namespace qel
