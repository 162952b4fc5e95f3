#pragma once

// The desktop backend of the windowing layer, on Qt 6 Widgets: a QDialog per dialog (built from
// its template, DialogWindow.h), modal runs with QDialog::exec (nested as the dialogs nest),
// window timers with QTimer, message boxes with QMessageBox, save prompts with Qt's own
// QFileDialog (SaveFileDialog.h), PNG pictures with Qt SVG (PngPictures.h), pop-up menus with
// QMenu, the pump with QCoreApplication::processEvents, the wait cursor as the application's
// override cursor, help pages in the desktop's browser (HelpPages.h) and problems as warning boxes.
// Dialogs draw with the Fusion style and DejaVu Sans so that they look the same on every desktop.
//
// A QApplication must exist while the backend lives.
//
//   QApplication app(argc, argv);
//   ui::qt::QtBackend backend;
//   ui::qt::Installation installed(backend);           // the layer's backend for this scope
//   int result = EditSetup(&setup);

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "host/ui/Backend.h"
#include "host/ui/qt/Bitmaps.h"
#include "host/ui/qt/DialogMetrics.h"
#include "host/ui/qt/DialogWindow.h"
#include "host/ui/qt/HelpPages.h"

class QTimer;

namespace ui::qt {

class QtBackend : public Backend {
  public:
    using ProblemHandler = std::function<void(std::string_view problem)>;

    QtBackend();
    ~QtBackend() override;
    QtBackend(const QtBackend&) = delete;
    QtBackend& operator=(const QtBackend&) = delete;

    // How help pages are opened (default: the desktop's browser).
    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    // Where the layer's problems go (default: standard error and a warning box).
    void SetProblemHandler(ProblemHandler handler) { handleProblem_ = std::move(handler); }

    // The window of an open dialog, or null.
    DialogWindow* WindowOf(const CDialog& dialog) const;
    const DialogMetrics& Metrics() const { return metrics_; }
    BitmapLibrary& Bitmaps() { return bitmaps_; }

    // A key the user pressed in a dialog, with the modifiers held: GetKeyState answers from them
    // while the layer handles the key.
    void DeliverKey(CDialog& dialog, UINT virtualKey, Qt::KeyboardModifiers modifiers);

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
    void SetCursor(Cursor cursor) override;
    void RequestHelp(std::string_view helpFile, DWORD_PTR topic) override;
    std::uint64_t Now_ms() const override;
    bool IsKeyDown(UINT virtualKey) const override;
    void ReportProblem(std::string_view problem) override;

  private:
    // The window new dialogs and message boxes open over: the innermost open dialog's.
    QWidget* InnermostWindow() const;
    void ShowProblem(std::string_view problem);

    DialogMetrics metrics_;
    BitmapLibrary bitmaps_;
    std::map<const CDialog*, QPointer<DialogWindow>> windows_;
    // Owns the timers, so that a timer stopped from its own handler is deleted later.
    QObject timerOwner_;
    std::map<std::pair<const CWnd*, UINT_PTR>, QPointer<QTimer>> timers_;
    QElapsedTimer clock_;
    bool waitCursor_ = false;
    std::optional<Qt::KeyboardModifiers> keyModifiers_;
    UrlOpener openUrl_;
    ProblemHandler handleProblem_;
};

// Installs a backend for the life of this object and puts the previous one back afterwards.
class Installation {
  public:
    explicit Installation(Backend& backend) : previous_(InstallBackend(&backend)) {}
    ~Installation() { InstallBackend(previous_); }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

  private:
    Backend* previous_;
};

}  // namespace ui::qt
