#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>

#include "host/app/Commands.h"
#include "host/app/JsonReport.h"
#include "host/app/Suggest.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/Parameter.h"
#include "host/kernel/Units.h"
#include "host/kernel/Variable.h"

namespace {

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The family's unit the user means: its name as typed, blanks around it aside (the DC bus
// family's base unit is "V ", the motor voltage's "V"), the exact spelling before one in another
// letter case ("m" and "M" differ).
const qel::DisplayUnit* FindUnitAsTyped(const qel::UnitFamily& family, std::string_view typed) {
    const std::string wanted = qel::NormalizeUnitName(TrimBlanks(typed));
    for (const qel::DisplayUnit& unit : family.units) {
        if (TrimBlanks(unit.name) == wanted) {
            return &unit;
        }
    }
    for (const qel::DisplayUnit& unit : family.units) {
        if (qel::EqualsIgnoringCase(TrimBlanks(unit.name), wanted)) {
            return &unit;
        }
    }
    return nullptr;
}

std::string UnitList(const qel::UnitFamily& family) {
    std::string list;
    for (const qel::DisplayUnit& unit : family.units) {
        list += (list.empty() ? "" : ", ") + std::string(TrimBlanks(unit.name));
    }
    return list;
}

}  // namespace

int RunScale(CommandContext& context) {
    const std::string& typedUnit = context.invocation.arguments[1];
    const std::string& name = context.invocation.arguments[2];
    // Not found is said here once, naming both kinds, not by the kernel.
    const int showErrors = std::exchange(g_bShowErrors, 0);
    const qel::Quantity* quantity = context.setup.FindParameter(name);
    if (quantity == nullptr) {
        quantity = context.setup.FindVariable(name, 0);
    }
    g_bShowErrors = showErrors;
    if (quantity == nullptr) {
        std::fprintf(stderr, "brevan: scale: the setup has no parameter or variable %s%s\n",
                     name.c_str(), DidYouMean(name, SetupNames(context.setup, true)).c_str());
        return kExitUsage;
    }
    const qel::UnitFamily& family = quantity->GetUnitFamily();
    const bool internal = qel::EqualsIgnoringCase(TrimBlanks(typedUnit), qel::kInternalUnitName);
    const qel::DisplayUnit* unit = internal ? nullptr : FindUnitAsTyped(family, typedUnit);
    if (!internal && unit == nullptr) {
        std::fprintf(stderr,
                     "brevan: scale: %s (%s) is not measured in \"%s\"; its units are %s, %.*s\n",
                     quantity->GetName().c_str(), family.id.c_str(), typedUnit.c_str(),
                     UnitList(family).c_str(), static_cast<int>(qel::kInternalUnitName.size()),
                     qel::kInternalUnitName.data());
        return kExitUsage;
    }
    // The module scales to the family's base unit, spelt as the family spells it; another unit of
    // the family is that many base units.
    const std::string asked =
        internal ? std::string(qel::kInternalUnitName) : family.BaseUnit().name;
    const qel::ScaleFunctions& scales = context.module.GetScaleFunctions();
    double factor = scales.factor(&context.setup, asked.c_str(), quantity->GetName().c_str());
    const double offset = scales.offset(&context.setup, asked.c_str());
    if (!internal) {
        factor /= unit->sizeInBaseUnits;
    }
    if (context.invocation.json) {
        const nlohmann::ordered_json result = {{"factor", factor}, {"offset", offset}};
        std::printf("%s\n", DumpReport(result).c_str());
    } else {
        std::printf("factor=%.17g offset=%.17g\n", factor, offset);
    }
    return kExitSuccess;
}
