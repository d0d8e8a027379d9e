#pragma once

// The block weight: where in the image the error gathers.

#include "image/Array.h"

namespace lumetra {

// Block weight B: 32 x 32 block means of the error map normalised by the largest block mean
// and squared.  A map without error (largest block mean 0) weighs 0 everywhere.
Array<float> blockWeight(const Array<float>& error);

}  // namespace lumetra
