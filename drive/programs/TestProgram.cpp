#include "drive/programs/TestProgram.h"

#include <algorithm>
#include <cctype>
#include <functional>

#include "drive/programs/DrivePrograms.h"

namespace drive {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

template <typename Map>
auto FindByName(Map& map, std::string_view name) {
    return std::ranges::find_if(map,
                                [name](const auto& entry) { return SameName(entry.first, name); });
}

using Factory = std::function<std::unique_ptr<TestProgram>()>;

struct RegistryEntry {
    std::string name;
    Factory factory;
};

// The registry lists the factories only: each program is asked its name once, so that the name
// the host finds a program by is the one the program answers to, written in one place.
const std::vector<RegistryEntry>& Registry() {
    static const std::vector<RegistryEntry> registry = [] {
        const Factory factories[] = {
            MakeInitialPositioningTest,
            MakeResistanceTest,
            MakeInductanceTest,
            MakeVdcDetectionTest,
            MakeEncoderResolutionTest,
            MakePolePairsTest,
            MakeInertiaTest,
            MakeEncoderOffsetTest,
            MakePhaseConnectionTest,
            MakeEncoderConnectionTest,
            MakeCurrentTuningTest,
            MakeSpeedTuningTest,
            [] { return MakePositionTuningTest(true); },
            [] { return MakePositionTuningTest(false); },
            MakeAnalogueReferenceTest,
            MakeAngleControllerTuningTest,
        };
        std::vector<RegistryEntry> entries;
        for (const Factory& factory : factories) {
            entries.push_back({std::string(factory()->Name()), factory});
        }
        return entries;
    }();
    return registry;
}

}  // namespace

bool TestProgram::SetVariable(std::string_view name, double value) {
    const auto found = FindByName(variables_, name);
    if (found == variables_.end()) {
        return false;
    }
    found->second = value;
    return true;
}

std::optional<double> TestProgram::GetVariable(std::string_view name) const {
    const auto found = FindByName(variables_, name);
    if (found == variables_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<double> TestProgram::GetDriveVariable(std::string_view name) const {
    const auto found = FindByName(driveVariables_, name);
    if (found == driveVariables_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool TestProgram::WriteDriveVariable(std::string_view, double) {
    return false;
}

void TestProgram::Start(SimulatedDrive& drive) {
    drive_ = &drive;
    // A program sets the loops' references itself.
    drive.Firmware().SetReferenceSource(ReferenceSource::Host);
    if (!running_) {
        drive.AddRoutine(this);
    }
    running_ = true;
}

void TestProgram::Stop(SimulatedDrive& drive) {
    drive.RemoveRoutine(this);
    if (running_) {
        drive.SwitchOff();
    }
    running_ = false;
    drive.Firmware().SetReferenceSource(drive.Firmware().ConfiguredReferenceSource());
}

void TestProgram::Declare(std::string_view name, double initialValue) {
    variables_[std::string(name)] = initialValue;
}

double& TestProgram::Variable(std::string_view name) {
    return FindByName(variables_, name)->second;
}

void TestProgram::SetDriveVariable(std::string_view name, double value) {
    driveVariables_[std::string(name)] = value;
}

void TestProgram::Finish(SimulatedDrive& drive) {
    drive.SwitchOff();
    running_ = false;
}

std::unique_ptr<TestProgram> CreateTestProgram(std::string_view name) {
    for (const RegistryEntry& entry : Registry()) {
        if (SameName(entry.name, name)) {
            return entry.factory();
        }
    }
    return nullptr;
}

std::vector<std::string> TestProgramNames() {
    std::vector<std::string> names;
    for (const RegistryEntry& entry : Registry()) {
        names.push_back(entry.name);
    }
    return names;
}

}  // namespace drive
