#include "host/app/ParameterReport.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "host/app/JsonReport.h"

namespace {

using Json = nlohmann::ordered_json;

std::string Fixed(double value, int precision) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", precision, value);
    return text;
}

std::string Readable(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// Units that only say "a plain number" are not worth printing after the value.
std::string WithUnit(const std::string& value, const std::string& unit) {
    return unit.empty() || unit == "-" ? value : value + " " + unit;
}

void PrintText(const std::vector<const CQel_Parameter*>& parameters, const CQel_Setup& setup,
               bool withOptions) {
    std::printf("%-28s %-18s %-8s %-20s %-14s %-14s %-14s %s\n", "NAME", "BASE", "UNIT", "DISPLAY",
                "INTERNAL", "MIN", "MAX", "FAMILY");
    for (const CQel_Parameter* parameter : parameters) {
        if (parameter->GetValueType() == qel::ValueType::Text) {
            std::printf("%-28s \"%s\"\n", parameter->GetName().c_str(),
                        parameter->GetText().c_str());
            continue;
        }
        const std::string display = WithUnit(
            Fixed(parameter->GetValue(), parameter->GetPrecision()), parameter->GetUnitName());
        std::printf(
            "%-28s %-18s %-8s %-20s %-14s %-14s %-14s %s\n", parameter->GetName().c_str(),
            Readable(parameter->GetValueInBaseUnit()).c_str(), parameter->GetBaseUnitName().c_str(),
            display.c_str(), Readable(parameter->GetValueInInternalUnit()).c_str(),
            Readable(parameter->GetMinInBaseUnit()).c_str(),
            Readable(parameter->GetMaxInBaseUnit()).c_str(), parameter->GetUnitFamily().id.c_str());
    }
    if (!withOptions) {
        return;
    }
    std::printf("\nOPTIONS\n");
    for (const auto& [name, text] : setup.GetOptions()) {
        std::printf("%-28s \"%s\"\n", name.c_str(), text.c_str());
    }
}

Json ParameterJson(const CQel_Parameter& parameter) {
    if (parameter.GetValueType() == qel::ValueType::Text) {
        return {{"text", parameter.GetText()},
                {"unit", parameter.GetBaseUnitName()},
                {"family", parameter.GetUnitFamily().id}};
    }
    return {
        {"base", parameter.GetValueInBaseUnit()}, {"internal", parameter.GetValueInInternalUnit()},
        {"min", parameter.GetMinInBaseUnit()},    {"max", parameter.GetMaxInBaseUnit()},
        {"unit", parameter.GetBaseUnitName()},    {"displayUnit", parameter.GetUnitName()},
        {"display", parameter.GetValue()},        {"family", parameter.GetUnitFamily().id}};
}

void PrintJson(const std::vector<const CQel_Parameter*>& parameters, const CQel_Setup& setup,
               bool withOptions) {
    Json root;
    Json& parametersJson = root["parameters"] = Json::object();
    for (const CQel_Parameter* parameter : parameters) {
        parametersJson[parameter->GetName()] = ParameterJson(*parameter);
    }
    if (withOptions) {
        Json& options = root["options"] = Json::object();
        for (const auto& [name, text] : setup.GetOptions()) {
            options[name] = text;
        }
    }
    std::printf("%s\n", DumpReport(root, 2).c_str());
}

}  // namespace

void PrintParameters(const std::vector<const CQel_Parameter*>& parameters, const CQel_Setup& setup,
                     const ReportOptions& options) {
    if (options.json) {
        PrintJson(parameters, setup, options.withOptions);
    } else {
        PrintText(parameters, setup, options.withOptions);
    }
}

bool IsRegister(const CQel_Parameter& parameter) {
    return parameter.GetUnitFamily().id == "register";
}
