#include "host/app/CommandLine.h"

#include <string_view>
#include <utility>

namespace {

// "NAME=VALUE" split at the first '='; the name must not be empty.
bool SplitAssignment(const std::string& text, SetupEdit& edit) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        return false;
    }
    edit.name = text.substr(0, equals);
    edit.value = text.substr(equals + 1);
    return true;
}

using ValueMember = std::optional<std::string> Invocation::*;

// The options that take one value, and where it goes.
constexpr std::pair<const char*, ValueMember> kValueOptions[] = {
    {"-o", &Invocation::output},
    {"--output", &Invocation::output},
    {"--script", &Invocation::script},
    {"--module", &Invocation::modulePath},
    {"--for", &Invocation::runFor},
    {"--log", &Invocation::logFile},
    {"--analogue", &Invocation::analogueInput},
    {"--motor", &Invocation::motorFile},
    {"--bus", &Invocation::busVoltage},
    {"--answer", &Invocation::answer},
    {"--fault", &Invocation::fault},
    {"--plot", &Invocation::plotFile},
    {"--csv", &Invocation::csvFile},
    {"--report", &Invocation::reportFolder},
    {"--only", &Invocation::onlySteps},
};

std::optional<ValueMember> ValueOption(const std::string& argument) {
    for (const auto& [name, member] : kValueOptions) {
        if (argument == name) {
            return member;
        }
    }
    return std::nullopt;
}

// The options each command takes besides the edits (--set, --set-internal, --option, --remove),
// --module and --help, which every command takes.
constexpr std::pair<std::string_view, std::string_view> kCommandOptions[] = {
    {"show", "--json -o --output"},
    {"scale", "--json"},
    {"compute", "--json -o --output"},
    {"registers", "--json -o --output"},
    {"design", "--json -o --output"},
    {"edit", "--script --motor --bus -o --output"},
    {"sim", "--var --for --log --analogue --bus --json"},
    {"test", "--motor --bus --analogue --answer --fault --json -o --output"},
    {"tune", "--motor --bus --fault --tune --step --plot --csv --json -o --output"},
    {"commission", "--motor --bus --fault --report --only --json -o --output"},
};

constexpr std::string_view kEveryCommandsOptions =
    "--set --set-internal --option --remove --module --help -h";

bool Lists(std::string_view list, std::string_view option) {
    while (!list.empty()) {
        const auto blank = list.find(' ');
        if (list.substr(0, blank) == option) {
            return true;
        }
        list = blank == std::string_view::npos ? std::string_view() : list.substr(blank + 1);
    }
    return false;
}

// The first option given that the command does not take; nothing for a command not known here
// (which is refused as unknown).
std::optional<std::string> OptionNotTaken(const std::string& command,
                                          const std::vector<std::string>& given) {
    for (const auto& [name, options] : kCommandOptions) {
        if (name != command) {
            continue;
        }
        for (const std::string& option : given) {
            if (!Lists(options, option) && !Lists(kEveryCommandsOptions, option)) {
                return option;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Invocation> ParseCommandLine(const std::vector<std::string>& arguments,
                                           std::string& error) {
    Invocation invocation;
    std::vector<std::string> givenOptions;  // as typed, without an attached value
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        std::optional<std::string> attached;
        if (argument.starts_with("--")) {
            if (const auto equals = argument.find('='); equals != std::string::npos) {
                attached = argument.substr(equals + 1);
                argument.resize(equals);
            }
        }
        if (argument.starts_with("-") && argument != "-") {
            givenOptions.push_back(argument);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (attached) {
                return attached;
            }
            if (i + 1 >= arguments.size()) {
                error = argument + " needs a value";
                return std::nullopt;
            }
            return arguments[++i];
        };
        auto addEdit = [&](EditKind kind, bool assignment) {
            const auto value = takeValue();
            if (!value) {
                return false;
            }
            SetupEdit edit{kind, *value, {}};
            if (assignment && !SplitAssignment(*value, edit)) {
                error = argument + " expects NAME=VALUE, not \"" + *value + "\"";
                return false;
            }
            invocation.edits.push_back(edit);
            return true;
        };
        if (argument == "--set") {
            if (!addEdit(EditKind::SetBase, true)) {
                return std::nullopt;
            }
        } else if (argument == "--set-internal") {
            if (!addEdit(EditKind::SetInternal, true)) {
                return std::nullopt;
            }
        } else if (argument == "--option") {
            if (!addEdit(EditKind::SetOption, true)) {
                return std::nullopt;
            }
        } else if (argument == "--remove") {
            if (!addEdit(EditKind::Remove, false)) {
                return std::nullopt;
            }
        } else if (const std::optional<ValueMember> member = ValueOption(argument)) {
            std::optional<std::string>& target = invocation.*(*member);
            target = takeValue();
            if (!target) {
                return std::nullopt;
            }
        } else if (argument == "--var") {
            const auto value = takeValue();
            if (!value) {
                return std::nullopt;
            }
            SetupEdit assignment{EditKind::SetBase, {}, {}};
            if (!SplitAssignment(*value, assignment)) {
                error = argument + " expects NAME=VALUE, not \"" + *value + "\"";
                return std::nullopt;
            }
            invocation.programVariables.emplace_back(assignment.name, assignment.value);
        } else if (argument == "--json" && !attached) {
            invocation.json = true;
        } else if (argument == "--tune" && !attached) {
            invocation.tune = true;
        } else if (argument == "--step" && !attached) {
            invocation.step = true;
        } else if ((argument == "--help" || argument == "-h") && !attached) {
            invocation.help = true;
        } else if (argument.starts_with("-") && argument != "-") {
            error = "unknown option " + argument;
            return std::nullopt;
        } else if (invocation.command.empty()) {
            invocation.command = argument;
        } else {
            invocation.arguments.push_back(argument);
        }
    }
    if (const auto option = OptionNotTaken(invocation.command, givenOptions)) {
        error = invocation.command + " does not take " + *option;
        return std::nullopt;
    }
    return invocation;
}
