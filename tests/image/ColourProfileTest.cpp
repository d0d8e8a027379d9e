// Declared colour spaces told apart from sRGB, and the conversion to sRGB, on profiles Little
// CMS builds here (ColourTestImages.h) and on a sample's pixels.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "ColourTestImages.h"
#include "image/ColourProfile.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {
namespace {

namespace ti = testimages;

const std::string kSamples = LUMETRA_SAMPLES_DIR;

ImageMetadata withProfile(std::vector<std::uint8_t> icc) {
    ImageMetadata metadata;
    metadata.iccProfile = std::move(icc);
    return metadata;
}

ImageMetadata withCicp(std::uint16_t primaries, std::uint16_t transfer, std::uint16_t matrix) {
    ImageMetadata metadata;
    metadata.cicp = Cicp{primaries, transfer, matrix};
    return metadata;
}

// The largest difference between two images' samples, each taken relative to its maxval.
double largestDifference(const RgbImage& a, const RgbImage& b) {
    double largest = 0.0;
    const Array<unsigned>* pa[3] = {&a.R(), &a.G(), &a.B()};
    const Array<unsigned>* pb[3] = {&b.R(), &b.G(), &b.B()};
    for (int k = 0; k < 3; ++k) {
        for (std::size_t i = 0; i < pa[k]->size(); ++i) {
            largest = std::fmax(largest, std::fabs(double(pa[k]->data()[i]) / a.maxval() -
                                                   double(pb[k]->data()[i]) / b.maxval()));
        }
    }
    return largest;
}

double meanDifference(const RgbImage& a, const RgbImage& b) {
    double sum = 0.0;
    const Array<unsigned>* pa[3] = {&a.R(), &a.G(), &a.B()};
    const Array<unsigned>* pb[3] = {&b.R(), &b.G(), &b.B()};
    for (int k = 0; k < 3; ++k) {
        for (std::size_t i = 0; i < pa[k]->size(); ++i) {
            sum += std::fabs(double(pa[k]->data()[i]) / a.maxval() -
                             double(pb[k]->data()[i]) / b.maxval());
        }
    }
    return sum / (3.0 * double(a.R().size()));
}

TEST(ColourProfile, TellsSrgbFromOtherDeclarations) {
    EXPECT_EQ(declaredColourSpace({}).kind, ColourKind::Undeclared);

    const ColourSpace p3 = declaredColourSpace(withProfile(ti::displayP3Profile()));
    EXPECT_EQ(p3.kind, ColourKind::Other);
    EXPECT_EQ(p3.name, "ICC \"Display P3\"");
    EXPECT_FALSE(p3.isSrgb());

    // Little CMS's own sRGB profile acts as sRGB, whatever it is called.
    const ColourSpace srgb = declaredColourSpace(withProfile(ti::srgbProfile()));
    EXPECT_EQ(srgb.kind, ColourKind::Srgb) << srgb.name;
    EXPECT_EQ(srgb.identity, "sRGB");

    ImageMetadata chunk;
    chunk.srgbChunk = true;
    EXPECT_EQ(declaredColourSpace(chunk).kind, ColourKind::Srgb);

    // gAMA 1 / 2.2 is what writers mean by sRGB; gAMA 1 is linear light.
    ImageMetadata gamma;
    gamma.gamma = 0.45455;
    EXPECT_EQ(declaredColourSpace(gamma).kind, ColourKind::Srgb);
    gamma.gamma = 1.0;
    const ColourSpace linear = declaredColourSpace(gamma);
    EXPECT_EQ(linear.kind, ColourKind::Other);
    EXPECT_EQ(linear.name, "PNG gAMA 1");
    EXPECT_NE(linear.identity, p3.identity);
}

TEST(ColourProfile, UnusableProfilesAreNamedAndLeaveTheSamplesAlone) {
    const RgbImage image = ti::crop(RgbImage(kSamples + "/coffee.ppm"), 60, 100, 8, 8);

    // Bytes that are no profile at all.
    const ImageMetadata garbage = withProfile(std::vector<std::uint8_t>(300, 0x5a));
    const ColourSpace unreadable = declaredColourSpace(garbage);
    EXPECT_EQ(unreadable.kind, ColourKind::Unusable);
    EXPECT_NE(unreadable.problem.find("cannot be read"), std::string::npos) << unreadable.problem;

    // A Lab profile describes no RGB or grey samples.
    const ti::Profile lab(cmsCreateLab4Profile(nullptr));
    const ColourSpace notRgb = declaredColourSpace(withProfile(ti::bytesOf(lab)));
    EXPECT_EQ(notRgb.kind, ColourKind::Unusable);
    EXPECT_NE(notRgb.problem.find("not for RGB or grey"), std::string::npos) << notRgb.problem;

    // Every truncation of a real profile: a kind and no crash; never converted unless usable.
    const std::vector<std::uint8_t> p3 = ti::displayP3Profile();
    for (std::size_t size = 0; size < p3.size(); size += 7) {
        const ImageMetadata cut = withProfile({p3.begin(), p3.begin() + size});
        const SrgbConversion conversion = convertedToSrgb(image, cut);
        if (!conversion.converted) {
            EXPECT_EQ(conversion.image.R(), image.R()) << size;
        }
    }

    // A grey profile on colour samples is refused; on grey samples it converts.
    const std::unique_ptr<cmsToneCurve, ti::CurveFree> linear(cmsBuildGamma(nullptr, 1.0));
    const ti::Profile grey(cmsCreateGrayProfile(cmsD50_xyY(), linear.get()));
    const ImageMetadata greyProfile = withProfile(ti::bytesOf(grey));
    const SrgbConversion onColour = convertedToSrgb(image, greyProfile);
    EXPECT_FALSE(onColour.converted);
    EXPECT_NE(onColour.problem.find("grey ICC profile"), std::string::npos) << onColour.problem;
    const RgbImage greyImage(image.G(), image.G(), image.G());
    const SrgbConversion onGrey = convertedToSrgb(greyImage, greyProfile);
    ASSERT_TRUE(onGrey.converted) << onGrey.problem;
    EXPECT_EQ(onGrey.image.R(), onGrey.image.G());
    EXPECT_EQ(onGrey.image.R(), onGrey.image.B());
    // Linear-light mid grey is brighter in sRGB's curve: 0.5 -> about 0.735.
    Array<unsigned> half(1, 1);
    half(0, 0) = 128;
    const RgbImage mid(half, half, half);
    const RgbImage midInSrgb = convertedToSrgb(mid, greyProfile).image;
    EXPECT_NEAR(midInSrgb.R()(0, 0) / 65535.0, 0.7379, 0.002);
}

TEST(ColourProfile, SrgbAndUndeclaredSamplesStayExactlyAsStored) {
    const RgbImage image = ti::crop(RgbImage(kSamples + "/coffee.ppm"), 60, 100, 16, 24);
    ImageMetadata chunk;
    chunk.srgbChunk = true;
    for (const ImageMetadata& metadata : {ImageMetadata{}, chunk, withProfile(ti::srgbProfile())}) {
        const SrgbConversion conversion = convertedToSrgb(image, metadata);
        EXPECT_FALSE(conversion.converted);
        EXPECT_EQ(conversion.image.maxval(), image.maxval());
        EXPECT_EQ(conversion.image.R(), image.R());
        EXPECT_EQ(conversion.image.B(), image.B());
    }
}

TEST(ColourProfile, DisplayP3PixelsComeBackToTheirSrgbSamples) {
    const RgbImage srgb = ti::crop(RgbImage(kSamples + "/coffee.ppm"), 40, 60, 48, 64);
    const std::vector<std::uint8_t> p3Profile = ti::displayP3Profile();
    const RgbImage p3 = ti::convertedPixels(srgb, ti::srgbProfile(), p3Profile);
    // The P3 samples differ from the sRGB ones (the same colours, other numbers).
    EXPECT_GT(largestDifference(p3, srgb), 10.0 / 255.0);

    const SrgbConversion back = convertedToSrgb(p3, withProfile(p3Profile));
    ASSERT_TRUE(back.converted) << back.problem;
    EXPECT_EQ(back.image.maxval(), 65535u);
    // The P3 samples are rounded to 8 bits, each within half a step of the exact P3 value; the
    // way back mixes the channels (the P3-to-sRGB matrix's rows add up to 1.45 in magnitude)
    // and sRGB's steep dark end enlarges an error from a bright channel mixed into a dark one
    // (measured: 1.23 steps at most, 0.33 on average), so a sample may land up to 1.5 steps
    // from the original, and on average within half a step.
    constexpr double kEightBitRoundTripTol = 1.5 / 255.0;
    constexpr double kEightBitMeanTol = 0.5 / 255.0;
    EXPECT_LE(largestDifference(back.image, srgb), kEightBitRoundTripTol);
    EXPECT_LE(meanDifference(back.image, srgb), kEightBitMeanTol);
}

TEST(ColourProfile, SixteenBitSamplesConvertAtFloatPrecision) {
    // A 16-bit P3 image made from exact sRGB ramps; converted back, every sample lands within
    // 12 16-bit steps of its ramp value (P3's rounding to 16 bits, enlarged by the mixing and
    // the dark end as for 8 bits: measured 8), where a path through 8 bits would be off by up
    // to half an 8-bit step, 128 of these.
    constexpr std::uint32_t kSide = 32;
    Array<unsigned> r(kSide, kSide), g(kSide, kSide), b(kSide, kSide);
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            r(y, x) = (y * kSide + x) * 64;
            g(y, x) = 65535 - r(y, x);
            b(y, x) = (x * 2048 + y * 31) % 65536;
        }
    }
    const RgbImage ramps(r, g, b, 65535);
    const std::vector<std::uint8_t> p3Profile = ti::displayP3Profile();
    // To P3 at float precision, stored as 16 bits.
    const ti::Profile srgbIn(cmsCreate_sRGBProfile());
    const ti::Profile p3In(
        cmsOpenProfileFromMem(p3Profile.data(), static_cast<cmsUInt32Number>(p3Profile.size())));
    const std::unique_ptr<void, ti::TransformDelete> toP3(
        cmsCreateTransform(srgbIn.get(), TYPE_RGB_DBL, p3In.get(), TYPE_RGB_DBL,
                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    Array<unsigned> pr(kSide, kSide), pg(kSide, kSide), pb(kSide, kSide);
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            const double in[3] = {r(y, x) / 65535.0, g(y, x) / 65535.0, b(y, x) / 65535.0};
            double out[3];
            cmsDoTransform(toP3.get(), in, out, 1);
            const auto sixteen = [](double v) {
                return static_cast<unsigned>(
                    std::lround(std::fmin(std::fmax(v, 0.0), 1.0) * 65535.0));
            };
            pr(y, x) = sixteen(out[0]);
            pg(y, x) = sixteen(out[1]);
            pb(y, x) = sixteen(out[2]);
        }
    }
    const SrgbConversion back =
        convertedToSrgb(RgbImage(pr, pg, pb, 65535), withProfile(p3Profile));
    ASSERT_TRUE(back.converted);
    constexpr double kSixteenBitTol = 12.0 / 65535.0;
    EXPECT_LE(largestDifference(back.image, ramps), kSixteenBitTol);
}

TEST(ColourProfile, CicpCodePointsAreNamedAndOnlyConvertibleOnesConverted) {
    const RgbImage image = ti::crop(RgbImage(kSamples + "/coffee.ppm"), 60, 100, 8, 8);
    // sRGB's code points, given or unspecified, are read exactly as a file declaring nothing.
    for (const auto& [p, t] : {std::pair{1, 13}, {2, 2}, {1, 2}, {2, 13}}) {
        const ImageMetadata srgb = withCicp(p, t, 6);
        const ColourSpace space = declaredColourSpace(srgb);
        EXPECT_EQ(space.kind, ColourKind::Undeclared) << p << "/" << t;
        EXPECT_EQ(space.name, "none (read as sRGB)");
        const SrgbConversion conversion = convertedToSrgb(image, srgb);
        EXPECT_FALSE(conversion.converted);
        EXPECT_EQ(conversion.image.R(), image.R());
    }

    // High dynamic range and unknown code points: named, told apart, never converted (the
    // samples stay as stored), each saying the code it stops at.
    struct Refused {
        ImageMetadata metadata;
        const char* name;
        const char* why;
    };
    const Refused refused[] = {
        {withCicp(9, 16, 9), "CICP 9/16/9 (BT.2020 primaries, PQ)",
         "transfer characteristics 16 (PQ) encode high-dynamic-range light"},
        {withCicp(9, 18, 9), "CICP 9/18/9 (BT.2020 primaries, HLG)",
         "transfer characteristics 18 (HLG) encode high-dynamic-range light"},
        {withCicp(1, 3, 0), "CICP 1/3/0 (BT.709 primaries, unknown transfer 3)",
         "transfer characteristics 3 name no tone curve"},
        {withCicp(3, 13, 0), "CICP 3/13/0 (unknown primaries 3, sRGB transfer)",
         "colour primaries 3 name no RGB primaries"},
    };
    for (const Refused& r : refused) {
        const ColourSpace space = declaredColourSpace(r.metadata);
        EXPECT_EQ(space.kind, ColourKind::Other) << r.name;
        EXPECT_EQ(space.name, r.name);
        EXPECT_NE(space.unconvertible.find(r.why), std::string::npos) << space.unconvertible;
        const SrgbConversion conversion = convertedToSrgb(image, r.metadata);
        EXPECT_FALSE(conversion.converted) << r.name;
        EXPECT_EQ(conversion.problem, std::string(r.name) + " is not converted to sRGB: " +
                                          space.unconvertible + "; the samples are read as stored");
        EXPECT_EQ(conversion.image.G(), image.G());
    }
    // The matrix is not part of the samples' colours; the primaries and transfer are.
    EXPECT_EQ(declaredColourSpace(withCicp(9, 16, 9)).identity,
              declaredColourSpace(withCicp(9, 16, 0)).identity);
    EXPECT_NE(declaredColourSpace(withCicp(9, 16, 9)).identity,
              declaredColourSpace(withCicp(9, 18, 9)).identity);

    // An ICC profile outranks the code points.
    ImageMetadata both = withProfile(ti::displayP3Profile());
    both.cicp = Cicp{9, 16, 9};
    EXPECT_EQ(declaredColourSpace(both).name, "ICC \"Display P3\"");
}

TEST(ColourProfile, CicpDisplayP3ConvertsAsItsIccProfileDoes) {
    const RgbImage srgb = ti::crop(RgbImage(kSamples + "/coffee.ppm"), 40, 60, 48, 64);
    const std::vector<std::uint8_t> p3Profile = ti::displayP3Profile();
    const RgbImage p3 = ti::convertedPixels(srgb, ti::srgbProfile(), p3Profile);
    const SrgbConversion byIcc = convertedToSrgb(p3, withProfile(p3Profile));
    const SrgbConversion byCicp = convertedToSrgb(p3, withCicp(12, 13, 0));
    ASSERT_TRUE(byCicp.converted) << byCicp.problem;
    EXPECT_EQ(declaredColourSpace(withCicp(12, 13, 0)).name,
              "CICP 12/13/0 (Display P3 primaries, sRGB transfer)");
    // The same primaries, white and curve; the ICC profile stores its matrix in 16.16 fixed
    // point, which moves a sample by at most a few 16-bit steps.
    constexpr double kProfileRoundingTol = 4.0 / 65535.0;
    EXPECT_LE(largestDifference(byCicp.image, byIcc.image), kProfileRoundingTol);
}

TEST(ColourProfile, CicpTransferCurvesFollowTheirFormulas) {
    // Grey ramps under sRGB's primaries: only the tone curve acts, so each converted sample is
    // sRGB's encoding of the code point's linear light, computed here from the formulas.
    constexpr std::uint32_t kSide = 16;
    Array<unsigned> ramp(kSide, kSide);
    for (std::uint32_t i = 0; i < kSide * kSide; ++i) ramp.data()[i] = i * 257;  // 0 .. 65535
    const RgbImage grey(ramp, ramp, ramp, 65535);
    const auto srgbEncoded = [](double linear) {
        return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    };
    const auto bt709Linear = [](double v) {
        return v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1 / 0.45);
    };
    struct Curve {
        std::uint16_t transfer;
        double (*linear)(double);
    };
    const Curve curves[] = {
        {1, +bt709Linear},
        {4, [](double v) { return std::pow(v, 2.2); }},
        {8, [](double v) { return v; }},
    };
    for (const Curve& curve : curves) {
        const SrgbConversion converted = convertedToSrgb(grey, withCicp(1, curve.transfer, 0));
        ASSERT_TRUE(converted.converted) << curve.transfer << ": " << converted.problem;
        double largest = 0.0;
        for (std::uint32_t i = 0; i < kSide * kSide; ++i) {
            const double expected = srgbEncoded(curve.linear(ramp.data()[i] / 65535.0));
            largest =
                std::fmax(largest, std::fabs(converted.image.G().data()[i] / 65535.0 - expected));
        }
        // Little CMS works in float through the curves and back: within two 16-bit steps.
        constexpr double kFloatPathTol = 2.0 / 65535.0;
        EXPECT_LE(largest, kFloatPathTol) << "transfer " << curve.transfer;
    }
}

}  // namespace
}  // namespace lumetra
