#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/Derivation.h"
#include "engine/RegisterComputation.h"
#include "host/app/DriveTestRun.h"
#include "host/app/DriveTestTable.h"
#include "host/app/SimulatedAxis.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/SetupFile.h"
#include "host/ui/DialogTemplate.h"
#include "module/Exports.h"

namespace {

// The person answers Yes to every closing question.
constexpr std::array kYes = {IDYES};

// Wall time of the ten drive tests of `brevan test`, one after another on the reference axis's
// motor, each as the command runs it: the setup loaded and brought to agreeing values, a
// simulated axis fed from the motor file's bench, the test's dialog run headless by the
// command's scripted person who answers Yes. Counters: the tests that succeeded and the drive
// time they took; the label names the tests that failed (the reference axis's encoder keeps no
// offset, so its offset test fails by design).
void RunTheTenDriveTests(benchmark::State& state) {
    const auto examples = std::filesystem::path(BREVAN_SOURCE_DIR) / "examples";
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
    CQel_CoffFormat::SetProgramsDirectory(BREVAN_SOURCE_DIR "/drive/programs/images");
    int succeeded = 0;
    double drive_s = 0.0;
    std::string failed;
    for (auto _ : state) {
        succeeded = 0;
        drive_s = 0.0;
        failed.clear();
        for (const DriveTestRow& row : DriveTestRows()) {
            qel::SetupLoadResult loaded = qel::LoadSetupFile(examples / "reference-axis.json",
                                                             {GetScaleFactor, GetScaleOffset});
            if (!loaded.setup) {
                state.SkipWithError("the reference axis does not load");
                return;
            }
            CQel_Setup& setup = *loaded.setup;
            ComputeDriveRegisters(setup);
            DeriveUserParameters(setup);
            std::optional<SimulatedAxis> axis = MakeSimulatedAxis(
                examples / "motors" / "reference-axis-motor.json", setup, std::nullopt);
            if (!axis) {
                state.SkipWithError("the reference axis's motor does not load");
                return;
            }
            const DriveTestRun run =
                RunDriveTestDialog(row, kYes, setup, *axis->drive, *axis->link);
            if (run.record.resultState == 1) {
                ++succeeded;
            } else {
                failed += (failed.empty() ? "failed: " : ", ") + std::string(row.name);
            }
            drive_s += axis->drive->Time_s();
        }
    }
    state.counters["succeeded"] = succeeded;
    state.counters["drive_s"] = drive_s;
    state.SetLabel(failed);
}

// One run of the ten takes seconds: one iteration, timed by the wall clock.
BENCHMARK(RunTheTenDriveTests)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
