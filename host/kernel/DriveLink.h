#pragma once

#include <string>
#include <string_view>

namespace qel {

// The host's connection to a drive: the simulated drive in-process, or a serial or CAN transport
// to a real one. Values travel in the drive's internal units.
class DriveLink {
  public:
    virtual ~DriveLink() = default;

    // Writes a register or variable of the drive; false (with LastError) when the drive refused
    // it or did not answer.
    virtual bool WriteValue(std::string_view name, double internalValue) = 0;
    virtual bool ReadValue(std::string_view name, double& internalValue) = 0;
    // What went wrong in the last failed call, for the user.
    virtual std::string LastError() const = 0;
};

}  // namespace qel
