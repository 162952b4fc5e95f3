#pragma once

#include <optional>
#include <span>
#include <vector>

// A closed loop as a continuous transfer function N(s) / D(s), coefficients from the highest
// power of s down; D monic and of a higher degree than N (the loop does not pass a step through
// at once).
struct ClosedLoop {
    std::vector<double> numerator;
    std::vector<double> denominator;
};

// The time from a unit step of the reference until the loop's response first reaches the level
// (a fraction of the step); none when the loop is not a proper one (D not monic or not of a
// higher degree than N) or its response does not reach the level within a hundred of its
// slowest characteristic times.
std::optional<double> StepTimeToReach(const ClosedLoop& loop, double level);

// The loop's response to a unit step at time 0 at each of the times (seconds, ascending, none
// negative); empty when the loop is not a proper one or the times are not in order.
std::vector<double> StepResponseAt(const ClosedLoop& loop, std::span<const double> times_s);
