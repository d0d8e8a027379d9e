// Engine figures: construction (filters, the original's decomposition and edges) and the time
// to score one degraded image, on synthetic images of common sizes.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "engine/Explanation.h"
#include "engine/Lumetra2.h"

namespace lumetra {
namespace {

// A smooth colour gradient with texture; the degraded copy adds seeded noise to it.
RgbImage syntheticImage(std::uint32_t rows, std::uint32_t cols, unsigned noiseSeed) {
    Array<unsigned> r(rows, cols), g(rows, cols), b(rows, cols);
    std::mt19937 noise(noiseSeed);
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < cols; ++x) {
            const unsigned jitter = noiseSeed == 0 ? 0u : noise() % 9u;
            r(y, x) = (x * 255u / cols + ((x / 7 + y / 5) % 3) * 20u + jitter) % 256u;
            g(y, x) = (y * 255u / rows + jitter) % 256u;
            b(y, x) = ((x + y) * 127u / (rows + cols) + 64u + jitter) % 256u;
        }
    }
    return RgbImage(r, g, b);
}

Lumetra2 defaultEngine(const RgbImage& original) {
    return Lumetra2(original, 1.0f, 4.0f, 5.0f, 0.000751f, 3.8f, true, false, true, false, true,
                    false);
}

void BM_EngineConstruction(benchmark::State& state) {
    const RgbImage original = syntheticImage(state.range(0), state.range(1), 0);
    for (auto _ : state) {
        Lumetra2 engine = defaultEngine(original);
        benchmark::DoNotOptimize(engine);
    }
}

void BM_ScoreOneImage(benchmark::State& state) {
    const RgbImage original = syntheticImage(state.range(0), state.range(1), 0);
    const RgbImage degraded = syntheticImage(state.range(0), state.range(1), 1);
    const Lumetra2 engine = defaultEngine(original);
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine(degraded).mobj());
    }
}

// The same scoring through compare(), and through explain(), which keeps the degraded bands,
// pools them once per channel and makes the explanation's maps and numbers: what --explain
// costs, against a plain run that pays nothing for it.
void BM_CompareOneImage(benchmark::State& state) {
    const RgbImage original = syntheticImage(state.range(0), state.range(1), 0);
    const RgbImage degraded = syntheticImage(state.range(0), state.range(1), 1);
    const Lumetra2 engine = defaultEngine(original);
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.compare(degraded).mobj());
    }
}

void BM_ExplainOneImage(benchmark::State& state) {
    const RgbImage original = syntheticImage(state.range(0), state.range(1), 0);
    const RgbImage degraded = syntheticImage(state.range(0), state.range(1), 1);
    const Lumetra2 engine = defaultEngine(original);
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.explain(degraded).numbers.structureShare);
    }
}

// rows, cols
BENCHMARK(BM_CompareOneImage)->Args({512, 512})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExplainOneImage)->Args({512, 512})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineConstruction)
    ->Args({512, 512})
    ->Args({1080, 1920})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScoreOneImage)->Args({512, 512})->Args({1080, 1920})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumetra

BENCHMARK_MAIN();
