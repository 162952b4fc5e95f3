#include "module/BrevanApp.h"

#include "dialogs/DriveTestRunners.h"
#include "drivetests/DetectEncoderResolution.h"
#include "drivetests/DetectPolePairs.h"
#include "drivetests/TestAnalogueRef.h"
#include "drivetests/TestAngle.h"
#include "drivetests/TestCurrent.h"
#include "drivetests/TestSpeedTuning.h"
#include "drivetests/TestEncoderConnections.h"
#include "drivetests/TestEncoderOffset.h"
#include "drivetests/TestPhaseConnections.h"
#include "drivetests/TestPositionTuning.h"
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
    RegisterDriveTest(DriveTest::PhaseConnections, [](CQel_Setup* setup) {
        CTestPhaseConnections test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::CurrentController, [](CQel_Setup* setup) {
        CTestCurrent test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::SpeedController, [](CQel_Setup* setup) {
        CTestSpeedTuning test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::PositionController, [](CQel_Setup* setup) {
        CTestPositionTuning test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::AngleController, [](CQel_Setup* setup) {
        CTestAngle test(setup, nullptr);
        return test.DoModal();
    });
    RegisterDriveTest(DriveTest::AnalogueReference, [](CQel_Setup* setup) {
        CTestAnalogueRef test(setup, nullptr);
        return test.DoModal();
    });
    RegisterResolutionTest([](CQel_Setup* setup, int& detectedDirection) {
        CDetectEncoderResolution test(setup, nullptr);
        const INT_PTR result = test.DoModal();
        detectedDirection = test.GetCountingDirection();
        return result;
    });
    RegisterDriveTest(DriveTest::EncoderConnections, [](CQel_Setup* setup) {
        CTestEncoderConnections test(setup, nullptr);
        return test.DoModal();
    });
    // Run on its own (not from the motor setup) nobody keeps the counting direction.
    RegisterDriveTest(DriveTest::EncoderResolution, [](CQel_Setup* setup) {
        int detectedDirection = CDetectEncoderResolution::kNoDirection;
        return FindResolutionTest()(setup, detectedDirection);
    });
}

CBrevanApp theApp;

const QelColour g_plotReferenceColour = RGB16(kReferencePaletteCode);
const QelColour g_plotMeasuredColour = RGB16(kMeasuredPaletteCode);
