#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Exit statuses of the brevan command.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitBadSetup = 3,
};

enum class EditKind {
    SetBase,      // --set NAME=VALUE: value in base units (text for a text parameter)
    SetInternal,  // --set-internal NAME=VALUE
    SetOption,    // --option NAME=TEXT
    Remove,       // --remove NAME: a parameter or a variable
};

// One change to the loaded setup, applied in the order given.
struct SetupEdit {
    EditKind kind;
    std::string name;
    std::string value;
};

struct Invocation {
    std::string command;
    // The command's arguments in the order its usage names them (sim: MOTOR SETUP [PROGRAM]; the
    // others: SETUP first).
    std::vector<std::string> arguments;
    std::vector<SetupEdit> edits;
    bool json = false;
    std::optional<std::string> output;
    std::optional<std::string> modulePath;
    std::optional<std::string> script;
    // edit: the dialog whose controls to list (--controls DIALOG, its caption or template id).
    std::optional<std::string> controlsOf;
    // sim: the program's input variables (--var NAME=VALUE, in order), how long to run (--for
    // SECONDS), the CSV file of the logged curves (--log FILE) and the voltage of the potentiometer
    // on the analogue reference input (--analogue VOLTS).
    std::vector<std::pair<std::string, std::string>> programVariables;
    std::optional<std::string> runFor;
    std::optional<std::string> logFile;
    std::optional<std::string> analogueInput;
    // The simulated drive: the motor file (--motor FILE; sim names it first) and a supply other
    // than its bench's (--bus VOLTS).
    std::optional<std::string> motorFile;
    std::optional<std::string> busVoltage;
    // test: the closing question's answer (--answer yes|no|cancel) and a fault of the simulated
    // drive (--fault NAME).
    std::optional<std::string> answer;
    std::optional<std::string> fault;
    // tune: press Tune before Start (--tune), a step reference (--step), the picture of the graph
    // (--plot FILE.svg|FILE.png) and its curves as CSV (--csv FILE.csv).
    bool tune = false;
    bool step = false;
    std::optional<std::string> plotFile;
    std::optional<std::string> csvFile;
    // commission: the folder of the report (--report DIR) and the steps to run (--only
    // STEP,...).
    std::optional<std::string> reportFolder;
    std::optional<std::string> onlySteps;
};

// What the command line asks for: a command to run, or what to print and the exit status when it
// asks for help or the version, or is wrong (then err holds one line and where to find help).
struct ParsedCommandLine {
    std::optional<Invocation> invocation;
    int status = kExitSuccess;
    std::string out;
    std::string err;
};

// The names that tables elsewhere define and the help lists: the drive tests (TEST), the
// simulated faults (--fault) and the commissioning's steps (--only). The help leaves out a list
// it is not given.
struct AcceptedNames {
    std::vector<std::string> tests;
    std::vector<std::string> faults;
    std::vector<std::string> commissionSteps;
};

// Reads the arguments after the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                                   const AcceptedNames& names = {});

// The names of the commands, in the order the help lists them.
std::vector<std::string> CommandNames();

// The line that points a user who got a command's usage wrong to its help.
std::string HelpHint(const std::string& command);
