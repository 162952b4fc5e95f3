// Every binding of the drive-test dialogs, against the dialog's template and by a change of its
// control on the reference axis (tests/support/BindingTable.h). The dialogs are only drawn: no
// drive is connected and no test runs.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "drivetests/DetectEncoderResolution.h"
#include "drivetests/DetectPolePairs.h"
#include "drivetests/TestAnalogueRef.h"
#include "drivetests/TestAngle.h"
#include "drivetests/TestCurrent.h"
#include "drivetests/TestEncoderConnections.h"
#include "drivetests/TestEncoderOffset.h"
#include "drivetests/TestPhaseConnections.h"
#include "drivetests/TestPositionTuning.h"
#include "drivetests/TestRL.h"
#include "drivetests/TestSpeedTuning.h"
#include "drivetests/TestVdcDetection.h"
#include "drivetests/TotalInertiaTest.h"
#include "tests/support/BindingTable.h"

namespace {

using binding_table::DialogRules;

template <typename Dialog>
std::unique_ptr<CDialog> Make(CQel_Setup& setup) {
    return std::make_unique<Dialog>(&setup, nullptr);
}

// Each drive-test dialog made on the setup the way its setup dialog makes it, with what its own
// code handles.
const std::vector<DialogRules>& DriveTestDialogRules() {
    // The tuning tests derive the total inertia and the load-to-motor ratio from each other.
    const std::vector<binding_table::DerivedChange> inertia = {
        {"Jt", "Jload_over_J", "UpdateInertiaRatio: the ratio follows the total inertia"},
        {"Jload_over_J", "Jt", "the total inertia follows the ratio, (ratio + 1) Jm"},
    };
    // SnapAmplitude keeps the step's amplitude on whole internal counts of the reference.
    constexpr double kAmplitudeStep = 1e-4;
    static const std::vector<DialogRules> dialogs = {
        {105,
         "vdc-detection-test",
         Make<CTestVdcDetection>,
         {},
         {},
         {},
         {{1012, "the supply voltage the test measures"}}},
        {290,
         "resistance-inductance-test",
         Make<CTestRL>,
         {},
         {},
         {},
         {{1002, "the resistance the test measures", true},
          {1003, "the inductance the test measures", true}}},
        {289, "pole-pairs-detection-test", Make<CDetectPolePairs>, {}, {}},
        {288, "phase-connection-test", Make<CTestPhaseConnections>, {}, {}},
        {104, "analogue-reference-test", Make<CTestAnalogueRef>, {}, {}},
        {3041,
         "total-inertia-test",
         Make<CTotalInertiaTest>,
         {},
         {},
         {},
         {{3263, "the total inertia the test measures", true}}},
        {3058, "encoder-offset-test", Make<CTestEncoderOffset>, {}, {}},
        {292, "encoder-resolution-test", Make<CDetectEncoderResolution>, {}, {}},
        {291, "encoder-connections-test", Make<CTestEncoderConnections>, {}, {}},
        {3057, "angle-controller-test", Make<CTestAngle>, {}, {}},
        {101,
         "current-controller-test",
         Make<CTestCurrent>,
         {},
         {},
         {{"output filter and gravitational load compensation on",
           {{"isUseFilterOnCrtCtrlOutput", 1}, {"isCompensateGravitationalLoads", 1}},
           {}}}},
        {102,
         "speed-controller-test",
         Make<CTestSpeedTuning>,
         {},
         inertia,
         {{"speed mode, speed loop in the slow loop (feed-forwards offered)",
           {{"ControlMode", 1}, {"PosSpd_in_FastLoop", 0}},
           {}}},
         {},
         {{"TestSpeed", kAmplitudeStep, "SnapAmplitude"}}},
        {103,
         "position-controller-test",
         Make<CTestPositionTuning>,
         {},
         inertia,
         {},
         {},
         {{"TestPosition", kAmplitudeStep, "SnapAmplitude"}}},
    };
    return dialogs;
}

class DriveTestDialogBindingTest : public ::testing::TestWithParam<DialogRules> {};

TEST_P(DriveTestDialogBindingTest, BindingsMatchTheTemplate) {
    binding_table::CheckBindingsAgainstTemplate(GetParam());
}

INSTANTIATE_TEST_SUITE_P(DriveTestDialogs, DriveTestDialogBindingTest,
                         ::testing::ValuesIn(DriveTestDialogRules()), binding_table::DialogName{});

class DriveTestDialogBindingRowTest : public ::testing::TestWithParam<binding_table::BindingRow> {};

TEST_P(DriveTestDialogBindingRowTest, ChangesOnlyItsOwnParameter) {
    binding_table::RunBindingRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(DriveTestDialogs, DriveTestDialogBindingRowTest,
                         ::testing::ValuesIn(binding_table::BindingRows(DriveTestDialogRules())),
                         binding_table::RowName{});

}  // namespace
