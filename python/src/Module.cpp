// lumetra._core: the binding of the core's parameter type, engine and image reader.
//
// It converts and nothing more: paths and arrays in (ImageArrays.h), the GIL released around
// every file read and every comparison, numbers, dicts and arrays out.  The package's
// pure-Python modules build the public API on top of it; the numbers are those of the
// command line, which runs the same core.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "ImageArrays.h"
#include "args/NumberText.h"
#include "engine/BandFiltersCache.h"
#include "engine/Comparison.h"
#include "engine/DisplayText.h"
#include "engine/EngineMemory.h"
#include "engine/Explanation.h"
#include "engine/Lumetra2.h"
#include "engine/Parameters.h"
#include "engine/Profile.h"
#include "image/Error.h"
#include "image/ImageHeader.h"
#include "image/SystemMemory.h"
#include "model/ViewingGeometry.h"

#ifndef LUMETRA_VERSION
#error "LUMETRA_VERSION must be defined by the build (the CMake project version)"
#endif

namespace py = pybind11;

namespace lumetra::python {

namespace {

// The names of the explanation maps and numbers: the command line's CSV column names.
constexpr std::array<const char*, kErrorTermCount> kTermNames{"term_base", "term_crown2",
                                                              "term_crown3", "term_crown4"};
constexpr std::array<const char*, kChannelCount> kChannelNames{"channel_A", "channel_C1",
                                                               "channel_C2"};

// Python's text of a number: the shortest that reads back as the same value, with ".0" on
// whole numbers.
template <typename T>
std::string numberText(T value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[32];
    const std::string digits(text, std::to_chars(text, text + sizeof text, value).ptr);
    return digits.find_first_of(".e") == std::string::npos ? digits + ".0" : digits;
}

std::string boolText(bool value) {
    return value ? "True" : "False";
}

// A Python float as a model parameter: the nearest float, or an infinity beyond its range
// (which validate() then refuses).
float toFloat(double value) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (value > kLargest) return std::numeric_limits<float>::infinity();
    if (value < -kLargest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// A parameter as a read-write property; a value that does not validate raises ValueError
// and leaves the parameters as they were.  A float field takes a Python float (a double), which
// toFloat narrows.
template <typename Type>
void addField(py::class_<Parameters>& parameters, std::string_view name, Type Parameters::*member,
              const std::string& doc) {
    using Given = std::conditional_t<std::is_same_v<Type, float>, double, Type>;
    parameters.def_property(
        std::string(name).c_str(), [member](const Parameters& p) { return p.*member; },
        [member](Parameters& p, Given value) {
            Parameters changed = p;
            if constexpr (std::is_same_v<Type, float>) {
                changed.*member = toFloat(value);
            } else {
                changed.*member = value;
            }
            changed.validate();
            p = changed;
        },
        doc.c_str());
}

// The line's coefficients, or the logistic curve's: "a=0.000751, b=3.8" or
// "logistic=(1.0, 5.0, 300.0, 100.0)", as the constructor takes them.
std::string mappingRepr(const ScoreMapping& mapping) {
    if (const auto* line = std::get_if<LinearMapping>(&mapping)) {
        return "a=" + numberText(line->a) + ", b=" + numberText(line->b);
    }
    const LogisticMapping& curve = std::get<LogisticMapping>(mapping);
    return "logistic=(" + numberText(curve.b1) + ", " + numberText(curve.b2) + ", " +
           numberText(curve.b3) + ", " + numberText(curve.b4) + ")";
}

// The curve of `logistic=(b1, b2, b3, b4)`: four numbers.
LogisticMapping logisticOf(const py::handle& given) {
    const auto coefficients = given.cast<std::vector<double>>();
    if (coefficients.size() != 4) {
        throw py::value_error("logistic must be four numbers (b1, b2, b3, b4) (got " +
                              std::to_string(coefficients.size()) + ")");
    }
    return LogisticMapping{coefficients[0], coefficients[1], coefficients[2], coefficients[3]};
}

py::object logisticTuple(const Parameters& p) {
    const auto* curve = std::get_if<LogisticMapping>(&p.mapping);
    if (curve == nullptr) return py::none();
    return py::make_tuple(curve->b1, curve->b2, curve->b3, curve->b4);
}

// A coefficient of the line as a read-write property: None under a curve, and an error to
// set there (the curve has no slope or offset to change).
template <float LinearMapping::*member>
void addLineField(py::class_<Parameters>& parameters, const char* name, const char* doc) {
    parameters.def_property(
        name,
        [](const Parameters& p) -> py::object {
            const auto* line = std::get_if<LinearMapping>(&p.mapping);
            return line == nullptr ? py::none() : py::cast(double{line->*member});
        },
        [name](Parameters& p, double value) {
            auto* line = std::get_if<LinearMapping>(&p.mapping);
            if (line == nullptr) {
                throw py::value_error(std::string(name) +
                                      " is a coefficient of the score line, but these parameters "
                                      "score with a logistic curve (set logistic=None first)");
            }
            Parameters changed = p;
            std::get<LinearMapping>(changed.mapping).*member = toFloat(value);
            changed.validate();
            p = changed;
        },
        doc);
}

std::string parametersRepr(const Parameters& p) {
    std::string text = "lumetra.Parameters(";
    for (const NumberField& field : kNumberFields) {
        text += std::string(field.key) + "=" + numberText(p.*field.member) + ", ";
    }
    text += mappingRepr(p.mapping);
    for (const SwitchField& field : kSwitchFields) {
        text += ", " + std::string(field.key) + "=" + boolText(p.*field.member);
    }
    return text + ", ppd=" + numberText(p.pixelsPerDegree) + ")";
}

// The pickled state: the number fields, the line's a and b, the switches and ppd, as before
// the mapping could be a curve; then the curve's coefficients or None.
constexpr std::size_t kLineStateCount = std::size(kNumberFields) + 2 + std::size(kSwitchFields) + 1;
constexpr std::size_t kStateCount = kLineStateCount + 1;

py::tuple parametersState(const Parameters& p) {
    const auto* line = std::get_if<LinearMapping>(&p.mapping);
    const LinearMapping shown = line != nullptr ? *line : LinearMapping{};
    py::list state;
    for (const NumberField& field : kNumberFields) state.append(p.*field.member);
    state.append(shown.a);
    state.append(shown.b);
    for (const SwitchField& field : kSwitchFields) state.append(p.*field.member);
    state.append(p.pixelsPerDegree);
    state.append(logisticTuple(p));
    return py::tuple(state);
}

Parameters parametersOfState(const py::tuple& state) {
    if (state.size() != kLineStateCount && state.size() != kStateCount) {
        throw py::value_error("not a pickled lumetra.Parameters");
    }
    Parameters p;
    std::size_t k = 0;
    for (const NumberField& field : kNumberFields) p.*field.member = state[k++].cast<float>();
    const auto a = state[k++].cast<float>();
    const auto b = state[k++].cast<float>();
    p.mapping = LinearMapping{a, b};
    for (const SwitchField& field : kSwitchFields) p.*field.member = state[k++].cast<bool>();
    p.pixelsPerDegree = state[k++].cast<double>();
    if (state.size() == kStateCount && !state[k].is_none()) p.mapping = logisticOf(state[k]);
    p.validate();
    return p;
}

constexpr const char* kParametersDoc =
    R"doc(The model's parameters, validated as the command line validates them.

Every parameter is keyword-only; the defaults are the model's own.  Numbers are kept as the
model computes with them: 32-bit floats (ppd: 64-bit).  Assigning an attribute validates the
new value too.

Parameters
----------
alpha : float
    Exponent of the 32 x 32 block weight, at least 0: 0 weighs every block alike, larger
    values let the blocks with the most error dominate.
beta : float
    Exponent of the Minkowski mean of the weighted error map, greater than 0: larger values
    stress the worst pixels.
co : float
    Weight of the pixels where the edge structure changed (1 elsewhere), at least 0.
a : float
    Slope of the score line, score = b - a x measure (clamped to 1 .. 5); not 0.
b : float
    Offset of the score line: the score of a zero measure.
logistic : (float, float, float, float), optional
    (b1, b2, b3, b4): score with the logistic curve
    b2 + (b1 - b2) / (1 + exp(-(measure - b3) / |b4|)), clamped to 1 .. 5, instead of the
    line; b1 is the score approached as the measure grows, b2 the score at small measures,
    b3 the measure halfway between, |b4| the width (not 0).  a and b are then left out (as
    attributes they are None); setting ``logistic = None`` goes back to the default line.
    ``mapping`` says which is in use: "linear" or "logistic".
intra_a, intra_c1, intra_c2 : bool
    Intra-channel masking of the A, C1 and C2 bands.
inter_a, inter_c1, inter_c2 : bool
    Masking of a channel's bands by the other channels (inter_a and inter_c2 enable no step
    of their own).
ppd : float
    Pixels per degree of visual angle at the viewer's eye, greater than 0.  Larger values
    (a farther viewer, a denser screen) make fine detail less visible and the measure fall.

Raises
------
ValueError
    (lumetra.ParameterError) when a value is not usable, with the command line's message,
    for example "beta must be greater than 0 (got -1)"; a and b given with logistic.
)doc";

constexpr const char* kProfileDoc =
    R"doc(A calibration profile: parameters, viewing conditions and score mapping fitted to
subjective scores, with what they were fitted to and how well they fit.

Read with `Profile.load` (a file) or `Profile.from_dict` / `Profile.from_json`, and used by
``lumetra.Engine(original, profile=...)``, ``lumetra.score(..., profile=...)``,
``lumetra.distributed.score_pairs(..., profile=...)`` and ``lumetra --profile``, which all
give the same numbers.  Every key is checked: unknown keys and unusable values raise
`lumetra.ProfileError` (a ValueError) whose message starts with the file's path and names
the field, for example "fit.json: parameters.beta: beta must be greater than 0 (got 0)".

Parameters
----------
parameters : lumetra.Parameters, optional
    The profile's parameters (ppd and mapping included); the defaults when not given.
)doc";

// The pixel limit of max_pixels (None or an int): the largest one when not given.  Taken as an
// object rather than an optional integer, which GCC 12 wrongly calls maybe-uninitialized here.
std::uint64_t pixelLimitOf(const py::object& maxPixels) {
    if (maxPixels.is_none()) return RgbImage::kMaxPixels;
    const std::string text = py::str(maxPixels);
    const auto problem = [&] {
        return py::value_error("max_pixels must be a whole number from 1 to " +
                               std::to_string(RgbImage::kMaxPixels) + " (got " + text + ")");
    };
    if (!py::isinstance<py::int_>(maxPixels) || py::isinstance<py::bool_>(maxPixels)) {
        throw problem();
    }
    const py::int_ most(maxPixels);
    if (most < py::int_(1) || most > py::int_(RgbImage::kMaxPixels)) throw problem();
    return most.cast<std::uint64_t>();
}

// "(256, 512)": an image's shape as NumPy gives it, rows first.
std::string shapeText(std::uint32_t rows, std::uint32_t cols) {
    return "(" + std::to_string(rows) + ", " + std::to_string(cols) + ")";
}

// Throws SizeMismatchError, in NumPy's terms, when a degraded array is not the original's
// size.
void requireArraySize(const Lumetra2& engine, const ArrayStack& stack) {
    if (stack.rows() == engine.rows() && stack.cols() == engine.cols()) return;
    throw SizeMismatchError("the degraded array has shape " + stack.imageShape() +
                            " but the original's shape is " +
                            shapeText(engine.rows(), engine.cols()));
}

// The engine the binding holds: the model's engine of the original and, when the original was
// read from a file, the colour space that file declares, which each degraded file's is held
// to (none for an array, which declares nothing).
struct BoundEngine {
    Lumetra2 engine;
    std::optional<ColourSpace> originalColour;
};

// The degraded image of a comparison.  A file of the wrong size is refused for the price of
// its header, with the command line's message naming the file; an array of the wrong shape
// before its samples are converted.  A file declaring another colour space than the original
// file, both scored as stored, is logged as the command line says it.
RgbImage degradedImageOf(const BoundEngine& bound, py::handle degraded, const SampleRange& range,
                         std::uint64_t maxPixels, ReadChoices choices) {
    const Lumetra2& engine = bound.engine;
    const std::optional<std::string> path = pathOf(degraded);
    if (!path) {
        const ArrayStack stack(degraded, range, false);
        requireArraySize(engine, stack);
        RgbImage image = [&] {
            py::gil_scoped_release released;
            return stack.image(0);
        }();
        stack.warnIfEightBit();
        return image;
    }
    if (range.maxval || range.dataRange) return imageOf(degraded, range, maxPixels, choices);
    {
        // Either way round when the file may be turned: its orientation is known once read.
        py::gil_scoped_release released;
        const ImageHeader header = readImageHeader(*path, maxPixels);
        if (!mayHaveSize(header, choices.orientation, engine.rows(), engine.cols())) {
            engine.checkSize(*path, header.rows, header.cols);
        }
    }
    LoadedImage loaded = loadLogged(*path, maxPixels, choices);
    engine.checkSize(*path, loaded.image);
    if (bound.originalColour) {
        const std::string mismatch =
            colourMismatch(*bound.originalColour, loaded.colour, choices.colour);
        if (!mismatch.empty()) logFileNotice(*path, mismatch);
    }
    return std::move(loaded.image);
}

// A comparison whose measure is not a finite number is no result: NonFiniteMeasureError with
// the command line's reason, naming the file when the image came from one.
void refuseNonFinite(const Comparison& compared, py::handle degraded) {
    const std::string problem = measureProblem(compared);
    if (problem.empty()) return;
    const std::optional<std::string> path = pathOf(degraded);
    throw NonFiniteMeasureError(path ? "cannot score \"" + *path + "\": " + problem : problem);
}

// The original of an engine and, for a file, the colour space it declares.
struct Original {
    RgbImage image;
    std::optional<ColourSpace> colour;
};

// The original of an engine, refused before it is read or the engine built when the engine
// would not fit in the memory left (MemoryLimitError), or when an array is smaller than the
// model takes (SizeMismatchError, in NumPy's terms).
Original originalOf(py::handle original, const SampleRange& range, std::uint64_t maxPixels,
                    ReadChoices choices) {
    const auto refuseIfShort = [](std::uint64_t rows, std::uint64_t cols) {
        const std::string problem =
            memoryProblem(engineMemory(rows * cols, 0, 0), availableMemory());
        if (problem.empty()) return;
        throw MemoryLimitError("an engine for an original of shape (" + std::to_string(rows) +
                               ", " + std::to_string(cols) + ") " + problem);
    };
    const std::optional<std::string> path = pathOf(original);
    if (path && !range.maxval && !range.dataRange) {
        const ImageHeader header = [&] {
            py::gil_scoped_release released;
            return readImageHeader(*path, maxPixels);
        }();
        refuseIfShort(header.rows, header.cols);
    }
    if (!path) {
        const ArrayStack stack(original, range, false);
        if (stack.rows() < kMinImageSide || stack.cols() < kMinImageSide) {
            throw SizeMismatchError("the original array has shape " + stack.imageShape() +
                                    " but an image must have at least " +
                                    std::to_string(kMinImageSide) + " rows and " +
                                    std::to_string(kMinImageSide) + " columns");
        }
        refuseIfShort(stack.rows(), stack.cols());
        RgbImage image = [&] {
            py::gil_scoped_release released;
            return stack.image(0);
        }();
        stack.warnIfEightBit();
        return {std::move(image), std::nullopt};
    }
    if (range.maxval || range.dataRange) return {imageOf(original, range, maxPixels, choices), {}};
    LoadedImage loaded = loadLogged(*path, maxPixels, choices);
    refuseIfShort(loaded.image.rows(), loaded.image.cols());
    return {std::move(loaded.image), std::move(loaded.colour)};
}

py::dict mapsOf(ExplanationMaps&& maps) {
    py::dict named;
    for (unsigned t = 0; t < kErrorTermCount; ++t) {
        named[kTermNames[t]] = arrayOf(std::move(maps.terms[t]));
    }
    for (unsigned c = 0; c < kChannelCount; ++c) {
        named[kChannelNames[c]] = arrayOf(std::move(maps.channels[c]));
    }
    named["block_weight"] = arrayOf(std::move(maps.blockWeight));
    named["edge_zone"] = arrayOf(std::move(maps.edgeZone));
    named["share"] = arrayOf(std::move(maps.share));
    return named;
}

py::dict numbersOf(const ExplanationNumbers& numbers) {
    py::dict named;
    for (unsigned t = 0; t < kErrorTermCount; ++t) named[kTermNames[t]] = numbers.termShares[t];
    for (unsigned c = 0; c < kChannelCount; ++c) {
        named[kChannelNames[c]] = numbers.channelShares[c];
    }
    named["structure_share"] = numbers.structureShare;
    named["p50"] = numbers.percentiles.p50;
    named["p95"] = numbers.percentiles.p95;
    named["p99"] = numbers.percentiles.p99;
    named["max"] = numbers.percentiles.max;
    return named;
}

void bindErrors(py::module_& m) {
    // Translators are tried newest first, so the base class goes first.
    const py::handle error = py::register_exception<Error>(m, "Error");
    py::register_exception<ImageReadError>(m, "ImageReadError",
                                           py::make_tuple(error, py::handle(PyExc_OSError)));
    py::register_exception<SizeMismatchError>(m, "SizeMismatchError",
                                              py::make_tuple(error, py::handle(PyExc_ValueError)));
    py::register_exception<ParameterError>(m, "ParameterError",
                                           py::make_tuple(error, py::handle(PyExc_ValueError)));
    py::register_exception<MemoryLimitError>(m, "MemoryLimitError",
                                             py::make_tuple(error, py::handle(PyExc_MemoryError)));
    py::register_exception<NonFiniteMeasureError>(
        m, "NonFiniteMeasureError", py::make_tuple(error, py::handle(PyExc_ValueError)));
    py::register_exception<ProfileError>(m, "ProfileError",
                                         py::make_tuple(error, py::handle(PyExc_ValueError)));
}

void bindParameters(py::module_& m) {
    const Parameters d;
    py::class_<Parameters> parameters(m, "Parameters", kParametersDoc);
    const LinearMapping line;
    parameters.def(
        py::init([line](double alpha, double beta, double co, double a, double b,
                        const py::object& logistic, bool intraA, bool interA, bool intraC1,
                        bool interC1, bool intraC2, bool interC2, double ppd) {
            Parameters p;
            p.alpha = toFloat(alpha);
            p.beta = toFloat(beta);
            p.co = toFloat(co);
            p.mapping = LinearMapping{toFloat(a), toFloat(b)};
            if (!logistic.is_none()) {
                if (toFloat(a) != line.a || toFloat(b) != line.b) {
                    throw ParameterError(
                        "a and b are the score line's coefficients; give them or "
                        "logistic, not both");
                }
                p.mapping = logisticOf(logistic);
            }
            p.intraA = intraA;
            p.interA = interA;
            p.intraC1 = intraC1;
            p.interC1 = interC1;
            p.intraC2 = intraC2;
            p.interC2 = interC2;
            p.pixelsPerDegree = ppd;
            p.validate();
            return p;
        }),
        py::kw_only(), py::arg_v("alpha", double{d.alpha}, numberText(d.alpha).c_str()),
        py::arg_v("beta", double{d.beta}, numberText(d.beta).c_str()),
        py::arg_v("co", double{d.co}, numberText(d.co).c_str()),
        py::arg_v("a", double{line.a}, numberText(line.a).c_str()),
        py::arg_v("b", double{line.b}, numberText(line.b).c_str()),
        py::arg("logistic") = py::none(), py::arg("intra_a") = d.intraA,
        py::arg("inter_a") = d.interA, py::arg("intra_c1") = d.intraC1,
        py::arg("inter_c1") = d.interC1, py::arg("intra_c2") = d.intraC2,
        py::arg("inter_c2") = d.interC2,
        py::arg_v("ppd", d.pixelsPerDegree, numberText(d.pixelsPerDegree).c_str()));
    for (const NumberField& field : kNumberFields) {
        addField(parameters, field.key, field.member, std::string(field.what) + ".");
    }
    addLineField<&LinearMapping::a>(parameters, "a",
                                    "Slope of the score line (not 0); None under a curve.");
    addLineField<&LinearMapping::b>(parameters, "b",
                                    "Offset of the score line; None under a curve.");
    parameters.def_property(
        "logistic", &logisticTuple,
        [](Parameters& p, const py::object& given) {
            Parameters changed = p;
            changed.mapping = given.is_none() ? ScoreMapping{} : ScoreMapping{logisticOf(given)};
            changed.validate();
            p = changed;
        },
        "(b1, b2, b3, b4) of the logistic curve scored with, or None for the line.");
    parameters.def_property_readonly(
        "mapping",
        [](const Parameters& p) {
            return std::holds_alternative<LinearMapping>(p.mapping) ? "linear" : "logistic";
        },
        "How the measure becomes a score: \"linear\" (b - a x measure) or \"logistic\".");
    parameters.def(
        "score",
        [](const Parameters& p,
           const py::array_t<float, py::array::forcecast>& measures) -> py::object {
            const py::array_t<float, py::array::c_style | py::array::forcecast> flat(measures);
            py::array_t<float> scores(
                std::vector<py::ssize_t>(flat.shape(), flat.shape() + flat.ndim()));
            const float* in = flat.data();
            float* out = scores.mutable_data();
            for (py::ssize_t k = 0; k < flat.size(); ++k) out[k] = scoreOf(in[k], p.mapping);
            if (flat.ndim() == 0) return py::float_(double{out[0]});
            return scores;
        },
        "The score of a measure (or of an array of measures) under these parameters' mapping, "
        "as the engine scores: clamped to 1 .. 5, -1 for a measure that is not a finite number.",
        py::arg("measure"));
    for (const SwitchField& field : kSwitchFields) {
        addField(parameters, field.key, field.member, std::string(field.what) + ".");
    }
    addField(parameters, "ppd", &Parameters::pixelsPerDegree, "Pixels per degree (> 0).");
    parameters.def("__repr__", &parametersRepr);
    parameters.def(
        "__eq__", [](const Parameters& p, const Parameters& q) { return p == q; },
        py::is_operator());
    parameters.def(py::pickle(&parametersState, &parametersOfState));
}

void bindEngine(py::module_& m) {
    py::class_<BandFiltersCache, std::shared_ptr<BandFiltersCache>> filtersCache(
        m, "FiltersCache", "Band filters shared by engines (see lumetra.FiltersCache).");
    filtersCache.def(
        py::init([](long long capacity) {
            if (capacity < 1) {
                throw py::value_error("capacity must be at least 1 (got " +
                                      std::to_string(capacity) + ")");
            }
            return std::make_shared<BandFiltersCache>(static_cast<std::size_t>(capacity));
        }),
        py::arg("capacity") = BandFiltersCache::kDefaultCapacity);
    filtersCache.def("__len__", &BandFiltersCache::size);

    py::class_<BoundEngine> engine(m, "Engine",
                                   "The engine of one original image (see lumetra.Engine).");
    engine.def(
        py::init([](py::handle original, const Parameters& parameters,
                    std::optional<long long> maxval, std::optional<double> dataRange,
                    long long threads, const py::object& maxPixels, BandFiltersCache* filters,
                    bool lowMemory, const std::string& colour, const std::string& orientation) {
            if (threads < 0 || threads > std::numeric_limits<unsigned>::max()) {
                throw py::value_error(
                    "threads must be 0 (every core) or a number of threads (got " +
                    std::to_string(threads) + ")");
            }
            Original read = originalOf(original, SampleRange{maxval, dataRange},
                                       pixelLimitOf(maxPixels), readChoicesOf(colour, orientation));
            py::gil_scoped_release released;
            return std::make_unique<BoundEngine>(BoundEngine{
                Lumetra2(read.image, parameters,
                         ExecutionOptions{static_cast<unsigned>(threads), filters, lowMemory}),
                std::move(read.colour)});
        }),
        py::arg("original"), py::arg("params"), py::kw_only(), py::arg("maxval") = py::none(),
        py::arg("data_range") = py::none(), py::arg("threads") = 0,
        py::arg("max_pixels") = py::none(), py::arg("filters_cache") = py::none(),
        py::arg("low_memory") = false, py::arg("colour") = "as-stored",
        py::arg("orientation") = "as-stored");
    engine.def(
        "score",
        [](const BoundEngine& self, py::handle degraded, std::optional<long long> maxval,
           std::optional<double> dataRange, const py::object& maxPixels, const std::string& colour,
           const std::string& orientation) {
            const RgbImage image =
                degradedImageOf(self, degraded, SampleRange{maxval, dataRange},
                                pixelLimitOf(maxPixels), readChoicesOf(colour, orientation));
            Comparison compared = [&] {
                py::gil_scoped_release released;
                return self.engine.compare(image);
            }();
            refuseNonFinite(compared, degraded);
            return py::make_tuple(compared.mobj(), compared.nobj(),
                                  arrayOf(std::move(compared.err())));
        },
        "(measure, score, error map) of a degraded image.", py::arg("degraded"), py::kw_only(),
        py::arg("maxval") = py::none(), py::arg("data_range") = py::none(),
        py::arg("max_pixels") = py::none(), py::arg("colour") = "as-stored",
        py::arg("orientation") = "as-stored");
    engine.def(
        "score_stack",
        [](const BoundEngine& self, py::handle degraded, std::optional<long long> maxval,
           std::optional<double> dataRange) {
            const ArrayStack stack(degraded, SampleRange{maxval, dataRange}, true);
            requireArraySize(self.engine, stack);
            std::vector<Comparison> compared = [&] {
                py::gil_scoped_release released;
                return self.engine.compareEach(stack.size(),
                                               [&](std::size_t k) { return stack.image(k); });
            }();
            stack.warnIfEightBit();
            py::list results;
            for (std::size_t k = 0; k < compared.size(); ++k) {
                const std::string problem = measureProblem(compared[k]);
                if (!problem.empty()) {
                    throw NonFiniteMeasureError("image " + std::to_string(k) +
                                                " of the stack: " + problem);
                }
                results.append(py::make_tuple(compared[k].mobj(), compared[k].nobj(),
                                              arrayOf(std::move(compared[k].err()))));
            }
            return results;
        },
        "[(measure, score, error map)] of each image of a (count, rows, cols, channels) stack, "
        "scored side by side on the engine's threads without the GIL.",
        py::arg("degraded"), py::kw_only(), py::arg("maxval") = py::none(),
        py::arg("data_range") = py::none());
    engine.def(
        "explain",
        [](const BoundEngine& self, py::handle degraded, std::optional<long long> maxval,
           std::optional<double> dataRange, const py::object& maxPixels, const std::string& colour,
           const std::string& orientation) {
            const RgbImage image =
                degradedImageOf(self, degraded, SampleRange{maxval, dataRange},
                                pixelLimitOf(maxPixels), readChoicesOf(colour, orientation));
            Explanation explained = [&] {
                py::gil_scoped_release released;
                return self.engine.explain(image);
            }();
            refuseNonFinite(explained.comparison, degraded);
            Comparison& compared = explained.comparison;
            return py::make_tuple(compared.mobj(), compared.nobj(),
                                  arrayOf(std::move(compared.err())),
                                  mapsOf(std::move(explained.maps)), numbersOf(explained.numbers));
        },
        "(measure, score, error map, maps, numbers) of a degraded image.", py::arg("degraded"),
        py::kw_only(), py::arg("maxval") = py::none(), py::arg("data_range") = py::none(),
        py::arg("max_pixels") = py::none(), py::arg("colour") = "as-stored",
        py::arg("orientation") = "as-stored");
    engine.def_property_readonly("rows",
                                 [](const BoundEngine& self) { return self.engine.rows(); });
    engine.def_property_readonly("low_memory",
                                 [](const BoundEngine& self) { return self.engine.lowMemory(); });
    engine.def_property_readonly("cols",
                                 [](const BoundEngine& self) { return self.engine.cols(); });
    // A copy: the engine's own parameters must not change under it.
    engine.def_property_readonly("parameters",
                                 [](const BoundEngine& self) { return self.engine.parameters(); });
}

// A path argument as the core takes it.
std::string pathText(const py::handle& path, const char* what) {
    const std::optional<std::string> name = pathOf(path);
    if (!name) {
        throw py::type_error(std::string(what) + " takes a path (got " +
                             Py_TYPE(path.ptr())->tp_name + ")");
    }
    return *name;
}

py::object jsonModule() {
    return py::module_::import("json");
}

void bindProfile(py::module_& m) {
    py::class_<Profile> profile(m, "Profile", kProfileDoc);
    profile.def(py::init([](std::optional<Parameters> parameters) {
                    Profile made;
                    if (parameters) made.parameters = *parameters;
                    return made;
                }),
                py::arg("parameters") = py::none());
    profile.def_static(
        "load",
        [](const py::handle& path) {
            const std::string name = pathText(path, "Profile.load");
            py::gil_scoped_release released;
            return loadProfile(name);
        },
        "The profile in a JSON file.  Raises lumetra.ProfileError (a ValueError) naming the "
        "file and the bad field.",
        py::arg("path"));
    profile.def_static(
        "from_json",
        [](const std::string& text, const std::string& source) {
            return parseProfile(text, source);
        },
        "The profile in JSON text; `source` starts every error message.", py::arg("text"),
        py::arg("source") = "<string>");
    profile.def_static(
        "from_dict",
        [](const py::handle& document, const std::string& source) {
            const auto text = jsonModule().attr("dumps")(document).cast<std::string>();
            return parseProfile(text, source);
        },
        "The profile in a dict shaped as the JSON file is.", py::arg("document"),
        py::arg("source") = "<dict>");
    profile.def(
        "to_json", [](const Profile& self) { return profileJson(self); },
        "The profile as the JSON text a file holds; every number reads back as itself.");
    profile.def(
        "to_dict",
        [](const Profile& self) { return jsonModule().attr("loads")(profileJson(self)); },
        "The profile as a dict shaped as the JSON file is.");
    profile.def(
        "save",
        [](const Profile& self, const py::handle& path) {
            const std::string name = pathText(path, "Profile.save");
            py::gil_scoped_release released;
            saveProfile(name, self);
        },
        "Writes the profile as JSON, whole or not at all (a temporary file renamed into "
        "place).  Raises lumetra.Error when the file cannot be written.",
        py::arg("path"));
    profile.def_property(
        "parameters", [](const Profile& self) { return self.parameters; },
        [](Profile& self, const Parameters& parameters) { self.parameters = parameters; },
        "The parameters (ppd and mapping included): a copy; assign to change them.");
    profile.def_property(
        "lumetra_version", [](const Profile& self) { return self.lumetraVersion; },
        [](Profile& self, std::string version) { self.lumetraVersion = std::move(version); },
        "The version of Lumetra that wrote the profile; empty when not recorded.");
    for (const char* section : {"data", "figures"}) {
        profile.def_property_readonly(
            section,
            [section](const Profile& self) -> py::object {
                const py::dict document = jsonModule().attr("loads")(profileJson(self));
                return document.contains(section) ? py::object(document[section]) : py::none();
            },
            "Descriptive: a dict as in the file, or None.");
    }
    profile.def(
        "__eq__", [](const Profile& p, const Profile& q) { return p == q; }, py::is_operator());
    profile.def("__repr__", [](const Profile& self) {
        return "lumetra.Profile(" + parametersRepr(self.parameters) + ")";
    });
    profile.def(py::pickle([](const Profile& self) { return profileJson(self); },
                           [](const std::string& text) { return parseProfile(text, "<pickle>"); }));
}

// --display WIDTH_PX,WIDTH_CM,DISTANCE_CM as the command line reads it, with its messages
// less the program's name.
double displayPixelsPerDegreeOf(const std::string& text) {
    try {
        return pixelsPerDegreeOfDisplay(text);
    } catch (const ParameterError& error) {
        throw py::value_error(std::string("--display: ") + error.what());
    }
}

}  // namespace

}  // namespace lumetra::python

PYBIND11_MODULE(_core, m) {
    using namespace lumetra::python;
    m.doc() = "The binding of Lumetra's core; use the package lumetra.";
    m.attr("__version__") = LUMETRA_VERSION;
    // What a built engine holds per pixel of its original, for caches that bound their memory.
    m.attr("ENGINE_BYTES_PER_PIXEL") = lumetra::kEngineBytesPerPixel;
    m.attr("LOW_MEMORY_ENGINE_BYTES_PER_PIXEL") = lumetra::kLowMemoryEngineBytesPerPixel;
    bindErrors(m);
    bindParameters(m);
    bindEngine(m);
    bindProfile(m);
    m.def("display_ppd", &displayPixelsPerDegreeOf,
          "The pixels per degree of a screen given as the command line's --display takes it, "
          "\"WIDTH_PX,WIDTH_CM,DISTANCE_CM\" (e.g. \"1920,53,70\" gives 44.26).  Raises "
          "ValueError with the command line's message.",
          py::arg("display"));
    m.def(
        "read_image",
        [](py::handle path, const py::object& maxPixels, const std::string& colour,
           const std::string& orientation) {
            const std::uint64_t limit = pixelLimitOf(maxPixels);
            const std::optional<std::string> name = pathOf(path);
            if (!name) {
                throw py::type_error(std::string("read_image takes a path (got ") +
                                     Py_TYPE(path.ptr())->tp_name + ")");
            }
            const lumetra::RgbImage image =
                lumetra::python::loadLogged(*name, limit, readChoicesOf(colour, orientation)).image;
            return py::make_tuple(samplesOf(image), image.maxval());
        },
        "(H x W x 3 samples, maxval) of an image file.", py::arg("path"), py::kw_only(),
        py::arg("max_pixels") = py::none(), py::arg("colour") = "as-stored",
        py::arg("orientation") = "as-stored");
    m.def(
        "check_reading",
        [](const std::string& colour, const std::string& orientation) {
            readChoicesOf(colour, orientation);
        },
        "Raises ValueError, as read_image would, when colour or orientation is not one of its "
        "names: a batch refuses them before any work.",
        py::kw_only(), py::arg("colour"), py::arg("orientation"));
}
