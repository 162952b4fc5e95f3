#include "dialogs/MySetupDlg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "engine/Derivation.h"
#include "engine/ParameterLimits.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/StepSupport.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/HostServices.h"
#include "host/ui/DialogTemplate.h"

namespace {

using Step = bool (*)(CQel_Setup&);

// A scaled controller gain, the register steps that split it (shift registers first, as the
// register computation orders them) and the derivation that reads it back from them.
struct GainQuantisation {
    std::string_view gain;
    std::array<Step, 3> registerSteps;  // unused slots are null
    Step readBack;
};

constexpr std::array<GainQuantisation, 9> kGainQuantisations = {{
    {"Kp_C_scl", {compute::SFTKPI, compute::KPI, nullptr}, derive::Kp_C_scl},
    {"Ki_C_scl", {compute::SFTKII, compute::KII, nullptr}, derive::Ki_C_scl},
    {"Kp_S_scl", {compute::SFTKPS, compute::KPS, nullptr}, derive::Kp_S_scl},
    {"Ki_S_scl", {compute::SFTKIS, compute::KIS, nullptr}, derive::Ki_S_scl},
    {"Kp_P_scl", {compute::SFTKPP, compute::KPP, nullptr}, derive::Kp_P_scl},
    {"Ki_P_scl", {compute::SFTKIP, compute::KIP, nullptr}, derive::Ki_P_scl},
    {"Kd_P_scl", {compute::SFTKDP, compute::KDP, nullptr}, derive::Kd_P_scl},
    {"KFFA_scl", {compute::SFTAFFW, compute::SFTKFF, compute::KFFA}, derive::KFFA_scl},
    {"KFFS_scl", {compute::SFTSFFW, compute::KFFS, nullptr}, derive::KFFS_scl},
}};

const GainQuantisation* FindGainQuantisation(std::string_view name) {
    const auto found = std::find_if(
        kGainQuantisations.begin(), kGainQuantisations.end(),
        [name](const GainQuantisation& q) { return qel::EqualsIgnoringCase(q.gain, name); });
    return found == kGainQuantisations.end() ? nullptr : &*found;
}

}  // namespace

namespace setupdlg {

GuidelineTexts::GuidelineTexts(UINT templateId)
    : texts_(ui::LoadGuidelineTexts(static_cast<int>(templateId))) {
    for (const std::string& text : texts_) {
        pointers_.push_back(text.c_str());
    }
    pointers_.push_back(nullptr);
}

double ReadQuietly(const CQel_Setup& setup, std::string_view name, double valueWhenMissing) {
    const QuietLookups quiet;
    const CQel_Parameter* parameter = setup.FindParameter(name);
    return parameter == nullptr ? valueWhenMissing : parameter->GetValueInBaseUnit();
}

bool HoldsQuietly(const CQel_Setup& setup, std::string_view name) {
    return HasParameters(setup, {name});
}

bool NameIs(std::string_view name, std::string_view wanted) {
    return qel::EqualsIgnoringCase(name, wanted);
}

int AsInteger(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    const double truncated = std::trunc(value);
    constexpr double kIntMin = std::numeric_limits<int>::min();
    constexpr double kIntMax = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(truncated, kIntMin, kIntMax));
}

}  // namespace setupdlg

CMySetupDlg::CMySetupDlg(CQel_Setup* setup, UINT templateId, int flag,
                         const char* const* guidelineTexts, CWnd* parent)
    : CQel_EditSetupDlg(setup, templateId, flag, guidelineTexts, parent) {}

void CMySetupDlg::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (const GainQuantisation* gain = FindGainQuantisation(name)) {
        for (Step step : gain->registerSteps) {
            if (step != nullptr) {
                step(setup);
            }
        }
        gain->readBack(setup);
    } else if ((setupdlg::NameIs(name, "In") || setupdlg::NameIs(name, "InPS")) &&
               setupdlg::HoldsQuietly(setup, "KPTHT")) {
        const double nominal_A = std::min(setup.GetParameterValueInBaseUnit("In"),
                                          setup.GetParameterValueInBaseUnit("InPS"));
        CQel_Parameter* maxCurrent = setup.FindParameter("MAX_CURRENT");
        if (maxCurrent != nullptr && std::isfinite(nominal_A)) {
            SetParameterRange(*maxCurrent, 0.0, nominal_A);
            RefreshParameterControls("MAX_CURRENT");
        }
    }
    CQel_EditSetupDlg::OnChangedParameterValue(name);
}

bool CMySetupDlg::OpenChild(const ChildRunner& runChild, const ChildSteps& steps) {
    CQel_Setup& setup = *GetSetup();
    if (steps.computeBefore) {
        ComputeDriveRegisters(setup);
        DeriveUserParameters(setup);
    }
    if (steps.limitsBefore) {
        ComputeParameterLimits(setup);
    }
    if (!runChild || runChild() != IDOK) {
        return false;
    }
    if (steps.beforeRecompute) {
        steps.beforeRecompute();
    }
    ComputeDriveRegisters(setup);
    DeriveUserParameters(setup);
    if (steps.refreshAll) {
        RefreshAllParameters(0);
    }
    if (steps.updateData) {
        UpdateData(FALSE);
    }
    return true;
}

CMySetupDlg::ChildRunner CMySetupDlg::DriveTestChild(DriveTest test) const {
    const DriveTestRunner& runner = FindDriveTest(test);
    if (!runner) {
        return {};
    }
    return [this, &runner] { return runner(GetSetup()); };
}

void CMySetupDlg::ShowHelp(DWORD_PTR topic) {
    const std::string helpFile = GetHelpFileOfGUI(GetSetup());
    if (helpFile.empty()) {
        return;
    }
    HtmlHelp(nullptr, GetGUIDirectory() + helpFile, HH_HELP_CONTEXT, topic);
}
