#pragma once

class CQel_Setup;

// Sets the minimum and maximum of the user parameters whose admissible range follows from the
// drive's scales, so that the dialogs accept only values the registers can hold; a value outside
// its new range moves to the range's nearer end. Runs every rule below in order; a rule whose
// parameter is missing (the kernel reports it) is skipped.
void ComputeParameterLimits(CQel_Setup& setup);

// One rule per parameter (or group), each also called on its own by the dialogs and the
// derivation. Minimum first, then maximum. Each returns true when it set its limits or had nothing
// to do, false when a name was missing, a bound was not a finite number (a zero scale) or the ends
// came out the wrong way round (a lower limit above the upper one): such bounds are not written.
namespace limits {

bool ERR_speed(CQel_Setup& setup);
bool ERR_position(CQel_Setup& setup);
bool time_ERR_spd(CQel_Setup& setup);
bool time_ERR_pos(CQel_Setup& setup);
bool PB_C(CQel_Setup& setup);
bool PB_S(CQel_Setup& setup);
bool PB_P(CQel_Setup& setup);
bool TPP(CQel_Setup& setup);
bool TNP(CQel_Setup& setup);
bool TaPP(CQel_Setup& setup);
bool TaNP(CQel_Setup& setup);
bool TPS(CQel_Setup& setup);
bool TNS(CQel_Setup& setup);
bool TaPS(CQel_Setup& setup);
bool TaNS(CQel_Setup& setup);
bool TestPosition(CQel_Setup& setup);
bool TestSpeed(CQel_Setup& setup);
// Only on drives with an electric angle controller; nothing to do on the others.
bool MAX_CURRENT(CQel_Setup& setup);

// The analogue reference input's parameters; ComputeParameterLimits runs these only on drives
// that have the input.
bool filter(CQel_Setup& setup);
bool DeadBand_Point(CQel_Setup& setup);
bool DeadBand_Range(CQel_Setup& setup);
// The ends of the reference span in each control mode: each end is bounded by its partner's value,
// so the lower end can never be set above the upper end.
bool POS_max(CQel_Setup& setup);
bool POS_min(CQel_Setup& setup);
bool SPD_max(CQel_Setup& setup);
bool SPD_min(CQel_Setup& setup);
bool CRT_max(CQel_Setup& setup);
bool CRT_min(CQel_Setup& setup);

// The corner frequencies of the three biquad filters, below the speed loop's Nyquist frequency;
// only on drives with biquad filters.
bool BiquadFrequencies(CQel_Setup& setup);

}  // namespace limits
