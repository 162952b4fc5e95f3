#include "host/kernel/CanSettings.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "host/kernel/EditSetupDlg.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/HostServices.h"

namespace qel {
namespace {

// The setup's bit rate: the option's number, the default when the option is absent, nothing
// when it holds something else.
std::optional<int> ChosenRate(const CQel_Setup& setup) {
    const std::string text = setup.GetOptionNoError(kCanBaudRateOption);
    if (text.empty()) {
        return kDefaultCanBaudRate;
    }
    int rate = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return rate;
}

}  // namespace

void CanSettings::Attach() {
    auto* combo =
        dynamic_cast<CComboBox*>(dialog_.GetDlgItem(CQel_EditSetupDlg::kCanBaudRateComboId));
    if (combo == nullptr || dialog_.GetSetup() == nullptr) {
        return;
    }
    combo->ResetContent();
    const std::optional<int> chosen = ChosenRate(*dialog_.GetSetup());
    for (int rate : CanBaudRates()) {
        const int index = combo->AddString(DescribeCanBaudRate(rate));
        combo->SetItemData(index, static_cast<DWORD_PTR>(rate));
        if (chosen && *chosen == rate) {
            combo->SetCurSel(index);
        }
    }
}

bool CanSettings::OnNotification(int id, UINT notifyCode) {
    CQel_Setup* setup = dialog_.GetSetup();
    if (setup == nullptr) {
        return false;
    }
    if (id == CQel_EditSetupDlg::kCanBaudRateComboId && notifyCode == CBN_SELCHANGE) {
        auto* combo = dynamic_cast<CComboBox*>(dialog_.GetDlgItem(id));
        if (combo != nullptr && combo->GetCurSel() != CB_ERR) {
            setup->SetOption(kCanBaudRateOption,
                             std::to_string(combo->GetItemData(combo->GetCurSel())));
        }
        return true;
    }
    if (id == CQel_EditSetupDlg::kCanSettingsButtonId && notifyCode == BN_CLICKED) {
        const std::optional<int> rate = ChosenRate(*setup);
        std::string text = "CANopen settings of this setup:\nBit rate: " +
                           (rate ? DescribeCanBaudRate(*rate) : std::string("not set"));
        const int saved = g_bShowErrors;
        g_bShowErrors = 0;
        const CQel_Parameter* axisId = setup->FindParameter("Axis_ID_list");
        g_bShowErrors = saved;
        if (axisId != nullptr) {
            const long axis = std::lround(axisId->GetValueInInternalUnit());
            text += "\nAxis ID: " +
                    (axis == 0 ? std::string("set by the drive's hardware") : std::to_string(axis));
        }
        dialog_.MessageBox(text, "CANopen settings", MB_OK | MB_ICONINFORMATION);
        return true;
    }
    return false;
}

}  // namespace qel
