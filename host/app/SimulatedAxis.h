#pragma once

// The simulated drive a command runs a setup on: the motor of a motor file, on the bench of that
// file (or on the supply --bus gives), under the registers and hardware of the setup.

#include <filesystem>
#include <memory>
#include <optional>

#include "drive/SimulatedDrive.h"
#include "drive/link/SimulatedDriveLink.h"
#include "host/kernel/Setup.h"

struct SimulatedAxis {
    std::unique_ptr<drive::SimulatedDrive> drive;
    std::unique_ptr<drive::SimulatedDriveLink> link;
    double supply_V = 0.0;
};

// Loads the motor file and makes the drive from the setup's registers and hardware, fed from the
// supply when one is given, else from the motor file's bench. Nothing when the motor file has
// problems or the setup's PWM is one the simulation cannot run (above 200 kHz, or 0 Hz): what is
// wrong is printed.
std::optional<SimulatedAxis> MakeSimulatedAxis(const std::filesystem::path& motorFile,
                                               const CQel_Setup& setup,
                                               std::optional<double> supply_V);

// The link is the drive of the setup while this lives.
class ConnectedDrive {
  public:
    ConnectedDrive(CQel_Setup& setup, qel::DriveLink* link);
    ~ConnectedDrive();
    ConnectedDrive(const ConnectedDrive&) = delete;
    ConnectedDrive& operator=(const ConnectedDrive&) = delete;

  private:
    CQel_Setup& setup_;
};
