#include "model/DcpFilter.h"

#include "image/Parallel.h"

// Cortex band filter bank.
//
// Glossary:
//   mesa  radial low-pass profile: 1 inside a radius, a raised-cosine fall, 0 outside.
//   ring  (crown) the difference of two mesas: one radial frequency band.
//   fan   angular profile: two opposite lobes, each 1 near its centre direction and
//         falling along a raised cosine; the fans of one crown add up to 1 at every angle.
//   band  ring x fan: one radial crown and orientation of one channel.
//
// Frequencies are in cycles per pixel on a grid with the zero frequency at
// (rows / 2, cols / 2); the radii below are written in cycles per degree and divided by the
// pixels per degree the image is seen at (60 in the standard viewing geometry).  Grid,
// radius, angle and masks are float; the profile comparisons and cosine arguments are
// evaluated in double from those floats, and each profile value is rounded to float once,
// when it is stored.  Each radius is divided in double and rounded to float once, so at 60
// pixels per degree it is the float the fixed radii had.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <utility>
#include <vector>

#include "image/VectorMath.h"
#include "model/BandProfiles.h"

namespace lumetra {
namespace {

constexpr double kPi = std::numbers::pi;

// A radial profile: centre radius and transition width, cycles per degree.
struct MesaEdge {
    double centre;
    double width;
};

constexpr MesaEdge kMesaA1{1.5, 2.6};    // A base, inner edge of crown 2
constexpr MesaEdge kMesaA2{5.7, 4.0};    // crown 2 / crown 3 edge
constexpr MesaEdge kMesaA3{14.4, 8.0};   // crown 3 / crown 4 edge
constexpr MesaEdge kMesaA4{28.8, 15.0};  // outer edge of crown 4
constexpr MesaEdge kMesaC1a{1.5, 2.8};   // C1 base, inner crown edge
constexpr MesaEdge kMesaC1b{5.7, 4.8};   // outer edge of the C1 crown
constexpr MesaEdge kMesaC2a{1.5, 2.95};  // C2 base, inner crown edge
constexpr MesaEdge kMesaC2b{5.7, 5.8};   // outer edge of the C2 crown

// The same profile in cycles per pixel (single precision).
struct MesaShape {
    float centre;
    float width;
};

// A profile at `pixelsPerDegree`: each length divided by it in double and rounded to float
// once.
MesaShape perPixel(const MesaEdge& edge, double pixelsPerDegree) {
    return {static_cast<float>(edge.centre / pixelsPerDegree),
            static_cast<float>(edge.width / pixelsPerDegree)};
}

// A multiple of pi, rounded to float.
constexpr float piTimes(double factor) {
    return static_cast<float>(kPi * factor);
}

// Which angle array a fan reads: the signed angle, or its magnitude for the orientation
// centred on the vertical-frequency axis, where the signed angle jumps from -pi to pi.
enum class AngleSource { Signed, Magnitude };

struct FanOrientation {
    float offset;  // radians; the lobes are centred at -offset -/+ pi/2
    AngleSource source;
};

// Angular profiles of one crown: full lobe width and transition width, radians.
struct FanShape {
    float width;
    float transition;
};

constexpr FanShape kFansA2{piTimes(1.0 / 4.0), piTimes(1.0 / 9.0)};
constexpr FanShape kFansA3{piTimes(1.0 / 6.0), piTimes(1.0 / 18.0)};
constexpr FanShape kFansA4{piTimes(1.0 / 6.0), piTimes(2.0 / 45.0)};
constexpr FanShape kFansChromatic{piTimes(1.0 / 4.0), piTimes(1.0 / 4.0)};

// Orientations of the four-sector crowns (A crown 2, the chromatic crowns).
constexpr std::array<FanOrientation, 4> kFourOrientations{{
    {0.0f, AngleSource::Signed},
    {piTimes(1.0 / 4.0), AngleSource::Signed},
    {piTimes(-1.0 / 2.0), AngleSource::Magnitude},
    {piTimes(-1.0 / 4.0), AngleSource::Signed},
}};

// Orientations of the six-sector crowns (A crowns 3 and 4).
constexpr std::array<FanOrientation, 6> kSixOrientations{{
    {0.0f, AngleSource::Signed},
    {piTimes(1.0 / 6.0), AngleSource::Signed},
    {piTimes(1.0 / 3.0), AngleSource::Signed},
    {piTimes(-1.0 / 2.0), AngleSource::Magnitude},
    {piTimes(-1.0 / 3.0), AngleSource::Signed},
    {piTimes(-1.0 / 6.0), AngleSource::Signed},
}};

// Band numbers of the bank.
constexpr unsigned kABase = 0;
constexpr unsigned kACrown2 = 1;   // 1 .. 4
constexpr unsigned kACrown3 = 5;   // 5 .. 10
constexpr unsigned kACrown4 = 11;  // 11 .. 16
constexpr unsigned kC1Base = 17;
constexpr unsigned kC1Crown = 18;  // 18 .. 21
constexpr unsigned kC2Base = 22;
constexpr unsigned kC2Crown = 23;  // 23 .. 26

constexpr std::array<const char*, DcpFilter::kBandCount> kBandNames{
    "A Base", "A 21",  "A 22",  "A 23",  "A 24",    "A 31",  "A 32",  "A 33",  "A 34",
    "A 35",   "A 36",  "A 41",  "A 42",  "A 43",    "A 44",  "A 45",  "A 46",  "C1 Base",
    "C1 21",  "C1 22", "C1 23", "C1 24", "C2 Base", "C2 21", "C2 22", "C2 23", "C2 24"};

// outer - inner, element by element.
Array<float> difference(const Array<float>& outer, const Array<float>& inner) {
    Array<float> result(outer);
    float* p = result.data();
    const float* q = inner.data();
    for (std::size_t i = 0, n = result.size(); i < n; ++i) p[i] = p[i] - q[i];
    return result;
}

}  // namespace

const char* DcpFilter::name(unsigned i) {
    return kBandNames[i];
}

namespace {

// The whole planes of the reference bank: the plain loops.
void mesa(Array<float>& out, const Array<float>& radius, float a, float b) {
    mesaInto(std::span<float>(out.data(), out.size()),
             std::span<const float>(radius.data(), radius.size()), a, b, VectorWidth::Two);
}

void fan(Array<float>& out, const Array<float>& angle, float a, float b, float c) {
    fanInto(std::span<float>(out.data(), out.size()),
            std::span<const float>(angle.data(), angle.size()), a, b, c, VectorWidth::Two);
}

// The frequency grid (cycles per pixel) of rows x cols with the zero frequency at
// (rows / 2, cols / 2): the radius and the angle of every element, from `pool` when given.
struct PolarGrid {
    Array<float> radius;
    Array<float> angle;
};

PolarGrid polarGrid(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                    const std::shared_ptr<PlanePool>& pool) {
    const std::uint32_t centreRow = rows / 2;
    const std::uint32_t centreCol = cols / 2;
    const float rowStep = 1.0f / static_cast<float>(rows);
    const float colStep = 1.0f / static_cast<float>(cols);
    // Every element of the grid is written below.
    PolarGrid grid{Array<float>(rows, cols, pool, kUninitialised),
                   Array<float>(rows, cols, pool, kUninitialised)};
    parallelFor(rows, workers, [&](std::uint32_t r, unsigned) {
        const float x = (static_cast<float>(r) - static_cast<float>(centreRow)) * rowStep;
        // The angle is the double atan2 of the float coordinates rounded to float, a row of
        // them at a time.
        std::vector<double> ys(cols);
        const std::vector<double> xs(cols, static_cast<double>(x));
        for (std::uint32_t c = 0; c < cols; ++c) {
            const float y = (static_cast<float>(c) - static_cast<float>(centreCol)) * colStep;
            grid.radius(r, c) = std::sqrt(x * x + y * y);
            ys[c] = y;
        }
        float* a = &grid.angle(r, 0);
        atan2ToFloat(ys, xs, std::span<float>(a, cols));
        for (std::uint32_t c = 0; c < cols; ++c) a[c] = -a[c];
    });
    return grid;
}

}  // namespace

DcpFilter::DcpFilter(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                     double pixelsPerDegree)
    : _rows(rows), _cols(cols), _pixelsPerDegree(pixelsPerDegree) {
    for (Array<float>& band : _bands) band = Array<float>(rows, cols);
    if (rows == 0 || cols == 0) return;
    buildMasks(workers, [&](unsigned i, Array<float> mask) { _bands[i] = std::move(mask); });
}

void DcpFilter::forEachMask(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                            const MaskSink& take, double pixelsPerDegree,
                            const std::shared_ptr<PlanePool>& pool) {
    if (rows == 0 || cols == 0) {
        for (unsigned i = 0; i < kBandCount; ++i) take(i, Array<float>(rows, cols));
        return;
    }
    DcpFilter(rows, cols, pixelsPerDegree, ShapeOnly{}).buildMasks(workers, take, pool);
}

void DcpFilter::buildMasks(unsigned workers, const MaskSink& take,
                           const std::shared_ptr<PlanePool>& pool) const {
    const std::uint32_t rows = _rows;
    const std::uint32_t cols = _cols;

    // Frequency grid (cycles per pixel), radius, angle and its magnitude.
    const PolarGrid grid = polarGrid(rows, cols, workers, pool);
    const Array<float>& radius = grid.radius;
    const Array<float>& angle = grid.angle;
    Array<float> absAngle(rows, cols, pool, kUninitialised);
    for (std::size_t i = 0, n = angle.size(); i < n; ++i) {
        absAngle.data()[i] = std::fabs(angle.data()[i]);
    }
    const auto angleOf = [&](AngleSource source) -> const Array<float>& {
        return source == AngleSource::Magnitude ? absAngle : angle;
    };

    // A channel: the four mesas and the crown-2 fans.
    Array<float> mesa1(rows, cols, pool);
    Array<float> mesa2(rows, cols, pool);
    Array<float> mesa3(rows, cols, pool);
    Array<float> mesa4(rows, cols, pool);
    // Profiles written into separate arrays are independent: each group is computed by
    // `workers` threads at once, which changes no value.
    const double ppd = _pixelsPerDegree;
    const std::array<std::pair<Array<float>*, MesaShape>, 4> aMesas = {
        {{&mesa1, perPixel(kMesaA1, ppd)},
         {&mesa2, perPixel(kMesaA2, ppd)},
         {&mesa3, perPixel(kMesaA3, ppd)},
         {&mesa4, perPixel(kMesaA4, ppd)}}};
    parallelFor(4, workers, [&](unsigned m, unsigned) {
        mesa(*aMesas[m].first, radius, aMesas[m].second.centre, aMesas[m].second.width);
    });
    std::array<Array<float>, 4> fourFans;
    parallelFor(4, workers, [&](unsigned j, unsigned) {
        fourFans[j] = Array<float>(rows, cols, pool);
        fan(fourFans[j], angleOf(kFourOrientations[j].source), kFansA2.width, kFansA2.transition,
            kFourOrientations[j].offset);
    });

    // Base and crown 2.
    take(kABase, mesa1);
    const Array<float> ring2 = difference(mesa2, mesa1);
    parallelFor(4, workers, [&](unsigned j, unsigned) { take(kACrown2 + j, ring2 * fourFans[j]); });

    // Crown 3.
    std::array<Array<float>, 6> sixFans;
    parallelFor(6, workers, [&](unsigned j, unsigned) {
        sixFans[j] = Array<float>(rows, cols, pool);
        fan(sixFans[j], angleOf(kSixOrientations[j].source), kFansA3.width, kFansA3.transition,
            kSixOrientations[j].offset);
    });
    const Array<float> ring3 = difference(mesa3, mesa2);
    parallelFor(6, workers, [&](unsigned j, unsigned) { take(kACrown3 + j, ring3 * sixFans[j]); });

    // Crown 4.  Its fans are narrower than crown 3's and are written over them without
    // clearing: in a strip 19 to 20 degrees from each centre the crown-3 value (at most about
    // 0.025) stays, so there the crown-4 masks do not add up to their ring exactly.
    parallelFor(6, workers, [&](unsigned j, unsigned) {
        fan(sixFans[j], angleOf(kSixOrientations[j].source), kFansA4.width, kFansA4.transition,
            kSixOrientations[j].offset);
    });
    const Array<float> ring4 = difference(mesa4, mesa3);
    parallelFor(6, workers, [&](unsigned j, unsigned) { take(kACrown4 + j, ring4 * sixFans[j]); });

    // C1: its mesas and fans reach at least as far as the A ones they overwrite, so the
    // reused temporaries hold nothing of the A channel afterwards.
    // The two mesas and four fans are independent: six jobs shared out to the workers.
    parallelFor(6, workers, [&](unsigned job, unsigned) {
        if (job == 0) {
            const MesaShape inner = perPixel(kMesaC1a, ppd);
            mesa(mesa1, radius, inner.centre, inner.width);
        } else if (job == 1) {
            const MesaShape outer = perPixel(kMesaC1b, ppd);
            mesa(mesa2, radius, outer.centre, outer.width);
        } else {
            const unsigned j = job - 2;
            fan(fourFans[j], angleOf(kFourOrientations[j].source), kFansChromatic.width,
                kFansChromatic.transition, kFourOrientations[j].offset);
        }
    });
    take(kC1Base, mesa1);
    const Array<float> ringC1 = difference(mesa2, mesa1);
    parallelFor(4, workers,
                [&](unsigned j, unsigned) { take(kC1Crown + j, ringC1 * fourFans[j]); });

    // C2, with the chromatic fans made for C1.
    parallelFor(2, workers, [&](unsigned m, unsigned) {
        const MesaShape shape = perPixel(m == 0 ? kMesaC2a : kMesaC2b, ppd);
        mesa(m == 0 ? mesa1 : mesa2, radius, shape.centre, shape.width);
    });
    take(kC2Base, mesa1);
    const Array<float> ringC2 = difference(mesa2, mesa1);
    parallelFor(4, workers,
                [&](unsigned j, unsigned) { take(kC2Crown + j, ringC2 * fourFans[j]); });
}

namespace {

// How one mask is made from the profiles: its outer mesa alone (a base), or the ring between
// its inner and outer mesas times its fans, written one over another into a zero plane.
struct MaskRecipe {
    MesaEdge outer;
    bool ring = false;
    MesaEdge inner{};
    unsigned fanCount = 0;
    std::array<FanShape, 2> fans{};
    FanOrientation orientation{};
};

// The recipe of band k, as buildMasks makes it: crown 4's fans are written over crown 3's (see
// there), and the chromatic mesas and fans reach past the A ones they are written over, so
// theirs are their own profiles alone.
MaskRecipe recipeOf(unsigned k) {
    if (k == kABase) return {kMesaA1};
    if (k < kACrown3) {
        return {kMesaA2, true, kMesaA1, 1, {kFansA2, {}}, kFourOrientations[k - kACrown2]};
    }
    if (k < kACrown4) {
        return {kMesaA3, true, kMesaA2, 1, {kFansA3, {}}, kSixOrientations[k - kACrown3]};
    }
    if (k < kC1Base) {
        return {kMesaA4, true, kMesaA3, 2, {kFansA3, kFansA4}, kSixOrientations[k - kACrown4]};
    }
    if (k == kC1Base) return {kMesaC1a};
    if (k < kC2Base) {
        return {kMesaC1b, true, kMesaC1a, 1, {kFansChromatic, {}}, kFourOrientations[k - kC1Crown]};
    }
    if (k == kC2Base) return {kMesaC2a};
    return {kMesaC2b, true, kMesaC2a, 1, {kFansChromatic, {}}, kFourOrientations[k - kC2Crown]};
}

// The crowns by size, the largest first, so that the small ones fill in at the end: the first
// band of each and its number of orientations.
struct Crown {
    unsigned first;
    unsigned count;
};
constexpr std::array<Crown, 5> kCrownsLargestFirst{
    {{kACrown4, 6}, {kACrown3, 6}, {kC2Crown, 4}, {kC1Crown, 4}, {kACrown2, 4}}};
constexpr std::array<unsigned, 3> kBases{kABase, kC1Base, kC2Base};

// Grid indices 0 .. n-1 whose coordinate (i - n / 2) / n may lie within `reach` of zero:
// [first, last), two indices to spare on each side for the roundings of the float grid.
std::pair<std::uint32_t, std::uint32_t> reachedIndices(std::uint32_t n, double reach) {
    const std::uint32_t centre = n / 2;
    const double steps = std::floor(reach * static_cast<double>(n)) + 2.0;
    const std::uint32_t half = steps >= n ? n : static_cast<std::uint32_t>(steps);
    const std::uint32_t first = centre > half ? centre - half : 0;
    const std::uint32_t last =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(n, std::uint64_t{centre} + half + 1));
    return {first, last};
}

// Rows of a window made at once: the profiles of a strip stay in cache.
constexpr std::uint32_t kStripRows = 8;

// Columns [first, end) of a window's row.
struct Run {
    std::uint32_t first;
    std::uint32_t end;
};

// A base's mesa, or a crown's ring (outer mesa - inner mesa, rounded to float), on the rectangle
// its outer mesa reaches; for a ring also, row by row, runs of columns that hold every value of
// the row that is not zero (runs apart by fewer zeros than kRunGap are joined).
struct ProfileWindow {
    DcpFilter::Window window;
    std::vector<std::vector<Run>> runs;
};

constexpr std::uint32_t kRunGap = 16;

// The runs of columns of `row` (n values) that hold its values that are not zero.
std::vector<Run> nonZeroRuns(const float* row, std::uint32_t n) {
    std::vector<Run> runs;
    for (std::uint32_t j = 0; j < n; ++j) {
        if (row[j] == 0.0f) continue;
        if (!runs.empty() && j - runs.back().end < kRunGap) {
            runs.back().end = j + 1;
        } else {
            runs.push_back({j, j + 1});
        }
    }
    return runs;
}

// The mesa or ring of `recipe` on its window, strip by strip (`workers` threads share the
// strips): the same profiles and differences as buildMasks takes on whole planes, element by
// element.
ProfileWindow profileWindow(const MaskRecipe& recipe, const PolarGrid& grid, double pixelsPerDegree,
                            unsigned workers, VectorWidth lanes,
                            const std::shared_ptr<PlanePool>& pool) {
    const MesaShape outer = perPixel(recipe.outer, pixelsPerDegree);
    const MesaShape inner = perPixel(recipe.inner, pixelsPerDegree);
    // Nothing lies at or beyond the outer mesa's end, a + b / 2.
    const double reach = static_cast<double>(outer.centre) + static_cast<double>(outer.width) / 2.0;
    // Plain variables, not bindings: the strips' lambda below takes them.
    const std::pair<std::uint32_t, std::uint32_t> rowRange =
        reachedIndices(grid.radius.rows(), reach);
    const std::pair<std::uint32_t, std::uint32_t> colRange =
        reachedIndices(grid.radius.cols(), reach);
    const std::uint32_t r0 = rowRange.first;
    const std::uint32_t r1 = rowRange.second;
    const std::uint32_t c0 = colRange.first;
    const std::uint32_t width = colRange.second - c0;
    // Every element of the window is written below.
    ProfileWindow profile{{r0, c0, Array<float>(r1 - r0, width, pool, kUninitialised)}, {}};
    if (recipe.ring) profile.runs.resize(r1 - r0);
    const unsigned strips = (r1 - r0 + kStripRows - 1) / kStripRows;
    parallelFor(strips, workers, [&](unsigned strip, unsigned) {
        const std::uint32_t s = r0 + strip * kStripRows;
        const std::uint32_t height = std::min(kStripRows, r1 - s);
        const std::size_t n = std::size_t{height} * width;
        std::vector<float> rho(n);
        for (std::uint32_t i = 0; i < height; ++i) {
            std::copy_n(&grid.radius(s + i, c0), width, &rho[std::size_t{i} * width]);
        }
        float* out = &profile.window.values(s - r0, 0);
        std::vector<float> outerMesa(n, 0.0f);
        mesaInto(outerMesa, rho, outer.centre, outer.width, lanes);
        if (!recipe.ring) {
            std::copy_n(outerMesa.data(), n, out);
            return;
        }
        std::vector<float> innerMesa(n, 0.0f);
        mesaInto(innerMesa, rho, inner.centre, inner.width, lanes);
        for (std::size_t i = 0; i < n; ++i) out[i] = outerMesa[i] - innerMesa[i];
        for (std::uint32_t i = 0; i < height; ++i) {
            profile.runs[s - r0 + i] = nonZeroRuns(out + std::size_t{i} * width, width);
        }
    });
    return profile;
}

// Band `recipe` of the crown whose ring is `ring`: the ring times the band's fans, row by row.
// The fans (0 where none reaches, else in [0, 1]) are finite and not negative, so where the
// ring is zero (inside the inner mesa's flat top, beyond the outer mesa's reach) the product is
// that zero times 0, whatever the fan: the fans are made on the ring's runs only (every profile
// is made element by element, so a run's fans are the whole plane's there).
DcpFilter::Window orientedMask(const ProfileWindow& ring, const MaskRecipe& recipe,
                               const PolarGrid& grid, VectorWidth lanes,
                               const std::shared_ptr<PlanePool>& pool) {
    const Array<float>& values = ring.window.values;
    const std::uint32_t width = values.cols();
    // Every element of the window is written below.
    DcpFilter::Window window{ring.window.row0, ring.window.col0,
                             Array<float>(values.rows(), width, pool, kUninitialised)};
    std::vector<float> angle(width);
    std::vector<float> fans(width);
    const bool magnitude = recipe.orientation.source == AngleSource::Magnitude;
    for (std::uint32_t i = 0; i < values.rows(); ++i) {
        const float* ringRow = &values(i, 0);
        float* out = &window.values(i, 0);
        for (std::uint32_t j = 0; j < width; ++j) out[j] = ringRow[j] * 0.0f;
        const float* t = &grid.angle(ring.window.row0 + i, ring.window.col0);
        for (const Run& run : ring.runs[i]) {
            const std::size_t n = run.end - run.first;
            const float* runAngle = t + run.first;
            if (magnitude) {
                for (std::size_t j = 0; j < n; ++j) angle[j] = std::fabs(runAngle[j]);
            } else {
                std::copy_n(runAngle, n, angle.data());
            }
            std::fill_n(fans.data(), n, 0.0f);
            for (unsigned f = 0; f < recipe.fanCount; ++f) {
                fanInto(std::span<float>(fans.data(), n), std::span<const float>(angle.data(), n),
                        recipe.fans[f].width, recipe.fans[f].transition, recipe.orientation.offset,
                        lanes);
            }
            const float* runRing = ringRow + run.first;
            float* runOut = out + run.first;
            for (std::size_t j = 0; j < n; ++j) runOut[j] = runRing[j] * fans[j];
        }
    }
    return window;
}

}  // namespace

void DcpFilter::forEachMaskWindow(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                                  const WindowSink& take, double pixelsPerDegree,
                                  const std::shared_ptr<PlanePool>& pool) {
    const PolarGrid grid = polarGrid(rows, cols, workers, pool);
    // The loops of the profiles as wide as the processor runs (the reference bank's are plain).
    const VectorWidth lanes = widestVectorWidth();
    // Crown by crown: its ring, made once, then its orientations.
    for (const Crown& crown : kCrownsLargestFirst) {
        const ProfileWindow ring =
            profileWindow(recipeOf(crown.first), grid, pixelsPerDegree, workers, lanes, pool);
        parallelFor(crown.count, workers, [&](unsigned j, unsigned) {
            const unsigned k = crown.first + j;
            take(k, orientedMask(ring, recipeOf(k), grid, lanes, pool));
        });
    }
    parallelFor(static_cast<unsigned>(kBases.size()), workers, [&](unsigned job, unsigned) {
        const unsigned k = kBases[job];
        take(k, profileWindow(recipeOf(k), grid, pixelsPerDegree, 1, lanes, pool).window);
    });
}

std::ostream& operator<<(std::ostream& out, const DcpFilter& dcp) {
    for (unsigned i = 0; i < DcpFilter::kBandCount; ++i) {
        out << DcpFilter::name(i) << std::endl << dcp[i] << std::endl;
    }
    return out;
}

}  // namespace lumetra
