#include "drive/programs/ProgramParts.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace drive::program_parts {

ProfileProgram::ProfileProgram(std::string_view name, LoopMode mode) : name_(name), mode_(mode) {
    Declare("RefTest", 0.0);
    Declare("RIncTest", 1.0);
    Declare(kProtection, 0.0);
    // The test's current and speed limits: the drive's limits are its registers, which the
    // host writes for the test; the program keeps these for the host's bookkeeping.
    Declare("IlimPS_Test", 0.0);
    if (mode_ == LoopMode::Position) {
        Declare("LimitSpeed_Test", 0.0);
    }
    Declare(kCyclic, 0.0);
    Declare(kVerdict, 0.0);
    for (int segment = 0; segment < kSegments; ++segment) {
        Declare("a" + std::to_string(segment), 0.0);
        Declare("b" + std::to_string(segment), 0.0);
    }
}

void ProfileProgram::Begin(SimulatedDrive& drive) {
    protection_ = std::trunc(Variable(kProtection));
    // Good until the protection trips: a host running cycles reads it while the profile runs.
    Variable(kVerdict) = 1.0;
    DriveFirmware& firmware = drive.Firmware();
    // The electric angle is the encoder's, counted from where the positioning left the rotor.
    firmware.SetAngleSource(AngleSource::Encoder);
    firmware.SetLoopMode(mode_);
    origin_ = firmware.MotorPosition();
    level_ = 0.0;
    segment_ = 0;
    periodInSegment_ = 0;
    restEnd_ = Periods(drive, kRest_s);
    // The host's logger records the profile from its first period until it holds its points.
    logging_ = true;
    if (!drive.SwitchOn()) {
        Variable(kVerdict) = 0.0;
        Finish(drive);
    }
}

void ProfileProgram::OnPeriodStart(SimulatedDrive& drive, bool speedLoopDue) {
    speedLoopDue_ = speedLoopDue;
    PeriodProgram::OnPeriodStart(drive, speedLoopDue);
}

void ProfileProgram::Run(SimulatedDrive& drive) {
    DriveFirmware& firmware = drive.Firmware();
    if (protection_ > 0.0 && CurrentMagnitude(firmware) > protection_) {
        Variable(kVerdict) = 0.0;
        Finish(drive);
        return;
    }
    if (!speedLoopDue_ || period_ < restEnd_) {
        return;
    }
    if (!Advance()) {
        Variable(kVerdict) = 1.0;
        Finish(drive);
        return;
    }
    const std::int64_t reference = std::llround(level_);
    if (mode_ == LoopMode::Speed) {
        firmware.SetSpeedReference(reference);
    } else {
        firmware.SetPositionReference(origin_ + reference);
    }
}

bool ProfileProgram::Advance() {
    for (int skipped = 0; skipped <= kSegments; ++skipped) {
        const auto length = static_cast<std::int64_t>(Variable("a" + std::to_string(segment_)));
        if (periodInSegment_ < length) {
            level_ += Variable("b" + std::to_string(segment_));
            ++periodInSegment_;
            return true;
        }
        periodInSegment_ = 0;
        if (++segment_ == kSegments) {
            segment_ = 0;
            if (Variable(kCyclic) != 1.0) {
                return false;
            }
        }
    }
    // Every segment empty: nothing to run.
    return false;
}

}  // namespace drive::program_parts
