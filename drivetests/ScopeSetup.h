#pragma once

// How the tuning tests set the drive's scope up for their on-line plot: an acquisition long enough
// for the profile's rise, hold and return (the whole profile when it goes both ways), triggered
// when the reference reaches the amplitude, a little of the rise kept before the trigger; and
// channel scales on the 1-2-5 steps of an oscilloscope, so that the step fills about a quarter of
// the screen's height.

#include <string>

#include "drivetests/TestProfile.h"

namespace scope_setup {

// The trigger modes of the drive's scope.
inline constexpr int kUntriggered = 1;
inline constexpr int kRepeated = 2;
inline constexpr int kSingle = 4;

struct Acquisition {
    double duration_s = 0.0;
    int mode = kUntriggered;
    int slope = 1;  // 1 rising, 0 falling
    std::string variable;
    double level = 0.0;  // in the variable's base unit
    int preTrigger_percent = 0;
};

struct ProfileTimes {
    double rise_s;
    double hold_s;
    double return_s;
    double pause_s;
};

// The acquisition for a profile of that amplitude (base units; none when the test has no
// amplitude parameter) on the reference variable.
Acquisition ForProfile(const ProfileTimes& times, const double* amplitude,
                       profile::Direction direction, bool cycles, profile::Loop loop,
                       const std::string& referenceVariable);

// The smallest of 1, 2 and 5 times a power of ten, per division, that is at least the magnitude
// (the power of ten at or above it for magnitudes of 0 and below).
double OneTwoFiveScale(double magnitude);

}  // namespace scope_setup
