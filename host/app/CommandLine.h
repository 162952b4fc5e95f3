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
    std::vector<std::string> arguments;
    std::vector<SetupEdit> edits;
    bool json = false;
    bool help = false;
    std::optional<std::string> output;
    std::optional<std::string> modulePath;
    std::optional<std::string> script;
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

// Reads the arguments after the program name; on a usage error, returns nothing and says why.
std::optional<Invocation> ParseCommandLine(const std::vector<std::string>& arguments,
                                           std::string& error);
