#pragma once

#include <array>
#include <numbers>
#include <string>

#include "drive/SineCosineTracker.h"

namespace drive {

enum class PhaseConnection { Star, Delta };

// The sine-cosine encoder mounted on the motor.
struct EncoderData {
    int lines = 1024;
    // The A and B channels are wired so that the counts fall when the shaft turns forward.
    bool reversed = false;
    // Shaft angle, from the rotor's electrical zero (its d axis on phase A), at which the encoder
    // reads zero: the offset an absolute encoder's zero has from the motor's phase A.
    double zeroAngle_rad = 0.0;
    // An absolute (EnDat) encoder: it reports its position within a turn over its serial link and
    // keeps an offset in its memory.
    bool absolute = false;
};

// The thermistor in the motor's winding: a PTC's resistance rises with the temperature, an NTC's
// falls.
enum class ThermalSensor { PTC, NTC };

// How the winding heats and what senses it. The winding settles thermalResistance_K_W above the
// ambient temperature per watt of copper losses, with one time constant.
struct ThermalData {
    // 0: the motor file gives no thermal data, and the winding stays at the ambient temperature.
    double thermalResistance_K_W = 0.0;
    double timeConstant_s = 600.0;
    ThermalSensor sensor = ThermalSensor::PTC;
    // The thermistor's resistance equals that of the drive's divider resistor here: its reading
    // crosses half the converter's range at this temperature.
    double sensorRatedTemperature_C = 130.0;
};

// A physical motor with its load, as a motor file describes it. Resistance and inductance are
// those of one phase of the motor's own connection; the drive's terminals see their star
// equivalents (a third of the delta values).
struct MotorData {
    std::string name;
    PhaseConnection connection = PhaseConnection::Star;
    double phaseResistance_ohm = 1.0;
    double phaseInductance_H = 1e-3;
    // Torque per ampere of q-axis current (the amplitude of the phase currents at the terminals).
    double torqueConstant_Nm_A = 0.1;
    int polePairs = 1;
    double rotorInertia_kgm2 = 1e-5;
    double loadInertia_kgm2 = 0.0;
    double viscousFriction_Nms_rad = 0.0;
    double coulombFriction_Nm = 0.0;
    // A constant torque of the load against the forward direction (a hanging weight).
    double loadTorque_Nm = 0.0;
    // The data sheet's continuous (rated) and peak phase currents, 0 when not given: what a user
    // types into Motor Setup; the simulated motor itself has no current limit.
    double ratedCurrent_A = 0.0;
    double peakCurrent_A = 0.0;
    EncoderData encoder;
    ThermalData thermal;

    double TerminalResistance_ohm() const;
    double TerminalInductance_H() const;
    double TotalInertia_kgm2() const;
    // Permanent-magnet flux linkage per phase of the star equivalent (amplitude-invariant
    // frame), from the torque constant: T = 1.5 x pole pairs x flux x iq.
    double Flux_Wb() const;
};

// The torque constant of a motor whose permanent-magnet flux linkage is given.
double TorqueConstantFromFlux(double flux_Wb, int polePairs);

// Voltages and currents in the stator's fixed frame (amplitude-invariant: the alpha component is
// phase A's value).
struct AlphaBeta {
    double alpha = 0.0;
    double beta = 0.0;
};

// How the drive's three output terminals (A, B, C) reach the motor's windings: a cut lead leaves
// its terminal without current (the other two drive their windings in series), and exchanged
// leads B and C turn the field the bridge makes backwards for the motor.
struct TerminalWiring {
    std::array<bool, 3> open{};
    bool swappedBC = false;
};

// The electrical and mechanical state of the motor and its load, advanced in steps over which
// the terminal voltage is constant. The currents follow the exact solution of the stator's RL
// circuit with the back-EMF taken at the middle of the step (so a step at standstill is exact
// and a turning rotor is second-order accurate); the mechanics advance semi-implicitly, with
// viscous friction implicit and Coulomb friction holding the shaft while the other torques stay
// below it. Both are stable for any step.
class MotorModel {
  public:
    explicit MotorModel(const MotorData& data);

    const MotorData& Data() const { return data_; }

    // The wiring between the drive and the motor, sound unless a fault is set.
    void SetWiring(const TerminalWiring& wiring);
    const TerminalWiring& Wiring() const { return wiring_; }

    // Advances by step_s with these star-equivalent phase voltages at the drive's terminals
    // (alpha-beta frame).
    void Step(const AlphaBeta& voltage_V, double step_s);
    // With the power stage off the windings carry no current (the bridge's diodes do not
    // conduct while the back-EMF stays below the bus); the mechanics advance alone.
    void StepOpenCircuit(double step_s);

    // Current in the motor's windings.
    AlphaBeta Current_A() const { return current_A_; }
    // Phase currents at the drive's terminals.
    double PhaseCurrentA_A() const { return ThroughLeads(current_A_).alpha; }
    double PhaseCurrentB_A() const { return PhaseCurrents_A()[1]; }
    double PhaseCurrentC_A() const { return PhaseCurrents_A()[2]; }
    // The three at once (A, B, C), as the bridge weighs its dead time and checks for a short.
    std::array<double, 3> PhaseCurrents_A() const {
        const AlphaBeta terminal_A = ThroughLeads(current_A_);
        return {terminal_A.alpha, -0.5 * terminal_A.alpha + kHalfSqrt3 * terminal_A.beta,
                -0.5 * terminal_A.alpha - kHalfSqrt3 * terminal_A.beta};
    }
    // Current in the rotor's frame (d along the magnet).
    double CurrentD_A() const;
    double CurrentQ_A() const;
    double ElectricalTorque_Nm() const;
    // The power the windings' resistance turns into heat now.
    double CopperLosses_W() const;

    double ShaftAngle_rad() const { return shaftAngle_rad_; }
    double ShaftSpeed_rad_s() const { return shaftSpeed_rad_s_; }
    double ElectricalAngle_rad() const;

    // A torque applied to the shaft from outside (a hand turning it), forward positive.
    void SetExternalTorque(double torque_Nm) { externalTorque_Nm_ = torque_Nm; }
    // Puts the shaft at an angle and speed at once (a test's starting point).
    void SetShaftState(double angle_rad, double speed_rad_s);

  private:
    static constexpr double kHalfSqrt3 = std::numbers::sqrt3 / 2.0;

    // What a step of this length shares with the last one of the same length.
    void UseStep(double step_s);
    void StepMechanics(double electricalTorque_Nm, double step_s);
    // Between the terminals' frame and the windings' (the same both ways).
    AlphaBeta ThroughLeads(const AlphaBeta& value) const {
        // Exchanging phases B and C mirrors the frame about phase A's axis. A product with the
        // sign rather than a choice: this runs several times in every physics step, and the
        // product is exact.
        return {value.alpha, leadsBetaSign_ * value.beta};
    }
    // Removes the current that the cut leads cannot carry.
    void ConstrainToWiring();

    MotorData data_;
    TerminalWiring wiring_;
    // Whether a lead is cut (the currents then need constraining after every step).
    bool leadCut_ = false;
    // -1 when leads B and C are exchanged, else 1.
    double leadsBetaSign_ = 1.0;
    double resistance_ohm_;
    double inductance_H_;
    double flux_Wb_;
    double inertia_kgm2_;
    // The sine and cosine of the electrical angle at the middle of each step.
    SineCosineTracker midStepAngle_;
    // 3/2 pole pairs flux: torque per ampere of q current.
    double torqueScale_;
    // Its half: the torque of the mean of two currents from their sum.
    double halfTorqueScale_;
    AlphaBeta current_A_;
    double shaftAngle_rad_ = 0.0;
    double shaftSpeed_rad_s_ = 0.0;
    double externalTorque_Nm_ = 0.0;
    // For the last step length, kept because the step rarely changes: the current's decay
    // exp(-step R / L), the voltage's gain (1 - decay) / R, half the step, and the inverse of the
    // mechanics' divisor J + step x viscous friction.
    double stepLength_s_ = -1.0;
    double decay_ = 0.0;
    double voltageGain_ = 0.0;
    double halfStep_s_ = 0.0;
    double inverseMechanicalDivisor_ = 0.0;
};

}  // namespace drive
