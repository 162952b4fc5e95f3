#include "host/app/Commands.h"
#include "host/app/ParameterReport.h"

// What the host does when it loads a setup: the module's ComputeAllOptions, through its export.
int RunCompute(CommandContext& context) {
    context.module.GetComputeAllOptions()(&context.setup);
    const auto userParameters = SelectParameters(
        context.setup, [](const CQel_Parameter& parameter) { return !IsRegister(parameter); });
    PrintParameters(userParameters, context.setup, {context.invocation.json, true});
    return SaveOutputIfRequested(context.setup, context.invocation) ? kExitSuccess : kExitFailure;
}
