#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/MotorSetupDlg.h"
#include "drive/SimulatedDrive.h"
#include "drivetests/TestPhaseConnections.h"
#include "engine/BaseScales.h"
#include "tests/drivetests/DriveTestSupport.h"
#include "tests/drivetests/ProgramStandIn.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 288;
constexpr int kPhaseAEdit = 1020;
constexpr int kPhaseABar = 1021;
constexpr int kPhaseBEdit = 1022;
constexpr int kPhaseBBar = 1023;
constexpr double kBench_V = 48.0;
constexpr const char* kProgram = "Motor_Phase_Connection_Test";
// A cut return lead leaves phase A's current nowhere to go: the bridge's protection trips.
constexpr const char* kProtection = "Drive / Motor shortcircuit protection triggered.";

class PhaseConnectionsTest : public DriveTestDialogTest {
  protected:
    double TestCurrent_A() { return Base("TestCurrent"); }

    // Both bars reach half as far again as the test current either way and show the currents.
    void ExpectBars(DialogDriver& d, double phaseA_A, double phaseB_A) {
        const double reach_A = 1.5 * TestCurrent_A();
        for (const int bar : {kPhaseABar, kPhaseBBar}) {
            EXPECT_NEAR(d.BarGraph(bar).leftLimit, -reach_A, 1e-9 * reach_A);
            EXPECT_NEAR(d.BarGraph(bar).rightLimit, reach_A, 1e-9 * reach_A);
        }
        EXPECT_EQ(d.BarGraph(kPhaseABar).value, phaseA_A);
        EXPECT_EQ(d.BarGraph(kPhaseBBar).value, phaseB_A);
    }

    // The drive's program reports these phase currents (amperes) instead of measuring them.
    void ReportCurrents(double phaseA_A, double phaseB_A) {
        const double scale = ComputeCurrentScale(*setup_);
        const NamedValues currents = {{"var_i1", phaseA_A * scale}, {"var_i2", phaseB_A * scale}};
        ConnectLink(LinkWithStandIn(*axis_, kProgram, [currents] {
            return std::make_unique<ProgramStandIn>(
                kProgram, std::vector<std::string>{"RefTest", "RIncTest"}, NamedValues{}, currents,
                ProgramStandIn::Run::EndsAtOnce);
        }));
    }
};

std::string MotorName(const ::testing::TestParamInfo<const char*>& motor) {
    std::string name = motor.param;
    name = name.substr(0, name.find('.'));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

class PhaseConnectionsOnMotor : public PhaseConnectionsTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(PhaseConnectionsOnMotor, SoundWiringPassesWithBothCurrentsShown) {
    SetUpDrive(kBench_V, GetParam(), Belief::Nameplate);
    CTestPhaseConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ExpectBars(d, 0.0, 0.0);
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Running test");
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        const double phaseA_A = test.GetPhaseACurrent_A();
        const double phaseB_A = test.GetPhaseBCurrent_A();
        EXPECT_NEAR(phaseA_A, TestCurrent_A(), 0.1 * TestCurrent_A());
        EXPECT_NEAR(phaseB_A, -0.5 * TestCurrent_A(), 0.1 * TestCurrent_A());
        EXPECT_EQ(std::stod(d.Text(kPhaseAEdit)), phaseA_A);
        EXPECT_EQ(std::stod(d.Text(kPhaseBEdit)), phaseB_A);
        ExpectBars(d, phaseA_A, phaseB_A);
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, PhaseConnectionsOnMotor,
                         ::testing::Values("reference-axis-motor.json", "large-motor.json",
                                           "small-delta-motor.json"),
                         MotorName);

struct WiringFault {
    const char* name;
    drive::Fault fault;
    const char* error;
};

class PhaseConnectionsMiswired : public PhaseConnectionsTest,
                                 public ::testing::WithParamInterface<WiringFault> {};

TEST_P(PhaseConnectionsMiswired, ACutLeadFailsWithWhatTheDriveSaw) {
    SetUpDrive(kBench_V);
    axis_->InjectFault(GetParam().fault);
    CTestPhaseConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), GetParam().error);
        EXPECT_TRUE(d.IsVisible(CQel_TestDlg::kDetailsId));
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Start");
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(
    Leads, PhaseConnectionsMiswired,
    ::testing::Values(WiringFault{"PhaseA", drive::Fault::DisconnectedPhaseA,
                                  CQel_TestDlg::msc_pszErrInZero},
                      WiringFault{"PhaseB", drive::Fault::DisconnectedPhaseB, kProtection},
                      WiringFault{"PhaseC", drive::Fault::DisconnectedPhaseC, kProtection}),
    [](const ::testing::TestParamInfo<WiringFault>& fault) {
        return std::string(fault.param.name);
    });

struct Reported {
    const char* name;
    double phaseA_A;
    double phaseB_A;
    bool passes;
};

class PhaseConnectionsReported : public PhaseConnectionsTest,
                                 public ::testing::WithParamInterface<Reported> {};

TEST_P(PhaseConnectionsReported, JudgesTheReportedCurrentsAtATwoAmpereTestCurrent) {
    SetUpDrive(kBench_V);
    ForceParameter(*setup_, "TestCurrent", 2.0);
    ReportCurrents(GetParam().phaseA_A, GetParam().phaseB_A);
    CTestPhaseConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetPhaseACurrent_A(), GetParam().phaseA_A);
        EXPECT_EQ(test.GetPhaseBCurrent_A(), GetParam().phaseB_A);
        if (GetParam().passes) {
            EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
            ExpectBars(d, GetParam().phaseA_A, GetParam().phaseB_A);
        } else {
            EXPECT_EQ(test.GetResultState(), 0);
            EXPECT_EQ(test.GetErrorText(), CTestPhaseConnections::kFailureMessage);
        }
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(Currents, PhaseConnectionsReported,
                         ::testing::Values(Reported{"Sound", 2.0, -1.0, true},
                                           Reported{"NoReturnInB", 2.0, 0.0, false},
                                           Reported{"SwappedPhases", -2.0, 1.0, false},
                                           Reported{"RatioOneAndAHalf", 1.5, -1.0, false},
                                           Reported{"RatioTwoAndAHalf", 2.5, -1.0, false},
                                           Reported{"ThreeFifthsOfTest", 1.2, -0.6, false},
                                           Reported{"SevenFifthsOfTest", 2.8, -1.4, false},
                                           Reported{"JustInside", 1.22, -0.6, true}),
                         [](const ::testing::TestParamInfo<Reported>& row) {
                             return std::string(row.param.name);
                         });

TEST_F(PhaseConnectionsTest, AShortCircuitFailsWithTheProtectionsText) {
    SetUpDrive(kBench_V);
    axis_->InjectFault(drive::Fault::ShortCircuit);
    CTestPhaseConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), kProtection);
        EXPECT_EQ(d.Text(kPhaseAEdit), "");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

TEST_F(PhaseConnectionsTest, ASetupWithoutACurrentRangeFailsInsteadOfJudgingInfiniteCurrents) {
    SetUpDrive(kBench_V);
    ForceParameter(*setup_, "ImaxPS", 0.0);
    CTestPhaseConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), CQel_TestDlg::msc_pszErrInternal);
        // It fails only when judging: the drive ran both programs.
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Running test");
        EXPECT_EQ(d.Text(kPhaseAEdit), "");
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

TEST_F(PhaseConnectionsTest, ARunStartsFromZeroAndFollowsANewTestCurrent) {
    SetUpDrive(kBench_V);
    CTestPhaseConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Type(1005, "1.5");
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(d.Text(kPhaseAEdit), "");
        EXPECT_EQ(d.Text(kPhaseBEdit), "");
        ExpectBars(d, 0.0, 0.0);
        EXPECT_NEAR(d.BarGraph(kPhaseABar).rightLimit, 2.25, 0.01);
        d.Click(CQel_TestDlg::kStartStopId);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

TEST_F(PhaseConnectionsTest, MotorSetupOpensTheTest) {
    SetUpDrive(kBench_V);
    bool opened = false;
    ui_->When(108, [](DialogDriver& d) { d.Click(1175); });
    ui_->When(kTemplate, [&](DialogDriver& d) {
        opened = true;
        d.Click(IDCANCEL);
    });
    ui_->When(108, [](DialogDriver& d) { d.Click(IDCANCEL); });
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_TRUE(opened);
}

}  // namespace
