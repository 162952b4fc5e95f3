#include "drive/SimulatedDrive.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace drive {

namespace {

// The PWM period register counts DSP clocks per half period.
constexpr double kHalfPeriodsPerPwmPeriod = 2.0;
// Whole periods are counted with this much tolerance, so that a duration computed as n periods
// runs n periods even when rounding left it a hair short.
constexpr double kPeriodTolerance = 1e-9;
// The drive's heat sink until the world says otherwise.
constexpr double kRoomTemperature_C = 25.0;

}  // namespace

void DriveRoutine::OnPeriodStart(SimulatedDrive&, bool) {}
void DriveRoutine::OnPeriodEnd(const SimulatedDrive&) {}

SimulatedDrive::SimulatedDrive(const MotorData& motor, const DriveHardware& hardware,
                               const DriveRegisters& registers)
    : motor_(motor),
      thermal_(motor.thermal),
      encoder_(motor.encoder, hardware.interpolationBits),
      powerStage_(hardware),
      firmware_(registers, encoder_.InterpolationBits()),
      driveTemperature_C_(kRoomTemperature_C) {
    firmware_.Reset(encoder_.Read(motor_.ShaftAngle_rad()));
}

void SimulatedDrive::WriteRegisters(const DriveRegisters& registers) {
    firmware_.Configure(registers);
}

bool SimulatedDrive::WriteRegister(std::string_view name, double value) {
    DriveRegisters registers = firmware_.Registers();
    if (!SetRegister(registers, name, value)) {
        return false;
    }
    firmware_.Configure(registers);
    return true;
}

double SimulatedDrive::PwmPeriod_s() const {
    const auto halfPeriod = static_cast<double>(std::max<std::int64_t>(Registers().PWMPER, 1));
    return kHalfPeriodsPerPwmPeriod * halfPeriod / powerStage_.Hardware().dspClock_Hz;
}

double SimulatedDrive::CurrentLoopPeriod_s() const {
    return PwmPeriod_s() * static_cast<double>(std::max<std::int64_t>(Registers().CLPER, 1));
}

double SimulatedDrive::SpeedLoopPeriod_s() const {
    return PwmPeriod_s() * static_cast<double>(std::max<std::int64_t>(Registers().SLPER, 1));
}

void SimulatedDrive::Advance(double duration_s) {
    if (!std::isfinite(duration_s) || duration_s <= 0.0) {
        return;
    }
    pendingTime_s_ += duration_s;
    const double period_s = CurrentLoopPeriod_s();
    const auto periods =
        static_cast<std::int64_t>(std::floor(pendingTime_s_ / period_s + kPeriodTolerance));
    pendingTime_s_ = std::max(0.0, pendingTime_s_ - static_cast<double>(periods) * period_s);
    RunCurrentLoopPeriods(periods);
}

void SimulatedDrive::RunCurrentLoopPeriods(std::int64_t periods) {
    for (std::int64_t period = 0; period < periods; ++period) {
        RunOnePeriod();
    }
}

void SimulatedDrive::AddRoutine(DriveRoutine* routine) {
    if (routine != nullptr &&
        std::find(routines_.begin(), routines_.end(), routine) == routines_.end()) {
        routines_.push_back(routine);
    }
}

void SimulatedDrive::RemoveRoutine(DriveRoutine* routine) {
    // Cleared rather than erased: a routine may remove itself while the drive walks the list.
    std::replace(routines_.begin(), routines_.end(), routine, static_cast<DriveRoutine*>(nullptr));
}

bool SimulatedDrive::SwitchOn() {
    firmware_.ReadDigitalInputs(enableInput_, positiveLimitSwitch_, negativeLimitSwitch_);
    return firmware_.SwitchOn();
}

void SimulatedDrive::ResetBoard() {
    firmware_.Reset(encoder_.Read(motor_.ShaftAngle_rad()));
    applied_ = {};
    StartFromAbsoluteEncoder();
}

void SimulatedDrive::StartFromAbsoluteEncoder() {
    if (!encoder_.IsAbsolute()) {
        return;
    }
    const std::optional<std::int64_t> offset = encoder_.ReadOffset();
    const std::optional<std::int64_t> position =
        encoder_.ReadAbsolutePosition(motor_.ShaftAngle_rad());
    if (!offset || !position) {
        return;
    }
    // The count, at or behind the present one, at which the encoder read the offset.
    const std::int64_t turn = encoder_.CountsPerTurn();
    const std::int64_t past = ((*position - *offset) % turn + turn) % turn;
    const std::int64_t countAtOffset = encoder_.Read(motor_.ShaftAngle_rad()) - past;
    firmware_.SetElectricAngleAt(firmware_.PositionOfCount(countAtOffset), 0);
}

std::optional<std::int64_t> SimulatedDrive::ReadEncoderPosition() {
    return encoder_.ReadAbsolutePosition(motor_.ShaftAngle_rad());
}

std::optional<std::int64_t> SimulatedDrive::ReadEncoderOffset() {
    const std::optional<std::int64_t> offset = encoder_.ReadOffset();
    if (!offset) {
        firmware_.RaiseEncoderError(cer::kOffsetReadBit);
    }
    return offset;
}

bool SimulatedDrive::WriteEncoderOffset(std::int64_t offset) {
    if (!encoder_.WriteOffset(offset)) {
        firmware_.RaiseEncoderError(cer::kOffsetWriteBit);
        return false;
    }
    return true;
}

std::optional<std::int64_t> SimulatedDrive::ReadEncoderAlarms() {
    const std::optional<std::int64_t> alarms = encoder_.ReadAlarms();
    if (!alarms) {
        firmware_.RaiseEncoderError(cer::kAlarmReadBit);
    }
    return alarms;
}

bool SimulatedDrive::ResetEncoderAlarms() {
    if (!encoder_.ResetAlarms()) {
        firmware_.RaiseEncoderError(cer::kAlarmResetBit);
        return false;
    }
    return true;
}

void SimulatedDrive::SetLimitSwitches(bool positive, bool negative) {
    positiveLimitSwitch_ = positive;
    negativeLimitSwitch_ = negative;
}

void SimulatedDrive::InjectFault(Fault fault) {
    SetFault(fault, true);
}

void SimulatedDrive::ClearFaults() {
    for (const Fault fault :
         {Fault::DisconnectedPhaseA, Fault::DisconnectedPhaseB, Fault::DisconnectedPhaseC,
          Fault::SwappedPhasesBC, Fault::MissingEncoderChannelA, Fault::MissingEncoderChannelB,
          Fault::SwappedEncoderChannels, Fault::ShortCircuit}) {
        SetFault(fault, false);
    }
}

void SimulatedDrive::SetFault(Fault fault, bool present) {
    TerminalWiring wiring = motor_.Wiring();
    switch (fault) {
        case Fault::DisconnectedPhaseA:
            wiring.open[0] = present;
            break;
        case Fault::DisconnectedPhaseB:
            wiring.open[1] = present;
            break;
        case Fault::DisconnectedPhaseC:
            wiring.open[2] = present;
            break;
        case Fault::SwappedPhasesBC:
            wiring.swappedBC = present;
            break;
        case Fault::MissingEncoderChannelA:
            encoder_.SetChannelConnected(EncoderChannel::A, !present, motor_.ShaftAngle_rad());
            return;
        case Fault::MissingEncoderChannelB:
            encoder_.SetChannelConnected(EncoderChannel::B, !present, motor_.ShaftAngle_rad());
            return;
        case Fault::SwappedEncoderChannels:
            encoder_.SetChannelsSwapped(present, motor_.ShaftAngle_rad());
            return;
        case Fault::ShortCircuit:
            powerStage_.SetShortCircuit(present);
            return;
    }
    motor_.SetWiring(wiring);
}

void SimulatedDrive::AlignElectricAngleToRotor() {
    const double turns = motor_.ElectricalAngle_rad() / (2.0 * std::numbers::pi);
    const auto angle = static_cast<std::int64_t>(
        std::llround((turns - std::floor(turns)) * static_cast<double>(fixed::kAngleTurn)));
    firmware_.SetElectricAngleReference(angle);
}

// Sample, Timing and LegsFor are inline: each runs once or twice in every period, which is short
// enough for a call's cost to show.
inline FirmwareInputs SimulatedDrive::Sample(bool speedLoopDue,
                                             const std::array<double, 3>& phaseCurrents_A) {
    FirmwareInputs inputs;
    inputs.encoderCount = encoder_.Read(motor_.ShaftAngle_rad());
    inputs.phaseCurrents = powerStage_.MeasurePhaseCurrents(phaseCurrents_A);
    inputs.busVoltage = powerStage_.MeasureBusVoltage();
    if (firmware_.ConvertsAnalogueInput()) {
        inputs.analogueInput = powerStage_.MeasureAnalogueInput(analogueInput_V_);
    }
    if (speedLoopDue) {
        inputs.motorTemperatureSensor = powerStage_.MeasureShareOfFullScale(thermal_.SensorShare());
        inputs.driveTemperatureSensor = powerStage_.MeasureDriveTemperature(driveTemperature_C_);
    }
    inputs.enableInput = enableInput_;
    inputs.positiveLimitSwitch = positiveLimitSwitch_;
    inputs.negativeLimitSwitch = negativeLimitSwitch_;
    return inputs;
}

inline const SimulatedDrive::PeriodTiming& SimulatedDrive::Timing() {
    const DriveRegisters& registers = Registers();
    if (timing_.valid && registers.PWMPER == timing_.pwmPeriodRegister &&
        registers.CLPER == timing_.currentLoopRegister) {
        return timing_;
    }
    timing_.valid = true;
    timing_.pwmPeriodRegister = registers.PWMPER;
    timing_.currentLoopRegister = registers.CLPER;
    timing_.pwmPeriod_s = PwmPeriod_s();
    timing_.pwmFrequency_Hz = 1.0 / timing_.pwmPeriod_s;
    const int stepsPerPwmPeriod = std::max(2, powerStage_.Hardware().stepsPerPwmPeriod / 2 * 2);
    timing_.step_s = timing_.pwmPeriod_s / stepsPerPwmPeriod;
    const std::int64_t pwmPeriods = std::max<std::int64_t>(registers.CLPER, 1);
    timing_.period_s = timing_.pwmPeriod_s * static_cast<double>(pwmPeriods);
    timing_.steps = stepsPerPwmPeriod * pwmPeriods;
    timing_.stepsBeforeCommand = stepsPerPwmPeriod / 2;
    return timing_;
}

inline const BridgeCommand& SimulatedDrive::LegsFor(const VoltageCommand& command,
                                                    double pwmFrequency_Hz) {
    const double bus_V = powerStage_.Hardware().busVoltage_V;
    if (!legs_.valid || command.alpha != legs_.command.alpha ||
        command.beta != legs_.command.beta || pwmFrequency_Hz != legs_.pwmFrequency_Hz ||
        bus_V != legs_.bus_V) {
        legs_.command = command;
        legs_.pwmFrequency_Hz = pwmFrequency_Hz;
        legs_.bus_V = bus_V;
        legs_.valid = true;
        legs_.legs = powerStage_.Legs(command, pwmFrequency_Hz);
    }
    return legs_.legs;
}

// Inline: twice a period, for a step or two each.
inline void SimulatedDrive::StepPhysics(const VoltageCommand& command,
                                        std::array<double, 3>& phaseCurrents_A,
                                        std::int64_t steps) {
    // Nothing in the steps asks for other legs: these hold until the last step.
    const BridgeCommand& legs = LegsFor(command, timing_.pwmFrequency_Hz);
    for (std::int64_t step = 0; step < steps; ++step) {
        StepPhysics(legs, phaseCurrents_A, timing_.step_s);
    }
}

void SimulatedDrive::RunOnePeriod() {
    const bool speedLoopDue = firmware_.IsSpeedLoopDue();
    for (std::size_t index = 0; index < routines_.size(); ++index) {
        if (routines_[index] != nullptr) {
            routines_[index]->OnPeriodStart(*this, speedLoopDue);
        }
    }
    // Asked again when a routine ran: it may have changed the loop periods.
    const bool sampleSpeedLoop = routines_.empty() ? speedLoopDue : firmware_.IsSpeedLoopDue();
    std::array<double, 3> phaseCurrents_A = motor_.PhaseCurrents_A();
    const VoltageCommand next = firmware_.Step(Sample(sampleSpeedLoop, phaseCurrents_A));

    // Nothing below changes the registers or the bus: the timing holds for the whole period.
    const PeriodTiming& timing = Timing();
    StepPhysics(applied_, phaseCurrents_A, timing.stepsBeforeCommand);
    applied_ = next;
    StepPhysics(applied_, phaseCurrents_A, timing.steps - timing.stepsBeforeCommand);
    thermal_.Step(motor_.CopperLosses_W(), timing.period_s);
    time_s_ += timing.period_s;
    ++periodsRun_;

    for (std::size_t index = 0; index < routines_.size(); ++index) {
        if (routines_[index] != nullptr) {
            routines_[index]->OnPeriodEnd(*this);
        }
    }
    std::erase(routines_, static_cast<DriveRoutine*>(nullptr));
}

void SimulatedDrive::StepPhysics(const BridgeCommand& legs, std::array<double, 3>& phaseCurrents_A,
                                 double step_s) {
    if (!firmware_.IsPowerOn()) {
        applied_ = {};
        motor_.StepOpenCircuit(step_s);
        phaseCurrents_A = motor_.PhaseCurrents_A();
        return;
    }
    motor_.Step(PowerStage::PhaseVoltages(legs, phaseCurrents_A), step_s);
    phaseCurrents_A = motor_.PhaseCurrents_A();
    if (powerStage_.DetectsShortCircuit(phaseCurrents_A)) {
        firmware_.TripShortCircuit();
    }
}

}  // namespace drive
