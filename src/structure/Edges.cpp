#include "structure/Edges.h"

#include "image/AccImage.h"

namespace lumetra {

Array<int> edges(const AccImage& image, unsigned workers) {
    return edges(image.A(), image.C1(), image.C2(), workers);
}

}  // namespace lumetra
