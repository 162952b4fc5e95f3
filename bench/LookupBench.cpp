#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "host/kernel/Setup.h"
#include "host/kernel/Units.h"

namespace {

// A setup of the given size: the look-up must cost the same whatever the number of parameters.
void FindParameterByName(benchmark::State& state) {
    CQel_Setup setup;
    const auto count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i) {
        qel::ParameterDefinition definition;
        definition.name = "Parameter_" + std::to_string(i);
        definition.family = qel::FindUnitFamily("number");
        definition.max = 1.0;
        setup.AddParameter(definition);
    }
    // Asked in another letter case than stored, as callers often do.
    const std::string wanted = "PARAMETER_" + std::to_string(count / 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.FindParameter(wanted));
    }
}
BENCHMARK(FindParameterByName)->RangeMultiplier(10)->Range(10, 100000);

}  // namespace
