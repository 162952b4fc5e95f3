#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

class PolePairsDetectionProgram final : public PeriodProgram {
  public:
    PolePairsDetectionProgram() {
        Declare(kCurrent, 0.0);
        Declare("RIncTest", 1.0);
        Declare(kMoves, 0.0);
    }
    std::string_view Name() const override { return "Motor_Pole_Pairs_Detection_Test"; }

    bool WriteDriveVariable(std::string_view name, double value) override {
        if (!SameVariableName(name, kCommand)) {
            return false;
        }
        SetDriveVariable(kCommand, value);
        if (!running_ || Drive() == nullptr) {
            return true;
        }
        if (value == kMove && !moving_) {
            // The move starts at once: the end-of-move marker leaves THTST before the host's
            // next read.
            moving_ = true;
            moveStart_ = period_;
            Drive()->Firmware().SetTestAngle(kHoldAngle);
        } else if (value == kEnd) {
            ending_ = true;
        }
        return true;
    }

  private:
    // The holding current, and the count of the moves made.
    static constexpr std::string_view kCurrent = "RefTest";
    static constexpr std::string_view kMoves = "poles_pairs";
    static constexpr std::string_view kCommand = "var_i2";
    static constexpr double kMove = 0.0;
    static constexpr double kEnd = 1.0;
    // The test angle that marks the end of a move: one unit past the holding angle.
    static constexpr std::int64_t kMoveEndMarker = kHoldAngle + 1;
    // The least a move under way shows the field turned: one unit past the end marker.
    static constexpr std::int64_t kLeastTurn = kMoveEndMarker - kHoldAngle + 1;
    // The time one electrical turn takes.
    static constexpr double kTurn_s = 0.4;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable(kCurrent)));
        moving_ = false;
        ending_ = false;
        Variable(kMoves) = 0.0;
        SetDriveVariable(kCommand, kEnd);
        if (current <= 0) {
            Finish(drive);
            return;
        }
        HoldInTestFrame(drive.Firmware());
        drive.Firmware().SetCurrentReference(0, current);
        turnPeriods_ = Periods(drive, kTurn_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        if (moving_) {
            const std::int64_t elapsed = period_ - moveStart_;
            if (elapsed < turnPeriods_) {
                const double fraction =
                    static_cast<double>(elapsed) / static_cast<double>(turnPeriods_);
                // The smooth start would rest on the end marker for a few periods, and a host
                // polling that fast would take the move for ended: the move skips that unit.
                const std::int64_t turned =
                    std::llround(SmoothFraction(fraction) * kAngleUnitsPerTurn);
                firmware.SetTestAngle(kHoldAngle + std::max(turned, kLeastTurn));
                return;
            }
            firmware.SetTestAngle(kMoveEndMarker);
            Variable(kMoves) += 1.0;
            moving_ = false;
        }
        if (ending_) {
            SetDriveVariable(kCommand, Variable(kMoves));
            Finish(drive);
        }
    }

    bool moving_ = false;
    bool ending_ = false;
    std::int64_t moveStart_ = 0;
    std::int64_t turnPeriods_ = 1;
};

}  // namespace

std::unique_ptr<TestProgram> MakePolePairsTest() {
    return std::make_unique<PolePairsDetectionProgram>();
}

}  // namespace drive
