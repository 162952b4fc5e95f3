#pragma once

// Modal dialogs made from templates. A dialog is constructed with a template id and a parent,
// runs with DoModal, and reacts through virtual handlers: OnInitDialog (window exists, controls
// from the template), DoDataExchange (UpdateData), OnOK / OnCancel, OnCommand (clicks, selection
// changes, edit notifications), OnHScroll (sliders), OnNotify (spin buttons, tab controls),
// OnContextMenu, OnTimer, OnShowWindow, PreTranslateMessage (keys).
//
//   class CMyDlg : public CDialog {
//     public:
//       CMyDlg() : CDialog(3056, nullptr) {}
//       BOOL OnInitDialog() override { CDialog::OnInitDialog(); CheckDlgButton(3333, 1);
//                                      return TRUE; }
//       BOOL OnCommand(UINT id, UINT code) override {
//           if (id == 3334 && code == BN_CLICKED) { choice_ = 2; return TRUE; }
//           return CDialog::OnCommand(id, code); }
//   };
//   CMyDlg dialog;  if (dialog.DoModal() == IDOK) ...
//
// DoModal returns IDOK or IDCANCEL (or what EndDialog was given), and -1 when the window could
// not be made (template missing or malformed; the problem is reported).

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "host/ui/AfxTypes.h"
#include "host/ui/ControlState.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/Wnd.h"

class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    // Marks the exchange as failed: UpdateData returns FALSE (the default OnOK keeps the dialog).
    void Fail() { failed_ = true; }
    bool Failed() const { return failed_; }

    // The desktop toolkit's names: TRUE when control contents go into the dialog's data.
    BOOL m_bSaveAndValidate;
    CDialog* m_pDlgWnd;

  private:
    bool failed_ = false;
};

// Attaches a wrapper member to the control (once; later exchanges leave it attached).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Text of a control; check state of a check box; index of the checked button in the radio run
// starting at firstId (-1 when none); selection index of a list.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);
void DDX_Radio(CDataExchange* pDX, int firstId, int& value);
void DDX_CBIndex(CDataExchange* pDX, int id, int& index);

class CDialog : public CWnd {
  public:
    CDialog(UINT templateId, CWnd* parent);
    // A dialog made from a template built in code.
    CDialog(ui::DialogTemplate dialogTemplate, CWnd* parent);
    ~CDialog() override;

    virtual INT_PTR DoModal();
    // Ends the modal run with that result once the current handler returns.
    void EndDialog(int result);

    // FALSE: data to controls; TRUE: controls to data, with validation. Returns FALSE when the
    // exchange failed.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    UINT GetTemplateId() const { return templateId_; }
    CWnd* GetParentWindow() const { return parent_; }
    // The window's state while it exists (null otherwise).
    ui::WindowState* GetWindowState() const { return window_.get(); }
    // Whether EndDialog was called in the current run, and with what.
    bool HasEnded() const { return ended_; }
    int GetResult() const { return result_; }

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    // A key message before the dialog handles it; TRUE consumes it.
    virtual BOOL PreTranslateMessage(MSG* message);
    // IDOK and IDCANCEL clicks go to OnOK and OnCancel.
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    // Where every control notification enters the dialog (user input, or a control changed by
    // code the way the toolkit notifies it): first OnControlNotification, then OnCommand.
    void DispatchCommand(UINT id, UINT notifyCode);

    // Sends a WM_NOTIFY from a control (header.hwndFrom, idFrom and code filled in) to OnNotify;
    // returns the answer the handler left in *pResult (0 when unhandled).
    LRESULT DispatchNotify(NMHDR& header);

    // The wrapper GetDlgItem returns for a control (owned by the dialog).
    CWnd* ItemWindow(ui::ControlState& control);
    // The window messages name for a control: the member attached to it with DDX_Control, else
    // the GetDlgItem wrapper.
    CWnd* WindowOf(ui::ControlState& control);

  protected:
    // For layers between CDialog and the concrete dialogs (the kernel's parameter binding):
    // sees every notification before OnCommand, so that bound values are stored before the
    // dialog's own handler runs.
    virtual void OnControlNotification(UINT id, UINT notifyCode);

  private:
    friend class CWnd;

    bool CreateWindowState();
    void DestroyWindowState();
    void RegisterAttached(CWnd& wrapper);
    void UnregisterAttached(CWnd& wrapper);

    UINT templateId_;
    std::optional<ui::DialogTemplate> builtTemplate_;
    CWnd* parent_;
    std::unique_ptr<ui::WindowState> window_;
    std::map<const ui::ControlState*, std::unique_ptr<CWnd>> itemWindows_;
    std::set<CWnd*> attached_;
    bool ended_ = false;
    int result_ = IDCANCEL;
};

namespace ui {

// The dialogs whose windows exist, innermost modal run last.
const std::vector<CDialog*>& OpenDialogs();
// The innermost open dialog, or null.
CDialog* ActiveDialog();

}  // namespace ui
