#pragma once

// How the motor's phases are connected, as MotorPhaseConnectionType says: 0 star, 1 delta. The
// resistance and inductance the setup holds are what is measured between two terminals; the
// current controller and the start voltage model one star phase, so a delta motor's values count
// a third there, and what the identification measures on the star model counts three times.
namespace engine {

// A delta winding seen between two terminals shows three times the star phase's value.
inline constexpr double kDeltaToStarRatio = 3.0;
inline constexpr double kDeltaConnection = 1.0;

bool IsDeltaConnected(double connectionType);
// The star-phase value of a terminal resistance or inductance.
double StarPhaseValue(double terminalValue, double connectionType);
// The terminal value of a resistance or inductance measured on the star model.
double TerminalValue(double starPhaseValue, double connectionType);

}  // namespace engine
