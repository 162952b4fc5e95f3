#include "Exports.h"

#include "UnitScales.h"

namespace {

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

extern "C" {

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
