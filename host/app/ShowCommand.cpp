#include <cstdio>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "ErrorReport.h"

namespace {

using Json = nlohmann::ordered_json;

// The parameters named on the command line, or all of them in the setup's order.
bool SelectParameters(CQel_Setup& setup, const std::vector<std::string>& names,
                      std::vector<const CQel_Parameter*>& selected) {
    if (names.empty()) {
        for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
            selected.push_back(&setup.GetParameterAt(i));
        }
        return true;
    }
    for (const std::string& name : names) {
        const CQel_Parameter* parameter = setup.FindParameter(name);
        if (parameter == nullptr) {
            return false;
        }
        selected.push_back(parameter);
    }
    return true;
}

std::string ShortNumber(double value, int precision) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", precision, value);
    return text;
}

std::string Readable(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

void PrintText(const std::vector<const CQel_Parameter*>& parameters, const CQel_Setup& setup,
               bool withOptions) {
    std::printf("%-28s %-20s %-9s %-22s %-16s %-16s %s\n", "NAME", "BASE", "UNIT", "DISPLAY",
                "INTERNAL", "MIN", "MAX");
    for (const CQel_Parameter* parameter : parameters) {
        if (parameter->GetValueType() == qel::ValueType::Text) {
            std::printf("%-28s \"%s\"\n", parameter->GetName().c_str(),
                        parameter->GetText().c_str());
            continue;
        }
        const std::string display = ShortNumber(parameter->GetValue(), parameter->GetPrecision()) +
                                    " " + parameter->GetUnitName();
        std::printf("%-28s %-20s %-9s %-22s %-16s %-16s %s\n", parameter->GetName().c_str(),
                    Readable(parameter->GetValueInBaseUnit()).c_str(),
                    parameter->GetBaseUnitName().c_str(), display.c_str(),
                    Readable(parameter->GetValueInInternalUnit()).c_str(),
                    Readable(parameter->GetMinInBaseUnit()).c_str(),
                    Readable(parameter->GetMaxInBaseUnit()).c_str());
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
        return {{"text", parameter.GetText()}, {"unit", parameter.GetBaseUnitName()}};
    }
    return {
        {"base", parameter.GetValueInBaseUnit()}, {"internal", parameter.GetValueInInternalUnit()},
        {"min", parameter.GetMinInBaseUnit()},    {"max", parameter.GetMaxInBaseUnit()},
        {"unit", parameter.GetBaseUnitName()},    {"displayUnit", parameter.GetUnitName()},
        {"display", parameter.GetValue()}};
}

void PrintJson(const std::vector<const CQel_Parameter*>& parameters, const CQel_Setup& setup) {
    Json root;
    Json& parametersJson = root["parameters"] = Json::object();
    for (const CQel_Parameter* parameter : parameters) {
        parametersJson[parameter->GetName()] = ParameterJson(*parameter);
    }
    Json& options = root["options"] = Json::object();
    for (const auto& [name, text] : setup.GetOptions()) {
        options[name] = text;
    }
    std::printf("%s\n", root.dump(2).c_str());
}

}  // namespace

int RunShow(CommandContext& context) {
    const std::vector<std::string> names(context.invocation.arguments.begin() + 1,
                                         context.invocation.arguments.end());
    std::vector<const CQel_Parameter*> parameters;
    if (!SelectParameters(context.setup, names, parameters)) {
        return kExitFailure;
    }
    if (context.invocation.json) {
        PrintJson(parameters, context.setup);
    } else {
        PrintText(parameters, context.setup, names.empty());
    }
    return SaveOutputIfRequested(context.setup, context.invocation) ? kExitSuccess : kExitFailure;
}
