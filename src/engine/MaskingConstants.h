#pragma once

// The constants of the band masking, written once: the engine's masking (BandMasking.cpp)
// and the plain reference path its tests hold it to both read them.

namespace lumetra::masking {

// Each channel's bands are divided by these before they drive a threshold.
inline constexpr float kADivisor = 250.0f;
inline constexpr float kC1Divisor = 30.0f;
inline constexpr float kC2Divisor = 5.0f;

// Slopes of the achromatic masking curve: base, crown 2, crowns 3 and 4.
inline constexpr float kSlopeABase = 0.7f;
inline constexpr float kSlopeACrown2 = 1.0f;
inline constexpr float kSlopeAHigh = 0.85f;

// Coefficients (p, q, r) of the rational curve (1 + p a + q a^2) / (1 + r a) and of the
// saturating curve p - q exp(-r a).
struct Curve {
    float p;
    float q;
    float r;
};

// Intra-channel chromatic thresholds (rational): base and crown 2 of C1 and of C2.
inline constexpr Curve kIntraC1Base{0.45f, 0.06f, 1.22f};
inline constexpr Curve kIntraC1Crown{0.48f, 0.03f, 0.82f};
inline constexpr Curve kIntraC2Base{0.72f, 0.22f, 2.78f};
inline constexpr Curve kIntraC2Crown{0.13f, 0.05f, 0.42f};
// C2 masked by C1: the base by the rational curve, crown 2 by the saturating one.
inline constexpr Curve kC2ByC1Base{0.136f, 0.004f, 0.196f};
inline constexpr Curve kC2ByC1Crown{1.8f, 0.8f, 0.02f};
// C1 base masked by the A base and the C2 base (rational curves).
inline constexpr Curve kC1BaseByA{-0.287f, 0.053f, 0.241f};
inline constexpr Curve kC1BaseByC2{0.09f, 0.1f, 0.82f};
// C1 crown 2 masked by the A base (rational, then saturating) and by the A band of the same
// orientation (rational).
inline constexpr Curve kC1CrownByABase{-0.057f, 0.031f, 0.258f};
inline constexpr Curve kC1CrownByAOrientation{0.0232f, 0.0013f, 0.1096f};
inline constexpr Curve kC1CrownByABaseSaturating{1.16f, 0.16f, 0.048f};

}  // namespace lumetra::masking
