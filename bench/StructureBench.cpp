// Timings of the structure stages at a small and a full-HD size: the edge map of three
// opponent planes, the morphology of an edge-change map and the 32 x 32 block pooling.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "image/Array.h"
#include "structure/BlockPooling.h"
#include "structure/Edges.h"
#include "structure/Morphology.h"

namespace lumetra {
namespace {

// A smooth field with a few sharp rectangles and seeded noise, so every stage has work.
Array<float> scenePlane(std::uint32_t rows, std::uint32_t cols, std::uint32_t seed) {
    std::mt19937 engine(seed);
    Array<float> plane(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const float field = 1.0f + 0.001f * static_cast<float>(r + 2 * c);
            const float patch = ((r / 64 + c / 96) % 3 == 0) ? 0.5f : 0.0f;
            const float noise = static_cast<float>(engine() % 1000) * 1.0e-4f;
            plane(r, c) = field + patch + noise;
        }
    }
    return plane;
}

// Sparse two-valued map: short horizontal and vertical strokes of 255.
Array<int> changeMap(std::uint32_t rows, std::uint32_t cols) {
    std::mt19937 engine(7);
    Array<int> map(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) map(r, c) = engine() % 16 < 3 ? 255 : 0;
    }
    return map;
}

void BM_Edges(benchmark::State& state) {
    const auto rows = static_cast<std::uint32_t>(state.range(0));
    const auto cols = static_cast<std::uint32_t>(state.range(1));
    const Array<float> a = scenePlane(rows, cols, 1);
    const Array<float> c1 = scenePlane(rows, cols, 2);
    const Array<float> c2 = scenePlane(rows, cols, 3);
    for (auto _ : state) benchmark::DoNotOptimize(edges(a, c1, c2));
}

void BM_Blkproc(benchmark::State& state) {
    const Array<float> a = scenePlane(static_cast<std::uint32_t>(state.range(0)),
                                      static_cast<std::uint32_t>(state.range(1)), 4);
    for (auto _ : state) benchmark::DoNotOptimize(blkproc(a));
}

// The cleaning the scoring applies: both openings and the dilation.
void BM_Morphology(benchmark::State& state) {
    const Array<int> m = changeMap(static_cast<std::uint32_t>(state.range(0)),
                                   static_cast<std::uint32_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(erode_dilate_h(m));
        benchmark::DoNotOptimize(erode_dilate_v(m));
        benchmark::DoNotOptimize(dilate_hv(m));
    }
}

BENCHMARK(BM_Edges)->Args({512, 512})->Args({1080, 1920})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blkproc)->Args({512, 512})->Args({1080, 1920})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Morphology)->Args({512, 512})->Args({1080, 1920})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumetra

BENCHMARK_MAIN();
