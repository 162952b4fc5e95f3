#include "host/ui/qt/QtBackend.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "host/ui/Dialog.h"
#include "host/ui/UserInput.h"
#include "host/ui/qt/Keys.h"
#include "host/ui/qt/MessageBoxes.h"
#include "host/ui/qt/PngPictures.h"
#include "host/ui/qt/PopupMenus.h"
#include "host/ui/qt/SaveFileDialog.h"
#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

constexpr const char* kStyle = "Fusion";
// A timer asked for with period 0 fires at the smallest period Qt's timers resolve.
constexpr UINT kMinimumTimerPeriod_ms = 1;

}  // namespace

QtBackend::QtBackend()
    : bitmaps_([this](std::string_view problem) { ReportProblem(problem); }),
      openUrl_(DesktopUrlOpener()),
      handleProblem_([this](std::string_view problem) { ShowProblem(problem); }) {
    QApplication::setStyle(QString::fromLatin1(kStyle));
    clock_.start();
}

QtBackend::~QtBackend() {
    if (waitCursor_) {
        QGuiApplication::restoreOverrideCursor();
    }
    for (auto& [dialog, window] : windows_) {
        delete window.data();
    }
}

DialogWindow* QtBackend::WindowOf(const CDialog& dialog) const {
    const auto found = windows_.find(&dialog);
    return found != windows_.end() ? found->second.data() : nullptr;
}

QWidget* QtBackend::InnermostWindow() const {
    CDialog* active = ActiveDialog();
    return active != nullptr ? WindowOf(*active) : nullptr;
}

void QtBackend::WindowCreated(CDialog& dialog) {
    // The dialog is already the innermost open one; its window opens over the one before it.
    const std::vector<CDialog*>& open = OpenDialogs();
    QWidget* parent = nullptr;
    if (open.size() >= 2 && open.back() == &dialog) {
        parent = WindowOf(*open[open.size() - 2]);
    }
    windows_[&dialog] = new DialogWindow(dialog, *this, parent);
}

void QtBackend::WindowDestroyed(CDialog& dialog) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->first.first == &dialog) {
            if (QTimer* timer = it->second.data()) {
                timer->stop();
                timer->deleteLater();
            }
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
    const auto found = windows_.find(&dialog);
    if (found != windows_.end()) {
        delete found->second.data();
        windows_.erase(found);
    }
}

void QtBackend::RunModal(CDialog& dialog) {
    if (DialogWindow* window = WindowOf(dialog); window != nullptr && !dialog.HasEnded()) {
        window->exec();
    }
}

void QtBackend::EndModal(CDialog& dialog) {
    if (DialogWindow* window = WindowOf(dialog)) {
        window->done(dialog.GetResult());
    }
}

void QtBackend::ControlChanged(CDialog& dialog, int controlId) {
    if (DialogWindow* window = WindowOf(dialog)) {
        window->Refresh(controlId);
    }
}

void QtBackend::StartTimer(CWnd& window, UINT_PTR timerId, UINT period_ms) {
    const int period = static_cast<int>(std::max(period_ms, kMinimumTimerPeriod_ms));
    QPointer<QTimer>& slot = timers_[{&window, timerId}];
    if (slot.isNull()) {
        slot = new QTimer(&timerOwner_);
        QObject::connect(slot.data(), &QTimer::timeout, &timerOwner_,
                         [target = &window, timerId] { target->OnTimer(timerId); });
    }
    slot->start(period);
}

void QtBackend::StopTimer(CWnd& window, UINT_PTR timerId) {
    const auto found = timers_.find({&window, timerId});
    if (found == timers_.end()) {
        return;
    }
    if (QTimer* timer = found->second.data()) {
        timer->stop();
        timer->deleteLater();
    }
    timers_.erase(found);
}

int QtBackend::ShowMessageBox(CWnd* /*owner*/, std::string_view text, std::string_view caption,
                              UINT type) {
    return RunMessageBox(InnermostWindow(), metrics_.Font(), text, caption, type);
}

std::optional<std::filesystem::path> QtBackend::AskSaveFilePath(CWnd* /*owner*/,
                                                                const SaveFilePrompt& prompt) {
    return RunSaveFileDialog(InnermostWindow(), metrics_.Font(), prompt);
}

std::string QtBackend::WritePngFromSvg(std::string_view svg, int width_px, int height_px,
                                       const std::filesystem::path& path) {
    return WritePng(svg, width_px, height_px, path);
}

UINT QtBackend::TrackPopupMenu(CWnd& /*owner*/, const std::vector<MenuItem>& items, CPoint screen) {
    return RunPopupMenu(InnermostWindow(), metrics_.Font(), items, QPoint(screen.x, screen.y));
}

void QtBackend::PumpWaitingMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtBackend::SetCursor(Cursor cursor) {
    const bool wait = cursor == Cursor::Wait;
    if (wait == waitCursor_) {
        return;
    }
    if (wait) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
    waitCursor_ = wait;
}

void QtBackend::RequestHelp(std::string_view helpFile, DWORD_PTR topic) {
    const HelpPage page = FindHelpPage(std::filesystem::path(helpFile), topic);
    if (!page.problem.empty()) {
        ReportProblem(page.problem);
        return;
    }
    if (!openUrl_(page.url)) {
        ReportProblem("The help page " + FromQString(page.url.toLocalFile()) +
                      " could not be opened: no browser answered.");
    }
}

std::uint64_t QtBackend::Now_ms() const {
    return static_cast<std::uint64_t>(clock_.elapsed());
}

void QtBackend::DeliverKey(CDialog& dialog, UINT virtualKey, Qt::KeyboardModifiers modifiers) {
    const std::optional<Qt::KeyboardModifiers> outer = keyModifiers_;
    keyModifiers_ = modifiers;
    input::PressKey(dialog, virtualKey, ModifiersOf(modifiers));
    keyModifiers_ = outer;
}

bool QtBackend::IsKeyDown(UINT virtualKey) const {
    const Qt::KeyboardModifiers held =
        keyModifiers_ ? *keyModifiers_ : QGuiApplication::queryKeyboardModifiers();
    switch (virtualKey) {
        case VK_SHIFT:
            return held.testFlag(Qt::ShiftModifier);
        case VK_CONTROL:
            return held.testFlag(Qt::ControlModifier);
        case VK_MENU:
            return held.testFlag(Qt::AltModifier);
        default:
            return false;
    }
}

void QtBackend::ReportProblem(std::string_view problem) {
    handleProblem_(problem);
}

void QtBackend::ShowProblem(std::string_view problem) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(problem.size()), problem.data());
    RunMessageBox(InnermostWindow(), metrics_.Font(), problem, GetApplicationTitle(),
                  MB_OK | MB_ICONWARNING);
}

}  // namespace ui::qt
