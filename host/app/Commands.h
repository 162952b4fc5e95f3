#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/app/CommandLine.h"
#include "host/app/ModuleLoader.h"
#include "host/kernel/Setup.h"

// What a subcommand works on: the parsed command line, the loaded module and the setup, loaded
// with the module's scales and with the command line's edits applied; and the setup as it was
// loaded, before the edits.
struct CommandContext {
    const Invocation& invocation;
    LoadedModule& module;
    CQel_Setup& setup;
    const CQel_Setup& loaded;
};

int RunShow(CommandContext& context);
int RunScale(CommandContext& context);
int RunCompute(CommandContext& context);
int RunRegisters(CommandContext& context);
int RunDesign(CommandContext& context);
int RunEdit(CommandContext& context);
int RunSim(CommandContext& context);
int RunTest(CommandContext& context);
int RunTune(CommandContext& context);
int RunCommission(CommandContext& context);
// The commissioning's steps in their order, as --only names them.
std::vector<std::string> CommissionStepNames();

// sim's checks of its command line before anything is loaded: a program to run (the programs are
// listed when none is named), MOTOR and SETUP in their order, the program's variables and the log
// file; kExitSuccess, or the status of the refusal (printed).
int CheckSim(const Invocation& invocation);

// Applies --set, --set-internal, --option and --remove in order; false (with the reason printed)
// at the first edit that cannot be made.
bool ApplyEdits(CQel_Setup& setup, const Invocation& invocation, int& exitStatus);

// Writes the setup to the -o file when one was given; false (with the reason printed) on failure.
bool SaveOutputIfRequested(const CQel_Setup& setup, const Invocation& invocation);

// A number with every digit needed to read it back exactly.
std::string FullPrecision(double value);
// A finite number, the whole text read; false otherwise.
bool ParseNumber(const std::string& text, double& value);

// Reads --bus: the supply it gives, nothing when it is not given; false (the reason printed)
// when it is not a supply a bench can give.
bool ReadBusOption(const Invocation& invocation, std::optional<double>& supply_V);
