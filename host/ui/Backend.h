#pragma once

// What a windowing backend does for the layer: modal loops (nested), timers, message boxes, save
// prompts, the message pump, pop-up menus, cursors, help requests and PNG pictures, and drawing
// the control state it is told changed. The headless backend (headless/HeadlessBackend.h) is the
// one in use unless the host installs another one; a desktop backend implements the same interface
// over its toolkit (a modal loop per dialog, toolkit timers, toolkit message boxes, event
// processing for the pump) and feeds user input back through UserInput.h.
//
//   ui::Backend& backend = ui::CurrentBackend();
//   ui::InstallBackend(&myBackend);   // returns the previous one; nullptr restores the default

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/ui/AfxTypes.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/Menu.h"

class CWnd;
class CDialog;

namespace ui {

enum class Cursor {
    Arrow,
    Wait,
};

class Backend {
  public:
    virtual ~Backend() = default;

    // The dialog's window has been created (controls from its template, OnInitDialog not yet
    // run) or is about to be destroyed.
    virtual void WindowCreated(CDialog& dialog) = 0;
    virtual void WindowDestroyed(CDialog& dialog) = 0;
    // Shows the dialog and runs its modal loop; returns once the dialog has ended (EndDialog).
    // Called from DoModal, possibly from inside another dialog's handler (nested loops).
    virtual void RunModal(CDialog& dialog) = 0;
    // EndDialog was called: the dialog's loop returns once control is back in it.
    virtual void EndModal(CDialog& dialog) = 0;

    // A control's state (or, for controlId 0, the dialog's caption) changed and needs redrawing.
    virtual void ControlChanged(CDialog& dialog, int controlId) = 0;

    // Window timers: OnTimer(id) of the window every period_ms until stopped. Starting an
    // existing id restarts it with the new period.
    virtual void StartTimer(CWnd& window, UINT_PTR timerId, UINT period_ms) = 0;
    virtual void StopTimer(CWnd& window, UINT_PTR timerId) = 0;

    // A modal message box; returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO, ...).
    virtual int ShowMessageBox(CWnd* owner, std::string_view text, std::string_view caption,
                               UINT type) = 0;

    // A modal save prompt (FileDialogs.h); returns the chosen path, std::nullopt when cancelled.
    virtual std::optional<std::filesystem::path> AskSaveFilePath(CWnd* owner,
                                                                 const SaveFilePrompt& prompt) = 0;

    // Writes the SVG picture as a PNG file of that size; returns an empty text when written,
    // else why not (FileDialogs.h).
    virtual std::string WritePngFromSvg(std::string_view svg, int width_px, int height_px,
                                        const std::filesystem::path& path) = 0;

    // Shows a pop-up menu over the owner's window at the screen point and waits for the user;
    // returns the chosen item's id, 0 when the menu was dismissed.
    virtual UINT TrackPopupMenu(CWnd& owner, const std::vector<MenuItem>& items, CPoint screen) = 0;

    // Dispatches the waiting input and timer events once, for long loops inside a handler.
    virtual void PumpWaitingMessages() = 0;

    virtual void SetCursor(Cursor cursor) = 0;

    // Opens a help file at a topic (context number).
    virtual void RequestHelp(std::string_view helpFile, DWORD_PTR topic) = 0;

    // The time of the loop, in milliseconds since the backend started (virtual in headless runs).
    virtual std::uint64_t Now_ms() const = 0;

    // Whether a modifier key (VK_SHIFT, VK_CONTROL, VK_MENU) is held: GetKeyState's answer.
    virtual bool IsKeyDown(UINT virtualKey) const = 0;

    // A fault of the layer itself (a template that cannot be loaded, a bitmap that does not
    // exist) that the user must hear about.
    virtual void ReportProblem(std::string_view problem) = 0;
};

// The backend in use: the one installed last, else a process-wide headless backend.
Backend& CurrentBackend();
// Installs a backend (not owned) and returns the one installed before; nullptr goes back to the
// process-wide headless backend.
Backend* InstallBackend(Backend* backend);

}  // namespace ui
