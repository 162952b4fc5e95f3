#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/SimulatedDrive.h"

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

    // Starts the program on the drive (it runs from the next period, the loops taking their
    // references from it) and stops it (the loops take them where the registers say again).
    virtual void Start(SimulatedDrive& drive);
    virtual void Stop(SimulatedDrive& drive);
    bool IsRunning() const { return running_; }

    // Drive variables the program sets as it runs ("var_i1", "REFTST_V", ...), by name (letter
    // case ignored); empty until the program has set them.
    std::optional<double> GetDriveVariable(std::string_view name) const;
    const std::map<std::string, double>& DriveVariables() const { return driveVariables_; }
    // Whether the values the host logs are meaningful in this period: a program that logs
    // measures only over its steady window, and a logger samples while this holds.
    virtual bool IsLogging() const { return false; }
    // The host writes a drive variable the program watches ("var_i2", ...); false when the
    // program has no such variable.
    virtual bool WriteDriveVariable(std::string_view name, double value);

  protected:
    // Declares a user variable with its initial value; called by the constructor of a program.
    void Declare(std::string_view name, double initialValue);
    double& Variable(std::string_view name);
    void SetDriveVariable(std::string_view name, double value);
    // Ends the run from inside the program: power stage off, the routine stays registered but
    // idle (the drive may be iterating over its routines).
    void Finish(SimulatedDrive& drive);
    // The drive the program was last started on; null before the first start.
    SimulatedDrive* Drive() const { return drive_; }

    bool running_ = false;

  private:
    std::map<std::string, double> variables_;
    std::map<std::string, double> driveVariables_;
    SimulatedDrive* drive_ = nullptr;
};

// The programs by name; null for a name the simulated drive has no program of.
std::unique_ptr<TestProgram> CreateTestProgram(std::string_view name);
// Every program name the simulated drive knows.
std::vector<std::string> TestProgramNames();

}  // namespace drive
