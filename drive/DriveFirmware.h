#pragma once

#include <array>
#include <cstdint>

#include "drive/Biquad.h"
#include "drive/DriveRegisters.h"
#include "drive/FixedPoint.h"
#include "drive/PowerStage.h"

namespace drive {

// Which loops the firmware closes. Position control is a PID on the current reference, or a PI
// on the speed reference of the speed loop when ACR bit 9 is set with it.
enum class LoopMode {
    VoltageOpenLoop,  // the voltage command is given directly, in the control frame
    Current,          // the current loop follows the current references
    Speed,            // the speed loop feeds the current loop
    Position,         // the position loop feeds the speed or the current loop
};

// The frame in which the currents are controlled: the rotor's, from the encoder; the test angle
// THTST (advancing by TINCTST every current-loop period), for the tests that move the field
// themselves; or the angle the electric angle controller of the motionless start turns.
enum class AngleSource { Encoder, TestAngle, AngleController };

// Where the loops take their reference from: the host's or a program's commands, or the
// analogue reference input (ACR bit 6, when no program has taken the loops over).
enum class ReferenceSource { Host, AnalogueInput };

// Bits of the motion-error register MER.
namespace mer {
// Over-current protection or the bridge's short-circuit detection (latched).
inline constexpr int kShortCircuitBit = 1;
// Position or speed error beyond its limit for longer than allowed (latched).
inline constexpr int kControlErrorBit = 3;
// Limit switch inputs (state).
inline constexpr int kPositiveLimitSwitchBit = 6;
inline constexpr int kNegativeLimitSwitchBit = 7;
// I2t protections of the motor and of the drive (latched).
inline constexpr int kMotorI2tBit = 8;
inline constexpr int kDriveI2tBit = 9;
// DC-bus voltage protections (latched).
inline constexpr int kOverVoltageBit = 10;
inline constexpr int kUnderVoltageBit = 11;
// Temperature protections of the motor (its sensor) and of the drive (latched).
inline constexpr int kMotorOverTemperatureBit = 12;
inline constexpr int kDriveOverTemperatureBit = 13;
// The enable input is inactive (state).
inline constexpr int kEnableInputBit = 15;
}  // namespace mer

// Bits of the motion-status register MSR: conditions that do not stop the drive, each set while
// it lasts.
namespace msr {
// An I2t integrator beyond its warning level.
inline constexpr int kMotorI2tWarningBit = 0;
inline constexpr int kDriveI2tWarningBit = 1;
// The position at or beyond a software limit switch (the drive refuses to move further out).
inline constexpr int kPositiveSoftwareLimitBit = 2;
inline constexpr int kNegativeSoftwareLimitBit = 3;
}  // namespace msr

// Bits of the encoder-error register CER: the absolute encoder's serial operations that failed.
namespace cer {
inline constexpr int kAlarmReadBit = 8;
inline constexpr int kAlarmResetBit = 9;
inline constexpr int kOffsetReadBit = 10;
inline constexpr int kOffsetWriteBit = 11;
}  // namespace cer

// What the firmware reads at the start of a current-loop period.
struct FirmwareInputs {
    // The interpolator's count, in the direction the encoder's wiring gives.
    std::int64_t encoderCount = 0;
    // Phase A and B currents, converter counts around the centre.
    std::array<std::int64_t, 2> phaseCurrents{};
    std::int64_t busVoltage = 0;
    // The analogue reference input, converter counts from 0 (the lowest voltage) up.
    std::int64_t analogueInput = 0;
    // The temperature sensors of the motor and of the drive, converter counts; sampled for the
    // speed-loop periods only (the protections read them there).
    std::int64_t motorTemperatureSensor = 0;
    std::int64_t driveTemperatureSensor = 0;
    bool enableInput = true;
    bool positiveLimitSwitch = false;
    bool negativeLimitSwitch = false;
};

// The drive's firmware: the current loop every current-loop period, the speed and position loops
// every speed-loop period (or every current-loop period with the fast-loop option), the biquad
// chains, the feed-forwards, the protections and the motion-error register, all in the drive's
// integer formats, read from the registers as the drive reads them:
// - a gain is mantissa x 2^shift / 32767, applied as a product shifted right by 15; integral
//   terms accumulate with 15 fraction bits;
// - a saturation register holds 32767 minus its limit; SATID/SATIQ bound the d and q voltage
//   commands, SATS the speed loop's current reference, SATP the position loop's output (a speed
//   reference with a speed loop, else a current reference), IMAXS and IMAXP their integral terms;
//   the q current reference, in every mode that closes the current loop, is bounded by SATS
//   when ACR bit 9 is set, by SATP otherwise;
// - FILTERQ is the coefficient q of y += q (u - y) on the q voltage command, KDFP that of the
//   derivative term of the position PID (32767 passes the signal unchanged);
// - speeds count encoder counts per speed-loop period and accelerations counts per period
//   squared, whatever loop period the option runs the loops at;
// - the reference speed times KFFS (shift SFTSFFW) adds to the speed reference in position
//   control with a speed loop when ACR bit 14 is set; the reference acceleration times KFFA
//   (shift SFTAFFW, then SFTKFF more) adds to the current reference; FFL x KFFL always does;
// - biquad slots 1 to 3 are taken in order by the speed-reference, current-reference and
//   measured-speed chains, SPDREF_BQ_INI, IQREF_BQ_INI and ASPD_BQ_INI slots each;
// - protections count speed-loop periods; 65535 in TERRMAX or TSERRMAX switches the position
//   or speed error protection off; PCR enables the over-current, I2t, voltage and temperature
//   protections (the temperature ones only for the sensors SCR says are fitted); the I2t
//   warning levels set MSR bits; ASR bit 12 arms the software limit switches;
// - the analogue reference: the input within E_LEVEL_AD5 of LEVEL_AD5 reads as LEVEL_AD5 (the
//   dead band), passes the FILTER1 filter and becomes AD5OFF + input x CADIN x 2^SFTADIN / 32768
//   every speed-loop period: a position, speed or q current reference by the loop mode;
// - the electric angle controller turns the control frame against the rotor's motion: every
//   speed-loop period the angle is its start minus a PI (KPTHT, KITHT with their shifts) on the
//   electrical angle the rotor turned in that period, so the proportional part damps the rotor
//   and the integral part, the rotor's displacement times the gain, holds it where it started.
//   The frame's q axis carries the test current: the angle settles where that current lies on
//   the rotor's d axis and makes no torque.
class DriveFirmware {
  public:
    DriveFirmware(const DriveRegisters& registers, int interpolationBits);

    // Takes new registers; the loops keep their state.
    void Configure(const DriveRegisters& registers);
    const DriveRegisters& Registers() const { return registers_; }
    // The board's reset: loops, references, both error registers and the position counter
    // (which restarts from 0 at the encoder's present count) start afresh; the power stage is
    // off.
    void Reset(std::int64_t encoderCount);

    // The loop mode the ACR loop bits select (position, speed or current control).
    LoopMode ConfiguredLoopMode() const;
    // Changing the mode starts the loops from rest, holding the present position.
    void SetLoopMode(LoopMode mode);
    LoopMode GetLoopMode() const { return loopMode_; }
    void SetAngleSource(AngleSource source) { angleSource_ = source; }
    AngleSource GetAngleSource() const { return angleSource_; }
    // The electric angle controller takes the control frame from this angle on, from rest.
    void StartAngleController(std::int64_t startAngle);

    // The reference source the ACR bits select, and the one in use (a program takes the loops
    // over with Host).
    ReferenceSource ConfiguredReferenceSource() const;
    void SetReferenceSource(ReferenceSource source) { referenceSource_ = source; }
    ReferenceSource GetReferenceSource() const { return referenceSource_; }
    // The firmware converts the analogue reference input while the analogue reference is in use
    // or while a program asks for it (and the converter is read only then).
    void SetAnalogueAcquisition(bool on) { analogueAcquisition_ = on; }
    bool ConvertsAnalogueInput() const {
        return analogueAcquisition_ || settings_.analogueReference;
    }

    // The digital inputs as the drive reads them; their motion-error bits follow them, and an
    // inactive enable input or an active limit switch switches the power stage off.
    void ReadDigitalInputs(bool enable, bool positiveLimitSwitch, bool negativeLimitSwitch);
    // Power stage. Switching on fails while a motion-error bit is set (a latched error, the enable
    // input inactive, a limit switch active); it starts the loops from rest holding the present
    // position.
    bool SwitchOn();
    void SwitchOff() { powerOn_ = false; }
    bool IsPowerOn() const { return powerOn_; }
    // Clears the latched motion errors (the state bits follow their inputs).
    void ClearMotionErrors();
    // The bridge's short-circuit detection: latches the error and switches off at once.
    void TripShortCircuit();

    // References, in internal units: currents in converter counts, voltages in command units,
    // speeds in counts per speed-loop period, positions in counts.
    void SetCurrentReference(std::int64_t currentD, std::int64_t currentQ);
    void SetVoltageCommand(std::int64_t voltageD, std::int64_t voltageQ);
    void SetSpeedReference(std::int64_t speed) { speedReference_ = speed; }
    void SetPositionReference(std::int64_t position) { positionReference_ = position; }
    // The test angle and its increment per current-loop period (65536 per electrical turn).
    void SetTestAngle(std::int64_t angle) { testAngle_ = fixed::WrapAngle(angle); }
    void SetTestAngleIncrement(std::int64_t increment) {
        testAngleIncrement_ = fixed::WrapAngle(increment);
    }
    // Declares that the rotor's electrical angle is this angle now (after an alignment), or at a
    // position of the counter (from an absolute encoder's offset): the encoder's angle is offset
    // to agree.
    void SetElectricAngleReference(std::int64_t angleNow);
    void SetElectricAngleAt(std::int64_t position, std::int64_t angle);
    // The position counter's value at an encoder count.
    std::int64_t PositionOfCount(std::int64_t encoderCount) const;

    // The motion-status register (bits in drive::msr).
    std::uint16_t MotionStatus() const { return motionStatus_; }

    // The encoder-error register: the drive sets a bit when an operation on the absolute
    // encoder fails; the bits stay until cleared or reset.
    void RaiseEncoderError(int bit) { encoderErrors_ |= static_cast<std::uint16_t>(1u << bit); }
    void ClearEncoderErrors() { encoderErrors_ = 0; }
    std::uint16_t EncoderErrors() const { return encoderErrors_; }

    // Whether the next period runs the speed and position loops. Inline: asked twice in every
    // period.
    bool IsSpeedLoopDue() const {
        return settings_.fastLoop || pwmPeriodsSinceSpeedLoop_ + settings_.currentLoopDivider >=
                                         settings_.speedLoopDivider;
    }
    // One current-loop period on the inputs sampled at its start; the voltage command that the
    // bridge is to apply (zero while the power stage is off).
    VoltageCommand Step(const FirmwareInputs& inputs);

    // Drive variables.
    std::int64_t MotorPosition() const { return position_; }
    std::int64_t MotorSpeed() const { return speed_; }
    // The measured speed after the measured-speed chain, as the speed loop uses it.
    std::int64_t SpeedFeedback() const { return speedFeedback_; }
    std::int64_t PositionReference() const { return positionReference_; }
    // The speed loop's reference after the speed-reference chain.
    std::int64_t SpeedReference() const { return speedLoopReference_; }
    // The current references the current loop follows (with the offsets and limits applied).
    std::int64_t CurrentReferenceD() const { return currentReferenceD_; }
    std::int64_t CurrentReferenceQ() const { return currentReferenceQ_; }
    std::int64_t CurrentD() const { return currentD_; }
    std::int64_t CurrentQ() const { return currentQ_; }
    std::int64_t VoltageD() const { return voltageD_; }
    std::int64_t VoltageQ() const { return voltageQ_; }
    std::int64_t PhaseCurrentA() const { return phaseCurrentA_; }
    std::int64_t PhaseCurrentB() const { return phaseCurrentB_; }
    std::int64_t BusVoltage() const { return busVoltage_; }
    // The angle of the control frame (65536 per electrical turn, signed 16-bit).
    std::int64_t ElectricAngle() const { return controlAngle_; }
    // The rotor's electrical angle as the encoder and the angle reference give it, whatever frame
    // the currents are controlled in.
    std::int64_t RotorElectricAngle() const;
    std::int64_t TestAngle() const { return testAngle_; }
    std::int64_t TestAngleIncrement() const { return testAngleIncrement_; }
    // The position counter at the electrical resolution: 4 x lines x 2^ELRES_FRACT a turn.
    std::int64_t ElectricalResolutionCount() const { return ElectricalResolutionCount(position_); }
    std::int64_t PositionError() const { return positionReference_ - position_; }
    std::uint16_t MotionErrors() const { return motionErrors_; }
    // The analogue reference input as last converted (AD5), and the reference it stands for
    // after the dead band, the filter and the scaling.
    std::int64_t AnalogueInput() const { return analogueInput_; }
    std::int64_t AnalogueReference() const { return analogueReference_; }

  private:
    struct PiState {
        std::int64_t integral = 0;  // Q15
        void Reset() { integral = 0; }
    };

    void Decode();
    void ResetLoops();
    std::int64_t ElectricalResolutionCount(std::int64_t position) const;
    std::int64_t EncoderElectricAngle(std::int64_t position) const;
    std::int64_t CurrentLimit() const;
    void RunMotionLoops();
    void RunAngleController();
    void RunAnalogueReference();
    // The references the software limit switches leave (nothing beyond a limit further out).
    std::int64_t LimitOutward(std::int64_t reference) const;
    void UpdateSoftwareLimits();
    std::int64_t RunSpeedLoop(std::int64_t reference, std::int64_t referenceAcceleration);
    std::int64_t AccelerationFeedForward(std::int64_t acceleration) const;
    std::int64_t GravityOffset() const;
    // The current loop in the control frame, whose angle's sine and cosine (Q15) the period's
    // start took for the measured currents.
    VoltageCommand RunCurrentLoop(std::int64_t sine, std::int64_t cosine);
    void RunProtections(const FirmwareInputs& inputs);
    void Latch(int bit);
    void SetStateBit(int bit, bool set);
    void SetStatus(int bit, bool set);
    // One PI step on an error with the integral bounded to integralLimit and the output to
    // outputLimit.
    static std::int64_t PiStep(PiState& state, std::int64_t error, fixed::Q15Gain proportional,
                               fixed::Q15Gain integral, std::int64_t integralLimit,
                               std::int64_t outputLimit);
    std::int64_t FilterChain(std::size_t first, std::size_t count, std::int64_t value);

    DriveRegisters registers_;
    int interpolationBits_;

    // Decoded registers.
    struct Settings {
        fixed::Q15Gain kpi, kii, kps, kis, kpp, kip, kdp, kffs, kffa, kpTheta, kiTheta;
        int accelerationShift = 0;
        std::int64_t voltageLimitD = 0, voltageLimitQ = 0;
        std::int64_t speedOutputLimit = 0, speedIntegralLimit = 0;
        std::int64_t positionOutputLimit = 0, positionIntegralLimit = 0;
        std::int64_t filterQ = 0, derivativeFilter = 0;
        std::int64_t gravityOffset = 0;
        bool positionWithSpeedLoop = false;
        bool speedFeedForward = false;
        bool fastLoop = false;
        bool countingReversed = false;
        int electricalShift = 0;
        std::int64_t electricalCountsPerTurn = 1;
        // electricalCountsPerTurn - 1 when it is a power of two, else -1.
        std::int64_t electricalTurnMask = 0;
        std::int64_t electricalAnglePerCount = 0;
        // Speed-loop periods per current-loop period, Q16, for the fast loop's units.
        std::int64_t speedPeriodsPerLoopPeriodQ16 = 1 << 16;
        std::int64_t speedLoopDivider = 1, currentLoopDivider = 1;
        bool overCurrentProtection = false, motorI2tProtection = false, driveI2tProtection = false;
        bool overVoltageProtection = false, underVoltageProtection = false;
        bool motorTemperatureProtection = false, driveTemperatureProtection = false;
        bool motorSensorIsPtc = true;
        bool softwareLimits = false;
        bool analogueReference = false;
        std::int64_t deadBandCentre = 0, deadBandHalfWidth = 0, analogueFilter = 0;
        fixed::Q15Gain analogueGain;
        std::size_t speedReferenceSlots = 0, currentReferenceSlots = 0, speedFeedbackSlots = 0;
    } settings_;
    std::array<BiquadFilter, 3> biquads_;

    LoopMode loopMode_ = LoopMode::Current;
    AngleSource angleSource_ = AngleSource::Encoder;
    ReferenceSource referenceSource_ = ReferenceSource::Host;
    bool powerOn_ = false;
    std::uint16_t motionErrors_ = 0;
    std::uint16_t motionStatus_ = 0;
    std::uint16_t encoderErrors_ = 0;

    // Encoder and angle.
    std::int64_t countOrigin_ = 0;
    std::int64_t position_ = 0;
    std::int64_t angleOffset_ = 0;
    std::int64_t testAngle_ = 0;
    std::int64_t testAngleIncrement_ = 0;
    std::int64_t controlAngle_ = 0;

    // Electric angle controller.
    std::int64_t angleControllerStart_ = 0;
    std::int64_t angleControllerAngle_ = 0;
    std::int64_t lastAnglePosition_ = 0;
    PiState anglePi_;

    // Analogue reference input.
    bool analogueAcquisition_ = false;
    std::int64_t analogueInput_ = 0;
    std::int64_t analogueFiltered_ = 0;  // Q15
    std::int64_t analogueReference_ = 0;

    // Scheduling: PWM periods since the last speed-loop period.
    std::int64_t pwmPeriodsSinceSpeedLoop_ = 0;

    // Speed and position loops.
    std::int64_t speed_ = 0;
    std::int64_t speedFeedback_ = 0;
    std::int64_t lastLoopPosition_ = 0;
    std::int64_t speedReference_ = 0;
    std::int64_t lastSpeedReference_ = 0;
    std::int64_t speedLoopReference_ = 0;
    std::int64_t positionReference_ = 0;
    std::int64_t lastPositionReference_ = 0;
    std::int64_t lastReferenceSpeed_ = 0;
    std::int64_t lastPositionError_ = 0;
    std::int64_t derivative_ = 0;  // Q15
    std::int64_t speedError_ = 0;
    PiState speedPi_, positionPi_;

    // Current loop.
    std::int64_t requestedCurrentD_ = 0, requestedCurrentQ_ = 0;
    std::int64_t currentReferenceD_ = 0, currentReferenceQ_ = 0;
    std::int64_t openLoopVoltageD_ = 0, openLoopVoltageQ_ = 0;
    std::int64_t currentD_ = 0, currentQ_ = 0;
    std::int64_t voltageD_ = 0, voltageQ_ = 0;
    std::int64_t filteredVoltageQ_ = 0;  // Q15
    PiState currentPiD_, currentPiQ_;
    std::int64_t phaseCurrentA_ = 0, phaseCurrentB_ = 0;
    std::int64_t busVoltage_ = 0;

    // Protection counters and integrators.
    std::int64_t overCurrentPeriods_ = 0;
    std::int64_t positionErrorPeriods_ = 0;
    std::int64_t speedErrorPeriods_ = 0;
    std::int64_t motorI2t_ = 0;  // Q26
    std::int64_t driveI2t_ = 0;  // Q26
};

}  // namespace drive
