#pragma once

// The scope's settings in a dialog: the acquisition (duration, trigger mode, slope, trigger
// variable and level, share before the trigger) and, per logged channel, the unit it is shown in,
// its value per division and the value on the grid's centre line. OK applies them to the scope
// logger (ChangeSettings, then RescaleVariable per channel); an entry that is not a number, or
// settings the logger refuses, are said in a message and the dialog stays open.
//
//   CScopeSettingsDlg dialog(scope, setup, parent);
//   if (dialog.DoModal() == IDOK) { ... the scope has the new settings ... }

#include <optional>
#include <string_view>

#include "host/ui/Dialog.h"

class CQel_ScopeLogger;
class CQel_Setup;

class CScopeSettingsDlg : public CDialog {
  public:
    static constexpr int kDurationId = 4301;
    static constexpr int kModeId = 4302;
    static constexpr int kSlopeId = 4303;
    static constexpr int kTriggerVariableId = 4304;
    static constexpr int kLevelId = 4305;
    static constexpr int kLevelUnitId = 4306;
    static constexpr int kPreTriggerId = 4307;
    // Per channel c (0 the first logged variable): its name, unit combo, value per division and
    // centre, at these ids plus kChannelIdStep x c.
    static constexpr int kChannelNameId = 4320;
    static constexpr int kChannelUnitId = 4321;
    static constexpr int kChannelScaleId = 4322;
    static constexpr int kChannelCentreId = 4323;
    static constexpr int kChannelIdStep = 10;
    // The channels the dialog has rows for.
    static constexpr int kMaxChannels = 4;
    static constexpr std::string_view kCaption = "Scope Settings";
    // The number the dialog's template (made in code) goes by.
    static constexpr int kTemplateId = 4300;

    CScopeSettingsDlg(CQel_ScopeLogger& scope, const CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;
    void OnOK() override;

  private:
    void ShowLevelUnit();
    // The number typed in the edit; std::nullopt, said to the user with the field's name, when
    // it is not a number.
    std::optional<double> TypedNumber(int id, std::string_view field);

    CQel_ScopeLogger& scope_;
    const CQel_Setup* setup_;
};
