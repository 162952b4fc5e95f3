#pragma once

// A stand-in for one drive program, for the results and behaviours the simulated motor cannot
// produce (a program that reports an impossible measurement, one that never ends a move): it
// declares the image's variables and, in its first period, marks itself started and sets its
// results; then it either ends at once or holds the power stage on, ignoring the host's
// commands, until stopped. Every other program is the simulated drive's own.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/link/SimulatedDriveLink.h"
#include "drive/programs/TestProgram.h"

using NamedValues = std::vector<std::pair<std::string, double>>;

class ProgramStandIn : public drive::TestProgram {
  public:
    enum class Run { EndsAtOnce, HoldsUntilStopped };

    // The inputs are the variables the host writes (the image's); the results are user
    // variables, the drive results drive variables.
    ProgramStandIn(std::string name, const std::vector<std::string>& inputs, NamedValues results,
                   NamedValues driveResults, Run run)
        : name_(std::move(name)),
          results_(std::move(results)),
          driveResults_(std::move(driveResults)),
          run_(run) {
        Declare("STARTED", 0.0);
        for (const std::string& input : inputs) {
            Declare(input, 0.0);
        }
        for (const auto& [result, value] : results_) {
            Declare(result, 0.0);
        }
    }

    std::string_view Name() const override { return name_; }

    bool WriteDriveVariable(std::string_view, double) override {
        return run_ == Run::HoldsUntilStopped;
    }

    void OnPeriodStart(drive::SimulatedDrive& drive, bool) override {
        if (!running_ || Variable("STARTED") != 0.0) {
            return;
        }
        Variable("STARTED") = 1.0;
        for (const auto& [variable, value] : results_) {
            Variable(variable) = value;
        }
        for (const auto& [variable, value] : driveResults_) {
            SetDriveVariable(variable, value);
        }
        if (run_ == Run::EndsAtOnce || !drive.SwitchOn()) {
            Finish(drive);
        }
    }

  private:
    std::string name_;
    NamedValues results_;
    NamedValues driveResults_;
    Run run_;
};

// A link to the drive whose program of that name is the stand-in the factory makes.
inline std::unique_ptr<drive::SimulatedDriveLink> LinkWithStandIn(
    drive::SimulatedDrive& axis, std::string name,
    std::function<std::unique_ptr<drive::TestProgram>()> makeStandIn) {
    return std::make_unique<drive::SimulatedDriveLink>(
        axis,
        [name = std::move(name), makeStandIn = std::move(makeStandIn)](
            std::string_view programName) -> std::unique_ptr<drive::TestProgram> {
            if (programName == name) {
                return makeStandIn();
            }
            return drive::CreateTestProgram(programName);
        });
}
