#pragma once

#include <memory>
#include <string_view>

#include "drive/SimulatedDrive.h"
#include "drive/programs/TestProgram.h"

// A test-only program with a known course: it sets STARTED in its first period, writes the
// period count into the test angle THTST every period (so that logged values are known), logs
// while it runs, and after "Periods" periods stores Out = 2 x In1 and the drive variable
// "var_i1" = In1, then ends.
class EchoProgram : public drive::TestProgram {
  public:
    static constexpr std::string_view kName = "Echo_Test";

    EchoProgram() {
        Declare("STARTED", 0.0);
        Declare("In1", 0.0);
        Declare("Out", 0.0);
        Declare("Periods", 10.0);
    }

    std::string_view Name() const override { return kName; }
    bool IsLogging() const override { return running_; }

    void OnPeriodStart(drive::SimulatedDrive& drive, bool /*speedLoopDue*/) override {
        if (!running_) {
            return;
        }
        Variable("STARTED") = 1.0;
        drive.Firmware().SetTestAngle(periods_);
        if (++periods_ >= static_cast<long>(Variable("Periods"))) {
            Variable("Out") = 2.0 * Variable("In1");
            SetDriveVariable("var_i1", Variable("In1"));
            Finish(drive);
        }
    }

  private:
    long periods_ = 0;
};

// The drive's programs, and the echo program.
inline std::unique_ptr<drive::TestProgram> CreateProgramOrEcho(std::string_view name) {
    if (name == EchoProgram::kName) {
        return std::make_unique<EchoProgram>();
    }
    return drive::CreateTestProgram(name);
}
