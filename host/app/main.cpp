#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "host/app/CommandLine.h"
#include "host/app/Commands.h"
#include "host/app/DriveTestCommand.h"
#include "host/app/DriveTestTable.h"
#include "host/app/ModuleLoader.h"
#include "host/app/Suggest.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/SetupFile.h"

namespace {

struct Subcommand {
    const char* name;
    int (*run)(CommandContext&);
    std::size_t setupArgument = 0;  // which argument names the setup file
    // What the command checks of its command line before the module and the setup are loaded;
    // kExitSuccess to go on. Null when it has nothing to check.
    int (*check)(const Invocation&) = nullptr;
};

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> subcommands = {
        {"show", RunShow},
        {"scale", RunScale},
        {"compute", RunCompute},
        {"registers", RunRegisters},
        {"design", RunDesign},
        {"edit", RunEdit},
        {"sim", RunSim, 1, CheckSim},
        {"test", RunTest},
        {"tune", RunTune},
        {"commission", RunCommission},
    };
    return subcommands;
}

int Refuse(int status, const std::string& message) {
    std::fprintf(stderr, "brevan: %s\n", message.c_str());
    return status;
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// The files the command reads, with the status of its failure to read each: a folder given for
// one is named as such before anything is loaded.
int CheckInputFiles(const Invocation& invocation, const std::string& setupFile) {
    std::vector<std::pair<std::string, const char*>> files = {{setupFile, "setup file"}};
    if (invocation.motorFile) {
        files.emplace_back(*invocation.motorFile, "motor file");
    }
    if (invocation.script) {
        files.emplace_back(*invocation.script, "script");
    }
    for (const auto& [path, what] : files) {
        if (IsFolder(path)) {
            return Refuse(what == std::string("script") ? kExitUsage : kExitBadSetup,
                          path + " is a folder, not a " + what);
        }
    }
    return kExitSuccess;
}

// The files the command writes: each must name a file (not a folder) in a folder that exists
// and may be written, which is checked before anything runs.
int CheckOutputFiles(const Invocation& invocation) {
    const std::pair<const char*, const std::optional<std::string>*> outputs[] = {
        {"-o", &invocation.output},
        {"--log", &invocation.logFile},
        {"--csv", &invocation.csvFile},
        {"--plot", &invocation.plotFile},
    };
    for (const auto& [option, value] : outputs) {
        if (!value->has_value()) {
            continue;
        }
        const std::filesystem::path path = **value;
        const std::string prefix = std::string(option) + " " + path.string() + ": ";
        if (path.empty() || IsFolder(path)) {
            return Refuse(kExitUsage, prefix + "is a folder; name the file to write");
        }
        const std::filesystem::path folder =
            path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
        if (!IsFolder(folder)) {
            return Refuse(kExitUsage, prefix + "the folder " + folder.string() + " does not exist");
        }
        if (::access(folder.c_str(), W_OK) != 0) {
            return Refuse(kExitUsage,
                          prefix + "the folder " + folder.string() + " cannot be written to");
        }
    }
    return kExitSuccess;
}

// The names the edits change must be the setup's (a parameter; or a variable for --remove); a
// misspelt one is told with the name it is nearest to.
int CheckEditedNames(const CQel_Setup& setup, const Invocation& invocation) {
    const int showErrors = std::exchange(g_bShowErrors, 0);
    int status = kExitSuccess;
    for (const SetupEdit& edit : invocation.edits) {
        const bool remove = edit.kind == EditKind::Remove;
        if (edit.kind == EditKind::SetOption || setup.FindParameter(edit.name) != nullptr ||
            (remove && setup.FindVariable(edit.name, 0) != nullptr)) {
            continue;
        }
        const std::string given = remove                           ? "--remove " + edit.name
                                  : edit.kind == EditKind::SetBase ? "--set " + edit.name
                                                                   : "--set-internal " + edit.name;
        status = Refuse(kExitFailure, given + ": the setup has no " +
                                          (remove ? "parameter or variable" : "parameter") +
                                          " of that name" +
                                          DidYouMean(edit.name, SetupNames(setup, remove)));
        break;
    }
    g_bShowErrors = showErrors;
    return status;
}

int Run(const Invocation& invocation) {
    const Subcommand* subcommand = nullptr;
    for (const Subcommand& candidate : Subcommands()) {
        if (invocation.command == candidate.name) {
            subcommand = &candidate;
        }
    }
    if (subcommand == nullptr) {
        return Refuse(kExitUsage, "unknown command \"" + invocation.command + "\"");
    }
    if (subcommand->check != nullptr) {
        if (const int status = subcommand->check(invocation); status != kExitSuccess) {
            return status;
        }
    }
    const std::string& setupFile = invocation.arguments[subcommand->setupArgument];
    if (const int status = CheckInputFiles(invocation, setupFile); status != kExitSuccess) {
        return status;
    }
    if (const int status = CheckOutputFiles(invocation); status != kExitSuccess) {
        return status;
    }

    std::string error;
    const auto module = LoadedModule::Load(
        invocation.modulePath ? std::filesystem::path(*invocation.modulePath) : DefaultModulePath(),
        error);
    if (!module) {
        return Refuse(kExitFailure, error);
    }
    qel::SetupLoadResult loaded = qel::LoadSetupFile(setupFile, module->GetScaleFunctions());
    if (!loaded.setup) {
        std::fputs(qel::DescribeProblems(setupFile, loaded.problems).c_str(), stderr);
        return kExitBadSetup;
    }
    if (const int status = CheckEditedNames(*loaded.setup, invocation); status != kExitSuccess) {
        return status;
    }
    const CQel_Setup asLoaded(*loaded.setup);
    int status = kExitSuccess;
    if (!ApplyEdits(*loaded.setup, invocation, status)) {
        return status;
    }
    CommandContext context{invocation, *module, *loaded.setup, asLoaded};
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
    const ParsedCommandLine parsed = ParseCommandLine(
        arguments, AcceptedNames{DriveTestNames(), FaultNames(), CommissionStepNames()});
    if (!parsed.invocation) {
        std::fputs(parsed.out.c_str(), stdout);
        std::fputs(parsed.err.c_str(), stderr);
        return parsed.status;
    }
    return Run(*parsed.invocation);
}
