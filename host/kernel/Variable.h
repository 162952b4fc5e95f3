#pragma once

#include <string>

#include "host/kernel/Quantity.h"

// A drive variable: one of the drive's live values, held in the drive's internal units and shown
// through the module's scale for its unit family.
class CQel_Variable : public qel::Quantity {
  public:
    CQel_Variable(CQel_Setup* setup, std::string name, const qel::UnitFamily& family,
                  double internalValue);

    bool SetValueInBaseUnit(double baseValue);
    bool SetValueInInternalUnit(double internalValue);

    // Takes the drive's present value, in internal units, from the drive the setup is connected
    // to; false when there is none or the read failed (CQel_Comm::GetLastErrorText says why).
    bool ReadFromChip();

    // The value in the selected display unit, as the user reads it ("%g").
    std::string PrintValue() const;

    friend class CQel_Setup;
};
