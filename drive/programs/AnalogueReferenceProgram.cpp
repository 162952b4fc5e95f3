#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using program_parts::kStarted;

// Passive: the firmware converts the analogue input for the host to read as "AD5" while the user
// turns the potentiometer; nothing moves, and the program runs until the host stops it.
class AnalogueReferenceProgram final : public TestProgram {
  public:
    AnalogueReferenceProgram() { Declare(kStarted, 0.0); }
    std::string_view Name() const override { return "Analogue_Reference_Test"; }

    void Start(SimulatedDrive& drive) override {
        TestProgram::Start(drive);
        Variable(kStarted) = 0.0;
    }

    void Stop(SimulatedDrive& drive) override {
        drive.Firmware().SetAnalogueAcquisition(false);
        TestProgram::Stop(drive);
    }

    void OnPeriodStart(SimulatedDrive& drive, bool) override {
        if (!running_ || Variable(kStarted) != 0.0) {
            return;
        }
        drive.Firmware().SetAnalogueAcquisition(true);
        Variable(kStarted) = 1.0;
    }
};

}  // namespace

std::unique_ptr<TestProgram> MakeAnalogueReferenceTest() {
    return std::make_unique<AnalogueReferenceProgram>();
}

}  // namespace drive
