#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "drive/DriveFirmware.h"
#include "drive/DriveRegisters.h"
#include "drive/EncoderModel.h"
#include "drive/MotorModel.h"
#include "drive/MotorThermalModel.h"
#include "drive/PowerStage.h"

namespace drive {

class SimulatedDrive;

// Faults of the axis's wiring and hardware that a test can inject.
enum class Fault {
    DisconnectedPhaseA,  // a motor lead cut: that terminal carries no current
    DisconnectedPhaseB,
    DisconnectedPhaseC,
    SwappedPhasesBC,         // the leads of phases B and C exchanged at the motor
    MissingEncoderChannelA,  // an encoder signal pair does not reach the drive
    MissingEncoderChannelB,
    SwappedEncoderChannels,  // encoder channels A and B exchanged: the count runs backwards
    ShortCircuit,            // a short between the motor leads: the bridge's detection trips
};

// Something that runs inside the drive in step with its current loop: a test program that sets
// references and reads results, or a logger that samples variables. The drive calls every
// routine at the start of each current-loop period (before the firmware's loops, with whether
// the speed and position loops run in it) and at its end (after the physics).
class DriveRoutine {
  public:
    virtual ~DriveRoutine() = default;
    virtual void OnPeriodStart(SimulatedDrive& drive, bool speedLoopDue);
    virtual void OnPeriodEnd(const SimulatedDrive& drive);
};

// The whole simulated axis: the motor and its load, the encoder, the power stage and the
// firmware, advancing together in whole current-loop periods. Within a period the firmware
// samples at its start; its voltage applies from the middle of the first PWM period (see
// DriveHardware::stepsPerPwmPeriod) until the middle of the next current-loop period; the physics
// steps at the hardware's sub-steps of the PWM period. Everything is deterministic: the same
// motor, hardware (noise seed included), registers and calls give the same run.
class SimulatedDrive {
  public:
    SimulatedDrive(const MotorData& motor, const DriveHardware& hardware,
                   const DriveRegisters& registers);

    // Registers, as the host writes them; they take effect from the next period.
    void WriteRegisters(const DriveRegisters& registers);
    // One register by name (see SetRegister); false when the name is unknown or the value not a
    // number.
    bool WriteRegister(std::string_view name, double value);
    const DriveRegisters& Registers() const { return firmware_.Registers(); }

    // Periods, from the registers and the DSP clock.
    double PwmPeriod_s() const;
    double CurrentLoopPeriod_s() const;
    double SpeedLoopPeriod_s() const;

    // Advances by whole current-loop periods: as many as fit in the time given plus what earlier
    // calls left over, so that many short calls add up to the same run as one long one.
    void Advance(double duration_s);
    void RunCurrentLoopPeriods(std::int64_t periods);
    double Time_s() const { return time_s_; }
    std::int64_t CurrentLoopPeriodsRun() const { return periodsRun_; }

    // Routines are not owned; each stays registered until removed.
    void AddRoutine(DriveRoutine* routine);
    void RemoveRoutine(DriveRoutine* routine);

    // Power stage: switching on reads the digital inputs first and fails as the firmware says.
    bool SwitchOn();
    void SwitchOff() { firmware_.SwitchOff(); }
    bool IsOn() const { return firmware_.IsPowerOn(); }
    // The board's reset: firmware afresh, position counter from 0, power stage off; the motor
    // keeps turning as it was. With an absolute encoder that holds an offset, the firmware takes
    // its electrical angle from the encoder's position and the offset at once: the offset is the
    // encoder's position within a turn where the rotor's d axis lies on phase A.
    void ResetBoard();

    // The firmware's operations on an absolute encoder; each failure sets its CER bit.
    std::optional<std::int64_t> ReadEncoderPosition();
    std::optional<std::int64_t> ReadEncoderOffset();
    bool WriteEncoderOffset(std::int64_t offset);
    std::optional<std::int64_t> ReadEncoderAlarms();
    bool ResetEncoderAlarms();

    // The physical world around the drive.
    void SetEnableInput(bool active) { enableInput_ = active; }
    void SetLimitSwitches(bool positive, bool negative);
    void SetExternalTorque(double torque_Nm) { motor_.SetExternalTorque(torque_Nm); }
    void SetBusVoltage(double bus_V) { powerStage_.SetBusVoltage(bus_V); }
    // The absolute encoder's serial link fails (a cut cable, a faulty encoder).
    void SetEncoderLinkBroken(bool broken) { encoder_.SetLinkBroken(broken); }
    // A voltage source (a potentiometer's wiper) on the analogue reference input.
    void SetAnalogueInput(double input_V) { analogueInput_V_ = input_V; }
    // The air around the motor, and the drive's heat sink where its temperature sensor sits
    // (both 25 degrees C until set).
    void SetAmbientTemperature(double temperature_C) {
        thermal_.SetAmbientTemperature(temperature_C);
    }
    void SetDriveTemperature(double temperature_C) { driveTemperature_C_ = temperature_C; }

    // Faults stay until cleared; clearing mends the wiring and hardware but not what the faults
    // did (latched motion errors, counts the encoder missed).
    void InjectFault(Fault fault);
    void ClearFaults();

    // What an ideal start gives (a settled initial positioning, or an absolute encoder with its
    // offset stored): the firmware's electrical angle agrees with the rotor's from now on.
    void AlignElectricAngleToRotor();

    DriveFirmware& Firmware() { return firmware_; }
    const DriveFirmware& Firmware() const { return firmware_; }
    MotorModel& Motor() { return motor_; }
    const MotorModel& Motor() const { return motor_; }
    const EncoderModel& Encoder() const { return encoder_; }
    const PowerStage& Power() const { return powerStage_; }
    const MotorThermalModel& Thermal() const { return thermal_; }

  private:
    // What every period shares while the PWM period and current-loop registers stay: the
    // periods, the physics' step and the number of steps.
    struct PeriodTiming {
        bool valid = false;
        std::int64_t pwmPeriodRegister = 0;
        std::int64_t currentLoopRegister = 0;
        double pwmPeriod_s = 0.0;
        double pwmFrequency_Hz = 0.0;
        double period_s = 0.0;
        double step_s = 0.0;
        // Physics steps in the current-loop period, and those of them before the firmware's new
        // command applies (half a PWM period).
        std::int64_t steps = 0;
        std::int64_t stepsBeforeCommand = 0;
    };
    // The bridge's legs for the command last asked for, with what they were computed from.
    struct CachedLegs {
        VoltageCommand command;
        double pwmFrequency_Hz = 0.0;
        double bus_V = 0.0;
        bool valid = false;
        BridgeCommand legs;
    };

    void StartFromAbsoluteEncoder();
    const PeriodTiming& Timing();
    // PowerStage::Legs, computed again only when the command, the PWM frequency or the bus
    // changed since the last call: each period starts with the legs the last one ended with.
    const BridgeCommand& LegsFor(const VoltageCommand& command, double pwmFrequency_Hz);
    void RunOnePeriod();
    // The firmware's inputs at the period's start, the phase currents (A, B, C) being these.
    FirmwareInputs Sample(bool speedLoopDue, const std::array<double, 3>& phaseCurrents_A);
    // One physics step under the bridge's legs, from the phase currents the last step left
    // (which it updates).
    void StepPhysics(const BridgeCommand& legs, std::array<double, 3>& phaseCurrents_A,
                     double step_s);
    // Physics steps under one command's legs.
    void StepPhysics(const VoltageCommand& command, std::array<double, 3>& phaseCurrents_A,
                     std::int64_t steps);
    void SetFault(Fault fault, bool present);

    MotorModel motor_;
    MotorThermalModel thermal_;
    EncoderModel encoder_;
    PowerStage powerStage_;
    DriveFirmware firmware_;
    std::vector<DriveRoutine*> routines_;
    VoltageCommand applied_;
    PeriodTiming timing_;
    CachedLegs legs_;
    bool enableInput_ = true;
    bool positiveLimitSwitch_ = false;
    bool negativeLimitSwitch_ = false;
    double analogueInput_V_ = 0.0;
    double driveTemperature_C_;
    double time_s_ = 0.0;
    double pendingTime_s_ = 0.0;
    std::int64_t periodsRun_ = 0;
};

}  // namespace drive
