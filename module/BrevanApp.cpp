#include "module/BrevanApp.h"

#include "dialogs/DriveTestRunners.h"
#include "drivetests/TestVdcDetection.h"

namespace {

// Palette codes of the on-line plot's channels: green for the reference, purple for the
// measured value.
constexpr int kReferencePaletteCode = 2;
constexpr int kMeasuredPaletteCode = 5;

}  // namespace

CBrevanApp::CBrevanApp() : CWinApp(nullptr) {
    RegisterDriveTest(DriveTest::VdcDetection, [](CQel_Setup* setup) {
        CTestVdcDetection test(setup, nullptr);
        return test.DoModal();
    });
}

CBrevanApp theApp;

const QelColour g_plotReferenceColour = RGB16(kReferencePaletteCode);
const QelColour g_plotMeasuredColour = RGB16(kMeasuredPaletteCode);
