#pragma once

#include <cstddef>
#include <optional>
#include <vector>

// A sampled step response and what the loop tests read from it.
struct SampledResponse {
    double period_s = 0.0;
    std::vector<double> values;  // values[k] at time (k + 1) x period_s, the step at 0

    // First time the response reaches level (linear between samples), if it does.
    std::optional<double> TimeToReach(double level) const;
    double Peak() const;
};

// The unit step response of N(s) / D(s) (coefficients from the highest power down, D monic or
// not, degree of N below that of D), sampled every period_s for duration_s; integrated with
// fourth-order Runge-Kutta at a hundredth of the period.
SampledResponse ContinuousStepResponse(const std::vector<double>& numerator,
                                       const std::vector<double>& denominator, double period_s,
                                       double duration_s);
