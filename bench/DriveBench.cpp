#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

#include "drive/MotorFile.h"
#include "drive/SetupLoader.h"
#include "drive/SimulatedDrive.h"
#include "host/kernel/SetupFile.h"
#include "module/Exports.h"

namespace {

// Simulated time per benchmark iteration.
constexpr double kChunk_s = 0.1;

// The reference axis on its motor, speed loop closed at 20 rad/s: the current loop at 20 kHz,
// the speed loop at 2 kHz with the axis's two biquads, dead time on.
std::unique_ptr<drive::SimulatedDrive> ReferenceAxisInSpeedControl() {
    const auto examples = std::filesystem::path(BREVAN_SOURCE_DIR) / "examples";
    const qel::SetupLoadResult setup =
        qel::LoadSetupFile(examples / "reference-axis.json", {GetScaleFactor, GetScaleOffset});
    const drive::MotorFileResult motor =
        drive::LoadMotorFile(examples / "motors" / "reference-axis-motor.json");
    if (!setup.setup || !motor.motor) {
        return nullptr;
    }
    const drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(*setup.setup);
    auto axis =
        std::make_unique<drive::SimulatedDrive>(*motor.motor, loaded.hardware, loaded.registers);
    axis->AlignElectricAngleToRotor();
    axis->Firmware().SetLoopMode(drive::LoopMode::Speed);
    if (!axis->SwitchOn()) {
        return nullptr;
    }
    const double speedUnitsPerRadPerSecond = static_cast<double>(axis->Encoder().CountsPerTurn()) /
                                             (2 * std::numbers::pi) * axis->SpeedLoopPeriod_s();
    axis->Firmware().SetSpeedReference(std::llround(20.0 * speedUnitsPerRadPerSecond));
    return axis;
}

// How many times faster than real time the axis runs on one core:
// - "realtime_factor": simulated seconds per wall-clock second of the run;
// - "simulated_s": simulated seconds per second of the process's CPU time (a rate), the same on
//   a busy machine, where other work takes the core away and stretches the wall clock.
void SimulateSpeedControlledAxis(benchmark::State& state) {
    const auto axis = ReferenceAxisInSpeedControl();
    if (!axis) {
        state.SkipWithError("the reference axis or its motor does not load, or does not start");
        return;
    }
    double simulated_s = 0.0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        axis->Advance(kChunk_s);
        simulated_s += kChunk_s;
        benchmark::DoNotOptimize(axis->Motor().ShaftSpeed_rad_s());
    }
    const std::chrono::duration<double> wall_s = std::chrono::steady_clock::now() - start;
    if (!axis->IsOn()) {
        state.SkipWithError("the axis switched off during the run");
        return;
    }
    state.counters["realtime_factor"] = simulated_s / wall_s.count();
    state.counters["simulated_s"] = benchmark::Counter(simulated_s, benchmark::Counter::kIsRate);
}
BENCHMARK(SimulateSpeedControlledAxis)->Unit(benchmark::kMillisecond);

}  // namespace
