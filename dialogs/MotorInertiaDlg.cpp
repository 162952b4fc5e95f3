#include "dialogs/MotorInertiaDlg.h"

#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 3056;
constexpr int kRaiseTotalInertiaId = 3333;
constexpr int kDisregardMotorInertiaId = 3334;

// The total inertia is raised one per cent above the motor's, so that the load's share stays
// positive.
constexpr double kTotalOverMotorInertia = 1.01;

}  // namespace

CInertiaQuestion::CInertiaQuestion(CQel_Setup* setup, CWnd* parent)
    : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent) {}

BOOL CInertiaQuestion::OnInitDialog() {
    CMySetupDlg::OnInitDialog();
    raiseButton_.SetCheck(choice_ == Choice::RaiseTotalInertia ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

void CInertiaQuestion::DoDataExchange(CDataExchange* pDX) {
    CMySetupDlg::DoDataExchange(pDX);
    DDX_Control(pDX, kRaiseTotalInertiaId, raiseButton_);
    if (!pDX->m_bSaveAndValidate) {
        const bool chosen =
            choice_ == Choice::RaiseTotalInertia || choice_ == Choice::DisregardMotorInertia;
        EnableChild(IDOK, chosen ? 1 : 0, 0);
    }
}

BOOL CInertiaQuestion::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kRaiseTotalInertiaId) {
        choice_ = Choice::RaiseTotalInertia;
        UpdateData(FALSE);
        return TRUE;
    }
    if (notifyCode == BN_CLICKED && id == kDisregardMotorInertiaId) {
        choice_ = Choice::DisregardMotorInertia;
        UpdateData(FALSE);
        return TRUE;
    }
    return CMySetupDlg::OnCommand(id, notifyCode);
}

void CInertiaQuestion::OnOK() {
    CQel_Setup& setup = *GetSetup();
    if (choice_ == Choice::RaiseTotalInertia) {
        const double motorInertia_kgm2 = setup.GetParameterValueInBaseUnit("Jm");
        setup.SetParameterValueInBaseUnit("Jt", motorInertia_kgm2 * kTotalOverMotorInertia);
    } else if (choice_ == Choice::DisregardMotorInertia) {
        setup.SetParameterValueInBaseUnit("isMotorInertiaUnknown", 1.0);
    }
    CMySetupDlg::OnOK();
}
