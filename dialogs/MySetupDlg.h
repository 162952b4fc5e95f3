#pragma once

// The base of every setup dialog of the module, over the kernel's parameter-bound dialog. It adds
// the re-quantisation of controller gains (the dialog shows the gain the drive's registers really
// hold), and the two things every dialog's buttons share: opening a child dialog on a consistent
// setup, and the help button.
//
//   void CDriveSetupDlg::OnAdvanced() {
//       ChildSteps steps;
//       steps.beforeRecompute = [this] { ResetFeedForwardsAfterAdvanced(); };
//       steps.refreshAll = false;
//       OpenChild([this] { CAdvancedDialog child(GetSetup(), nullptr); return child.DoModal(); },
//                 steps);
//   }
//   if (id == kHelpButtonId) ShowHelp(kHelpTopic);          // in OnCommand

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/DriveTestRunners.h"
#include "host/kernel/EditSetupDlg.h"

class CMySetupDlg : public CQel_EditSetupDlg {
  public:
    // Forwards everything to the kernel's dialog. The module passes flag 1 and no parent.
    CMySetupDlg(CQel_Setup* setup, UINT templateId, int flag, const char* const* guidelineTexts,
                CWnd* parent);

    // Re-quantises a controller gain through its registers, bounds MAX_CURRENT by the nominal
    // currents, then lets the kernel handle the change.
    void OnChangedParameterValue(std::string_view name) override;

    // What happens around a child dialog or test opened from a button.
    struct ChildSteps {
        // Registers and derivation before the child opens, so that it starts from agreeing values.
        bool computeBefore = true;
        // The parameter limits too, after the derivation.
        bool limitsBefore = false;
        // Runs first after an OK, before the registers and the derivation.
        std::function<void()> beforeRecompute;
        // Redisplays after an OK: every bound control, then the rules.
        bool refreshAll = true;
        bool updateData = true;
    };
    // Runs the child modally (the runner constructs it on the setup, runs DoModal and returns the
    // result); on OK recomputes the registers and the derivation and redisplays. A runner that is
    // empty stands for a child that cannot be opened yet: only the steps before it run. Returns
    // whether the child closed with OK.
    using ChildRunner = std::function<INT_PTR()>;
    bool OpenChild(const ChildRunner& runChild, const ChildSteps& steps);
    // The runner of a drive test on this dialog's setup; empty when the module has none.
    ChildRunner DriveTestChild(DriveTest test) const;

    // Opens the host's help file at the topic; nothing when the host has no help file.
    void ShowHelp(DWORD_PTR topic);

    // The id every help button of the module's dialogs has.
    static constexpr int kHelpButtonId = 10024;
};

namespace setupdlg {

// A parameter's value in base units, looked up without reporting; valueWhenMissing when the
// setup lacks it (optional features).
double ReadQuietly(const CQel_Setup& setup, std::string_view name, double valueWhenMissing = 0.0);
// Whether the setup holds the parameter, asked without reporting.
bool HoldsQuietly(const CQel_Setup& setup, std::string_view name);
// Names of parameters are compared without regard to letter case.
bool NameIs(std::string_view name, std::string_view wanted);
// A dialog's guideline steps from the resources, in the null-terminated form the dialog base
// takes; the base copies them, so a temporary serves.
class GuidelineTexts {
  public:
    explicit GuidelineTexts(UINT templateId);
    const char* const* Texts() const { return pointers_.data(); }

  private:
    std::vector<std::string> texts_;
    std::vector<const char*> pointers_;
};

// A value as the dialogs' rules compare it: truncated toward zero; 0 for a value that is not a
// finite number.
int AsInteger(double value);

}  // namespace setupdlg
