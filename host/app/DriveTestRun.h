#pragma once

// One drive test run as `brevan test` runs it: the test's own dialog, headless, on a simulated
// drive, with a scripted person who presses Start, does what the test needs of a person while it
// runs (the row's duringRun), presses Stop when it outlasts their patience, then closes the
// dialog and answers the closing question. The command, the identification truth table and the
// benchmark all run tests this way; brevan tune runs a tuning test's dialog this way too, with a
// person who picks the test page and presses Tune before Start and OK after the conclusion.

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "host/app/DriveTestTable.h"
#include "host/ui/AfxTypes.h"
#include "host/ui/headless/HeadlessBackend.h"

class CQel_Setup;

namespace drive {
class SimulatedDrive;
class SimulatedDriveLink;
}  // namespace drive

// What the person saw of the run.
struct RunRecord {
    bool opened = false;
    int resultState = -1;
    std::string errorText;
    // Set when the test outlasted the person's patience and they pressed Stop.
    bool stoppedByPerson = false;
};

// What the caller hears while the run goes; any of them may be empty.
struct RunObserver {
    // Each status line the test dialog shows, as it shows it.
    std::function<void(const std::string& step)> onStep;
    // Once a second of drive time while the test runs: the status line and the drive time since
    // Start.
    std::function<void(const std::string& step, double elapsed_s)> onProgress;
    // Once the test has concluded, before the person closes the dialog.
    std::function<void()> onConcluded;
};

struct DriveTestRun {
    RunRecord record;
    // The dialog's end: IDOK or IDCANCEL.
    INT_PTR dialogResult = IDCANCEL;
    // Every message box shown, with the answer it got, and what the scripted person could not do.
    std::vector<ui::headless::MessageBoxRecord> messageBoxes;
    std::vector<std::string> failures;
};

// A test's dialog as the person meets it.
struct TestDialog {
    // Runs the dialog modally; never empty.
    DriveTestRunner runner;
    int templateId = 0;
    // What the person does at every tick between Start and the conclusion (DriveTestRow).
    void (*duringRun)(TestPerson& person) = nullptr;
    // How long the person waits for the conclusion before pressing Stop, drive time.
    double patience_s = 0.0;
};

// What the person does besides Start, waiting and closing; either may be empty.
struct PersonScript {
    // On the opened dialog, before Start: empty when the person may press Start, else why not
    // (the run's error text; a message box shown meanwhile is added to it). The person then
    // closes the dialog.
    std::function<std::string(ui::headless::DialogDriver& dialog)> beforeStart;
    // Once the test has concluded (after the observer's onConcluded): what the person does with
    // the outcome. They may end the dialog themselves (press OK); while it stays open they close
    // it with the closing answers.
    std::function<void(ui::headless::DialogDriver& dialog, const RunRecord& record)>
        afterConclusion;
    // The answers the person gives at the successive presses of Close: {IDYES}, {IDNO}, or
    // {IDCANCEL, IDNO} (Cancel keeps the dialog open, so they close again and drop the values).
    std::span<const int> closingAnswers;
};

// The link is the setup's drive for the run and attached to the run's virtual clock.
DriveTestRun RunTestDialog(const TestDialog& dialog, const PersonScript& script, CQel_Setup& setup,
                           drive::SimulatedDrive& drive, drive::SimulatedDriveLink& link,
                           const RunObserver& observer = {});

// The test of a row with a person who does only what the row says (before Start and while it
// runs) and answers the closing question with the answers (PersonScript::closingAnswers); the
// row's dialog must be available (RunnerOf gives a runner).
DriveTestRun RunDriveTestDialog(const DriveTestRow& row, std::span<const int> answers,
                                CQel_Setup& setup, drive::SimulatedDrive& drive,
                                drive::SimulatedDriveLink& link, const RunObserver& observer = {});
