#pragma once

// Numbering of the 27 bands of a decomposition, the order of the cortex filter bank:
// A base 0, A crown 2 1-4, crown 3 5-10, crown 4 11-16; C1 base 17, crown 18-21;
// C2 base 22, crown 23-26.

namespace lumetra {

inline constexpr unsigned kBandCount = 27;

inline constexpr unsigned kAFirst = 0;
inline constexpr unsigned kALast = 16;
inline constexpr unsigned kCrown2Size = 4;  // orientations of every crown 2
inline constexpr unsigned kCrown3First = 5;
inline constexpr unsigned kCrown4First = 11;
inline constexpr unsigned kCrown34Size = 6;  // orientations of A crowns 3 and 4
inline constexpr unsigned kC1Base = 17;
inline constexpr unsigned kC1Last = 21;
inline constexpr unsigned kC2Base = 22;
inline constexpr unsigned kC2Last = 26;

}  // namespace lumetra
