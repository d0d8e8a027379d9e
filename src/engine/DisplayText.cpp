#include "engine/DisplayText.h"

#include <cmath>
#include <iterator>
#include <optional>
#include <vector>

#include "args/NumberText.h"
#include "engine/Parameters.h"
#include "image/Error.h"
#include "model/ViewingGeometry.h"

namespace lumetra {
namespace {

constexpr const char* kDisplayFields[] = {"WIDTH_PX", "WIDTH_CM", "DISTANCE_CM"};

// The text between the commas of `text`, empty fields included: "1,,2" -> {"1", "", "2"}.
std::vector<std::string> commaFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (const char c : text) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace

double pixelsPerDegreeOfDisplay(const std::string& text) {
    const std::vector<std::string> fields = commaFields(text);
    std::vector<double> sizes;
    for (const std::string& field : fields) {
        const std::optional<double> size = readDouble(field);
        if (!size || fields.size() != std::size(kDisplayFields)) {
            throw ParameterError("expected three numbers WIDTH_PX,WIDTH_CM,DISTANCE_CM (got " +
                                 text + ")");
        }
        if (!std::isfinite(*size) || *size <= 0.0) {
            throw ParameterError(std::string(kDisplayFields[sizes.size()]) +
                                 " must be a finite number greater than 0 (got " + field + ")");
        }
        sizes.push_back(*size);
    }
    Parameters probe;
    probe.pixelsPerDegree = displayPixelsPerDegree(sizes[0], sizes[1], sizes[2]);
    const std::vector<std::string> found = probe.problems();
    if (!found.empty()) throw ParameterError(found.front());
    return probe.pixelsPerDegree;
}

}  // namespace lumetra
