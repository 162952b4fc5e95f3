#include "module/Exports.h"

#include "dialogs/DriveSetupDlg.h"
#include "engine/AxisOptions.h"
#include "engine/Derivation.h"
#include "engine/ParameterLimits.h"
#include "module/UnitScales.h"

namespace {

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

extern "C" {

int EditSetup(CQel_Setup* setup) {
    if (setup == nullptr) {
        return 0;
    }
    // An exception must not cross the host's plain call; the dialog, a local, is destroyed
    // either way.
    try {
        CDriveSetupDlg dialog(setup, nullptr);
        return dialog.DoModal() == IDOK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

void ComputeAllOptions(CQel_Setup* setup) {
    if (setup == nullptr) {
        return;
    }
    // The limits use the periods and scales the derivation leaves in the setup, and the options
    // and unit families read the control mode and transmission type as it derived them.
    DeriveUserParameters(*setup);
    ComputeParameterLimits(*setup);
    SetFixedOptions(*setup);
    SetUnitTypesByTransmission(*setup);
}

double GetScaleFactor(CQel_Setup* setup, const char* unitName, const char* parameterName) {
    if (setup == nullptr) {
        return 1.0;
    }
    return ScaleFactorFor(*setup, OrEmpty(unitName), OrEmpty(parameterName));
}

double GetScaleOffset(CQel_Setup* setup, const char* unitName) {
    if (setup == nullptr) {
        return 0.0;
    }
    return ScaleOffsetFor(*setup, OrEmpty(unitName));
}
}
