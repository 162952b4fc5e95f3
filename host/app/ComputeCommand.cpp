#include "host/app/Commands.h"
#include "host/app/DerivedEdits.h"
#include "host/app/DriveTestCommand.h"
#include "host/app/ParameterReport.h"

// What the host does when it loads a setup: the module's ComputeAllOptions, through its export.
// It derives the user parameters from the registers, so a user parameter given on the command
// line would be overwritten: it is refused, naming the registers it comes from.
int RunCompute(CommandContext& context) {
    const auto computeAllOptions = context.module.GetComputeAllOptions();
    const SetupComputation compute = [computeAllOptions](CQel_Setup& setup) {
        computeAllOptions(&setup);
    };
    const int refused = RefuseLostEdits(context, compute, [&context](std::size_t edit) {
        return KeepsEdit(context, edit, RecomputeAsTheOpenerDoes)
                   ? "give it to 'brevan registers', which computes the registers from it"
                   : "";
    });
    if (refused != kExitSuccess) {
        return refused;
    }
    compute(context.setup);
    const auto userParameters = SelectParameters(
        context.setup, [](const CQel_Parameter& parameter) { return !IsRegister(parameter); });
    PrintParameters(userParameters, context.setup, {context.invocation.json, true});
    return SaveOutputIfRequested(context.setup, context.invocation) ? kExitSuccess : kExitFailure;
}
