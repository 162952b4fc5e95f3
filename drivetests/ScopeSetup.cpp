#include "drivetests/ScopeSetup.h"

#include <algorithm>
#include <cmath>

namespace scope_setup {

namespace {

// The position test triggers a little before the amplitude: the position loop approaches its
// target slowly at the end and may not reach it exactly.
constexpr double kPositionTriggerShare = 0.95;
constexpr double kBidirectionalPositionTriggerShare = 0.9;
constexpr double kPercent = 100.0;

}  // namespace

Acquisition ForProfile(const ProfileTimes& times, const double* amplitude,
                       profile::Direction direction, bool cycles, profile::Loop loop,
                       const std::string& referenceVariable) {
    const bool bothWays = direction == profile::Direction::Bidirectional;
    const double oneWay_s = times.rise_s + times.hold_s + times.return_s;
    const double bothWays_s = 2 * times.rise_s + times.hold_s + 2 * times.return_s + times.pause_s;
    Acquisition acquisition;
    if (amplitude == nullptr) {
        acquisition.duration_s = bothWays ? bothWays_s : oneWay_s + times.pause_s;
        return acquisition;
    }
    const double a = *amplitude;
    acquisition.duration_s =
        bothWays ? bothWays_s : oneWay_s + std::min(times.rise_s, times.return_s);
    acquisition.mode = cycles ? kRepeated : kSingle;
    acquisition.preTrigger_percent =
        static_cast<int>(std::ceil(kPercent * times.rise_s / acquisition.duration_s));
    acquisition.variable = referenceVariable;
    acquisition.level = a;
    acquisition.slope = a >= 0.0 ? 1 : 0;
    if (loop == profile::Loop::Position) {
        switch (direction) {
            case profile::Direction::Negative:
                acquisition.level = -kPositionTriggerShare * a;
                acquisition.slope = a < 0.0 ? 1 : 0;
                break;
            case profile::Direction::Bidirectional:
                acquisition.level = kBidirectionalPositionTriggerShare * a;
                break;
            case profile::Direction::Positive:
                acquisition.level = kPositionTriggerShare * a;
                break;
        }
    }
    return acquisition;
}

double OneTwoFiveScale(double magnitude) {
    const double decade = std::pow(10.0, magnitude > 0.0 ? std::ceil(std::log10(magnitude)) : 0.0);
    if (decade / 5 >= magnitude) {
        return decade / 5;
    }
    return decade / 2 >= magnitude ? decade / 2 : decade;
}

}  // namespace scope_setup
