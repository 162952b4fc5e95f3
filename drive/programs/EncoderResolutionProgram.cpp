#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

class EncoderResolutionProgram final : public PeriodProgram {
  public:
    EncoderResolutionProgram() {
        Declare(kCurrent, 0.0);
        Declare(kTurns, 0.0);
    }
    std::string_view Name() const override { return "Encoder_Resolution_And_Direction_Test"; }

  private:
    // The holding current and the electrical turns the field makes.
    static constexpr std::string_view kCurrent = "RefTest";
    static constexpr std::string_view kTurns = "PolesPairs";
    // The position counter's travel, live while the field turns and settled at the end.
    static constexpr std::string_view kTravel = "var_lf_long";
    // Settling on the holding current, then the window over which the starting position is
    // averaged (the rotor may still swing a little about it); the time for one electrical turn;
    // the settling at the end and the window of the final position.
    static constexpr double kSettle_s = 0.2;
    static constexpr double kAverage_s = 0.3;
    static constexpr double kTurn_s = 0.4;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable(kCurrent)));
        const auto turns = static_cast<std::int64_t>(std::trunc(Variable(kTurns)));
        if (current <= 0 || turns <= 0) {
            Finish(drive);
            return;
        }
        DriveFirmware& firmware = drive.Firmware();
        HoldInTestFrame(firmware);
        firmware.SetCurrentReference(0, current);
        travel_ = turns * static_cast<std::int64_t>(kAngleUnitsPerTurn);
        moveStart_ = Periods(drive, kSettle_s + kAverage_s);
        averageStart_ = Periods(drive, kSettle_s);
        moveEnd_ = moveStart_ + Periods(drive, kTurn_s * static_cast<double>(turns));
        finalStart_ = moveEnd_ + Periods(drive, kSettle_s);
        end_ = finalStart_ + Periods(drive, kAverage_s);
        start_ = Mean{};
        final_ = Mean{};
        origin_ = static_cast<double>(firmware.ElectricalResolutionCount());
        SetDriveVariable(kTravel, 0.0);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        const auto count = static_cast<double>(firmware.ElectricalResolutionCount());
        if (period_ < moveStart_) {
            if (period_ >= averageStart_) {
                start_.Add(count);
            }
            return;
        }
        if (period_ == moveStart_) {
            origin_ = start_.Value();
        }
        SetDriveVariable(kTravel, std::round(count - origin_));
        if (period_ <= moveEnd_) {
            const double fraction = static_cast<double>(period_ - moveStart_) /
                                    static_cast<double>(moveEnd_ - moveStart_);
            firmware.SetTestAngle(
                kHoldAngle + std::llround(SmoothFraction(fraction) * static_cast<double>(travel_)));
            return;
        }
        if (period_ >= finalStart_) {
            final_.Add(count);
        }
        if (period_ + 1 < end_) {
            return;
        }
        SetDriveVariable(kTravel, std::round(final_.Value() - origin_));
        Finish(drive);
    }

    std::int64_t travel_ = 0;
    std::int64_t averageStart_ = 0;
    std::int64_t moveStart_ = 0;
    std::int64_t moveEnd_ = 0;
    std::int64_t finalStart_ = 0;
    std::int64_t end_ = 0;
    double origin_ = 0.0;
    Mean start_;
    Mean final_;
};

}  // namespace

std::unique_ptr<TestProgram> MakeEncoderResolutionTest() {
    return std::make_unique<EncoderResolutionProgram>();
}

}  // namespace drive
