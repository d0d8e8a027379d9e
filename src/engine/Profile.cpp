#include "engine/Profile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "engine/ParameterCheck.h"
#include "image/FileOutput.h"

namespace lumetra {

namespace {

// Key order as written, so that a saved profile reads in the order of its format.
using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "lumetra-profile";
constexpr std::int64_t kFormatVersion = 1;
// A quoted value in a message is cut to this many characters.
constexpr std::size_t kShownValueChars = 40;

// The JSON path of each value Parameters::problems() names, by the name its messages start
// with.
struct ProblemPath {
    const char* name;
    const char* path;
};
constexpr ProblemPath kProblemPaths[] = {{"alpha", "parameters.alpha"},
                                         {"beta", "parameters.beta"},
                                         {"co", "parameters.co"},
                                         {"a", "mapping.a"},
                                         {"b", "mapping.b"},
                                         {"b1", "mapping.b1"},
                                         {"b2", "mapping.b2"},
                                         {"b3", "mapping.b3"},
                                         {"b4", "mapping.b4"},
                                         {"pixels per degree", "viewing.ppd"}};

// The value a problem message is about: the words before " must ".
std::string nameOfProblem(const std::string& problem) {
    return problem.substr(0, problem.find(" must "));
}

std::string shown(const Json& value) {
    std::string text = value.dump();
    if (text.size() > kShownValueChars) text = text.substr(0, kShownValueChars) + "...";
    return text;
}

std::string member(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

// Reads the parts of one document, saying in every error which document and which value.
class Reader {
  public:
    explicit Reader(std::string source) : _source(std::move(source)) {}

    [[noreturn]] void fail(const std::string& path, const std::string& what) const {
        throw ProfileError(_source + ": " + (path.empty() ? what : path + ": " + what));
    }

    const Json& object(const Json& value, const std::string& path,
                       std::initializer_list<const char*> keys) const {
        if (!value.is_object()) fail(path, "must be a JSON object (got " + shown(value) + ")");
        for (const auto& [key, item] : value.items()) {
            // An init-capture: clang before 16 cannot capture a structured binding itself.
            const auto known = [&name = key](const char* k) { return name == k; };
            if (std::none_of(keys.begin(), keys.end(), known)) {
                fail(member(path, key), "unknown key");
            }
        }
        return value;
    }

    const Json* optional(const Json& object, const char* key) const {
        const auto found = object.find(key);
        return found == object.end() ? nullptr : &*found;
    }

    const Json& required(const Json& object, const std::string& path, const char* key) const {
        const Json* value = optional(object, key);
        if (value == nullptr) fail(member(path, key), "missing");
        return *value;
    }

    double number(const Json& value, const std::string& path) const {
        if (!value.is_number()) fail(path, "must be a number (got " + shown(value) + ")");
        return value.get<double>();
    }

    // A number as a float parameter: the nearest float, or an infinity beyond float's range
    // (which the parameters' judge then refuses).  Numbers up to half a unit in the last place
    // above the largest float still round to it.
    float floatNumber(const Json& value, const std::string& path) const {
        const double n = number(value, path);
        constexpr int kFloatMaxHalfUlpExponent =
            std::numeric_limits<float>::max_exponent - std::numeric_limits<float>::digits - 1;
        const double beyond =
            double{std::numeric_limits<float>::max()} + std::ldexp(1.0, kFloatMaxHalfUlpExponent);
        if (n >= beyond) return std::numeric_limits<float>::infinity();
        if (n <= -beyond) return -std::numeric_limits<float>::infinity();
        return static_cast<float>(n);
    }

    std::optional<double> numberOrNull(const Json& value, const std::string& path) const {
        if (value.is_null()) return std::nullopt;
        return number(value, path);
    }

    bool flag(const Json& value, const std::string& path) const {
        if (!value.is_boolean()) fail(path, "must be true or false (got " + shown(value) + ")");
        return value.get<bool>();
    }

    std::uint64_t count(const Json& value, const std::string& path) const {
        if (!value.is_number_unsigned()) {
            fail(path, "must be a whole number at least 0 (got " + shown(value) + ")");
        }
        return value.get<std::uint64_t>();
    }

    std::string text(const Json& value, const std::string& path) const {
        if (!value.is_string()) fail(path, "must be a string (got " + shown(value) + ")");
        return value.get<std::string>();
    }

    // The first problem of `problems`, at the JSON path of the value it names under `path`.
    void failOnProblems(const std::vector<std::string>& problems,
                        const std::string& mappingPath) const {
        if (problems.empty()) return;
        const std::string name = nameOfProblem(problems.front());
        std::string path = member(mappingPath, name);
        for (const ProblemPath& known : kProblemPaths) {
            if (mappingPath.empty() && name == known.name) path = known.path;
        }
        fail(path, problems.front());
    }

  private:
    std::string _source;
};

ScoreMapping readMapping(const Reader& r, const Json& value, const std::string& path) {
    const Json& kindValue =
        r.required(r.object(value, path, {"kind", "a", "b", "b1", "b2", "b3", "b4"}), path, "kind");
    const std::string kind = r.text(kindValue, member(path, "kind"));
    ScoreMapping mapping;
    if (kind == "linear") {
        r.object(value, path, {"kind", "a", "b"});
        mapping = LinearMapping{r.floatNumber(r.required(value, path, "a"), member(path, "a")),
                                r.floatNumber(r.required(value, path, "b"), member(path, "b"))};
    } else if (kind == "logistic") {
        r.object(value, path, {"kind", "b1", "b2", "b3", "b4"});
        const auto coefficient = [&](const char* key) {
            return r.number(r.required(value, path, key), member(path, key));
        };
        mapping = LogisticMapping{coefficient("b1"), coefficient("b2"), coefficient("b3"),
                                  coefficient("b4")};
    } else {
        r.fail(member(path, "kind"),
               "must be \"linear\" or \"logistic\" (got " + shown(kindValue) + ")");
    }
    std::vector<std::string> problems;
    appendMappingProblems(problems, mapping);
    r.failOnProblems(problems, path);
    return mapping;
}

void readParameters(const Reader& r, const Json& value, Parameters& p) {
    const std::string path = "parameters";
    if (!value.is_object()) r.fail(path, "must be a JSON object (got " + shown(value) + ")");
    for (const auto& [key, item] : value.items()) {
        const std::string where = member(path, key);
        const auto isKey = [&name = key](const auto& known) { return name == known.key; };
        if (const auto* n = std::find_if(std::begin(kNumberFields), std::end(kNumberFields), isKey);
            n != std::end(kNumberFields)) {
            p.*(n->member) = r.floatNumber(item, where);
        } else if (const auto* s =
                       std::find_if(std::begin(kSwitchFields), std::end(kSwitchFields), isKey);
                   s != std::end(kSwitchFields)) {
            p.*(s->member) = r.flag(item, where);
        } else {
            r.fail(where, "unknown key");
        }
    }
}

FittedData readData(const Reader& r, const Json& value) {
    const std::string path = "data";
    r.object(value, path, {"files", "pairs", "references"});
    FittedData data;
    const Json& files = r.required(value, path, "files");
    if (!files.is_array()) r.fail("data.files", "must be a JSON array (got " + shown(files) + ")");
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string where = "data.files[" + std::to_string(k) + "]";
        const Json& entry = r.object(files[k], where, {"file", "pairs", "references", "mapping"});
        FittedFile file;
        file.file = r.text(r.required(entry, where, "file"), member(where, "file"));
        file.pairs = r.count(r.required(entry, where, "pairs"), member(where, "pairs"));
        file.references =
            r.count(r.required(entry, where, "references"), member(where, "references"));
        if (const Json* mapping = r.optional(entry, "mapping")) {
            file.mapping = readMapping(r, *mapping, member(where, "mapping"));
        }
        data.files.push_back(std::move(file));
    }
    data.pairs = r.count(r.required(value, path, "pairs"), "data.pairs");
    data.references = r.count(r.required(value, path, "references"), "data.references");
    return data;
}

FitFigures readFigures(const Reader& r, const Json& value, const std::string& path) {
    r.object(value, path, {"srocc", "plcc", "krocc", "rmse"});
    const auto figure = [&](const char* key) -> std::optional<double> {
        const Json* item = r.optional(value, key);
        return item == nullptr ? std::nullopt : r.numberOrNull(*item, member(path, key));
    };
    return FitFigures{figure("srocc"), figure("plcc"), figure("krocc"), figure("rmse")};
}

ProfileFigures readAllFigures(const Reader& r, const Json& value) {
    r.object(value, "figures", {"train", "cv"});
    ProfileFigures figures;
    figures.train = readFigures(r, r.required(value, "figures", "train"), "figures.train");
    const Json* cv = r.optional(value, "cv");
    if (cv != nullptr && !cv->is_null()) figures.cv = readFigures(r, *cv, "figures.cv");
    return figures;
}

Profile readProfile(const Reader& r, const Json& document) {
    if (!document.is_object()) {
        r.fail("", "a profile must be a JSON object (got " + shown(document) + ")");
    }
    const Json* format = r.optional(document, "format");
    if (format == nullptr || *format != kFormat) {
        r.fail("format", std::string("must be \"") + kFormat + "\": not a Lumetra profile (got " +
                             (format == nullptr ? "nothing" : shown(*format)) + ")");
    }
    const Json& version = r.required(document, "", "format_version");
    if (!version.is_number_integer() || version.get<std::int64_t>() != kFormatVersion) {
        r.fail("format_version",
               "must be 1, the version this Lumetra reads (got " + shown(version) + ")");
    }
    r.object(document, "",
             {"format", "format_version", "lumetra_version", "parameters", "viewing", "mapping",
              "data", "figures"});

    Profile profile;
    Parameters& p = profile.parameters;
    if (const Json* written = r.optional(document, "lumetra_version")) {
        profile.lumetraVersion = r.text(*written, "lumetra_version");
    }
    readParameters(r, r.required(document, "", "parameters"), p);
    const Json& viewing = r.object(r.required(document, "", "viewing"), "viewing", {"ppd"});
    p.pixelsPerDegree = r.number(r.required(viewing, "viewing", "ppd"), "viewing.ppd");
    p.mapping = readMapping(r, r.required(document, "", "mapping"), "mapping");
    r.failOnProblems(p.problems(), "");
    if (const Json* data = r.optional(document, "data")) profile.data = readData(r, *data);
    if (const Json* figures = r.optional(document, "figures")) {
        profile.figures = readAllFigures(r, *figures);
    }
    return profile;
}

// A float as the double its shortest text reads as, so that the JSON shows those digits
// ("0.000751", not "0.000750999990850687") and reads back as the same float.
double shortestDouble(float value) {
    const std::string text = valueText(value);
    double result = value;
    std::from_chars(text.data(), text.data() + text.size(), result);
    return result;
}

Json mappingJson(const ScoreMapping& mapping) {
    if (const auto* line = std::get_if<LinearMapping>(&mapping)) {
        return Json{
            {"kind", "linear"}, {"a", shortestDouble(line->a)}, {"b", shortestDouble(line->b)}};
    }
    const LogisticMapping& curve = std::get<LogisticMapping>(mapping);
    return Json{{"kind", "logistic"},
                {"b1", curve.b1},
                {"b2", curve.b2},
                {"b3", curve.b3},
                {"b4", curve.b4}};
}

Json figuresJson(const FitFigures& figures) {
    const auto figure = [](const std::optional<double>& value) {
        return value ? Json(*value) : Json(nullptr);
    };
    return Json{{"srocc", figure(figures.srocc)},
                {"plcc", figure(figures.plcc)},
                {"krocc", figure(figures.krocc)},
                {"rmse", figure(figures.rmse)}};
}

}  // namespace

Profile parseProfile(const std::string& text, const std::string& sourceName) {
    const Reader reader(sourceName);
    // A key given twice would otherwise be read as its last value without a word, as a typo
    // would be: the keys of each object open at each depth are kept until it closes.
    std::vector<std::set<std::string>> keysAtDepth;
    const auto refuseDuplicates = [&](int depth, Json::parse_event_t event, Json& parsed) {
        const auto level = static_cast<std::size_t>(depth);
        if (event == Json::parse_event_t::object_start) {
            keysAtDepth.resize(level + 2);
            keysAtDepth[level + 1].clear();
        } else if (event == Json::parse_event_t::key &&
                   !keysAtDepth.at(level).insert(parsed.get<std::string>()).second) {
            reader.fail("", "the key " + parsed.dump() + " appears twice in one object");
        }
        return true;
    };
    Json document;
    try {
        document = Json::parse(text, refuseDuplicates);
    } catch (const Json::exception& e) {
        // Not only parse_error: a number beyond the range of double is an out_of_range error
        // (found by fuzz_profile; it used to leave as an exception no front end catches).
        // nlohmann's messages start with an identifier in brackets that tells a user nothing.
        std::string what = e.what();
        if (const std::size_t end = what.find("] "); end != std::string::npos) {
            what.erase(0, end + 2);
        }
        reader.fail("", "not valid JSON: " + what);
    }
    return readProfile(reader, document);
}

Profile loadProfile(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) throw ProfileError(path + ": cannot open the profile: " + std::strerror(errno));
    std::string text;
    char block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) text.append(block, got);
    if (std::ferror(file.get())) {
        throw ProfileError(path + ": cannot read the profile: " + std::strerror(errno));
    }
    return parseProfile(text, path);
}

std::string profileJson(const Profile& profile) {
    const Parameters& p = profile.parameters;
    Json document{{"format", kFormat}, {"format_version", kFormatVersion}};
    if (!profile.lumetraVersion.empty()) document["lumetra_version"] = profile.lumetraVersion;
    Json& parameters = document["parameters"] = Json::object();
    for (const NumberField& n : kNumberFields)
        parameters[std::string(n.key)] = shortestDouble(p.*(n.member));
    for (const SwitchField& s : kSwitchFields) parameters[std::string(s.key)] = p.*(s.member);
    document["viewing"] = Json{{"ppd", p.pixelsPerDegree}};
    document["mapping"] = mappingJson(p.mapping);
    if (profile.data) {
        Json files = Json::array();
        for (const FittedFile& f : profile.data->files) {
            Json file{{"file", f.file}, {"pairs", f.pairs}, {"references", f.references}};
            if (f.mapping) file["mapping"] = mappingJson(*f.mapping);
            files.push_back(std::move(file));
        }
        document["data"] = Json{{"files", std::move(files)},
                                {"pairs", profile.data->pairs},
                                {"references", profile.data->references}};
    }
    if (profile.figures) {
        const std::optional<FitFigures>& cv = profile.figures->cv;
        document["figures"] = Json{{"train", figuresJson(profile.figures->train)},
                                   {"cv", cv ? figuresJson(*cv) : Json(nullptr)}};
    }
    return document.dump(2) + "\n";
}

void saveProfile(const std::string& path, const Profile& profile) {
    const std::string text = profileJson(profile);
    writeFileAtomically(path, [&text](std::FILE* file) {
        return std::fwrite(text.data(), 1, text.size(), file) == text.size();
    });
}

}  // namespace lumetra
