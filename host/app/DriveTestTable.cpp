#include "host/app/DriveTestTable.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "drive/SimulatedDrive.h"
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

// The encoder connections test needs a person: once it runs they turn the shaft by hand a good
// part of a turn and press Stop.
void TurnShaftByHand(TestPerson& person) {
    // A firm twist of the hand on a free shaft, and how long the hand turns it.
    constexpr double kHandTorque_Nm = 0.5;
    constexpr std::uint64_t kTurn_ms = 300;
    constexpr std::uint64_t kLetGo_ms = 200;
    ui::headless::DialogDriver& d = person.dialog;
    if (d.Text(CQel_TestDlg::kStatusTextId) != "Running test" || !person.test.IsRunning()) {
        return;
    }
    person.drive.SetExternalTorque(kHandTorque_Nm);
    d.AdvanceTime(kTurn_ms);
    person.drive.SetExternalTorque(0.0);
    d.AdvanceTime(kLetGo_ms);
    d.Click(CQel_TestDlg::kStartStopId);
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
    DriveTestRow{"encoder-resolution", DriveTest::EncoderResolution, 292, nullptr, kPatience_s},
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
