#pragma once

#include <string>
#include <vector>

#include "drive/DriveRegisters.h"
#include "drive/PowerStage.h"

class CQel_Setup;

namespace drive {

// What a setup tells the simulated drive: its registers, and the facts about its hardware that
// the setup records (clock, bus converter, converters, dead time, interpolator, analogue input
// range, temperature sensor). The bus voltage itself is not among them: the setup's "Vdc" is what
// the user believes, the supply is the bench's (BenchData of the motor file), and the hardware
// keeps its default until the caller puts the drive on its bench. The names a setup lacks keep
// their defaults and are listed; optional registers (see RegisterTable), the dead-time
// registers, the analogue input range and the temperature sensor's characteristics are not
// listed when absent.
struct DriveFromSetup {
    DriveRegisters registers;
    DriveHardware hardware;
    std::vector<std::string> missing;
};

// Reads the setup without the kernel reporting absent names (the caller decides what a missing
// name means).
DriveFromSetup ReadDriveFromSetup(const CQel_Setup& setup);

}  // namespace drive
