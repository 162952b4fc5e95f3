#include "host/app/SimulatedAxis.h"

#include <cstdio>
#include <string>

#include "drive/MotorFile.h"
#include "drive/SetupLoader.h"
#include "host/kernel/Comm.h"

namespace {

// The simulated drive steps its physics several times a PWM period: beyond the fastest PWM a real
// drive switches at (the setup's PWM_freq reaches 200 kHz), a second of drive time would take
// minutes of computing, and at 0 Hz time would not pass at all.
constexpr double kMaxSimulatedPwm_Hz = 200e3;

}  // namespace

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
    if (const double pwm_Hz = 1.0 / axis.drive->PwmPeriod_s();
        !(pwm_Hz > 0.0 && pwm_Hz <= kMaxSimulatedPwm_Hz)) {
        std::fprintf(stderr,
                     "brevan: DSP_freq %.17g Hz and PWMPER %lld give a PWM frequency of %.17g Hz; "
                     "the simulated drive runs PWM frequencies above 0 up to %.17g Hz (the setup's "
                     "PWM_freq range)\n",
                     setup.GetParameterValueInBaseUnit("DSP_freq"),
                     static_cast<long long>(axis.drive->Registers().PWMPER), pwm_Hz,
                     kMaxSimulatedPwm_Hz);
        return std::nullopt;
    }
    axis.link = std::make_unique<drive::SimulatedDriveLink>(*axis.drive);
    return axis;
}

ConnectedDrive::ConnectedDrive(CQel_Setup& setup, qel::DriveLink* link) : setup_(setup) {
    CQel_Comm::Connect(setup, link);
}

ConnectedDrive::~ConnectedDrive() {
    CQel_Comm::Connect(setup_, nullptr);
}
