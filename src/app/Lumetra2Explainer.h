#pragma once

#include "app/EngineFactory.h"

namespace lumetra {

// The production explainer: a Lumetra2 for the original, asked to explain the degraded image
// after its size is checked.  Part of the window library (unlike lumetra2Engine()), since the
// viewer that the main window opens uses it when given no other.
Explainer lumetra2Explainer();

}  // namespace lumetra
