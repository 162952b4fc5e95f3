#include "host/app/DriveTestTable.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "drive/SimulatedDrive.h"
#include "drivetests/DetectEncoderResolution.h"
#include "drivetests/MyTestDlg.h"
#include "host/kernel/TestDlg.h"
#include "host/ui/headless/HeadlessBackend.h"

namespace {

// The pole-pair count needs a person: once the drive holds the rotor (Move is offered) they mark
// the shaft, press Move until the shaft is back at the mark, and press Stop.
void CountPolePairsByHand(TestPerson& person) {
    constexpr int kMoveButton = 1021;
    // A person looks at the shaft a moment after each move has ended.
    constexpr std::uint64_t kLook_ms = 200;
    // Back at the mark: within three degrees of it, as far as an eye can tell.
    constexpr double kMarkTolerance_rad = 0.05;
    // More moves than any motor has pole pairs: the person gives up.
    constexpr int kMostMoves = 64;
    ui::headless::DialogDriver& d = person.dialog;
    if (!d.IsVisible(kMoveButton) || !d.IsEnabled(kMoveButton)) {
        return;
    }
    d.AdvanceTime(kLook_ms);
    const double mark_rad = person.drive.Motor().ShaftAngle_rad();
    double away_rad = 0.0;
    int moves = 0;
    do {
        if (!d.Click(kMoveButton)) {
            return;
        }
        ++moves;
        d.AdvanceTime(kLook_ms);
        away_rad = std::remainder(person.drive.Motor().ShaftAngle_rad() - mark_rad,
                                  2.0 * std::numbers::pi);
    } while (std::abs(away_rad) > kMarkTolerance_rad && moves < kMostMoves &&
             person.test.IsRunning());
    d.Click(CQel_TestDlg::kStartStopId);
}

// The analogue reference test runs until Stop: once the dialog shows the voltage set on the
// input, the person reads it and presses Stop.
void ReadAnalogueInput(TestPerson& person) {
    constexpr int kVoltageEdit = 1010;
    // A person reads the value a moment after it appears.
    constexpr std::uint64_t kRead_ms = 200;
    ui::headless::DialogDriver& d = person.dialog;
    if (d.Text(kVoltageEdit).empty()) {
        return;
    }
    d.AdvanceTime(kRead_ms);
    d.Click(CQel_TestDlg::kStartStopId);
}

// The encoder connections test needs a person: once it runs they grip the shaft and turn it by
// hand a good part of a turn, smoothly from rest to rest at a hand's pace, let go of a shaft at
// rest and press Stop. The hand leads the shaft whatever the motor's inertia: a small rotor is
// not flung to thousands of revolutions a minute, a large one not left spinning into the next
// test.
void TurnShaftByHand(TestPerson& person) {
    // Three quarters of a turn in 0.3 s: at most about 250 revolutions a minute.
    constexpr double kTurn_rad = 1.5 * std::numbers::pi;
    constexpr std::uint64_t kTurn_ms = 300;
    // The hand follows its motion in steps of a millisecond.
    constexpr std::uint64_t kHandStep_ms = 1;
    constexpr std::uint64_t kLetGo_ms = 200;
    constexpr double kMillisecondsPerSecond = 1000.0;
    ui::headless::DialogDriver& d = person.dialog;
    if (d.Text(CQel_TestDlg::kStatusTextId) != "Running test" || !person.test.IsRunning()) {
        return;
    }
    drive::MotorModel& shaft = person.drive.Motor();
    const double start_rad = shaft.ShaftAngle_rad();
    for (std::uint64_t t_ms = kHandStep_ms; t_ms <= kTurn_ms; t_ms += kHandStep_ms) {
        // A half cosine: from rest to rest.
        const double phase = std::numbers::pi * static_cast<double>(t_ms) / kTurn_ms;
        const double angle_rad = start_rad + 0.5 * kTurn_rad * (1.0 - std::cos(phase));
        const double speed_rad_s = 0.5 * kTurn_rad * std::numbers::pi * kMillisecondsPerSecond /
                                   kTurn_ms * std::sin(phase);
        shaft.SetShaftState(angle_rad, speed_rad_s);
        d.AdvanceTime(kHandStep_ms);
    }
    shaft.SetShaftState(start_rad + kTurn_rad, 0.0);
    d.AdvanceTime(kLetGo_ms);
    d.Click(CQel_TestDlg::kStartStopId);
}

// The encoder resolution test turns the shaft by itself; the person watches it conclude. When it
// reports that the encoder counts against the field (an encoder wired with A and B exchanged),
// they change the dialog's reverse-counting check box and press Start again, once: when the run
// with the box changed says the same, the fault is elsewhere (the phases) and the report stands.
void ReverseCountingOnWrongDirection(TestPerson& person) {
    constexpr int kReverseCountingCheck = 3357;
    // The person looks at the dialog as often as the tests tick.
    constexpr std::uint64_t kLook_ms = 20;
    auto* test = dynamic_cast<CDetectEncoderResolution*>(&person.test);
    // A box changed while the dialog is open is the person's one change.
    if (test == nullptr || test->GetCountingDirection() != CDetectEncoderResolution::kNoDirection) {
        return;
    }
    ui::headless::DialogDriver& d = person.dialog;
    d.AdvanceTime(kLook_ms);
    if (test->IsRunning() || !d.IsOpen() ||
        test->GetErrorText() != CDetectEncoderResolution::kWrongDirection ||
        !d.IsVisible(kReverseCountingCheck) || !d.IsEnabled(kReverseCountingCheck)) {
        return;
    }
    if (d.SetCheck(kReverseCountingCheck, !d.IsChecked(kReverseCountingCheck))) {
        d.Click(CQel_TestDlg::kStartStopId);
    }
}

// The tuning tests' dialogs open on their "Test Parameters" page; Start, the gains and the plot
// are on their "Test" page. The person turns to that page first; a test may refuse it (with a
// message box of its own) while its settings do not allow a run.
template <int TabId, int Page>
std::string TurnToPage(ui::headless::DialogDriver& dialog) {
    if (dialog.SelectTab(TabId, Page) && dialog.IsVisible(CQel_TestDlg::kStartStopId)) {
        return {};
    }
    return "Start did not come into view on page " + std::to_string(Page) + " of the tab control " +
           std::to_string(TabId);
}
constexpr auto kTurnToTestPage = TurnToPage<CMyTestDlg::kTabId, CMyTestDlg::kTestPage>;

// Long enough for any identification of the example motors; a test still running after it has
// hung.
constexpr double kPatience_s = 300.0;

// Identification and connection tests first, in the order a person commissions an axis.
constexpr std::array kRows = {
    DriveTestRow{"resistance-inductance", DriveTest::ResistanceInductance, 290, nullptr,
                 kPatience_s},
    DriveTestRow{"encoder-resolution", DriveTest::EncoderResolution, 292,
                 ReverseCountingOnWrongDirection, kPatience_s},
    DriveTestRow{"pole-pairs", DriveTest::PolePairs, 289, CountPolePairsByHand, kPatience_s},
    DriveTestRow{"total-inertia", DriveTest::TotalInertia, 3041, nullptr, kPatience_s},
    DriveTestRow{"phase-connections", DriveTest::PhaseConnections, 288, nullptr, kPatience_s},
    DriveTestRow{"encoder-connections", DriveTest::EncoderConnections, 291, TurnShaftByHand,
                 kPatience_s},
    DriveTestRow{"encoder-offset", DriveTest::EncoderOffset, 3058, nullptr, kPatience_s},
    DriveTestRow{"dc-voltage", DriveTest::VdcDetection, 105, nullptr, kPatience_s},
    DriveTestRow{"analogue-reference", DriveTest::AnalogueReference, 104, ReadAnalogueInput,
                 kPatience_s},
    DriveTestRow{"angle-controller", DriveTest::AngleController, 3057, nullptr, kPatience_s,
                 kTurnToTestPage},
};

}  // namespace

std::span<const DriveTestRow> DriveTestRows() {
    return kRows;
}

std::vector<std::string> DriveTestNames() {
    std::vector<std::string> names;
    for (const DriveTestRow& row : kRows) {
        names.emplace_back(row.name);
    }
    return names;
}

const DriveTestRow* FindDriveTestRow(std::string_view name) {
    for (const DriveTestRow& row : kRows) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

DriveTestRunner RunnerOf(const DriveTestRow& row) {
    return row.test ? FindDriveTest(*row.test) : DriveTestRunner{};
}
