#pragma once

// User input as a backend delivers it to a dialog, with what a user can and cannot do: only the
// innermost modal dialog takes input, and only enabled, visible controls (an edit must not be
// read-only to be typed into). Each function changes the control state the way the toolkit does
// (an auto check box toggles, a radio button checks itself and unchecks its group) and then
// sends the notification the toolkit would send. A refusal changes nothing and says why.
//
//   ui::InputResult result = ui::input::Click(dialog, IDOK);
//   if (!result) report(result.reason);

#include <cstddef>
#include <string>
#include <string_view>

#include "host/ui/AfxTypes.h"

class CDialog;

namespace ui {

struct InputResult {
    bool ok = true;
    std::string reason;  // why the input was refused
    explicit operator bool() const { return ok; }
};

struct Modifiers {
    bool control = false;
    bool alt = false;
    bool shift = false;
};

namespace input {

// A click on a push button, check box or radio button: BN_CLICKED.
InputResult Click(CDialog& dialog, int id);
// Focus into the edit (EN_SETFOCUS), its text replaced (EN_CHANGE), focus kept.
InputResult EnterText(CDialog& dialog, int id, std::string_view text);
// The focus leaves the control that has it (EN_KILLFOCUS for an edit).
InputResult LeaveField(CDialog& dialog);
// Picks an item of a combo, unit or list box: CBN_SELCHANGE (only when the selection changes).
InputResult SelectIndex(CDialog& dialog, int id, int index);
// A key pressed with modifiers: PreTranslateMessage sees WM_KEYDOWN (WM_SYSKEYDOWN for Alt
// without Control), then the dialog's keys: Return clicks the default button (IDOK when none),
// Escape sends IDCANCEL. The key-up follows.
InputResult PressKey(CDialog& dialog, UINT virtualKey, Modifiers modifiers = {});
// The window's close box: IDCANCEL.
InputResult Close(CDialog& dialog);
// Drags a slider's thumb to the position (clamped to its range): OnHScroll with TB_THUMBTRACK
// at the new position, then TB_ENDTRACK. A thumb that stays where it is sends nothing.
InputResult MoveSlider(CDialog& dialog, int id, int position);
// A click on a spin button's arrow asking for a change of the position by delta (the up arrow
// steps toward the range's upper end: +1, or -1 when the range runs downward): UDN_DELTAPOS with
// the position and the change, then, unless the handler refuses it, the position moves by delta
// within the range.
InputResult Spin(CDialog& dialog, int id, int delta);
// Picks a tab of a tab control: TCN_SELCHANGE (only when the selection changes).
InputResult SelectTab(CDialog& dialog, int id, int index);
// The right mouse button over the control (id 0: over the dialog itself), at the point in screen
// pixels: OnContextMenu with the control's window (the dialog for id 0) and the point.
InputResult ContextMenu(CDialog& dialog, int id, CPoint point);
// Steps the scale of a graph control's curve (the mouse wheel over the curve's value axis): the
// dialog gets kGraphScaleRequest with the curve scale's channel and the step (+1 coarser, -1
// finer). Refused for a curve drawn against a fitted axis, which has no scale to step.
InputResult StepGraphScale(CDialog& dialog, int id, std::size_t curve, int step);

}  // namespace input
}  // namespace ui
