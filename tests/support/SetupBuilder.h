#pragma once

#include <string>

#include "host/kernel/Setup.h"
#include "host/kernel/Units.h"

// Adds a physical parameter with a wide range: enough for tests of computations that only read.
inline CQel_Parameter* AddPhysical(CQel_Setup& setup, const std::string& name, double value,
                                   const char* family = "number") {
    qel::ParameterDefinition definition;
    definition.name = name;
    definition.family = qel::FindUnitFamily(family);
    definition.value = value;
    definition.min = -1e300;
    definition.max = 1e300;
    return setup.AddParameter(definition);
}
