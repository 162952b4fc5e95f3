#include "host/app/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <tuple>

#include "host/app/Suggest.h"

namespace {

using ValueMember = std::optional<std::string> Invocation::*;
using FlagMember = bool Invocation::*;

// An option besides the edits (which every command takes): its names as CLI11 spells them, the
// value it takes (none for a flag), what it does, where it goes and the commands that take it.
struct OptionRow {
    const char* names;
    const char* value;
    const char* help;
    ValueMember member = nullptr;
    FlagMember flag = nullptr;
    std::string_view commands;
    // The names the option takes, listed after its help; null when the help says them.
    std::vector<std::string> AcceptedNames::*listed = nullptr;
};

constexpr std::string_view kEveryCommand =
    "show scale compute registers design edit sim test tune commission";

const std::array kOptions = {
    OptionRow{"-o,--output", "OUT", "save the resulting setup (atomically) to OUT",
              &Invocation::output, nullptr,
              "show compute registers design edit test tune commission"},
    OptionRow{"--json", nullptr, "machine-readable output", nullptr, &Invocation::json,
              "show scale compute registers design sim test tune commission"},
    OptionRow{"--script", "FILE", "user actions to run the dialogs by (docs/edit-script.md)",
              &Invocation::script, nullptr, "edit"},
    OptionRow{"--controls", "DIALOG",
              "list the controls of a dialog (its caption or template id) with their ids, kinds, "
              "captions and bound parameters, for writing a script",
              &Invocation::controlsOf, nullptr, "edit"},
    OptionRow{"--motor", "FILE", "the motor file of the simulated drive", &Invocation::motorFile,
              nullptr, "edit test tune commission"},
    OptionRow{"--bus", "VOLTS", "the drive's supply instead of the motor file's bench (1 to 1000)",
              &Invocation::busVoltage, nullptr, "edit sim test tune commission"},
    OptionRow{"--for", "SECONDS", "the longest run (default 10 s)", &Invocation::runFor, nullptr,
              "sim"},
    OptionRow{"--log", "FILE", "write the logged curves as CSV", &Invocation::logFile, nullptr,
              "sim"},
    OptionRow{"--analogue", "VOLTS", "the voltage on the analogue reference input",
              &Invocation::analogueInput, nullptr, "sim test"},
    OptionRow{"--answer", "yes|no|cancel", "the answer to the closing question (yes)",
              &Invocation::answer, nullptr, "test"},
    OptionRow{"--fault", "NAME", "a fault of the simulated drive", &Invocation::fault, nullptr,
              "test tune commission", &AcceptedNames::faults},
    OptionRow{"--tune", nullptr, "press Tune (design the gains) before Start", nullptr,
              &Invocation::tune, "tune"},
    OptionRow{"--step", nullptr, "a step reference (the current loop's always is)", nullptr,
              &Invocation::step, "tune"},
    OptionRow{"--plot", "FILE.svg|FILE.png", "save the graph of the step response",
              &Invocation::plotFile, nullptr, "tune"},
    OptionRow{"--csv", "FILE", "write the graph's curves as CSV", &Invocation::csvFile, nullptr,
              "tune"},
    OptionRow{"--report", "DIR", "write DIR/index.html and the loops' step responses",
              &Invocation::reportFolder, nullptr, "commission"},
    OptionRow{"--only", "STEP,...", "run only the steps named", &Invocation::onlySteps, nullptr,
              "commission", &AcceptedNames::commissionSteps},
    OptionRow{"--module", "FILE",
              "the drive module to load (default: libbrevan.so beside this program, or "
              "$BREVAN_MODULE)",
              &Invocation::modulePath, nullptr, kEveryCommand},
};

// An edit of the loaded setup, applied in the order given whatever its kind.
struct EditRow {
    const char* name;
    const char* value;
    const char* help;
    EditKind kind;
};

const std::array kEdits = {
    EditRow{"--set", "NAME=VALUE", "set a parameter in its base unit", EditKind::SetBase},
    EditRow{"--set-internal", "NAME=VALUE", "set a parameter in internal units",
            EditKind::SetInternal},
    EditRow{"--option", "NAME=TEXT", "set a setup option", EditKind::SetOption},
    EditRow{"--remove", "NAME", "drop a parameter or variable", EditKind::Remove},
};

struct PositionalRow {
    const char* name;
    const char* help;
    bool optional = false;  // may be left out
    bool many = false;      // takes every argument from here on
    // The names it takes, listed after its help; null when the help says them.
    std::vector<std::string> AcceptedNames::*listed = nullptr;
};

struct CommandRow {
    const char* name;
    const char* summary;
    std::vector<PositionalRow> positionals;
};

const std::vector<CommandRow>& Commands() {
    static const PositionalRow setup{"SETUP", "the setup file"};
    static const std::vector<CommandRow> commands = {
        {"show",
         "parameters with base, display and internal values, ranges; options",
         {setup, {"NAME", "only these parameters", true, true}}},
        {"scale",
         "the module's factor and offset for a unit and a name",
         {setup,
          {"UNIT", "a unit of the name's family, or IU"},
          {"PARAM", "a parameter or variable"}}},
        {"compute",
         "user parameters, limits, options and unit families derived from the registers",
         {setup}},
        {"registers", "registers from the user parameters (and the parameters back)", {setup}},
        {"design",
         "gains of the current, speed or position loop from its bandwidth and damping",
         {setup, {"LOOP", "current, speed or position"}}},
        {"edit",
         "the setup dialogs in windows, or run by a script of user actions; saves on OK",
         {setup}},
        {"sim",
         "runs a test program on the simulated drive; prints its variables",
         {{"MOTOR", "the motor file of the simulated drive"},
          setup,
          {"PROGRAM", "the test program (without it, the programs are listed)", true}}},
        {"test",
         "runs a drive test's dialog on the simulated drive with a scripted user; saves on OK",
         {setup, {"TEST", "the drive test", false, false, &AcceptedNames::tests}}},
        {"tune",
         "runs a loop's tuning test on the simulated drive; prints the step response's figures; "
         "saves on OK",
         {setup, {"LOOP", "current, speed or position"}}},
        {"commission",
         "runs the drive tests and the loops' tuning in order on the simulated drive, accepting "
         "each proposal; saves when all succeed",
         {setup}},
    };
    return commands;
}

const CommandRow& RowOf(const std::string& name) {
    const std::vector<CommandRow>& commands = Commands();
    return *std::find_if(commands.begin(), commands.end(),
                         [&name](const CommandRow& row) { return name == row.name; });
}

bool Takes(std::string_view commands, std::string_view command) {
    while (!commands.empty()) {
        const auto blank = commands.find(' ');
        if (commands.substr(0, blank) == command) {
            return true;
        }
        commands =
            blank == std::string_view::npos ? std::string_view() : commands.substr(blank + 1);
    }
    return false;
}

// The option's long name ("--output" of "-o,--output").
std::string LongName(const char* names) {
    const std::string_view text(names);
    const auto comma = text.find(',');
    return std::string(comma == std::string_view::npos ? text : text.substr(comma + 1));
}

// Every spelling of the options a command takes, for suggestions.
std::vector<std::string> OptionSpellings(const std::string& command) {
    std::vector<std::string> spellings = {"--help"};
    for (const EditRow& edit : kEdits) {
        spellings.emplace_back(edit.name);
    }
    for (const OptionRow& option : kOptions) {
        if (Takes(option.commands, command)) {
            spellings.push_back(LongName(option.names));
        }
    }
    return spellings;
}

// The commands that take an option of that spelling ("-o" or "--output"), as a phrase.
std::string CommandsTaking(const std::string& spelling) {
    for (const OptionRow& option : kOptions) {
        const std::string names = "," + std::string(option.names) + ",";
        if (names.find("," + spelling + ",") == std::string::npos) {
            continue;
        }
        std::vector<std::string> takers;
        std::string_view list = option.commands;
        while (!list.empty()) {
            const auto blank = list.find(' ');
            takers.emplace_back(list.substr(0, blank));
            list = blank == std::string_view::npos ? std::string_view() : list.substr(blank + 1);
        }
        std::string phrase;
        for (std::size_t i = 0; i < takers.size(); ++i) {
            phrase += (i == 0 ? "" : i + 1 == takers.size() ? " and " : ", ") + takers[i];
        }
        return phrase + (takers.size() == 1 ? " takes it" : " take it");
    }
    return {};
}

std::string Usage(const CommandRow& row) {
    std::string usage = std::string("brevan ") + row.name;
    for (const PositionalRow& positional : row.positionals) {
        std::string word = std::string(positional.name) + (positional.many ? "..." : "");
        usage += " " + (positional.optional ? "[" + word + "]" : word);
    }
    return usage;
}

ParsedCommandLine UsageError(const std::string& message) {
    ParsedCommandLine parsed;
    parsed.status = kExitUsage;
    parsed.err = "brevan: " + message + "\n";
    return parsed;
}

ParsedCommandLine CommandUsageError(const std::string& command, const std::string& message) {
    return UsageError(message + "; " + HelpHint(command));
}

// "NAME=VALUE" split at the first '='; the name must not be empty.
std::pair<std::string, std::string> Assignment(const std::string& option, const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw CLI::ValidationError(option + " expects NAME=VALUE, not \"" + text + "\"");
    }
    return {text.substr(0, equals), text.substr(equals + 1)};
}

// The reason CLI11 gives, in the words of this command's other messages.
std::string Reason(const CLI::ParseError& error) {
    const std::string what = error.what();
    constexpr std::string_view kMissing = " required ";
    if (error.get_name() == "ArgumentMismatch") {
        const auto colon = what.find(':');
        if (colon != std::string::npos && what.find(kMissing, colon) != std::string::npos) {
            return what.substr(0, colon) + " needs a value";
        }
        constexpr std::string_view kOverride = " was given a disallowed flag override";
        if (const auto at = what.find(kOverride); at != std::string::npos) {
            return "--" + what.substr(0, at) + " takes no value";
        }
    }
    return what;
}

class Parser {
  public:
    Parser(Invocation& invocation, const AcceptedNames& names)
        : invocation_(invocation), names_(names) {
        app_.name("brevan");
        app_.description(
            "The servo axis's setup: parameters, registers, dialogs, simulated drive.");
        app_.set_version_flag("--version", std::string("brevan ") + BREVAN_VERSION,
                              "print the version and exit");
        app_.require_subcommand(0, 1);
        app_.get_formatter()->column_width(kHelpColumn);
        app_.get_formatter()->label("SUBCOMMAND", "COMMAND");
        app_.get_formatter()->label("REQUIRED", "");
        app_.footer(
            "'brevan COMMAND --help' tells what a command takes.\n"
            "Exit status: 0 success, 1 failure, 2 usage error, 3 unreadable or invalid setup "
            "file.");
        for (const CommandRow& row : Commands()) {
            AddCommand(row);
        }
    }

    ParsedCommandLine Parse(const std::vector<std::string>& arguments) {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        try {
            app_.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            return Printed(app_.help());
        } catch (const CLI::CallForVersion& version) {
            return Printed(std::string(version.what()) + "\n");
        } catch (const CLI::RequiredError& error) {
            const CLI::App* command = ChosenCommand();
            const std::string what = error.what();
            return CommandUsageError(command->get_name(),
                                     command->get_name() + ": " + what.substr(0, what.find(' ')) +
                                         " is missing (" + Usage(RowOf(command->get_name())) + ")");
        } catch (const CLI::ParseError& error) {
            const CLI::App* command = ChosenCommand();
            if (command == nullptr) {
                return UsageError(Reason(error) + "; " + HelpHint({}));
            }
            return CommandUsageError(command->get_name(),
                                     command->get_name() + ": " + Reason(error));
        }
        const CLI::App* command = ChosenCommand();
        if (command == nullptr) {
            return UsageError("no command given; " + HelpHint({}));
        }
        invocation_.command = command->get_name();
        return Check(*command);
    }

  private:
    static constexpr std::size_t kHelpColumn = 30;

    static ParsedCommandLine Printed(std::string text) {
        ParsedCommandLine parsed;
        parsed.out = std::move(text);
        return parsed;
    }

    const CLI::App* ChosenCommand() const {
        const std::vector<CLI::App*> chosen = app_.get_subcommands();
        return chosen.empty() ? nullptr : chosen.front();
    }

    // The help of an option or argument, with the names it takes when a table defines them.
    std::string HelpWithNames(const char* help,
                              std::vector<std::string> AcceptedNames::*names) const {
        if (names == nullptr || (names_.*names).empty()) {
            return help;
        }
        return help + (": " + CommaList(names_.*names));
    }

    void AddCommand(const CommandRow& row) {
        CLI::App* command = app_.add_subcommand(row.name, row.summary);
        command->group("Commands");
        command->allow_extras();
        command->get_formatter()->column_width(kHelpColumn);
        auto& values = positionals_[row.name];
        values.resize(row.positionals.size());
        for (std::size_t i = 0; i < row.positionals.size(); ++i) {
            const PositionalRow& positional = row.positionals[i];
            CLI::Option* option = command->add_option(
                positional.name, values[i], HelpWithNames(positional.help, positional.listed));
            option->type_name("")->expected(positional.many ? -1 : 1);
            option->allow_extra_args(positional.many)->required(!positional.optional);
        }
        for (const EditRow& edit : kEdits) {
            const std::string name = edit.name;
            const EditKind kind = edit.kind;
            command
                ->add_option_function<std::string>(
                    name,
                    [this, name, kind](const std::string& text) {
                        SetupEdit change{kind, text, {}};
                        if (kind != EditKind::Remove) {
                            std::tie(change.name, change.value) = Assignment(name, text);
                        }
                        invocation_.edits.push_back(std::move(change));
                    },
                    edit.help)
                ->type_name(edit.value)
                ->trigger_on_parse()
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                ->allow_extra_args(false);
        }
        if (row.name == std::string_view("sim")) {
            command
                ->add_option_function<std::string>(
                    "--var",
                    [this](const std::string& text) {
                        invocation_.programVariables.push_back(Assignment("--var", text));
                    },
                    "an input variable of the program")
                ->type_name("NAME=VALUE")
                ->trigger_on_parse()
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                ->allow_extra_args(false);
        }
        for (const OptionRow& option : kOptions) {
            if (!Takes(option.commands, row.name)) {
                continue;
            }
            if (option.flag != nullptr) {
                command
                    ->add_flag(option.names, invocation_.*(option.flag),
                               HelpWithNames(option.help, option.listed))
                    ->disable_flag_override();
            } else {
                command
                    ->add_option_function<std::string>(
                        option.names,
                        [this, member = option.member](const std::string& text) {
                            invocation_.*member = text;
                        },
                        HelpWithNames(option.help, option.listed))
                    ->type_name(option.value);
            }
        }
    }

    // What CLI11 lets through: options the command does not take and arguments beyond its usage;
    // then the arguments it needs.
    ParsedCommandLine Check(const CLI::App& command) {
        const std::string name = command.get_name();
        for (const std::string& extra : command.remaining()) {
            if (!extra.starts_with("-") || extra == "-") {
                continue;
            }
            const std::string spelling = extra.substr(0, extra.find('='));
            const std::string takers = CommandsTaking(spelling);
            if (!takers.empty()) {
                return CommandUsageError(name,
                                         name + " does not take " + spelling + " (" + takers + ")");
            }
            return CommandUsageError(name, name + ": unknown option " + spelling +
                                               DidYouMean(spelling, OptionSpellings(name)));
        }
        const CommandRow& row = RowOf(name);
        const std::vector<std::string> extras = command.remaining();
        if (!extras.empty()) {
            return CommandUsageError(name, name + ": unexpected argument \"" + extras.front() +
                                               "\" (" + Usage(row) + ")");
        }
        for (const std::vector<std::string>& values : positionals_.at(name)) {
            invocation_.arguments.insert(invocation_.arguments.end(), values.begin(), values.end());
        }
        ParsedCommandLine parsed;
        parsed.invocation = std::move(invocation_);
        return parsed;
    }

    Invocation& invocation_;
    const AcceptedNames& names_;
    CLI::App app_;
    std::map<std::string, std::vector<std::vector<std::string>>> positionals_;
};

}  // namespace

std::vector<std::string> CommandNames() {
    std::vector<std::string> names;
    for (const CommandRow& row : Commands()) {
        names.emplace_back(row.name);
    }
    return names;
}

std::string HelpHint(const std::string& command) {
    return command.empty() ? "see 'brevan --help'" : "see 'brevan " + command + " --help'";
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                                   const AcceptedNames& accepted) {
    // The command comes first: a word that names none is not taken for an argument.
    for (const std::string& argument : arguments) {
        if (argument.starts_with("-")) {
            continue;
        }
        const std::vector<std::string> names = CommandNames();
        if (std::find(names.begin(), names.end(), argument) == names.end()) {
            return UsageError("unknown command \"" + argument + "\"" + DidYouMean(argument, names) +
                              "; " + HelpHint({}));
        }
        break;
    }
    Invocation invocation;
    Parser parser(invocation, accepted);
    return parser.Parse(arguments);
}
