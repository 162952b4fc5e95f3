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

// First the rotor's d axis is aligned on phase A (the held current, then the damped hold under
// its voltage, as in the initial positioning), so that the program knows where the rotor is.
// Then the electric angle controller takes the control frame a quarter turn ahead of the rotor,
// where the test current pulls hardest, and the current ramps up in that frame: the controller
// must turn the frame back onto the rotor before the rotor turns onto the frame. It is judged
// against the rotor's angle at the start: a start that lets the rotor turn onto the field is not
// motionless.
class AngleControllerTuningProgram final : public HeldCurrentProgram {
  public:
    AngleControllerTuningProgram() {
        Declare(kCurrent, 0.0);
        Declare(kIncrement, 1.0);
        Declare(kHold, 0.0);
        Declare(kVerdict, 0.0);
        Declare(kGoal, 0.0);
    }
    std::string_view Name() const override { return "Angle_Controller_Tuning_Test"; }

  private:
    // The test current, the search's ramp increment a speed-loop period and its hold in
    // speed-loop periods; the verdict and the angle the controller should reach.
    static constexpr std::string_view kCurrent = "In1";
    static constexpr std::string_view kIncrement = "ReferenceIncrement";
    static constexpr std::string_view kHold = "TimeLimit";
    static constexpr std::string_view kVerdict = "test_flag";
    static constexpr std::string_view kGoal = "theta_1";
    // The verdicts "test_flag" gives, and the value the host reads as "no value" (a run cut
    // short by a protection or an input).
    static constexpr double kPassed = 1.0;
    static constexpr double kOverCurrent = -1.0;
    static constexpr double kNotStabilized = -2.0;
    static constexpr double kLowCurrent = -3.0;
    static constexpr double kNoValue = 1.2345e100;
    // The alignment: ramp, hold under current control, the window its voltage is averaged over,
    // and the damped hold under that voltage.
    static constexpr double kAlignRamp_s = 0.05;
    static constexpr double kAlignHold_s = 0.05;
    static constexpr double kAlignMeasure_s = 0.1;
    static constexpr double kDamp_s = 0.4;
    // The controller's angle counts as settled within 10 electrical degrees of the rotor's.
    static constexpr std::int64_t kTolerance = 1820;
    // The share of the hold, at its end, over which the angle must stay settled, and the longest
    // hold (2^31 speed-loop periods, weeks).
    static constexpr double kVerdictShare = 0.1;
    static constexpr std::int64_t kLongestHold = std::int64_t{1} << 31;

    enum class Phase { Aligning, Damping, Ramping, Holding, Releasing };

    void Begin(SimulatedDrive& drive) override {
        testCurrent_ = WholeInput(Variable(kCurrent), 0, fixed::kQ15Max);
        searchIncrement_ = WholeInput(Variable(kIncrement), 1, fixed::kQ15Max);
        holdPeriods_ = WholeInput(Variable(kHold), 1, kLongestHold);
        verdictPeriods_ = std::max<std::int64_t>(
            1, std::llround(kVerdictShare * static_cast<double>(holdPeriods_)));
        Variable(kVerdict) = kNoValue;
        Variable(kGoal) = kNoValue;
        voltageQ_ = Mean{};
        phase_ = Phase::Aligning;
        if (testCurrent_ <= 0) {
            Variable(kVerdict) = kLowCurrent;
            Finish(drive);
            return;
        }
        const std::int64_t rampPeriods = Periods(drive, kAlignRamp_s);
        StartCurrent(drive, 0, testCurrent_, (testCurrent_ + rampPeriods - 1) / rampPeriods,
                     kAlignHold_s, kAlignMeasure_s);
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
        if (CurrentMagnitude(firmware) > static_cast<double>(firmware.Registers().IMAXPROT)) {
            Variable(kVerdict) = kOverCurrent;
            logging_ = false;
            Finish(drive);
            return;
        }
        switch (phase_) {
            case Phase::Aligning: {
                const bool aligned = StepCurrent(drive);
                // The host logs the search only.
                logging_ = false;
                if (aligned) {
                    firmware.SetLoopMode(LoopMode::VoltageOpenLoop);
                    firmware.SetVoltageCommand(0, std::llround(voltageQ_.Value()));
                    dampEnd_ = period_ + Periods(drive, kDamp_s);
                    phase_ = Phase::Damping;
                }
                return;
            }
            case Phase::Damping:
                if (period_ + 1 >= dampEnd_) {
                    StartSearch(firmware);
                }
                return;
            case Phase::Ramping:
            case Phase::Holding:
            case Phase::Releasing:
                if (speedLoopDue_) {
                    Search(drive);
                }
                return;
        }
    }

    void Measure(const DriveFirmware& firmware) override {
        voltageQ_.Add(static_cast<double>(firmware.VoltageQ()));
    }

    void StartSearch(DriveFirmware& firmware) {
        // The rotor's d axis lies on phase A: the encoder's angle is referenced there.
        firmware.SetElectricAngleReference(0);
        firmware.SetLoopMode(LoopMode::Current);
        firmware.StartAngleController(kHoldAngle + kQuarterTurn);
        firmware.SetCurrentReference(0, 0);
        reference_ = 0;
        startRotorAngle_ = firmware.RotorElectricAngle();
        // The frame whose q axis lies on the rotor's d axis: there the current makes no torque.
        goal_ = fixed::WrapAngle(startRotorAngle_ - kQuarterTurn);
        moved_ = false;
        settled_ = true;
        heldPeriods_ = 0;
        logging_ = true;
        phase_ = Phase::Ramping;
    }

    // One speed-loop period of the search.
    void Search(SimulatedDrive& drive) {
        DriveFirmware& firmware = drive.Firmware();
        moved_ = moved_ || firmware.RotorElectricAngle() != startRotorAngle_;
        const std::int64_t deviation = fixed::WrapAngle(firmware.ElectricAngle() - goal_);
        switch (phase_) {
            case Phase::Ramping:
                reference_ = std::min(testCurrent_, reference_ + searchIncrement_);
                if (reference_ == testCurrent_) {
                    phase_ = Phase::Holding;
                }
                break;
            case Phase::Holding:
                ++heldPeriods_;
                if (heldPeriods_ > holdPeriods_ - verdictPeriods_) {
                    settled_ = settled_ && std::abs(deviation) <= kTolerance;
                }
                if (heldPeriods_ >= holdPeriods_) {
                    Variable(kGoal) = static_cast<double>(goal_);
                    verdict_ = !moved_ ? kLowCurrent : settled_ ? kPassed : kNotStabilized;
                    phase_ = Phase::Releasing;
                }
                break;
            case Phase::Releasing:
                reference_ = std::max<std::int64_t>(0, reference_ - searchIncrement_);
                if (reference_ == 0) {
                    Variable(kVerdict) = verdict_;
                    logging_ = false;
                    Finish(drive);
                    return;
                }
                break;
            case Phase::Aligning:
            case Phase::Damping:
                break;
        }
        firmware.SetCurrentReference(0, reference_);
    }

    Phase phase_ = Phase::Aligning;
    bool speedLoopDue_ = false;
    std::int64_t testCurrent_ = 0;
    std::int64_t searchIncrement_ = 1;
    std::int64_t holdPeriods_ = 1;
    std::int64_t verdictPeriods_ = 1;
    std::int64_t dampEnd_ = 0;
    std::int64_t reference_ = 0;
    std::int64_t heldPeriods_ = 0;
    std::int64_t startRotorAngle_ = 0;
    std::int64_t goal_ = 0;
    bool moved_ = false;
    bool settled_ = true;
    double verdict_ = kNotStabilized;
    Mean voltageQ_;
};

}  // namespace

std::unique_ptr<TestProgram> MakeAngleControllerTuningTest() {
    return std::make_unique<AngleControllerTuningProgram>();
}

}  // namespace drive
