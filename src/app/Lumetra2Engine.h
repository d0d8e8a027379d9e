#pragma once

#include "app/EngineFactory.h"

namespace lumetra {

// The production engine: one Lumetra2 per original, checking each degraded image's size
// before scoring it.
EngineFactory lumetra2Engine();

}  // namespace lumetra
