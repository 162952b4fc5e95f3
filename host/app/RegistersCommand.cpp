#include "host/app/Commands.h"
#include "host/app/DerivedEdits.h"
#include "host/app/DriveTestCommand.h"
#include "host/app/ParameterReport.h"

// What a setup dialog does before it opens a child: registers from the user parameters, then the
// user parameters back from the registers, so that both agree. A register, or a parameter derived
// back, given on the command line would be overwritten: it is refused, naming what it comes from.
int RunRegisters(CommandContext& context) {
    const auto computeAllOptions = context.module.GetComputeAllOptions();
    const int refused = RefuseLostEdits(context, RecomputeAsTheOpenerDoes, [&](std::size_t edit) {
        const SetupComputation fromRegisters = [computeAllOptions](CQel_Setup& setup) {
            computeAllOptions(&setup);
        };
        return KeepsEdit(context, edit, fromRegisters)
                   ? "give it to 'brevan compute', which derives the user parameters from "
                     "the registers"
                   : "";
    });
    if (refused != kExitSuccess) {
        return refused;
    }
    RecomputeAsTheOpenerDoes(context.setup);
    PrintParameters(SelectParameters(context.setup, IsRegister), context.setup,
                    {context.invocation.json, false});
    return SaveOutputIfRequested(context.setup, context.invocation) ? kExitSuccess : kExitFailure;
}
