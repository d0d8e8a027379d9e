#include "app/Lumetra2Engine.h"

#include <memory>

#include "engine/Lumetra2.h"

namespace lumetra {

EngineFactory lumetra2Engine() {
    return [](const RgbImage& original, const Parameters& parameters) -> Scorer {
        // Shared so that the scorer stays copyable, as std::function requires.
        auto engine = std::make_shared<const Lumetra2>(original, parameters);
        return [engine](const std::string& path, const RgbImage& degraded) {
            engine->checkSize(path, degraded);
            return (*engine)(degraded);
        };
    };
}

}  // namespace lumetra
