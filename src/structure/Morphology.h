#pragma once

// Binary morphology along lines (rows or columns) of two-valued maps, each line run through
// with a small counter instead of a sliding window.  Every result is a new map of the
// input's size whose elements are 255 (foreground) or 0 (background); the input is only read.
// Also two small integer helpers.

#include "image/Array.h"

namespace lumetra {

// 3 x 3 dilation: a dilation by three positions along every row, then along every column.
// Any non-zero input is foreground.  A pixel away from the last row and column becomes 255
// when its 3 x 3 neighbourhood holds foreground; the last position of every line copies the
// one before it, and a line of length 1 always becomes 255.
Array<int> dilate_hv(const Array<int>& m);

// Opening of every row by a horizontal segment of four: only runs of at least four positive
// inputs survive, whole.  The last three positions of a row repeat the fourth-last; a row
// shorter than four becomes all 0.  Zero and negative inputs are background.
Array<int> erode_dilate_h(const Array<int>& m);

// The same opening along every column.
Array<int> erode_dilate_v(const Array<int>& m);

// Remainder of a by b, never negative: a mod |b| in 0..|b|-1; a itself when b is 0.
int module(int a, int b);

// The smaller of a and b (b when they are equal).
int min(int a, int b);

}  // namespace lumetra
