#include "engine/Derivation.h"
#include "engine/RegisterComputation.h"
#include "host/app/Commands.h"
#include "host/app/ParameterReport.h"

// What a setup dialog does before it opens a child: registers from the user parameters, then the
// user parameters back from the registers, so that both agree.
int RunRegisters(CommandContext& context) {
    ComputeDriveRegisters(context.setup);
    DeriveUserParameters(context.setup);
    PrintParameters(SelectParameters(context.setup, IsRegister), context.setup,
                    {context.invocation.json, false});
    return SaveOutputIfRequested(context.setup, context.invocation) ? kExitSuccess : kExitFailure;
}
