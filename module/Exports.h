#pragma once

class CQel_Setup;

// The module's entry points, looked up by the host under exactly these plain names.
#define BREVAN_EXPORT __attribute__((visibility("default")))

extern "C" {

// Opens the module's setup dialogs on the setup, modally; 1 when the user closed the Drive Setup
// dialog with OK, 0 otherwise. What the dialogs wrote into the setup stays there either way.
BREVAN_EXPORT int EditSetup(CQel_Setup* setup);

// Recomputes everything that follows from the drive registers: the user parameters, their
// limits, the fixed options and the unit families. A null setup does nothing.
BREVAN_EXPORT void ComputeAllOptions(CQel_Setup* setup);

// The factor that turns an internal value of the named parameter or variable into the named unit:
// value = (internal + GetScaleOffset(unit)) x factor. A null setup or name has factor 1.
BREVAN_EXPORT double GetScaleFactor(CQel_Setup* setup, const char* unitName,
                                    const char* parameterName);
// The offset of the same relation; 0 for every unit but degrees Celsius.
BREVAN_EXPORT double GetScaleOffset(CQel_Setup* setup, const char* unitName);
}
