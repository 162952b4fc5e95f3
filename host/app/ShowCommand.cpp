#include <cstdio>
#include <utility>

#include "host/app/Commands.h"
#include "host/app/ParameterReport.h"
#include "host/app/Suggest.h"
#include "host/kernel/ErrorReport.h"

int RunShow(CommandContext& context) {
    const std::vector<std::string> names(context.invocation.arguments.begin() + 1,
                                         context.invocation.arguments.end());
    std::vector<const CQel_Parameter*> parameters;
    if (names.empty()) {
        parameters = SelectParameters(context.setup, [](const CQel_Parameter&) { return true; });
    }
    for (const std::string& name : names) {
        const int showErrors = std::exchange(g_bShowErrors, 0);
        const CQel_Parameter* parameter = context.setup.FindParameter(name);
        g_bShowErrors = showErrors;
        if (parameter == nullptr) {
            std::fprintf(stderr, "brevan: show: the setup has no parameter %s%s\n", name.c_str(),
                         DidYouMean(name, SetupNames(context.setup, false)).c_str());
            return kExitFailure;
        }
        parameters.push_back(parameter);
    }
    PrintParameters(parameters, context.setup, {context.invocation.json, names.empty()});
    return SaveOutputIfRequested(context.setup, context.invocation) ? kExitSuccess : kExitFailure;
}
