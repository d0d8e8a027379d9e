#include "image/ColourProfile.h"

// Little CMS, used for two things: telling whether a declared colour space is sRGB, and
// converting samples to sRGB.
//
// Each call makes its own Little CMS context, whose error handler keeps the first message in
// that context's user data, so nothing is shared between threads and nothing is printed.
// Every handle (context, profile, tone curve, transform) is held by a unique_ptr with the
// library's own release function.
//
// "Is it sRGB" is answered by what the profile does, not by its name: the profile's transform
// to sRGB is run on a grid of colours, and a profile that moves none of them by more than half
// an 8-bit step counts as sRGB (v2 and v4 sRGB profiles, compact ones, ones under other names).

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace lumetra {
namespace {

constexpr std::size_t kMessageLength = 200;
constexpr std::size_t kLongestName = 60;
// sRGB's white point (D65) and primaries as CIE xy, from IEC 61966-2-1.
constexpr double kSrgbWhite[2] = {0.3127, 0.3290};
constexpr double kSrgbPrimaries[3][2] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
// sRGB's tone curve as Little CMS's parametric type 4: Y = (aX + b)^g above d, cX below.
constexpr double kSrgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
constexpr int kParametricType4 = 4;
// A gAMA this close to 1 / 2.2 and a cHRM this close to sRGB's count as sRGB.
constexpr double kSrgbFileGamma = 1.0 / 2.2;
constexpr double kGammaRelativeTolerance = 0.01;
constexpr double kChromaticityTolerance = 0.01;
// A profile is sRGB when it moves no colour of the grid by more than half an 8-bit step: it
// would then change no 8-bit sample after rounding.
constexpr double kSrgbTolerance = 0.5 / 255.0;
constexpr int kGridSteps = 9;  // 9 x 9 x 9 colours, corners and midpoints included
constexpr double kLargest16Bit = 65535.0;

// ITU-T H.273 code points: "unspecified", and sRGB's primaries (BT.709's) and transfer.
constexpr std::uint16_t kCicpUnspecified = 2;
constexpr std::uint16_t kCicpBt709Primaries = 1;
constexpr std::uint16_t kCicpSrgbTransfer = 13;
constexpr double kD65[2] = {0.3127, 0.3290};
constexpr double kIlluminantC[2] = {0.310, 0.316};
constexpr double kDciWhite[2] = {0.314, 0.351};

// H.273's colour primaries: the white point and the red, green and blue primaries as CIE xy.
struct CicpPrimaries {
    std::uint16_t code;
    const char* name;
    double white[2];
    double rgb[3][2];
};
constexpr CicpPrimaries kCicpPrimaries[] = {
    {1, "BT.709", {kD65[0], kD65[1]}, {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}},
    {4, "BT.470 M", {kIlluminantC[0], kIlluminantC[1]}, {{0.67, 0.33}, {0.21, 0.71}, {0.14, 0.08}}},
    {5, "BT.601 625-line", {kD65[0], kD65[1]}, {{0.64, 0.33}, {0.29, 0.60}, {0.15, 0.06}}},
    {6, "BT.601 525-line", {kD65[0], kD65[1]}, {{0.630, 0.340}, {0.310, 0.595}, {0.155, 0.070}}},
    {7, "SMPTE 240M", {kD65[0], kD65[1]}, {{0.630, 0.340}, {0.310, 0.595}, {0.155, 0.070}}},
    {8,
     "generic film",
     {kIlluminantC[0], kIlluminantC[1]},
     {{0.681, 0.319}, {0.243, 0.692}, {0.145, 0.049}}},
    {9, "BT.2020", {kD65[0], kD65[1]}, {{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}}},
    {11, "DCI-P3", {kDciWhite[0], kDciWhite[1]}, {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}},
    {12, "Display P3", {kD65[0], kD65[1]}, {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}},
    {22, "EBU 3213", {kD65[0], kD65[1]}, {{0.630, 0.340}, {0.295, 0.605}, {0.155, 0.077}}},
};

// How a transfer characteristic turns coded values into linear light, as Little CMS builds it:
// a power (parametric type 1, Y = X^g), a power with a linear foot (type 4, as kSrgbCurve), or
// none: high dynamic range (PQ, HLG), whose light has no one rendering in sRGB, or a curve not
// converted (logarithmic, extended-range, SMPTE ST 428's).
enum class CurveKind { Power, PowerWithFoot, HighDynamicRange, NotConverted };
struct CicpTransfer {
    std::uint16_t code;
    const char* name;
    CurveKind kind;
    double parameters[5];
};
// BT.709's OETF, V = 1.099 L^0.45 - 0.099 above L = 0.018 and 4.5 L below, inverted; BT.601
// and BT.2020 share it.  SMPTE 240M's is V = 1.1115 L^0.45 - 0.1115 above 0.0228, 4 L below.
constexpr double kBt709Curve[5] = {1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 4.5 * 0.018};
constexpr double kSmpte240Curve[5] = {1.0 / 0.45, 1.0 / 1.1115, 0.1115 / 1.1115, 1.0 / 4.0,
                                      4.0 * 0.0228};
constexpr int kParametricType1 = 1;
constexpr CicpTransfer kCicpTransfers[] = {
    {1,
     "BT.709 transfer",
     CurveKind::PowerWithFoot,
     {kBt709Curve[0], kBt709Curve[1], kBt709Curve[2], kBt709Curve[3], kBt709Curve[4]}},
    {4, "gamma 2.2", CurveKind::Power, {2.2}},
    {5, "gamma 2.8", CurveKind::Power, {2.8}},
    {6,
     "BT.601 transfer",
     CurveKind::PowerWithFoot,
     {kBt709Curve[0], kBt709Curve[1], kBt709Curve[2], kBt709Curve[3], kBt709Curve[4]}},
    {7,
     "SMPTE 240M transfer",
     CurveKind::PowerWithFoot,
     {kSmpte240Curve[0], kSmpte240Curve[1], kSmpte240Curve[2], kSmpte240Curve[3],
      kSmpte240Curve[4]}},
    {8, "linear", CurveKind::Power, {1.0}},
    {9, "logarithmic 100:1", CurveKind::NotConverted, {}},
    {10, "logarithmic 316:1", CurveKind::NotConverted, {}},
    {11, "IEC 61966-2-4 transfer", CurveKind::NotConverted, {}},
    {12, "BT.1361 extended transfer", CurveKind::NotConverted, {}},
    {13,
     "sRGB transfer",
     CurveKind::PowerWithFoot,
     {kSrgbCurve[0], kSrgbCurve[1], kSrgbCurve[2], kSrgbCurve[3], kSrgbCurve[4]}},
    {14,
     "BT.2020 transfer",
     CurveKind::PowerWithFoot,
     {kBt709Curve[0], kBt709Curve[1], kBt709Curve[2], kBt709Curve[3], kBt709Curve[4]}},
    {15,
     "BT.2020 transfer",
     CurveKind::PowerWithFoot,
     {kBt709Curve[0], kBt709Curve[1], kBt709Curve[2], kBt709Curve[3], kBt709Curve[4]}},
    {16, "PQ", CurveKind::HighDynamicRange, {}},
    {17, "SMPTE ST 428 transfer", CurveKind::NotConverted, {}},
    {18, "HLG", CurveKind::HighDynamicRange, {}},
};

const CicpPrimaries* cicpPrimaries(std::uint16_t code) {
    if (code == kCicpUnspecified) code = kCicpBt709Primaries;  // read as sRGB's
    for (const CicpPrimaries& primaries : kCicpPrimaries) {
        if (primaries.code == code) return &primaries;
    }
    return nullptr;
}

const CicpTransfer* cicpTransfer(std::uint16_t code) {
    if (code == kCicpUnspecified) code = kCicpSrgbTransfer;  // read as sRGB's
    for (const CicpTransfer& transfer : kCicpTransfers) {
        if (transfer.code == code) return &transfer;
    }
    return nullptr;
}

// sRGB's primaries and transfer, each given or unspecified (read as sRGB's).
bool isSrgbCicp(const Cicp& cicp) {
    return (cicp.primaries == kCicpBt709Primaries || cicp.primaries == kCicpUnspecified) &&
           (cicp.transfer == kCicpSrgbTransfer || cicp.transfer == kCicpUnspecified);
}

// "CICP 9/16/9 (BT.2020 primaries, PQ)".
std::string cicpName(const Cicp& cicp) {
    const std::string code = std::to_string(cicp.primaries) + "/" + std::to_string(cicp.transfer) +
                             "/" + std::to_string(cicp.matrix);
    std::string primaries = "unspecified primaries";
    if (cicp.primaries != kCicpUnspecified) {
        const CicpPrimaries* known = cicpPrimaries(cicp.primaries);
        primaries = known ? std::string(known->name) + " primaries"
                          : "unknown primaries " + std::to_string(cicp.primaries);
    }
    std::string transfer = "unspecified transfer";
    if (cicp.transfer != kCicpUnspecified) {
        const CicpTransfer* known = cicpTransfer(cicp.transfer);
        transfer = known ? known->name : "unknown transfer " + std::to_string(cicp.transfer);
    }
    return "CICP " + code + " (" + primaries + ", " + transfer + ")";
}

// Keeps the first error Little CMS reports in the context's user data.
void onLcmsError(cmsContext context, cmsUInt32Number, const char* text) {
    auto* message = static_cast<std::string*>(cmsGetContextUserData(context));
    if (message != nullptr && message->empty() && text != nullptr) *message = text;
}

struct ContextDelete {
    void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
struct ProfileClose {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformDelete {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
struct ToneCurveFree {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using Profile = std::unique_ptr<void, ProfileClose>;
using Transform = std::unique_ptr<void, TransformDelete>;
using ToneCurve = std::unique_ptr<cmsToneCurve, ToneCurveFree>;

// One Little CMS context and the first error reported in it.  Not movable: the context holds
// the message's address.
class Lcms {
  public:
    Lcms() : _context(cmsCreateContext(nullptr, &_message)) {
        if (_context) cmsSetLogErrorHandlerTHR(_context.get(), onLcmsError);
    }
    Lcms(const Lcms&) = delete;
    Lcms& operator=(const Lcms&) = delete;

    cmsContext get() const { return _context.get(); }
    bool ok() const { return _context != nullptr; }
    // " (the message)" when Little CMS said something, else empty.
    std::string said() const { return _message.empty() ? "" : " (" + _message + ")"; }

    Profile srgb() const { return Profile(cmsCreate_sRGBProfileTHR(get())); }

    Transform toSrgb(const Profile& from, cmsUInt32Number format) const {
        const Profile srgbProfile = srgb();
        if (!srgbProfile) return nullptr;
        const cmsUInt32Number outFormat = TYPE_RGB_FLT;
        return Transform(cmsCreateTransformTHR(get(), from.get(), format, srgbProfile.get(),
                                               outFormat, INTENT_RELATIVE_COLORIMETRIC,
                                               cmsFLAGS_NOCACHE));
    }

  private:
    std::string _message;
    std::unique_ptr<_cmsContext_struct, ContextDelete> _context;
};

bool near(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance;
}

bool hasSrgbChromaticities(const Chromaticities& c) {
    const double got[4][2] = {
        {c.whiteX, c.whiteY}, {c.redX, c.redY}, {c.greenX, c.greenY}, {c.blueX, c.blueY}};
    const double* want[4] = {kSrgbWhite, kSrgbPrimaries[0], kSrgbPrimaries[1], kSrgbPrimaries[2]};
    for (int i = 0; i < 4; ++i) {
        if (!near(got[i][0], want[i][0], kChromaticityTolerance) ||
            !near(got[i][1], want[i][1], kChromaticityTolerance)) {
            return false;
        }
    }
    return true;
}

// A profile made of PNG's gAMA and cHRM: cHRM's white and primaries (sRGB's without it), a
// power curve of 1 / gAMA (sRGB's curve without it).
Profile profileOfChunks(const Lcms& lcms, const ImageMetadata& metadata) {
    const Chromaticities c = metadata.chromaticities.value_or(Chromaticities{
        kSrgbWhite[0], kSrgbWhite[1], kSrgbPrimaries[0][0], kSrgbPrimaries[0][1],
        kSrgbPrimaries[1][0], kSrgbPrimaries[1][1], kSrgbPrimaries[2][0], kSrgbPrimaries[2][1]});
    const cmsCIExyY white{c.whiteX, c.whiteY, 1.0};
    const cmsCIExyYTRIPLE primaries{
        {c.redX, c.redY, 1.0}, {c.greenX, c.greenY, 1.0}, {c.blueX, c.blueY, 1.0}};
    const ToneCurve curve(
        metadata.gamma ? cmsBuildGamma(lcms.get(), 1.0 / *metadata.gamma)
                       : cmsBuildParametricToneCurve(lcms.get(), kParametricType4, kSrgbCurve));
    if (!curve) return nullptr;
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    return Profile(cmsCreateRGBProfileTHR(lcms.get(), &white, &primaries, curves));
}

// A profile made of CICP code points: their primaries and white and their transfer as a tone
// curve; null with why not when there is no such profile to make, rather than one of made-up
// colours.
struct CicpProfile {
    Profile profile;
    std::string unconvertible;
};

CicpProfile profileOfCicp(const Lcms& lcms, const Cicp& cicp) {
    const auto refused = [](std::string why) { return CicpProfile{nullptr, std::move(why)}; };
    const CicpPrimaries* primaries = cicpPrimaries(cicp.primaries);
    if (!primaries) {
        return refused("colour primaries " + std::to_string(cicp.primaries) +
                       " name no RGB primaries known here");
    }
    const CicpTransfer* transfer = cicpTransfer(cicp.transfer);
    if (!transfer) {
        return refused("transfer characteristics " + std::to_string(cicp.transfer) +
                       " name no tone curve known here");
    }
    const std::string transferCode =
        "transfer characteristics " + std::to_string(cicp.transfer) + " (" + transfer->name + ")";
    if (transfer->kind == CurveKind::HighDynamicRange) {
        return refused(transferCode +
                       " encode high-dynamic-range light, which has no one rendering in sRGB");
    }
    if (transfer->kind == CurveKind::NotConverted) {
        return refused(transferCode + " are not converted");
    }
    const ToneCurve curve(cmsBuildParametricToneCurve(
        lcms.get(), transfer->kind == CurveKind::Power ? kParametricType1 : kParametricType4,
        transfer->parameters));
    const cmsCIExyY white{primaries->white[0], primaries->white[1], 1.0};
    const cmsCIExyYTRIPLE rgb{{primaries->rgb[0][0], primaries->rgb[0][1], 1.0},
                              {primaries->rgb[1][0], primaries->rgb[1][1], 1.0},
                              {primaries->rgb[2][0], primaries->rgb[2][1], 1.0}};
    if (!curve) return refused("Little CMS cannot make its tone curve" + lcms.said());
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    Profile profile(cmsCreateRGBProfileTHR(lcms.get(), &white, &rgb, curves));
    if (!profile) return refused("Little CMS cannot make its profile" + lcms.said());
    return {std::move(profile), {}};
}

// "gAMA 0.45455", "cHRM", "gAMA 1 with cHRM".
std::string chunksName(const ImageMetadata& metadata) {
    std::string name;
    if (metadata.gamma) {
        char number[32];
        std::snprintf(number, sizeof number, "%.5g", *metadata.gamma);
        name = std::string("gAMA ") + number;
    }
    if (metadata.chromaticities) name += name.empty() ? "cHRM" : " with cHRM";
    return name;
}

// The profile's English description, printable characters only, shortened.
std::string descriptionOf(const Profile& profile) {
    char text[kMessageLength] = {};
    cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text, sizeof text);
    std::string name;
    for (const char* p = text; *p != '\0' && name.size() < kLongestName; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        name += c >= ' ' && c < 0x7f ? static_cast<char>(c) : '?';
    }
    return name.empty() ? "unnamed" : name;
}

// The input format a profile's data takes: RGB or grey floats, or 0 for any other.
cmsUInt32Number floatFormatOf(const Profile& profile) {
    switch (cmsGetColorSpace(profile.get())) {
        case cmsSigRgbData:
            return TYPE_RGB_FLT;
        case cmsSigGrayData:
            return TYPE_GRAY_FLT;
        default:
            return 0;
    }
}

// Whether the profile's transform to sRGB moves no colour of the grid (grey ramp for a grey
// profile) by more than kSrgbTolerance.
bool actsAsSrgb(const Lcms& lcms, const Profile& profile) {
    const cmsUInt32Number format = floatFormatOf(profile);
    const Transform transform = lcms.toSrgb(profile, format);
    if (!transform) return false;
    const bool grey = format == TYPE_GRAY_FLT;
    std::vector<float> in, out;
    constexpr float kStep = 1.0f / (kGridSteps - 1);
    for (int r = 0; r < kGridSteps; ++r) {
        for (int g = 0; g < (grey ? 1 : kGridSteps); ++g) {
            for (int b = 0; b < (grey ? 1 : kGridSteps); ++b) {
                in.push_back(static_cast<float>(r) * kStep);
                if (!grey) {
                    in.push_back(static_cast<float>(g) * kStep);
                    in.push_back(static_cast<float>(b) * kStep);
                }
            }
        }
    }
    const std::size_t colours = grey ? in.size() : in.size() / 3;
    out.resize(colours * 3);
    cmsDoTransform(transform.get(), in.data(), out.data(), static_cast<cmsUInt32Number>(colours));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float expected = grey ? in[i / 3] : in[i];
        if (!near(out[i], expected, kSrgbTolerance)) return false;
    }
    return true;
}

// The profile the metadata declares, with its name and identity; null profile when the
// declaration is sRGB by chunk or undeclared, or when a colour space given by CICP code
// points cannot be converted (then the space says why).
struct Declared {
    ColourSpace space;
    Profile profile;
};

Declared declare(const Lcms& lcms, const ImageMetadata& metadata) {
    Declared declared;
    ColourSpace& space = declared.space;
    if (metadata.srgbChunk) {
        space.kind = ColourKind::Srgb;
        space.name = "sRGB (PNG sRGB chunk)";
        return declared;
    }
    if (!metadata.iccProfile.empty()) {
        const auto size = static_cast<cmsUInt32Number>(metadata.iccProfile.size());
        declared.profile.reset(
            cmsOpenProfileFromMemTHR(lcms.get(), metadata.iccProfile.data(), size));
        if (!declared.profile) {
            space.kind = ColourKind::Unusable;
            space.name = "unreadable ICC profile";
            space.problem =
                "the ICC profile cannot be read" + lcms.said() + "; the samples are read as stored";
            space.identity = "unusable";
            return declared;
        }
        const std::string description = descriptionOf(declared.profile);
        if (floatFormatOf(declared.profile) == 0) {
            space.kind = ColourKind::Unusable;
            space.name = "ICC \"" + description + "\"";
            space.problem = "the ICC profile \"" + description +
                            "\" is not for RGB or grey samples; the samples are read as stored";
            space.identity = "unusable";
            declared.profile.reset();
            return declared;
        }
        if (!lcms.toSrgb(declared.profile, floatFormatOf(declared.profile))) {
            space.kind = ColourKind::Unusable;
            space.name = "ICC \"" + description + "\"";
            space.problem = "the ICC profile \"" + description + "\" cannot be converted to sRGB" +
                            lcms.said() + "; the samples are read as stored";
            space.identity = "unusable";
            declared.profile.reset();
            return declared;
        }
        if (actsAsSrgb(lcms, declared.profile)) {
            space.kind = ColourKind::Srgb;
            space.name = "sRGB (ICC \"" + description + "\")";
            return declared;
        }
        space.kind = ColourKind::Other;
        space.name = "ICC \"" + description + "\"";
        // The profile's MD5 (Little CMS leaves out the header fields that do not change the
        // colours): two files with the same profile declare the same space.
        cmsMD5computeID(declared.profile.get());
        cmsUInt8Number id[16] = {};
        cmsGetHeaderProfileID(declared.profile.get(), id);
        space.identity = "icc:";
        for (const cmsUInt8Number byte : id) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", byte);
            space.identity += hex;
        }
        return declared;
    }
    // sRGB's code points (or unspecified ones) are read as sRGB as before, under the name of a
    // file that declares nothing.
    if (metadata.cicp && !isSrgbCicp(*metadata.cicp)) {
        const Cicp& cicp = *metadata.cicp;
        space.kind = ColourKind::Other;
        space.name = cicpName(cicp);
        // The matrix only turned YUV into these RGB samples: it is not part of their colours.
        space.identity =
            "cicp:" + std::to_string(cicp.primaries) + "/" + std::to_string(cicp.transfer);
        CicpProfile made = profileOfCicp(lcms, cicp);
        declared.profile = std::move(made.profile);
        space.unconvertible = std::move(made.unconvertible);
        return declared;
    }
    if (!metadata.gamma && !metadata.chromaticities) return declared;  // undeclared

    const std::string chunks = chunksName(metadata);
    const bool gammaIsSrgbs = !metadata.gamma || near(*metadata.gamma, kSrgbFileGamma,
                                                      kSrgbFileGamma * kGammaRelativeTolerance);
    const bool primariesAreSrgbs =
        !metadata.chromaticities || hasSrgbChromaticities(*metadata.chromaticities);
    declared.profile = profileOfChunks(lcms, metadata);
    if ((gammaIsSrgbs && primariesAreSrgbs) ||
        (declared.profile && actsAsSrgb(lcms, declared.profile))) {
        space.kind = ColourKind::Srgb;
        space.name = "sRGB (PNG " + chunks + ")";
        declared.profile.reset();
        return declared;
    }
    if (!declared.profile) {
        space.kind = ColourKind::Unusable;
        space.name = "PNG " + chunks;
        space.problem = "the PNG " + chunks + " chunks describe no usable colour space" +
                        lcms.said() + "; the samples are read as stored";
        space.identity = "unusable";
        return declared;
    }
    space.kind = ColourKind::Other;
    space.name = "PNG " + chunks;
    space.identity = "png:" + chunks;
    if (metadata.chromaticities) {
        const Chromaticities& c = *metadata.chromaticities;
        for (double v :
             {c.whiteX, c.whiteY, c.redX, c.redY, c.greenX, c.greenY, c.blueX, c.blueY}) {
            char number[32];
            std::snprintf(number, sizeof number, ",%.5f", v);
            space.identity += number;
        }
    }
    return declared;
}

bool isGrey(const RgbImage& image) {
    const unsigned *r = image.R().data(), *g = image.G().data(), *b = image.B().data();
    for (std::size_t i = 0, n = image.R().size(); i < n; ++i) {
        if (r[i] != g[i] || r[i] != b[i]) return false;
    }
    return true;
}

}  // namespace

ColourSpace declaredColourSpace(const ImageMetadata& metadata) {
    const Lcms lcms;
    if (!lcms.ok()) {
        ColourSpace space;
        space.kind = ColourKind::Unusable;
        space.name = "unchecked";
        space.identity = "unusable";
        space.problem = "Little CMS could not start; the samples are read as stored";
        return space;
    }
    return declare(lcms, metadata).space;
}

SrgbConversion convertedToSrgb(const RgbImage& image, const ImageMetadata& metadata,
                               const std::shared_ptr<PlanePool>& pool) {
    const Lcms lcms;
    if (!lcms.ok()) return {image, false, "Little CMS could not start; not converted"};
    const Declared declared = declare(lcms, metadata);
    if (declared.space.kind != ColourKind::Other) return {image, false, declared.space.problem};
    if (!declared.profile) {
        return {image, false,
                declared.space.name + " is not converted to sRGB: " + declared.space.unconvertible +
                    "; the samples are read as stored"};
    }
    const cmsUInt32Number format = floatFormatOf(declared.profile);
    const bool grey = format == TYPE_GRAY_FLT;
    if (grey && !isGrey(image)) {
        return {image, false,
                "the grey ICC profile " + declared.space.name +
                    " comes with colour samples; the samples are read as stored"};
    }
    const Transform transform = lcms.toSrgb(declared.profile, format);
    if (!transform) {
        return {image, false,
                "no conversion from " + declared.space.name + " to sRGB" + lcms.said() +
                    "; the samples are read as stored"};
    }

    const std::uint32_t rows = image.rows(), cols = image.cols();
    const auto scale = static_cast<float>(1.0 / image.maxval());
    Array<unsigned> red(rows, cols, pool, kUninitialised), green(rows, cols, pool, kUninitialised),
        blue(rows, cols, pool, kUninitialised);
    unsigned* const planes[3] = {red.data(), green.data(), blue.data()};
    const std::size_t channelsIn = grey ? 1 : 3;
    std::vector<float> in(std::size_t{cols} * channelsIn), out(std::size_t{cols} * 3);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::size_t first = std::size_t{r} * cols;
        for (std::uint32_t c = 0; c < cols; ++c) {
            in[c * channelsIn] = static_cast<float>(image.R().data()[first + c]) * scale;
            if (!grey) {
                in[c * 3 + 1] = static_cast<float>(image.G().data()[first + c]) * scale;
                in[c * 3 + 2] = static_cast<float>(image.B().data()[first + c]) * scale;
            }
        }
        cmsDoTransform(transform.get(), in.data(), out.data(), cols);
        for (std::uint32_t c = 0; c < cols; ++c) {
            for (std::size_t k = 0; k < 3; ++k) {
                const double value = std::clamp(static_cast<double>(out[c * 3 + k]), 0.0, 1.0);
                planes[k][first + c] = static_cast<unsigned>(std::lround(value * kLargest16Bit));
            }
        }
    }
    return {RgbImage(std::move(red), std::move(green), std::move(blue), 65535), true, {}};
}

}  // namespace lumetra
