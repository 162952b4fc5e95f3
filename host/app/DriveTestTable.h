#pragma once

// The drive tests `brevan test` runs, one row each: the name the user gives, the module's dialog
// (its DriveTest, once the dialog exists), the dialog's template and what a person does while the
// test runs. Adding a test to the command is adding its row.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dialogs/DriveTestRunners.h"

class CQel_TestDlg;

namespace drive {
class SimulatedDrive;
}

namespace ui::headless {
class DialogDriver;
}

// The person at the test, between Start and the test's conclusion: the dialog under their hands
// and the world around the drive (the shaft to turn, the potentiometer to move).
struct TestPerson {
    ui::headless::DialogDriver& dialog;
    CQel_TestDlg& test;
    drive::SimulatedDrive& drive;
    // Drive time since Start.
    double elapsed_s = 0.0;
};

struct DriveTestRow {
    std::string_view name;
    // The dialog the module registers for the test; none while it is being written.
    std::optional<DriveTest> test;
    int templateId = 0;
    // Called at every tick of the run, from Start until the test concludes: what a person does
    // meanwhile (press Move, turn the shaft, press Stop); null for a test that needs nobody.
    void (*duringRun)(TestPerson& person) = nullptr;
    // How long the person waits for the test to conclude before pressing Stop, drive time.
    double patience_s = 0.0;
    // What the person does on the opened dialog before pressing Start (turn to the page that
    // holds Start); empty when they may press Start, else why they cannot. Null for a test whose
    // Start is in view when its dialog opens.
    std::string (*beforeStart)(ui::headless::DialogDriver& dialog) = nullptr;
};

std::span<const DriveTestRow> DriveTestRows();
// The tests' names, in the table's order.
std::vector<std::string> DriveTestNames();
// The row of that name; null when there is none.
const DriveTestRow* FindDriveTestRow(std::string_view name);
// The module's runner of the row's dialog; empty when the dialog is not available yet.
DriveTestRunner RunnerOf(const DriveTestRow& row);
