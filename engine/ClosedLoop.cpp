#include "engine/ClosedLoop.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

namespace {

// Integration steps per characteristic time of the fastest pole: fourth-order Runge-Kutta and a
// straight line between the two steps around the crossing then put it within a part per million.
constexpr double kStepsPerTimeConstant = 1000.0;
// How long the response may take to reach the level, in characteristic times of the slowest
// pole, before the loop is said never to reach it; and a bound on the work for loops whose poles
// lie decades apart.
constexpr double kPatienceTimeConstants = 100.0;
constexpr double kMostSteps = 1e6;

// The controllable canonical form: x' = A x + B u with the last state's derivative
// -sum a_k x_(k+1) + u, the output sum b_k x_(k+1); the state in the order x_1 .. x_n.
class CanonicalForm {
  public:
    explicit CanonicalForm(const ClosedLoop& loop)
        : order_(loop.denominator.size() - 1),
          a_(loop.denominator.rbegin(), loop.denominator.rend() - 1),
          b_(order_, 0.0) {
        std::copy(loop.numerator.rbegin(), loop.numerator.rend(), b_.begin());
    }

    std::size_t Order() const { return order_; }

    std::vector<double> Derivative(const std::vector<double>& x, double input) const {
        std::vector<double> dx(order_);
        double last = input;
        for (std::size_t k = 0; k < order_; ++k) {
            if (k + 1 < order_) {
                dx[k] = x[k + 1];
            }
            last -= a_[k] * x[k];
        }
        dx[order_ - 1] = last;
        return dx;
    }

    double Output(const std::vector<double>& x) const {
        double y = 0.0;
        for (std::size_t k = 0; k < order_; ++k) {
            y += b_[k] * x[k];
        }
        return y;
    }

  private:
    std::size_t order_;
    // a_[k] multiplies s^k in D, b_[k] in N.
    std::vector<double> a_;
    std::vector<double> b_;
};

std::vector<double> Plus(const std::vector<double>& x, const std::vector<double>& dx,
                         double scale) {
    std::vector<double> sum(x);
    for (std::size_t k = 0; k < sum.size(); ++k) {
        sum[k] += scale * dx[k];
    }
    return sum;
}

// The largest and smallest root magnitudes bound by the coefficients: for a monic polynomial of
// degree n, |a_k|^(1 / (n - k)) is within a factor n of the roots' magnitudes.
struct RootScale {
    double fastest_rad_s = 0.0;
    double slowest_rad_s = 0.0;
};

RootScale ScaleOfRoots(const std::vector<double>& denominator) {
    const std::size_t degree = denominator.size() - 1;
    RootScale scale;
    for (std::size_t power = 1; power <= degree; ++power) {
        const double magnitude =
            std::pow(std::abs(denominator[power]), 1.0 / static_cast<double>(power));
        scale.fastest_rad_s = std::max(scale.fastest_rad_s, magnitude);
    }
    // The product of the roots' magnitudes is |a_0|: with n - 1 of them at most the fastest, the
    // slowest is at least |a_0| / fastest^(n-1).
    scale.slowest_rad_s = std::abs(denominator[degree]) /
                          std::pow(scale.fastest_rad_s, static_cast<double>(degree - 1));
    return scale;
}

bool IsProper(const ClosedLoop& loop) {
    const auto finite = [](double value) { return std::isfinite(value); };
    return loop.denominator.size() >= 2 && loop.denominator.front() == 1.0 &&
           loop.numerator.size() < loop.denominator.size() &&
           std::all_of(loop.denominator.begin(), loop.denominator.end(), finite) &&
           std::all_of(loop.numerator.begin(), loop.numerator.end(), finite) &&
           loop.denominator.back() != 0.0;
}

// The loop's state under a unit step from rest, advanced by fourth-order Runge-Kutta.
class StepSimulation {
  public:
    explicit StepSimulation(const ClosedLoop& loop) : form_(loop), x_(form_.Order(), 0.0) {}

    void Advance(double step_s) {
        const std::vector<double> k1 = form_.Derivative(x_, kStepInput);
        const std::vector<double> k2 = form_.Derivative(Plus(x_, k1, 0.5 * step_s), kStepInput);
        const std::vector<double> k3 = form_.Derivative(Plus(x_, k2, 0.5 * step_s), kStepInput);
        const std::vector<double> k4 = form_.Derivative(Plus(x_, k3, step_s), kStepInput);
        for (std::size_t k = 0; k < x_.size(); ++k) {
            x_[k] += step_s / 6.0 * (k1[k] + 2.0 * k2[k] + 2.0 * k3[k] + k4[k]);
        }
    }

    double Output() const { return form_.Output(x_); }

  private:
    static constexpr double kStepInput = 1.0;
    CanonicalForm form_;
    std::vector<double> x_;
};

double IntegrationStep_s(const RootScale& scale) {
    return 1.0 / (kStepsPerTimeConstant * scale.fastest_rad_s);
}

}  // namespace

std::optional<double> StepTimeToReach(const ClosedLoop& loop, double level) {
    if (!IsProper(loop)) {
        return std::nullopt;
    }
    const RootScale scale = ScaleOfRoots(loop.denominator);
    const double step_s = IntegrationStep_s(scale);
    const double steps =
        std::min(kMostSteps, std::ceil(kPatienceTimeConstants / scale.slowest_rad_s / step_s));
    StepSimulation simulation(loop);
    double before = 0.0;
    for (double step = 0.0; step < steps; ++step) {
        simulation.Advance(step_s);
        const double after = simulation.Output();
        if (after >= level) {
            return step * step_s + step_s * (level - before) / (after - before);
        }
        before = after;
    }
    return std::nullopt;
}

std::vector<double> StepResponseAt(const ClosedLoop& loop, std::span<const double> times_s) {
    if (!IsProper(loop)) {
        return {};
    }
    const double largestStep_s = IntegrationStep_s(ScaleOfRoots(loop.denominator));
    StepSimulation simulation(loop);
    std::vector<double> response;
    double now_s = 0.0;
    for (const double time_s : times_s) {
        if (time_s < now_s) {
            return {};
        }
        const double steps = std::min(kMostSteps, std::ceil((time_s - now_s) / largestStep_s));
        for (double step = 0.0; step < steps; ++step) {
            simulation.Advance((time_s - now_s) / steps);
        }
        now_s = time_s;
        response.push_back(simulation.Output());
    }
    return response;
}
