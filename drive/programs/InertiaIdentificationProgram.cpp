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
// rotor's d axis on phase A) from rest to a speed, then decelerates it with the opposite current
// over the same speed range, timing both in speed-loop periods, and brakes it to rest.
//
// Friction and a load torque oppose the acceleration and help the deceleration by the same
// amount, so the mean of the two rates is the acceleration the current alone gives:
// J a_up = K i_up - T and J a_down = K i_down + T give J (a_up + a_down) = K (i_up + i_down).
// The currents are the mean measured q currents over each window, not the reference: on a low
// bus the current loop runs out of voltage near the top speed and the current falls short of its
// reference. The program reports the speed change of the acceleration and the time in which the
// test current alone, without friction or load, would have made it.
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
    // Speed-loop periods after the current is reached or reversed before a timing starts (the
    // current loop settled); the longest acceleration and braking; the speed under which the
    // rotor counts as not moving (counts per speed-loop period).
    static constexpr std::int64_t kSettlePeriods = 4;
    static constexpr double kLongest_s = 5.0;
    static constexpr std::int64_t kStandstill = 1;
    // The timed range starts at this fraction of the speed limit: clear of standstill, where
    // friction sticks and would not oppose the motion by the same torque both ways.
    static constexpr std::int64_t kLowSpeedDivisor = 10;
    // The speed loop's hold at rest after braking.
    static constexpr double kStop_s = 0.2;

    enum class Phase { Accelerating, Reversing, Decelerating, Braking };

    // One timed window: the speeds at its ends (counts per speed-loop period), its speed-loop
    // periods and the mean measured q current over it (converter counts).
    struct Window {
        std::int64_t startSpeed = 0;
        std::int64_t endSpeed = 0;
        std::int64_t periods = 0;
        Mean current;

        double Rate() const {
            return static_cast<double>(endSpeed - startSpeed) / static_cast<double>(periods);
        }
    };

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
        timing_ = false;
        up_ = Window{};
        down_ = Window{};
        lowSpeed_ = std::max(kStandstill + 1, limit_ / kLowSpeedDivisor);
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
            // While braking the measurement is done: the protection stops the drive, the result
            // stands.
            if (phase_ != Phase::Braking) {
                Variable(kVerdict) = 1.0;
                Variable(kTime) = kSpeedNotReached;
            }
            Finish(drive);
            return;
        }
        switch (phase_) {
            case Phase::Accelerating:
                Accelerate(drive);
                break;
            case Phase::Reversing:
            case Phase::Decelerating:
                Decelerate(drive);
                break;
            case Phase::Braking:
                Brake(drive);
                break;
        }
    }

    // The q current measured over the last current-loop period counts into the open window.
    void MeasureCurrent(const DriveFirmware& firmware, Window& window) const {
        if (timing_) {
            window.current.Add(static_cast<double>(firmware.CurrentQ()));
        }
    }

    void Accelerate(SimulatedDrive& drive) {
        DriveFirmware& firmware = drive.Firmware();
        MeasureCurrent(firmware, up_);
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
        if (timing_) {
            ++up_.periods;
        } else if (speedPeriods_ >= kSettlePeriods && speed >= lowSpeed_) {
            timing_ = true;
            up_.startSpeed = speed;
        }
        if (timing_ && speed >= limit_) {
            up_.endSpeed = speed;
            StartReversing(drive);
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

    void StartReversing(SimulatedDrive& drive) {
        phase_ = Phase::Reversing;
        timing_ = false;
        speedPeriods_ = 0;
        decelerationEnd_ = period_ + longestPeriods_;
        drive.Firmware().SetCurrentReference(0, -current_);
    }

    // Once the reversed current settled, times the deceleration from the speed at which the
    // acceleration's timing ended down to the one at which it started.
    void Decelerate(SimulatedDrive& drive) {
        DriveFirmware& firmware = drive.Firmware();
        MeasureCurrent(firmware, down_);
        if (period_ >= decelerationEnd_) {
            Variable(kVerdict) = 1.0;
            Variable(kTime) = kSpeedNotReached;
            StartBraking(drive);
            return;
        }
        if (!speedLoopDue_) {
            return;
        }
        const std::int64_t speed = firmware.MotorSpeed();
        ++speedPeriods_;
        if (phase_ == Phase::Reversing) {
            if (speedPeriods_ >= kSettlePeriods && speed <= up_.endSpeed) {
                phase_ = Phase::Decelerating;
                timing_ = true;
                down_.startSpeed = speed;
            }
            return;
        }
        ++down_.periods;
        if (speed > up_.startSpeed) {
            return;
        }
        down_.endSpeed = speed;
        Report();
        StartBraking(drive);
    }

    // The time in which the test current alone would have made the acceleration's speed change.
    void Report() {
        Variable(kVerdict) = 1.0;
        Variable(kTime) = kSpeedNotReached;
        if (up_.periods <= 0 || down_.periods <= 0) {
            return;
        }
        // Both sums are of magnitudes: the deceleration's rate and current are negative.
        const double currents = up_.current.Value() - down_.current.Value();
        const double rates = up_.Rate() - down_.Rate();
        if (currents <= 0.0 || rates <= 0.0) {
            return;
        }
        const double speedChange = static_cast<double>(up_.endSpeed - up_.startSpeed);
        const double acceleration = rates * static_cast<double>(current_) / currents;
        Variable(kSpeedChange) = speedChange;
        Variable(kTime) = speedChange / acceleration;
    }

    void StartBraking(SimulatedDrive& drive) {
        phase_ = Phase::Braking;
        timing_ = false;
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
    // Whether a window is being timed, and the speed from which the acceleration's window runs.
    bool timing_ = false;
    std::int64_t lowSpeed_ = 0;
    Window up_;
    Window down_;
    std::int64_t lowestSpeed_ = 0;
    std::int64_t highestSpeed_ = 0;
    // The sign of the first speed beyond standstill; 0 until the rotor moved.
    int firstDirection_ = 0;
    std::int64_t longestPeriods_ = 1;
    std::int64_t decelerationEnd_ = 0;
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
