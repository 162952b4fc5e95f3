#include "host/app/Commands.h"
#include "host/app/ParameterReport.h"

int RunShow(CommandContext& context) {
    const std::vector<std::string> names(context.invocation.arguments.begin() + 1,
                                         context.invocation.arguments.end());
    std::vector<const CQel_Parameter*> parameters;
    if (names.empty()) {
        parameters = SelectParameters(context.setup, [](const CQel_Parameter&) { return true; });
    }
    for (const std::string& name : names) {
        const CQel_Parameter* parameter = context.setup.FindParameter(name);
        if (parameter == nullptr) {
            return kExitFailure;
        }
        parameters.push_back(parameter);
    }
    PrintParameters(parameters, context.setup, {context.invocation.json, names.empty()});
    return SaveOutputIfRequested(context.setup, context.invocation) ? kExitSuccess : kExitFailure;
}
