#include "app/Lumetra2Explainer.h"

#include "engine/Lumetra2.h"

namespace lumetra {

Explainer lumetra2Explainer() {
    return [](const RgbImage& original, const RgbImage& degraded, const Parameters& parameters) {
        const Lumetra2 engine(original, parameters);
        engine.checkSize("the degraded image", degraded);
        return engine.explain(degraded);
    };
}

}  // namespace lumetra
