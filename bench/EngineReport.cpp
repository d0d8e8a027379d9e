// Engine figures for one image size, printed as one line: how long the engine takes to build,
// how long it then takes to score one degraded image, how long the 30 transforms that scoring
// cannot avoid take on the same threads (the floor), and the process's peak memory per pixel.
// Peak memory belongs to the whole process, so each size runs in a process of its own
// (bench/report runs the sizes one after the other).
//
//   EngineReport ROWS COLS [--threads N] [--repeat K] [--low-memory]
//   EngineReport ROWS COLS --write-pair DIR    writes DIR/original.ppm and DIR/degraded.ppm
//
// --low-memory builds the engine in low-memory mode (ExecutionOptions::lowMemory).  The peak
// includes the two test images the program holds throughout (RgbImage: 12 bytes per pixel
// each).
//
// The images are synthetic and the same on every run: smooth colour gradients, gratings whose
// strength varies across the picture (busy regions mask, flat ones do not), discs with sharp
// rims (edges for the structure weight) and grain; the degraded copy is blocky and blurred on
// its left half and noisier everywhere.

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/Lumetra2.h"
#include "fft/fftw++.h"
#include "image/AccImage.h"
#include "image/Error.h"

namespace lumetra {
namespace {

// Transforms per scored image: one forward per channel, one inverse per band.
constexpr unsigned kForwardTransforms = 3;
constexpr unsigned kInverseTransforms = kBandCount;

constexpr unsigned kDefaultRepeat = 5;
constexpr double kMaxSample = 255.0;

// Picture content, in 8-bit sample units and pixels.
constexpr double kGrainAmplitude = 3.0;       // original's grain, +- samples
constexpr double kExtraNoiseAmplitude = 8.0;  // degraded copy's added noise, +- samples
constexpr double kGratingAmplitude = 28.0;    // strongest grating contrast, samples
constexpr double kDiscLift = 45.0;            // brightness step at a disc's rim, samples
constexpr std::uint32_t kDiscTile = 96;       // one disc per kDiscTile x kDiscTile tile
constexpr double kDiscRadius = 30.0;          // pixels
constexpr std::uint32_t kBlock = 8;           // the degraded copy's block size
constexpr double kBlockMeanWeight = 0.6;      // share of the block mean in a blocky pixel
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Parameters the command line and the desktop window start with.
constexpr float kAlpha = 1.0f;
constexpr float kBeta = 4.0f;
constexpr float kCo = 5.0f;
constexpr float kSlope = 0.000751f;
constexpr float kOffset = 3.8f;

// A uniform number in [-1, 1) from the generator's raw 32-bit output.
double signedUniform(std::mt19937& random) {
    constexpr double kRange = 4294967296.0;  // 2^32 raw values
    return 2.0 * (static_cast<double>(random()) / kRange) - 1.0;
}

unsigned toSample(double value) {
    return static_cast<unsigned>(std::lround(std::clamp(value, 0.0, kMaxSample)));
}

// The clean picture's three channels at one pixel, before grain.
std::array<double, 3> pictureAt(std::uint32_t y, std::uint32_t x, std::uint32_t rows,
                                std::uint32_t cols) {
    const double u = static_cast<double>(x) / cols;
    const double v = static_cast<double>(y) / rows;
    // Slow shading shared by the channels, and where the gratings are strong.
    const double shading = 30.0 * std::sin(kTwoPi * (1.5 * u + 0.7 * v));
    const double busy = 0.5 + 0.5 * std::sin(kTwoPi * 2.0 * u) * std::cos(kTwoPi * 1.5 * v);
    // Gratings of periods about 5, 11 and 29 pixels in three orientations.
    const double texture =
        kGratingAmplitude * busy *
        (0.5 * std::sin(kTwoPi * (x * 0.17 + y * 0.09)) +
         0.3 * std::sin(kTwoPi * (x * -0.04 + y * 0.08)) + 0.2 * std::sin(kTwoPi * x / 29.0));
    const double dx = static_cast<double>(x % kDiscTile) - kDiscTile / 2.0;
    const double dy = static_cast<double>(y % kDiscTile) - kDiscTile / 2.0;
    const double disc = dx * dx + dy * dy < kDiscRadius * kDiscRadius ? kDiscLift : 0.0;
    return {60.0 + 140.0 * u + shading + texture + disc,
            50.0 + 150.0 * v + shading + 0.6 * texture - 0.5 * disc,
            190.0 - 60.0 * (u + v) - 0.5 * shading + 0.3 * texture + 0.3 * disc};
}

RgbImage syntheticOriginal(std::uint32_t rows, std::uint32_t cols) {
    constexpr unsigned kGrainSeed = 20240601;
    std::mt19937 random(kGrainSeed);
    std::array<Array<unsigned>, 3> planes{Array<unsigned>(rows, cols), Array<unsigned>(rows, cols),
                                          Array<unsigned>(rows, cols)};
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < cols; ++x) {
            const std::array<double, 3> clean = pictureAt(y, x, rows, cols);
            const double grain = kGrainAmplitude * signedUniform(random);
            for (unsigned c = 0; c < 3; ++c) planes[c](y, x) = toSample(clean[c] + grain);
        }
    }
    return RgbImage(std::move(planes[0]), std::move(planes[1]), std::move(planes[2]));
}

// The original pulled towards its 8 x 8 block means on the left half (blocking and blur, as a
// coarse block coder leaves), plus noise everywhere.
RgbImage syntheticDegraded(const RgbImage& original) {
    constexpr unsigned kNoiseSeed = 7;
    const std::uint32_t rows = original.rows();
    const std::uint32_t cols = original.cols();
    std::mt19937 random(kNoiseSeed);
    const std::array<const Array<unsigned>*, 3> source{&original.R(), &original.G(), &original.B()};
    std::array<Array<unsigned>, 3> planes{Array<unsigned>(rows, cols), Array<unsigned>(rows, cols),
                                          Array<unsigned>(rows, cols)};
    auto blockMean = [&](const Array<unsigned>& plane, std::uint32_t y, std::uint32_t x) {
        const std::uint32_t y0 = y - y % kBlock;
        const std::uint32_t x0 = x - x % kBlock;
        const std::uint32_t y1 = std::min(rows, y0 + kBlock);
        const std::uint32_t x1 = std::min(cols, x0 + kBlock);
        double sum = 0.0;
        for (std::uint32_t by = y0; by < y1; ++by) {
            for (std::uint32_t bx = x0; bx < x1; ++bx) sum += plane(by, bx);
        }
        return sum / ((y1 - y0) * (x1 - x0));
    };
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < cols; ++x) {
            const double noise = kExtraNoiseAmplitude * signedUniform(random);
            for (unsigned c = 0; c < 3; ++c) {
                const Array<unsigned>& plane = *source[c];
                double value = plane(y, x);
                if (x < cols / 2) {
                    value += kBlockMeanWeight * (blockMean(plane, y, x) - value);
                }
                planes[c](y, x) = toSample(value + noise);
            }
        }
    }
    return RgbImage(std::move(planes[0]), std::move(planes[1]), std::move(planes[2]));
}

// Writes a binary 8-bit pixmap.  Returns false when the file cannot be written.
bool writePpm(const std::string& path, const RgbImage& image) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.cols() << ' ' << image.rows() << "\n255\n";
    std::vector<char> row(std::size_t{3} * image.cols());
    for (std::uint32_t y = 0; y < image.rows(); ++y) {
        for (std::uint32_t x = 0; x < image.cols(); ++x) {
            row[3 * x] = static_cast<char>(image.R()(y, x));
            row[3 * x + 1] = static_cast<char>(image.G()(y, x));
            row[3 * x + 2] = static_cast<char>(image.B()(y, x));
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    out.close();
    return static_cast<bool>(out);
}

// Threads used when the command line asks for 0, as the engine counts them: every core.
unsigned everyCore() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// Runs fn(index, worker) for index 0 .. count-1 on `workers` threads (the caller is worker 0),
// each taking the next index as soon as it is free, the way the engine shares out its bands.
template <typename Fn>
void shareOut(unsigned count, unsigned workers, Fn&& fn) {
    std::atomic<unsigned> next{0};
    auto work = [&](unsigned worker) {
        for (unsigned i = next++; i < count; i = next++) fn(i, worker);
    };
    std::vector<std::thread> helpers;
    for (unsigned w = 1; w < workers; ++w) helpers.emplace_back(work, w);
    work(0);
    for (std::thread& t : helpers) t.join();
}

template <typename Fn>
double millisecondsOf(Fn&& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(stop - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Peak resident memory of this process so far, in bytes (Linux reports kilobytes).
double peakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    constexpr double kBytesPerKilobyte = 1024.0;
    return static_cast<double>(usage.ru_maxrss) * kBytesPerKilobyte;
}

// Lets the kernel's count of the peak resident memory (VmHWM) start again from the present
// (Linux 4.0 on); false when it cannot.
bool restartPeakCount() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return static_cast<bool>(clear);
}

// VmHWM of /proc/self/status in bytes, 0 when it cannot be read.
double peakSinceRestartBytes() {
    std::ifstream status("/proc/self/status");
    std::string name;
    double kilobytes = 0.0;
    while (status >> name) {
        if (name == "VmHWM:") {
            status >> kilobytes;
            return kilobytes * 1024.0;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0.0;
}

struct Figures {
    double constructionMs;
    double imageMs;
    double floorMs;
    double buildPeakBytesPerPixel;  // the peak once the engine is built, before any scoring
    double peakBytesPerPixel;
    // The peak while scoring, the engine and the two images included (0: not known).
    double scorePeakBytesPerPixel;
    float measure;
};

// FFTW's own two-dimensional real transforms of one size, planned once (FFTW_ESTIMATE, as the
// engine plans), with a buffer pair per thread: the bare transforms, none of the engine's.
class BareTransforms {
  public:
    BareTransforms(std::uint32_t rows, std::uint32_t cols, unsigned threads)
        : _rows(static_cast<int>(rows)), _cols(static_cast<int>(cols)) {
        const std::size_t real = static_cast<std::size_t>(rows) * cols;
        const std::size_t half = static_cast<std::size_t>(rows) * (cols / 2 + 1);
        for (unsigned w = 0; w < threads; ++w) {
            _real.emplace_back(static_cast<double*>(fftw_malloc(real * sizeof(double))));
            _half.emplace_back(
                static_cast<fftw_complex*>(fftw_malloc(half * sizeof(fftw_complex))));
            if (!_real.back() || !_half.back()) throw FftError("Memory limits exceeded");
            std::fill_n(_real.back().get(), real, 1.0);
            std::fill_n(reinterpret_cast<double*>(_half.back().get()), 2 * half, 1.0);
        }
        const auto lock = lockFftwPlanner();
        _forward =
            fftw_plan_dft_r2c_2d(_rows, _cols, _real[0].get(), _half[0].get(), FFTW_ESTIMATE);
        _inverse =
            fftw_plan_dft_c2r_2d(_rows, _cols, _half[0].get(), _real[0].get(), FFTW_ESTIMATE);
        if (_forward == nullptr || _inverse == nullptr)
            throw FftError("Unable to construct FFTW plan");
    }
    ~BareTransforms() {
        const auto lock = lockFftwPlanner();
        if (_forward != nullptr) fftw_destroy_plan(_forward);
        if (_inverse != nullptr) fftw_destroy_plan(_inverse);
    }
    BareTransforms(const BareTransforms&) = delete;
    BareTransforms& operator=(const BareTransforms&) = delete;

    void forward(unsigned w) { fftw_execute_dft_r2c(_forward, _real[w].get(), _half[w].get()); }
    void inverse(unsigned w) { fftw_execute_dft_c2r(_inverse, _half[w].get(), _real[w].get()); }

  private:
    struct Free {
        void operator()(void* p) const { fftw_free(p); }
    };
    int _rows;
    int _cols;
    std::vector<std::unique_ptr<double, Free>> _real;
    std::vector<std::unique_ptr<fftw_complex, Free>> _half;
    fftw_plan _forward = nullptr;
    fftw_plan _inverse = nullptr;
};

// The transforms one scored image needs, with nothing else: the three channels' forward
// transforms one after the other, then the 27 inverses shared over `threads` threads, each
// with its own buffers.  A complex-to-real transform overwrites its input, so each inverse
// runs on what the previous one left.  The running time does not depend on the values: they
// only grow, so no slow subnormal numbers arise, and infinities cost nothing extra.
double transformFloorMs(std::uint32_t rows, std::uint32_t cols, unsigned threads, unsigned repeat) {
    const unsigned workers = std::max(1u, std::min(threads, kInverseTransforms));
    BareTransforms fft(rows, cols, workers);
    auto once = [&] {
        for (unsigned c = 0; c < kForwardTransforms; ++c) fft.forward(0);
        shareOut(kInverseTransforms, workers, [&](unsigned, unsigned w) { fft.inverse(w); });
    };
    once();  // first touch of every buffer
    std::vector<double> times;
    for (unsigned i = 0; i < repeat; ++i) times.push_back(millisecondsOf(once));
    return median(times);
}

Figures measure(std::uint32_t rows, std::uint32_t cols, unsigned threads, unsigned repeat,
                bool lowMemory) {
    const RgbImage original = syntheticOriginal(rows, cols);
    const RgbImage degraded = syntheticDegraded(original);
    Figures figures{};

    std::optional<Lumetra2> engine;
    std::vector<double> times;
    for (unsigned i = 0; i < repeat; ++i) {
        engine.reset();  // never two engines at once: they would inflate the peak
        times.push_back(millisecondsOf([&] {
            engine.emplace(original, Parameters{kAlpha, kBeta, kCo, LinearMapping{kSlope, kOffset}},
                           ExecutionOptions{threads, nullptr, lowMemory});
        }));
    }
    figures.constructionMs = median(times);
    const double pixels = static_cast<double>(rows) * cols;
    figures.buildPeakBytesPerPixel = peakResidentBytes() / pixels;

    times.clear();
    const bool peakRestarted = restartPeakCount();
    for (unsigned i = 0; i < repeat; ++i) {
        times.push_back(millisecondsOf([&] { figures.measure = (*engine)(degraded).mobj(); }));
    }
    figures.imageMs = median(times);
    // The engine's peak, taken before the floor's buffers exist.
    figures.peakBytesPerPixel = peakResidentBytes() / pixels;
    figures.scorePeakBytesPerPixel = peakRestarted ? peakSinceRestartBytes() / pixels : 0.0;
    engine.reset();

    figures.floorMs = transformFloorMs(rows, cols, threads, repeat);
    return figures;
}

void printUsage(std::ostream& out) {
    out << "Usage: EngineReport ROWS COLS [--threads N] [--repeat K] [--low-memory]\n"
           "       EngineReport ROWS COLS --write-pair DIR\n"
           "Prints one line: size, threads, engine construction (ms), time to score one\n"
           "degraded image (ms), the 30-transform floor (ms), their ratio and the peak\n"
           "resident memory per pixel (bytes).  Times are medians of K runs (default "
        << kDefaultRepeat
        << ").\n"
           "--threads 0 (the default) uses every core.  --low-memory builds the engine in\n"
           "low-memory mode.  --write-pair writes the synthetic pair as DIR/original.ppm\n"
           "and DIR/degraded.ppm instead.\n";
}

// A whole non-negative decimal number, or nothing.
std::optional<unsigned long> parseCount(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(),
                                     [](unsigned char ch) { return std::isdigit(ch) != 0; })) {
        return std::nullopt;
    }
    try {
        return std::stoul(text);
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

}  // namespace
}  // namespace lumetra

int main(int argc, char** argv) {
    using namespace lumetra;
    constexpr int kExitFailure = 1;
    constexpr int kExitUsage = 2;
    constexpr unsigned long kMaxSide = 1u << 15;

    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        printUsage(std::cout);
        return 0;
    }
    if (args.size() < 2) {
        printUsage(std::cerr);
        return kExitUsage;
    }
    const auto rows = parseCount(args[0]);
    const auto cols = parseCount(args[1]);
    if (!rows || !cols || *rows < kMinImageSide || *cols < kMinImageSide || *rows > kMaxSide ||
        *cols > kMaxSide) {
        std::cerr << "EngineReport: ROWS and COLS must be whole numbers from " << kMinImageSide
                  << " to " << kMaxSide << '\n';
        return kExitUsage;
    }
    unsigned long threads = 0;
    unsigned long repeat = kDefaultRepeat;
    std::optional<std::string> pairDir;
    bool lowMemory = false;
    for (std::size_t i = 2; i < args.size(); i += 2) {
        if (args[i] == "--low-memory") {
            lowMemory = true;
            --i;  // a flag without a value
            continue;
        }
        if (i + 1 >= args.size()) {
            std::cerr << "EngineReport: " << args[i] << " needs a value\n";
            return kExitUsage;
        }
        const std::string& value = args[i + 1];
        if (args[i] == "--write-pair") {
            pairDir = value;
            continue;
        }
        const auto count = parseCount(value);
        if (args[i] == "--threads" && count && *count <= kMaxSide) {
            threads = *count;
        } else if (args[i] == "--repeat" && count && *count >= 1 && *count <= kMaxSide) {
            repeat = *count;
        } else {
            std::cerr << "EngineReport: cannot use \"" << args[i] << ' ' << value << "\"\n";
            printUsage(std::cerr);
            return kExitUsage;
        }
    }

    const auto r = static_cast<std::uint32_t>(*rows);
    const auto c = static_cast<std::uint32_t>(*cols);
    try {
        if (pairDir) {
            const RgbImage original = syntheticOriginal(r, c);
            if (!writePpm(*pairDir + "/original.ppm", original) ||
                !writePpm(*pairDir + "/degraded.ppm", syntheticDegraded(original))) {
                std::cerr << "EngineReport: cannot write the pair into \"" << *pairDir << "\"\n";
                return kExitFailure;
            }
            return 0;
        }
        const unsigned workers = threads == 0 ? everyCore() : static_cast<unsigned>(threads);
        const Figures f = measure(r, c, workers, static_cast<unsigned>(repeat), lowMemory);
        std::printf(
            "rows=%u cols=%u threads=%u repeat=%lu mode=%s construction_ms=%.1f image_ms=%.1f "
            "floor_ms=%.1f "
            "ratio=%.2f build_peak_bytes_per_pixel=%.1f score_peak_bytes_per_pixel=%.1f "
            "peak_bytes_per_pixel=%.1f measure=%.6g\n",
            r, c, workers, repeat, lowMemory ? "low-memory" : "default", f.constructionMs,
            f.imageMs, f.floorMs, f.imageMs / f.floorMs, f.buildPeakBytesPerPixel,
            f.scorePeakBytesPerPixel, f.peakBytesPerPixel, static_cast<double>(f.measure));
        return 0;
    } catch (const Error& e) {
        std::cerr << "EngineReport: " << e.what() << '\n';
        return kExitFailure;
    }
}
