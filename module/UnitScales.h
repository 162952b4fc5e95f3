#pragma once

#include <string_view>

class CQel_Setup;

// The factor and offset by which a value in internal units becomes a value in the named unit:
// value = (internal + offset) x factor. The unit decides first, then the parameter's name; both
// are compared without regard to letter case. Units the module does not know have factor 1 and
// offset 0: the host converts them itself from their base unit.
double ScaleFactorFor(const CQel_Setup& setup, std::string_view unitName,
                      std::string_view parameterName);
double ScaleOffsetFor(const CQel_Setup& setup, std::string_view unitName);
