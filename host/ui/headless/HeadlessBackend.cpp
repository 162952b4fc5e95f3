#include "host/ui/headless/HeadlessBackend.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace ui::headless {
namespace {

// How long the clock may run while the script waits for a dialog that does not come up.
constexpr std::uint64_t kDefaultWaitBudget_ms = 60000;
// What one dispatch of the waiting messages costs in virtual time.
constexpr std::uint64_t kDefaultPumpQuantum_ms = 1;
// A timer asked for with period 0 fires at the smallest period the clock resolves.
constexpr UINT kMinimumTimerPeriod_ms = 1;
// Text drawn in controls unless the dialog colours it.
constexpr COLORREF kDefaultTextColour = RGB(0, 0, 0);

std::string DescribeDialog(const CDialog& dialog) {
    const WindowState* window = dialog.GetWindowState();
    const std::string caption = window != nullptr ? window->GetCaption() : std::string();
    return "\"" + caption + "\" (template " + std::to_string(dialog.GetTemplateId()) + ")";
}

// The buttons of a message box type, in the order the box shows them.
std::vector<int> ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {IDOK, IDCANCEL};
        case MB_ABORTRETRYIGNORE:
            return {IDABORT, IDRETRY, IDIGNORE};
        case MB_YESNOCANCEL:
            return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO:
            return {IDYES, IDNO};
        case MB_RETRYCANCEL:
            return {IDRETRY, IDCANCEL};
        default:
            return {IDOK};
    }
}

int DefaultAnswer(UINT type) {
    const std::vector<int> buttons = ButtonsOf(type);
    constexpr unsigned kDefaultButtonShift = 8;  // MB_DEFBUTTON2 is 0x100
    const std::size_t index = (type & MB_DEFMASK) >> kDefaultButtonShift;
    return buttons[std::min(index, buttons.size() - 1)];
}

}  // namespace

// --- DialogDriver ---

std::string DialogDriver::Caption() const {
    const WindowState* window = dialog_.GetWindowState();
    return window != nullptr ? window->GetCaption() : std::string();
}

int DialogDriver::TemplateId() const {
    return static_cast<int>(dialog_.GetTemplateId());
}

bool DialogDriver::IsOpen() const {
    return dialog_.GetWindowState() != nullptr && !dialog_.HasEnded();
}

bool DialogDriver::Accept(const InputResult& result, std::string_view action) {
    if (result) {
        return true;
    }
    backend_.RecordFailure("In " + DescribeDialog(dialog_) + ", " + std::string(action) +
                           " was refused: " + result.reason + ".");
    return false;
}

const ControlState* DialogDriver::Require(int id) const {
    const WindowState* window = dialog_.GetWindowState();
    const ControlState* control = window != nullptr ? window->Find(id) : nullptr;
    if (control == nullptr) {
        backend_.RecordFailure("In " + DescribeDialog(dialog_) + ", there is no control " +
                               std::to_string(id) + " to read.");
    }
    return control;
}

const ControlState* DialogDriver::RequireKind(int id, ControlKind kind) const {
    const ControlState* control = Require(id);
    if (control != nullptr && control->kind != kind) {
        backend_.RecordFailure("In " + DescribeDialog(dialog_) + ", control " + std::to_string(id) +
                               " is a " + std::string(ControlKindName(control->kind)) + ", not a " +
                               std::string(ControlKindName(kind)) + ".");
        return nullptr;
    }
    return control;
}

bool DialogDriver::Click(int id) {
    return Accept(input::Click(dialog_, id), "a click on " + std::to_string(id));
}

bool DialogDriver::Click(std::string_view caption) {
    const WindowState* window = dialog_.GetWindowState();
    const ControlState* control = window != nullptr ? window->FindByCaption(caption) : nullptr;
    if (control == nullptr) {
        return Accept(
            InputResult{false, "no control is captioned \"" + std::string(caption) + "\""},
            "a click");
    }
    return Click(control->id);
}

bool DialogDriver::SetCheck(int id, bool checked) {
    const ControlState* control = Require(id);
    if (control == nullptr) {
        return false;
    }
    if ((control->checked == BST_CHECKED) == checked) {
        return true;
    }
    return Click(id);
}

bool DialogDriver::Type(int id, std::string_view text) {
    if (!EnterText(id, text)) {
        return false;
    }
    return Accept(input::LeaveField(dialog_), "leaving " + std::to_string(id));
}

bool DialogDriver::EnterText(int id, std::string_view text) {
    return Accept(input::EnterText(dialog_, id, text),
                  "typing \"" + std::string(text) + "\" into " + std::to_string(id));
}

bool DialogDriver::Select(int id, std::string_view itemText) {
    const ControlState* control = Require(id);
    if (control == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < control->items.size(); ++i) {
        if (control->items[i].text == itemText) {
            return SelectIndex(id, static_cast<int>(i));
        }
    }
    std::string offered;
    for (const ListItem& item : control->items) {
        offered += (offered.empty() ? "\"" : ", \"") + item.text + "\"";
    }
    return Accept(InputResult{false, "it has no item \"" + std::string(itemText) + "\" (items: " +
                                         (offered.empty() ? "none" : offered) + ")"},
                  "picking an item of " + std::to_string(id));
}

bool DialogDriver::SelectData(int id, DWORD_PTR itemData) {
    const ControlState* control = Require(id);
    if (control == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < control->items.size(); ++i) {
        if (control->items[i].data == itemData) {
            return SelectIndex(id, static_cast<int>(i));
        }
    }
    return Accept(InputResult{false, "no item carries the data " + std::to_string(itemData)},
                  "picking an item of " + std::to_string(id));
}

bool DialogDriver::SelectIndex(int id, int index) {
    return Accept(input::SelectIndex(dialog_, id, index),
                  "picking item " + std::to_string(index) + " of " + std::to_string(id));
}

bool DialogDriver::PressKey(UINT virtualKey, Modifiers modifiers) {
    backend_.SetModifiers(modifiers);
    const InputResult result = input::PressKey(dialog_, virtualKey, modifiers);
    backend_.SetModifiers({});
    return Accept(result, "the key " + std::to_string(virtualKey));
}

bool DialogDriver::MoveSlider(int id, int position) {
    return Accept(input::MoveSlider(dialog_, id, position),
                  "moving slider " + std::to_string(id) + " to " + std::to_string(position));
}

bool DialogDriver::Spin(int id, int delta) {
    return Accept(input::Spin(dialog_, id, delta),
                  "spinning " + std::to_string(id) + " by " + std::to_string(delta));
}

bool DialogDriver::SelectTab(int id, int index) {
    return Accept(input::SelectTab(dialog_, id, index),
                  "picking tab " + std::to_string(index) + " of " + std::to_string(id));
}

bool DialogDriver::RightClick(int id, CPoint screenPoint) {
    return Accept(input::ContextMenu(dialog_, id, screenPoint),
                  "a right click on " + std::to_string(id));
}

bool DialogDriver::StepGraphScale(int id, std::size_t curve, int step) {
    return Accept(input::StepGraphScale(dialog_, id, curve, step),
                  "a scale step of curve " + std::to_string(curve) + " on " + std::to_string(id));
}

bool DialogDriver::Close() {
    return Accept(input::Close(dialog_), "closing the window");
}

void DialogDriver::End(int result) {
    dialog_.EndDialog(result);
}

void DialogDriver::AdvanceTime(std::uint64_t duration_ms) {
    backend_.AdvanceTime(duration_ms);
}

const ControlState* DialogDriver::Control(int id) const {
    return Require(id);
}

std::string DialogDriver::Text(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr ? control->text : std::string();
}

bool DialogDriver::IsEnabled(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr && control->enabled;
}

bool DialogDriver::IsVisible(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr && control->visible;
}

bool DialogDriver::IsChecked(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr && control->checked == BST_CHECKED;
}

bool DialogDriver::IsReadOnly(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr && control->readOnly;
}

int DialogDriver::Position(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr ? control->position : 0;
}

std::vector<std::string> DialogDriver::ItemTexts(int id) const {
    std::vector<std::string> texts;
    if (const ControlState* control = Require(id)) {
        for (const ListItem& item : control->items) {
            texts.push_back(item.text);
        }
    }
    return texts;
}

std::vector<DWORD_PTR> DialogDriver::ItemData(int id) const {
    std::vector<DWORD_PTR> data;
    if (const ControlState* control = Require(id)) {
        for (const ListItem& item : control->items) {
            data.push_back(item.data);
        }
    }
    return data;
}

std::string DialogDriver::SelectedText(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr ? control->SelectedText() : std::string();
}

std::optional<DWORD_PTR> DialogDriver::SelectedData(int id) const {
    const ControlState* control = Require(id);
    if (control == nullptr || control->selection < 0 ||
        static_cast<std::size_t>(control->selection) >= control->items.size()) {
        return std::nullopt;
    }
    return control->items[static_cast<std::size_t>(control->selection)].data;
}

std::string DialogDriver::Bitmap(int id) const {
    const ControlState* control = Require(id);
    return control != nullptr ? control->bitmap : std::string();
}

const BarGraphState& DialogDriver::BarGraph(int id) const {
    static const BarGraphState kNone;
    const ControlState* control = RequireKind(id, ControlKind::BarGraph);
    return control != nullptr ? control->barGraph : kNone;
}

const DiagramState& DialogDriver::Diagram(int id) const {
    static const DiagramState kNone;
    const ControlState* control = RequireKind(id, ControlKind::Diagram);
    return control != nullptr ? control->diagram : kNone;
}

const GraphState& DialogDriver::Graph(int id) const {
    static const GraphState kNone;
    const ControlState* control = RequireKind(id, ControlKind::Graph);
    return control != nullptr ? control->graph : kNone;
}

COLORREF DialogDriver::TextColour(int id) const {
    return Require(id) != nullptr ? dialog_.OnCtlColor(id, kDefaultTextColour) : kDefaultTextColour;
}

// --- HeadlessBackend ---

HeadlessBackend::HeadlessBackend()
    : waitBudget_ms_(kDefaultWaitBudget_ms), pumpQuantum_ms_(kDefaultPumpQuantum_ms) {}

HeadlessBackend::~HeadlessBackend() = default;

std::string HeadlessBackend::Step::Describe() const {
    if (caption) {
        return "the dialog \"" + *caption + "\"";
    }
    if (templateId) {
        return "the dialog of template " + std::to_string(*templateId);
    }
    return "any dialog";
}

void HeadlessBackend::When(std::string caption, DialogAction action) {
    steps_.push_back(Step{std::move(caption), std::nullopt, std::move(action)});
}

void HeadlessBackend::When(int templateId, DialogAction action) {
    steps_.push_back(Step{std::nullopt, templateId, std::move(action)});
}

void HeadlessBackend::Then(DialogAction action) {
    steps_.push_back(Step{std::nullopt, std::nullopt, std::move(action)});
}

void HeadlessBackend::ExpectMessageBox(std::string textFragment, int answer) {
    expectations_.push_back(Expectation{std::move(textFragment), answer});
}

std::size_t HeadlessBackend::PendingSteps() const {
    return steps_.size();
}

void HeadlessBackend::ExpectMenu(std::string itemText) {
    menuExpectations_.push_back(std::move(itemText));
}

void HeadlessBackend::ExpectSavePrompt(std::filesystem::path answer) {
    savePromptExpectations_.emplace_back(std::move(answer));
}

void HeadlessBackend::ExpectSavePromptCancelled() {
    savePromptExpectations_.emplace_back(std::nullopt);
}

std::size_t HeadlessBackend::PendingMessageBoxExpectations() const {
    return expectations_.size();
}

void HeadlessBackend::RecordFailure(std::string failure) {
    if (echo_) {
        std::fprintf(stderr, "script: %s\n", failure.c_str());
    }
    failures_.push_back(std::move(failure));
}

void HeadlessBackend::ReportProblem(std::string_view problem) {
    if (echo_) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(problem.size()), problem.data());
    }
    problems_.emplace_back(problem);
}

void HeadlessBackend::AddClockListener(
    std::function<void(std::uint64_t from_ms, std::uint64_t to_ms)> listener) {
    clockListeners_.push_back(std::move(listener));
}

bool HeadlessBackend::StepMatches(const Step& step, const CDialog& dialog) const {
    if (step.templateId) {
        return *step.templateId == static_cast<int>(dialog.GetTemplateId());
    }
    if (step.caption) {
        const WindowState* window = dialog.GetWindowState();
        return window != nullptr && window->GetCaption() == *step.caption;
    }
    return true;
}

void HeadlessBackend::MoveClock(std::uint64_t to_ms) {
    if (to_ms <= now_ms_) {
        return;
    }
    const std::uint64_t from_ms = now_ms_;
    now_ms_ = to_ms;
    for (const auto& listener : clockListeners_) {
        listener(from_ms, to_ms);
    }
}

std::optional<std::uint64_t> HeadlessBackend::NextTimerDue() const {
    std::optional<std::uint64_t> next;
    for (const auto& timer : timers_) {
        if (!timer->running && (!next || timer->due_ms < *next)) {
            next = timer->due_ms;
        }
    }
    return next;
}

bool HeadlessBackend::FireDueTimer(std::uint64_t until_ms) {
    Timer* earliest = nullptr;
    for (const auto& timer : timers_) {
        if (timer->running || timer->due_ms > until_ms) {
            continue;
        }
        if (earliest == nullptr || timer->due_ms < earliest->due_ms ||
            (timer->due_ms == earliest->due_ms && timer->serial < earliest->serial)) {
            earliest = timer.get();
        }
    }
    if (earliest == nullptr) {
        return false;
    }
    MoveClock(earliest->due_ms);
    earliest->due_ms = now_ms_ + earliest->period_ms;
    earliest->running = true;
    const std::uint64_t serial = earliest->serial;
    CWnd* window = earliest->window;
    const UINT_PTR id = earliest->id;
    window->OnTimer(id);
    // The handler may have killed (or restarted) its timer: look it up again.
    for (const auto& timer : timers_) {
        if (timer->serial == serial) {
            timer->running = false;
        }
    }
    return true;
}

bool HeadlessBackend::RunNextStep(CDialog& dialog) {
    if (steps_.empty() || !StepMatches(steps_.front(), dialog)) {
        return false;
    }
    Step step = std::move(steps_.front());
    steps_.erase(steps_.begin());
    DialogDriver driver(*this, dialog);
    step.action(driver);
    return true;
}

void HeadlessBackend::RunOut(CDialog& dialog, const std::string& why) {
    RecordFailure("The script ran out at " + std::to_string(now_ms_) + " ms in " +
                  DescribeDialog(dialog) + ": " + why + "; the dialog was ended with IDCANCEL.");
    dialog.EndDialog(IDCANCEL);
}

void HeadlessBackend::LoopOnce(CDialog& dialog, std::uint64_t& waitStart_ms) {
    if (FireDueTimer(now_ms_)) {
        return;
    }
    if (RunNextStep(dialog)) {
        waitStart_ms = now_ms_;
        return;
    }
    const std::optional<std::uint64_t> next = NextTimerDue();
    const std::string waitingFor = steps_.empty()
                                       ? std::string("no script step is left")
                                       : "the next step waits for " + steps_.front().Describe();
    if (!next) {
        RunOut(dialog, waitingFor + " and no timer is pending");
        return;
    }
    if (*next - waitStart_ms > waitBudget_ms_) {
        RunOut(dialog,
               waitingFor + " and " + std::to_string(waitBudget_ms_) + " ms passed without it");
        return;
    }
    MoveClock(*next);
}

void HeadlessBackend::RunModal(CDialog& dialog) {
    std::uint64_t waitStart_ms = now_ms_;
    while (dialog.GetWindowState() != nullptr && !dialog.HasEnded()) {
        LoopOnce(dialog, waitStart_ms);
    }
}

void HeadlessBackend::AdvanceTime(std::uint64_t duration_ms) {
    const std::uint64_t until_ms = now_ms_ + duration_ms;
    while (FireDueTimer(until_ms)) {
    }
    MoveClock(until_ms);
}

void HeadlessBackend::EndModal(CDialog& /*dialog*/) {}

void HeadlessBackend::WindowCreated(CDialog& /*dialog*/) {}

void HeadlessBackend::WindowDestroyed(CDialog& dialog) {
    std::erase_if(timers_, [&dialog](const std::unique_ptr<Timer>& timer) {
        return timer->window == &dialog;
    });
}

void HeadlessBackend::ControlChanged(CDialog& /*dialog*/, int /*controlId*/) {}

void HeadlessBackend::StartTimer(CWnd& window, UINT_PTR timerId, UINT period_ms) {
    const UINT period = std::max(period_ms, kMinimumTimerPeriod_ms);
    for (const auto& timer : timers_) {
        if (timer->window == &window && timer->id == timerId) {
            timer->period_ms = period;
            timer->due_ms = now_ms_ + period;
            return;
        }
    }
    auto timer = std::make_unique<Timer>();
    timer->window = &window;
    timer->id = timerId;
    timer->period_ms = period;
    timer->due_ms = now_ms_ + period;
    timer->serial = ++timerSerial_;
    timers_.push_back(std::move(timer));
}

void HeadlessBackend::StopTimer(CWnd& window, UINT_PTR timerId) {
    std::erase_if(timers_, [&window, timerId](const std::unique_ptr<Timer>& timer) {
        return timer->window == &window && timer->id == timerId;
    });
}

int HeadlessBackend::ShowMessageBox(CWnd* /*owner*/, std::string_view text,
                                    std::string_view caption, UINT type) {
    MessageBoxRecord record{std::string(text), std::string(caption), type, DefaultAnswer(type),
                            false};
    const auto expectation = std::find_if(
        expectations_.begin(), expectations_.end(),
        [text](const Expectation& e) { return text.find(e.fragment) != std::string_view::npos; });
    if (expectation != expectations_.end()) {
        const std::vector<int> buttons = ButtonsOf(type);
        if (std::find(buttons.begin(), buttons.end(), expectation->answer) != buttons.end()) {
            record.answer = expectation->answer;
            record.expected = true;
        } else {
            RecordFailure("The message box \"" + record.text + "\" has no button " +
                          std::to_string(expectation->answer) +
                          " to answer with; it got its default answer.");
        }
        expectations_.erase(expectation);
    }
    if (echo_) {
        std::fprintf(stderr, "[%s] %s\n", record.caption.c_str(), record.text.c_str());
    }
    messageBoxes_.push_back(record);
    return record.answer;
}

std::optional<std::filesystem::path> HeadlessBackend::AskSaveFilePath(
    CWnd* /*owner*/, const SaveFilePrompt& prompt) {
    SavePromptRecord record{prompt, std::nullopt, false};
    if (savePromptExpectations_.empty()) {
        RecordFailure("The save prompt \"" + prompt.title +
                      "\" came with no answer in the script; it was cancelled.");
    } else {
        record.answer = std::move(savePromptExpectations_.front());
        record.expected = true;
        savePromptExpectations_.erase(savePromptExpectations_.begin());
    }
    if (echo_) {
        const std::string answer = record.answer ? record.answer->string() : "cancelled";
        std::fprintf(stderr, "[%s] %s: %s\n", prompt.title.c_str(), prompt.defaultName.c_str(),
                     answer.c_str());
    }
    savePrompts_.push_back(record);
    return record.answer;
}

std::string HeadlessBackend::WritePngFromSvg(std::string_view /*svg*/, int /*width_px*/,
                                             int /*height_px*/,
                                             const std::filesystem::path& /*path*/) {
    return "PNG pictures need the desktop";
}

UINT HeadlessBackend::TrackPopupMenu(CWnd& /*owner*/, const std::vector<MenuItem>& items,
                                     CPoint /*screen*/) {
    MenuRecord record;
    for (const MenuItem& item : items) {
        record.items.push_back(item.IsSeparator() ? std::string() : StripMnemonic(item.text));
    }
    if (!menuExpectations_.empty()) {
        const std::string wanted = StripMnemonic(menuExpectations_.front());
        menuExpectations_.erase(menuExpectations_.begin());
        const auto item = std::find_if(items.begin(), items.end(), [&wanted](const MenuItem& i) {
            return !i.IsSeparator() && StripMnemonic(i.text) == wanted;
        });
        if (wanted.empty()) {
            record.expected = true;
        } else if (item == items.end() || !item->IsChoosable()) {
            RecordFailure("The pop-up menu has no item \"" + wanted + "\" to choose" +
                          (item == items.end() ? "" : " (it is disabled)") + "; it was dismissed.");
        } else {
            record.chosen = wanted;
            record.answer = item->id;
            record.expected = true;
        }
    }
    menus_.push_back(record);
    return record.answer;
}

void HeadlessBackend::PumpWaitingMessages() {
    MoveClock(now_ms_ + pumpQuantum_ms_);
    while (FireDueTimer(now_ms_)) {
    }
    if (CDialog* dialog = ActiveDialog(); dialog != nullptr && !dialog->HasEnded()) {
        RunNextStep(*dialog);
    }
}

void HeadlessBackend::RequestHelp(std::string_view helpFile, DWORD_PTR topic) {
    if (echo_) {
        std::fprintf(stderr, "help: %.*s, topic %lu\n", static_cast<int>(helpFile.size()),
                     helpFile.data(), static_cast<unsigned long>(topic));
    }
    helpRequests_.push_back(HelpRequest{std::string(helpFile), topic});
}

bool HeadlessBackend::IsKeyDown(UINT virtualKey) const {
    switch (virtualKey) {
        case VK_CONTROL:
            return modifiers_.control;
        case VK_MENU:
            return modifiers_.alt;
        case VK_SHIFT:
            return modifiers_.shift;
        default:
            return false;
    }
}

// --- Session ---

Session::Session() : previous_(InstallBackend(&backend_)) {}

Session::~Session() {
    InstallBackend(previous_);
}

}  // namespace ui::headless
