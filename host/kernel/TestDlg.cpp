#include "host/kernel/TestDlg.h"

#include <utility>

#include "host/kernel/Comm.h"
#include "host/kernel/Loggers.h"
#include "host/kernel/Setup.h"

const char* const CQel_TestDlg::msc_pszErrInternal =
    "Internal error: the test program could not be started or read on the drive. Check the "
    "connection to the drive and that the drive's firmware matches this setup.";
const char* const CQel_TestDlg::msc_pszErrInZero =
    "The preliminary test found no usable current. Check the motor's phase connections and the "
    "test current.";

namespace {

constexpr const char* kStartCaption = "&Start";
constexpr const char* kStopCaption = "&Stop";
constexpr const char* kSucceededText = "Test completed successfully.";
constexpr const char* kStoppedText = "Test stopped.";
constexpr const char* kFailedCaption = "Test failed";

}  // namespace

CQel_TestDlg::CQel_TestDlg(CQel_Setup* setup, UINT templateId, int flag, CWnd* parent)
    : CQel_EditSetupDlg(setup, templateId, flag, nullptr, parent) {}

CQel_TestDlg::~CQel_TestDlg() = default;

void CQel_TestDlg::BeginTest() {
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
}

void CQel_TestDlg::OnBtnStartStop() {
    if (!running_) {
        errorText_.clear();
        SetChildText(kResultTextId, "");
        ShowChild(kDetailsId, 0);
        if (CQel_Comm::GetActiveLink() == nullptr) {
            // Without a drive no test can start: say so, rather than let the test fail inside.
            errorText_ = CQel_Comm::GetLastErrorText();
            TestFailed(1);
            return;
        }
        ShowRunning(true);
        BeginTest();
        if (!running_) {
            ShowRunning(false);
        }
        return;
    }
    if (continuousRun_) {
        stopRequest_ = 1;
        return;
    }
    EndRunByUser();
}

void CQel_TestDlg::EndRunByUser() {
    KillTimer(kTestTimerId);
    running_ = 0;
    CQel_Comm::StopProgram();
    ShowRunning(false);
    SetChildText(kResultTextId, kStoppedText);
}

void CQel_TestDlg::ShowRunning(bool running) {
    SetChildText(kStartStopId, running ? kStopCaption : kStartCaption);
    if (running) {
        ShowResultIcon("");
    }
}

void CQel_TestDlg::ShowResultIcon(std::string_view bitmapName) {
    auto* icon = dynamic_cast<CStatic*>(GetDlgItem(kResultIconId));
    if (icon == nullptr) {
        return;
    }
    if (bitmapName.empty()) {
        icon->SetBitmap(ui::Bitmap{});
    } else if (const std::optional<ui::Bitmap> bitmap = ui::LoadBitmapResource(bitmapName)) {
        icon->SetBitmap(*bitmap);
    }
}

void CQel_TestDlg::SetInfoText(std::string_view text) {
    lastStatus_ = std::string(text);
    SetChildText(kStatusTextId, text);
    ++currentStep_;
}

void CQel_TestDlg::TestSucceeded(int /*show*/) {
    KillTimer(kTestTimerId);
    running_ = 0;
    result_ = 1;
    ShowRunning(false);
    ShowChild(kDetailsId, 0);
    SetChildText(kResultTextId, kSucceededText);
    ShowResultIcon(kPassedIcon);
}

void CQel_TestDlg::TestFailed(int show) {
    KillTimer(kTestTimerId);
    running_ = 0;
    result_ = 0;
    if (show != 0) {
        CQel_Comm::StopProgram();
    }
    ShowRunning(false);
    if (errorText_.empty()) {
        errorText_ = msc_pszErrInternal;
    }
    SetChildText(kResultTextId, errorText_);
    ShowChild(kDetailsId, 1);
    ShowResultIcon(kFailedIcon);
}

void CQel_TestDlg::ShowDetails() {
    std::string text = errorText_;
    if (!lastStatus_.empty()) {
        text += "\n\nThe test stopped at: " + lastStatus_ + ".";
    }
    MessageBox(text, kFailedCaption, MB_OK | MB_ICONERROR);
}

std::string CQel_TestDlg::GetOutPathName(std::string_view programName) {
    return CQel_CoffFormat::GetOutPathName(programName);
}

int CQel_TestDlg::SetUserVariableValue(CQel_CoffFormat& program, std::string_view name,
                                       double value, std::string& errorText) {
    return program.SetUserVariableValue(name, value, errorText);
}

int CQel_TestDlg::GetUserVariableValue(CQel_CoffFormat& program, std::string_view name,
                                       double& value, std::string& errorText) {
    return program.GetUserVariableValue(name, value, errorText);
}

int CQel_TestDlg::ExecuteCode(std::string_view programName, CQel_CoffFormat* program,
                              CQel_Logger* logger, CQel_CoffFormat::ProgressCallback callback,
                              void* data) {
    return CQel_CoffFormat::ExecuteCode(programName, program, logger, callback, data);
}

int CQel_TestDlg::GetAxisOn(int& on) {
    if (CQel_Comm::GetAxisOn(on)) {
        return 1;
    }
    errorText_ = CQel_Comm::GetLastErrorText();
    return 0;
}

int CQel_TestDlg::GetEndInit(int& done) {
    if (CQel_Comm::GetEndInit(done)) {
        return 1;
    }
    errorText_ = CQel_Comm::GetLastErrorText();
    return 0;
}

int CQel_TestDlg::Reset() {
    if (CQel_Comm::ResetActiveBoard()) {
        return 1;
    }
    errorText_ = CQel_Comm::GetLastErrorText();
    return 0;
}

BOOL CQel_TestDlg::OnInitDialog() {
    const BOOL result = CQel_EditSetupDlg::OnInitDialog();
    ShowRunning(false);
    ShowChild(kDetailsId, 0);
    return result;
}

BOOL CQel_TestDlg::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kStartStopId) {
        OnBtnStartStop();
        return TRUE;
    }
    if (notifyCode == BN_CLICKED && id == kDetailsId) {
        ShowDetails();
        return TRUE;
    }
    return CQel_EditSetupDlg::OnCommand(id, notifyCode);
}

void CQel_TestDlg::OnCancel() {
    if (running_) {
        EndRunByUser();
    }
    CQel_EditSetupDlg::OnCancel();
}

INT_PTR CQel_TestDlg::DoModal() {
    CQel_Setup* setup = GetSetup();
    std::vector<double> values;
    if (setup != nullptr) {
        values.reserve(setup->GetParameterCount());
        for (std::size_t i = 0; i < setup->GetParameterCount(); ++i) {
            values.push_back(setup->GetParameterAt(i).GetValueInInternalUnit());
        }
    }
    const INT_PTR result = CQel_EditSetupDlg::DoModal();
    if (running_) {
        KillTimer(kTestTimerId);
        running_ = 0;
        CQel_Comm::StopProgram();
    }
    if (result != IDOK && setup != nullptr && setup->GetParameterCount() == values.size()) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            setup->GetParameterAt(i).SetValueInInternalUnit(values[i]);
        }
    }
    return result;
}
