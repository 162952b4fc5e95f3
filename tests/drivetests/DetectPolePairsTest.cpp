#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <string>

#include "dialogs/MotorSetupDlg.h"
#include "drivetests/DetectPolePairs.h"
#include "tests/drivetests/DriveTestSupport.h"
#include "tests/drivetests/ProgramStandIn.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 289;
constexpr int kMoveButton = 1021;
constexpr int kCountEdit = 3126;
constexpr double kBench_V = 48.0;
// What the user believed before the test: no example motor has two pole pairs.
constexpr double kGuessedPolePairs = 2.0;
// The user sees the shaft back at the mark within a few degrees.
constexpr double kMarkTolerance_rad = 0.05;
// More moves than any example motor has pole pairs: the user gives up.
constexpr int kMostMoves = 12;
// The time the user lets the shaft settle before looking at it.
constexpr std::uint64_t kLook_ms = 100;

class PolePairsTest : public DriveTestDialogTest {
  protected:
    // The motor described truly but for its pole pairs, which the user guessed.
    void SetUpGuess(const std::string& motorFile) {
        SetUpDrive(kBench_V, motorFile, Belief::Nameplate);
        ForceParameter(*setup_, "pp", kGuessedPolePairs);
    }

    // Presses Start and waits until the drive holds the rotor and offers Move.
    static void StartUntilMoveIsOffered(DialogDriver& d, const CQel_TestDlg& test) {
        constexpr std::uint64_t kTick_ms = 20;
        constexpr std::uint64_t kBound_ms = 10000;
        d.Click(CQel_TestDlg::kStartStopId);
        for (std::uint64_t waited_ms = 0;
             test.IsRunning() && !d.IsVisible(kMoveButton) && waited_ms < kBound_ms;
             waited_ms += kTick_ms) {
            d.AdvanceTime(kTick_ms);
        }
        ASSERT_TRUE(d.IsVisible(kMoveButton)) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Waiting for user input");
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Stop");
    }

    // The scripted user marks the shaft, then presses Move until the shaft is back at the mark;
    // returns the number of moves.
    int MoveUntilBackAtMark(DialogDriver& d) {
        d.AdvanceTime(kLook_ms);
        const double mark_rad = axis_->Motor().ShaftAngle_rad();
        int moves = 0;
        double away_rad = 0.0;
        do {
            if (!d.Click(kMoveButton)) {
                return moves;
            }
            ++moves;
            EXPECT_TRUE(d.IsEnabled(kMoveButton));
            EXPECT_EQ(ui_->CurrentCursor(), ui::Cursor::Arrow);
            EXPECT_EQ(d.Text(kCountEdit), std::to_string(moves));
            d.AdvanceTime(kLook_ms);
            away_rad =
                std::remainder(axis_->Motor().ShaftAngle_rad() - mark_rad, 2.0 * std::numbers::pi);
        } while (std::abs(away_rad) > kMarkTolerance_rad && moves < kMostMoves);
        return moves;
    }

    // Waits until the run concludes after Stop.
    static void FinishRun(DialogDriver& d, const CQel_TestDlg& test) {
        constexpr std::uint64_t kTick_ms = 20;
        constexpr std::uint64_t kBound_ms = 5000;
        for (std::uint64_t waited_ms = 0; test.IsRunning() && waited_ms < kBound_ms;
             waited_ms += kTick_ms) {
            d.AdvanceTime(kTick_ms);
        }
        EXPECT_FALSE(test.IsRunning());
    }
};

class PolePairsOnMotor : public PolePairsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PolePairsOnMotor, CountsTheMovesUntilTheShaftIsBackAndKeepsThemOnYes) {
    SetUpGuess(GetParam());
    CDetectPolePairs test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(kMoveButton));
        StartUntilMoveIsOffered(d, test);
        EXPECT_EQ(MoveUntilBackAtMark(d), motor_.polePairs);
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_FALSE(d.IsVisible(kMoveButton));
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Running test");
        FinishRun(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        EXPECT_EQ(d.Text(kCountEdit), std::to_string(motor_.polePairs));
        EXPECT_EQ(Base("pp"), motor_.polePairs);
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Pole Pairs", IDYES);
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_EQ(Base("pp"), motor_.polePairs);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    EXPECT_EQ(ui_->MessageBoxes()[0].text,
              "A different value than specified has been detected for the following "
              "parameter(s):\r\n\r\nPole Pairs:\tOld = 2\tNew = " +
                  std::to_string(motor_.polePairs) +
                  "\r\n\r\nDo you want to save the new value(s)? (Recommended)");
    EXPECT_EQ(ui_->MessageBoxes()[0].type, MB_YESNOCANCEL | MB_ICONQUESTION);
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, PolePairsOnMotor,
                         ::testing::Values("reference-axis-motor.json", "large-motor.json",
                                           "small-delta-motor.json"),
                         [](const ::testing::TestParamInfo<const char*>& motor) {
                             std::string name = motor.param;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(PolePairsTest, NoRestoresTheOldCountAndCancelKeepsTheDialogOpen) {
    SetUpGuess("reference-axis-motor.json");
    CDetectPolePairs test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        StartUntilMoveIsOffered(d, test);
        MoveUntilBackAtMark(d);
        d.Click(CQel_TestDlg::kStartStopId);
        FinishRun(d, test);
        d.Click(IDCANCEL);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_EQ(d.Text(kCountEdit), "3");
        EXPECT_EQ(Base("pp"), 3.0);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Pole Pairs", IDCANCEL);
    ui_->ExpectMessageBox("Pole Pairs", IDNO);
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("pp"), kGuessedPolePairs);
    EXPECT_EQ(ui_->MessageBoxes().size(), 2U);
}

TEST_F(PolePairsTest, StopBeforeAnyMoveEndsTheRunWithoutACount) {
    SetUpGuess("reference-axis-motor.json");
    CDetectPolePairs test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        StartUntilMoveIsOffered(d, test);
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_FALSE(d.IsVisible(kMoveButton));
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test stopped.");
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Start");
        d.AdvanceTime(1000);
        EXPECT_FALSE(axis_->IsOn());
        EXPECT_EQ(test.GetResultState(), -1);
        EXPECT_EQ(d.Text(kCountEdit), "");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("pp"), kGuessedPolePairs);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

TEST_F(PolePairsTest, ARunAfterAFailedMoveStartsAgainWithoutMoves) {
    SetUpGuess("reference-axis-motor.json");
    CDetectPolePairs test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        StartUntilMoveIsOffered(d, test);
        link_->InjectError(drive::LinkCall::ReadValue, "Timeout on the serial line.", "THTST");
        d.Click(kMoveButton);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), CQel_TestDlg::msc_pszErrInternal);
        EXPECT_FALSE(d.IsVisible(kMoveButton));
        // The second run's Stop before any Move is the kernel's: it writes no count.
        StartUntilMoveIsOffered(d, test);
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test stopped.");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("pp"), kGuessedPolePairs);
}

// What happens to the drive or the dialog while the first move runs, and how the move's wait
// ends: it never outlasts the run, and never the time bound.
struct Interruption {
    const char* name;
    // The drive's program holds the rotor but never moves it.
    bool neverMoves;
    std::function<void(drive::SimulatedDrive& axis, DialogDriver& d)> during;
    bool dialogOpen;
    int resultState;
    const char* resultText;
    std::uint64_t shortest_ms;
    std::uint64_t longest_ms;
};

class MoveInterrupted : public PolePairsTest, public ::testing::WithParamInterface<Interruption> {};

TEST_P(MoveInterrupted, TheMoveWaitEndsWithTheRun) {
    const Interruption& row = GetParam();
    SetUpGuess("reference-axis-motor.json");
    if (row.neverMoves) {
        ConnectLink(LinkWithStandIn(*axis_, "Motor_Pole_Pairs_Detection_Test", [] {
            return std::make_unique<ProgramStandIn>(
                "Motor_Pole_Pairs_Detection_Test",
                std::vector<std::string>{"RefTest", "RIncTest", "poles_pairs"}, NamedValues{},
                NamedValues{}, ProgramStandIn::Run::HoldsUntilStopped);
        }));
    }
    CDetectPolePairs test(setup_.get(), nullptr);
    std::uint64_t moveTook_ms = 0;
    ui_->When(kTemplate, [&](DialogDriver& d) {
        StartUntilMoveIsOffered(d, test);
        const std::uint64_t start_ms = ui_->Now_ms();
        d.Click(kMoveButton);
        moveTook_ms = ui_->Now_ms() - start_ms;
        EXPECT_EQ(ui_->CurrentCursor(), ui::Cursor::Arrow);
        if (row.dialogOpen) {
            FinishRun(d, test);
            EXPECT_EQ(test.GetResultState(), row.resultState);
            EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), row.resultText);
            EXPECT_FALSE(d.IsVisible(kMoveButton));
            d.Click(IDCANCEL);
        }
    });
    // The interruption comes at the first look the move's wait gives the user.
    ui_->When(kTemplate, [&](DialogDriver& d) { row.during(*axis_, d); });
    test.DoModal();
    EXPECT_GE(moveTook_ms, row.shortest_ms);
    EXPECT_LE(moveTook_ms, row.longest_ms);
    EXPECT_FALSE(test.IsRunning());
    EXPECT_FALSE(axis_->IsOn());
    EXPECT_EQ(Base("pp"), row.resultState == 1 ? 1.0 : kGuessedPolePairs);
}

INSTANTIATE_TEST_SUITE_P(
    Interruptions, MoveInterrupted,
    ::testing::Values(
        Interruption{"CloseEndsTheWaitAtOnce", false,
                     [](drive::SimulatedDrive&, DialogDriver& d) { d.Click(IDCANCEL); }, false, -1,
                     "", 0, 5},
        Interruption{"StopLetsTheMoveFinishAndCountsIt", false,
                     [](drive::SimulatedDrive&, DialogDriver& d) {
                         d.Click(CQel_TestDlg::kStartStopId);
                         EXPECT_FALSE(d.IsVisible(kMoveButton));
                     },
                     true, 1, "Test completed successfully.", 300, 1000},
        Interruption{"ShortCircuitEndsTheWaitAtTheBoundWithItsText", false,
                     [](drive::SimulatedDrive& axis, DialogDriver&) {
                         axis.InjectFault(drive::Fault::ShortCircuit);
                     },
                     true, 0, "Drive / Motor shortcircuit protection triggered.",
                     CDetectPolePairs::kLongestMove_ms, CDetectPolePairs::kLongestMove_ms + 5},
        Interruption{"AMoveNeverEndedFailsAtTheBound", true,
                     [](drive::SimulatedDrive&, DialogDriver&) {}, true, 0,
                     CDetectPolePairs::kMoveNotEnded, CDetectPolePairs::kLongestMove_ms,
                     CDetectPolePairs::kLongestMove_ms + 5}),
    [](const ::testing::TestParamInfo<Interruption>& row) { return std::string(row.param.name); });

struct PolePairsFault {
    const char* name;
    std::function<void(drive::SimulatedDrive& axis)> inject;
    const char* error;
};

class PolePairsFailure : public PolePairsTest,
                         public ::testing::WithParamInterface<PolePairsFault> {};

TEST_P(PolePairsFailure, FailsBeforeTheMovesWithItsTextAndChangesNothing) {
    SetUpGuess("reference-axis-motor.json");
    GetParam().inject(*axis_);
    CDetectPolePairs test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test, 5000);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), GetParam().error);
        EXPECT_FALSE(d.IsVisible(kMoveButton));
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("pp"), kGuessedPolePairs);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PolePairsFailure,
    ::testing::Values(PolePairsFault{"OpenPhaseA",
                                     [](drive::SimulatedDrive& axis) {
                                         axis.InjectFault(drive::Fault::DisconnectedPhaseA);
                                     },
                                     CQel_TestDlg::msc_pszErrInZero},
                      PolePairsFault{
                          "EnableInputOff",
                          [](drive::SimulatedDrive& axis) { axis.SetEnableInput(false); },
                          "Drive / Motor ENABLE input is in DISABLED state."}),
    [](const ::testing::TestParamInfo<PolePairsFault>& row) {
        return std::string(row.param.name);
    });

struct HoldReadFault {
    const char* name;
    drive::LinkCall call;
    const char* variable;
    const char* error;
};

class HoldReadFailure : public PolePairsTest,
                        public ::testing::WithParamInterface<HoldReadFault> {};

// While the drive takes hold of the rotor a failed read resets the drive's board.
TEST_P(HoldReadFailure, ResetsTheBoardAndFailsWithItsText) {
    SetUpGuess("reference-axis-motor.json");
    CDetectPolePairs test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        constexpr std::uint64_t kTick_ms = 20;
        d.Click(CQel_TestDlg::kStartStopId);
        for (int tick = 0; tick < 500 && test.IsRunning() &&
                           d.Text(CQel_TestDlg::kStatusTextId) != "Waiting for user input";
             ++tick) {
            d.AdvanceTime(kTick_ms);
        }
        ASSERT_NE(link_->Program(), nullptr);
        link_->InjectError(GetParam().call, "Timeout on the serial line.", GetParam().variable);
        d.AdvanceTime(kTick_ms);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), GetParam().error);
        EXPECT_FALSE(d.IsVisible(kMoveButton));
        EXPECT_EQ(link_->Program(), nullptr);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("pp"), kGuessedPolePairs);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, HoldReadFailure,
    ::testing::Values(HoldReadFault{"Started", drive::LinkCall::ReadProgramVariable, "STARTED",
                                    "Timeout on the serial line."},
                      HoldReadFault{"PowerStage", drive::LinkCall::ReadAxisOn, "",
                                    CQel_TestDlg::msc_pszErrInternal}),
    [](const ::testing::TestParamInfo<HoldReadFault>& row) { return std::string(row.param.name); });

TEST_F(PolePairsTest, MotorSetupButtonOpensTheTestAndShowsTheNewCount) {
    SetUpGuess("large-motor.json");
    ui_->When(108, [](DialogDriver& d) { d.Click(1176); });
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(3000);
        for (int move = 0; move < motor_.polePairs; ++move) {
            d.Click(kMoveButton);
        }
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(1000);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Pole Pairs", IDYES);
    ui_->When(108, [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(1165), "5");
        d.Click(IDCANCEL);
    });
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_EQ(Base("pp"), motor_.polePairs);
}

}  // namespace
