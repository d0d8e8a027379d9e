#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fft/fftw++.h"
#include "image/Error.h"

namespace lumetra {
namespace {

using Spectrum = Array<std::complex<float>>;

// The transforms run in double and round each value once to float on the way out: the error
// is a few float ulps, 2^-24 ~ 6e-8 relative each.  Against the size of the whole plane (its
// largest value, or its RMS for the naive comparison) 1e-6 leaves an order of magnitude spare.
constexpr double kFloatRoundingRelTol = 1e-6;
// Non-DC coefficients of a constant plane are exact zeros in exact arithmetic; in double they
// are sums of twiddle factors that cancel to about n * 2^-53 of the DC value.
constexpr double kConstantLeakRelTol = 1e-12;

// Seeded uniform values in [lo, hi); the raw generator output is scaled here, since the
// standard distributions differ between standard libraries.
Array<float> randomPlane(std::uint32_t rows, std::uint32_t cols, std::uint32_t seed, float lo,
                         float hi) {
    std::mt19937 generator(seed);
    Array<float> a(rows, cols);
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double unit = static_cast<double>(generator()) / 4294967296.0;
        a.data()[i] = static_cast<float>(lo + (hi - lo) * unit);
    }
    return a;
}

template <typename T>
double largestMagnitude(const Array<T>& a) {
    double m = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        m = std::max(m, static_cast<double>(std::abs(a.data()[i])));
    return m;
}

// The DFT straight from its definition, in long double, with FFTW's sign convention.
std::vector<std::complex<long double>> naiveDft(const std::vector<std::complex<long double>>& x,
                                                std::uint32_t rows, std::uint32_t cols, int sign) {
    const long double twoPi = 2.0L * std::numbers::pi_v<long double>;
    std::vector<std::complex<long double>> result(x.size());
    for (std::uint32_t u = 0; u < rows; ++u) {
        for (std::uint32_t v = 0; v < cols; ++v) {
            std::complex<long double> sum = 0.0L;
            for (std::uint32_t r = 0; r < rows; ++r) {
                for (std::uint32_t c = 0; c < cols; ++c) {
                    const long double phase = sign * twoPi *
                                              (static_cast<long double>((r * u) % rows) / rows +
                                               static_cast<long double>((c * v) % cols) / cols);
                    sum += x[r * cols + c] * std::polar(1.0L, phase);
                }
            }
            result[u * cols + v] = sum;
        }
    }
    return result;
}

// sqrt(sum |a - b|^2 / sum |b|^2)
template <typename T>
double relativeRmsError(const Array<T>& actual, const std::vector<std::complex<long double>>& ref) {
    long double error = 0.0L, norm = 0.0L;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const std::complex<long double> a(static_cast<long double>(std::real(actual.data()[i])),
                                          static_cast<long double>(std::imag(actual.data()[i])));
        error += std::norm(a - ref[i]);
        norm += std::norm(ref[i]);
    }
    return static_cast<double>(std::sqrt(error / norm));
}

TEST(Fft, MatchesHandWorkedTwoByThree) {
    // x = [1 2 3; 4 5 6].  Column sums 5 7 9 and differences -3 -3 -3, with w = exp(-2 pi i / 3):
    // X(0, v) = 5 + 7 w^v + 9 w^2v, X(1, v) = -3 (1 + w^v + w^2v); so X(0,0) = 21,
    // X(0,1) = -3 + i sqrt(3), X(0,2) = -3 - i sqrt(3), X(1,0) = -9, X(1,1) = X(1,2) = 0.
    Array<float> x(2, 3);
    for (int i = 0; i < 6; ++i) x.data()[i] = static_cast<float>(i + 1);
    const Spectrum X = fft(x);
    const float root3 = std::sqrt(3.0f);
    const std::complex<float> expected[] = {{21, 0}, {-3, root3}, {-3, -root3},
                                            {-9, 0}, {0, 0},      {0, 0}};
    const double tolerance = kFloatRoundingRelTol * 21.0;
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(X.data()[i].real(), expected[i].real(), tolerance) << "element " << i;
        EXPECT_NEAR(X.data()[i].imag(), expected[i].imag(), tolerance) << "element " << i;
    }
}

struct Size {
    std::uint32_t rows;
    std::uint32_t cols;
    const char* why;
};

std::string sizeName(const testing::TestParamInfo<Size>& info) {
    return std::to_string(info.param.rows) + "x" + std::to_string(info.param.cols);
}

class FftVersusNaive : public testing::TestWithParam<Size> {};

TEST_P(FftVersusNaive, AgreesWithLongDoubleDefinition) {
    const auto [rows, cols, why] = GetParam();
    const Array<float> x = randomPlane(rows, cols, 7 * rows + cols, -1.0f, 1.0f);
    std::vector<std::complex<long double>> widened(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) widened[i] = x.data()[i];

    const Spectrum X = fft(x);
    const std::vector<std::complex<long double>> reference = naiveDft(widened, rows, cols, -1);
    const double forwardError = relativeRmsError(X, reference);
    EXPECT_LE(forwardError, kFloatRoundingRelTol) << why;

    // The inverse of the float spectrum against the definition applied to that same spectrum.
    std::vector<std::complex<long double>> spectrum(X.size());
    for (std::size_t i = 0; i < X.size(); ++i) {
        spectrum[i] = {X.data()[i].real(), X.data()[i].imag()};
    }
    std::vector<std::complex<long double>> inverse = naiveDft(spectrum, rows, cols, +1);
    for (auto& value : inverse) value = value.real() / static_cast<long double>(x.size());
    EXPECT_LE(relativeRmsError(ifft(X), inverse), kFloatRoundingRelTol) << why;
}

INSTANTIATE_TEST_SUITE_P(Sizes, FftVersusNaive,
                         testing::Values(Size{2, 3, "tiny, even x odd"}, Size{5, 4, "odd x even"},
                                         Size{7, 5, "two primes"}),
                         sizeName);

class FftRoundTrip : public testing::TestWithParam<Size> {};

TEST_P(FftRoundTrip, InverseGivesThePlaneBack) {
    const auto [rows, cols, why] = GetParam();
    // Values like a light-level plane: positive, so the DC coefficient dominates.
    const Array<float> x = randomPlane(rows, cols, rows * 1000 + cols, 0.0f, 100.0f);
    const Spectrum X = fft(x);
    ASSERT_EQ(X.rows(), rows);
    ASSERT_EQ(X.cols(), cols);
    const Array<float> back = ifft(X);
    ASSERT_EQ(back.rows(), rows);
    ASSERT_EQ(back.cols(), cols);
    const double tolerance = kFloatRoundingRelTol * largestMagnitude(x);
    double worst = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        worst = std::max(worst, std::fabs(static_cast<double>(back.data()[i] - x.data()[i])));
    }
    EXPECT_LE(worst, tolerance) << why;
}

TEST_P(FftRoundTrip, SpectrumOfRealPlaneIsConjugateSymmetric) {
    const auto [rows, cols, why] = GetParam();
    const Spectrum X = fft(randomPlane(rows, cols, rows + 31 * cols, -1.0f, 1.0f));
    const double tolerance = kFloatRoundingRelTol * largestMagnitude(X);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const std::complex<float> mirror = std::conj(X((rows - r) % rows, (cols - c) % cols));
            ASSERT_LE(std::abs(X(r, c) - mirror), tolerance) << why << " at " << r << "," << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FftRoundTrip,
                         testing::Values(Size{1, 1, "single value"},
                                         Size{1, 17, "one row, prime length"},
                                         Size{16, 1, "one column"}, Size{7, 5, "odd x odd primes"},
                                         Size{33, 47, "power of two + 1 x prime"},
                                         Size{63, 64, "power of two - 1 x power of two"},
                                         Size{64, 64, "power of two"},
                                         Size{97, 64, "prime x power of two, not square"}),
                         sizeName);

TEST(Fft, ZeroPlaneStaysZero) {
    const Array<float> zero(6, 9);
    const Spectrum X = fft(zero);
    for (std::size_t i = 0; i < X.size(); ++i) EXPECT_EQ(X.data()[i], std::complex<float>(0, 0));
    EXPECT_EQ(ifft(X), zero);
}

TEST(Fft, ConstantPlaneHasOnlyDc) {
    constexpr float kValue = 2.5f;
    constexpr std::uint32_t kRows = 7, kCols = 5;
    Array<float> x(kRows, kCols);
    std::fill(x.data(), x.data() + x.size(), kValue);
    const Spectrum X = fft(x);
    const double dc = static_cast<double>(kValue) * kRows * kCols;  // 87.5, exact in float
    EXPECT_EQ(X(0, 0), std::complex<float>(static_cast<float>(dc), 0.0f));
    for (std::size_t i = 1; i < X.size(); ++i) {
        EXPECT_LE(std::abs(X.data()[i]), kConstantLeakRelTol * dc) << "element " << i;
    }
    Spectrum onlyDc(kRows, kCols);
    onlyDc(0, 0) = {static_cast<float>(dc), 0.0f};
    const Array<float> back = ifft(onlyDc);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_NEAR(back.data()[i], kValue, kFloatRoundingRelTol * kValue) << "element " << i;
    }
}

TEST(Fft, EmptyPlaneGivesEmptyResult) {
    const Spectrum X = fft(Array<float>(0, 4));
    EXPECT_EQ(X.rows(), 0u);
    EXPECT_EQ(X.cols(), 4u);
    EXPECT_EQ(ifft(Spectrum()).size(), 0u);
}

TEST(Fft, TransformsFromSeveralThreadsAgreeWithOneThread) {
    constexpr int kThreads = 4;
    constexpr int kRunsPerThread = 20;
    const Array<float> x = randomPlane(24, 18, 99, -5.0f, 5.0f);
    const Spectrum expected = fft(x);
    const Array<float> expectedBack = ifft(expected);
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRunsPerThread; ++i) {
                if (!(fft(x) == expected) || !(ifft(expected) == expectedBack)) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// --- the plan wrapper's own checks --------------------------------------------------------

// A pointer 8 bytes past an aligned one: still a valid std::complex<double> address (8-byte
// alignment) but not on a 16-byte boundary.
std::complex<double>* misaligned(const FftwBuffer& buffer) {
    return reinterpret_cast<std::complex<double>*>(reinterpret_cast<char*>(buffer.get()) + 8);
}

void expectFftError(const std::function<void()>& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no FftError; expected: " << message;
    } catch (const FftError& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

TEST(Fft2d, RefusesMisalignedBuffersWithTheirNames) {
    const FftwBuffer a = fftwBuffer(13), b = fftwBuffer(13);
    expectFftError([&] { fft2d(3, 4, FFTW_FORWARD, misaligned(a), b.get()); },
                   "ERROR: constructor input array is not 16-byte aligned");
    expectFftError([&] { fft2d(3, 4, FFTW_FORWARD, a.get(), misaligned(b)); },
                   "ERROR: constructor output array is not 16-byte aligned");

    fft2d plan(3, 4, FFTW_FORWARD, a.get(), b.get());
    expectFftError([&] { plan.fftUnnormalized(misaligned(a), b.get()); },
                   "ERROR: input array is not 16-byte aligned");
    expectFftError([&] { plan.fftNormalized(a.get(), misaligned(b)); },
                   "ERROR: output array is not 16-byte aligned");
}

TEST(Fft2d, RefusesACallWhoseInPlaceSettingDiffersFromThePlan) {
    const std::string message =
        "ERROR: fft constructor and call must be either both in place or out of place";
    const FftwBuffer a = fftwBuffer(6), b = fftwBuffer(6);
    fft2d outOfPlace(2, 3, FFTW_FORWARD, a.get(), b.get());
    EXPECT_FALSE(outOfPlace.inPlace());
    expectFftError([&] { outOfPlace.fftUnnormalized(a.get(), a.get()); }, message);
    expectFftError([&] { outOfPlace.fftNormalized(a.get(), nullptr); }, message);

    fft2d inPlace(2, 3, FFTW_BACKWARD, a.get(), nullptr);
    EXPECT_TRUE(inPlace.inPlace());
    expectFftError([&] { inPlace.fftNormalized(a.get(), b.get()); }, message);
}

TEST(Fft2d, NormalizedInPlaceRunScalesByTheSize) {
    // A unit impulse at (0, 0) transforms to all ones; the normalised inverse of all ones is
    // the impulse again.
    const FftwBuffer buffer = fftwBuffer(12);
    buffer[0] = 1.0;
    fft2d forward(3, 4, FFTW_FORWARD, buffer.get(), nullptr);
    forward.fftUnnormalized(buffer.get(), nullptr);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(buffer[i], std::complex<double>(1.0, 0.0)) << i;

    // Planned on a scratch buffer (null input), run on this one.
    fft2d inverse(3, 4, FFTW_BACKWARD, nullptr, nullptr);
    EXPECT_EQ(inverse.size(), 12u);
    EXPECT_DOUBLE_EQ(inverse.norm(), 1.0 / 12.0);
    inverse.fftNormalized(buffer.get(), buffer.get());
    EXPECT_NEAR(buffer[0].real(), 1.0, 1e-15);
    for (int i = 1; i < 12; ++i) EXPECT_NEAR(std::abs(buffer[i]), 0.0, 1e-15) << i;
}

// A plan maker that FFTW turns down.
class RefusedPlan : public fftw {
  public:
    RefusedPlan() : fftw(4, FFTW_FORWARD) { makePlan(nullptr, nullptr); }

  protected:
    fftw_plan Plan(std::complex<double>*, std::complex<double>*) override { return nullptr; }
};

TEST(Fft2d, ReportsARefusedPlan) {
    expectFftError([] { RefusedPlan(); }, "Unable to construct FFTW plan");
    expectFftError([] { fft2d(0, 5, FFTW_FORWARD, nullptr, nullptr); },
                   "Unable to construct FFTW plan");
}

TEST(Fft2d, RefusesSizesAndSignsFftwCannotTake) {
    expectFftError([] { fft2d(65536, 65536, FFTW_FORWARD, nullptr, nullptr); },
                   "FFT size 65536 x 65536 is too large");
    expectFftError([] { fft2d(2, 2, 0, nullptr, nullptr); }, "FFT sign 0 is neither -1 nor +1");
}

}  // namespace
}  // namespace lumetra
