#include "host/app/SimulatedAxis.h"

#include <cstdio>
#include <string>

#include "drive/MotorFile.h"
#include "drive/SetupLoader.h"
#include "host/kernel/Comm.h"

std::optional<SimulatedAxis> MakeSimulatedAxis(const std::filesystem::path& motorFile,
                                               const CQel_Setup& setup,
                                               std::optional<double> supply_V) {
    const drive::MotorFileResult motor = drive::LoadMotorFile(motorFile);
    if (!motor.motor) {
        std::fputs(drive::DescribeMotorFileProblems(motorFile, motor.problems).c_str(), stderr);
        return std::nullopt;
    }
    drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(setup);
    for (const std::string& missing : loaded.missing) {
        std::fprintf(stderr, "brevan: the setup has no \"%s\"; the drive keeps its default\n",
                     missing.c_str());
    }
    SimulatedAxis axis;
    axis.supply_V = supply_V.value_or(motor.bench.supply_V);
    loaded.hardware.busVoltage_V = axis.supply_V;
    axis.drive =
        std::make_unique<drive::SimulatedDrive>(*motor.motor, loaded.hardware, loaded.registers);
    axis.link = std::make_unique<drive::SimulatedDriveLink>(*axis.drive);
    return axis;
}

ConnectedDrive::ConnectedDrive(CQel_Setup& setup, qel::DriveLink* link) : setup_(setup) {
    CQel_Comm::Connect(setup, link);
}

ConnectedDrive::~ConnectedDrive() {
    CQel_Comm::Connect(setup_, nullptr);
}
