#pragma once

// What the tests of the module's setup dialogs on the Qt backend share: a fresh reference axis,
// the resources of the source tree, no help file, the kernel's reports collected, and a table of
// the seven setup dialogs to open each one directly.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/AdvancedDlg.h"
#include "dialogs/DriveInfoDlg.h"
#include "dialogs/DriveSetupDlg.h"
#include "dialogs/ExternalReferenceDlg.h"
#include "dialogs/FiltersDlg.h"
#include "dialogs/MotorInertiaDlg.h"
#include "dialogs/MotorSetupDlg.h"
#include "drivetests/DetectEncoderResolution.h"
#include "drivetests/DetectPolePairs.h"
#include "drivetests/MyTestDlg.h"
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
#include "host/kernel/CoffFormat.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Loggers.h"
#include "host/kernel/ScopeSettingsDlg.h"
#include "tests/host/ui/qt/QtTestSupport.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

class QtSetupTest : public QtBackendTest {
  protected:
    void SetUp() override {
        setup_ = LoadExample("reference-axis.json");
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
        qel::SetGUIDirectory("");
        CQel_CoffFormat::SetProgramsDirectory(BREVAN_SOURCE_DIR "/drive/programs/images");
        qel::SetHelpFileOfGUI("");
    }

    double Base(const std::string& name) {
        const CQel_Parameter* parameter = setup_->FindParameter(name);
        EXPECT_NE(parameter, nullptr) << name;
        return parameter != nullptr ? parameter->GetValueInBaseUnit() : 0.0;
    }
    // Stores a value whatever the parameter's range.
    void Force(const std::string& name, double value) {
        CQel_Parameter* parameter = setup_->FindParameter(name);
        ASSERT_NE(parameter, nullptr) << name;
        parameter->SetMinInBaseUnit(std::min(parameter->GetMinInBaseUnit(), value));
        parameter->SetMaxInBaseUnit(std::max(parameter->GetMaxInBaseUnit(), value));
        ASSERT_TRUE(parameter->SetValueInBaseUnit(value)) << name;
    }

    std::unique_ptr<CQel_Setup> setup_;
    CollectedErrors errors_;
};

// One setup dialog, made on a setup the way its parent makes it.
struct SetupDialogCase {
    int templateId;
    const char* name;  // as the template file is named
    std::function<std::unique_ptr<CDialog>(CQel_Setup&)> make;
};

inline const std::vector<SetupDialogCase>& SetupDialogs() {
    static const std::vector<SetupDialogCase> dialogs = {
        {106, "drive-setup",
         [](CQel_Setup& s) { return std::make_unique<CDriveSetupDlg>(&s, nullptr); }},
        {108, "motor-setup",
         [](CQel_Setup& s) { return std::make_unique<CMotorSetupDialog>(&s, nullptr); }},
        {110, "advanced",
         [](CQel_Setup& s) { return std::make_unique<CAdvancedDialog>(&s, nullptr); }},
        {111, "external-reference-setup",
         [](CQel_Setup& s) { return std::make_unique<CAnalogReferenceDlg>(&s, nullptr); }},
        {295, "filters",
         [](CQel_Setup& s) { return std::make_unique<CFiltersDialog>(&s, false, nullptr); }},
        {3018, "drive-info",
         [](CQel_Setup& s) { return std::make_unique<CDriveInfo>(&s, nullptr); }},
        {3056, "motor-inertia",
         [](CQel_Setup& s) { return std::make_unique<CInertiaQuestion>(&s, nullptr); }},
    };
    return dialogs;
}

// The drive-test dialogs, drawn before any test runs (no drive is needed for that).
// The scope settings dialog over a scope logging the speed test's four variables; the logger lives
// as long as the dialog.
class ScopeSettingsOnSetup {
  protected:
    explicit ScopeSettingsOnSetup(CQel_Setup& setup) : ownedScope_(&setup) {
        for (const char* variable :
             {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"}) {
            ownedScope_.AddVariable(variable, 1);
        }
        ownedScope_.ChangeSettings(0.2, 4, 1, "Speed_Reference", 10.0, 10);
        ownedScope_.LocateItems();
    }
    CQel_ScopeLogger ownedScope_;
};

class ScopeSettingsDialog : private ScopeSettingsOnSetup, public CScopeSettingsDlg {
  public:
    explicit ScopeSettingsDialog(CQel_Setup& setup)
        : ScopeSettingsOnSetup(setup), CScopeSettingsDlg(ownedScope_, &setup, nullptr) {}
};

inline const std::vector<SetupDialogCase>& DriveTestDialogs() {
    static const std::vector<SetupDialogCase> dialogs = {
        {105, "vdc-detection-test",
         [](CQel_Setup& s) { return std::make_unique<CTestVdcDetection>(&s, nullptr); }},
        {290, "resistance-inductance-test",
         [](CQel_Setup& s) { return std::make_unique<CTestRL>(&s, nullptr); }},
        {289, "pole-pairs-detection-test",
         [](CQel_Setup& s) { return std::make_unique<CDetectPolePairs>(&s, nullptr); }},
        {288, "phase-connection-test",
         [](CQel_Setup& s) { return std::make_unique<CTestPhaseConnections>(&s, nullptr); }},
        {104, "analogue-reference-test",
         [](CQel_Setup& s) { return std::make_unique<CTestAnalogueRef>(&s, nullptr); }},
        {3041, "total-inertia-test",
         [](CQel_Setup& s) { return std::make_unique<CTotalInertiaTest>(&s, nullptr); }},
        {3058, "encoder-offset-test",
         [](CQel_Setup& s) { return std::make_unique<CTestEncoderOffset>(&s, nullptr); }},
        {292, "encoder-resolution-test",
         [](CQel_Setup& s) { return std::make_unique<CDetectEncoderResolution>(&s, nullptr); }},
        {291, "encoder-connections-test",
         [](CQel_Setup& s) { return std::make_unique<CTestEncoderConnections>(&s, nullptr); }},
        {3057, "angle-controller-test",
         [](CQel_Setup& s) { return std::make_unique<CTestAngle>(&s, nullptr); }},
        // The controller tuning tests' templates, drawn on the test base until their classes
        // exist.
        {101, "current-controller-test",
         [](CQel_Setup& s) { return std::make_unique<CTestCurrent>(&s, nullptr); }},
        {102, "speed-controller-test",
         [](CQel_Setup& s) { return std::make_unique<CTestSpeedTuning>(&s, nullptr); }},
        {103, "position-controller-test",
         [](CQel_Setup& s) { return std::make_unique<CTestPositionTuning>(&s, nullptr); }},
        {CScopeSettingsDlg::kTemplateId, "scope-settings",
         [](CQel_Setup& s) { return std::make_unique<ScopeSettingsDialog>(s); }},
    };
    return dialogs;
}

inline void PrintTo(const SetupDialogCase& dialog, std::ostream* os) {
    *os << dialog.templateId << "-" << dialog.name;
}
