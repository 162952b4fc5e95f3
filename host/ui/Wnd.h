#pragma once

// Windows and child controls, the way dialog code addresses them: CWnd (a dialog or one of its
// controls), and the typed wrappers CButton, CEdit, CStatic, CComboBox, CListBox, CSliderCtrl,
// CSpinButtonCtrl, CTabCtrl. A wrapper is
// either the object GetDlgItem returns (owned by the dialog, of the wrapper type matching the
// control's kind, so static_cast<CComboBox*>(GetDlgItem(id)) is valid on a combo) or a member of
// the dialog attached with DDX_Control (Dialog.h). A wrapper that is not attached, or a call
// that does not fit the control's kind, does nothing and returns the failure value (CB_ERR,
// FALSE, empty text).
//
//   GetDlgItem(3262)->EnableWindow(TRUE);
//   m_axisCombo.AddString("1"); m_axisCombo.SetItemData(0, 1); m_axisCombo.SetCurSel(0);
//   if (AfxMessageBox("Text", MB_OKCANCEL) == IDOK) ...
//   { CWaitCursor wait; ... PumpWaitingMessages(); ... }
//   m_gainSlider.SetRange(50, 150, TRUE); m_gainSlider.SetPos(100);
//   m_pages.InsertItem(0, "Test Parameters"); m_pages.InsertItem(1, "Test");
//
// Sliders report to the dialog through OnHScroll, spin buttons (UDN_DELTAPOS) and tab controls
// (TCN_SELCHANGE) through OnNotify, the right mouse button through OnContextMenu. Changing a
// control from code sends none of these.

#include <string>
#include <string_view>

#include "host/ui/AfxTypes.h"
#include "host/ui/ControlState.h"
#include "host/ui/DialogTemplate.h"

class CDialog;
class CWnd;
// The window a slider's OnHScroll names: the slider's own wrapper, so that
// static_cast<CSliderCtrl*>(pScrollBar) is valid.
using CScrollBar = CWnd;

class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Non-null while the window (or control) exists.
    HWND GetSafeHwnd() const;
    // The control's id; 0 for a dialog.
    int GetDlgCtrlID() const;
    // The dialog a control belongs to (for a dialog: its parent window, or null).
    CWnd* GetParent() const;

    // Children of a dialog, by id: null when the window does not exist or has no such control.
    CWnd* GetDlgItem(int id) const;

    void SetWindowText(std::string_view text);
    std::string GetWindowText() const;
    void GetWindowText(std::string& text) const { text = GetWindowText(); }
    // Returns whether the window was disabled before.
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    // SW_SHOW or SW_HIDE; returns whether the window was visible before.
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    // Gives this control the keyboard focus (the control that had it gets EN_KILLFOCUS).
    void SetFocus();
    void CenterWindow() {}
    // Asks the backend to repaint (colours may have changed).
    void Invalidate(BOOL erase = TRUE);

    // Shortcuts on a dialog's children.
    void SetDlgItemText(int id, std::string_view text);
    std::string GetDlgItemText(int id) const;
    void CheckDlgButton(int id, UINT check);
    UINT IsDlgButtonChecked(int id) const;
    // Checks checkId and unchecks the other buttons of firstId ... lastId.
    void CheckRadioButton(int firstId, int lastId, int checkId);
    // The checked button of firstId ... lastId, or 0.
    int GetCheckedRadioButton(int firstId, int lastId) const;

    int MessageBox(std::string_view text, std::string_view caption = {}, UINT type = MB_OK);

    // Window timers of a dialog: OnTimer(timerId) every period_ms until KillTimer.
    UINT_PTR SetTimer(UINT_PTR timerId, UINT period_ms);
    BOOL KillTimer(UINT_PTR timerId);

    // Handlers a dialog overrides.
    // A control notification (BN_CLICKED, CBN_SELCHANGE, EN_CHANGE, EN_KILLFOCUS, ...); returns
    // TRUE when handled. Overrides call the base class for ids they do not handle.
    virtual BOOL OnCommand(UINT id, UINT notifyCode);
    virtual void OnTimer(UINT_PTR timerId);
    virtual void OnShowWindow(BOOL show, UINT status);
    // The colour a control's text is drawn in; the default is defaultColour.
    virtual COLORREF OnCtlColor(int controlId, COLORREF defaultColour);
    // A slider moved (WM_HSCROLL): TB_THUMBTRACK with the new position while it is dragged,
    // TB_ENDTRACK when the move is done.
    virtual void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    // WM_NOTIFY: wParam is the control's id, lParam points to its NMHDR (NMUPDOWN for
    // UDN_DELTAPOS); returns TRUE when handled, with the answer in *pResult.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // The right mouse button over pWnd (the dialog or one of its controls), at the point in
    // screen pixels.
    virtual void OnContextMenu(CWnd* pWnd, CPoint point);
    // A message of the program's own (WM_USER and above) sent to this window; the default
    // answers 0. Overrides call the base class for messages they do not handle.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Delivers the message to WindowProc at once and returns its answer.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // The state behind this control (null for a dialog or a wrapper that is not attached).
    ui::ControlState* GetControlState() const { return control_; }

    // Attaches a wrapper to a control of a dialog (DDX_Control does this).
    void Attach(CDialog& dialog, ui::ControlState& control);
    // Attaches it to the dialog's control of that id while the dialog's window exists (from
    // OnInitDialog on); FALSE, with the problem reported, when there is no such control.
    BOOL Attach(CDialog& dialog, int id);
    // The same, with the desktop toolkit's order of arguments; the parent must be a dialog.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    void Detach();

  protected:
    // The wrapper has just been attached to a control: a wrapper that keeps settings of its own
    // (the kernel's drawn controls) writes them into the control's state here.
    virtual void OnAttached() {}
    // A change of the control's state for the backend to draw.
    void Changed() const;
    CDialog* OwnerDialog() const { return owner_; }
    // Whether this is a control of the expected kind; reports nothing.
    bool Is(ui::ControlKind kind) const;
    bool IsListControl() const;

  private:
    friend class CDialog;

    CDialog* owner_ = nullptr;             // the dialog this control belongs to
    ui::ControlState* control_ = nullptr;  // null for a dialog
};

class CButton : public CWnd {
  public:
    void SetCheck(int check);
    int GetCheck() const;
    // Puts a bitmap of the resources on the button, by name.
    void SetBitmap(const ui::Bitmap& bitmap);
};

class CEdit : public CWnd {
  public:
    void SetLimitText(UINT maxCharacters);
    UINT GetLimitText() const;
    BOOL SetReadOnly(BOOL readOnly = TRUE);
};

class CStatic : public CWnd {
  public:
    // Shows a bitmap in a picture control (an empty bitmap clears it); returns the previous one.
    ui::Bitmap SetBitmap(const ui::Bitmap& bitmap);
    ui::Bitmap GetBitmap() const;
};

class CComboBox : public CWnd {
  public:
    int AddString(std::string_view text);
    int InsertString(int index, std::string_view text);  // -1 appends
    int DeleteString(int index);
    void ResetContent();
    int GetCount() const;
    int SetItemData(int index, DWORD_PTR data);
    DWORD_PTR GetItemData(int index) const;  // CB_ERR converted when out of range
    int SetCurSel(int index);                // -1 clears; CB_ERR when out of range
    int GetCurSel() const;
    void GetLBText(int index, std::string& text) const;
    std::string GetLBText(int index) const;
    int FindStringExact(int startAfter, std::string_view text) const;
    // Selects the first item whose text starts with the text; returns its index or CB_ERR.
    int SelectString(int startAfter, std::string_view text);
};

class CListBox : public CWnd {
  public:
    int AddString(std::string_view text);
    int InsertString(int index, std::string_view text);
    int DeleteString(int index);
    void ResetContent();
    int GetCount() const;
    int SetItemData(int index, DWORD_PTR data);
    DWORD_PTR GetItemData(int index) const;
    int SetCurSel(int index);
    int GetCurSel() const;
    void GetText(int index, std::string& text) const;
    std::string GetText(int index) const;
    int FindStringExact(int startAfter, std::string_view text) const;
};

class CSliderCtrl : public CWnd {
  public:
    // The position is kept within the range (a new range moves it in).
    void SetRange(int minimum, int maximum, BOOL redraw = FALSE);
    void GetRange(int& minimum, int& maximum) const;
    int GetRangeMin() const;
    int GetRangeMax() const;
    void SetPos(int position);
    int GetPos() const;
    // A tick mark every frequency positions.
    void SetTicFreq(int frequency);
    // The step of a click beside the thumb and of an arrow key; each returns the previous one.
    int SetPageSize(int size);
    int GetPageSize() const;
    int SetLineSize(int size);
    int GetLineSize() const;
};

class CSpinButtonCtrl : public CWnd {
  public:
    // lower may exceed upper: the up arrow then lowers the position.
    void SetRange32(int lower, int upper);
    void GetRange32(int& lower, int& upper) const;
    // Returns the previous position; the new one is kept within the range.
    int SetPos32(int position);
    // *error is TRUE when this is not an attached spin button.
    int GetPos32(BOOL* error = nullptr) const;
};

// A strip of tabs. It owns no pages: the dialog shows and hides its own controls on
// TCN_SELCHANGE.
class CTabCtrl : public CWnd {
  public:
    // Inserts a tab (an index past the end appends); returns its index or -1. The first tab
    // inserted becomes the selected one.
    LONG InsertItem(int index, std::string_view text);
    BOOL DeleteItem(int index);
    BOOL DeleteAllItems();
    int GetItemCount() const;
    // The selected tab, -1 when none.
    int GetCurSel() const;
    // Selects the tab (without TCN_SELCHANGE); returns the previous selection, -1 when the
    // index is out of range.
    int SetCurSel(int index);
};

// A message box owned by the active dialog, captioned with the application title.
int AfxMessageBox(std::string_view text, UINT type = MB_OK, UINT helpId = 0);

// The caption of AfxMessageBox boxes (default "brevan").
void SetApplicationTitle(std::string_view title);
const std::string& GetApplicationTitle();

// Dispatches waiting input and timer events once; long loops inside a handler call it so that
// Stop stays usable.
void PumpWaitingMessages();

// Negative (high bit set) while the key is held.
short GetKeyState(int virtualKey);

// Shows the wait cursor while it lives.
class CWaitCursor {
  public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    void Restore();
};
void BeginWaitCursor();
void EndWaitCursor();

// Opens a help file at a topic; command HH_HELP_CONTEXT with the context number as data. Other
// commands are reported and ignored. Returns TRUE when the help was requested.
BOOL HtmlHelp(HWND owner, std::string_view helpFile, UINT command, DWORD_PTR data);
