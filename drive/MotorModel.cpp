#include "drive/MotorModel.h"

#include <array>
#include <cmath>
#include <numbers>

namespace drive {

namespace {

// A delta's phase impedance seen from the terminals is that of a star phase three times smaller.
constexpr double kDeltaToStar = 3.0;
// Torque of a three-phase machine in the amplitude-invariant frame: 3/2 pole pairs flux iq.
constexpr double kTorqueFactor = 1.5;
constexpr double kHalfSqrt3 = std::numbers::sqrt3 / 2.0;
// Unit vectors of the phases A, B and C in the alpha-beta frame: a phase's current is the
// projection of the current vector on its axis.
constexpr std::array<AlphaBeta, 3> kPhaseAxes = {AlphaBeta{1.0, 0.0}, AlphaBeta{-0.5, kHalfSqrt3},
                                                 AlphaBeta{-0.5, -kHalfSqrt3}};
// The winding each terminal reaches when leads B and C are exchanged.
constexpr std::array<std::size_t, 3> kSwappedWindings = {0, 2, 1};

}  // namespace

double MotorData::TerminalResistance_ohm() const {
    return connection == PhaseConnection::Delta ? phaseResistance_ohm / kDeltaToStar
                                                : phaseResistance_ohm;
}

double MotorData::TerminalInductance_H() const {
    return connection == PhaseConnection::Delta ? phaseInductance_H / kDeltaToStar
                                                : phaseInductance_H;
}

double MotorData::TotalInertia_kgm2() const {
    return rotorInertia_kgm2 + loadInertia_kgm2;
}

double TorqueConstantFromFlux(double flux_Wb, int polePairs) {
    return kTorqueFactor * polePairs * flux_Wb;
}

double MotorData::Flux_Wb() const {
    return torqueConstant_Nm_A / (kTorqueFactor * polePairs);
}

MotorModel::MotorModel(const MotorData& data)
    : data_(data),
      resistance_ohm_(data.TerminalResistance_ohm()),
      inductance_H_(data.TerminalInductance_H()),
      flux_Wb_(data.Flux_Wb()),
      inertia_kgm2_(data.TotalInertia_kgm2()),
      torqueScale_(kTorqueFactor * data.polePairs * flux_Wb_),
      halfTorqueScale_(0.5 * torqueScale_) {}

void MotorModel::SetWiring(const TerminalWiring& wiring) {
    wiring_ = wiring;
    leadCut_ = wiring_.open[0] || wiring_.open[1] || wiring_.open[2];
    leadsBetaSign_ = wiring_.swappedBC ? -1.0 : 1.0;
    ConstrainToWiring();
}

void MotorModel::UseStep(double step_s) {
    if (step_s == stepLength_s_) {
        return;
    }
    stepLength_s_ = step_s;
    decay_ = std::exp(-step_s * resistance_ohm_ / inductance_H_);
    voltageGain_ = (1.0 - decay_) / resistance_ohm_;
    halfStep_s_ = 0.5 * step_s;
    inverseMechanicalDivisor_ = 1.0 / (inertia_kgm2_ + step_s * data_.viscousFriction_Nms_rad);
}

void MotorModel::ConstrainToWiring() {
    std::size_t openLeads = 0;
    AlphaBeta openAxis;
    for (std::size_t terminal = 0; terminal < wiring_.open.size(); ++terminal) {
        if (wiring_.open[terminal]) {
            ++openLeads;
            openAxis = kPhaseAxes[wiring_.swappedBC ? kSwappedWindings[terminal] : terminal];
        }
    }
    if (openLeads == 0) {
        return;
    }
    if (openLeads > 1) {
        current_A_ = {};
        return;
    }
    // The star point floats, so with one lead cut the other two windings carry the same current
    // in series: the current vector loses its component on the cut phase's axis. R and L being
    // the same on every axis, the component across it follows its own equation unchanged.
    const double along_A = current_A_.alpha * openAxis.alpha + current_A_.beta * openAxis.beta;
    current_A_.alpha -= along_A * openAxis.alpha;
    current_A_.beta -= along_A * openAxis.beta;
}

// Inline: on every physics step's path, where the call's cost shows.
inline void MotorModel::StepMechanics(double electricalTorque_Nm, double step_s) {
    const double drivingTorque_Nm = electricalTorque_Nm + externalTorque_Nm_ - data_.loadTorque_Nm;
    const double startSpeed_rad_s = shaftSpeed_rad_s_;
    double endSpeed_rad_s = 0.0;
    const bool stuck =
        startSpeed_rad_s == 0.0 && std::fabs(drivingTorque_Nm) <= data_.coulombFriction_Nm;
    if (!stuck) {
        const double moving = startSpeed_rad_s != 0.0 ? startSpeed_rad_s : drivingTorque_Nm;
        const double friction_Nm = std::copysign(data_.coulombFriction_Nm, moving);
        // (J w + step (T - friction)) / divisor, the electrical torque (on the path each step
        // waits on, see Step) entering last.
        const double otherTorque_Nm = externalTorque_Nm_ - data_.loadTorque_Nm - friction_Nm;
        endSpeed_rad_s = (inertia_kgm2_ * startSpeed_rad_s + step_s * otherTorque_Nm) *
                             inverseMechanicalDivisor_ +
                         step_s * inverseMechanicalDivisor_ * electricalTorque_Nm;
        // Friction cannot reverse the motion within one step: the shaft stops at zero speed and
        // the next step decides whether it breaks away.
        if (startSpeed_rad_s != 0.0 && endSpeed_rad_s * startSpeed_rad_s < 0.0) {
            endSpeed_rad_s = 0.0;
        }
    }
    // The trapezoid of the speeds, the end speed's share (on the path) added last.
    shaftAngle_rad_ =
        (shaftAngle_rad_ + halfStep_s_ * startSpeed_rad_s) + halfStep_s_ * endSpeed_rad_s;
    shaftSpeed_rad_s_ = endSpeed_rad_s;
}

void MotorModel::Step(const AlphaBeta& terminalVoltage_V, double step_s) {
    const AlphaBeta voltage_V = ThroughLeads(terminalVoltage_V);
    UseStep(step_s);
    const double midAngle_rad =
        data_.polePairs * (shaftAngle_rad_ + halfStep_s_ * shaftSpeed_rad_s_);
    const auto [sine, cosine] = midStepAngle_.At(midAngle_rad);
    const double emf_V = data_.polePairs * shaftSpeed_rad_s_ * flux_Wb_;

    // Every step waits on the one before, from the angle through the currents, the torque and
    // the speed to the next angle: the sums below take in last what that path brings, so that
    // it runs through as few operations as can be (the grouping moves results in their last bits
    // only). Here i' = i decay + (v - emf) gain, the back-EMF's part last.
    const AlphaBeta start = current_A_;
    const double emfGain_A = emf_V * voltageGain_;
    const AlphaBeta withoutEmf_A{start.alpha * decay_ + voltage_V.alpha * voltageGain_,
                                 start.beta * decay_ + voltage_V.beta * voltageGain_};
    current_A_ = {withoutEmf_A.alpha + emfGain_A * sine, withoutEmf_A.beta - emfGain_A * cosine};
    // The torque of the step's mean current: half the sum of its start and end, the halving in
    // the torque's scale.
    AlphaBeta sum_A;
    if (leadCut_) {
        ConstrainToWiring();
        sum_A = {start.alpha + current_A_.alpha, start.beta + current_A_.beta};
    } else {
        sum_A = {(start.alpha + withoutEmf_A.alpha) + emfGain_A * sine,
                 (start.beta + withoutEmf_A.beta) - emfGain_A * cosine};
    }
    const double torque_Nm =
        sum_A.beta * (halfTorqueScale_ * cosine) - sum_A.alpha * (halfTorqueScale_ * sine);
    StepMechanics(torque_Nm, step_s);
}

void MotorModel::StepOpenCircuit(double step_s) {
    // The shaft turns on without the electrical angle being asked: the next Step starts afresh.
    midStepAngle_.Invalidate();
    current_A_ = {};
    UseStep(step_s);
    StepMechanics(0.0, step_s);
}

double MotorModel::ElectricalAngle_rad() const {
    return data_.polePairs * shaftAngle_rad_;
}

double MotorModel::CurrentD_A() const {
    const double angle_rad = ElectricalAngle_rad();
    return current_A_.alpha * std::cos(angle_rad) + current_A_.beta * std::sin(angle_rad);
}

double MotorModel::CurrentQ_A() const {
    const double angle_rad = ElectricalAngle_rad();
    return -current_A_.alpha * std::sin(angle_rad) + current_A_.beta * std::cos(angle_rad);
}

double MotorModel::ElectricalTorque_Nm() const {
    return torqueScale_ * CurrentQ_A();
}

double MotorModel::CopperLosses_W() const {
    // Amplitude-invariant frame: three phases of amplitude |I| dissipate 3/2 R |I|^2.
    return kTorqueFactor * resistance_ohm_ *
           (current_A_.alpha * current_A_.alpha + current_A_.beta * current_A_.beta);
}

void MotorModel::SetShaftState(double angle_rad, double speed_rad_s) {
    midStepAngle_.Invalidate();
    shaftAngle_rad_ = angle_rad;
    shaftSpeed_rad_s_ = speed_rad_s;
}

}  // namespace drive
