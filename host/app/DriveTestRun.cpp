#include "host/app/DriveTestRun.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "drive/SimulatedDrive.h"
#include "drive/link/SimulatedDriveLink.h"
#include "host/kernel/Comm.h"
#include "host/kernel/TestDlg.h"
#include "host/ui/ControlState.h"

namespace {

using ui::headless::DialogDriver;

// The person looks at the dialog as often as the tests tick.
constexpr std::uint64_t kLookEvery_ms = 20;
constexpr double kMillisecondsPerSecond = 1000.0;
// A run that lasts longer than this much drive time reports its progress, and again after each
// further interval.
constexpr double kProgressInterval_s = 1.0;

// The headless backend with the person's eyes on the status line of the test dialog and their
// answer ready for the closing question.
class TestRunBackend : public ui::headless::HeadlessBackend {
  public:
    explicit TestRunBackend(const std::function<void(const std::string&)>& onStep)
        : onStep_(onStep) {}

    // The answer to the next closing question (a Yes, No and Cancel box).
    void AnswerNextQuestion(int answer) { answer_ = answer; }

    void ControlChanged(CDialog& dialog, int controlId) override {
        HeadlessBackend::ControlChanged(dialog, controlId);
        if (!onStep_ || controlId != CQel_TestDlg::kStatusTextId ||
            dynamic_cast<CQel_TestDlg*>(&dialog) == nullptr || dialog.GetWindowState() == nullptr) {
            return;
        }
        if (const ui::ControlState* status = dialog.GetWindowState()->Find(controlId);
            status != nullptr && !status->text.empty()) {
            onStep_(status->text);
        }
    }

    int ShowMessageBox(CWnd* owner, std::string_view text, std::string_view caption,
                       UINT type) override {
        if ((type & MB_TYPEMASK) == MB_YESNOCANCEL && answer_) {
            ExpectMessageBox(std::string(text), *answer_);
            answer_.reset();
        }
        return HeadlessBackend::ShowMessageBox(owner, text, caption, type);
    }

  private:
    const std::function<void(const std::string&)>& onStep_;
    std::optional<int> answer_;
};

// The backend is the windowing layer's while this lives.
class InstalledBackend {
  public:
    explicit InstalledBackend(ui::Backend& backend) : previous_(ui::InstallBackend(&backend)) {}
    ~InstalledBackend() { ui::InstallBackend(previous_); }
    InstalledBackend(const InstalledBackend&) = delete;
    InstalledBackend& operator=(const InstalledBackend&) = delete;

  private:
    ui::Backend* previous_;
};

// The link is the setup's drive while this lives.
class ConnectedLink {
  public:
    ConnectedLink(CQel_Setup& setup, qel::DriveLink& link) : setup_(setup) {
        CQel_Comm::Connect(setup, &link);
    }
    ~ConnectedLink() { CQel_Comm::Connect(setup_, nullptr); }
    ConnectedLink(const ConnectedLink&) = delete;
    ConnectedLink& operator=(const ConnectedLink&) = delete;

  private:
    CQel_Setup& setup_;
};

// The person at the test: Start, what the test needs of them until it concludes (or Stop when it
// outlasts their patience), then Close and the answers to the closing question.
class ScriptedPerson {
  public:
    ScriptedPerson(const TestDialog& test, const PersonScript& script, TestRunBackend& backend,
                   drive::SimulatedDrive& drive, const RunObserver& observer, RunRecord& record)
        : test_(test),
          script_(script),
          backend_(backend),
          drive_(drive),
          observer_(observer),
          record_(record) {}

    void Act(DialogDriver& dialog) {
        auto* test = dynamic_cast<CQel_TestDlg*>(&dialog.Dialog());
        if (test == nullptr) {
            backend_.RecordFailure("The dialog " + std::to_string(test_.templateId) +
                                   " is not a test dialog.");
            dialog.Close();
            return;
        }
        record_.opened = true;
        if (!MayStart(dialog)) {
            dialog.Close();
            return;
        }
        dialog.Click(CQel_TestDlg::kStartStopId);
        WaitForTheConclusion(dialog, *test);
        record_.resultState = test->GetResultState();
        record_.errorText = test->GetErrorText();
        if (observer_.onConcluded) {
            observer_.onConcluded();
        }
        if (script_.afterConclusion && dialog.IsOpen()) {
            script_.afterConclusion(dialog, record_);
        }
        for (const int answer : script_.closingAnswers) {
            if (!dialog.IsOpen()) {
                break;
            }
            backend_.AnswerNextQuestion(answer);
            dialog.Click(IDCANCEL);
        }
    }

  private:
    // What the person does before Start; false (the reason in the record) when they cannot start.
    bool MayStart(DialogDriver& dialog) {
        if (!script_.beforeStart) {
            return true;
        }
        const std::size_t boxesBefore = backend_.MessageBoxes().size();
        std::string reason = script_.beforeStart(dialog);
        if (reason.empty()) {
            return true;
        }
        if (backend_.MessageBoxes().size() > boxesBefore) {
            reason += ": " + backend_.MessageBoxes().back().text;
        }
        record_.errorText = reason;
        return false;
    }

    void WaitForTheConclusion(DialogDriver& dialog, CQel_TestDlg& test) {
        const std::uint64_t start_ms = backend_.Now_ms();
        const auto elapsed_s = [&] {
            return static_cast<double>(backend_.Now_ms() - start_ms) / kMillisecondsPerSecond;
        };
        double nextProgress_s = kProgressInterval_s;
        while (test.IsRunning() && dialog.IsOpen()) {
            if (elapsed_s() >= test_.patience_s) {
                dialog.Click(CQel_TestDlg::kStartStopId);
                record_.stoppedByPerson = true;
                return;
            }
            if (test_.duringRun != nullptr) {
                TestPerson person{dialog, test, drive_, elapsed_s()};
                test_.duringRun(person);
                if (!test.IsRunning() || !dialog.IsOpen()) {
                    return;
                }
            }
            dialog.AdvanceTime(kLookEvery_ms);
            if (elapsed_s() >= nextProgress_s && test.IsRunning()) {
                if (observer_.onProgress) {
                    observer_.onProgress(dialog.Text(CQel_TestDlg::kStatusTextId), elapsed_s());
                }
                nextProgress_s += kProgressInterval_s;
            }
        }
    }

    const TestDialog& test_;
    const PersonScript& script_;
    TestRunBackend& backend_;
    drive::SimulatedDrive& drive_;
    const RunObserver& observer_;
    RunRecord& record_;
};

}  // namespace

DriveTestRun RunTestDialog(const TestDialog& dialog, const PersonScript& script, CQel_Setup& setup,
                           drive::SimulatedDrive& drive, drive::SimulatedDriveLink& link,
                           const RunObserver& observer) {
    DriveTestRun run;
    TestRunBackend backend(observer.onStep);
    const InstalledBackend installed(backend);
    link.AttachToClock(backend);
    const ConnectedLink connected(setup, link);
    ScriptedPerson person(dialog, script, backend, drive, observer, run.record);
    backend.When(dialog.templateId, [&person](DialogDriver& driver) { person.Act(driver); });
    run.dialogResult = dialog.runner(&setup);
    run.messageBoxes = backend.MessageBoxes();
    run.failures = backend.Failures();
    return run;
}

DriveTestRun RunDriveTestDialog(const DriveTestRow& row, std::span<const int> answers,
                                CQel_Setup& setup, drive::SimulatedDrive& drive,
                                drive::SimulatedDriveLink& link, const RunObserver& observer) {
    PersonScript script;
    if (row.beforeStart != nullptr) {
        script.beforeStart = row.beforeStart;
    }
    script.closingAnswers = answers;
    return RunTestDialog({RunnerOf(row), row.templateId, row.duringRun, row.patience_s}, script,
                         setup, drive, link, observer);
}
