#include "host/kernel/SetupConsistency.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "host/kernel/ErrorReport.h"

namespace qel {
namespace {

// How many affected values a message names before it only counts the rest.
constexpr std::size_t kNamedValues = 3;

std::string WithUnit(double value, const std::string& unit) {
    return unit.empty() ? ShortNumber(value) : ShortNumber(value) + " " + unit;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        joined += i == 0 ? "" : (i + 1 == names.size() ? " and " : ", ");
        joined += names[i];
    }
    return joined;
}

// Brings the values of one kind into range, noting each that moved.
void BringKindIntoRange(CQel_Setup& setup, ValueKind kind,
                        std::vector<std::pair<std::size_t, RangeCorrection>>& corrections) {
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        CQel_Parameter& parameter = setup.GetParameterAt(i);
        if (parameter.GetKind() != kind) {
            continue;
        }
        const double before = parameter.GetValueInBaseUnit();
        if (parameter.BringIntoRange()) {
            corrections.emplace_back(
                i, RangeCorrection{parameter.GetName(), ShownBaseUnit(parameter), before,
                                   parameter.GetValueInBaseUnit(), parameter.GetMinInBaseUnit(),
                                   parameter.GetMaxInBaseUnit()});
        }
    }
}

}  // namespace

std::string ShortNumber(double value) {
    if (value == 0.0) {
        return "0";  // never "-0", which reads back as another bit pattern
    }
    char text[32];
    const auto [end, status] = std::to_chars(text, text + sizeof text, value);
    if (status != std::errc()) {
        std::snprintf(text, sizeof text, "%.17g", value);
        return text;
    }
    return std::string(text, end);
}

std::string ShownBaseUnit(const CQel_Parameter& parameter) {
    const std::string& unit = parameter.GetBaseUnitName();
    const auto first = unit.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    std::string trimmed = unit.substr(first, unit.find_last_not_of(' ') - first + 1);
    return trimmed == "-" ? std::string() : trimmed;
}

UnconvertibleValues FindUnconvertibleValues(const CQel_Setup& setup) {
    UnconvertibleValues found;
    std::vector<std::string> missing;
    const int showErrors = std::exchange(g_bShowErrors, 1);
    setup.RecordMissingNames(&missing);
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        const CQel_Parameter& parameter = setup.GetParameterAt(i);
        if (parameter.GetValueType() == ValueType::Text) {
            continue;
        }
        if (!std::isfinite(parameter.GetValueInBaseUnit())) {
            found.parameters.push_back(parameter.GetName());
        }
    }
    setup.RecordMissingNames(nullptr);
    g_bShowErrors = showErrors;
    if (!found.parameters.empty()) {
        found.missingNames = std::move(missing);
    }
    return found;
}

std::string DescribeUnconvertible(const UnconvertibleValues& values) {
    std::vector<std::string> named(
        values.parameters.begin(),
        values.parameters.begin() +
            static_cast<std::ptrdiff_t>(std::min(kNamedValues, values.parameters.size())));
    const std::size_t others = values.parameters.size() - named.size();
    if (others > 0) {
        named.push_back(std::to_string(others) + (others == 1 ? " other" : " others"));
    }
    const std::string affected = values.parameters.size() == 1
                                     ? "the value of " + named[0]
                                     : "the values of " + JoinNames(named);
    if (values.missingNames.empty()) {
        return "the unit scales give no finite number for " + affected;
    }
    const bool one = values.missingNames.size() == 1;
    return "the unit scales read the parameter" + std::string(one ? " " : "s ") +
           JoinNames(values.missingNames) + ", which the setup lacks; without " +
           (one ? "it " : "them ") + affected + (values.parameters.size() == 1 ? " has" : " have") +
           " no base value";
}

std::vector<RangeCorrection> BringValuesIntoRange(CQel_Setup& setup) {
    std::vector<std::pair<std::size_t, RangeCorrection>> corrections;
    BringKindIntoRange(setup, ValueKind::Physical, corrections);
    BringKindIntoRange(setup, ValueKind::Scaled, corrections);
    std::stable_sort(corrections.begin(), corrections.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<RangeCorrection> ordered;
    for (auto& [index, correction] : corrections) {
        ordered.push_back(std::move(correction));
    }
    return ordered;
}

std::string DescribeCorrection(const RangeCorrection& correction) {
    return "the value " + WithUnit(correction.from, correction.unit) + " lies outside its range " +
           ShortNumber(correction.min) + " to " + WithUnit(correction.max, correction.unit) +
           "; it is now " + WithUnit(correction.to, correction.unit);
}

}  // namespace qel
