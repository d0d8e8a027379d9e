#pragma once

// Pooling of a map into 32 x 32 blocks laid from the top-left corner.

#include "image/Array.h"

namespace lumetra {

// Every element replaced by the mean of its block: the block's sum (in extended precision)
// divided by 1024, rounded to float.  A block cut short by the array's right or bottom edge
// counts its missing cells as 0, so it gets the sum of its existing cells over 1024.
Array<float> blkproc(const Array<float>& a);

}  // namespace lumetra
