#include "QuietProbes.h"

#include <algorithm>

#include "ErrorReport.h"
#include "Setup.h"

QuietLookups::QuietLookups() : savedShowErrors_(g_bShowErrors) { g_bShowErrors = 0; }

QuietLookups::~QuietLookups() { g_bShowErrors = savedShowErrors_; }

bool HasParameters(const CQel_Setup& setup, std::initializer_list<std::string_view> names) {
    const QuietLookups quiet;
    return std::all_of(names.begin(), names.end(), [&setup](std::string_view name) {
        return setup.FindParameter(name) != nullptr;
    });
}

bool HasElectricalResolutionFraction(const CQel_Setup& setup) {
    return HasParameters(setup, {"ELRES_FRACT"});
}
