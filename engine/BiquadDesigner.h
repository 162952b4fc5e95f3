#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CQel_Setup;

// Designs the drive's second-order digital filters (biquads) and places them in its three slots.
// A slot holds H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2), each coefficient as a
// signed 32-bit fraction of 2^31 times a power-of-two scale factor SF.
class CBiquadDesigner {
  public:
    CBiquadDesigner();

    // The types the Filters dialog offers, in table order, with their type numbers.
    void GetFilterTypes(std::vector<std::string>& names, std::vector<int>& types) const;

    // Designs one filter: type 0 to 9, frequency as a fraction of the sampling rate, Q (types 0
    // to 7) or the second normalised frequency (types 8 and 9), gain in dB. A type above 9 keeps
    // the previous design.
    void DesignFilter(int type, double normalisedFrequency, double qOrSecondFrequency,
                      double gain_dB);
    // Turns the last design into fixed-point coefficients and their scale factor.
    void Quantize();
    // Designs filter j of the setup into slot i (both 1 to 3) and writes the slot's registers.
    bool DesignSlot(CQel_Setup& setup, int filter, int slot);
    // Gives every enabled filter a slot, clears the free slots and writes the chain lengths.
    bool AssignBiquadSlots(CQel_Setup& setup);
    // Sends the chain lengths and the three slots' registers to the connected drive at once,
    // each one the setup holds; false when a write failed (the kernel has reported it).
    bool WriteBiquadRegisters(CQel_Setup& setup) const;

    // The last design: real coefficients b0, b1, b2, a1, a2, their fixed-point values, and SF.
    const std::array<double, 5>& GetCoefficients() const { return coefficients_; }
    const std::array<double, 5>& GetFixedPointCoefficients() const { return fixedPoint_; }
    double GetScaleFactor() const { return scaleFactor_; }

  private:
    struct FilterType {
        std::string name;
        bool offered;
    };
    // Makes the quantised DC gain exactly one, when the last design has a DC gain of one.
    void CorrectDcGain();

    std::vector<FilterType> types_;
    std::array<double, 5> coefficients_{};
    std::array<double, 5> fixedPoint_{};
    double scaleFactor_ = 1.0;
    // Whether the last design passes a constant unchanged; false before the first design.
    bool unityDcGain_ = false;
};
