#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/BiquadDesigner.h"
#include "host/kernel/DriveLink.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

namespace {

constexpr double kOne_q31 = 2147483648.0;
constexpr double kPi = std::numbers::pi;

// |H(e^jw)| of the designed transfer function at a frequency given as a fraction of the sampling
// rate: 0 is DC, 0.5 is the Nyquist frequency.
double Magnitude(const std::array<double, 5>& c, double normalisedFrequency) {
    const std::complex<double> zInverse = std::polar(1.0, -2.0 * kPi * normalisedFrequency);
    const std::complex<double> numerator = c[0] + c[1] * zInverse + c[2] * zInverse * zInverse;
    const std::complex<double> denominator = 1.0 + c[3] * zInverse + c[4] * zInverse * zInverse;
    return std::abs(numerator / denominator);
}

// --- Type table --------------------------------------------------------------------------------

TEST(BiquadDesigner, OffersTheDialogTypesWithTheirNumbers) {
    std::vector<std::string> names = {"stale"};
    std::vector<int> types = {42};

    CBiquadDesigner().GetFilterTypes(names, types);

    EXPECT_EQ(names, (std::vector<std::string>{"Low Pass 1st order", "Low Pass 2nd order", "Notch",
                                               "High Pass", "Band Pass", "Lead-lag 1st order",
                                               "Lead-lag 2nd order"}));
    EXPECT_EQ(types, (std::vector<int>{0, 1, 2, 3, 4, 8, 9}));
}

// --- Frequency responses -----------------------------------------------------------------------

// The bilinear transform with pre-warping maps the analogue prototype's DC, corner and infinity
// onto DC, the design frequency and Nyquist, so the prototype's magnitudes there must reappear.
struct ResponseCase {
    const char* label;
    int type;
    double frequency, second, gain_dB;
    std::vector<std::pair<double, double>> magnitudes;  // (normalised frequency, |H|)
    friend std::ostream& operator<<(std::ostream& out, const ResponseCase& row) {
        return out << row.label;
    }
};

class BiquadResponse : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(BiquadResponse, MatchesTheAnaloguePrototype) {
    const ResponseCase& row = GetParam();
    CBiquadDesigner designer;
    designer.DesignFilter(row.type, row.frequency, row.second, row.gain_dB);

    for (const auto& [frequency, expected] : row.magnitudes) {
        const double actual = Magnitude(designer.GetCoefficients(), frequency);
        EXPECT_NEAR(actual, expected, 1e-9)
            << "at " << frequency << ": expected " << expected << ", actual " << actual;
    }
}

const double kSixDb = std::pow(10.0, 6.0 / 20.0);
const double kShelfCorner = std::sqrt((kSixDb * kSixDb + 1.0) / 2.0);
// Lead at 0.05, lag at 0.15 of the sampling rate, in pre-warped terms.
const double kLead = std::tan(kPi * 0.05);
const double kLag = std::tan(kPi * 0.15);
const double kLeadLagAtLead = std::sqrt(2.0 / (1.0 + (kLead / kLag) * (kLead / kLag)));

INSTANTIATE_TEST_SUITE_P(
    EveryType, BiquadResponse,
    ::testing::Values(
        ResponseCase{
            "LowPass1", 0, 0.1, 0.7, 0, {{0.0, 1.0}, {0.1, 1.0 / std::sqrt(2.0)}, {0.5, 0.0}}},
        ResponseCase{"LowPass2", 1, 0.1, 2.0, 0, {{0.0, 1.0}, {0.1, 2.0}, {0.5, 0.0}}},
        ResponseCase{"Notch", 2, 0.1, 2.0, 0, {{0.0, 1.0}, {0.1, 0.0}, {0.5, 1.0}}},
        ResponseCase{"HighPass", 3, 0.1, 2.0, 0, {{0.0, 0.0}, {0.1, 2.0}, {0.5, 1.0}}},
        ResponseCase{"BandPass", 4, 0.1, 2.0, 0, {{0.0, 0.0}, {0.1, 1.0}, {0.5, 0.0}}},
        ResponseCase{"PeakAtZeroDbIsFlat", 5, 0.1, 2.0, 0, {{0.0, 1.0}, {0.1, 1.0}, {0.37, 1.0}}},
        ResponseCase{"PeakBoost", 5, 0.1, 2.0, 6, {{0.0, 1.0}, {0.1, kSixDb}, {0.5, 1.0}}},
        ResponseCase{
            "PeakTakesTheGainMagnitude", 5, 0.1, 2.0, -6, {{0.0, 1.0}, {0.1, kSixDb}, {0.5, 1.0}}},
        ResponseCase{"LowShelfAtZeroDbIsFlat", 6, 0.1, 2.0, 0, {{0.0, 1.0}, {0.2, 1.0}}},
        ResponseCase{"LowShelf", 6, 0.1, 2.0, 6, {{0.0, kSixDb}, {0.1, kShelfCorner}, {0.5, 1.0}}},
        ResponseCase{"HighShelfAtZeroDbIsFlat", 7, 0.1, 2.0, 0, {{0.0, 1.0}, {0.2, 1.0}}},
        ResponseCase{"HighShelf", 7, 0.1, 2.0, 6, {{0.0, 1.0}, {0.1, kShelfCorner}, {0.5, kSixDb}}},
        ResponseCase{"LeadLag1",
                     8,
                     0.05,
                     0.15,
                     0,
                     {{0.0, 1.0}, {0.05, kLeadLagAtLead}, {0.5, kLag / kLead}}},
        ResponseCase{"LeadLag2",
                     9,
                     0.05,
                     0.15,
                     0,
                     {{0.0, 1.0},
                      {0.05, kLeadLagAtLead* kLeadLagAtLead},
                      {0.5, (kLag / kLead) * (kLag / kLead)}}}));

TEST(BiquadDesigner, LeadLagWithEqualFrequenciesPassesTheSignal) {
    CBiquadDesigner designer;
    designer.DesignFilter(8, 0.07, 0.07, 0);

    const std::array<double, 5>& c = designer.GetCoefficients();
    EXPECT_EQ(c[0], 1.0);
    EXPECT_EQ(c[1], c[3]);
    EXPECT_EQ(c[2], 0.0);
    EXPECT_EQ(c[4], 0.0);
}

class BiquadTypeOutsideTheTable : public ::testing::TestWithParam<int> {};

TEST_P(BiquadTypeOutsideTheTable, KeepsThePreviousDesign) {
    CBiquadDesigner designer;
    designer.DesignFilter(2, 0.1, 2.0, 0);
    const std::array<double, 5> previous = designer.GetCoefficients();

    designer.DesignFilter(GetParam(), 0.3, 0.5, 0);

    EXPECT_EQ(designer.GetCoefficients(), previous);
}

INSTANTIATE_TEST_SUITE_P(AboveNineAndBelowZero, BiquadTypeOutsideTheTable,
                         ::testing::Values(10, 42, -1));

// --- BiquadQuantisation
// ------------------------------------------------------------------------------

struct QuantiseCase {
    const char* label;
    int type;
    double frequency, second, scaleFactor;
    friend std::ostream& operator<<(std::ostream& out, const QuantiseCase& row) {
        return out << row.label;
    }
};

class BiquadQuantisation : public ::testing::TestWithParam<QuantiseCase> {};

TEST_P(BiquadQuantisation, UsesTheSmallestScaleThatHoldsEveryCoefficient) {
    const QuantiseCase& row = GetParam();
    CBiquadDesigner designer;
    designer.DesignFilter(row.type, row.frequency, row.second, 0);
    designer.Quantize();

    const double scaleFactor = designer.GetScaleFactor();
    EXPECT_EQ(scaleFactor, row.scaleFactor);
    double largest = 0.0;
    for (std::size_t k = 0; k < 5; ++k) {
        const double fixed = designer.GetFixedPointCoefficients()[k];
        const double real = designer.GetCoefficients()[k];
        EXPECT_EQ(fixed, std::floor(fixed)) << "coefficient " << k << " is not a whole number";
        EXPECT_LT(std::fabs(fixed), kOne_q31) << "coefficient " << k << " overflows 32 bits";
        // Half a step of the fraction at most.
        EXPECT_LE(std::fabs(fixed / kOne_q31 * scaleFactor - real), 0.5 * scaleFactor / kOne_q31)
            << "coefficient " << k << ": real " << real << ", fixed " << fixed;
        largest = std::max(largest, std::fabs(fixed));
    }
    // A smaller scale factor would have held the largest coefficient too.
    if (scaleFactor > 1.0) {
        EXPECT_GE(largest, kOne_q31 / 2.0);
    }
}

INSTANTIATE_TEST_SUITE_P(ExponentCases, BiquadQuantisation,
                         ::testing::Values(
                             // Largest 0.81: no scaling.
                             QuantiseCase{"BelowOne", 2, 0.2, 2.0, 1.0},
                             // b0 exactly 1: 1 is not below 2^0, so SF 2 and b0 = 2^30, never 2^31
                             // (the largest coefficient must reach half the range, checked above).
                             QuantiseCase{"ExactlyOne", 8, 0.07, 0.07, 2.0},
                             // a1 close to -2 for a low corner.
                             QuantiseCase{"BetweenOneAndTwo", 1, 0.01, 0.7071, 2.0},
                             // b0 = 2.65 for a lead at 50 Hz and a lag at 150 Hz sampled at 2 kHz.
                             QuantiseCase{"BetweenTwoAndFour", 8, 0.025, 0.075, 4.0},
                             // b0 = 5.99 for a lag eight times the lead.
                             QuantiseCase{"BetweenFourAndEight", 8, 0.02, 0.16, 8.0}));

// --- Slots in the setup ------------------------------------------------------------------------

// B0, B1, B2, A1, A2 and SF of slot i.
std::array<double, 6> ReadSlot(const CQel_Setup& setup, int i) {
    std::array<double, 6> registers{};
    const std::array<const char*, 6> suffixes = {"B0", "B1", "B2", "A1", "A2", "SF"};
    for (std::size_t k = 0; k < registers.size(); ++k) {
        registers[k] = setup.GetParameterValueInBaseUnit("BQ" + std::to_string(i) + suffixes[k]);
    }
    return registers;
}

class BiquadSlots : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_ = LoadExample("reference-axis.json");
        ASSERT_TRUE(setup_);
        // Ts_S is 500 us: a frequency in Hz times 0.0005 is the normalised frequency.
        ASSERT_EQ(setup_->GetParameterValueInBaseUnit("Ts_S"), 0.0005);
    }

    void Set(const std::string& name, double value) {
        ASSERT_TRUE(setup_->SetParameterValueInBaseUnit(name, value)) << name;
        ASSERT_EQ(setup_->GetParameterValueInBaseUnit(name), value) << name << " was clamped";
    }

    void DescribeFilter(int j, int type, double f1_Hz, double q, double f2_Hz) {
        const std::string n = std::to_string(j);
        Set("BQFilterType" + n, type);
        Set("BQFilterF1" + n, f1_Hz);
        Set("BQFilterQ" + n, q);
        Set("BQFilterF2" + n, f2_Hz);
    }

    std::array<double, 6> Slot(int i) const { return ReadSlot(*setup_, i); }

    std::unique_ptr<CQel_Setup> setup_;
};

TEST_F(BiquadSlots, FirstOrderLowPassAtAQuarterOfTheRateHalvesTheRange) {
    DescribeFilter(1, 0, 500.0, 1.0, 100.0);

    EXPECT_TRUE(CBiquadDesigner().DesignSlot(*setup_, 1, 2));

    EXPECT_EQ(Slot(2), (std::array<double, 6>{1073741824.0, 1073741824.0, 0, 0, 0, 1}));
}

// Records what reaches the drive, and refuses the names it is told to.
class RecordingLink : public qel::DriveLink {
  public:
    bool WriteValue(std::string_view name, double internalValue) override {
        if (name == refused_) {
            return false;
        }
        written_.emplace_back(name, internalValue);
        return true;
    }
    bool ReadValue(std::string_view, double&) override { return false; }
    std::string LastError() const override { return "no answer from the drive"; }

    std::vector<std::pair<std::string, double>> written_;
    std::string refused_;
};

TEST_F(BiquadSlots, WritesChainLengthsAndEverySlotRegisterToTheDrive) {
    RecordingLink link;
    setup_->SetDriveLink(&link);
    EXPECT_TRUE(CBiquadDesigner().WriteBiquadRegisters(*setup_));
    ASSERT_EQ(link.written_.size(), 3U + 3U * 6U);
    EXPECT_EQ(link.written_[0].first, "SPDREF_BQ_INI");
    EXPECT_EQ(link.written_[1].first, "IQREF_BQ_INI");
    EXPECT_EQ(link.written_[2].first, "ASPD_BQ_INI");
    EXPECT_EQ(link.written_[3].first, "BQ1B0");
    EXPECT_EQ(link.written_[3].second, Slot(1)[0]);
    EXPECT_EQ(link.written_.back().first, "BQ3SF");
}

TEST_F(BiquadSlots, WritingWithoutADriveOrAgainstARefusalFailsAndSaysWhy) {
    CollectedErrors errors;
    EXPECT_FALSE(CBiquadDesigner().WriteBiquadRegisters(*setup_));
    ASSERT_FALSE(errors.Messages().empty());
    EXPECT_EQ(errors.Messages().front(),
              "No drive is connected: \"SPDREF_BQ_INI\" was not written to the drive.");
    RecordingLink link;
    link.refused_ = "BQ2A1";
    setup_->SetDriveLink(&link);
    errors.Clear();
    EXPECT_FALSE(CBiquadDesigner().WriteBiquadRegisters(*setup_));
    EXPECT_EQ(link.written_.size(), 20U) << "the other registers are still written";
    ASSERT_EQ(errors.Messages().size(), 1U);
    EXPECT_EQ(errors.Messages()[0],
              "Writing \"BQ2A1\" to the drive failed: no answer from the drive");
}

TEST_F(BiquadSlots, ReferenceAxisFiltersGiveItsRegistersBack) {
    const std::array<double, 6> notch = Slot(1);
    const std::array<double, 6> lowPass = Slot(2);
    // Spoil the slots, so that only the design can restore them.
    Set("BQ1B0", 5);
    Set("BQ2A2", 5);

    EXPECT_TRUE(CBiquadDesigner().AssignBiquadSlots(*setup_));

    // The notch's quantised sum is one step above unity and is kept; the low pass's is one step
    // below and is corrected.
    EXPECT_EQ(Slot(1), notch);
    EXPECT_EQ(Slot(2), lowPass);
}

struct DcCase {
    const char* label;
    int type;
    double f1_Hz, q, f2_Hz;
    bool unity;
    friend std::ostream& operator<<(std::ostream& out, const DcCase& row) {
        return out << row.label;
    }
};

class BiquadDcGain : public BiquadSlots, public ::testing::WithParamInterface<DcCase> {};

TEST_P(BiquadDcGain, IsExactlyOneOnlyForFiltersThatPassDc) {
    const DcCase& row = GetParam();
    DescribeFilter(3, row.type, row.f1_Hz, row.q, row.f2_Hz);
    CBiquadDesigner designer;

    EXPECT_TRUE(designer.DesignSlot(*setup_, 3, 1));

    const auto [b0, b1, b2, a1, a2, sf] = Slot(1);
    if (row.unity) {
        // Each of these rows quantises to a sum one or more steps below unity.
        EXPECT_EQ(b0 + b1 + b2 - a1 - a2, kOne_q31 / sf);
    } else {
        // The numerator's zeros at DC survive quantisation: no correction towards one.
        EXPECT_LE(std::fabs(b0 + b1 + b2), 2.0) << "b0 " << b0 << " b1 " << b1 << " b2 " << b2;
    }
    EXPECT_EQ(designer.GetFixedPointCoefficients()[0], b0);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, BiquadDcGain,
                         ::testing::Values(DcCase{"LowPass1", 0, 37.0, 0.5, 100.0, true},
                                           DcCase{"LowPass2", 1, 37.0, 2.0, 100.0, true},
                                           DcCase{"Notch", 2, 80.0, 0.5, 100.0, true},
                                           DcCase{"LeadLag1", 8, 37.0, 1.0, 99.9, true},
                                           DcCase{"LeadLag2", 9, 450.0, 1.0, 990.0, true},
                                           DcCase{"HighPass", 3, 100.0, 0.7071, 100.0, false},
                                           DcCase{"HighPassSharp", 3, 37.0, 2.0, 100.0, false},
                                           DcCase{"BandPass", 4, 100.0, 2.0, 100.0, false}));

struct AssignmentCase {
    const char* label;
    std::array<int, 3> enabled;
    std::array<int, 3> location;
    std::array<int, 3> filterInSlot;  // 0: the slot is free and cleared
    std::array<double, 3> counts;     // SPDREF_BQ_INI, IQREF_BQ_INI, ASPD_BQ_INI
    friend std::ostream& operator<<(std::ostream& out, const AssignmentCase& row) {
        return out << row.label;
    }
};

class BiquadAssignment : public BiquadSlots,
                         public ::testing::WithParamInterface<AssignmentCase> {};

TEST_P(BiquadAssignment, FillsTheSlotsChainByChain) {
    const AssignmentCase& row = GetParam();
    // Three filters with different coefficients, so that each slot tells which one it holds.
    DescribeFilter(1, 1, 200.0, 0.7071, 100.0);
    DescribeFilter(2, 2, 300.0, 2.0, 100.0);
    DescribeFilter(3, 8, 50.0, 1.0, 150.0);
    // designOf[0] is a cleared slot.
    std::array<std::array<double, 6>, 4> designOf{};
    for (int j = 1; j <= 3; ++j) {
        CQel_Setup scratch(*setup_);
        ASSERT_TRUE(CBiquadDesigner().DesignSlot(scratch, j, 1));
        designOf[j] = ReadSlot(scratch, 1);
    }
    for (int j = 1; j <= 3; ++j) {
        Set("BQFilter" + std::to_string(j), row.enabled[j - 1]);
        Set("BQFilterLocation" + std::to_string(j), row.location[j - 1]);
    }
    // Nothing left over from before may survive in a free slot.
    for (int i = 1; i <= 3; ++i) {
        Set("BQ" + std::to_string(i) + "B1", 99);
        Set("BQ" + std::to_string(i) + "SF", 4);
    }
    Set("SPDREF_BQ_INI", 3);
    Set("IQREF_BQ_INI", 3);
    Set("ASPD_BQ_INI", 3);

    EXPECT_TRUE(CBiquadDesigner().AssignBiquadSlots(*setup_));

    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(Slot(i), designOf[row.filterInSlot[i - 1]]) << "slot " << i;
    }
    EXPECT_EQ(setup_->GetParameterValueInBaseUnit("SPDREF_BQ_INI"), row.counts[0]);
    EXPECT_EQ(setup_->GetParameterValueInBaseUnit("IQREF_BQ_INI"), row.counts[1]);
    EXPECT_EQ(setup_->GetParameterValueInBaseUnit("ASPD_BQ_INI"), row.counts[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BiquadAssignment,
    ::testing::Values(
        AssignmentCase{"OneOnTheCurrentReference", {1, 0, 0}, {1, 1, 1}, {1, 0, 0}, {0, 1, 0}},
        AssignmentCase{"OneAtEachLocation", {1, 1, 1}, {2, 0, 1}, {2, 3, 1}, {1, 1, 1}},
        AssignmentCase{"DisabledTakesNoSlot", {0, 1, 1}, {0, 0, 2}, {2, 3, 0}, {1, 0, 1}},
        AssignmentCase{"AllOnTheMeasuredSpeed", {1, 1, 1}, {2, 2, 2}, {1, 2, 3}, {0, 0, 3}},
        AssignmentCase{"NoneEnabled", {0, 0, 0}, {0, 1, 2}, {0, 0, 0}, {0, 0, 0}}));

}  // namespace
