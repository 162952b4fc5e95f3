#pragma once

// The drive tests the setup dialogs open. The tests stand a layer above the dialogs (they open the
// Filters dialog and the inertia question themselves), so the dialogs know them only by this
// name; the module registers how to run each one when it loads.

#include <functional>

#include "host/ui/AfxTypes.h"

class CQel_Setup;

enum class DriveTest {
    VdcDetection,
    ResistanceInductance,
    PolePairs,
    TotalInertia,
    EncoderOffset,
    PhaseConnections,
    AnalogueReference,
    EncoderResolution,
    EncoderConnections,
    AngleController,
    CurrentController,
    SpeedController,
    PositionController,
};

// Runs the test's dialog modally on the setup and returns DoModal's result.
using DriveTestRunner = std::function<INT_PTR(CQel_Setup* setup)>;

void RegisterDriveTest(DriveTest test, DriveTestRunner runner);
// The runner of the test; empty when none is registered.
const DriveTestRunner& FindDriveTest(DriveTest test);

// The encoder resolution test also hands back the counting direction chosen in it (-1: none),
// which the opener keeps even when the dialog was cancelled.
using ResolutionTestRunner = std::function<INT_PTR(CQel_Setup* setup, int& detectedDirection)>;

void RegisterResolutionTest(ResolutionTestRunner runner);
// The runner; empty when none is registered.
const ResolutionTestRunner& FindResolutionTest();
