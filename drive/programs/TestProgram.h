#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SimulatedDrive.h"

namespace drive {

// A test program running on the simulated drive: the stand-in for a program image the host
// downloads and starts. It owns its user variables (the symbols the host writes before the start
// and reads while and after it runs), drives the firmware from the period hooks, and names the
// drive variables it logs.
//
//   auto program = CreateTestProgram("VDC_Detection_Test");
//   program->SetVariable("...", 1.0);          // the host's input variables
//   program->Start(drive);                     // adds itself to the drive's routines
//   drive.Advance(0.5);
//   double started = *program->GetVariable("STARTED");
class TestProgram : public DriveRoutine {
public:
    ~TestProgram() override = default;

    // The program's name, as the host finds it ("Ident_R_or_Rs", ...).
    virtual std::string_view Name() const = 0;

    // User variables by name (letter case ignored). Writing an unknown name fails.
    bool SetVariable(std::string_view name, double value);
    std::optional<double> GetVariable(std::string_view name) const;
    const std::map<std::string, double>& Variables() const { return variables_; }

    // Starts the program on the drive (it runs from the next period) and stops it.
    virtual void Start(SimulatedDrive& drive);
    virtual void Stop(SimulatedDrive& drive);
    bool IsRunning() const { return running_; }

protected:
    // Declares a user variable with its initial value; called by the constructor of a program.
    void Declare(std::string name, double initialValue);
    double& Variable(std::string_view name);

    bool running_ = false;

private:
    std::map<std::string, double> variables_;
};

// The programs by name; null for a name the simulated drive has no program of.
std::unique_ptr<TestProgram> CreateTestProgram(std::string_view name);
// Every program name the simulated drive knows.
std::vector<std::string> TestProgramNames();

}  // namespace drive
