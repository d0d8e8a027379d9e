#include "ImageArrays.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace lumetra::python {

namespace {

// Channels of an array image: grey, grey and alpha, RGB, RGB and alpha.
constexpr py::ssize_t kGrey = 1;
constexpr py::ssize_t kMaxChannels = 4;
// Channels of an RGB image; fewer are grey, which is copied into R, G and B.
constexpr py::ssize_t kColourChannels = 3;

// A sample of an array that NumPy may not have aligned: read through memcpy, which compiles
// to a plain load.
template <typename T>
unsigned sampleAt(const unsigned char* bytes, std::size_t index) {
    T sample;
    std::memcpy(&sample, bytes + index * sizeof(T), sizeof(T));
    return sample;
}

std::string dtypeName(const py::array& array) {
    return array.dtype().attr("name").cast<std::string>();
}

std::string shapeText(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t d = 0; d < array.ndim(); ++d) {
        if (d > 0) text += ", ";
        text += std::to_string(array.shape(d));
    }
    return text + (array.ndim() == 1 ? ",)" : ")");
}

// The array an image argument holds: an ndarray as it is, anything else through np.asarray
// (objects that offer the array interface, such as a PIL image).
py::array asImageArray(py::handle image) {
    if (py::isinstance<py::array>(image)) return py::reinterpret_borrow<py::array>(image);
    const py::array converted = py::module_::import("numpy").attr("asarray")(image);
    const char kind = converted.dtype().kind();
    if (converted.ndim() < 2 || (kind != 'u' && kind != 'i')) {
        throw py::type_error("an image must be a path or a NumPy array of uint8 or uint16 " +
                             std::string("samples (got ") + Py_TYPE(image.ptr())->tp_name + ")");
    }
    return converted;
}

// The samples of an H x W x C (or H x W) array of T as an image whose samples are at most
// maxval.
template <typename T>
RgbImage fromSamples(const py::array& array, std::optional<long long> maxval) {
    constexpr unsigned kLargest = std::numeric_limits<T>::max();
    if (maxval && (*maxval < 1 || *maxval > kLargest)) {
        throw py::value_error("maxval must be from 1 to " + std::to_string(kLargest) + " for " +
                              dtypeName(array) + " samples (got " + std::to_string(*maxval) + ")");
    }
    const auto limit = static_cast<unsigned>(maxval.value_or(kLargest));
    if (array.ndim() != 2 && array.ndim() != 3) {
        throw py::value_error(
            "an image array must be H x W x 3 (RGB), H x W x 4 (RGB and alpha) or H x W (grey); "
            "got shape " +
            shapeText(array));
    }
    const py::ssize_t channels = array.ndim() == 2 ? kGrey : array.shape(2);
    if (channels < kGrey || channels > kMaxChannels) {
        throw py::value_error(
            "an image array must have 3 (RGB), 4 (RGB and alpha), 1 or 2 (grey and alpha) "
            "channels in its last axis; got shape " +
            shapeText(array));
    }
    constexpr auto kMaxSide = std::numeric_limits<std::uint32_t>::max();
    if (array.shape(0) > py::ssize_t{kMaxSide} || array.shape(1) > py::ssize_t{kMaxSide}) {
        throw py::value_error("an image array of shape " + shapeText(array) +
                              " is too large for the model");
    }
    // Any strides and byte order become a C-ordered array of native T: no copy when the
    // array is one already.
    using Native = py::array_t<T, py::array::c_style | py::array::forcecast>;
    const Native samples = Native::ensure(array);
    if (!samples) throw py::value_error("the image array cannot be read as native samples");

    const auto rows = static_cast<std::uint32_t>(array.shape(0));
    const auto cols = static_cast<std::uint32_t>(array.shape(1));
    Array<unsigned> r(rows, cols);
    Array<unsigned> g(rows, cols);
    Array<unsigned> b(rows, cols);
    unsigned largest = 0;
    {
        py::gil_scoped_release released;
        const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
        const auto step = static_cast<std::size_t>(channels);
        // Grey arrays read their one colour channel three times.
        const std::size_t green = channels >= kColourChannels ? 1 : 0;
        const std::size_t blue = 2 * green;
        for (std::size_t i = 0, n = r.size(); i < n; ++i) {
            const std::size_t pixel = i * step;
            r.data()[i] = sampleAt<T>(bytes, pixel);
            g.data()[i] = sampleAt<T>(bytes, pixel + green);
            b.data()[i] = sampleAt<T>(bytes, pixel + blue);
            largest = std::max({largest, r.data()[i], g.data()[i], b.data()[i]});
        }
    }
    if (largest > limit) {
        throw py::value_error("a sample of the image is " + std::to_string(largest) +
                              ", more than its maxval " + std::to_string(limit));
    }
    return RgbImage(std::move(r), std::move(g), std::move(b), limit);
}

}  // namespace

std::optional<std::string> pathOf(py::handle image) {
    if (!py::isinstance<py::str>(image) && !py::isinstance<py::bytes>(image) &&
        !py::hasattr(image, "__fspath__")) {
        return std::nullopt;
    }
    // The bytes the file system sees, so that no file name is refused for its encoding.
    const py::bytes encoded = py::module_::import("os").attr("fsencode")(image);
    std::string path(encoded);
    // The C library would stop the name at the NUL and open another file.
    if (path.find('\0') != std::string::npos) throw py::value_error("embedded null byte in path");
    return path;
}

RgbImage loadLogged(const std::string& path, std::uint64_t maxPixels, ReadChoices choices) {
    LoadedImage loaded = [&] {
        py::gil_scoped_release released;
        return loadImage(path, maxPixels, choices);
    }();
    if (!loaded.notices.empty()) {
        const py::object logger = py::module_::import("logging").attr("getLogger")("lumetra");
        for (const LoadNotice& notice : loaded.notices) {
            logger.attr("warning")("\"%s\": %s", path, notice.text);
        }
    }
    return std::move(loaded.image);
}

ReadChoices readChoicesOf(const std::string& colour, const std::string& orientation) {
    ReadChoices choices;
    if (colour == "srgb") {
        choices.colour = ColourHandling::ToSrgb;
    } else if (colour != "as-stored") {
        throw py::value_error("colour must be \"as-stored\" or \"srgb\" (got \"" + colour + "\")");
    }
    if (orientation == "apply") {
        choices.orientation = OrientationHandling::Apply;
    } else if (orientation != "as-stored") {
        throw py::value_error("orientation must be \"as-stored\" or \"apply\" (got \"" +
                              orientation + "\")");
    }
    return choices;
}

RgbImage imageOf(py::handle image, std::optional<long long> maxval, std::uint64_t maxPixels,
                 ReadChoices choices) {
    if (const std::optional<std::string> path = pathOf(image)) {
        if (maxval) {
            throw py::value_error(
                "maxval applies to arrays only: an image file gives its own maximum sample "
                "value");
        }
        return loadLogged(*path, maxPixels, choices);
    }
    const py::array array = asImageArray(image);
    const py::dtype dtype = array.dtype();
    if (dtype.kind() == 'u' && dtype.itemsize() == sizeof(std::uint8_t)) {
        return fromSamples<std::uint8_t>(array, maxval);
    }
    if (dtype.kind() == 'u' && dtype.itemsize() == sizeof(std::uint16_t)) {
        return fromSamples<std::uint16_t>(array, maxval);
    }
    throw py::type_error("image samples must be uint8 or uint16 (got " + dtypeName(array) +
                         "); convert them first, for example np.round(x * 255).astype(np.uint8) "
                         "for floats from 0 to 1");
}

namespace {

template <typename T>
py::array samplesAs(const RgbImage& image) {
    const auto rows = static_cast<py::ssize_t>(image.rows());
    const auto cols = static_cast<py::ssize_t>(image.cols());
    py::array_t<T> samples({rows, cols, kColourChannels});
    T* out = samples.mutable_data();
    {
        py::gil_scoped_release released;
        const Array<unsigned>* planes[] = {&image.R(), &image.G(), &image.B()};
        for (std::size_t i = 0, n = image.R().size(); i < n; ++i) {
            for (const Array<unsigned>* plane : planes) *out++ = static_cast<T>(plane->data()[i]);
        }
    }
    return samples;
}

}  // namespace

py::array samplesOf(const RgbImage& image) {
    if (image.maxval() <= std::numeric_limits<std::uint8_t>::max()) {
        return samplesAs<std::uint8_t>(image);
    }
    return samplesAs<std::uint16_t>(image);
}

py::array_t<float> arrayOf(Array<float>&& plane) {
    auto owned = std::make_unique<Array<float>>(std::move(plane));
    const std::vector<py::ssize_t> shape{owned->rows(), owned->cols()};
    float* data = owned->data();
    // The capsule owns the plane from here on and frees it with the array.
    const py::capsule owner(owned.get(), [](void* p) { delete static_cast<Array<float>*>(p); });
    owned.release();
    return py::array_t<float>(shape, data, owner);
}

}  // namespace lumetra::python
