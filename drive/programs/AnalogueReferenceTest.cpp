#include <memory>
#include <string_view>

#include "DrivePrograms.h"

namespace drive {

namespace {

// Passive: the firmware converts the analogue input for the host to read as "AD5" while the user
// turns the potentiometer; nothing moves, and the program runs until the host stops it.
class AnalogueReferenceTest final : public TestProgram {
  public:
    AnalogueReferenceTest() { Declare("STARTED", 0.0); }
    std::string_view Name() const override { return "Analogue_Reference_Test"; }

    void Start(SimulatedDrive& drive) override {
        TestProgram::Start(drive);
        Variable("STARTED") = 0.0;
    }

    void Stop(SimulatedDrive& drive) override {
        drive.Firmware().SetAnalogueAcquisition(false);
        TestProgram::Stop(drive);
    }

    void OnPeriodStart(SimulatedDrive& drive, bool) override {
        if (!running_ || Variable("STARTED") != 0.0) {
            return;
        }
        drive.Firmware().SetAnalogueAcquisition(true);
        Variable("STARTED") = 1.0;
    }
};

}  // namespace

std::unique_ptr<TestProgram> MakeAnalogueReferenceTest() {
    return std::make_unique<AnalogueReferenceTest>();
}

}  // namespace drive
