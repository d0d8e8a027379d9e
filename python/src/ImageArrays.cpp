#include "ImageArrays.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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
// Floats become samples of this maxval: 16 bits, finer than any display's steps.
constexpr unsigned kFloatMaxval = std::numeric_limits<std::uint16_t>::max();
// The largest value of an 8-bit sample, below which uint16 data looks like 8-bit data.
constexpr unsigned kEightBitLargest = std::numeric_limits<std::uint8_t>::max();

// A sample of an array that NumPy may not have aligned: read through memcpy, which compiles
// to a plain load.
template <typename T>
T sampleAt(const unsigned char* bytes, std::size_t index) {
    T sample;
    std::memcpy(&sample, bytes + index * sizeof(T), sizeof(T));
    return sample;
}

// The shortest text that reads back as `value`: "1", "0.5", "255", "nan".
std::string formatNumber(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string dtypeName(const py::array& array) {
    return array.dtype().attr("name").cast<std::string>();
}

std::string shapeText(const py::ssize_t* shape, py::ssize_t ndim) {
    std::string text = "(";
    for (py::ssize_t d = 0; d < ndim; ++d) {
        if (d > 0) text += ", ";
        text += std::to_string(shape[d]);
    }
    return text + (ndim == 1 ? ",)" : ")");
}

std::string shapeText(const py::array& array) {
    return shapeText(array.shape(), array.ndim());
}

// "(3, 7)" or "(3, 7, 1)": where a sample sits, as NumPy indexes the image.
std::string indexText(std::size_t pixel, std::uint32_t cols, std::size_t channel,
                      std::size_t channels) {
    std::string text = "(" + std::to_string(pixel / cols) + ", " + std::to_string(pixel % cols);
    if (channels > 1) text += ", " + std::to_string(channel);
    return text + ")";
}

bool isSupported(const py::dtype& dtype) {
    const std::size_t size = static_cast<std::size_t>(dtype.itemsize());
    return (dtype.kind() == 'u' && (size == 1 || size == 2)) ||
           (dtype.kind() == 'f' && (size == 4 || size == 8));
}

// The array an image argument holds: an ndarray as it is, anything else through np.asarray
// (objects that offer the array interface, such as a PIL image).
py::array asImageArray(py::handle image) {
    if (py::isinstance<py::array>(image)) return py::reinterpret_borrow<py::array>(image);
    const py::array converted = py::module_::import("numpy").attr("asarray")(image);
    const char kind = converted.dtype().kind();
    if (converted.ndim() < 2 || (kind != 'u' && kind != 'i' && kind != 'f')) {
        throw py::type_error(
            "an image must be a path or a NumPy array of uint8, uint16 or float samples (got " +
            std::string(Py_TYPE(image.ptr())->tp_name) + ")");
    }
    return converted;
}

// Any strides and byte order become a C-ordered array of native T: no copy when the array is
// one already.
template <typename T>
py::array nativeOf(const py::array& array) {
    using Native = py::array_t<T, py::array::c_style | py::array::forcecast>;
    Native samples = Native::ensure(array);
    if (!samples) throw py::value_error("the image array cannot be read as native samples");
    return samples;
}

// The three planes of one image's samples, each sample checked by `accept`, which returns the
// integer sample or throws.
template <typename T, typename Accept>
RgbImage imageOfSamples(const unsigned char* bytes, std::uint32_t rows, std::uint32_t cols,
                        std::size_t channels, unsigned maxval, Accept accept) {
    Array<unsigned> r(rows, cols);
    Array<unsigned> g(rows, cols);
    Array<unsigned> b(rows, cols);
    // Grey arrays read their one colour channel three times.
    const std::size_t green = channels >= kColourChannels ? 1 : 0;
    const std::size_t blue = 2 * green;
    for (std::size_t i = 0, n = r.size(); i < n; ++i) {
        const std::size_t pixel = i * channels;
        r.data()[i] = accept(sampleAt<T>(bytes, pixel), i, 0);
        g.data()[i] = accept(sampleAt<T>(bytes, pixel + green), i, green);
        b.data()[i] = accept(sampleAt<T>(bytes, pixel + blue), i, blue);
    }
    return RgbImage(std::move(r), std::move(g), std::move(b), maxval);
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

ArrayStack::ArrayStack(py::handle image, const SampleRange& range, bool stacked) {
    const py::array array = asImageArray(image);
    const py::dtype dtype = array.dtype();
    if (!isSupported(dtype)) {
        throw py::type_error("image samples must be uint8, uint16, float32 or float64 (got " +
                             dtypeName(array) +
                             "); convert them first, for example x.astype(np.float64)");
    }
    _kind = dtype.kind();
    _itemSize = static_cast<std::size_t>(dtype.itemsize());
    const py::ssize_t lead = stacked ? 1 : 0;
    const py::ssize_t ndim = array.ndim() - lead;
    if (stacked && array.ndim() != 4) {
        throw py::value_error(
            "a stack of images must be an array of shape (count, rows, cols, channels); got "
            "shape " +
            shapeText(array));
    }
    if (ndim != 2 && ndim != 3) {
        throw py::value_error(
            "an image array must have shape (rows, cols, 3) (RGB), (rows, cols, 4) (RGB and "
            "alpha) or (rows, cols) (grey); got shape " +
            shapeText(array));
    }
    const py::ssize_t channels = ndim == 2 ? kGrey : array.shape(lead + 2);
    if (channels < kGrey || channels > kMaxChannels) {
        throw py::value_error(
            "an image array must have 3 (RGB), 4 (RGB and alpha), 1 or 2 (grey and alpha) "
            "channels in its last axis; got shape " +
            shapeText(array));
    }
    constexpr auto kMaxSide = std::numeric_limits<std::uint32_t>::max();
    if (array.shape(lead) > py::ssize_t{kMaxSide} ||
        array.shape(lead + 1) > py::ssize_t{kMaxSide}) {
        throw py::value_error("an image array of shape " + shapeText(array) +
                              " is too large for the model");
    }
    _count = stacked ? static_cast<std::size_t>(array.shape(0)) : 1;
    _rows = static_cast<std::uint32_t>(array.shape(lead));
    _cols = static_cast<std::uint32_t>(array.shape(lead + 1));
    _channels = static_cast<std::size_t>(channels);

    _maxvalGiven = range.maxval.has_value();
    if (_kind == 'f') {
        if (range.maxval) {
            throw py::value_error("maxval applies to integer samples; give data_range for " +
                                  dtypeName(array) + " samples");
        }
        _dataRange = range.dataRange.value_or(1.0);
        if (!std::isfinite(_dataRange) || _dataRange <= 0.0) {
            throw py::value_error("data_range must be a finite number greater than 0 (got " +
                                  formatNumber(_dataRange) + ")");
        }
        _maxval = kFloatMaxval;
        _samples = _itemSize == sizeof(float) ? nativeOf<float>(array) : nativeOf<double>(array);
        return;
    }
    if (range.dataRange) {
        throw py::value_error("data_range applies to float samples; give maxval for " +
                              dtypeName(array) + " samples");
    }
    const unsigned largest = _itemSize == 1 ? std::numeric_limits<std::uint8_t>::max()
                                            : std::numeric_limits<std::uint16_t>::max();
    if (range.maxval && (*range.maxval < 1 || *range.maxval > largest)) {
        throw py::value_error("maxval must be from 1 to " + std::to_string(largest) + " for " +
                              dtypeName(array) + " samples (got " + std::to_string(*range.maxval) +
                              ")");
    }
    _maxval = static_cast<unsigned>(range.maxval.value_or(largest));
    _dataRange = 0.0;
    _samples = _itemSize == 1 ? nativeOf<std::uint8_t>(array) : nativeOf<std::uint16_t>(array);
}

std::string ArrayStack::imageShape() const {
    const auto lead = static_cast<py::ssize_t>(_samples.ndim() == 4 ? 1 : 0);
    return shapeText(_samples.shape() + lead, _samples.ndim() - lead);
}

RgbImage ArrayStack::image(std::size_t k) const {
    const std::size_t samples = std::size_t{_rows} * _cols * _channels;
    const auto* bytes =
        static_cast<const unsigned char*>(_samples.data()) + k * samples * _itemSize;
    const std::string which = _count > 1 || _samples.ndim() == 4
                                  ? "image " + std::to_string(k) + " of the stack"
                                  : "the image";
    const auto where = [&](std::size_t pixel, std::size_t channel) {
        return indexText(pixel, _cols, channel, _channels);
    };
    if (_kind == 'f') {
        const double scale = kFloatMaxval / _dataRange;
        const auto accept = [&](double x, std::size_t pixel, std::size_t channel) {
            // Written so that NaN fails too.
            if (!(x >= 0.0 && x <= _dataRange)) {
                throw py::value_error(which + " holds " + formatNumber(x) + " at " +
                                      where(pixel, channel) + ": float samples must lie in [0, " +
                                      formatNumber(_dataRange) +
                                      "] (data_range=" + formatNumber(_dataRange) + ")");
            }
            return static_cast<unsigned>(std::lround(x * scale));
        };
        if (_itemSize == sizeof(float)) {
            return imageOfSamples<float>(bytes, _rows, _cols, _channels, _maxval, accept);
        }
        return imageOfSamples<double>(bytes, _rows, _cols, _channels, _maxval, accept);
    }
    unsigned largest = 0;
    const auto accept = [&](unsigned sample, std::size_t pixel, std::size_t channel) {
        if (sample > _maxval) {
            throw py::value_error(which + " holds " + std::to_string(sample) + " at " +
                                  where(pixel, channel) + ", more than its maxval " +
                                  std::to_string(_maxval));
        }
        largest = std::max(largest, sample);
        return sample;
    };
    RgbImage made =
        _itemSize == 1
            ? imageOfSamples<std::uint8_t>(bytes, _rows, _cols, _channels, _maxval, accept)
            : imageOfSamples<std::uint16_t>(bytes, _rows, _cols, _channels, _maxval, accept);
    unsigned seen = _largest.load();
    while (largest > seen && !_largest.compare_exchange_weak(seen, largest)) {
    }
    return made;
}

void ArrayStack::warnIfEightBit() const {
    if (_kind != 'u' || _itemSize != sizeof(std::uint16_t) || _maxvalGiven) return;
    const unsigned largest = _largest.load();
    if (largest > kEightBitLargest) return;
    const std::string message =
        "the uint16 image array never exceeds 255 (its largest sample is " +
        std::to_string(largest) +
        "), so it is scored as 16-bit samples of maxval 65535, nearly black; if it holds 8-bit "
        "data, pass maxval=255 or convert it with .astype(np.uint8)";
    if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) != 0) throw py::error_already_set();
}

LoadedImage loadLogged(const std::string& path, std::uint64_t maxPixels, ReadChoices choices) {
    LoadedImage loaded = [&] {
        py::gil_scoped_release released;
        return loadImage(path, maxPixels, choices);
    }();
    for (const LoadNotice& notice : loaded.notices) logFileNotice(path, notice.text);
    return loaded;
}

void logFileNotice(const std::string& path, const std::string& text) {
    const py::object logger = py::module_::import("logging").attr("getLogger")("lumetra");
    logger.attr("warning")("\"%s\": %s", path, text);
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

RgbImage imageOf(py::handle image, const SampleRange& range, std::uint64_t maxPixels,
                 ReadChoices choices) {
    if (const std::optional<std::string> path = pathOf(image)) {
        if (range.maxval || range.dataRange) {
            throw py::value_error(
                "maxval and data_range apply to arrays only: an image file gives its own "
                "maximum sample value");
        }
        return std::move(loadLogged(*path, maxPixels, choices).image);
    }
    const ArrayStack stack(image, range, false);
    RgbImage made = [&] {
        py::gil_scoped_release released;
        return stack.image(0);
    }();
    stack.warnIfEightBit();
    return made;
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
