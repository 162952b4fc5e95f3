#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "host/app/CommandLine.h"
#include "host/app/Commands.h"
#include "host/app/ModuleLoader.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/SetupFile.h"

namespace {

struct Subcommand {
    const char* name;
    const char* usage;
    std::size_t minArguments;  // including the setup file
    std::size_t maxArguments;
    int (*run)(CommandContext&);
    std::size_t setupArgument = 0;  // which argument names the setup file
};

constexpr std::size_t kAnyNumber = static_cast<std::size_t>(-1);

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> subcommands = {
        {"show",
         "show SETUP [NAME...]      parameters with base, display and internal values, "
         "ranges; options",
         1, kAnyNumber, RunShow},
        {"scale", "scale SETUP UNIT PARAM    the module's factor and offset for a unit and a name",
         3, 3, RunScale},
        {"compute",
         "compute SETUP             user parameters, limits, options and unit families "
         "derived from the registers",
         1, 1, RunCompute},
        {"registers",
         "registers SETUP           registers from the user parameters (and the "
         "parameters back)",
         1, 1, RunRegisters},
        {"design",
         "design SETUP LOOP         gains of the current, speed or position loop from "
         "its bandwidth and damping",
         2, 2, RunDesign},
        {"edit",
         "edit SETUP [--script F]   the setup dialogs in windows, or run by a script of user "
         "actions; saves on OK",
         1, 1, RunEdit},
        {"sim",
         "sim MOTOR SETUP PROGRAM   runs a test program on the simulated drive; prints its "
         "variables",
         3, 3, RunSim, 1},
        {"test",
         "test SETUP TEST --motor F runs a drive test's dialog on the simulated drive with a "
         "scripted user; saves on OK",
         2, 2, RunTest},
        {"tune",
         "tune SETUP LOOP --motor F runs a loop's tuning test (current, speed, position) on "
         "the simulated drive; prints the step response's figures; saves on OK",
         2, 2, RunTune},
        {"commission",
         "commission SETUP --motor F runs the drive tests and the loops' tuning in order on the "
         "simulated drive, accepting each proposal; saves when all succeed",
         1, 1, RunCommission},
    };
    return subcommands;
}

void PrintUsage(std::FILE* stream) {
    std::fprintf(stream, "usage: brevan COMMAND SETUP [ARGUMENTS] [OPTIONS]\n\ncommands:\n");
    for (const Subcommand& subcommand : Subcommands()) {
        std::fprintf(stream, "  %s\n", subcommand.usage);
    }
    std::fprintf(
        stream,
        "\noptions, applied in order after loading the setup:\n"
        "  --set NAME=VALUE          set a parameter in its base unit\n"
        "  --set-internal NAME=VALUE set a parameter in internal units\n"
        "  --option NAME=TEXT        set a setup option\n"
        "  --remove NAME             drop a parameter or variable\n"
        "other options:\n"
        "  --json                    machine-readable output\n"
        "  -o, --output FILE         save the resulting setup (atomically)\n"
        "  --script FILE             user actions for edit (docs/edit-script.md)\n"
        "  --var NAME=VALUE          sim: an input variable of the program\n"
        "  --for SECONDS             sim: the longest run (default 10 s)\n"
        "  --log FILE                sim: writes the logged curves as CSV\n"
        "  --analogue VOLTS          sim, test: the voltage on the analogue reference "
        "input\n"
        "  --motor FILE              test, tune, commission, edit: the motor file of the simulated "
        "drive\n"
        "  --bus VOLTS               sim, test, tune, commission, edit: the drive's supply instead "
        "of "
        "the\n"
        "                            motor file's bench\n"
        "  --answer yes|no|cancel    test: the answer to the closing question (yes)\n"
        "  --fault NAME              test, tune, commission: a fault of the simulated drive "
        "(open-phase-a,\n"
        "                            open-phase-b, open-phase-c, swapped-phases,\n"
        "                            missing-encoder-a, missing-encoder-b, "
        "swapped-encoder,\n"
        "                            enable-off, short-circuit, link-error)\n"
        "  --tune                    tune: press Tune (design the gains) before Start\n"
        "  --step                    tune: a step reference (the current loop's always "
        "is)\n"
        "  --plot FILE.svg|FILE.png  tune: saves the graph of the step response\n"
        "  --csv FILE                tune: writes the graph's curves as CSV\n"
        "  --report DIR              commission: writes DIR/index.html and the step "
        "responses\n"
        "  --only STEP,...           commission: runs only the steps named\n"
        "  --module FILE             the drive module to load (default: libbrevan.so\n"
        "                            beside this program, or $BREVAN_MODULE)\n"
        "\nexit status: 0 success, 1 failure, 2 usage error, 3 unreadable or invalid "
        "setup file\n");
}

int Usage(const std::string& error) {
    std::fprintf(stderr, "brevan: %s\n", error.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

int Run(const Invocation& invocation) {
    if (invocation.help) {
        PrintUsage(stdout);
        return kExitSuccess;
    }
    if (invocation.command.empty()) {
        return Usage("no command given");
    }
    const Subcommand* subcommand = nullptr;
    for (const Subcommand& candidate : Subcommands()) {
        if (invocation.command == candidate.name) {
            subcommand = &candidate;
        }
    }
    if (subcommand == nullptr) {
        return Usage("unknown command \"" + invocation.command + "\"");
    }
    const std::size_t count = invocation.arguments.size();
    if (count < subcommand->minArguments || count > subcommand->maxArguments) {
        return Usage(std::string("wrong number of arguments; usage: brevan ") + subcommand->usage);
    }

    std::string error;
    const auto module = LoadedModule::Load(
        invocation.modulePath ? std::filesystem::path(*invocation.modulePath) : DefaultModulePath(),
        error);
    if (!module) {
        std::fprintf(stderr, "brevan: %s\n", error.c_str());
        return kExitFailure;
    }
    const std::filesystem::path setupPath = invocation.arguments[subcommand->setupArgument];
    qel::SetupLoadResult loaded = qel::LoadSetupFile(setupPath, module->GetScaleFunctions());
    if (!loaded.setup) {
        std::fputs(qel::DescribeProblems(setupPath, loaded.problems).c_str(), stderr);
        return kExitBadSetup;
    }
    int status = kExitSuccess;
    if (!ApplyEdits(*loaded.setup, invocation, status)) {
        return status;
    }
    CommandContext context{invocation, *module, *loaded.setup};
    return subcommand->run(context);
}

}  // namespace

// The kernel reports a missing name at every read, and one run may read it many times (each unit
// scale reads the registers afresh): the user hears of each problem once.
void ReportEachProblemOnce() {
    qel::SetErrorReporter([reported = std::set<std::string>()](std::string_view message) mutable {
        if (reported.emplace(message).second) {
            std::fprintf(stderr, "brevan: %.*s\n", static_cast<int>(message.size()),
                         message.data());
        }
    });
}

int main(int argc, char** argv) {
    ReportEachProblemOnce();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    const auto invocation = ParseCommandLine(arguments, error);
    if (!invocation) {
        return Usage(error);
    }
    return Run(*invocation);
}
