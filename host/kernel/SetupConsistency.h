#pragma once

// What keeps a setup usable: every numeric value converts to a finite base value, and every value
// lies in its range. A unit scale reads physical parameters (periods, converter ranges, encoder
// lines, transmission), so changing one of them moves the base values of the scaled parameters;
// these functions find what no longer converts and bring what left its range back into it.

#include <string>
#include <vector>

#include "host/kernel/Setup.h"

namespace qel {

// The shortest text that reads back as the same number: "0.0005", "29216", "1e-06".
std::string ShortNumber(double value);

// The parameters whose value the unit scales cannot convert to a finite base value.
struct UnconvertibleValues {
    std::vector<std::string> parameters;    // in the setup's order
    std::vector<std::string> missingNames;  // what the scales read that the setup lacks
    bool Empty() const { return parameters.empty(); }
};

UnconvertibleValues FindUnconvertibleValues(const CQel_Setup& setup);

// One sentence for the user: the missing names as the cause when there are any, then the values
// affected (the first few by name).
std::string DescribeUnconvertible(const UnconvertibleValues& values);

// A value that lay outside its range and was brought to its nearer end; base units.
struct RangeCorrection {
    std::string name;
    std::string unit;  // the base unit as shown, possibly empty
    double from = 0.0;
    double to = 0.0;
    double min = 0.0;
    double max = 0.0;
};

// Brings every numeric value into its range: the physical ones first, since the scales read them,
// then the scaled ones. What moved is returned in the setup's order.
std::vector<RangeCorrection> BringValuesIntoRange(CQel_Setup& setup);

// "the value 5000.1 rad/s lies outside its range 0 to 392.7 rad/s; it is now 392.7 rad/s"
std::string DescribeCorrection(const RangeCorrection& correction);

// The base unit as a user reads it after a number: without the blank some unit names carry, and
// nothing for a plain number or a register.
std::string ShownBaseUnit(const CQel_Parameter& parameter);

}  // namespace qel
