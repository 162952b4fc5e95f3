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

// Accelerates the rotor with a constant q current in the rotor's frame (the positioning left the
// rotor's d axis on phase A) from rest to a speed, timing it in speed-loop periods, then brakes
// it to rest with the opposite current.
class InertiaIdentificationProgram final : public PeriodProgram {
  public:
    InertiaIdentificationProgram() {
        Declare(kCurrent, 0.0);
        Declare("RefTest", 0.0);
        Declare(kIncrement, 1.0);
        Declare(kSpeedLimit, 0.0);
        Declare(kProtection, 0.0);
        Declare(kVerdict, 0.0);
        Declare(kTime, 0.0);
        Declare(kSpeedChange, 0.0);
    }
    std::string_view Name() const override { return "Total_Inertia_Identification_Test"; }

    // "delta_time" codes of a run that measured nothing.
    static constexpr double kNegativeSpeed = -1.0;
    static constexpr double kNoSpeed = -2.0;
    static constexpr double kSpeedNotReached = -3.0;

  private:
    // The accelerating current, its ramp's increment a period and the speed to reach; the
    // current protection level; the verdict and the measurement.
    static constexpr std::string_view kCurrent = "In1";
    static constexpr std::string_view kIncrement = "RIncTest";
    static constexpr std::string_view kSpeedLimit = "LimitSpeedMax";
    static constexpr std::string_view kProtection = "Imax_Prot_Test";
    static constexpr std::string_view kVerdict = "test_flag";
    static constexpr std::string_view kTime = "delta_time";
    static constexpr std::string_view kSpeedChange = "delta_speed";
    // Speed-loop periods after the current is reached before the timing starts (the current
    // loop settled); the longest acceleration and braking; the speed under which the rotor
    // counts as not moving (counts per speed-loop period).
    static constexpr std::int64_t kSettlePeriods = 4;
    static constexpr double kLongest_s = 5.0;
    static constexpr std::int64_t kStandstill = 1;
    // The speed loop's hold at rest after braking.
    static constexpr double kStop_s = 0.2;

    enum class Phase { Accelerating, Braking };

    void Begin(SimulatedDrive& drive) override {
        current_ = static_cast<std::int64_t>(std::trunc(Variable(kCurrent)));
        limit_ = static_cast<std::int64_t>(std::trunc(Variable(kSpeedLimit)));
        protection_ = std::trunc(Variable(kProtection));
        increment_ = std::max<std::int64_t>(1, std::llround(Variable(kIncrement)));
        Variable(kVerdict) = 0.0;
        Variable(kTime) = kNoSpeed;
        Variable(kSpeedChange) = 0.0;
        if (current_ <= 0 || limit_ <= 0) {
            Finish(drive);
            return;
        }
        DriveFirmware& firmware = drive.Firmware();
        firmware.SetElectricAngleReference(0);
        firmware.SetAngleSource(AngleSource::Encoder);
        firmware.SetLoopMode(LoopMode::Current);
        phase_ = Phase::Accelerating;
        reference_ = 0;
        speedPeriods_ = 0;
        timingStart_ = -1;
        startSpeed_ = 0;
        lowestSpeed_ = 0;
        highestSpeed_ = 0;
        firstDirection_ = 0;
        longestPeriods_ = Periods(drive, kLongest_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void OnPeriodStart(SimulatedDrive& drive, bool speedLoopDue) override {
        speedLoopDue_ = speedLoopDue;
        PeriodProgram::OnPeriodStart(drive, speedLoopDue);
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        if (protection_ > 0.0 && CurrentMagnitude(firmware) > protection_) {
            Variable(kVerdict) = 1.0;
            Variable(kTime) = kSpeedNotReached;
            Finish(drive);
            return;
        }
        if (phase_ == Phase::Braking) {
            Brake(drive);
            return;
        }
        reference_ = std::min(current_, reference_ + increment_);
        firmware.SetCurrentReference(0, reference_);
        if (!speedLoopDue_ || reference_ < current_) {
            return;
        }
        // The speed the firmware measured over the last speed-loop period.
        const std::int64_t speed = firmware.MotorSpeed();
        lowestSpeed_ = std::min(lowestSpeed_, speed);
        if (firstDirection_ == 0 && std::abs(speed) > kStandstill) {
            firstDirection_ = speed > 0 ? 1 : -1;
        }
        highestSpeed_ = std::max(highestSpeed_, speed);
        ++speedPeriods_;
        if (timingStart_ < 0 && speedPeriods_ >= kSettlePeriods) {
            timingStart_ = speedPeriods_;
            startSpeed_ = speed;
        }
        if (timingStart_ >= 0 && speed >= limit_) {
            Variable(kVerdict) = 1.0;
            Variable(kTime) = static_cast<double>(speedPeriods_ - timingStart_);
            Variable(kSpeedChange) = static_cast<double>(speed - startSpeed_);
            StartBraking(drive);
        } else if (speed < -limit_ || period_ >= longestPeriods_) {
            // The speed limit was not reached: the rotor started backward, did not move, or moved
            // too little.
            const bool backward = firstDirection_ < 0;
            const bool still = std::max(-lowestSpeed_, highestSpeed_) <= kStandstill;
            Variable(kVerdict) = backward ? 0.0 : 1.0;
            Variable(kTime) = backward ? kNegativeSpeed : still ? kNoSpeed : kSpeedNotReached;
            StartBraking(drive);
        }
    }

    void StartBraking(SimulatedDrive& drive) {
        phase_ = Phase::Braking;
        brakeEnd_ = period_ + longestPeriods_;
        stopEnd_ = 0;
        direction_ = drive.Firmware().MotorSpeed() >= 0 ? 1 : -1;
        drive.Firmware().SetCurrentReference(0, -direction_ * current_);
    }

    // Brakes with the full current until the speed turns, then lets the speed loop hold the
    // rotor at rest for a while before switching off.
    void Brake(SimulatedDrive& drive) {
        DriveFirmware& firmware = drive.Firmware();
        if (stopEnd_ == 0) {
            if (direction_ * firmware.MotorSpeed() <= 0 || period_ >= brakeEnd_) {
                firmware.SetLoopMode(LoopMode::Speed);
                firmware.SetSpeedReference(0);
                stopEnd_ = period_ + Periods(drive, kStop_s);
            }
            return;
        }
        if (period_ + 1 >= stopEnd_) {
            Finish(drive);
        }
    }

    std::int64_t current_ = 0;
    std::int64_t limit_ = 0;
    double protection_ = 0.0;
    std::int64_t increment_ = 1;
    std::int64_t reference_ = 0;
    std::int64_t speedPeriods_ = 0;
    std::int64_t timingStart_ = -1;
    std::int64_t startSpeed_ = 0;
    std::int64_t lowestSpeed_ = 0;
    std::int64_t highestSpeed_ = 0;
    // The sign of the first speed beyond standstill; 0 until the rotor moved.
    int firstDirection_ = 0;
    std::int64_t longestPeriods_ = 1;
    std::int64_t brakeEnd_ = 0;
    std::int64_t stopEnd_ = 0;
    std::int64_t direction_ = 1;
    bool speedLoopDue_ = false;
    Phase phase_ = Phase::Accelerating;
};

}  // namespace

std::unique_ptr<TestProgram> MakeInertiaTest() {
    return std::make_unique<InertiaIdentificationProgram>();
}

}  // namespace drive
