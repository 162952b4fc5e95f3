#include "drivetests/MyTestDlg.h"

#include <optional>
#include <string>
#include <utility>

#include "engine/QuietProbes.h"
#include "engine/StepSupport.h"
#include "host/kernel/Comm.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"
#include "host/kernel/Variable.h"
#include "host/ui/DialogTemplate.h"

namespace {

// The speed and position tuning tests keep the motionless start's minimum move: they start the
// motor the way the user set it up.
constexpr UINT kSpeedTuningTemplate = 102;
constexpr UINT kPositionTuningTemplate = 103;

using ErrorBit = CMyTestDlg::ErrorBit;

// Motion error register bits, in the order they are looked at.
constexpr ErrorBit kMotionErrors[] = {
    {1, "Drive / Motor shortcircuit protection triggered."},
    {3, "Drive / Motor control error protection triggered."},
    {5, "Hall sensor is missing."},
    {6, "Drive / Motor stopped due to positive limit switch input triggered."},
    {7, "Drive / Motor stopped due to negative limit switch input triggered."},
    {15, "Drive / Motor ENABLE input is in DISABLED state."},
};

// Encoder error register bits.
constexpr ErrorBit kEncoderErrors[] = {
    {8, "Alarm read error."},
    {9, "Alarm reset error"},
    {10, "Offset read error."},
    {11, "Offset write error"},
};

}  // namespace

CMyTestDlg::CMyTestDlg(CQel_Setup* setup, UINT templateId, int flag, CWnd* parent)
    : CQel_TestDlg(setup, templateId, flag, parent) {
    if (templateId != kSpeedTuningTemplate && templateId != kPositionTuningTemplate &&
        HasParameters(*setup, {"ABSTART_MINMOVE"})) {
        setup->SetParameterValueInBaseUnit("ABSTART_MINMOVE", 0.0);
    }
}

bool CMyTestDlg::ReadDriveVariable(const char* name, bool baseUnit, double& value) {
    CQel_Variable* variable = GetSetup()->FindVariable(name, 1);
    if (variable == nullptr) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return false;
    }
    if (!variable->ReadFromChip()) {
        errorText_ = CQel_Comm::GetLastErrorText();
        TestFailed(1);
        return false;
    }
    value = baseUnit ? variable->GetValueInBaseUnit() : variable->GetValueInInternalUnit();
    return true;
}

namespace {

// The first error of the table whose bit the register shows under the mask; null when none.
template <std::size_t N>
const char* FirstError(const ErrorBit (&table)[N], double registerValue, std::uint16_t mask) {
    const std::int64_t bits = engine::RegisterBits(registerValue) & mask;
    for (const ErrorBit& error : table) {
        if (((bits >> error.bit) & 1) != 0) {
            return error.text;
        }
    }
    return nullptr;
}

}  // namespace

template <std::size_t N>
int CMyTestDlg::CheckErrorRegister(const char* registerName, const ErrorBit (&errors)[N],
                                   int failNow, std::uint16_t mask) {
    CQel_Variable* errorRegister = GetSetup()->FindVariable(registerName, 1);
    const char* error = msc_pszErrInternal;
    if (errorRegister != nullptr && errorRegister->ReadFromChip()) {
        error = FirstError(errors, errorRegister->GetValueInBaseUnit(), mask);
        if (error == nullptr) {
            return 1;
        }
    }
    errorText_ = error;
    if (failNow) {
        TestFailed(1);
    }
    return 0;
}

int CMyTestDlg::CheckMotionErrors(int failNow, std::uint16_t mask) {
    return CheckErrorRegister("MER", kMotionErrors, failNow, mask);
}

int CMyTestDlg::CheckEncoderErrors(int failNow, std::uint16_t mask) {
    return CheckErrorRegister("CER", kEncoderErrors, failNow, mask);
}

CMyTestDlg::ProgramState CMyTestDlg::WaitForProgram(CQel_CoffFormat& program,
                                                    std::uint16_t motionErrorMask) {
    double started = 0.0;
    if (!GetUserVariableValue(program, "STARTED", started, errorText_)) {
        TestFailed(1);
        return ProgramState::Failed;
    }
    if (started == 0.0) {
        return CheckMotionErrors(1, motionErrorMask) ? ProgramState::Running : ProgramState::Failed;
    }
    int axisOn = 0;
    if (!GetAxisOn(axisOn)) {
        TestFailed(1);
        return ProgramState::Failed;
    }
    if (axisOn) {
        return ProgramState::Running;
    }
    return CheckMotionErrors(1, motionErrorMask) ? ProgramState::Ended : ProgramState::Failed;
}

bool CMyTestDlg::ProgramHasEnded(CQel_CoffFormat& program, std::uint16_t motionErrorMask) {
    switch (WaitForProgram(program, motionErrorMask)) {
        case ProgramState::Running:
            RearmTimer();
            return false;
        case ProgramState::Failed:
            return false;
        case ProgramState::Ended:
            return true;
    }
    return false;
}

void CMyTestDlg::RearmTimer(UINT period_ms) {
    if (SetTimer(kTestTimerId, period_ms) == 0) {
        errorText_ = GetLastErrorText();
        TestFailed(1);
    }
}

bool CMyTestDlg::SetProgramVariable(CQel_CoffFormat& program, const char* name, double value) {
    if (SetUserVariableValue(program, name, value, errorText_)) {
        return true;
    }
    TestFailed(1);
    return false;
}

bool CMyTestDlg::ReadProgramVariable(CQel_CoffFormat& program, const char* name, double& value) {
    if (GetUserVariableValue(program, name, value, errorText_)) {
        return true;
    }
    TestFailed(1);
    return false;
}

bool CMyTestDlg::Launch(const char* programName, CQel_CoffFormat& program,
                        CQel_SingleAxisLogger* logger) {
    if (ExecuteCode(programName, &program, logger, nullptr, nullptr)) {
        return true;
    }
    errorText_ = msc_pszErrInternal;
    TestFailed(1);
    return false;
}

bool CMyTestDlg::LaunchInitialPositioning(CQel_CoffFormat& program, int current) {
    return SetProgramVariable(program, "In1", current) && Launch(kInitialPositioning, program);
}

bool CMyTestDlg::CheckInitialPositioning(CQel_CoffFormat& program) {
    // The program's mark of a run that failed inside the drive.
    constexpr double kProgramFailed = 1.2345e100;
    double current = 0.0;
    if (!ReadProgramVariable(program, "In1", current)) {
        return false;
    }
    if (current == kProgramFailed) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return false;
    }
    if (current <= 0.0) {
        errorText_ = msc_pszErrInZero;
        TestFailed(1);
        return false;
    }
    return true;
}

bool CMyTestDlg::WriteRegistersToDrive(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const CQel_Parameter* parameter = GetSetup()->FindParameter(name);
        if (parameter == nullptr || !parameter->WriteToChip()) {
            return false;
        }
    }
    return true;
}

bool CMyTestDlg::SendRegisters(std::initializer_list<const char*> names) {
    if (WriteRegistersToDrive(names)) {
        return true;
    }
    errorText_ = CQel_Comm::GetLastErrorText();
    if (errorText_.empty()) {
        errorText_ = msc_pszErrInternal;
    }
    TestFailed(1);
    return false;
}

bool CMyTestDlg::SendProfile(CQel_CoffFormat& program, const profile::Segments& segments) {
    const std::optional<profile::Fault> fault = profile::FirstFault(segments);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (fault && fault->segment == i) {
            errorText_ = ui::LoadResourceString(fault->messageId);
            TestFailed(1);
            return false;
        }
        const std::string index = std::to_string(i);
        if (!SetProgramVariable(program, ("a" + index).c_str(), segments[i].length) ||
            !SetProgramVariable(program, ("b" + index).c_str(),
                                segments[i].increment / profile::kFixedPointOne)) {
            return false;
        }
    }
    return true;
}

bool CMyTestDlg::Upload(CQel_SingleAxisLogger& logger) {
    if (logger.BeginUploadData()) {
        return true;
    }
    errorText_ = msc_pszErrInternal;
    TestFailed(1);
    return false;
}

void CMyTestDlg::ShowHelp(DWORD_PTR topic) {
    const std::string helpFile = GetHelpFileOfGUI(GetSetup());
    if (helpFile.empty()) {
        return;
    }
    HtmlHelp(nullptr, GetGUIDirectory() + helpFile, HH_HELP_CONTEXT, topic);
}

// --- the tuning tests' pages ---

void CMyTestDlg::SetPages(std::vector<int> parametersPage, std::vector<int> testPage) {
    pages_[kParametersPage] = std::move(parametersPage);
    pages_[kTestPage] = std::move(testPage);
}

void CMyTestDlg::InsertPages() {
    if (auto* tab = dynamic_cast<CTabCtrl*>(GetDlgItem(kTabId))) {
        tab->InsertItem(kParametersPage, "Test Parameters");
        tab->InsertItem(kTestPage, "Test");
        tab->SetCurSel(kParametersPage);
    }
    ShowPage(kParametersPage);
}

void CMyTestDlg::ShowPage(int page) {
    page_ = page;
    for (int id : pages_[1 - page]) {
        ShowChild(id, 0);
    }
    for (int id : pages_[page]) {
        ShowChild(id, 1);
    }
    if (auto* tab = dynamic_cast<CTabCtrl*>(GetDlgItem(kTabId))) {
        tab->SetCurSel(page);
    }
}

void CMyTestDlg::OnPageSelected() {
    auto* tab = dynamic_cast<CTabCtrl*>(GetDlgItem(kTabId));
    const int selected = tab->GetCurSel();
    if ((selected == kParametersPage && running_) || !UpdateData(TRUE) ||
        (selected == kTestPage && !MayShowTestPage())) {
        tab->SetCurSel(page_);
        return;
    }
    ShowPage(selected);
    UpdateData(FALSE);
    if (selected == kParametersPage) {
        ShowChild(kDetailsId, 0);
    } else if (result_ == 1) {
        TestSucceeded(0);
    } else if (!errorText_.empty()) {
        TestFailed(0);
    }
}

BOOL CMyTestDlg::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header != nullptr && header->code == TCN_SELCHANGE &&
        static_cast<int>(header->idFrom) == kTabId && !pages_[kTestPage].empty()) {
        OnPageSelected();
        return TRUE;
    }
    return CQel_TestDlg::OnNotify(wParam, lParam, pResult);
}

void CMyTestDlg::OnShowWindow(BOOL show, UINT status) {
    CQel_TestDlg::OnShowWindow(show, status);
    if (show && !pages_[kTestPage].empty()) {
        ShowPage(kParametersPage);
        UpdateData(FALSE);
        ShowChild(kDetailsId, 0);
    }
}
