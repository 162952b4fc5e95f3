#include <cstdio>
#include <nlohmann/json.hpp>

#include "host/app/Commands.h"
#include "host/app/JsonReport.h"

int RunScale(CommandContext& context) {
    const std::string& unit = context.invocation.arguments[1];
    const std::string& parameter = context.invocation.arguments[2];
    const qel::ScaleFunctions& scales = context.module.GetScaleFunctions();
    const double factor = scales.factor(&context.setup, unit.c_str(), parameter.c_str());
    const double offset = scales.offset(&context.setup, unit.c_str());
    if (context.invocation.json) {
        const nlohmann::ordered_json result = {{"factor", factor}, {"offset", offset}};
        std::printf("%s\n", DumpReport(result).c_str());
    } else {
        std::printf("factor=%.17g offset=%.17g\n", factor, offset);
    }
    return kExitSuccess;
}
