#include "engine/ErrorPooling.h"

#include <cmath>

#include "structure/BlockPooling.h"
#include "structure/Morphology.h"

namespace lumetra {

namespace {

// Channel weights of the base band and crown 2: the achromatic difference counts ten times
// and C1 five times as much as C2.
constexpr float kAchromaticWeight = 10.0f;
constexpr float kC1Weight = 5.0f;
// Crowns 2 and 3 weigh ten times crown 4 in the error map.
constexpr float kCrownWeight = 10.0f;
// Orientation pooling: Minkowski exponent 4.5 and the float nearest its reciprocal.
constexpr double kOrientationExponent = 4.5;
constexpr float kOrientationRoot = 0.22222222f;

// Band layout: A base 0, crowns 1-4, 5-10, 11-16; C1 base 17, crown 18-21; C2 base 22, 23-26.
constexpr unsigned kC1Base = 17;
constexpr unsigned kC2Base = 22;
constexpr unsigned kCrown3First = 5;
constexpr unsigned kCrown4First = 11;
constexpr unsigned kCrown3Size = 6;

constexpr int kSet = 255;

float power(float x, double exponent) {
    return static_cast<float>(std::pow(static_cast<double>(x), exponent));
}

}  // namespace

Array<float> pooledError(const Array<float>* reference, const Array<float>* degraded) {
    const std::uint32_t rows = reference[0].rows();
    const std::uint32_t cols = reference[0].cols();
    Array<float> error(rows, cols);
    const std::size_t n = error.size();

    std::array<const float*, kPooledBands> ref{};
    std::array<const float*, kPooledBands> deg{};
    for (unsigned k = 0; k < kPooledBands; ++k) {
        ref[k] = reference[k].data();
        deg[k] = degraded[k].data();
    }
    auto difference = [&](unsigned k, std::size_t i) { return std::fabs(ref[k][i] - deg[k][i]); };
    auto channelPooled = [&](unsigned j, std::size_t i) {
        return kAchromaticWeight * difference(j, i) + kC1Weight * difference(kC1Base + j, i) +
               difference(kC2Base + j, i);
    };

    float* m = error.data();
    for (std::size_t i = 0; i < n; ++i) {
        const float s0 = channelPooled(0, i);
        float crown2 = 0.0f;
        for (unsigned j = 1; j <= 4; ++j)
            crown2 += power(channelPooled(j, i), kOrientationExponent);
        float crown3 = 0.0f;
        for (unsigned k = kCrown3First; k < kCrown3First + kCrown3Size; ++k) {
            crown3 += power(difference(k, i), kOrientationExponent);
        }
        float crown4 = 0.0f;
        for (unsigned k = kCrown4First; k < kCrown4First + kCrown3Size; ++k) {
            crown4 += power(difference(k, i), kOrientationExponent);
        }
        const float e2 = power(crown2, kOrientationRoot);
        const float e3 = power(crown3, kOrientationRoot);
        const float e4 = power(crown4, kOrientationRoot);
        m[i] = s0 + kCrownWeight * e2 + kCrownWeight * e3 + e4;
    }
    return error;
}

Array<float> blockWeight(const Array<float>& error) {
    Array<float> block = blkproc(error);
    if (block.size() == 0) return block;
    float* b = block.data();
    float mx = b[0];
    for (std::size_t i = 1, n = block.size(); i < n; ++i) {
        if (b[i] > mx) mx = b[i];
    }
    if (mx == 0.0f) {
        // No error anywhere: every block weighs 0 rather than 0 / 0.
        return Array<float>(error.rows(), error.cols());
    }
    for (std::size_t i = 0, n = block.size(); i < n; ++i) {
        const float normalised = b[i] / mx;
        b[i] = normalised * normalised;
    }
    return block;
}

Array<int> edgeChanges(const Array<int>& referenceEdges, const Array<int>& degradedEdges) {
    Array<int> changes(degradedEdges.rows(), degradedEdges.cols());
    const int* o = referenceEdges.data();
    const int* d = degradedEdges.data();
    int* x = changes.data();
    for (std::size_t i = 0, n = changes.size(); i < n; ++i) {
        const bool appeared = o[i] == 0 && d[i] == kSet;
        const bool vanished = o[i] == kSet && d[i] == 0;
        x[i] = appeared || vanished ? kSet : 0;
    }
    return changes;
}

Array<float> structureWeight(const Array<int>& changes, float co) {
    Array<int> changed = changes;
    Array<int> horizontal = erode_dilate_h(changed);
    Array<int> vertical = erode_dilate_v(changed);
    Array<int> runs(changes.rows(), changes.cols());
    for (std::size_t i = 0, n = runs.size(); i < n; ++i) {
        runs.data()[i] = horizontal.data()[i] != 0 || vertical.data()[i] != 0 ? kSet : 0;
    }
    const Array<int> zone = dilate_hv(runs) / kSet;

    Array<float> weight(zone.rows(), zone.cols());
    for (std::size_t i = 0, n = weight.size(); i < n; ++i) {
        const int w = zone.data()[i];
        weight.data()[i] = static_cast<float>(w == 0 ? 1 : 0) + static_cast<float>(w) * co;
    }
    return weight;
}

float minkowskiMeasure(const Array<float>& error, const Array<float>& structure,
                       const Array<float>& block, float alpha, float beta) {
    const float* m = error.data();
    const float* r = structure.data();
    const float* b = block.data();
    long double sum = 0.0L;
    for (std::size_t i = 0, n = error.size(); i < n; ++i) {
        const float pixelWeight = r[i] * power(b[i], alpha);
        sum += power(m[i] * pixelWeight, beta);
    }
    const long double count = static_cast<long double>(error.rows()) * error.cols();
    const long double root = 1.0L / static_cast<long double>(beta);
    return static_cast<float>(std::pow(sum / count, root));
}

}  // namespace lumetra
