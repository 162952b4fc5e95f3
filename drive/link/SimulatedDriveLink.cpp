#include "drive/link/SimulatedDriveLink.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "drive/DriveRegisters.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/ui/headless/HeadlessBackend.h"

namespace drive {

namespace {

// The firmware's start-up after a board reset, before it reports the end of its initialisation.
constexpr double kBoardStartup_s = 0.05;
constexpr double kMillisecondsPerSecond = 1000.0;

using Getter = double (*)(const SimulatedDrive& drive);

struct MappedVariable {
    const char* name;
    Getter get;
};

double Position(const SimulatedDrive& d) {
    return static_cast<double>(d.Firmware().MotorPosition());
}
double Speed(const SimulatedDrive& d) {
    return static_cast<double>(d.Firmware().MotorSpeed());
}
double CurrentQ(const SimulatedDrive& d) {
    return static_cast<double>(d.Firmware().CurrentQ());
}
double SpeedReference(const SimulatedDrive& d) {
    return static_cast<double>(d.Firmware().SpeedReference());
}

// The drive variables the firmware holds, by the names the host reads them with.
constexpr MappedVariable kMappedVariables[] = {
    {"APOS", Position},
    {"Load_Position", Position},
    {"Motor_Position", Position},
    {"ASPD", Speed},
    {"Load_Speed", Speed},
    {"Motor_Speed", Speed},
    {"Target_Position",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().PositionReference()); }},
    {"Position_Error",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().PositionError()); }},
    {"Speed_Reference", SpeedReference},
    {"SPDREF", SpeedReference},
    {"IQ", CurrentQ},
    {"Motor_Current", CurrentQ},
    {"ID", [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().CurrentD()); }},
    {"Current_Reference",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().CurrentReferenceQ()); }},
    {"Voltage_Reference",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().VoltageQ()); }},
    {"THTST",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().TestAngle()); }},
    {"TINCTST",
     [](const SimulatedDrive& d) {
         return static_cast<double>(d.Firmware().TestAngleIncrement());
     }},
    {"Electric_Angle",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().ElectricAngle()); }},
    {"MER",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().MotionErrors()); }},
    {"CER",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().EncoderErrors()); }},
    {"MSR",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().MotionStatus()); }},
    {"AD5",
     [](const SimulatedDrive& d) { return static_cast<double>(d.Firmware().AnalogueInput()); }},
};

const MappedVariable* FindMapped(std::string_view name) {
    for (const MappedVariable& variable : kMappedVariables) {
        if (qel::EqualsIgnoringCase(variable.name, name)) {
            return &variable;
        }
    }
    return nullptr;
}

// The drive variables the host may write as commands to the firmware.
bool WriteFirmwareVariable(SimulatedDrive& drive, std::string_view name, double value) {
    const auto integer = static_cast<std::int64_t>(value);
    DriveFirmware& firmware = drive.Firmware();
    if (qel::EqualsIgnoringCase(name, "THTST")) {
        firmware.SetTestAngle(integer);
    } else if (qel::EqualsIgnoringCase(name, "TINCTST")) {
        firmware.SetTestAngleIncrement(integer);
    } else if (qel::EqualsIgnoringCase(name, "Target_Position")) {
        firmware.SetPositionReference(integer);
    } else if (qel::EqualsIgnoringCase(name, "Speed_Reference") ||
               qel::EqualsIgnoringCase(name, "SPDREF")) {
        firmware.SetSpeedReference(integer);
    } else {
        return false;
    }
    return true;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

}  // namespace

// The drive's logger: samples its variables after the physics of the periods its log type and
// period select, while the program says its values are meaningful, until it holds its points.
class SimulatedDriveLink::Logger : public DriveRoutine {
  public:
    Logger(const SimulatedDriveLink& link, qel::LogSettings settings, double start_s)
        : link_(link), settings_(std::move(settings)), start_s_(start_s) {}

    void OnPeriodStart(SimulatedDrive& /*drive*/, bool speedLoopDue) override {
        due_ = settings_.type == qel::LogType::CurrentLoop || speedLoopDue;
    }

    void OnPeriodEnd(const SimulatedDrive& drive) override {
        if (!due_ || link_.program_ == nullptr || !link_.program_->IsLogging() ||
            points_.size() >= static_cast<std::size_t>(settings_.points)) {
            return;
        }
        if (periodsToSample_ > 0) {
            --periodsToSample_;
            return;
        }
        periodsToSample_ = settings_.period - 1;
        qel::LoggedPoint point{drive.Time_s() - start_s_, {}};
        for (const std::string& name : settings_.variables) {
            point.values.push_back(link_.LookUp(name).value_or(0.0));
        }
        points_.push_back(std::move(point));
    }

    const std::vector<qel::LoggedPoint>& Points() const { return points_; }

  private:
    const SimulatedDriveLink& link_;
    qel::LogSettings settings_;
    double start_s_;
    bool due_ = false;
    int periodsToSample_ = 0;
    std::vector<qel::LoggedPoint> points_;
};

// The drive's scope: samples its variables every duration / points, keeps the pre-trigger
// share of points in a ring until the trigger variable crosses its level on its slope (the
// trigger is armed once the ring is full), then acquires the rest and sends the points as scope
// frames while it goes; a repeated acquisition re-arms after its last frame.
class SimulatedDriveLink::Scope : public DriveRoutine {
  public:
    Scope(SimulatedDriveLink& link, qel::LogSettings settings, double currentLoopPeriod_s)
        : link_(link),
          settings_(std::move(settings)),
          trigger_(*settings_.scope),
          samplePeriods_(std::max<std::int64_t>(
              1, std::llround(trigger_.duration_s / settings_.points / currentLoopPeriod_s))),
          beforeTrigger_(
              static_cast<std::size_t>(settings_.points * trigger_.preTrigger_percent / kPercent)) {
    }

    void OnPeriodEnd(const SimulatedDrive& /*drive*/) override {
        if (done_) {
            return;
        }
        if (periodsToSample_ > 0) {
            --periodsToSample_;
            return;
        }
        periodsToSample_ = samplePeriods_ - 1;
        std::vector<double> sample;
        for (const std::string& name : settings_.variables) {
            sample.push_back(link_.LookUp(name).value_or(0.0));
        }
        if (triggered_) {
            acquired_.push_back(std::move(sample));
        } else {
            const bool fires = Fires();
            if (!fires) {
                pending_.push_back(std::move(sample));
                if (pending_.size() > beforeTrigger_) {
                    pending_.erase(pending_.begin());
                }
                return;
            }
            triggered_ = true;
            acquired_ = std::move(pending_);
            pending_.clear();
            acquired_.push_back(std::move(sample));
        }
        const bool complete = acquired_.size() >= static_cast<std::size_t>(settings_.points);
        Send(complete);
        if (complete) {
            acquired_.clear();
            sent_ = 0;
            triggered_ = false;
            havePrevious_ = false;
            done_ = trigger_.mode != qel::TriggerMode::Repeated;
        }
    }

  private:
    // Points per scope frame.
    static constexpr std::size_t kPointsPerFrame = 20;
    static constexpr int kPercent = 100;
    // The axis the frames come from.
    static constexpr std::uint16_t kAxis = 1;

    bool Fires() {
        if (trigger_.mode == qel::TriggerMode::Untriggered) {
            return pending_.size() >= beforeTrigger_;
        }
        const double value = link_.LookUp(trigger_.variable).value_or(0.0);
        const bool crossed =
            havePrevious_ &&
            (trigger_.rising ? previous_ < trigger_.level && value >= trigger_.level
                             : previous_ > trigger_.level && value <= trigger_.level);
        previous_ = value;
        havePrevious_ = true;
        return crossed && pending_.size() >= beforeTrigger_;
    }

    // Sends every full frame of unsent points, and with the last the rest.
    void Send(bool last) {
        while (acquired_.size() - sent_ >= kPointsPerFrame || (last && sent_ < acquired_.size())) {
            const std::size_t count = std::min(kPointsPerFrame, acquired_.size() - sent_);
            const bool lastFrame = last && sent_ + count == acquired_.size();
            std::vector<std::uint16_t> words{
                0,
                kAxis,
                qel::kScopeFrameCode,
                lastFrame ? qel::kScopeLastFrameFlag : std::uint16_t{0},
                static_cast<std::uint16_t>(sent_),
                static_cast<std::uint16_t>(count)};
            for (std::size_t point = sent_; point < sent_ + count; ++point) {
                for (const double value : acquired_[point]) {
                    const auto bits =
                        static_cast<std::uint32_t>(static_cast<std::int32_t>(std::llround(value)));
                    words.push_back(static_cast<std::uint16_t>(bits & 0xFFFFu));
                    words.push_back(static_cast<std::uint16_t>(bits >> 16));
                }
            }
            words[0] = static_cast<std::uint16_t>(words.size() - qel::kScopeFrameHeaderBytes / 2);
            qel::UnsolicitedMessage message;
            for (const std::uint16_t word : words) {
                message.push_back(static_cast<std::uint8_t>(word & 0xFFu));
                message.push_back(static_cast<std::uint8_t>(word >> 8));
            }
            link_.PostUnsolicitedMessage(std::move(message));
            sent_ += count;
        }
    }

    SimulatedDriveLink& link_;
    qel::LogSettings settings_;
    qel::ScopeTrigger trigger_;
    std::int64_t samplePeriods_;
    std::size_t beforeTrigger_;
    std::int64_t periodsToSample_ = 0;
    std::vector<std::vector<double>> pending_;
    std::vector<std::vector<double>> acquired_;
    std::size_t sent_ = 0;
    bool triggered_ = false;
    bool havePrevious_ = false;
    double previous_ = 0.0;
    bool done_ = false;
};

SimulatedDriveLink::SimulatedDriveLink(SimulatedDrive& drive, ProgramFactory factory)
    : drive_(drive),
      factory_(std::move(factory)),
      resetTime_s_(drive.Time_s() - kBoardStartup_s),
      clockToken_(std::make_shared<SimulatedDriveLink*>(this)) {}

SimulatedDriveLink::~SimulatedDriveLink() {
    *clockToken_ = nullptr;
    EndProgram();
}

bool SimulatedDriveLink::Fail(std::string text) {
    lastError_ = std::move(text);
    return false;
}

bool SimulatedDriveLink::InjectedFailure(LinkCall call, std::string_view name) {
    if (!broken_ && breakAt_ && breakAt_->call == call) {
        broken_ = true;
    }
    if (broken_) {
        lastError_ = breakAt_->text;
        return true;
    }
    const auto injected = std::find_if(injected_.begin(), injected_.end(), [&](const auto& error) {
        return error.call == call &&
               (error.name.empty() || qel::EqualsIgnoringCase(error.name, name));
    });
    if (injected == injected_.end()) {
        return false;
    }
    lastError_ = injected->text;
    injected_.erase(injected);
    return true;
}

void SimulatedDriveLink::InjectError(LinkCall call, std::string errorText, std::string name) {
    injected_.push_back({call, std::move(name), std::move(errorText)});
}

void SimulatedDriveLink::BreakAt(LinkCall call, std::string errorText) {
    breakAt_ = InjectedError{call, {}, std::move(errorText)};
}

void SimulatedDriveLink::PostUnsolicitedMessage(qel::UnsolicitedMessage message) {
    messages_.push_back(std::move(message));
}

std::optional<double> SimulatedDriveLink::LookUp(std::string_view name) const {
    if (const MappedVariable* mapped = FindMapped(name)) {
        return mapped->get(drive_);
    }
    if (const auto registerValue = GetRegister(drive_.Registers(), name)) {
        return static_cast<double>(*registerValue);
    }
    if (program_) {
        if (const auto programValue = program_->GetDriveVariable(name)) {
            return programValue;
        }
    }
    for (const auto& [memoryName, value] : memory_) {
        if (qel::EqualsIgnoringCase(memoryName, name)) {
            return value;
        }
    }
    return std::nullopt;
}

bool SimulatedDriveLink::ReadValue(std::string_view name, double& internalValue) {
    if (InjectedFailure(LinkCall::ReadValue, name)) {
        return false;
    }
    const std::optional<double> value = LookUp(name);
    if (!value) {
        return Fail("The drive has no variable " + Quoted(name) + ".");
    }
    internalValue = *value;
    return true;
}

bool SimulatedDriveLink::WriteValue(std::string_view name, double internalValue) {
    if (InjectedFailure(LinkCall::WriteValue, name)) {
        return false;
    }
    if (WriteFirmwareVariable(drive_, name, internalValue)) {
        return true;
    }
    if (GetRegister(drive_.Registers(), name)) {
        return drive_.WriteRegister(name, internalValue) ||
               Fail("The drive refused the value of " + Quoted(name) + ".");
    }
    if (program_ && (program_->WriteDriveVariable(name, internalValue) ||
                     program_->SetVariable(name, internalValue))) {
        return true;
    }
    const auto stored = std::find_if(memory_.begin(), memory_.end(), [&](const auto& entry) {
        return qel::EqualsIgnoringCase(entry.first, name);
    });
    if (stored == memory_.end()) {
        memory_.emplace_back(name, internalValue);
    } else {
        stored->second = internalValue;
    }
    return true;
}

void SimulatedDriveLink::EndProgram() {
    if (program_) {
        if (program_->IsRunning()) {
            program_->Stop(drive_);
        }
        drive_.RemoveRoutine(program_.get());
    }
    if (logger_) {
        drive_.RemoveRoutine(logger_.get());
    }
    if (scope_) {
        drive_.RemoveRoutine(scope_.get());
    }
}

bool SimulatedDriveLink::DownloadAndStart(const qel::ProgramImage& image,
                                          const qel::LogSettings* log) {
    if (InjectedFailure(LinkCall::DownloadAndStart, image.name)) {
        return false;
    }
    std::unique_ptr<TestProgram> program = factory_ ? factory_(image.name) : nullptr;
    if (!program) {
        return Fail("The drive has no program " + Quoted(image.name) + ".");
    }
    for (const auto& [name, value] : image.variables) {
        if (!program->SetVariable(name, value)) {
            return Fail("The program " + Quoted(image.name) + " on the drive has no variable " +
                        Quoted(name) + ".");
        }
    }
    if (log != nullptr) {
        for (const std::string& name : log->variables) {
            if (!LookUp(name)) {
                return Fail("The drive cannot log " + Quoted(name) + ": it has no such variable.");
            }
        }
    }
    if (log != nullptr && log->scope &&
        (log->points < 1 || !(log->scope->duration_s > 0.0) ||
         (log->scope->mode != qel::TriggerMode::Untriggered && !LookUp(log->scope->variable)))) {
        return Fail("The drive's scope cannot acquire " + std::to_string(log->points) +
                    " points over " + std::to_string(log->scope->duration_s) + " s triggered by " +
                    Quoted(log->scope->variable) + ".");
    }
    EndProgram();
    logger_.reset();
    scope_.reset();
    program_ = std::move(program);
    if (log != nullptr && log->scope) {
        scope_ = std::make_unique<Scope>(*this, *log, drive_.CurrentLoopPeriod_s());
        drive_.AddRoutine(scope_.get());
    } else if (log != nullptr) {
        logger_ = std::make_unique<Logger>(*this, *log, drive_.Time_s());
        drive_.AddRoutine(logger_.get());
    }
    program_->Start(drive_);
    return true;
}

bool SimulatedDriveLink::WriteProgramVariable(std::string_view program, std::string_view name,
                                              double value) {
    if (InjectedFailure(LinkCall::WriteProgramVariable, name)) {
        return false;
    }
    if (!program_ || !qel::EqualsIgnoringCase(program_->Name(), program)) {
        return Fail("The program " + Quoted(program) + " is not on the drive.");
    }
    return program_->SetVariable(name, value) ||
           Fail("The program " + Quoted(program) + " has no variable " + Quoted(name) + ".");
}

bool SimulatedDriveLink::ReadProgramVariable(std::string_view program, std::string_view name,
                                             double& value) {
    if (InjectedFailure(LinkCall::ReadProgramVariable, name)) {
        return false;
    }
    if (!program_ || !qel::EqualsIgnoringCase(program_->Name(), program)) {
        return Fail("The program " + Quoted(program) + " is not on the drive.");
    }
    const std::optional<double> found = program_->GetVariable(name);
    if (!found) {
        return Fail("The program " + Quoted(program) + " has no variable " + Quoted(name) + ".");
    }
    value = *found;
    return true;
}

bool SimulatedDriveLink::ReadAxisOn(bool& on) {
    if (InjectedFailure(LinkCall::ReadAxisOn, {})) {
        return false;
    }
    on = drive_.IsOn();
    return true;
}

bool SimulatedDriveLink::ReadEndOfInitialisation(bool& done) {
    if (InjectedFailure(LinkCall::ReadEndOfInitialisation, {})) {
        return false;
    }
    done = drive_.Time_s() - resetTime_s_ >= kBoardStartup_s;
    return true;
}

bool SimulatedDriveLink::StopProgram() {
    if (broken_) {
        return Fail(breakAt_->text);
    }
    EndProgram();
    return true;
}

bool SimulatedDriveLink::ResetBoard() {
    if (InjectedFailure(LinkCall::ResetBoard, {})) {
        return false;
    }
    EndProgram();
    program_.reset();
    logger_.reset();
    scope_.reset();
    memory_.clear();
    drive_.ResetBoard();
    resetTime_s_ = drive_.Time_s();
    return true;
}

bool SimulatedDriveLink::UploadLog(std::vector<qel::LoggedPoint>& points) {
    if (InjectedFailure(LinkCall::UploadLog, {})) {
        return false;
    }
    if (!logger_) {
        return Fail("No program has been started with the logger.");
    }
    points = logger_->Points();
    return true;
}

std::vector<qel::UnsolicitedMessage> SimulatedDriveLink::TakeUnsolicitedMessages() {
    if (broken_) {
        messages_.clear();
        return {};
    }
    return std::exchange(messages_, {});
}

void SimulatedDriveLink::Advance(double duration_s) {
    drive_.Advance(duration_s);
}

void SimulatedDriveLink::AttachToClock(ui::headless::HeadlessBackend& backend) {
    backend.AddClockListener([token = clockToken_](std::uint64_t from_ms, std::uint64_t to_ms) {
        if (*token != nullptr) {
            (*token)->Advance(static_cast<double>(to_ms - from_ms) / kMillisecondsPerSecond);
        }
    });
}

}  // namespace drive
