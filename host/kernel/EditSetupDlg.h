#pragma once

// The kernel's parameter-bound dialog. A dialog binds its controls to named parameters of the
// setup in its constructor; when the window exists the kernel shows every bound value (edit
// boxes in the unit chosen in the unit combo, with the parameter's precision; check boxes;
// radio runs; drop-down lists by item data), takes over what the user enters (typed values
// parsed and checked against the parameter's range, refused entries answered with a message
// box naming the allowed range), stores it in the setup and notifies the dialog:
// OnChangedParameterValue(name), then OnRefreshParameterValue(name); a unit picked in a unit
// combo gives OnChangedParameterUnit(name).
//
//   class CMySetupDlg : public CQel_EditSetupDlg { ... };
//   CDriveSetupDlg::CDriveSetupDlg(CQel_Setup* setup, CWnd* parent)
//       : CMySetupDlg(setup, 106, 1, kGuidelines, parent) {
//       AddParameterControls("Vdc", 3163, 3166);
//       AddSwitchParameterControls("ControlMode", 1059, 1061);
//       AddCheckParameterControls("isOverCurrent", 3213);
//       EnableCANSettings();
//   }
//   void CDriveSetupDlg::OnChangedParameterValue(std::string_view name) {
//       if (qel::EqualsIgnoringCase(name, "ControlMode")) UpdateData(FALSE);
//       CMySetupDlg::OnChangedParameterValue(name);
//   }
//
// The constructor's flag: non-zero keeps what was taken over into the setup when the dialog is
// cancelled (the module's dialogs pass 1); 0 puts the bound parameters back as they were when
// the dialog was shown. EnableChild's third flag: non-zero while disabling also blanks the
// control's text (a value that does not apply), until the control is enabled again.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/Parameter.h"
#include "host/kernel/Setup.h"
#include "host/ui/Dialog.h"

namespace qel {
class MotorEditor;
class CanSettings;
}  // namespace qel

class CQel_EditSetupDlg : public CDialog {
  public:
    // Guideline texts: a null-terminated array (or null), shown one at a time in the read-only
    // edit kGuidelineTextId, stepped with kGuidelinePreviousId / kGuidelineNextId.
    CQel_EditSetupDlg(CQel_Setup* setup, UINT templateId, int flag,
                      const char* const* guidelineTexts, CWnd* parent);
    ~CQel_EditSetupDlg() override;

    static constexpr int kGuidelinePreviousId = 10005;
    static constexpr int kGuidelineNextId = 10006;
    static constexpr int kGuidelineTextId = 10007;
    static constexpr int kCanBaudRateComboId = 10021;
    static constexpr int kCanSettingsButtonId = 10022;

    CQel_Setup* GetSetup() const { return setup_; }

    // Bindings, made in the constructor (the window does not exist yet). A parameter the setup
    // lacks is reported (when g_bShowErrors is set) and its controls stay unbound.
    // Edit box and unit combo (0: none). One parameter may be bound to several controls.
    void AddParameterControls(std::string_view name, int editId, int unitComboId);
    // Check box showing 1/0 and writing 1/0.
    void AddCheckParameterControls(std::string_view name, int checkId);
    // Radio run firstId ... lastId: the button at firstId + k stands for value k.
    void AddSwitchParameterControls(std::string_view name, int firstId, int lastId);
    // Drop-down list: the value is the selected item's data; the dialog fills the items.
    void AddSwitchParameterControls(std::string_view name, int comboId);
    // A parameter the dialog owns (not in the setup), shown and edited like a setup parameter.
    void AddUserParameterControls(CQel_Parameter* parameter, int editId, int unitComboId);
    // A slider with its edit box, unit combo (0: none) and two spin buttons (0: none). The
    // slider's range is fixed here, from the parameter's value v, minimum and maximum now:
    // [max(minimum, 0.5 v), min(maximum, 1.5 v)] (the parameter's own range when that is empty,
    // as for v = 0), cut into kSliderPositions steps. The first spin button steps the value by
    // one slider step, the second by kCoarseSpinSteps; neither leaves the slider's range.
    void AddSliderParameterControls(std::string_view name, int sliderId, int editId,
                                    int unitComboId, int fineSpinId, int coarseSpinId);
    static constexpr int kSliderPositions = 100;
    static constexpr int kCoarseSpinSteps = 10;

    // What a binding made above binds, as the dialog made it (read-only; for checks of a
    // dialog's bindings against its template). A slider also has the Value binding of its edit.
    struct BindingInfo {
        enum class Kind { Value, Check, Radio, List, Slider };
        Kind kind = Kind::Value;
        std::string name;  // the parameter's name
        // A parameter of the dialog's own (AddUserParameterControls), null for a setup's.
        const CQel_Parameter* own = nullptr;
        int firstId = 0;     // edit, check box, first radio button, list or slider
        int lastId = 0;      // last radio button (firstId otherwise)
        int unitId = 0;      // unit combo of an edit, 0 for none
        int fineSpinId = 0;  // spin buttons of a slider, 0 for none
        int coarseSpinId = 0;
    };
    std::vector<BindingInfo> GetBindings() const;

    // The kernel takes over the motor database controls: kMotorDatabase... ids below.
    void InitializeMotorEditor();
    static constexpr int kMotorDatabaseGroupId = 10008;
    static constexpr int kMotorGroupId = 10009;
    static constexpr int kMotorDatabaseListId = 10010;
    static constexpr int kMotorListId = 10011;
    static constexpr int kMotorSaveId = 10012;
    static constexpr int kMotorDeleteId = 10013;
    // The prompt "Save to User Database" asks the motor's name in this edit.
    static constexpr int kMotorNameEditId = 100;
    // The kernel takes over the CAN baud-rate combo and the CANopen settings button.
    void EnableCANSettings();

    // Control helpers (do nothing before the window exists or for a missing id).
    void EnableChild(int id, int enable, int blankWhenDisabled);
    void EnableChildren(const int* ids, int enable, int blankWhenDisabled);  // 0-terminated
    void ShowChild(int id, int show);
    void ShowChildren(const int* ids, int show);  // 0-terminated
    void SetChildText(int id, std::string_view text);
    // A bitmap of the host's resources on a push button.
    void SetButtonImage(int buttonId, std::string_view bitmapName);

    // Redisplays every control bound to the parameter (setup or own), from its value.
    void RefreshParameterControls(std::string_view name);
    // Redisplays every bound control; the argument is unused (always 0).
    void RefreshAllParameters(int unused);

    // Notifications; overrides call these base versions.
    virtual void OnChangedParameterValue(std::string_view name);
    virtual void OnChangedParameterUnit(std::string_view name);
    virtual void OnRefreshParameterValue(std::string_view name);

    BOOL OnInitDialog() override;
    // A bound slider moved: its value is taken over (while the thumb is dragged too, so that
    // the value follows the thumb).
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) override;
    // A bound spin button clicked: the value steps (the spin button's own position stays).
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    // Loading: redisplays every bound control. Saving: takes over edits still being typed in;
    // a refused entry fails the exchange.
    void DoDataExchange(CDataExchange* pDX) override;
    INT_PTR DoModal() override;

    // The text an edit bound to the parameter shows for its current value and unit.
    std::string FormatParameterValue(const CQel_Parameter& parameter) const;

  protected:
    void OnControlNotification(UINT id, UINT notifyCode) override;

  private:
    struct Binding;

    CQel_Parameter* Resolve(const Binding& binding) const;
    void Display(const Binding& binding);
    void DisplayAll();
    void FillUnitCombo(const Binding& binding, CQel_Parameter& parameter);
    // Takes over the text of a bound edit; false when refused (a message box said why).
    bool TakeOverEdit(const Binding& binding);
    void TakeOverValue(const Binding& binding, double internalValue);
    void TakeOverSliderStep(const Binding& binding, double position);
    void PrepareSlider(const Binding& binding);
    void TakeOverUnit(const Binding& binding);
    void Notify(const std::string& name);
    void ShowGuideline(std::size_t index);
    void RememberBoundValues();
    void RestoreBoundValues();

    CQel_Setup* setup_;
    int flag_;
    std::vector<std::string> guidelines_;
    std::size_t guidelineIndex_ = 0;
    std::vector<Binding> bindings_;
    std::vector<int> blanked_;
    std::vector<std::pair<std::string, double>> valuesAtShow_;
    std::unique_ptr<qel::MotorEditor> motorEditor_;
    std::unique_ptr<qel::CanSettings> canSettings_;
    bool takingOver_ = false;
};
