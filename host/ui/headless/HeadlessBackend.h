#pragma once

// The headless backend: a deterministic event loop over a virtual clock, with a scripted user.
// Timers fire in virtual time; nothing waits on the wall clock. A modal run ends when its dialog
// ends; runs nest (a dialog opened from a click or a timer of another dialog).
//
// The script is a sequence of steps, each waiting for its dialog: when the loop is idle (no
// timer due now), the next step runs if the innermost dialog matches it (by caption or template
// id); otherwise the loop advances the virtual clock to the next timer. When there is neither a
// step for the innermost dialog nor a timer (or the clock has advanced the wait budget without
// the step's dialog coming up), the run has "run out": the dialog is ended with IDCANCEL and a
// failure is recorded. Message boxes are answered from expectations (by text fragment), else
// with their default button; pop-up menus are answered from expectations in order (by item
// text), else dismissed; save prompts are answered from expectations in order (a path, or
// cancelled), and one that no expectation answers is cancelled and is a failure; all are
// recorded. PNG pictures are refused: drawing them needs the desktop.
//
//   ui::headless::Session ui;                       // installs a fresh backend for this scope
//   ui->When("Brushless Motor Setup", [](ui::headless::DialogDriver& d) {
//       d.Type(1159, "3.5");
//       EXPECT_EQ(d.Text(1159), "3.5");
//       d.Click(IDOK);
//   });
//   ui->ExpectMessageBox("start current bigger", IDOK);
//   ui->ExpectSavePrompt("/tmp/step.svg");            // or ui->ExpectSavePromptCancelled();
//   EXPECT_EQ(dialog.DoModal(), IDOK);
//   EXPECT_TRUE(ui->Failures().empty());
//   EXPECT_EQ(ui->MessageBoxes()[0].text, "...");
//   EXPECT_EQ(ui->SavePrompts()[0].title, "Save Plots");

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/ui/Backend.h"
#include "host/ui/ControlState.h"
#include "host/ui/Dialog.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/UserInput.h"

namespace ui::headless {

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    UINT type = MB_OK;
    int answer = IDOK;
    bool expected = false;  // answered by an expectation rather than by default
};

struct MenuRecord {
    std::vector<std::string> items;  // the texts of the items, separators as empty texts
    std::string chosen;              // the chosen item's text, empty when dismissed
    UINT answer = 0;                 // the chosen item's id, 0 when dismissed
    bool expected = false;           // answered by an expectation
};

struct SavePromptRecord {
    SaveFilePrompt prompt;
    std::optional<std::filesystem::path> answer;  // std::nullopt: cancelled
    bool expected = false;                        // answered by an expectation
};

struct HelpRequest {
    std::string file;
    DWORD_PTR topic = 0;
};

class HeadlessBackend;

// The scripted user's hands on one dialog: acts as a user would (only on the innermost dialog,
// only on enabled and visible controls) and reads any control. A refused action records a
// failure and returns false. An action that opens a nested dialog returns when that dialog has
// ended (the nested run takes the next steps).
class DialogDriver {
  public:
    DialogDriver(HeadlessBackend& backend, CDialog& dialog) : backend_(backend), dialog_(dialog) {}

    CDialog& Dialog() const { return dialog_; }
    std::string Caption() const;
    int TemplateId() const;
    bool IsOpen() const;  // the window exists and the dialog has not ended

    // Actions. Controls are addressed by id, or by caption (mnemonic marks ignored).
    bool Click(int id);
    bool Click(std::string_view caption);
    // Sets the check box to the state (clicking only when it differs).
    bool SetCheck(int id, bool checked);
    // Types into an edit and leaves it: the value is taken over when the focus leaves.
    bool Type(int id, std::string_view text);
    // Types into an edit and stays in it (what OK takes over).
    bool EnterText(int id, std::string_view text);
    // Picks a list item by its text, by its item data, or by its index.
    bool Select(int id, std::string_view itemText);
    bool SelectData(int id, DWORD_PTR itemData);
    bool SelectIndex(int id, int index);
    // Picks a unit in a unit combo (the same as Select).
    bool SelectUnit(int id, std::string_view unitName) { return Select(id, unitName); }
    bool PressKey(UINT virtualKey, Modifiers modifiers = {});
    // Drags a slider to the position; clicks a spin button's arrow (+1 up, -1 down); picks a
    // tab; presses the right mouse button over a control (0: over the dialog) at a screen point.
    bool MoveSlider(int id, int position);
    bool Spin(int id, int delta);
    bool SelectTab(int id, int index);
    bool RightClick(int id, CPoint screenPoint = {});
    // Turns the mouse wheel beside a graph curve's own axis: its scale one step coarser (+1) or
    // finer (-1).
    bool StepGraphScale(int id, std::size_t curve, int step);
    // The close box (IDCANCEL).
    bool Close();
    // Ends the run directly with that result, as EndDialog would.
    void End(int result);
    // Lets virtual time pass: fires the timers due within it (nested dialogs included).
    void AdvanceTime(std::uint64_t duration_ms);

    // Reading. A missing control records a failure and reads as empty / false.
    const ControlState* Control(int id) const;
    std::string Text(int id) const;
    bool IsEnabled(int id) const;
    bool IsVisible(int id) const;
    bool IsChecked(int id) const;
    bool IsReadOnly(int id) const;
    std::vector<std::string> ItemTexts(int id) const;
    std::vector<DWORD_PTR> ItemData(int id) const;
    std::string SelectedText(int id) const;
    std::optional<DWORD_PTR> SelectedData(int id) const;
    std::string Bitmap(int id) const;
    COLORREF TextColour(int id) const;
    // A slider's or spin button's position.
    int Position(int id) const;
    // What a drawn control shows (limits, value, angle, curves; DrawnControls.h). A control of
    // another kind records a failure and reads as the kind's default state.
    const BarGraphState& BarGraph(int id) const;
    const DiagramState& Diagram(int id) const;
    const GraphState& Graph(int id) const;

  private:
    bool Accept(const InputResult& result, std::string_view action);
    const ControlState* Require(int id) const;
    const ControlState* RequireKind(int id, ControlKind kind) const;

    HeadlessBackend& backend_;
    CDialog& dialog_;
};

using DialogAction = std::function<void(DialogDriver&)>;

class HeadlessBackend : public Backend {
  public:
    HeadlessBackend();
    ~HeadlessBackend() override;

    // The script. Steps run in the order given, each when its dialog is the innermost one.
    void When(std::string caption, DialogAction action);
    void When(int templateId, DialogAction action);
    // A step for whatever dialog is innermost when it is reached.
    void Then(DialogAction action);
    // The next message box whose text contains the fragment gets that answer.
    void ExpectMessageBox(std::string textFragment, int answer = IDOK);
    // The next pop-up menu gets the item of that text (mnemonic marks ignored); an empty text
    // dismisses it. An item the menu lacks or that cannot be chosen is a failure (and the menu
    // is dismissed).
    void ExpectMenu(std::string itemText);
    // The next save prompt gets that path as the user's choice (taken as it is: no extension is
    // added), or is cancelled.
    void ExpectSavePrompt(std::filesystem::path answer);
    void ExpectSavePromptCancelled();
    std::size_t PendingSteps() const;
    std::size_t PendingMessageBoxExpectations() const;
    std::size_t PendingMenuExpectations() const { return menuExpectations_.size(); }
    std::size_t PendingSavePromptExpectations() const { return savePromptExpectations_.size(); }

    // What happened.
    const std::vector<MessageBoxRecord>& MessageBoxes() const { return messageBoxes_; }
    const std::vector<HelpRequest>& HelpRequests() const { return helpRequests_; }
    const std::vector<MenuRecord>& Menus() const { return menus_; }
    const std::vector<SavePromptRecord>& SavePrompts() const { return savePrompts_; }
    // Script failures (ran out, refused actions, missing controls, save prompts nothing expected;
    // unanswered expectations are not failures until checked) and problems the layer reported.
    const std::vector<std::string>& Failures() const { return failures_; }
    const std::vector<std::string>& Problems() const { return problems_; }
    void RecordFailure(std::string failure);
    Cursor CurrentCursor() const { return cursor_; }

    // Settings.
    // How long the clock may advance while the next step waits for its dialog (default 60 s).
    void SetWaitBudget_ms(std::uint64_t budget_ms) { waitBudget_ms_ = budget_ms; }
    // How much virtual time one PumpWaitingMessages call lets pass (default 1 ms).
    void SetPumpQuantum_ms(std::uint64_t quantum_ms) { pumpQuantum_ms_ = quantum_ms; }
    // Also print problems and failures to standard error (the process-wide default does).
    void SetEcho(bool echo) { echo_ = echo; }
    // Called whenever the virtual clock moves, with the old and new time (a simulated drive
    // advances in lockstep).
    void AddClockListener(std::function<void(std::uint64_t from_ms, std::uint64_t to_ms)> listener);

    // Lets virtual time pass in the loop of the innermost dialog (fires due timers; nested
    // dialogs opened by them run their steps).
    void AdvanceTime(std::uint64_t duration_ms);

    // Backend.
    void WindowCreated(CDialog& dialog) override;
    void WindowDestroyed(CDialog& dialog) override;
    void RunModal(CDialog& dialog) override;
    void EndModal(CDialog& dialog) override;
    void ControlChanged(CDialog& dialog, int controlId) override;
    void StartTimer(CWnd& window, UINT_PTR timerId, UINT period_ms) override;
    void StopTimer(CWnd& window, UINT_PTR timerId) override;
    int ShowMessageBox(CWnd* owner, std::string_view text, std::string_view caption,
                       UINT type) override;
    std::optional<std::filesystem::path> AskSaveFilePath(CWnd* owner,
                                                         const SaveFilePrompt& prompt) override;
    std::string WritePngFromSvg(std::string_view svg, int width_px, int height_px,
                                const std::filesystem::path& path) override;
    UINT TrackPopupMenu(CWnd& owner, const std::vector<MenuItem>& items, CPoint screen) override;
    void PumpWaitingMessages() override;
    void SetCursor(Cursor cursor) override { cursor_ = cursor; }
    void RequestHelp(std::string_view helpFile, DWORD_PTR topic) override;
    std::uint64_t Now_ms() const override { return now_ms_; }
    bool IsKeyDown(UINT virtualKey) const override;
    void ReportProblem(std::string_view problem) override;

    // Held modifiers while a scripted key is delivered.
    void SetModifiers(Modifiers modifiers) { modifiers_ = modifiers; }

  private:
    struct Step {
        std::optional<std::string> caption;
        std::optional<int> templateId;
        DialogAction action;
        std::string Describe() const;
    };
    struct Timer {
        CWnd* window = nullptr;
        UINT_PTR id = 0;
        UINT period_ms = 0;
        std::uint64_t due_ms = 0;
        std::uint64_t serial = 0;  // start order, for ties
        bool running = false;      // its OnTimer is on the stack
    };
    struct Expectation {
        std::string fragment;
        int answer = IDOK;
    };

    bool StepMatches(const Step& step, const CDialog& dialog) const;
    // Fires the earliest timer due at or before the time; false when none.
    bool FireDueTimer(std::uint64_t until_ms);
    std::optional<std::uint64_t> NextTimerDue() const;
    void MoveClock(std::uint64_t to_ms);
    // One step of the loop of the innermost dialog; false when the run had to be ended.
    void LoopOnce(CDialog& dialog, std::uint64_t& waitStart_ms);
    void RunOut(CDialog& dialog, const std::string& why);
    bool RunNextStep(CDialog& dialog);

    std::vector<Step> steps_;
    std::vector<Expectation> expectations_;
    std::vector<MessageBoxRecord> messageBoxes_;
    std::vector<std::string> menuExpectations_;
    std::vector<MenuRecord> menus_;
    std::vector<std::optional<std::filesystem::path>> savePromptExpectations_;
    std::vector<SavePromptRecord> savePrompts_;
    std::vector<HelpRequest> helpRequests_;
    std::vector<std::string> failures_;
    std::vector<std::string> problems_;
    std::vector<std::unique_ptr<Timer>> timers_;
    std::vector<std::function<void(std::uint64_t, std::uint64_t)>> clockListeners_;
    std::uint64_t now_ms_ = 0;
    std::uint64_t timerSerial_ = 0;
    std::uint64_t waitBudget_ms_;
    std::uint64_t pumpQuantum_ms_;
    Cursor cursor_ = Cursor::Arrow;
    Modifiers modifiers_;
    bool echo_ = false;
};

// A fresh headless backend installed for the life of the session, the previous one restored
// afterwards.
class Session {
  public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    HeadlessBackend& Backend() { return backend_; }
    HeadlessBackend* operator->() { return &backend_; }

  private:
    HeadlessBackend backend_;
    ui::Backend* previous_;
};

}  // namespace ui::headless
