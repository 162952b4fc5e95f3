#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "dialogs/AdvancedDlg.h"
#include "dialogs/DriveSetupDlg.h"
#include "dialogs/MySetupDlg.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

using ui::headless::DialogDriver;

class MySetupDlgTest : public DialogTest {
  protected:
    // A bare setup dialog on the Drive Setup template with Kp_C_scl, In and InPS bound.
    void RunBare(const std::function<void(DialogDriver&, CMySetupDlg&)>& action,
                 const char* gain = "Kp_C_scl", int gainEditId = 3173) {
        CMySetupDlg dialog(setup_.get(), CDriveSetupDlg::kTemplateId, 1, nullptr, nullptr);
        dialog.AddParameterControls(gain, gainEditId, 0);
        dialog.AddParameterControls("In", 3163, 3166);
        dialog.AddParameterControls("InPS", 3169, 3170);
        ui_->When(CDriveSetupDlg::kTemplateId, [&](DialogDriver& d) {
            action(d, dialog);
            d.Click(IDCANCEL);
        });
        dialog.DoModal();
        ExpectScriptCompleted();
    }
};

struct GainRow {
    const char* name;
    int editId;
    const char* typed;
    const char* mantissa;
    const char* shift;
    const char* secondShift = nullptr;  // the acceleration feed-forward shares its shift
};

class GainRequantisationTest : public MySetupDlgTest,
                               public ::testing::WithParamInterface<GainRow> {};

TEST_P(GainRequantisationTest, TypedGainShowsValueTheRegistersHold) {
    const GainRow row = GetParam();
    const double typed = std::stod(row.typed);
    RunBare(
        [&](DialogDriver& d, CMySetupDlg& dialog) {
            d.Type(row.editId, row.typed);
            const double shift = Base(row.shift) + (row.secondShift ? Base(row.secondShift) : 0.0);
            EXPECT_EQ(Base(row.mantissa), HeldMantissa(typed));
            EXPECT_EQ(shift, SplitGain(typed).shift);
            EXPECT_DOUBLE_EQ(Base(row.name), HeldGain(typed));
            EXPECT_NE(Base(row.name), typed);
            EXPECT_EQ(d.Text(row.editId), dialog.FormatParameterValue(Parameter(row.name)));
        },
        row.name, row.editId);
}

INSTANTIATE_TEST_SUITE_P(
    Gains, GainRequantisationTest,
    ::testing::Values(GainRow{"Kp_C_scl", 3173, "10.0001", "KPI", "SFTKPI"},
                      GainRow{"Ki_C_scl", 3176, "2.00007", "KII", "SFTKII"},
                      GainRow{"Kp_S_scl", 3179, "14.00003", "KPS", "SFTKPS"},
                      GainRow{"Ki_S_scl", 3180, "1.000013", "KIS", "SFTKIS"},
                      GainRow{"Kp_P_scl", 3190, "0.0500003", "KPP", "SFTKPP"},
                      GainRow{"Ki_P_scl", 3191, "0.00061", "KIP", "SFTKIP"},
                      GainRow{"Kd_P_scl", 3192, "0.3000007", "KDP", "SFTKDP"},
                      GainRow{"KFFA_scl", 3183, "5000.3", "KFFA", "SFTKFF", "SFTAFFW"},
                      GainRow{"KFFS_scl", 3393, "0.7000007", "KFFS", "SFTSFFW"}),
    RowName());

struct NominalCurrentRow {
    const char* name;
    int editId;
    const char* typed;
    bool angleController;
    double max_A;
    double min_A;
};

class NominalCurrentTest : public MySetupDlgTest,
                           public ::testing::WithParamInterface<NominalCurrentRow> {};

TEST_P(NominalCurrentTest, MaxCurrentRangeFollowsSmallerNominalCurrent) {
    const NominalCurrentRow row = GetParam();
    ASSERT_EQ(Base("In"), 3.5);
    ASSERT_EQ(Base("InPS"), 8.0);
    Parameter("MAX_CURRENT").SetMinInBaseUnit(-1.0);
    if (!row.angleController) {
        Remove("KPTHT");
    }
    const double kpi = Base("KPI");
    RunBare([&](DialogDriver& d, CMySetupDlg&) { d.Type(row.editId, row.typed); });
    EXPECT_EQ(Parameter("MAX_CURRENT").GetMaxInBaseUnit(), row.max_A);
    EXPECT_EQ(Parameter("MAX_CURRENT").GetMinInBaseUnit(), row.min_A);
    EXPECT_EQ(Base("KPI"), kpi);
    EXPECT_TRUE(errors_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NominalCurrentTest,
    ::testing::Values(NominalCurrentRow{"MotorSmaller", 3163, "3", true, 3.0, 0.0},
                      NominalCurrentRow{"DriveSmaller", 3169, "2.5", true, 2.5, 0.0},
                      NominalCurrentRow{"DriveLarger", 3169, "12", true, 3.5, 0.0},
                      NominalCurrentRow{"NoAngleController", 3163, "3", false, 3.5, -1.0}),
    RowName());

struct ChildRow {
    const char* name;
    bool computeBefore = true;
    bool limitsBefore = false;
    bool refreshAll = true;
    bool updateData = true;
    bool opens = true;
    INT_PTR result = IDOK;
    // What the child sees and what the parent holds afterwards.
    bool registersFollowBefore = true;
    bool limitsComputedBefore = false;
    bool recomputedAfter = true;
    bool redisplayed = true;
};

class OpenChildTest : public MySetupDlgTest, public ::testing::WithParamInterface<ChildRow> {};

TEST_P(OpenChildTest, EngineStepsAroundChild) {
    const ChildRow row = GetParam();
    const double staleKpi = Base("KPI");
    const double computedMax = Parameter("PB_C").GetMaxInBaseUnit();
    Force("Kp_C_scl", 12.0);
    Parameter("PB_C").SetMaxInBaseUnit(1e9);
    CMySetupDlg::ChildSteps steps{
        row.computeBefore, row.limitsBefore, {}, row.refreshAll, row.updateData};
    std::string order;
    steps.beforeRecompute = [&] {
        order += "step;";
        Force("Kp_C_scl", 3.0);
    };
    double kpiInChild = 0.0;
    double maxInChild = 0.0;
    CMySetupDlg::ChildRunner runner;
    if (row.opens) {
        runner = [&] {
            order += "child;";
            kpiInChild = Base("KPI");
            maxInChild = Parameter("PB_C").GetMaxInBaseUnit();
            Force("Kp_C_scl", 5.0);
            return row.result;
        };
    }
    RunBare([&](DialogDriver& d, CMySetupDlg& dialog) {
        const std::string before = d.Text(3173);
        EXPECT_EQ(dialog.OpenChild(runner, steps), row.result == IDOK && row.opens);
        EXPECT_EQ(d.Text(3173) != before, row.redisplayed);
    });
    if (row.opens) {
        EXPECT_EQ(kpiInChild, row.registersFollowBefore ? HeldMantissa(12.0) : staleKpi);
        EXPECT_EQ(maxInChild, row.limitsComputedBefore ? computedMax : 1e9);
    }
    EXPECT_EQ(order, row.recomputedAfter ? "child;step;" : (row.opens ? "child;" : ""));
    EXPECT_EQ(Base("KPI"), row.recomputedAfter ? HeldMantissa(3.0)
                           : row.opens         ? kpiInChild
                                               : HeldMantissa(12.0));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenChildTest,
    ::testing::Values(
        ChildRow{.name = "Ok"},
        ChildRow{.name = "WithLimits", .limitsBefore = true, .limitsComputedBefore = true},
        ChildRow{
            .name = "WithoutStepsBefore", .computeBefore = false, .registersFollowBefore = false},
        ChildRow{
            .name = "Cancel", .result = IDCANCEL, .recomputedAfter = false, .redisplayed = false},
        ChildRow{
            .name = "NotAvailable", .opens = false, .recomputedAfter = false, .redisplayed = false},
        ChildRow{.name = "OnlyRefresh", .updateData = false},
        ChildRow{.name = "OnlyRules", .refreshAll = false},
        ChildRow{
            .name = "NoRedisplay", .refreshAll = false, .updateData = false, .redisplayed = false}),
    RowName());

struct HelpRow {
    const char* name;
    std::function<std::unique_ptr<CMySetupDlg>(CQel_Setup*)> make;
    int templateId;
    DWORD_PTR topic;
    const char* hostFile;
    const char* setupFile;  // the setup's own help file, or null
    const char* opened;     // null: nothing opens
};

class HelpTest : public DialogTest, public ::testing::WithParamInterface<HelpRow> {};

TEST_P(HelpTest, HelpButtonOpensTopicOfDialog) {
    const HelpRow& row = GetParam();
    qel::SetGUIDirectory("/opt/host");
    qel::SetHelpFileOfGUI(row.hostFile);
    if (row.setupFile != nullptr) {
        setup_->SetOption("GUIHelpFile", row.setupFile);
    }
    std::unique_ptr<CMySetupDlg> dialog = row.make(setup_.get());
    ui_->When(row.templateId, [](DialogDriver& d) {
        d.Click(CMySetupDlg::kHelpButtonId);
        d.Click(IDCANCEL);
    });
    dialog->DoModal();
    ASSERT_EQ(ui_->HelpRequests().size(), row.opened != nullptr ? 1U : 0U);
    if (row.opened != nullptr) {
        EXPECT_EQ(ui_->HelpRequests()[0].file, row.opened);
        EXPECT_EQ(ui_->HelpRequests()[0].topic, row.topic);
    }
    EXPECT_TRUE(ui_->MessageBoxes().empty());
    ExpectScriptCompleted();
}

std::unique_ptr<CMySetupDlg> MakeDriveSetup(CQel_Setup* setup) {
    return std::make_unique<CDriveSetupDlg>(setup, nullptr);
}
std::unique_ptr<CMySetupDlg> MakeAdvanced(CQel_Setup* setup) {
    return std::make_unique<CAdvancedDialog>(setup, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Rows, HelpTest,
                         ::testing::Values(HelpRow{"DriveSetup", MakeDriveSetup, 106, 0x40106,
                                                   "host.chm", nullptr, "/opt/host/host.chm"},
                                           HelpRow{"Advanced", MakeAdvanced, 110, 0x40113,
                                                   "host.chm", nullptr, "/opt/host/host.chm"},
                                           HelpRow{"SetupsOwnFile", MakeDriveSetup, 106, 0x40106,
                                                   "", "axis.chm", "/opt/host/axis.chm"},
                                           HelpRow{"NoHelpFile", MakeAdvanced, 110, 0x40113, "",
                                                   nullptr, nullptr}),
                         RowName());

}  // namespace
