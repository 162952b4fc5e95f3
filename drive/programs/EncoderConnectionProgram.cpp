#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

// Passive: the power stage on with no current, so that the shaft turns freely by hand while the
// host watches the position counter, until the host writes 1 to "var_i2".
class EncoderConnectionProgram final : public PeriodProgram {
  public:
    std::string_view Name() const override { return "Encoder_Connection_Test"; }

    bool WriteDriveVariable(std::string_view name, double value) override {
        if (!SameVariableName(name, kCommand)) {
            return false;
        }
        SetDriveVariable(kCommand, value);
        return true;
    }

  private:
    static constexpr std::string_view kCommand = "var_i2";
    static constexpr double kEnd = 1.0;

    void Begin(SimulatedDrive& drive) override {
        SetDriveVariable(kCommand, 0.0);
        HoldInTestFrame(drive.Firmware());
        drive.Firmware().SetCurrentReference(0, 0);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        if (GetDriveVariable(kCommand) == kEnd) {
            Finish(drive);
        }
    }
};

}  // namespace

std::unique_ptr<TestProgram> MakeEncoderConnectionTest() {
    return std::make_unique<EncoderConnectionProgram>();
}

}  // namespace drive
