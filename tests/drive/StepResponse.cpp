#include "tests/drive/StepResponse.h"

#include <algorithm>
#include <cmath>

namespace {

// Integration steps per sample of the continuous model.
constexpr int kStepsPerSample = 100;

}  // namespace

std::optional<double> SampledResponse::TimeToReach(double level) const {
    double previous = 0.0;
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (values[k] >= level) {
            const double fraction = (level - previous) / (values[k] - previous);
            return (static_cast<double>(k) + fraction) * period_s;
        }
        previous = values[k];
    }
    return std::nullopt;
}

double SampledResponse::Peak() const {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

SampledResponse ContinuousStepResponse(const std::vector<double>& numerator,
                                       const std::vector<double>& denominator, double period_s,
                                       double duration_s) {
    // Controllable canonical form of N(s)/D(s) with D made monic: x' = A x + B u, y = C x.
    const std::size_t order = denominator.size() - 1;
    const double lead = denominator.front();
    std::vector<double> a(order), c(order, 0.0);
    for (std::size_t i = 0; i < order; ++i) {
        a[i] = denominator[i + 1] / lead;  // coefficient of s^(order - 1 - i)
    }
    for (std::size_t i = 0; i < numerator.size(); ++i) {
        // numerator[i] multiplies s^(numerator.size() - 1 - i)
        c[numerator.size() - 1 - i] = numerator[i] / lead;
    }
    // State x[j] is the j-th derivative of the base signal; x[order-1]' = u - sum a x.
    const auto derivative = [&](const std::vector<double>& x) {
        std::vector<double> dx(order);
        for (std::size_t j = 0; j + 1 < order; ++j) {
            dx[j] = x[j + 1];
        }
        double highest = 1.0;
        for (std::size_t j = 0; j < order; ++j) {
            highest -= a[order - 1 - j] * x[j];
        }
        dx[order - 1] = highest;
        return dx;
    };
    SampledResponse response;
    response.period_s = period_s;
    std::vector<double> x(order, 0.0);
    const double h = period_s / kStepsPerSample;
    const auto samples = static_cast<std::size_t>(std::llround(duration_s / period_s));
    for (std::size_t k = 0; k < samples; ++k) {
        for (int step = 0; step < kStepsPerSample; ++step) {
            const auto add = [&](const std::vector<double>& base, const std::vector<double>& d,
                                 double scale) {
                std::vector<double> out(order);
                for (std::size_t j = 0; j < order; ++j) {
                    out[j] = base[j] + scale * d[j];
                }
                return out;
            };
            const auto k1 = derivative(x);
            const auto k2 = derivative(add(x, k1, h / 2));
            const auto k3 = derivative(add(x, k2, h / 2));
            const auto k4 = derivative(add(x, k3, h));
            for (std::size_t j = 0; j < order; ++j) {
                x[j] += h / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
            }
        }
        double y = 0.0;
        for (std::size_t j = 0; j < order; ++j) {
            y += c[j] * x[j];
        }
        response.values.push_back(y);
    }
    return response;
}
