// Building the visual model filters and the masking thresholds at a typical test-image size
// (512 x 512) and at full HD (1920 x 1080, given as rows x cols = 1080 x 1920).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <span>

#include "image/Array.h"
#include "model/CsfFilter.h"
#include "model/DcpFilter.h"
#include "model/InterATresholdBuilder.h"
#include "model/InterBTresholdBuilder.h"
#include "model/IntraATresholdBuilder.h"
#include "model/IntraCTresholdBuilder.h"

namespace lumetra {
namespace {

// A band-like plane: seeded noise in [-2, 2), scaled from the generator's raw 32 bits.
Array<float> randomPlane(std::uint32_t rows, std::uint32_t cols) {
    constexpr float kHalfRange = 2.0f;
    constexpr float kRawToUnit = 1.0f / 4294967296.0f;  // 2^-32
    std::mt19937 generator(20240611u);
    Array<float> plane(rows, cols);
    for (std::size_t i = 0; i < plane.size(); ++i) {
        plane.data()[i] = (static_cast<float>(generator()) * kRawToUnit * 2.0f - 1.0f) * kHalfRange;
    }
    return plane;
}

void applySizes(benchmark::internal::Benchmark* b) {
    b->Args({512, 512})->Args({1080, 1920})->Unit(benchmark::kMillisecond);
}

std::uint32_t rowsOf(const benchmark::State& state) {
    return static_cast<std::uint32_t>(state.range(0));
}
std::uint32_t colsOf(const benchmark::State& state) {
    return static_cast<std::uint32_t>(state.range(1));
}

void BM_CsfFilter(benchmark::State& state) {
    for (auto _ : state) {
        CsfFilter csf(rowsOf(state), colsOf(state));
        benchmark::DoNotOptimize(csf.A().data());
    }
}
BENCHMARK(BM_CsfFilter)->Apply(applySizes);

// The plain cell-by-cell evaluation, side by side with the one above.
void BM_CsfFilterPlain(benchmark::State& state) {
    for (auto _ : state) {
        CsfFilter csf = CsfFilter::plain(rowsOf(state), colsOf(state));
        benchmark::DoNotOptimize(csf.A().data());
    }
}
BENCHMARK(BM_CsfFilterPlain)->Apply(applySizes);

void BM_DcpFilter(benchmark::State& state) {
    for (auto _ : state) {
        DcpFilter dcp(rowsOf(state), colsOf(state));
        benchmark::DoNotOptimize(dcp[0].data());
    }
}
BENCHMARK(BM_DcpFilter)->Apply(applySizes);

// The masks as the engine builds them: each only on the window its outer mesa reaches, one
// thread.
void BM_DcpFilterWindows(benchmark::State& state) {
    for (auto _ : state) {
        DcpFilter::forEachMaskWindow(rowsOf(state), colsOf(state), 1,
                                     [](unsigned, DcpFilter::Window window) {
                                         benchmark::DoNotOptimize(window.values.data());
                                     });
    }
}
BENCHMARK(BM_DcpFilterWindows)->Apply(applySizes);

// The engine's coefficients for crowns 3 and 4 and for the C1 crown.
void BM_IntraATresholdBuilder(benchmark::State& state) {
    const Array<float> band = randomPlane(rowsOf(state), colsOf(state));
    const IntraATresholdBuilder build;
    for (auto _ : state) benchmark::DoNotOptimize(build(band, 0.85f).data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(band.size()));
}
BENCHMARK(BM_IntraATresholdBuilder)->Apply(applySizes);

void BM_IntraCTresholdBuilder(benchmark::State& state) {
    const Array<float> band = randomPlane(rowsOf(state), colsOf(state));
    const IntraCTresholdBuilder build;
    for (auto _ : state) benchmark::DoNotOptimize(build(band, 0.48f, 0.03f, 0.82f).data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(band.size()));
}
BENCHMARK(BM_IntraCTresholdBuilder)->Apply(applySizes);

void BM_InterATresholdBuilder(benchmark::State& state) {
    const Array<float> band = randomPlane(rowsOf(state), colsOf(state));
    const InterATresholdBuilder build;
    for (auto _ : state) benchmark::DoNotOptimize(build(band, -0.287f, 0.053f, 0.241f).data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(band.size()));
}
BENCHMARK(BM_InterATresholdBuilder)->Apply(applySizes);

void BM_InterBTresholdBuilder(benchmark::State& state) {
    const Array<float> band = randomPlane(rowsOf(state), colsOf(state));
    const InterBTresholdBuilder build;
    for (auto _ : state) benchmark::DoNotOptimize(build(band, 1.16f, 0.16f, 0.048f).data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(band.size()));
}
BENCHMARK(BM_InterBTresholdBuilder)->Apply(applySizes);

// The same factors in place, the exponentials several at a time: the masking's path.
void BM_InterBTresholdBuilderInPlace(benchmark::State& state) {
    const Array<float> band = randomPlane(rowsOf(state), colsOf(state));
    for (auto _ : state) {
        Array<float> factor = band;
        InterBTresholdBuilder::applyInPlace(std::span<float>(factor.data(), factor.size()), 1.16f,
                                            0.16f, 0.048f);
        benchmark::DoNotOptimize(factor.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(band.size()));
}
BENCHMARK(BM_InterBTresholdBuilderInPlace)->Apply(applySizes);

}  // namespace
}  // namespace lumetra

BENCHMARK_MAIN();
