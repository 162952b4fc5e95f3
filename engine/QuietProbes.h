#pragma once

#include <initializer_list>
#include <string_view>

class CQel_Setup;

// Clears the kernel's error display for its lifetime and restores the saved value afterwards:
// looking for an optional name must not tell the user that it is missing.
class QuietLookups {
public:
    QuietLookups();
    ~QuietLookups();
    QuietLookups(const QuietLookups&) = delete;
    QuietLookups& operator=(const QuietLookups&) = delete;

private:
    int savedShowErrors_;
};

// Whether the setup holds every one of the named parameters, asked without reporting.
bool HasParameters(const CQel_Setup& setup, std::initializer_list<std::string_view> names);

bool HasElectricalResolutionFraction(const CQel_Setup& setup);
