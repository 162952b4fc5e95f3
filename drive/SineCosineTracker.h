#pragma once

#include <cmath>

namespace drive {

struct SineCosine {
    double sine = 0.0;
    double cosine = 1.0;
};

// The sine and cosine of a small angle from their Taylor series to degree 9 and 8: within
// kMaxRotation_rad the first terms left out (|angle|^11 / 11! and |angle|^10 / 10!) stay below
// 1e-18, far below a double's rounding, so the result is as good as std::sin's and std::cos's.
inline SineCosine SineCosineOfSmallAngle(double angle_rad) {
    // The reciprocal factorials: sin x = x (1 - x^2/3! + x^4/5! - ...),
    // cos x = 1 - x^2/2! + x^4/4! - ...
    constexpr double kSine3 = -1.0 / 6;
    constexpr double kSine5 = 1.0 / 120;
    constexpr double kSine7 = -1.0 / 5040;
    constexpr double kSine9 = 1.0 / 362880;
    constexpr double kCosine2 = -0.5;
    constexpr double kCosine4 = 1.0 / 24;
    constexpr double kCosine6 = -1.0 / 720;
    constexpr double kCosine8 = 1.0 / 40320;
    const double square = angle_rad * angle_rad;
    const double fourth = square * square;
    // Estrin's scheme: the fourth power forms while the first sums do, so the series takes half
    // the dependent steps of Horner's (every physics step waits on it), and is as accurate: the
    // terms beyond the second lie far below the first's last bit, in whatever order they add.
    const double sine = angle_rad * ((1.0 + square * kSine3) +
                                     fourth * ((kSine5 + square * kSine7) + fourth * kSine9));
    const double cosine =
        (1.0 + square * kCosine2) + fourth * ((kCosine4 + square * kCosine6) + fourth * kCosine8);
    return {sine, cosine};
}

// The same for a tiny angle, within kTinyRotation_rad: the series to degree 5 and 4 leaves out
// |angle|^7 / 7! and |angle|^6 / 6!, below 1e-20 and 5e-18 there, again below a double's
// rounding. A motor at low speed turns by less than that in a physics step, and the shorter
// series is what most steps take.
inline SineCosine SineCosineOfTinyAngle(double angle_rad) {
    constexpr double kSine3 = -1.0 / 6;
    constexpr double kSine5 = 1.0 / 120;
    constexpr double kCosine2 = -0.5;
    constexpr double kCosine4 = 1.0 / 24;
    const double square = angle_rad * angle_rad;
    const double fourth = square * square;
    return {angle_rad * ((1.0 + square * kSine3) + fourth * kSine5),
            (1.0 + square * kCosine2) + fourth * kCosine4};
}

// The sine and cosine of an angle that moves by small steps, as the motor model needs them at
// every physics step. Rotating the last pair through the step's angle takes a handful of
// products where std::sin and std::cos take a library call each. Each rotation adds a rounding
// error of a few units in the last place; taking the pair afresh from std::sin and std::cos
// every kRotationsBetweenResyncs steps keeps the sum of them within a few hundred of those
// units (below 1e-13). A step beyond kMaxRotation_rad, and the first step after Invalidate,
// take the pair afresh too.
class SineCosineTracker {
  public:
    // 1/16 rad: the Taylor series above is exact to a double there; a motor turning at its
    // usual electrical speeds moves well below it in a physics step of a few tens of
    // microseconds.
    static constexpr double kMaxRotation_rad = 0.0625;
    // 1/256 rad: the shorter series of SineCosineOfTinyAngle is exact to a double there.
    static constexpr double kTinyRotation_rad = 0.00390625;
    // Few enough that the rotations' rounding errors stay far below the model's own, many enough
    // that the library calls cost little.
    static constexpr int kRotationsBetweenResyncs = 256;

    SineCosine At(double angle_rad) {
        const double rotation_rad = angle_rad - angle_rad_;
        if (rotationsLeft_ > 0 && std::fabs(rotation_rad) <= kMaxRotation_rad) {
            --rotationsLeft_;
            const SineCosine by = std::fabs(rotation_rad) <= kTinyRotation_rad
                                      ? SineCosineOfTinyAngle(rotation_rad)
                                      : SineCosineOfSmallAngle(rotation_rad);
            // sin(a + d) = sin a cos d + cos a sin d, cos(a + d) = cos a cos d - sin a sin d.
            pair_ = {pair_.sine * by.cosine + pair_.cosine * by.sine,
                     pair_.cosine * by.cosine - pair_.sine * by.sine};
        } else {
            rotationsLeft_ = kRotationsBetweenResyncs;
            pair_ = {std::sin(angle_rad), std::cos(angle_rad)};
        }
        angle_rad_ = angle_rad;
        return pair_;
    }

    // The next angle is taken afresh from the library, whatever the last one was: after a jump
    // set from outside, a run starts the same as on a new tracker.
    void Invalidate() { rotationsLeft_ = 0; }

  private:
    double angle_rad_ = 0.0;
    SineCosine pair_;
    int rotationsLeft_ = 0;
};

}  // namespace drive
