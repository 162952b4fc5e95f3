#include "TestProgram.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>

#include "DrivePrograms.h"

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

const std::vector<std::pair<std::string, Factory>>& Registry() {
    static const std::vector<std::pair<std::string, Factory>> registry = {
        {"Initial_Positioning_Test", MakeInitialPositioningTest},
        {"Ident_R_or_Rs", MakeResistanceTest},
        {"Ident_L_or_Tau_el", MakeInductanceTest},
        {"VDC_Detection_Test", MakeVdcDetectionTest},
        {"Encoder_Resolution_And_Direction_Test", MakeEncoderResolutionTest},
        {"Motor_Pole_Pairs_Detection_Test", MakePolePairsTest},
        {"Total_Inertia_Identification_Test", MakeInertiaTest},
        {"Encoder_Offset_Zero_And_A_Detection_Test", MakeEncoderOffsetTest},
        {"Motor_Phase_Connection_Test", MakePhaseConnectionTest},
        {"Encoder_Connection_Test", MakeEncoderConnectionTest},
        {"Current_Controller_Tuning_Test", MakeCurrentTuningTest},
        {"Speed_Controller_Tuning_Test", MakeSpeedTuningTest},
        {"Position_Controller_Tuning_Test_with_SpdCtrl",
         [] { return MakePositionTuningTest(true); }},
        {"Position_Controller_Tuning_Test_without_SpdCtrl",
         [] { return MakePositionTuningTest(false); }},
        {"Analogue_Reference_Test", MakeAnalogueReferenceTest},
        {"Angle_Controller_Tuning_Test", MakeAngleControllerTuningTest},
    };
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

void TestProgram::Declare(std::string name, double initialValue) {
    variables_[std::move(name)] = initialValue;
}

double& TestProgram::Variable(std::string_view name) {
    return FindByName(variables_, name)->second;
}

void TestProgram::SetDriveVariable(const std::string& name, double value) {
    driveVariables_[name] = value;
}

void TestProgram::Finish(SimulatedDrive& drive) {
    drive.SwitchOff();
    running_ = false;
}

std::unique_ptr<TestProgram> CreateTestProgram(std::string_view name) {
    for (const auto& [programName, factory] : Registry()) {
        if (SameName(programName, name)) {
            return factory();
        }
    }
    return nullptr;
}

std::vector<std::string> TestProgramNames() {
    std::vector<std::string> names;
    for (const auto& entry : Registry()) {
        names.push_back(entry.first);
    }
    return names;
}

}  // namespace drive
