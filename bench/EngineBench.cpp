#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "engine/RegisterComputation.h"
#include "host/kernel/SetupFile.h"
#include "module/Exports.h"

namespace {

std::unique_ptr<CQel_Setup> LoadReferenceAxis() {
    const auto path = std::filesystem::path(BREVAN_SOURCE_DIR) / "examples" / "reference-axis.json";
    qel::SetupLoadResult loaded = qel::LoadSetupFile(path, {GetScaleFactor, GetScaleOffset});
    if (!loaded.setup) {
        std::fputs(qel::DescribeProblems(path, loaded.problems).c_str(), stderr);
    }
    return std::move(loaded.setup);
}

// Everything the host recomputes when it loads a setup: user parameters, limits, options and
// unit families, on the reference axis with every optional feature.
void ComputeAllOptionsOnReferenceAxis(benchmark::State& state) {
    const auto setup = LoadReferenceAxis();
    if (!setup) {
        state.SkipWithError("the reference axis does not load");
        return;
    }
    for (auto _ : state) {
        ComputeAllOptions(setup.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ComputeAllOptionsOnReferenceAxis)->Unit(benchmark::kMicrosecond);

// Every register from the user parameters, biquad design included.
void ComputeDriveRegistersOnReferenceAxis(benchmark::State& state) {
    const auto setup = LoadReferenceAxis();
    if (!setup) {
        state.SkipWithError("the reference axis does not load");
        return;
    }
    for (auto _ : state) {
        ComputeDriveRegisters(*setup);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ComputeDriveRegistersOnReferenceAxis)->Unit(benchmark::kMicrosecond);

}  // namespace
