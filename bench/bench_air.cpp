// What the air figures add to each run of the jet correction: one line of text from three numbers.
#include "air_data.h"

#include <benchmark/benchmark.h>

namespace {

void BM_DescribeAir(benchmark::State& state) {
    air_data::Air air{27.4, 985.3, 65};
    for (auto _ : state) {
        benchmark::DoNotOptimize(air_data::describe(air, ","));
        air.temperature += 1e-9; // no two calls alike
    }
}
BENCHMARK(BM_DescribeAir)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
