#include "module/BrevanApp.h"

#include "dialogs/DriveTestRunners.h"
#include "drivetests/DetectPolePairs.h"
#include "drivetests/TestEncoderOffset.h"
#include "drivetests/TestRL.h"
#include "drivetests/TestVdcDetection.h"
#include "drivetests/TotalInertiaTest.h"

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
    RegisterDriveTest(DriveTest::ResistanceInductance, [](CQel_Setup* setup) {
        CTestRL test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::PolePairs, [](CQel_Setup* setup) {
        CDetectPolePairs test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::TotalInertia, [](CQel_Setup* setup) {
        CTotalInertiaTest test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::EncoderOffset, [](CQel_Setup* setup) {
        CTestEncoderOffset test(setup, nullptr);
        return test.DoModal();
    });
}

CBrevanApp theApp;

const QelColour g_plotReferenceColour = RGB16(kReferencePaletteCode);
const QelColour g_plotMeasuredColour = RGB16(kMeasuredPaletteCode);
