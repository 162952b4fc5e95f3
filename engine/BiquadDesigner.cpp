#include "engine/BiquadDesigner.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "engine/QuietProbes.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

namespace {

// Filter type numbers as the setup's BQFilterType parameters hold them.
enum FilterTypeNumber : int {
    kLowPass1 = 0,
    kLowPass2 = 1,
    kNotch = 2,
    kHighPass = 3,
    kBandPass = 4,
    kPeak = 5,
    kLowShelf = 6,
    kHighShelf = 7,
    kLeadLag1 = 8,
    kLeadLag2 = 9,
};

// A slot coefficient is a signed 32-bit fraction of 2^31 (times the slot's scale factor).
constexpr double kCoefficientOne = 2147483648.0;
// The drive has three biquad slots and the user describes three filters.
constexpr int kSlotCount = 3;
constexpr int kFilterCount = 3;
// The three chains a filter can act in, numbered as BQFilterLocation holds them.
constexpr int kLocationCount = 3;
// The chain lengths, one register per location, in location order.
constexpr std::array<std::string_view, kLocationCount> kChainLengthNames = {
    "SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};
// The slot registers, in the order of the designer's coefficients, then the scale factor.
constexpr std::array<std::string_view, 6> kSlotRegisterSuffixes = {"B0", "B1", "B2",
                                                                   "A1", "A2", "SF"};
constexpr std::size_t kScaleFactorRegister = 5;

std::string IndexedName(std::string_view prefix, int index, std::string_view suffix = {}) {
    return std::string(prefix) + std::to_string(index) + std::string(suffix);
}

using SlotRegisters = std::array<CQel_Parameter*, kSlotRegisterSuffixes.size()>;

// Looks up the six registers of a slot in order; false at the first absent one.
bool FindSlotRegisters(CQel_Setup& setup, int slot, SlotRegisters& registers) {
    for (std::size_t k = 0; k < registers.size(); ++k) {
        registers[k] = setup.FindParameter(IndexedName("BQ", slot, kSlotRegisterSuffixes[k]));
        if (registers[k] == nullptr) {
            return false;
        }
    }
    return true;
}

bool IsLeadLag(int type) {
    return type == kLeadLag1 || type == kLeadLag2;
}

}  // namespace

CBiquadDesigner::CBiquadDesigner()
    : types_{
          {"Low Pass 1st order", true}, {"Low Pass 2nd order", true}, {"Notch", true},
          {"High Pass", true},          {"Band Pass", true},          {"Peak", false},
          {"Low Shelf", false},         {"High Shelf", false},        {"Lead-lag 1st order", true},
          {"Lead-lag 2nd order", true}} {}

void CBiquadDesigner::GetFilterTypes(std::vector<std::string>& names,
                                     std::vector<int>& types) const {
    names.clear();
    types.clear();
    for (std::size_t index = 0; index < types_.size(); ++index) {
        if (types_[index].offered) {
            names.push_back(types_[index].name);
            types.push_back(static_cast<int>(index));
        }
    }
}

void CBiquadDesigner::DesignFilter(int type, double normalisedFrequency, double qOrSecondFrequency,
                                   double gain_dB) {
    if (type < 0 || type >= static_cast<int>(types_.size())) {
        return;
    }
    // Bilinear transform with the corner pre-warped onto the analogue prototype.
    const double k = std::tan(std::numbers::pi * normalisedFrequency);
    const double gain = std::pow(10.0, std::abs(gain_dB) / 20.0);
    const double q = qOrSecondFrequency;
    const double n = 1.0 / (1.0 + k / q + k * k);
    const double poleA1 = 2.0 * (k * k - 1.0) * n;
    const double poleA2 = (1.0 - k / q + k * k) * n;
    // The shelves use the Butterworth pole pair (Q = 1/sqrt(2)) whatever Q says.
    const double d = 1.0 / (1.0 + std::numbers::sqrt2 * k + k * k);
    const double shelfA1 = 2.0 * (k * k - 1.0) * d;
    const double shelfA2 = (1.0 - std::numbers::sqrt2 * k + k * k) * d;
    const double shelfRoot = std::sqrt(2.0 * gain);

    switch (type) {
        case kLowPass1:
            coefficients_ = {k / (k + 1.0), k / (k + 1.0), 0.0, (k - 1.0) / (k + 1.0), 0.0};
            break;
        case kLowPass2:
            coefficients_ = {k * k * n, 2.0 * k * k * n, k * k * n, poleA1, poleA2};
            break;
        case kNotch:
            coefficients_ = {(1.0 + k * k) * n, poleA1, (1.0 + k * k) * n, poleA1, poleA2};
            break;
        case kHighPass:
            coefficients_ = {n, -2.0 * n, n, poleA1, poleA2};
            break;
        case kBandPass:
            coefficients_ = {k / q * n, 0.0, -k / q * n, poleA1, poleA2};
            break;
        case kPeak:
            coefficients_ = {(1.0 + gain * k / q + k * k) * n, poleA1,
                             (1.0 - gain * k / q + k * k) * n, poleA1, poleA2};
            break;
        case kLowShelf:
            coefficients_ = {(1.0 + shelfRoot * k + gain * k * k) * d,
                             2.0 * (gain * k * k - 1.0) * d,
                             (1.0 - shelfRoot * k + gain * k * k) * d, shelfA1, shelfA2};
            break;
        case kHighShelf:
            coefficients_ = {(gain + shelfRoot * k + k * k) * d, 2.0 * (k * k - gain) * d,
                             (gain - shelfRoot * k + k * k) * d, shelfA1, shelfA2};
            break;
        default: {
            // Lead-lag: a zero at the first frequency, a pole at the second, and the gain g that
            // brings the DC gain back to one; the second-order type is the first applied twice.
            const double lag = std::tan(std::numbers::pi * qOrSecondFrequency);
            const double g = lag / k;
            const double zero0 = g * (k + 1.0) / (lag + 1.0);
            const double zero1 = g * (k - 1.0) / (lag + 1.0);
            const double pole = (lag - 1.0) / (lag + 1.0);
            if (type == kLeadLag1) {
                coefficients_ = {zero0, zero1, 0.0, pole, 0.0};
            } else {
                coefficients_ = {zero0 * zero0, 2.0 * zero0 * zero1, zero1 * zero1, 2.0 * pole,
                                 pole * pole};
            }
            break;
        }
    }
    // High-pass and band-pass block a constant; a low shelf passes it with its own gain.
    unityDcGain_ = type != kHighPass && type != kBandPass && (type != kLowShelf || gain == 1.0);
}

void CBiquadDesigner::Quantize() {
    double largest = 0.0;
    for (const double coefficient : coefficients_) {
        largest = std::max(largest, std::abs(coefficient));
    }
    // The smallest power of two strictly above every magnitude, so that no coefficient reaches
    // the fraction 2^31, which a signed 32-bit register cannot hold.
    int exponent = 0;
    if (std::isfinite(largest) && largest >= 1.0) {
        std::frexp(largest, &exponent);
    }
    scaleFactor_ = std::ldexp(1.0, exponent);
    for (std::size_t k = 0; k < coefficients_.size(); ++k) {
        fixedPoint_[k] = std::floor(coefficients_[k] / scaleFactor_ * kCoefficientOne + 0.5);
    }
}

void CBiquadDesigner::CorrectDcGain() {
    if (!unityDcGain_) {
        return;
    }
    auto& [b0, b1, b2, a1, a2] = fixedPoint_;
    // The DC gain is (b0 + b1 + b2) / (1 + a1 + a2); it is one when this sum is 2^31 / SF.
    const double dcSum = std::trunc((b0 + b1 + b2 - a1 - a2) * scaleFactor_);
    if (dcSum > -kCoefficientOne && dcSum < kCoefficientOne) {
        b0 = std::floor(kCoefficientOne / scaleFactor_ - b1 - b2 + a1 + a2 + 0.5);
    }
}

bool CBiquadDesigner::DesignSlot(CQel_Setup& setup, int filter, int slot) {
    const std::string typeName = IndexedName("BQFilterType", filter);
    const std::string qName = IndexedName("BQFilterQ", filter);
    const auto inputs = engine::FindInOrder<3>(setup, {"Ts_S", typeName, qName});
    if (!inputs) {
        return false;
    }
    const auto [speedLoopPeriod, typeParameter, qParameter] = *inputs;
    const double period_s = speedLoopPeriod->GetValueInBaseUnit();
    // A number outside the table designs nothing; it is bounded first so that the conversion to
    // int is defined for any value the setup holds.
    const int type = static_cast<int>(std::clamp(std::trunc(typeParameter->GetValueInBaseUnit()),
                                                 -1.0, static_cast<double>(kLeadLag2 + 1)));
    double second = qParameter->GetValueInBaseUnit();
    if (IsLeadLag(type)) {
        const CQel_Parameter* lagFrequency = setup.FindParameter(IndexedName("BQFilterF2", filter));
        if (lagFrequency == nullptr) {
            return false;
        }
        second = lagFrequency->GetValueInBaseUnit() * period_s;
    }
    const CQel_Parameter* frequency = setup.FindParameter(IndexedName("BQFilterF1", filter));
    SlotRegisters registers{};
    if (frequency == nullptr || !FindSlotRegisters(setup, slot, registers)) {
        return false;
    }

    DesignFilter(type, frequency->GetValueInBaseUnit() * period_s, second, 0.0);
    Quantize();
    CorrectDcGain();

    bool written = true;
    for (std::size_t k = 0; k < fixedPoint_.size(); ++k) {
        written = registers[k]->SetValueInBaseUnit(fixedPoint_[k]) && written;
    }
    return registers[kScaleFactorRegister]->SetValueInBaseUnit(scaleFactor_) && written;
}

bool CBiquadDesigner::AssignBiquadSlots(CQel_Setup& setup) {
    std::array<const CQel_Parameter*, kFilterCount> enabled{};
    std::array<const CQel_Parameter*, kFilterCount> location{};
    for (int j = 1; j <= kFilterCount; ++j) {
        enabled[j - 1] = setup.FindParameter(IndexedName("BQFilter", j));
        if (enabled[j - 1] == nullptr) {
            return false;
        }
        location[j - 1] = setup.FindParameter(IndexedName("BQFilterLocation", j));
        if (location[j - 1] == nullptr) {
            return false;
        }
    }
    std::array<SlotRegisters, kSlotCount> slots{};
    for (int i = 1; i <= kSlotCount; ++i) {
        if (!FindSlotRegisters(setup, i, slots[i - 1])) {
            return false;
        }
    }
    const auto chainLengths = engine::FindInOrder<kLocationCount>(setup, kChainLengthNames);
    if (!chainLengths) {
        return false;
    }

    // Slots run in number order, so the chains lie one after another: the speed-reference
    // filters first, then the current-reference filters, then the measured-speed filters. A
    // filter whose design could not be written takes no slot: the drive runs without it rather
    // than with what the slot held before.
    bool done = true;
    int nextSlot = 1;
    std::array<int, kLocationCount> counts{};
    for (int place = 0; place < kLocationCount; ++place) {
        for (int j = 1; j <= kFilterCount; ++j) {
            const bool isOn = std::trunc(enabled[j - 1]->GetValueInBaseUnit()) != 0.0;
            const bool isHere =
                std::trunc(location[j - 1]->GetValueInBaseUnit()) == static_cast<double>(place);
            if (!isOn || !isHere) {
                continue;
            }
            if (DesignSlot(setup, j, nextSlot)) {
                ++counts[place];
                ++nextSlot;
            } else {
                done = false;
            }
        }
    }
    for (int i = nextSlot; i <= kSlotCount; ++i) {
        for (CQel_Parameter* slotRegister : slots[i - 1]) {
            done = slotRegister->SetValueInBaseUnit(0.0) && done;
        }
    }
    for (int place = 0; place < kLocationCount; ++place) {
        done = (*chainLengths)[place]->SetValueInBaseUnit(counts[place]) && done;
    }
    return done;
}

bool CBiquadDesigner::WriteBiquadRegisters(CQel_Setup& setup) const {
    std::vector<std::string> names(kChainLengthNames.begin(), kChainLengthNames.end());
    for (int i = 1; i <= kSlotCount; ++i) {
        for (std::string_view suffix : kSlotRegisterSuffixes) {
            names.push_back(IndexedName("BQ", i, suffix));
        }
    }
    bool written = true;
    for (const std::string& name : names) {
        const CQel_Parameter* parameter = nullptr;
        {
            const QuietLookups quiet;
            parameter = setup.FindParameter(name);
        }
        if (parameter != nullptr) {
            written = parameter->WriteToChip() && written;
        }
    }
    return written;
}
