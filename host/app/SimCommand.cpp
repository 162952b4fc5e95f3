#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "drive/MotorFile.h"
#include "drive/link/SimulatedDriveLink.h"
#include "engine/RegisterComputation.h"
#include "host/app/CommandLine.h"
#include "host/app/Commands.h"
#include "host/app/DerivedEdits.h"
#include "host/app/Folders.h"
#include "host/app/JsonReport.h"
#include "host/app/SimulatedAxis.h"
#include "host/app/Suggest.h"
#include "host/kernel/CoffFormat.h"

namespace {

// How long a program runs when --for does not say.
constexpr double kDefaultRunLimit_s = 10.0;
// The drive variables the --log file holds, one column each after the time.
constexpr const char* kLoggedVariables[] = {
    "Current_Reference", "Motor_Current",   "Speed_Reference",
    "Load_Speed",        "Target_Position", "Load_Position",
};

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "brevan: %s\n", message.c_str());
    return status;
}

std::string KnownPrograms() {
    std::string names;
    for (const std::string& name : drive::TestProgramNames()) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

// Whether the file is a setup file: a JSON object with parameters (a motor file has none).
bool IsSetupFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const nlohmann::json content = nlohmann::json::parse(file, nullptr, false);
    return content.is_object() && content.contains("parameters");
}

// The program named on the command line, read from its file; nothing (the reason printed) when
// there is none of that name.
std::unique_ptr<CQel_CoffFormat> ReadProgram(const std::string& name) {
    CQel_CoffFormat::SetProgramsDirectory(ProgramsDirectory());
    auto program = std::make_unique<CQel_CoffFormat>();
    program->SetFileName(CQel_CoffFormat::GetOutPathName(name));
    if (program->GetFileName().empty()) {
        const std::vector<std::string> known = drive::TestProgramNames();
        Fail(kExitFailure, "unknown program \"" + name + "\" (no program file in " +
                               CQel_CoffFormat::GetProgramsDirectory().string() +
                               "; the simulated drive runs: " + KnownPrograms() + ")" +
                               DidYouMean(name, known));
        return nullptr;
    }
    if (program->ReadCoff() == 0) {
        return nullptr;
    }
    return program;
}

// One row per speed-loop period: the time and each logged variable in its base unit (internal
// units when the setup does not describe the variable).
struct Recording {
    std::vector<std::string> header{"time [s]"};
    std::vector<std::vector<double>> rows;
};

void Record(drive::SimulatedDriveLink& link, CQel_Setup& setup, double time_s,
            Recording& recording) {
    std::vector<double> row{time_s};
    for (const char* name : kLoggedVariables) {
        double internalValue = 0.0;
        link.ReadValue(name, internalValue);
        const CQel_Variable* variable = setup.FindVariable(name, 0);
        row.push_back(variable == nullptr ? internalValue
                                          : variable->InternalToBase(internalValue));
    }
    recording.rows.push_back(std::move(row));
}

bool WriteCsv(const std::string& path, const Recording& recording) {
    std::ofstream file(path);
    for (std::size_t i = 0; i < recording.header.size(); ++i) {
        file << (i == 0 ? "" : ",") << recording.header[i];
    }
    file << "\n";
    char number[32];
    for (const std::vector<double>& row : recording.rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            std::snprintf(number, sizeof number, "%.9g", row[i]);
            file << (i == 0 ? "" : ",") << number;
        }
        file << "\n";
    }
    return static_cast<bool>(file);
}

}  // namespace

int CheckSim(const Invocation& invocation) {
    if (invocation.arguments.size() < 3) {
        return Fail(kExitUsage, "sim: PROGRAM is missing; the simulated drive runs: " +
                                    KnownPrograms() + "; " + HelpHint("sim"));
    }
    const std::filesystem::path motorPath = invocation.arguments[0];
    const std::filesystem::path setupPath = invocation.arguments[1];
    std::error_code error;
    if (std::filesystem::is_regular_file(motorPath, error) && IsSetupFile(motorPath)) {
        const bool swapped = drive::LoadMotorFile(setupPath).motor.has_value();
        return Fail(kExitBadSetup, swapped ? "sim takes MOTOR before SETUP: " + motorPath.string() +
                                                 " is a setup file and " + setupPath.string() +
                                                 " a motor file; give them the other way round"
                                           : motorPath.string() +
                                                 " is a setup file, not a motor file: sim "
                                                 "takes MOTOR before SETUP");
    }
    const std::string& programName = invocation.arguments[2];
    const std::unique_ptr<CQel_CoffFormat> program = ReadProgram(programName);
    if (!program) {
        return kExitFailure;
    }
    std::vector<std::string> variables;
    for (const auto& symbol : program->GetImage().variables) {
        variables.push_back(symbol.first);
    }
    for (const auto& [name, value] : invocation.programVariables) {
        if (std::find(variables.begin(), variables.end(), name) == variables.end()) {
            return Fail(kExitFailure, "The program \"" + programName + "\" has no variable \"" +
                                          name + "\". Its variables: " + ListOfNames(variables) +
                                          DidYouMean(name, variables));
        }
    }
    return kExitSuccess;
}

// Runs one test program on the simulated drive of the motor file (fed from its bench, or from the
// --bus supply), with the registers computed from the setup's parameters (as a setup dialog does
// before it opens a test), until the program has ended or the time is up; prints the program's
// user variables and the drive variables it set, and with --analogue the converter's reading of
// the voltage on the analogue input.
int RunSim(CommandContext& context) {
    const Invocation& invocation = context.invocation;
    const std::filesystem::path motorPath = invocation.arguments[0];
    const std::string programName = invocation.arguments[2];

    double runLimit_s = kDefaultRunLimit_s;
    if (invocation.runFor && (!ParseNumber(*invocation.runFor, runLimit_s) || runLimit_s <= 0.0)) {
        return Fail(kExitUsage, "--for expects a positive number of seconds, not \"" +
                                    *invocation.runFor + "\"");
    }
    double analogueInput_V = 0.0;
    if (invocation.analogueInput && !ParseNumber(*invocation.analogueInput, analogueInput_V)) {
        return Fail(kExitUsage,
                    "--analogue expects a voltage, not \"" + *invocation.analogueInput + "\"");
    }
    std::optional<double> supply_V;
    if (!ReadBusOption(invocation, supply_V)) {
        return kExitUsage;
    }
    std::vector<std::pair<std::string, double>> inputs;
    for (const auto& [name, text] : invocation.programVariables) {
        double value = 0.0;
        if (!ParseNumber(text, value)) {
            return Fail(kExitUsage, "--var " + name + " expects a number, not \"" + text + "\"");
        }
        inputs.emplace_back(name, value);
    }

    if (const int refused = RefuseLostEdits(context, ComputeDriveRegisters);
        refused != kExitSuccess) {
        return refused;
    }
    const std::unique_ptr<CQel_CoffFormat> read = ReadProgram(programName);
    if (!read) {
        return kExitFailure;
    }
    CQel_CoffFormat& program = *read;
    for (const auto& [name, value] : inputs) {
        std::string error;
        if (program.SetUserVariableValue(name, value, error) == 0) {
            return Fail(kExitFailure, error);
        }
    }

    ComputeDriveRegisters(context.setup);
    const std::optional<SimulatedAxis> simulated =
        MakeSimulatedAxis(motorPath, context.setup, supply_V);
    if (!simulated) {
        return kExitBadSetup;
    }
    drive::SimulatedDrive& axis = *simulated->drive;
    drive::SimulatedDriveLink& link = *simulated->link;
    axis.SetAnalogueInput(analogueInput_V);
    const ConnectedDrive connected(context.setup, &link);
    if (CQel_CoffFormat::ExecuteCode(programName, &program, nullptr, nullptr, nullptr) == 0) {
        return kExitFailure;
    }

    Recording recording;
    for (const char* name : kLoggedVariables) {
        const CQel_Variable* variable = context.setup.FindVariable(name, 0);
        recording.header.push_back(std::string(name) + " [" +
                                   (variable == nullptr ? "IU" : variable->GetBaseUnitName()) +
                                   "]");
    }
    const double step_s = axis.SpeedLoopPeriod_s();
    const double start_s = axis.Time_s();
    while (link.Program()->IsRunning() && axis.Time_s() - start_s < runLimit_s) {
        link.Advance(step_s);
        if (invocation.logFile) {
            Record(link, context.setup, axis.Time_s() - start_s, recording);
        }
    }
    const bool ended = !link.Program()->IsRunning();
    const double ran_s = axis.Time_s() - start_s;
    double motionErrors = 0.0;
    link.ReadValue("MER", motionErrors);
    double analogueCounts = 0.0;
    link.ReadValue("AD5", analogueCounts);

    std::vector<std::pair<std::string, double>> outputs;
    for (const auto& symbol : program.GetImage().variables) {
        double value = 0.0;
        std::string error;
        if (program.GetUserVariableValue(symbol.first, value, error) == 0) {
            return Fail(kExitFailure, error);
        }
        outputs.emplace_back(symbol.first, value);
    }
    const std::map<std::string, double> driveVariables = link.Program()->DriveVariables();

    if (invocation.json) {
        nlohmann::ordered_json report{
            {"program", programName}, {"ended", ended}, {"time_s", ran_s}, {"MER", motionErrors}};
        nlohmann::ordered_json variables = nlohmann::ordered_json::object();
        for (const auto& [name, value] : outputs) {
            variables[name] = value;
        }
        report["variables"] = variables;
        report["driveVariables"] = driveVariables;
        if (invocation.analogueInput) {
            report["AD5"] = analogueCounts;
        }
        std::printf("%s\n", DumpReport(report, 2).c_str());
    } else {
        std::printf("%s %s after %s s (MER = %s)\n", programName.c_str(),
                    ended ? "ended" : "still running", FullPrecision(ran_s).c_str(),
                    FullPrecision(motionErrors).c_str());
        for (const auto& [name, value] : outputs) {
            std::printf("%s = %s\n", name.c_str(), FullPrecision(value).c_str());
        }
        for (const auto& [name, value] : driveVariables) {
            std::printf("%s = %s (drive variable)\n", name.c_str(), FullPrecision(value).c_str());
        }
        if (invocation.analogueInput) {
            std::printf("AD5 = %s (analogue input at %s V)\n",
                        FullPrecision(analogueCounts).c_str(),
                        FullPrecision(analogueInput_V).c_str());
        }
    }
    if (!ended) {
        std::fprintf(stderr, "brevan: the program was still running after %g s\n", ran_s);
    }
    if (invocation.logFile && !WriteCsv(*invocation.logFile, recording)) {
        return Fail(kExitFailure, "cannot write \"" + *invocation.logFile + "\"");
    }
    return kExitSuccess;
}
