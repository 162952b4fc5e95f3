#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/DriveInfoDlg.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

using ui::headless::DialogDriver;

class DriveInfoDlgTest : public DialogTest {
  protected:
    int Run(const ui::headless::DialogAction& action) {
        ui_->When(CDriveInfo::kTemplateId, action);
        CDriveInfo dialog(setup_.get(), nullptr);
        return static_cast<int>(dialog.DoModal());
    }
    static void ToggleEditMode(DialogDriver& d) {
        d.PressKey(CDriveInfo::kServiceKey, ui::Modifiers{true, true, true});
    }
};

// Drive data: editable only in the service edit mode (every protection of the reference is on).
const std::vector<int> kDriveData = {3087, 3089, 3092, 3094, 1159, 1161, 1163, 1179,
                                     3097, 3103, 3105, 3107, 3325, 1165, 1167, 1169,
                                     1171, 1173, 1175, 1177, 3275, 3276, 3277, 3278};
// Always enabled: the application ID, unit combos and the captions of protections that are on.
const std::vector<int> kAlwaysEnabled = {3114, 3088, 3090, 3093, 3095, 1160, 1162, 1164, 1180,
                                         1166, 3098, 1170, 3104, 1174, 3109, 1178, 3326};

std::vector<Look> EnabledAll(const std::vector<int>& ids, bool on) {
    std::vector<Look> looks;
    for (int id : ids) {
        looks.push_back(Enabled(id, on));
    }
    return looks;
}

TEST_F(DriveInfoDlgTest, KeyChordTogglesDriveDataEditing) {
    Run([&](DialogDriver& d) {
        for (const bool editing : {false, true, false}) {
            ExpectLooks(d, EnabledAll(kDriveData, editing));
            ExpectLooks(d, EnabledAll(kAlwaysEnabled, true));
            EXPECT_EQ(static_cast<CDriveInfo&>(d.Dialog()).IsInEditMode(), editing);
            ToggleEditMode(d);
        }
        d.Click(IDCANCEL);
    });
    ExpectScriptCompleted();
}

struct ChordRow {
    const char* name;
    UINT key;
    ui::Modifiers modifiers;
    bool toggles;
};

class KeyChordTest : public DriveInfoDlgTest, public ::testing::WithParamInterface<ChordRow> {};

TEST_P(KeyChordTest, OnlyFullChordTogglesEditMode) {
    const ChordRow row = GetParam();
    Run([&](DialogDriver& d) {
        d.PressKey(row.key, row.modifiers);
        EXPECT_EQ(d.IsEnabled(1159), row.toggles);
        d.Click(IDCANCEL);
    });
    ExpectScriptCompleted();
}

constexpr UINT kKey = CDriveInfo::kServiceKey;
INSTANTIATE_TEST_SUITE_P(Rows, KeyChordTest,
                         ::testing::Values(ChordRow{"Full", kKey, {true, true, true}, true},
                                           ChordRow{"NoShift", kKey, {true, true, false}, false},
                                           ChordRow{"NoAlt", kKey, {true, false, true}, false},
                                           ChordRow{"NoControl", kKey, {false, true, true}, false},
                                           ChordRow{
                                               "OtherKey", kKey + 1, {true, true, true}, false}),
                         RowName());

struct ProtectionRow {
    const char* name;
    const char* flag;
    int checkId;
    std::vector<int> edits;   // enabled in edit mode with the flag on
    std::vector<int> labels;  // enabled with the flag on, whatever the mode
};

class ProtectionTest : public DriveInfoDlgTest,
                       public ::testing::WithParamInterface<ProtectionRow> {};

TEST_P(ProtectionTest, FieldsFollowTheirFlag) {
    const ProtectionRow& row = GetParam();
    Force(row.flag, 0);
    Run([&](DialogDriver& d) {
        ExpectLooks(d, EnabledAll(row.labels, false));
        ToggleEditMode(d);
        ExpectLooks(d, EnabledAll(row.edits, false));
        d.Click(row.checkId);
        EXPECT_EQ(Base(row.flag), 1.0);
        ExpectLooks(d, EnabledAll(row.edits, true));
        ToggleEditMode(d);
        ExpectLooks(d, EnabledAll(row.edits, false));
        ExpectLooks(d, EnabledAll(row.labels, true));
        d.Click(IDCANCEL);
    });
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProtectionTest,
    ::testing::Values(
        ProtectionRow{"Sensor",
                      "isDriveTemperatureSensor",
                      3097,
                      {1165, 1167, 3325},
                      {1166, 1168, 3098, 3101}},
        ProtectionRow{"OverVoltage", "isOverVoltage", 3103, {1169}, {1170, 3104}},
        ProtectionRow{"UnderVoltage", "isUnderVoltage", 3105, {1171}, {1172, 3106}},
        ProtectionRow{"I2t", "isDriveI2t", 3107, {1173, 1175}, {1174, 3108, 1176, 3109}},
        ProtectionRow{"OverTemperature", "isDriveOverTemp", 3325, {1177}, {1178, 3326}}),
    RowName());

struct TemperatureRow {
    const char* name;
    double sensor;
    int clicked;
    double sensorAfter;
    double overTemperatureAfter;
};

class TemperatureTest : public DriveInfoDlgTest,
                        public ::testing::WithParamInterface<TemperatureRow> {};

TEST_P(TemperatureTest, OverTemperatureProtectionNeedsSensor) {
    const TemperatureRow row = GetParam();
    Force("isDriveTemperatureSensor", row.sensor);
    Force("isDriveOverTemp", 1);
    Run([&](DialogDriver& d) {
        ToggleEditMode(d);
        d.Click(row.clicked);
        ExpectValues({{"isDriveTemperatureSensor", row.sensorAfter},
                      {"isDriveOverTemp", row.overTemperatureAfter}});
        EXPECT_EQ(d.IsChecked(3325), row.overTemperatureAfter == 1.0);
        d.Click(IDCANCEL);
    });
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(Rows, TemperatureTest,
                         ::testing::Values(TemperatureRow{"SensorOff", 1, 3097, 0, 0},
                                           TemperatureRow{"OtherFlagNoSensor", 0, 3103, 0, 0},
                                           TemperatureRow{"OtherFlagSensor", 1, 3105, 1, 1}),
                         RowName());

TEST_F(DriveInfoDlgTest, IdentificationComesFromSetup) {
    setup_->SetE2ROMSize(8192);
    Run([&](DialogDriver& d) {
        ExpectLooks(
            d, {Text(3275, "BRV-4816 Servo Drive"), Text(3277, "BRV-4816-SC"), Text(3276, "8"),
                Text(3278, "FW4816.2.14"), Text(3114, "Reference axis, 1024-line sin-cos motor")});
        EXPECT_EQ(d.Control(3114)->limitText, 40U);
        d.Click(IDCANCEL);
    });
    ExpectScriptCompleted();
}

TEST_F(DriveInfoDlgTest, E2romSizeShownInKwords) {
    for (const auto& [words, shown] : std::vector<std::pair<std::uint16_t, std::string>>{
             {8192, "8"}, {16384, "16"}, {1023, "0"}, {65535, "63"}}) {
        setup_->SetE2ROMSize(words);
        Run([&](DialogDriver& d) {
            EXPECT_EQ(d.Text(3276), shown) << words;
            d.Click(IDCANCEL);
        });
    }
}

struct OkRow {
    const char* name;
    const char* e2rom;
    const char* firmware;
    std::uint16_t e2romWords;
    const char* firmwareKept;
    std::vector<std::string> messages{};
};

class OkTest : public DriveInfoDlgTest, public ::testing::WithParamInterface<OkRow> {};

TEST_P(OkTest, OkStoresIdentificationAndRegisters) {
    const OkRow& row = GetParam();
    Force("Kp_C_scl", 12.0);
    const int result = Run([&](DialogDriver& d) {
        EXPECT_TRUE(d.Type(3114, "Axis 2 of the press"));
        ToggleEditMode(d);
        d.Type(3277, "BRV-4816-SD");
        d.Type(3275, "Press drive");
        d.Type(3276, row.e2rom);
        d.EnterText(3278, row.firmware);
        d.Click(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(setup_->GetUserAppID(), "Axis 2 of the press");
    EXPECT_EQ(setup_->GetProductID(), "BRV-4816-SD");
    EXPECT_EQ(setup_->GetDescription(), "Press drive");
    EXPECT_EQ(setup_->GetE2ROMSize(), row.e2romWords);
    EXPECT_EQ(setup_->GetFirmwareID(), row.firmwareKept);
    EXPECT_EQ(MessageTexts(), row.messages);
    EXPECT_EQ(Base("KPI"), HeldMantissa(12.0));
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OkTest,
    ::testing::Values(OkRow{"Sixteen", "16", "FW4816.3.0", 16384, "FW4816.3.0"},
                      OkRow{"Eight", "8", "FW4816.3.0", 8192, "FW4816.3.0"},
                      OkRow{"Largest", "63", "FW4816.3.0", 64512, "FW4816.3.0"},
                      OkRow{"TooLarge", "64", "FW4816.3.0", 64512, "FW4816.3.0"},
                      OkRow{"WithUnit", "12 Kwords", "FW4816.3.0", 12288, "FW4816.3.0"},
                      OkRow{"NotANumber", "none", "FW4816.3.0", 0, "FW4816.3.0"},
                      OkRow{"Negative", "-3", "FW4816.3.0", 0, "FW4816.3.0"},
                      OkRow{"FirmwareRefused",
                            "16",
                            "4816 firmware!",
                            16384,
                            "FW4816.2.14",
                            {"Error setting the firmware ID!"}}),
    RowName());

TEST_F(DriveInfoDlgTest, CancelStoresNothing) {
    Force("Kp_C_scl", 12.0);
    const double kpi = Base("KPI");
    Run([&](DialogDriver& d) {
        d.Type(3114, "Changed");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(setup_->GetUserAppID(), "Reference axis, 1024-line sin-cos motor");
    EXPECT_EQ(Base("KPI"), kpi);
}

}  // namespace
