#include <cstdint>
#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

// Measures with the power stage off: the bus needs no bridge. "STARTED" turns 1 once "var_u2"
// holds the result, so that a host polling it with the power stage off reads a finished run.
class VdcDetectionProgram final : public TestProgram {
  public:
    VdcDetectionProgram() { Declare(kStarted, 0.0); }
    std::string_view Name() const override { return "VDC_Detection_Test"; }

    void Start(SimulatedDrive& drive) override {
        TestProgram::Start(drive);
        Variable(kStarted) = 0.0;
        period_ = 0;
        bus_ = Mean{};
    }

    void OnPeriodStart(SimulatedDrive& drive, bool) override {
        if (!running_) {
            return;
        }
        if (period_ == 0) {
            end_ = Periods(drive, kMeasure_s);
        } else {
            bus_.Add(static_cast<double>(drive.Firmware().BusVoltage()));
        }
        if (++period_ <= end_) {
            return;
        }
        SetDriveVariable("var_u2", bus_.Value());
        Variable(kStarted) = 1.0;
        Finish(drive);
    }

  private:
    // The window over which the bus converter is averaged.
    static constexpr double kMeasure_s = 0.02;

    std::int64_t period_ = 0;
    std::int64_t end_ = 0;
    Mean bus_;
};

}  // namespace

std::unique_ptr<TestProgram> MakeVdcDetectionTest() {
    return std::make_unique<VdcDetectionProgram>();
}

}  // namespace drive
