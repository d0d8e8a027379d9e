// End-to-end tests of the `lumetra` program: the built binary is run on the golden images and
// the samples, and its output is parsed back.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stb/stb_image.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

extern char** environ;

namespace lumetra {
namespace {

namespace fs = std::filesystem;

const fs::path kGolden = fs::path(LUMETRA_TEST_DATA_DIR) / "golden";
const fs::path kSamples = LUMETRA_SAMPLES_DIR;

// expected.tsv's stated agreement of a conforming engine: measures within 1e-4 relative,
// scores within 1e-4.  The program prints nine digits, which loses nothing of a float.
constexpr double kMeasureRelTol = 1e-4;
constexpr double kScoreAbsTol = 1e-4;

// ---------------------------------------------------------------------------------------------
// Running the program

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh, empty folder per test, removed afterwards.
class LumetraCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        _dir = fs::temp_directory_path() / ("lumetra_cli_" + name + "_" + std::to_string(getpid()));
        fs::remove_all(_dir);
        fs::create_directories(_dir);
    }
    void TearDown() override { fs::remove_all(_dir); }

    // Runs lumetra with the arguments, standard output and error captured in files (standard
    // output in `stdoutPath` instead when it is given).
    ProgramRun run(const std::vector<std::string>& arguments, int stderrFd = -1,
                   const fs::path& stdoutPath = {}) const {
        const fs::path outPath = stdoutPath.empty() ? _dir / "stdout.txt" : stdoutPath;
        const fs::path errPath = _dir / "stderr.txt";
        std::vector<std::string> words = _launcher;
        words.push_back(LUMETRA_BINARY);
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (stderrFd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        pid_t pid = 0;
        ProgramRun result;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
            return result;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = stdoutPath.empty() ? readFile(outPath) : "";
        result.err = stderrFd >= 0 ? "" : readFile(errPath);
        return result;
    }

    fs::path _dir;
    // A program that starts lumetra (its absolute path and arguments first), such as prlimit;
    // none when empty.
    std::vector<std::string> _launcher;
};

std::string golden(const std::string& name) {
    return (kGolden / name).string();
}

// ---------------------------------------------------------------------------------------------
// Parsing the output back

using Record = std::vector<std::string>;

// RFC 4180: fields separated by commas, quoted fields may hold commas, doubled quotes and
// line breaks.
std::vector<Record> parseCsv(const std::string& text) {
    std::vector<Record> records;
    Record record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\n') {
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.empty() && record.empty()) << "last row not ended by a line break";
    return records;
}

std::vector<Record> parseTsv(const std::string& text) {
    std::vector<Record> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        Record record;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos;) {
            record.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        record.push_back(line.substr(start));
        records.push_back(record);
    }
    return records;
}

// The JSON the program writes: an array of flat objects of strings, numbers and null.
struct JsonValue {
    std::variant<std::nullptr_t, double, std::string> value;
    bool isNull() const { return std::holds_alternative<std::nullptr_t>(value); }
    double number() const { return std::get<double>(value); }
    const std::string& text() const { return std::get<std::string>(value); }
};
using JsonObject = std::map<std::string, JsonValue>;

class JsonParser {
  public:
    explicit JsonParser(const std::string& text) : _text(text) {}

    // The whole document; nullopt when it is not an array of flat objects.
    std::optional<std::vector<JsonObject>> parseArray() {
        std::vector<JsonObject> objects;
        if (!take('[')) return std::nullopt;
        if (!take(']')) {
            do {
                std::optional<JsonObject> object = parseObject();
                if (!object) return std::nullopt;
                objects.push_back(*object);
            } while (take(','));
            if (!take(']')) return std::nullopt;
        }
        skipSpace();
        if (_at != _text.size()) return std::nullopt;
        return objects;
    }

  private:
    void skipSpace() {
        while (_at < _text.size() && std::strchr(" \t\r\n", _text[_at]) != nullptr) ++_at;
    }
    bool take(char c) {
        skipSpace();
        if (_at < _text.size() && _text[_at] == c) {
            ++_at;
            return true;
        }
        return false;
    }

    std::optional<JsonObject> parseObject() {
        JsonObject object;
        if (!take('{')) return std::nullopt;
        do {
            std::optional<std::string> key = parseString();
            if (!key || !take(':')) return std::nullopt;
            std::optional<JsonValue> value = parseValue();
            if (!value) return std::nullopt;
            object[*key] = *value;
        } while (take(','));
        if (!take('}')) return std::nullopt;
        return object;
    }

    std::optional<JsonValue> parseValue() {
        skipSpace();
        if (_text.compare(_at, 4, "null") == 0) {
            _at += 4;
            return JsonValue{nullptr};
        }
        if (_at < _text.size() && _text[_at] == '"') {
            std::optional<std::string> text = parseString();
            if (!text) return std::nullopt;
            return JsonValue{*text};
        }
        const char* begin = _text.c_str() + _at;
        char* end = nullptr;
        const double number = std::strtod(begin, &end);
        if (end == begin || std::strchr("-0123456789", *begin) == nullptr) return std::nullopt;
        _at += static_cast<std::size_t>(end - begin);
        return JsonValue{number};
    }

    std::optional<std::string> parseString() {
        if (!take('"')) return std::nullopt;
        std::string text;
        while (_at < _text.size() && _text[_at] != '"') {
            const char c = _text[_at++];
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                text += c;
                continue;
            }
            if (_at >= _text.size()) return std::nullopt;
            const char escaped = _text[_at++];
            const char* const from = "\"\\/bfnrt";
            const char* const to = "\"\\/\b\f\n\r\t";
            if (const char* p = std::strchr(from, escaped); p != nullptr && escaped != '\0') {
                text += to[p - from];
            } else if (escaped == 'u' && _at + 4 <= _text.size()) {
                // Only the control characters the program escapes (below U+0080).
                const unsigned code = std::stoul(_text.substr(_at, 4), nullptr, 16);
                if (code >= 0x80) return std::nullopt;
                text += static_cast<char>(code);
                _at += 4;
            } else {
                return std::nullopt;
            }
        }
        if (!take('"')) return std::nullopt;
        return text;
    }

    const std::string& _text;
    std::size_t _at = 0;
};

// ---------------------------------------------------------------------------------------------
// Expected values

struct Expected {
    double measure;
    double score;
};

// The rows of expected.tsv with default options, by degraded file name.
std::map<std::string, Expected> goldenDefaults() {
    std::map<std::string, Expected> rows;
    const std::vector<Record> records = parseTsv(readFile(kGolden / "expected.tsv"));
    for (std::size_t i = 1; i < records.size(); ++i) {
        const Record& r = records[i];
        if (r.size() == 5 && r[2].empty()) {
            rows[r[1]] = {std::stod(r[3]), std::stod(r[4])};
        }
    }
    return rows;
}

// The expected.tsv row of scene64 / scene64__noise with the given options column.
Expected goldenNoiseWith(const std::string& options) {
    for (const Record& r : parseTsv(readFile(kGolden / "expected.tsv"))) {
        if (r.size() == 5 && r[0] == "scene64.ppm" && r[1] == "scene64__noise.ppm" &&
            r[2] == options) {
            return {std::stod(r[3]), std::stod(r[4])};
        }
    }
    ADD_FAILURE() << "no golden row with options \"" << options << "\"";
    return {0.0, 0.0};
}

void expectScores(double measure, double score, const Expected& expected, const std::string& what) {
    const double measureTol = kMeasureRelTol * std::abs(expected.measure);
    EXPECT_NEAR(measure, expected.measure, measureTol)
        << what << " (tolerance " << measureTol << ")";
    EXPECT_NEAR(score, expected.score, kScoreAbsTol) << what;
}

// A PPM header promising 64 x 64 pixels followed by only a few of them.
std::string truncatedPpm() {
    return readFile(kGolden / "scene64__noise.ppm").substr(0, 500);
}

// ---------------------------------------------------------------------------------------------
// Output formats

const std::vector<std::string> kScene64Degraded = {"scene64__copy.ppm", "scene64__noise.ppm",
                                                   "scene64__blur.ppm", "scene64__blocks.ppm",
                                                   "scene64__hue.ppm"};

TEST_F(LumetraCommand, CsvParsesBackToTheGoldenValuesInInputOrder) {
    // The golden pairs, and the noise pair once more under a name that needs CSV quoting.
    const fs::path oddName = _dir / "odd, \"quoted\" caf\xC3\xA9.ppm";
    fs::copy_file(kGolden / "scene64__noise.ppm", oddName);
    std::vector<std::string> degraded;
    for (const std::string& name : kScene64Degraded) degraded.push_back(golden(name));
    degraded.push_back(oddName.string());
    std::vector<std::string> args = {"--format", "csv", golden("scene64.ppm")};
    args.insert(args.end(), degraded.begin(), degraded.end());
    const ProgramRun r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no terminal: no progress bar, and nothing went wrong

    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), degraded.size() + 1) << r.out;
    EXPECT_EQ(records[0], (Record{"file", "measure", "score", "error"}));
    const std::map<std::string, Expected> expected = goldenDefaults();
    for (std::size_t i = 0; i < degraded.size(); ++i) {
        const Record& row = records[i + 1];
        ASSERT_EQ(row.size(), 4u);
        EXPECT_EQ(row[0], degraded[i]);
        const std::string goldenName =
            i < kScene64Degraded.size() ? kScene64Degraded[i] : "scene64__noise.ppm";
        expectScores(std::stod(row[1]), std::stod(row[2]), expected.at(goldenName), row[0]);
        EXPECT_EQ(row[3], "");
    }
}

TEST_F(LumetraCommand, RowsKeepInputOrderWhateverTheNumberOfJobs) {
    // Sizes differ between the scenes, so the files take different times.
    std::vector<std::string> files;
    for (const char* scene : {"scene128x96", "scene64", "scene97x64"}) {
        for (const char* kind : {"__noise", "__blur", "__copy"}) {
            files.push_back(golden(std::string(scene) + kind + ".ppm"));
        }
    }
    std::vector<std::string> args = {"--format", "tsv", golden("scene64.ppm")};
    args.insert(args.end(), files.begin(), files.end());

    std::vector<std::string> one = args;
    one.insert(one.begin(), {"--jobs", "1"});
    std::vector<std::string> three = args;
    three.insert(three.begin(), {"--jobs", "3"});
    std::vector<std::string> threeOnOneThread = args;  // more files in flight than threads
    threeOnOneThread.insert(threeOnOneThread.begin(), {"--jobs", "3", "--threads", "1"});
    const ProgramRun serial = run(one);
    const ProgramRun parallel = run(three);
    const ProgramRun sharedThread = run(threeOnOneThread);
    EXPECT_EQ(serial.status, 1);  // the two other scene sizes do not match scene64
    EXPECT_EQ(parallel.status, 1);
    EXPECT_EQ(sharedThread.status, 1);
    EXPECT_EQ(serial.out, parallel.out);
    EXPECT_EQ(serial.err, parallel.err);
    EXPECT_EQ(serial.out, sharedThread.out);
    EXPECT_EQ(serial.err, sharedThread.err);

    const std::vector<Record> records = parseTsv(parallel.out);
    ASSERT_EQ(records.size(), files.size() + 1);
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(records[i + 1][0], files[i]);
}

class LumetraCommandJobs : public LumetraCommand, public ::testing::WithParamInterface<int> {
  protected:
    std::vector<std::string> withJobs(std::vector<std::string> words) const {
        words.insert(words.begin(), {"--jobs", std::to_string(GetParam())});
        return words;
    }
};

// Rows that cannot be written end the run with one message and status 1, in every format and
// however many files are in flight when the writing fails.  With several in flight this used
// to crash: the failure cancelled the files still being scored half-way (kept as a
// reproducer: the 128 x 96 scene's files, twice over, to keep several in flight).
TEST_P(LumetraCommandJobs, RowsThatCannotBeWrittenEndTheRunWithStatusOne) {
    std::vector<std::string> files = {golden("scene128x96.ppm")};
    for (int twice = 0; twice < 2; ++twice) {
        for (const char* kind : {"blocks", "blur", "copy", "hue", "noise"}) {
            files.push_back(golden(std::string("scene128x96__") + kind + ".ppm"));
        }
    }
    for (const char* format : {"table", "csv", "json"}) {
        std::vector<std::string> words = {"--format", format};
        words.insert(words.end(), files.begin(), files.end());
        const ProgramRun full = run(withJobs(words), -1, "/dev/full");
        EXPECT_EQ(full.status, 1) << format;
        EXPECT_EQ(full.err, "lumetra: cannot write the results to the standard output\n") << format;
    }
    // The last file is never reached, so it gets no line.
    const ProgramRun full =
        run(withJobs({golden("scene64.ppm"), golden("scene64__noise.ppm"),
                      golden("scene64__blur.ppm"), (_dir / "missing.ppm").string()}),
            -1, "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "lumetra: cannot write the results to the standard output\n");
}

// One job, two (the machine's cores) and more files in flight than cores.
INSTANTIATE_TEST_SUITE_P(Jobs, LumetraCommandJobs, ::testing::Values(1, 2, 8));

TEST_F(LumetraCommand, EngineOptionsReachTheEngine) {
    const ProgramRun noMasking =
        run({"--format", "tsv", "--no-intra-a", "--no-intra-c1", "--no-intra-c2",
             golden("scene64.ppm"), golden("scene64__noise.ppm")});
    ASSERT_EQ(noMasking.status, 0) << noMasking.err;
    std::vector<Record> records = parseTsv(noMasking.out);
    ASSERT_EQ(records.size(), 2u);
    expectScores(std::stod(records[1][1]), std::stod(records[1][2]), goldenNoiseWith("no masking"),
                 "no masking");

    const ProgramRun weights = run({"--format", "tsv", "--alpha", "0", "--beta", "2", "--co", "1",
                                    golden("scene64.ppm"), golden("scene64__noise.ppm")});
    ASSERT_EQ(weights.status, 0) << weights.err;
    records = parseTsv(weights.out);
    ASSERT_EQ(records.size(), 2u);
    expectScores(std::stod(records[1][1]), std::stod(records[1][2]),
                 goldenNoiseWith("alpha 0 beta 2 co 1"), "alpha 0 beta 2 co 1");

    // The score line: a measure of 0 scores exactly the offset.
    const ProgramRun line = run({"--format", "csv", "-a", "0.5", "-b", "2.5", golden("scene64.ppm"),
                                 golden("scene64__copy.ppm")});
    ASSERT_EQ(line.status, 0) << line.err;
    EXPECT_EQ(parseCsv(line.out).at(1), (Record{golden("scene64__copy.ppm"), "0", "2.5", ""}));
}

TEST_F(LumetraCommand, JsonOfTheSamplesParsesBackWithErrorRowsInPlace) {
    const fs::path broken = _dir / "broken, \"cut\" short.ppm";
    writeFile(broken, truncatedPpm());
    const std::vector<std::string> degraded = {
        (kSamples / "astronaut_jpeg90.ppm").string(), broken.string(),
        (kSamples / "astronaut_jpeg50.ppm").string(), golden("scene64.ppm"),
        (kSamples / "astronaut_jpeg20.ppm").string()};
    std::vector<std::string> args = {"--format", "json", (kSamples / "astronaut.ppm").string()};
    args.insert(args.end(), degraded.begin(), degraded.end());
    const ProgramRun r = run(args);
    EXPECT_EQ(r.status, 1);

    const std::optional<std::vector<JsonObject>> objects = JsonParser(r.out).parseArray();
    ASSERT_TRUE(objects) << r.out;
    ASSERT_EQ(objects->size(), degraded.size());
    for (std::size_t i = 0; i < degraded.size(); ++i) {
        const JsonObject& o = (*objects)[i];
        ASSERT_EQ(o.size(), 6u);
        EXPECT_EQ(o.at("file").text(), degraded[i]);
        const bool bad = i == 1 || i == 3;
        EXPECT_EQ(o.at("measure").isNull(), bad) << i;
        // What each file declares: the samples declare nothing; a file not read, null.
        if (!bad) {
            EXPECT_EQ(o.at("colour").text(), "none (read as sRGB)") << i;
            EXPECT_EQ(o.at("orientation").number(), 1.0) << i;
        } else {
            EXPECT_TRUE(o.at("colour").isNull());
        }
        EXPECT_EQ(o.at("score").isNull(), bad) << i;
        EXPECT_EQ(o.at("error").isNull(), !bad) << i;
        if (bad) {
            // The reason names the file, here and on standard error.
            EXPECT_NE(o.at("error").text().find(degraded[i]), std::string::npos);
            EXPECT_NE(r.err.find(degraded[i]), std::string::npos) << r.err;
        }
    }
    EXPECT_NE((*objects)[3].at("error").text().find("64 x 64"), std::string::npos);
    EXPECT_NE((*objects)[3].at("error").text().find("256 x 256"), std::string::npos);

    // Stronger compression, larger measure.
    const double q90 = (*objects)[0].at("measure").number();
    const double q50 = (*objects)[2].at("measure").number();
    const double q20 = (*objects)[4].at("measure").number();
    EXPECT_LT(q90, q50);
    EXPECT_LT(q50, q20);
}

TEST_F(LumetraCommand, TableShowsSixDigitsInAlignedColumns) {
    const ProgramRun r = run({golden("scene64.ppm"), golden("scene64__noise.ppm"),
                              golden("scene64__copy.ppm"), golden("scene97x64.ppm")});
    EXPECT_EQ(r.status, 1);
    std::istringstream lines(r.out);
    std::vector<std::string> table;
    for (std::string line; std::getline(lines, line);) table.push_back(line);
    ASSERT_EQ(table.size(), 4u) << r.out;

    // The measure column ends at the same place on every row.
    const std::size_t measureEnd = table[0].find("Measure") + std::strlen("Measure");
    EXPECT_EQ(table[0].rfind("File name", 0), 0u);
    EXPECT_EQ(table[1].rfind(golden("scene64__noise.ppm"), 0), 0u);
    EXPECT_EQ(table[1].substr(measureEnd - 7, 7), "736.982");
    EXPECT_EQ(table[1].substr(table[1].size() - 7), "3.24653");
    EXPECT_EQ(table[2].substr(measureEnd - 1, 1), "0");
    EXPECT_EQ(table[2].substr(table[2].size() - 3), "3.8");
    EXPECT_EQ(table[3].substr(measureEnd - 5, 5), "error");
    EXPECT_NE(table[3].find("97 x 64"), std::string::npos);
}

// A viewing geometry given on the command line reaches the engine and is printed: on stderr
// for CSV (whose rows stay parseable), above the table, in each JSON row.  --ppd 60 is the
// standard geometry, so its rows are the default ones.
TEST_F(LumetraCommand, ViewingGeometryReachesTheEngineAndIsShown) {
    const std::string original = golden("scene64.ppm"), degraded = golden("scene64__noise.ppm");
    const ProgramRun standard = run({"--format", "csv", original, degraded});
    ASSERT_EQ(standard.status, 0) << standard.err;
    EXPECT_EQ(standard.err, "");

    const ProgramRun sixty = run({"--format", "csv", "--ppd", "60", original, degraded});
    ASSERT_EQ(sixty.status, 0) << sixty.err;
    EXPECT_EQ(sixty.out, standard.out);
    EXPECT_EQ(sixty.err, "lumetra: viewing: 60 pixels per degree\n");

    const ProgramRun farther = run({"--format", "csv", "--ppd", "120", original, degraded});
    ASSERT_EQ(farther.status, 0) << farther.err;
    const std::vector<Record> rows = parseCsv(farther.out), standardRows = parseCsv(standard.out);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(standardRows.size(), 2u);
    // Noise seen from twice as far is less visible.
    EXPECT_LT(std::stod(rows[1][1]), std::stod(standardRows[1][1]));

    const ProgramRun table = run({"--ppd", "120", original, degraded});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.rfind("viewing: 120 pixels per degree\nFile name", 0), 0u) << table.out;

    const ProgramRun json =
        run({"--format", "json", "--display", "1920,53,70", original, degraded});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("\"error\": null, \"colour\": \"none (read as sRGB)\", "
                            "\"orientation\": 1, \"ppd\": 44.2600389}"),
              std::string::npos)
        << json.out;

    const ProgramRun both = run({"--ppd", "45", "--display", "1920,53,70", original, degraded});
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.out, "");
}

// ---------------------------------------------------------------------------------------------
// Bad input

// Each kind of bad degraded file, given between two good ones.
struct BadFile {
    const char* name;
    std::string (*make)(const fs::path& dir);  // writes the file if needed, returns its path
    const char* reason;                        // part of the reported reason
};

const BadFile kBadFiles[] = {
    {"SizeMismatch", [](const fs::path&) { return golden("scene97x64.ppm"); }, "97 x 64"},
    // Of another size and with samples that do not decode: the size is judged from the
    // header alone, before any pixel is read.
    {"SizeMismatchBeforeDecoding",
     [](const fs::path& dir) {
         writeFile(dir / "wide.ppm", "P3\n97 64\n255\n" + std::string(97 * 64 * 3 * 2, 'x'));
         return (dir / "wide.ppm").string();
     },
     "is 97 x 64 but the original is 64 x 64"},
    {"Truncated",
     [](const fs::path& dir) {
         writeFile(dir / "truncated.ppm", truncatedPpm());
         return (dir / "truncated.ppm").string();
     },
     "ends inside the pixel data"},
    {"Missing", [](const fs::path& dir) { return (dir / "missing.ppm").string(); }, "no such file"},
    {"NotAnImage",
     [](const fs::path& dir) {
         writeFile(dir / "notes.ppm", "these are not pixels\n");
         return (dir / "notes.ppm").string();
     },
     "unsupported format"},
};

class LumetraCommandBadFile : public LumetraCommand,
                              public ::testing::WithParamInterface<BadFile> {};

TEST_P(LumetraCommandBadFile, GetsAnErrorRowWhileTheOthersAreScored) {
    const std::string bad = GetParam().make(_dir);
    const ProgramRun r = run({"--format", "csv", golden("scene64.ppm"),
                              golden("scene64__noise.ppm"), bad, golden("scene64__blur.ppm")});
    EXPECT_EQ(r.status, 1);
    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), 4u) << r.out;
    const std::map<std::string, Expected> expected = goldenDefaults();
    expectScores(std::stod(records[1][1]), std::stod(records[1][2]),
                 expected.at("scene64__noise.ppm"), "before the bad file");
    expectScores(std::stod(records[3][1]), std::stod(records[3][2]),
                 expected.at("scene64__blur.ppm"), "after the bad file");

    EXPECT_EQ(records[2][0], bad);
    EXPECT_EQ(records[2][1], "");
    EXPECT_EQ(records[2][2], "");
    EXPECT_NE(records[2][3].find(GetParam().reason), std::string::npos) << records[2][3];
    // One diagnostic line, naming the file and the reason.
    EXPECT_EQ(r.err, "lumetra: " + records[2][3] + "\n");
    EXPECT_NE(r.err.find(bad), std::string::npos);

    // First in line, the file is read while the engine is built: the same row and line.
    const ProgramRun first =
        run({"--format", "csv", golden("scene64.ppm"), bad, golden("scene64__blur.ppm")});
    EXPECT_EQ(first.status, 1);
    const std::vector<Record> rows = parseCsv(first.out);
    ASSERT_EQ(rows.size(), 3u) << first.out;
    EXPECT_EQ(rows[1], records[2]);
    EXPECT_EQ(rows[2], records[3]);
    EXPECT_EQ(first.err, r.err);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LumetraCommandBadFile, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LumetraCommand, UsageErrorOrUnusableOriginalEndsWithStatusTwoAndNoRows) {
    EXPECT_EQ(run({golden("scene64.ppm")}).status, 2);  // no degraded file

    const fs::path tiny = _dir / "tiny.ppm";
    writeFile(tiny, std::string("P6\n4 4\n255\n") + std::string(4 * 4 * 3, '\x40'));
    const std::vector<std::pair<std::string, std::string>> originals = {
        {(_dir / "missing.ppm").string(), "no such file"},
        {tiny.string(), "8 x 8"},
    };
    for (const auto& [original, reason] : originals) {
        const ProgramRun r = run({original, golden("scene64__noise.ppm")});
        EXPECT_EQ(r.status, 2) << original;
        EXPECT_EQ(r.out, "") << original;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    }
}

// Viewing conditions far outside what the model covers give a measure that is not a number:
// every row fails with the reason (status 1), none reports the measure.
TEST_F(LumetraCommand, MeasureThatIsNotFiniteFailsItsRow) {
    for (const char* ppd : {"1e30", "1e-30"}) {
        for (const bool explain : {false, true}) {
            std::vector<std::string> words = {"--format", "csv", "--ppd", ppd};
            if (explain) words.push_back("--explain");
            words.insert(words.end(), {golden("scene64.ppm"), golden("scene64__noise.ppm"),
                                       golden("scene64__copy.ppm")});
            const ProgramRun r = run(words);
            const std::string what = std::string(ppd) + (explain ? " explained" : "");
            EXPECT_EQ(r.status, 1) << what;
            const std::vector<Record> rows = parseCsv(r.out);
            ASSERT_EQ(rows.size(), 3u) << what;
            for (std::size_t i = 1; i < rows.size(); ++i) {
                EXPECT_EQ(rows[i][1], "") << what;  // no measure
                EXPECT_EQ(rows[i][2], "") << what;  // no score
                EXPECT_NE(rows[i][3].find("the measure is not a finite number"), std::string::npos)
                    << rows[i][3];
            }
        }
    }
}

// --max-pixels refuses an original above the limit from its header (status 2, no rows); at
// the image's own size it scores as without the limit.
TEST_F(LumetraCommand, PixelLimitRefusesFilesAboveItFromTheirHeader) {
    const std::string original = golden("scene64.ppm"), degraded = golden("scene64__noise.ppm");
    const ProgramRun refused = run({"--max-pixels", "4095", original, degraded});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "lumetra: cannot read image \"" + original +
                               "\": image too large: 64 x 64 pixels, at most 4095 allowed\n");
    const ProgramRun limited = run({"--format", "csv", "--max-pixels", "4096", original, degraded});
    const ProgramRun unlimited = run({"--format", "csv", original, degraded});
    EXPECT_EQ(limited.status, 0) << limited.err;
    EXPECT_EQ(limited.out, unlimited.out);
}

// An animated file is scored as its first frame, which is said once per file on stderr, for
// the original and each degraded file alike; the rows are what they would be without it.
// The lossless AVIF and JPEG XL files hold the original's very pixels: measure 0.
TEST_F(LumetraCommand, AnimatedFilesAreScoredAsTheirFirstFrameAndSaidOnce) {
    const fs::path images = fs::path(LUMETRA_TEST_DATA_DIR) / "images";
    const std::string animatedJxl = (images / "animated24x16.jxl").string();
    const std::string animatedWebp = (images / "animated24x16.webp").string();
    const std::string losslessAvif = (images / "rgb24x16_lossless.avif").string();
    const ProgramRun r = run({"--format", "csv", animatedJxl, losslessAvif, animatedWebp,
                              animatedWebp, (images / "rgb24x16_lossless.jxl").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "lumetra: \"" + animatedJxl + "\": animated JPEG XL: the first frame is read\n" +
                  "lumetra: \"" + animatedWebp + "\": animated WebP: the first frame is read\n" +
                  "lumetra: \"" + animatedWebp + "\": animated WebP: the first frame is read\n");
    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), 5u) << r.out;
    for (std::size_t i = 1; i < records.size(); ++i) EXPECT_EQ(records[i][3], "") << i;
    EXPECT_EQ(std::stod(records[1][1]), 0.0);  // the lossless AVIF
    EXPECT_EQ(std::stod(records[4][1]), 0.0);  // the lossless JPEG XL
}

// The system's free memory in bytes (MemAvailable), 0 when it is not reported.
std::uint64_t availableBytes() {
    std::ifstream meminfo("/proc/meminfo");
    std::string name;
    std::uint64_t kibibytes = 0;
    while (meminfo >> name >> kibibytes) {
        if (name == "MemAvailable:") return kibibytes * 1024;
        meminfo.ignore(256, '\n');
    }
    return 0;
}

// An original whose engine cannot fit in memory is refused before anything is allocated,
// with what it needs and what there is, instead of the system killing the program.
TEST_F(LumetraCommand, RunTooLargeForTheMemoryIsRefusedBeforeItStarts) {
    // 16000 x 16000 pixels need about 65 GB, and about 40 GB even in low-memory mode: above
    // what this machine has, or skipped.
    constexpr std::uint64_t kSide = 16000;
    if (availableBytes() == 0 || availableBytes() > 38'000'000'000) {
        GTEST_SKIP() << "the machine has room for the engine";
    }
    // A sparse file: the pixels are never read, so the disk holds only the header.
    const std::string header = "P6\n16000 16000\n255\n";
    const fs::path huge = _dir / "huge.ppm";
    writeFile(huge, header);
    fs::resize_file(huge, header.size() + kSide * kSide * 3);
    const ProgramRun r = run({huge.string(), huge.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("lumetra: scoring against \"" + huge.string() +
                              "\" (16000 x 16000 pixels) needs about ",
                          0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find(" GB available"), std::string::npos) << r.err;
}

// A sparse PPM of side x side pixels, all black: only its header takes room on the disk.
fs::path sparsePpm(const fs::path& path, std::uint64_t side) {
    const std::string header =
        "P6\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
    writeFile(path, header);
    fs::resize_file(path, header.size() + side * side * 3);
    return path;
}

// An address-space limit (prlimit --as, ulimit -v) is room the estimate sees, as it sees the
// free memory and the control group's limit: a run it cannot hold is refused up front with the
// same message, instead of running until an allocation fails with "std::bad_alloc".
TEST_F(LumetraCommand, RunTooLargeForTheAddressSpaceLimitIsRefusedBeforeItStarts) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory takes terabytes of address space";
#endif
    const fs::path prlimit = "/usr/bin/prlimit";
    if (!fs::exists(prlimit)) GTEST_SKIP() << "no prlimit";
    // 3000 x 3000 pixels need about 1.4 GB even in low-memory mode, under a limit of 1 GB of
    // address space in all.
    const fs::path image = sparsePpm(_dir / "big.ppm", 3000);
    _launcher = {prlimit.string(), "--as=1000000000", "--"};
    const ProgramRun r = run({"--jobs", "1", image.string(), image.string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("lumetra: scoring against \"" + image.string() +
                              "\" (3000 x 3000 pixels) needs about ",
                          0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find(" GB available"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("bad_alloc"), std::string::npos) << r.err;
    // A data limit (prlimit --data) as well.
    _launcher = {prlimit.string(), "--data=900000000", "--"};
    const ProgramRun data = run({"--jobs", "1", image.string(), image.string()});
    EXPECT_EQ(data.status, 1) << data.err;
    EXPECT_NE(data.err.find("(3000 x 3000 pixels) needs about "), std::string::npos) << data.err;
    // A run the limit holds is scored.
    _launcher = {prlimit.string(), "--as=1000000000", "--"};
    const ProgramRun small =
        run({"--format", "csv", golden("scene64.ppm"), golden("scene64__noise.ppm")});
    EXPECT_EQ(small.status, 0) << small.err;
}

// A size x size PPM of colour gradients and a checker, which scores to finite numbers.
fs::path gradientPpm(const fs::path& path, unsigned size) {
    std::string pixels;
    pixels.reserve(std::size_t{3} * size * size);
    for (unsigned y = 0; y < size; ++y) {
        for (unsigned x = 0; x < size; ++x) {
            pixels += static_cast<char>(x * 255 / size);
            pixels += static_cast<char>(y * 255 / size);
            pixels += static_cast<char>(((x / 16 + y / 16) % 2) * 200);
        }
    }
    writeFile(path,
              "P6\n" + std::to_string(size) + " " + std::to_string(size) + "\n255\n" + pixels);
    return path;
}

// The gigabytes after `label` in `text` ("needs about 0.165 GB"), -1 when it is not there.
double gigabytesAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) return -1.0;
    return std::stod(text.substr(at + label.size()));
}

// A run that does not fit in the default mode is scored in low-memory mode, said once, with
// the default mode's numbers; one that does not fit even so is refused with what that mode
// needs.  The room is set through the address-space limit, measured against the room a
// refused run reports.
TEST_F(LumetraCommand, RunTooLargeForTheDefaultModeSwitchesToLowMemoryMode) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory takes terabytes of address space";
#endif
    const fs::path prlimit = "/usr/bin/prlimit";
    if (!fs::exists(prlimit)) GTEST_SKIP() << "no prlimit";
    const std::string image = gradientPpm(_dir / "gradient.ppm", 1024).string();
    const std::string degraded = golden("scene64.ppm");  // refused by its size: no scoring
    constexpr double kLimit = 1e9;
    _launcher = {prlimit.string(), "--as=" + std::to_string(static_cast<long long>(kLimit)), "--"};
    const ProgramRun probe =
        run({"--threads", "1", sparsePpm(_dir / "huge.ppm", 16000).string(), degraded});
    ASSERT_EQ(probe.status, 1) << probe.err;
    const double used = kLimit - gigabytesAfter(probe.err, "; ") * 1e9;  // what the process takes
    ASSERT_GT(used, 0.0) << probe.err;
    auto limitedTo = [&](double room) {
        _launcher = {prlimit.string(),
                     "--as=" + std::to_string(static_cast<long long>(used + room)), "--"};
    };

    // No room: refused with what low-memory mode needs.
    limitedTo(5e6);
    const ProgramRun refused = run({"--threads", "1", image, image});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    const double lowNeed = gigabytesAfter(refused.err, "needs about ") * 1e9;
    EXPECT_NE(refused.err.find(" even in low-memory mode; "), std::string::npos) << refused.err;
    ASSERT_GT(lowNeed, 0.0) << refused.err;

    // Room for low-memory mode only: switched, said once, the same numbers as unlimited.
    limitedTo(lowNeed * 1.05);
    const ProgramRun switched = run({"--threads", "1", "--format", "csv", image, image});
    EXPECT_EQ(switched.status, 0) << switched.err;
    const std::string notice = "scoring in low-memory mode";
    const std::size_t first = switched.err.find(notice);
    EXPECT_NE(first, std::string::npos) << switched.err;
    EXPECT_EQ(switched.err.find(notice, first + 1), std::string::npos) << switched.err;
    EXPECT_GT(gigabytesAfter(switched.err, "keeping the original's bands would need about ") * 1e9,
              lowNeed * 1.05)
        << switched.err;
    _launcher.clear();
    const ProgramRun unlimited = run({"--threads", "1", "--format", "csv", image, image});
    EXPECT_EQ(unlimited.err, "");
    EXPECT_EQ(switched.out, unlimited.out);
    // Asked for, low-memory mode is said nowhere and changes no number.
    const ProgramRun asked =
        run({"--low-memory", "--format", "csv", image, golden("scene64.ppm"), image});
    EXPECT_EQ(asked.status, 1);  // the 64 x 64 file is refused by its size
    EXPECT_EQ(asked.err.find(notice), std::string::npos) << asked.err;
    EXPECT_EQ(parseCsv(asked.out).at(2), parseCsv(unlimited.out).at(1));
}

// Environment variables set for the programs the test starts, and removed again.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::vector<std::pair<std::string, std::string>> variables)
        : _variables(std::move(variables)) {
        for (const auto& [name, value] : _variables) setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        for (const auto& variable : _variables) unsetenv(variable.first.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::vector<std::pair<std::string, std::string>> _variables;
};

// Memory that runs out although the estimate let the run start (tests/cli/FailingMmap.c makes
// every image plane after the first N fail) is said in words, never as the library exception's
// name: while scoring a file, that file's row fails with its share of the estimate and the
// other files are scored; while building the engine, the run ends with status 1.
TEST_F(LumetraCommand, MemoryThatRunsOutAnywayIsSaidInWords) {
#ifndef LUMETRA_FAILING_MMAP
    GTEST_SKIP() << "no failing mmap in a sanitizer build";
#else
    const fs::path image = sparsePpm(_dir / "grey.ppm", 1024);
    const fs::path other = sparsePpm(_dir / "other.ppm", 512);
    const fs::path count = _dir / "count.txt";
    // The planes the original and its engine take: a run whose one file is refused from its
    // header scores nothing.  On one thread, so that the pool's mappings come in one order.
    std::uint64_t engine = 0;
    {
        const ScopedEnvironment counting(
            {{"LD_PRELOAD", LUMETRA_FAILING_MMAP}, {"LUMETRA_TEST_MMAP_COUNT", count.string()}});
        const ProgramRun r =
            run({"--threads", "1", "--format", "csv", image.string(), other.string()});
        ASSERT_EQ(r.status, 1) << r.err;
        engine = std::stoull(readFile(count));
        ASSERT_GT(engine, 1u);
    }
    {
        // The file's planes fail; the run goes on to the next file.  (The first file is refused
        // from its header while the engine is built, so that the engine's planes are counted
        // alone.)
        const ScopedEnvironment failing({{"LD_PRELOAD", LUMETRA_FAILING_MMAP},
                                         {"LUMETRA_TEST_MMAP_LIMIT", std::to_string(engine)}});
        const ProgramRun r = run({"--threads", "1", "--jobs", "1", "--format", "csv",
                                  image.string(), other.string(), image.string(), other.string()});
        EXPECT_EQ(r.status, 1) << r.err;
        const std::vector<Record> records = parseCsv(r.out);
        ASSERT_EQ(records.size(), 4u) << r.out;
        EXPECT_EQ(records[2][3],
                  "out of memory while scoring \"" + image.string() + "\" (needs about 0.101 GB)")
            << r.out;
        EXPECT_NE(records[1][3].find("but the original is"), std::string::npos) << r.out;
        EXPECT_NE(records[3][3].find("but the original is"), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("bad_alloc"), std::string::npos) << r.err;
    }
    {
        // The engine's own planes fail.
        const ScopedEnvironment failing({{"LD_PRELOAD", LUMETRA_FAILING_MMAP},
                                         {"LUMETRA_TEST_MMAP_LIMIT", std::to_string(engine - 1)}});
        const ProgramRun r =
            run({"--threads", "1", "--format", "csv", image.string(), image.string()});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "lumetra: out of memory while building the engine for \"" +
                             image.string() + "\"\n");
    }
#endif
}

// ---------------------------------------------------------------------------------------------
// Map files

TEST_F(LumetraCommand, ErrorMapsArePngsOfTheImageSizeWithDistinctNames) {
    // Two degraded files called x.ppm in different folders.
    fs::create_directories(_dir / "a");
    fs::create_directories(_dir / "b");
    fs::copy_file(kGolden / "scene97x64__noise.ppm", _dir / "a" / "x.ppm");
    fs::copy_file(kGolden / "scene97x64__blocks.ppm", _dir / "b" / "x.ppm");
    const fs::path maps = _dir / "maps" / "nested";
    const fs::path floats = _dir / "floats";
    const ProgramRun r = run({"--format", "csv", "--error-maps", maps.string(), "--float-maps",
                              floats.string(), golden("scene97x64.ppm"),
                              (_dir / "a" / "x.ppm").string(), (_dir / "b" / "x.ppm").string()});
    ASSERT_EQ(r.status, 0) << r.err;

    constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const char* name : {"x.errmap.png", "x-2.errmap.png"}) {
        const std::string png = readFile(maps / name);
        ASSERT_GE(png.size(), sizeof kPngSignature) << name;
        EXPECT_EQ(std::memcmp(png.data(), kPngSignature, sizeof kPngSignature), 0) << name;
        int width = 0, height = 0, channels = 0;
        ASSERT_TRUE(stbi_info((maps / name).c_str(), &width, &height, &channels)) << name;
        EXPECT_EQ(width, 97);
        EXPECT_EQ(height, 64);
        EXPECT_EQ(channels, 3);
    }
    // The blocks map is not the noise map.
    EXPECT_NE(readFile(maps / "x.errmap.png"), readFile(maps / "x-2.errmap.png"));

    for (const char* name : {"x.errmap.pfm", "x-2.errmap.pfm"}) {
        const std::string pfm = readFile(floats / name);
        const std::string header = "Pf\n97 64\n-1.0\n";
        EXPECT_EQ(pfm.substr(0, header.size()), header) << name;
        EXPECT_EQ(pfm.size(), header.size() + 97u * 64u * sizeof(float)) << name;
    }
}

TEST_F(LumetraCommand, MapsNeverReplaceAnInputFile) {
    // A degraded input that sits where the map of another input would go.  The file holds
    // PPM data: images are recognised by content, not by name.
    const fs::path maps = _dir / "maps";
    fs::create_directories(maps);
    fs::create_directories(_dir / "in");
    fs::copy_file(kGolden / "scene64__noise.ppm", _dir / "in" / "y.ppm");
    const fs::path inputInTheWay = maps / "y.errmap.png";
    fs::copy_file(kGolden / "scene64__blocks.ppm", inputInTheWay);
    const std::string before = readFile(inputInTheWay);

    const ProgramRun r =
        run({"--format", "csv", "--error-maps", maps.string(), golden("scene64.ppm"),
             (_dir / "in" / "y.ppm").string(), inputInTheWay.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(inputInTheWay), before);

    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), 3u) << r.out;
    // y.ppm is scored, but its map is refused.
    EXPECT_NE(records[1][1], "");
    EXPECT_NE(records[1][3].find("would replace an input file"), std::string::npos);
    // The other file's map goes to its own name.
    EXPECT_EQ(records[2][3], "");
    EXPECT_TRUE(fs::exists(maps / "y.errmap.errmap.png"));
}

// Each kind of map location that cannot take a file, and for root too (permissions would not
// stop root, who runs the tests).  `make` prepares the location under `dir` and returns the
// folder to give; `allRows` says whether every row's map is affected or only scene64__noise's.
struct BadMapPlace {
    const char* name;
    const char* option;  // --error-maps or --float-maps
    const char* suffix;  // that option's map suffix
    fs::path (*make)(const fs::path& dir, const std::string& suffix);
    bool allRows;
    const char* reason;  // part of the affected rows' error
};

fs::path folderThatIsAFile(const fs::path& dir, const std::string&) {
    writeFile(dir / "plain-file", "x");
    return dir / "plain-file";
}

fs::path folderBelowAFile(const fs::path& dir, const std::string&) {
    writeFile(dir / "plain-file", "x");
    return dir / "plain-file" / "maps";
}

// The noise file's map name is taken by a folder, which is never replaced.
fs::path mapNameThatIsAFolder(const fs::path& dir, const std::string& suffix) {
    fs::create_directories(dir / "maps" / ("scene64__noise" + suffix) / "inside");
    return dir / "maps";
}

// The noise file's map name is a link the user made to a full device: the map is written
// through the link, and the device refuses it.
fs::path mapNameLinkedToAFullDevice(const fs::path& dir, const std::string& suffix) {
    fs::create_directories(dir / "maps");
    fs::create_symlink("/dev/full", dir / "maps" / ("scene64__noise" + suffix));
    return dir / "maps";
}

const BadMapPlace kBadMapPlaces[] = {
    {"ErrorMapFolderIsAFile", "--error-maps", ".errmap.png", &folderThatIsAFile, true,
     "cannot make the folder"},
    {"FloatMapFolderBelowAFile", "--float-maps", ".errmap.pfm", &folderBelowAFile, true,
     "cannot make the folder"},
    {"ErrorMapNameIsAFolder", "--error-maps", ".errmap.png", &mapNameThatIsAFolder, false,
     "Is a directory"},
    {"FloatMapNameIsAFolder", "--float-maps", ".errmap.pfm", &mapNameThatIsAFolder, false,
     "Is a directory"},
    {"ErrorMapOnAFullDevice", "--error-maps", ".errmap.png", &mapNameLinkedToAFullDevice, false,
     "No space left on device"},
    {"FloatMapOnAFullDevice", "--float-maps", ".errmap.pfm", &mapNameLinkedToAFullDevice, false,
     "No space left on device"},
};

// Every name under `dir`, at any depth, that holds ".partial-": a temporary file left behind.
std::vector<std::string> partialFiles(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".partial-") != std::string::npos) found.push_back(entry.path().string());
    }
    return found;
}

// A link planted at an output name (by anyone who can write to the folder) is replaced by the
// output, never followed: the file it points to keeps its bytes, and a dangling link's target
// is not created.  Error map, float map, heat map and the report's page.
TEST_F(LumetraCommand, LinkAtAnOutputNameIsReplacedNotFollowed) {
    const fs::path outside = _dir / "outside";
    fs::create_directories(outside);
    const fs::path maps = _dir / "maps", report = _dir / "report";
    fs::create_directories(maps);
    fs::create_directories(report);
    const std::vector<std::pair<fs::path, fs::path>> links = {
        {maps / "scene64__noise.errmap.png", outside / "victim1"},
        {maps / "scene64__noise.errmap.pfm", outside / "dangling1"},
        {maps / "scene64__noise.heatmap.png", outside / "victim2"},
        {maps / "scene64__blur.heatmap.png", outside / "dangling2"},
        {report / "index.html", outside / "victim3"},
    };
    for (const auto& [link, target] : links) {
        if (target.filename().string().rfind("victim", 0) == 0) writeFile(target, "keep");
        fs::create_symlink(target, link);
    }
    const ProgramRun r =
        run({"--format", "csv", "--error-maps", maps.string(), "--float-maps", maps.string(),
             "--heatmaps", maps.string(), "--report", report.string(), golden("scene64.ppm"),
             golden("scene64__noise.ppm"), golden("scene64__blur.ppm")});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& [link, target] : links) {
        EXPECT_FALSE(fs::is_symlink(link)) << link;
        EXPECT_TRUE(fs::is_regular_file(link)) << link;
        EXPECT_GT(fs::file_size(link), 4u) << link;
        if (target.filename().string().rfind("victim", 0) == 0) {
            EXPECT_EQ(readFile(target), "keep") << target;
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << target;
        }
    }
    EXPECT_TRUE(partialFiles(_dir).empty());
}

// A disk that fills up: every file of the run may grow to kFullDiskBytes and no further
// (RLIMIT_FSIZE, which the program inherits, with SIGXFSZ ignored so that a write past it fails
// with EFBIG as a full disk's fails with ENOSPC).  Each output too large for it fails by name,
// every file left is whole, and no temporary or spilled file stays behind.
TEST_P(LumetraCommandJobs, FullDiskFailsEachOutputByNameAndLeavesOnlyWholeFiles) {
    // Above the rows and a 64 x 64 error map PNG, below a 64 x 64 float map (16 kB).
    constexpr rlim_t kFullDiskBytes = 8192;
    const fs::path out = _dir / "out";
    const std::vector<std::string> kinds = {"error", "float", "heat", "explain", "report"};
    std::vector<std::string> words = {"--format", "csv"};
    const std::vector<std::string> options = {"--error-maps", "--float-maps", "--heatmaps",
                                              "--explain-maps", "--report"};
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        words.insert(words.end(), {options[k], (out / kinds[k]).string()});
    }
    words.insert(words.end(), {golden("scene64.ppm"), golden("scene64__noise.ppm")});

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const rlimit full{kFullDiskBytes, saved.rlim_max};
    void (*const savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    const ProgramRun r = run(withJobs(words));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(r.status, 1) << r.err;
    const std::vector<Record> rows = parseCsv(r.out);
    ASSERT_EQ(rows.size(), 2u) << r.out;
    EXPECT_NE(rows[1][1], "");  // the scores stay
    for (const char* map :
         {"float/scene64__noise.errmap.pfm", "explain/scene64__noise.share.pfm"}) {
        EXPECT_NE(rows[1][3].find("cannot write \"" + (out / map).string() + "\": File too large"),
                  std::string::npos)
            << rows[1][3];
    }
    EXPECT_EQ(partialFiles(out), std::vector<std::string>{});
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        EXPECT_NE(name.front(), '.') << "a hidden spill file stayed: " << entry.path();
        EXPECT_NE(entry.path().extension(), ".pfm") << "a float map larger than the disk";
        if (entry.path().extension() == ".png") {
            int width = 0, height = 0, channels = 0;
            unsigned char* pixels = stbi_load(entry.path().c_str(), &width, &height, &channels, 0);
            EXPECT_NE(pixels, nullptr) << entry.path() << " is not a whole PNG";
            stbi_image_free(pixels);
        }
    }
}

class LumetraCommandBadMapPlace : public LumetraCommand,
                                  public ::testing::WithParamInterface<BadMapPlace> {};

TEST_P(LumetraCommandBadMapPlace, FailsExactlyTheAffectedRowsAndLeavesNoPartialFile) {
    const BadMapPlace& place = GetParam();
    const fs::path folder = place.make(_dir, place.suffix);
    // The other kind of map goes to a good folder and is written for every file.
    const bool errorMapsBad = std::string(place.option) == "--error-maps";
    const fs::path goodFolder = _dir / "good";
    const std::string goodSuffix = errorMapsBad ? ".errmap.pfm" : ".errmap.png";
    const std::vector<std::string> names = {"scene64__noise", "scene64__blur"};
    const ProgramRun r =
        run({"--format", "csv", place.option, folder.string(),
             errorMapsBad ? "--float-maps" : "--error-maps", goodFolder.string(),
             golden("scene64.ppm"), golden(names[0] + ".ppm"), golden(names[1] + ".ppm")});
    EXPECT_EQ(r.status, 1) << r.err;

    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), 3u) << r.out;
    const std::map<std::string, Expected> expected = goldenDefaults();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Record& row = records[i + 1];
        ASSERT_EQ(row.size(), 4u);
        // Every file is scored, whatever became of its maps.
        expectScores(std::stod(row[1]), std::stod(row[2]), expected.at(names[i] + ".ppm"), row[0]);
        EXPECT_TRUE(fs::is_regular_file(goodFolder / (names[i] + goodSuffix))) << names[i];
        const bool affected = place.allRows || i == 0;
        if (affected) {
            EXPECT_NE(row[3].find(place.reason), std::string::npos) << row[3];
            EXPECT_NE(row[3].find(names[i] + place.suffix), std::string::npos) << row[3];
            EXPECT_NE(r.err.find("lumetra: " + row[3] + "\n"), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(row[3], "");
            EXPECT_TRUE(fs::is_regular_file(folder / (names[i] + place.suffix))) << names[i];
        }
    }
    EXPECT_EQ(partialFiles(_dir), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Kinds, LumetraCommandBadMapPlace, ::testing::ValuesIn(kBadMapPlaces),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Quality gates

// Limits are set this far (relative) beyond a golden value: ten times expected.tsv's 1e-4
// agreement, so each lands on its intended side on any conforming build.
constexpr double kLimitMargin = 1e-3;

// The 99th percentile of a float map as the gate takes it: between the two nearest order
// statistics at position 0.99 (n - 1) of the sorted values, in double.
double p99OfFloatMap(const fs::path& pfm) {
    const std::string bytes = readFile(pfm);
    const std::string header = "Pf\n64 64\n-1.0\n";  // the scene64 maps, little-endian
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    std::vector<double> values;
    for (std::size_t at = header.size(); at + sizeof(float) <= bytes.size(); at += sizeof(float)) {
        std::uint32_t bits = 0;
        for (std::size_t k = sizeof(float); k-- > 0;) {
            bits = (bits << 8) | static_cast<unsigned char>(bytes[at + k]);
        }
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
    }
    EXPECT_EQ(values.size(), 64u * 64u);
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double position = 0.99 * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(position);
    const double low = values[below];
    const double high = values[std::min(below + 1, values.size() - 1)];
    return low + (high - low) * (position - static_cast<double>(below));
}

std::string limitText(double value) {
    std::ostringstream text;
    text.precision(9);
    text << value;
    return text.str();
}

// The golden values the gate cases set their limits around.
struct GateReferences {
    Expected noise;
    Expected blur;
    double noiseP99;
};

// One gate run over scene64's noise and blur pairs (blur is the worse on both measure and
// score: 4026.86 / 1 against 736.982 / 3.24653), or the copy alone.
struct GateCase {
    const char* name;
    std::vector<std::string> (*gates)(const GateReferences& ref);
    std::vector<std::string> files;  // golden degraded files
    int status;
    std::vector<std::string> gateColumn;  // one per file
};

double above(double value) {
    return value * (1.0 + kLimitMargin);
}
double below(double value) {
    return value * (1.0 - kLimitMargin);
}

const std::vector<std::string> kNoiseAndBlur = {"scene64__noise.ppm", "scene64__blur.ppm"};

const GateCase kGateCases[] = {
    {"MeasureLimitAboveEveryFilePasses",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-above", limitText(above(ref.blur.measure))};
     },
     kNoiseAndBlur,
     0,
     {"", ""}},
    {"MeasureLimitBetweenFailsTheWorse",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-above", limitText(above(ref.noise.measure))};
     },
     kNoiseAndBlur,
     3,
     {"", "measure"}},
    {"MeasureLimitBelowEveryFileFailsBoth",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-above", limitText(below(ref.noise.measure))};
     },
     kNoiseAndBlur,
     3,
     {"measure", "measure"}},
    {"ScoreLimitBelowEveryFilePasses",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-below", limitText(below(ref.blur.score))};
     },
     kNoiseAndBlur,
     0,
     {"", ""}},
    {"ScoreLimitBetweenFailsTheWorse",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-below", limitText(below(ref.noise.score))};
     },
     kNoiseAndBlur,
     3,
     {"", "score"}},
    {"ScoreLimitAboveEveryFileFailsBoth",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-below", limitText(above(ref.noise.score))};
     },
     kNoiseAndBlur,
     3,
     {"score", "score"}},
    {"P99LimitJustAboveTheFilePasses",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-p99-above", limitText(above(ref.noiseP99))};
     },
     {"scene64__noise.ppm"},
     0,
     {""}},
    {"P99LimitJustBelowTheFileFails",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-p99-above", limitText(below(ref.noiseP99))};
     },
     {"scene64__noise.ppm"},
     3,
     {"p99"}},
    {"EveryGateCrossedIsNamed",
     [](const GateReferences& ref) {
         return std::vector<std::string>{"--fail-p99-above", limitText(below(ref.noiseP99)),
                                         "--fail-below",     limitText(above(ref.noise.score)),
                                         "--fail-above",     limitText(below(ref.noise.measure))};
     },
     {"scene64__noise.ppm"},
     3,
     {"measure+score+p99"}},
    // Strict limits: the copy's measure is exactly 0, its score exactly the offset 3.8 and its
    // error map all zero, so limits equal to them pass.
    {"ValuesEqualToTheLimitsPass",
     [](const GateReferences&) {
         return std::vector<std::string>{"--fail-above",     "0", "--fail-below", "3.8",
                                         "--fail-p99-above", "0"};
     },
     {"scene64__copy.ppm"},
     0,
     {""}},
};

class LumetraCommandGate : public LumetraCommand, public ::testing::WithParamInterface<GateCase> {
  protected:
    GateReferences references() const {
        const std::map<std::string, Expected> expected = goldenDefaults();
        // The noise map's p99, from the raw map the program writes.
        const ProgramRun maps = run({"--float-maps", (_dir / "floats").string(),
                                     golden("scene64.ppm"), golden("scene64__noise.ppm")});
        EXPECT_EQ(maps.status, 0) << maps.err;
        return {expected.at("scene64__noise.ppm"), expected.at("scene64__blur.ppm"),
                p99OfFloatMap(_dir / "floats" / "scene64__noise.errmap.pfm")};
    }
};

TEST_P(LumetraCommandGate, ExitStatusAndGateColumnFollowTheLimits) {
    const GateCase& c = GetParam();
    std::vector<std::string> args = c.gates(references());
    args.insert(args.end(), {"--format", "csv", golden("scene64.ppm")});
    for (const std::string& file : c.files) args.push_back(golden(file));
    const ProgramRun r = run(args);
    EXPECT_EQ(r.status, c.status) << r.err;

    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), c.files.size() + 1) << r.out;
    EXPECT_EQ(records[0], (Record{"file", "measure", "score", "error", "gate"}));
    for (std::size_t i = 0; i < c.files.size(); ++i) {
        ASSERT_EQ(records[i + 1].size(), 5u);
        EXPECT_EQ(records[i + 1][3], "") << c.files[i];
        EXPECT_EQ(records[i + 1][4], c.gateColumn[i]) << c.files[i];
    }
    // Status 3 comes with one line saying why; a passing run writes nothing.
    const std::size_t crossed = static_cast<std::size_t>(
        std::count_if(c.gateColumn.begin(), c.gateColumn.end(),
                      [](const std::string& gate) { return !gate.empty(); }));
    const std::string files = c.files.size() == 1 ? " file" : " files";
    EXPECT_EQ(r.err, crossed == 0 ? std::string()
                                  : "lumetra: " + std::to_string(crossed) + " of " +
                                        std::to_string(c.files.size()) + files +
                                        " crossed a quality gate\n");
}

INSTANTIATE_TEST_SUITE_P(Limits, LumetraCommandGate, ::testing::ValuesIn(kGateCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LumetraCommand, FailedFileOutranksACrossedGateAndHasNoVerdict) {
    const std::string missing = (_dir / "missing.ppm").string();
    const ProgramRun r = run({"--format", "json", "--fail-above", "1", golden("scene64.ppm"),
                              golden("scene64__noise.ppm"), missing, golden("scene64__copy.ppm")});
    EXPECT_EQ(r.status, 1);
    const std::optional<std::vector<JsonObject>> objects = JsonParser(r.out).parseArray();
    ASSERT_TRUE(objects) << r.out;
    ASSERT_EQ(objects->size(), 3u);
    EXPECT_EQ((*objects)[0].at("gate").text(), "measure");
    EXPECT_TRUE((*objects)[1].at("gate").isNull());  // not scored: no verdict
    EXPECT_FALSE((*objects)[1].at("error").isNull());
    EXPECT_EQ((*objects)[2].at("gate").text(), "");  // passed
    EXPECT_NE(r.err.find("1 of 3 files crossed a quality gate"), std::string::npos) << r.err;
}

TEST_F(LumetraCommand, GateLimitThatIsNotAFiniteNumberIsAUsageError) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--fail-above", "nan"},  {"--fail-above", "inf"},     {"--fail-above", "abc"},
        {"--fail-below", "-inf"}, {"--fail-p99-above", "NaN"}, {"--fail-p99-above", ""},
    };
    for (const auto& [option, value] : cases) {
        const ProgramRun r =
            run({option, value, golden("scene64.ppm"), golden("scene64__noise.ppm")});
        EXPECT_EQ(r.status, 2) << option << " " << value;
        EXPECT_EQ(r.out, "") << option << " " << value;
        EXPECT_NE(r.err.find(option), std::string::npos) << r.err;
    }
}

TEST_F(LumetraCommand, TableMarksEachRowPassOrFail) {
    const ProgramRun r = run({"--fail-above", "1000", golden("scene64.ppm"),
                              golden("scene64__noise.ppm"), golden("scene64__blur.ppm")});
    EXPECT_EQ(r.status, 3);
    std::istringstream lines(r.out);
    std::vector<std::string> table;
    for (std::string line; std::getline(lines, line);) table.push_back(line);
    ASSERT_EQ(table.size(), 3u) << r.out;
    const std::size_t gateAt = table[0].find("Gate");
    ASSERT_NE(gateAt, std::string::npos) << table[0];
    EXPECT_EQ(table[1].substr(gateAt), "pass");
    EXPECT_EQ(table[2].substr(gateAt), "FAIL measure");
}

// ---------------------------------------------------------------------------------------------
// Explanations

const std::vector<std::string> kExplanationColumns = {
    "term_base",  "term_crown2",     "term_crown3", "term_crown4", "channel_A", "channel_C1",
    "channel_C2", "structure_share", "p50",         "p95",         "p99",       "max"};

// Each term share is rounded to float and printed with nine digits; their sum is 1 within
// four roundings and the terms' own float sum (about 1e-6).
constexpr double kTermShareSumTol = 1e-5;

// --explain only adds: every CSV row starts with the plain run's row, followed by the twelve
// explanation columns; JSON rows get the explanation object with exactly its keys.
TEST_F(LumetraCommand, ExplainAddsItsNumbersAfterThePlainOutput) {
    const std::vector<std::string> files = {golden("scene64.ppm"), golden("scene64__noise.ppm"),
                                            golden("scene64__blocks.ppm")};
    std::vector<std::string> plainArgs = {"--format", "csv"};
    plainArgs.insert(plainArgs.end(), files.begin(), files.end());
    std::vector<std::string> explainArgs = plainArgs;
    explainArgs.push_back("--explain");
    const ProgramRun plain = run(plainArgs);
    const ProgramRun explained = run(explainArgs);
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(explained.status, 0) << explained.err;
    const std::vector<Record> before = parseCsv(plain.out);
    const std::vector<Record> after = parseCsv(explained.out);
    ASSERT_EQ(after.size(), before.size());
    std::vector<std::string> header = before[0];
    header.insert(header.end(), kExplanationColumns.begin(), kExplanationColumns.end());
    EXPECT_EQ(after[0], header);
    for (std::size_t i = 1; i < after.size(); ++i) {
        ASSERT_EQ(after[i].size(), header.size());
        EXPECT_TRUE(std::equal(before[i].begin(), before[i].end(), after[i].begin())) << i;
        double terms = 0.0;
        for (std::size_t k = 0; k < 4; ++k) terms += std::stod(after[i][before[i].size() + k]);
        EXPECT_NEAR(terms, 1.0, kTermShareSumTol) << i;
    }

    std::vector<std::string> jsonArgs = {"--format", "json", "--explain"};
    jsonArgs.insert(jsonArgs.end(), files.begin(), files.end());
    const ProgramRun json = run(jsonArgs);
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json rows = nlohmann::json::parse(json.out);
    ASSERT_EQ(rows.size(), 2u);
    const auto keys = [](const nlohmann::json& object) {
        std::vector<std::string> names;
        for (const auto& [key, value] : object.items()) names.push_back(key);
        return names;
    };
    for (const nlohmann::json& row : rows) {
        const nlohmann::json& x = row.at("explanation");
        // nlohmann's object keeps its keys sorted.
        EXPECT_EQ(keys(x), (std::vector<std::string>{"channels", "percentiles", "structure_share",
                                                     "terms"}));
        EXPECT_EQ(keys(x.at("terms")),
                  (std::vector<std::string>{"base", "crown2", "crown3", "crown4"}));
        EXPECT_EQ(keys(x.at("channels")), (std::vector<std::string>{"A", "C1", "C2"}));
        EXPECT_EQ(keys(x.at("percentiles")),
                  (std::vector<std::string>{"max", "p50", "p95", "p99"}));
        EXPECT_TRUE(x.at("structure_share").is_number());
    }
}

// Reads a little-endian greyscale PFM of `rows` x `cols` written by the program.
std::vector<float> readPfm(const fs::path& path, std::uint32_t rows, std::uint32_t cols) {
    const std::string bytes = readFile(path);
    const std::string header =
        "Pf\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n-1.0\n";
    EXPECT_EQ(bytes.substr(0, header.size()), header) << path;
    EXPECT_EQ(bytes.size(), header.size() + std::size_t{rows} * cols * sizeof(float)) << path;
    std::vector<float> values(std::size_t{rows} * cols);
    if (bytes.size() != header.size() + values.size() * sizeof(float)) return {};
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::uint32_t word = 0;
        for (unsigned b = 0; b < 4; ++b) {
            word |= std::uint32_t{static_cast<unsigned char>(bytes[header.size() + 4 * i + b])}
                    << (8 * b);
        }
        std::memcpy(&values[i], &word, sizeof word);
    }
    return values;
}

// Every map is a PFM of the image size; the terms add up to the raw error map of the same run
// and the share map sums to 1.
TEST_F(LumetraCommand, ExplainMapsArePfmsThatExplainTheErrorMap) {
    const fs::path maps = _dir / "explained";
    const fs::path floats = _dir / "floats";
    const ProgramRun r =
        run({"--format", "csv", "--explain-maps", maps.string(), "--float-maps", floats.string(),
             golden("scene97x64.ppm"), golden("scene97x64__blocks.ppm")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parseCsv(r.out)[0].size(), 4u) << "--explain-maps alone adds no columns";

    std::map<std::string, std::vector<float>> read;
    for (const char* name : {"term-base", "term-crown2", "term-crown3", "term-crown4", "channel-A",
                             "channel-C1", "channel-C2", "block-weight", "edge-zone", "share"}) {
        read[name] = readPfm(maps / (std::string("scene97x64__blocks.") + name + ".pfm"), 64, 97);
        ASSERT_EQ(read[name].size(), 64u * 97u) << name;
    }
    const std::vector<float> error = readPfm(floats / "scene97x64__blocks.errmap.pfm", 64, 97);
    ASSERT_EQ(error.size(), 64u * 97u);
    double share = 0.0;
    for (std::size_t i = 0; i < error.size(); ++i) {
        const float sum =
            ((read["term-base"][i] + read["term-crown2"][i]) + read["term-crown3"][i]) +
            read["term-crown4"][i];
        ASSERT_EQ(sum, error[i]) << "pixel " << i;
        share += read["share"][i];
    }
    // Float shares of a double sum: see the engine's test.
    constexpr double kShareSumTol = 1e-6;
    EXPECT_NEAR(share, 1.0, kShareSumTol);
}

// A map that cannot be written fails its file's row like the other map outputs.
TEST_F(LumetraCommand, ExplainMapThatCannotBeWrittenFailsItsRow) {
    const fs::path maps = _dir / "explained";
    fs::create_directories(maps / "scene64__noise.share.pfm");  // a folder where a file must go
    const ProgramRun r =
        run({"--format", "csv", "--explain", "--explain-maps", maps.string(), golden("scene64.ppm"),
             golden("scene64__noise.ppm"), golden("scene64__blur.ppm")});
    EXPECT_EQ(r.status, 1);
    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), 3u) << r.out;
    EXPECT_NE(records[1][1], "");  // scored, with its numbers, but failed
    EXPECT_NE(records[1][3].find("scene64__noise.share.pfm"), std::string::npos) << records[1][3];
    EXPECT_NE(records[1][4], "");
    EXPECT_EQ(records[2][3], "");
    EXPECT_TRUE(fs::exists(maps / "scene64__blur.share.pfm"));
}

// ---------------------------------------------------------------------------------------------
// Heat maps

// An 8-bit RGB picture read back with stb; empty when it cannot be read.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    // Mean of all channels over columns [left, right) of every row.
    double meanLevel(int left, int right) const {
        double sum = 0.0;
        for (int y = 0; y < height; ++y) {
            for (int x = left; x < right; ++x) {
                for (int ch = 0; ch < 3; ++ch) sum += rgb[(std::size_t(y) * width + x) * 3 + ch];
            }
        }
        return sum / (3.0 * height * (right - left));
    }
};

Picture readPicture(const fs::path& path) {
    Picture picture;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &picture.width, &picture.height, &channels, 3);
    if (pixels == nullptr) return picture;
    picture.rgb.assign(pixels, pixels + std::size_t(picture.width) * picture.height * 3);
    stbi_image_free(pixels);
    return picture;
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

constexpr int kScene64 = 64;  // side of the scene64 golden images

TEST_F(LumetraCommand, HeatMapsShareOneScaleSoTheWorseFileIsBrighter) {
    const fs::path heat = _dir / "heat";
    const ProgramRun r = run({"--format", "csv", "--heatmaps", heat.string(), golden("scene64.ppm"),
                              golden("scene64__noise.ppm"), golden("scene64__blur.ppm")});
    ASSERT_EQ(r.status, 0) << r.err;
    // Blur is the worse of the two (measure 4027 against 737 in expected.tsv).
    const Picture noise = readPicture(heat / "scene64__noise.heatmap.png");
    const Picture blur = readPicture(heat / "scene64__blur.heatmap.png");
    ASSERT_EQ(noise.height, kScene64);
    ASSERT_GT(noise.width, kScene64);  // the legend is to the right
    ASSERT_EQ(blur.width, noise.width);
    EXPECT_GT(blur.meanLevel(0, kScene64), noise.meanLevel(0, kScene64));
    // One scale: the same legend, bar and labels, beside both maps.
    for (int y = 0; y < kScene64; ++y) {
        const auto row = [&](const Picture& p) {
            const auto* start = p.rgb.data() + (std::size_t(y) * p.width + kScene64) * 3;
            return std::vector<unsigned char>(start, start + (p.width - kScene64) * 3);
        };
        ASSERT_EQ(row(noise), row(blur)) << "legend row " << y;
    }
    // The temporary maps are gone.
    EXPECT_EQ(namesIn(heat), (std::vector<std::string>{"scene64__blur.heatmap.png",
                                                       "scene64__noise.heatmap.png"}));
}

TEST_F(LumetraCommand, FixedHeatMaxDrawsAFileTheSameWhateverElseTheRunHolds) {
    // The noise file's heat map from a run of the given options and extra degraded files.
    const auto noiseMap = [&](const std::string& folder, const std::vector<std::string>& options,
                              const std::vector<std::string>& others) {
        std::vector<std::string> words = {"--heatmaps", (_dir / folder).string()};
        words.insert(words.end(), options.begin(), options.end());
        words.insert(words.end(), {golden("scene64.ppm"), golden("scene64__noise.ppm")});
        words.insert(words.end(), others.begin(), others.end());
        const ProgramRun r = run(words);
        EXPECT_EQ(r.status, 0) << r.err;
        return readFile(_dir / folder / "scene64__noise.heatmap.png");
    };
    const std::vector<std::string> fixed = {"--heat-max", "1500"};
    const std::vector<std::string> blur = {golden("scene64__blur.ppm")};
    const std::string fixedAlone = noiseMap("a", fixed, {});
    EXPECT_NE(fixedAlone, "");
    // Byte comparisons as booleans: a failure would otherwise print two PNG files.
    EXPECT_TRUE(fixedAlone == noiseMap("b", fixed, blur));
    // The run's own scale depends on the other files: the blur raises it.
    EXPECT_FALSE(noiseMap("c", {}, {}) == noiseMap("d", {}, blur));
}

TEST_F(LumetraCommand, HeatMapOverTheOriginalIsTheOriginalsGreyWhereNothingChanged) {
    const fs::path heat = _dir / "heat";
    const ProgramRun r =
        run({"--heatmaps", heat.string(), "--heat-on-original", "--heat-colours", "magma",
             golden("scene64.ppm"), golden("scene64__copy.ppm"), golden("scene64__noise.ppm")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Picture original = readPicture(kGolden / "scene64.ppm");
    const Picture copy = readPicture(heat / "scene64__copy.heatmap.png");
    ASSERT_EQ(original.width, kScene64);
    ASSERT_EQ(copy.height, kScene64);
    for (int y = 0; y < kScene64; ++y) {
        for (int x = 0; x < kScene64; ++x) {
            const unsigned char* o = &original.rgb[(std::size_t(y) * kScene64 + x) * 3];
            const unsigned char* h = &copy.rgb[(std::size_t(y) * copy.width + x) * 3];
            // BT.709 weights on the 8-bit samples, rounded once.
            const double grey = std::round(0.2126 * o[0] + 0.7152 * o[1] + 0.0722 * o[2]);
            ASSERT_EQ(h[0], grey) << "x " << x << " y " << y;
            ASSERT_EQ(h[1], grey) << "x " << x << " y " << y;
            ASSERT_EQ(h[2], grey) << "x " << x << " y " << y;
        }
    }
}

// Per file, the noise file's map (the better of the two) fills its own scale and so is
// brighter than on the run's shared scale, which the blur file's map sets; the log scale
// lifts small errors too and prints its knee above the colour bar.
TEST_F(LumetraCommand, HeatScaleChoosesSharedPerFileOrLogarithmic) {
    const auto noiseMap = [&](const std::string& folder, const std::string& scale) {
        const fs::path heat = _dir / folder;
        const ProgramRun r =
            run({"--format", "csv", "--heatmaps", heat.string(), "--heat-scale", scale,
                 golden("scene64.ppm"), golden("scene64__noise.ppm"), golden("scene64__blur.ppm")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(namesIn(heat), (std::vector<std::string>{"scene64__blur.heatmap.png",
                                                           "scene64__noise.heatmap.png"}));
        return readPicture(heat / "scene64__noise.heatmap.png");
    };
    const Picture shared = noiseMap("shared", "shared");
    const Picture perFile = noiseMap("per-file", "per-file");
    const Picture log = noiseMap("log", "log");
    EXPECT_GT(perFile.meanLevel(0, kScene64), shared.meanLevel(0, kScene64));
    EXPECT_GT(log.meanLevel(0, kScene64), shared.meanLevel(0, kScene64));
}

// More threads than the machine runs are cut to its count, said once in our words; oneTBB's
// own warning never shows.
TEST_F(LumetraCommand, ThreadsBeyondTheMachineAreCutAndSaidOnce) {
    const ProgramRun r = run({"--format", "csv", "--threads", "1024", golden("scene64.ppm"),
                              golden("scene64__noise.ppm"), golden("scene64__blur.ppm")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parseCsv(r.out).size(), 3u) << r.out;
    const std::string said = "lumetra: --threads 1024: this machine runs ";
    ASSERT_EQ(r.err.rfind(said, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find(said, 1), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("TBB"), std::string::npos) << r.err;
}

// A heat-map folder that cannot be made fails each row with the folder's plain reason, as
// the error-map folders and the report do, and never names a hidden temporary.
TEST_F(LumetraCommand, HeatMapFolderThatCannotBeMadeSaysSoPlainly) {
    writeFile(_dir / "plain-file", "x");
    const fs::path heat = _dir / "plain-file" / "heat";
    const ProgramRun r = run({"--format", "csv", "--heatmaps", heat.string(), golden("scene64.ppm"),
                              golden("scene64__noise.ppm")});
    EXPECT_EQ(r.status, 1);
    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), 2u) << r.out;
    EXPECT_NE(records[1][3].find("cannot make the folder \"" + heat.string() + "\""),
              std::string::npos)
        << records[1][3];
    EXPECT_EQ(r.err.find("partial"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("cannot wait"), std::string::npos) << r.err;
}

class LumetraCommandHeatMapFailure : public LumetraCommand,
                                     public ::testing::WithParamInterface<bool> {};

TEST_P(LumetraCommandHeatMapFailure, FailsThatFilesRowAndLeavesNoPartialFile) {
    const fs::path heat = _dir / "heat";
    // A non-empty folder where the noise file's heat map would go: it cannot be replaced.
    fs::create_directories(heat / "scene64__noise.heatmap.png" / "inside");
    std::vector<std::string> words = {"--format", "csv", "--heatmaps", heat.string()};
    if (GetParam()) words.insert(words.end(), {"--heat-max", "1000"});
    words.insert(words.end(), {golden("scene64.ppm"), golden("scene64__noise.ppm"),
                               golden("scene64__blur.ppm")});
    const ProgramRun r = run(words);
    EXPECT_EQ(r.status, 1);
    const std::vector<Record> records = parseCsv(r.out);
    ASSERT_EQ(records.size(), 3u) << r.out;
    EXPECT_NE(records[1][3].find("scene64__noise.heatmap.png"), std::string::npos) << r.out;
    EXPECT_EQ(records[2][3], "");
    // The blur file's map, the folder in the way and nothing else.
    EXPECT_EQ(namesIn(heat), (std::vector<std::string>{"scene64__blur.heatmap.png",
                                                       "scene64__noise.heatmap.png"}));
    EXPECT_TRUE(fs::is_directory(heat / "scene64__noise.heatmap.png" / "inside"));
}

INSTANTIATE_TEST_SUITE_P(Scales, LumetraCommandHeatMapFailure, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "FixedMax" : "RunScale"; });

// ---------------------------------------------------------------------------------------------
// Progress bar

// A pseudo-terminal for standard error; its output is read back after the program ends.
class Terminal {
  public:
    Terminal() {
        _master = posix_openpt(O_RDWR | O_NOCTTY);
        if (_master < 0 || grantpt(_master) != 0 || unlockpt(_master) != 0) return;
        _slave = open(ptsname(_master), O_RDWR | O_NOCTTY);
    }
    ~Terminal() {
        if (_slave >= 0) close(_slave);
        if (_master >= 0) close(_master);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool ok() const { return _slave >= 0; }
    int slave() const { return _slave; }

    // What the program wrote; the program has ended, so everything is buffered already.
    std::string drain() {
        close(_slave);
        _slave = -1;
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(_master, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
        return text;
    }

  private:
    int _master = -1;
    int _slave = -1;
};

TEST_F(LumetraCommand, ProgressBarIsDrawnOnATerminalUnlessQuiet) {
    const std::vector<std::string> files = {golden("scene64.ppm"), golden("scene64__noise.ppm"),
                                            golden("scene64__copy.ppm")};
    {
        Terminal terminal;
        ASSERT_TRUE(terminal.ok());
        std::vector<std::string> args = {"--format", "csv"};
        args.insert(args.end(), files.begin(), files.end());
        const ProgramRun r = run(args, terminal.slave());
        EXPECT_EQ(r.status, 0);
        const std::string shown = terminal.drain();
        EXPECT_NE(shown.find("2/2"), std::string::npos) << shown;
        // The bar is erased at the end: the last thing written is a carriage return.
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), '\r');
        EXPECT_EQ(parseCsv(r.out).size(), 3u);
    }
    {
        Terminal terminal;
        ASSERT_TRUE(terminal.ok());
        std::vector<std::string> args = {"--quiet"};
        args.insert(args.end(), files.begin(), files.end());
        EXPECT_EQ(run(args, terminal.slave()).status, 0);
        EXPECT_EQ(terminal.drain(), "");
    }
    {
        // One file: no bar.
        Terminal terminal;
        ASSERT_TRUE(terminal.ok());
        EXPECT_EQ(run({files[0], files[1]}, terminal.slave()).status, 0);
        EXPECT_EQ(terminal.drain(), "");
    }
}

// ---------------------------------------------------------------------------------------------
// Report

// The report holds every row, failed ones too, with the pictures of the scored files beside
// it and nothing half written; the browser test of the page itself is in ReportTest.
TEST_F(LumetraCommand, ReportHoldsEveryFileWithItsPictures) {
    const fs::path dir = _dir / "report";
    const ProgramRun r = run({"--report", dir.string(), "--heat-max", "300", golden("scene64.ppm"),
                              golden("scene64__noise.ppm"), (_dir / "missing.ppm").string(),
                              golden("scene64__blur.ppm")});
    EXPECT_EQ(r.status, 1) << r.err;  // the missing file
    const std::string html = readFile(dir / "index.html");
    for (const char* shown :
         {"scene64__noise.ppm", "missing.ppm", "scene64__blur.ppm", "no such file",
          "scene64__noise.degraded.png", "scene64__noise.heat.png", "scene64__blur.heat.png",
          "original.png", "0 to 300"}) {
        EXPECT_NE(html.find(shown), std::string::npos) << shown;
    }
    for (const char* picture : {"original.png", "scene64__noise.degraded.png",
                                "scene64__noise.heat.png", "scene64__blur.degraded.png"}) {
        EXPECT_TRUE(fs::is_regular_file(dir / picture)) << picture;
    }
    EXPECT_FALSE(fs::exists(dir / "missing.degraded.png"));
    EXPECT_TRUE(partialFiles(dir).empty());
    // The summary counts the files, and the report's heat maps leave the colour bar to the
    // page, so that they lie exactly over the images they compare.
    for (const char* shown : {"id=\"count-scored\">2<", "id=\"count-failed\">1<",
                              "id=\"count-crossed\">0<", "--heat-max 300"}) {
        EXPECT_NE(html.find(shown), std::string::npos) << shown;
    }
    const Picture heat = readPicture(dir / "scene64__noise.heat.png");
    EXPECT_EQ(heat.width, kScene64);
    EXPECT_EQ(heat.height, kScene64);
}

TEST_F(LumetraCommand, ReportFolderThatCannotBeMadeFailsTheRunButKeepsTheRows) {
    writeFile(_dir / "plain-file", "x");
    const ProgramRun r = run({"--format", "csv", "--report", (_dir / "plain-file").string(),
                              golden("scene64.ppm"), golden("scene64__noise.ppm")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(parseCsv(r.out).size(), 2u) << r.out;
    EXPECT_NE(r.err.find("cannot make the folder"), std::string::npos) << r.err;
}

// A report folder always shows exactly one run, and never replaces an input.
TEST_F(LumetraCommand, ReportIsRefusedWhereItWouldReplaceOrLoseFiles) {
    const fs::path in = _dir / "in";
    fs::create_directories(in);
    for (const char* name : {"scene64.ppm", "scene64__noise.ppm"}) {
        fs::copy_file(golden(name), in / name);
    }
    // Inputs named as the report names its files: the folder of the inputs is refused.
    fs::copy_file(golden("scene64.ppm"), in / "original.png");
    const std::string before = readFile(in / "original.png");
    const ProgramRun r =
        run({"--format", "csv", "--report", in.string(), (in / "original.png").string(),
             (in / "scene64__noise.ppm").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(parseCsv(r.out).size(), 2u) << r.out;  // the file is still scored
    EXPECT_NE(r.err.find("would replace an input file"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(in / "original.png"), before);
    EXPECT_FALSE(fs::exists(in / "index.html"));
    EXPECT_FALSE(fs::exists(in / "scene64__noise.degraded.png"));
    EXPECT_TRUE(partialFiles(_dir).empty());
}

TEST_F(LumetraCommand, ReportOfASecondRunShowsNothingOfTheFirst) {
    const fs::path dir = _dir / "report";
    const ProgramRun first = run({"--report", dir.string(), golden("scene64.ppm"),
                                  golden("scene64__noise.ppm"), golden("scene64__blur.ppm")});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_TRUE(fs::exists(dir / "scene64__blur.heat.png"));
    // Now the blur file fails: its earlier pictures must not stay beside the new page.
    fs::create_directories(_dir / "elsewhere");
    const ProgramRun second =
        run({"--report", dir.string(), golden("scene64.ppm"), golden("scene64__noise.ppm"),
             (_dir / "elsewhere" / "scene64__blur.ppm").string()});
    EXPECT_EQ(second.status, 1);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"index.html", "original.png", "scene64__noise.degraded.png",
                                     "scene64__noise.heat.png"}));
    EXPECT_NE(readFile(dir / "index.html").find("no such file"), std::string::npos);
    // A folder with other files in it is not a report's: refused, and left as it was.
    writeFile(dir / "notes.txt", "mine");
    const ProgramRun third =
        run({"--report", dir.string(), golden("scene64.ppm"), golden("scene64__noise.ppm")});
    EXPECT_EQ(third.status, 1);
    EXPECT_NE(third.err.find("\"notes.txt\", which is not part of a report"), std::string::npos)
        << third.err;
    EXPECT_EQ(readFile(dir / "notes.txt"), "mine");
    EXPECT_TRUE(fs::exists(dir / "scene64__noise.heat.png"));
}

// The program running in the background, its standard output read as it comes.
class RunningProgram {
  public:
    RunningProgram(const std::vector<std::string>& arguments, const fs::path& errPath) {
        std::vector<std::string> words = {LUMETRA_BINARY};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) _pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        _out = out[0];
    }
    ~RunningProgram() {
        if (_pid > 0) finish();
        if (_out >= 0) close(_out);
    }

    bool started() const { return _pid > 0; }
    pid_t pid() const { return _pid; }
    // Reads standard output until it holds `lines` lines or ends.
    void waitForLines(std::size_t lines) {
        while (static_cast<std::size_t>(std::count(_text.begin(), _text.end(), '\n')) < lines) {
            if (!readSome()) return;
        }
    }
    // Reads the rest and waits for the program; returns its exit status, or 128 + the signal
    // that ended it.
    int finish() {
        while (readSome()) {
        }
        int status = 0;
        waitpid(_pid, &status, 0);
        _pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& out() const { return _text; }

  private:
    bool readSome() {
        char buffer[4096];
        const ssize_t got = read(_out, buffer, sizeof buffer);
        if (got <= 0) return false;
        _text.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t _pid = -1;
    int _out = -1;
    std::string _text;
};

// Enough files of the 256 x 256 samples that a run is far from done when its first row is out.
std::vector<std::string> manySamples() {
    std::vector<std::string> files = {(kSamples / "coffee.ppm").string()};
    for (int round = 0; round < 4; ++round) {
        for (const char* kind : {"blur", "noise", "jpeg20", "jpeg50", "jpeg90"}) {
            files.push_back((kSamples / (std::string("coffee_") + kind + ".ppm")).string());
        }
    }
    return files;
}

// Every hidden or temporary name below `dir`.
std::vector<std::string> leftovers(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.' || name.find(".partial-") != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

struct Interruption {
    const char* name;
    int signal;
    int status;
};

class LumetraCommandInterrupted : public LumetraCommand,
                                  public ::testing::WithParamInterface<Interruption> {};

// SIGINT and SIGTERM stop the hand-out of files; those in flight are finished and their rows
// written, every temporary is removed, no report is swapped in, and the status says which
// signal stopped the run.
TEST_P(LumetraCommandInterrupted, FinishesTheFilesInFlightAndLeavesNoTemporary) {
    const Interruption& interruption = GetParam();
    const fs::path out = _dir / "out";
    const std::vector<std::string> files = manySamples();
    // A fixed heat-map scale, so that rows go out as files finish instead of waiting for
    // the run's shared scale.
    std::vector<std::string> words = {"--format", "csv", "--jobs", "2", "--heat-max", "300"};
    for (const char* kind : {"heatmaps", "error-maps", "report"}) {
        words.insert(words.end(), {std::string("--") + kind, (out / kind).string()});
    }
    words.insert(words.end(), files.begin(), files.end());
    RunningProgram program(words, _dir / "stderr.txt");
    ASSERT_TRUE(program.started());
    program.waitForLines(2);  // the header and the first row
    ASSERT_EQ(kill(program.pid(), interruption.signal), 0);
    const int status = program.finish();
    const std::string err = readFile(_dir / "stderr.txt");

    EXPECT_EQ(status, interruption.status) << err;
    const std::vector<Record> rows = parseCsv(program.out());
    ASSERT_GE(rows.size(), 2u);
    EXPECT_LT(rows.size(), files.size()) << "the run was not stopped";
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 4u) << i;
        EXPECT_EQ(rows[i][0], files[i]);
        EXPECT_EQ(rows[i][3], "") << "a file in flight was cut short";
    }
    EXPECT_NE(err.find("lumetra: stopping"), std::string::npos) << err;
    EXPECT_EQ(leftovers(out), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(out / "report"));
    EXPECT_TRUE(fs::exists(out / "error-maps" / "coffee_blur.errmap.png"));
}

INSTANTIATE_TEST_SUITE_P(Signals, LumetraCommandInterrupted,
                         ::testing::Values(Interruption{"Interrupt", SIGINT, 130},
                                           Interruption{"Terminate", SIGTERM, 143}),
                         [](const auto& info) { return std::string(info.param.name); });

// A run killed outright cannot clean up; the next run into the same folders removes what it
// left there, and nothing else.
TEST_F(LumetraCommand, NextRunRemovesTheTemporariesOfAKilledOne) {
    const fs::path out = _dir / "out";
    const std::vector<std::string> files = manySamples();
    std::vector<std::string> words = {"--format",   "csv",
                                      "--heatmaps", (out / "heat").string(),
                                      "--report",   (out / "report").string()};
    words.insert(words.end(), files.begin(), files.end());
    {
        RunningProgram killed(words, _dir / "stderr.txt");
        ASSERT_TRUE(killed.started());
        // The header: the report's folder is made, the heat maps' spills are on their way.
        killed.waitForLines(1);
        ASSERT_EQ(kill(killed.pid(), SIGKILL), 0);
        EXPECT_EQ(killed.finish(), 128 + SIGKILL);
    }
    ASSERT_FALSE(leftovers(out).empty()) << "the killed run left nothing to clean up";
    writeFile(out / "heat" / ".mine.partial-1-abcdef", "a running process's");

    const ProgramRun next = run({"--format", "csv", "--heatmaps", (out / "heat").string(),
                                 "--report", (out / "report").string(), files[0], files[1]});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(leftovers(out),
              std::vector<std::string>{(out / "heat" / ".mine.partial-1-abcdef").string()});
}

// Two runs writing one report at once: each swaps in a whole report of its own, so the folder
// shows one of them, never pictures of both.
TEST_F(LumetraCommand, TwoRunsWritingOneReportNeverMix) {
    const fs::path dir = _dir / "report";
    const std::vector<std::vector<std::string>> degraded = {
        {"coffee_blur", "coffee_noise", "coffee_jpeg20"}, {"coffee_jpeg50", "coffee_jpeg90"}};
    std::vector<std::unique_ptr<RunningProgram>> runs;
    for (std::size_t k = 0; k < degraded.size(); ++k) {
        std::vector<std::string> words = {"--report", dir.string(),
                                          (kSamples / "coffee.ppm").string()};
        for (const std::string& stem : degraded[k]) {
            words.push_back((kSamples / (stem + ".ppm")).string());
        }
        runs.push_back(std::make_unique<RunningProgram>(
            words, _dir / ("stderr" + std::to_string(k) + ".txt")));
        ASSERT_TRUE(runs.back()->started());
    }
    for (auto& program : runs) EXPECT_EQ(program->finish(), 0);

    std::set<std::string> pictures;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name != "index.html" && name != "original.png") pictures.insert(name);
    }
    const auto picturesOf = [](const std::vector<std::string>& stems) {
        std::set<std::string> names;
        for (const std::string& stem : stems) {
            names.insert(stem + ".degraded.png");
            names.insert(stem + ".heat.png");
        }
        return names;
    };
    EXPECT_TRUE(pictures == picturesOf(degraded[0]) || pictures == picturesOf(degraded[1]))
        << "the report mixes two runs";
    EXPECT_EQ(leftovers(_dir), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------------------------
// Calibration profiles

std::string profileText(const std::string& beta, const std::string& mapping) {
    return R"({"format": "lumetra-profile", "format_version": 1, "parameters": {"beta": )" + beta +
           R"(}, "viewing": {"ppd": 120}, "mapping": )" + mapping + "}";
}

constexpr const char* kCurve = R"({"kind": "logistic", "b1": 1, "b2": 5, "b3": 300, "b4": 100})";

// The curve of kCurve, worked in double as the engine works it.
double curveScore(double measure) {
    return std::clamp(5.0 + (1.0 - 5.0) / (1.0 + std::exp(-(measure - 300.0) / 100.0)), 1.0, 5.0);
}

TEST_F(LumetraCommand, ProfileSetsParametersViewingAndMappingAndOptionsWinOverIt) {
    const std::string original = golden("scene64.ppm"), degraded = golden("scene64__noise.ppm");
    const std::string profile = (_dir / "fit.json").string();
    writeFile(profile, profileText("3", kCurve));
    const auto row = [&](const std::vector<std::string>& options) {
        std::vector<std::string> words = {"--format", "csv"};
        words.insert(words.end(), options.begin(), options.end());
        words.insert(words.end(), {original, degraded});
        const ProgramRun ran = run(words);
        EXPECT_EQ(ran.status, 0) << ran.err;
        const std::vector<Record> rows = parseCsv(ran.out);
        return rows.size() == 2 ? rows[1] : Record{};
    };

    const Record profiled = row({"--profile", profile});
    const Record same = row({"--beta", "3", "--ppd", "120"});
    ASSERT_EQ(profiled.size(), 4u);
    ASSERT_EQ(same.size(), 4u);
    EXPECT_EQ(profiled[1], same[1]);  // the profile's beta and viewing reach the engine
    // Nine printed digits of a float score: 1e-6 covers their rounding.
    EXPECT_NEAR(std::stod(profiled[2]), curveScore(std::stod(profiled[1])), 1e-6);

    // Options given win: the default beta and viewing give the default measure.
    EXPECT_EQ(row({"--profile", profile, "--beta", "4", "--ppd", "60"})[1], row({})[1]);
    // -a and -b together replace the curve by their line.
    const Record line = row({"--profile", profile, "-a", "0.001", "-b", "4"});
    ASSERT_EQ(line.size(), 4u);
    EXPECT_NEAR(std::stod(line[2]), 4.0 - 0.001 * std::stod(line[1]), 1e-6);
}

TEST_F(LumetraCommand, UnusableProfileIsAUsageErrorNamingTheField) {
    const std::string profile = (_dir / "fit.json").string();
    const auto refused = [&](const std::vector<std::string>& options, const std::string& message) {
        std::vector<std::string> words = options;
        words.insert(words.end(), {golden("scene64.ppm"), golden("scene64__noise.ppm")});
        const ProgramRun ran = run(words);
        EXPECT_EQ(ran.status, 2) << message;
        EXPECT_EQ(ran.out, "") << message;
        EXPECT_EQ(ran.err.rfind(message, 0), 0u) << ran.err;
    };
    writeFile(profile, profileText("0", kCurve));
    refused({"--profile", profile},
            "lumetra: " + profile + ": parameters.beta: beta must be greater than 0 (got 0)\n");
    writeFile(profile, profileText("3", kCurve));
    refused({"--profile", profile, "-a", "0.001"},
            "lumetra: the profile scores with a logistic curve; -a/--slope and -b/--offset "
            "replace it by a line only when both are given\n");
    refused({"--profile", (_dir / "missing.json").string()},
            "lumetra: " + (_dir / "missing.json").string() + ": cannot open the profile");
}

// ---------------------------------------------------------------------------------------------
// Messages

// What the user typed reaches the terminal with its control characters escaped, as the rows'
// paths do: the original's path, the profile's path and an option's value, whether in a usage
// error or in the message that ends the run.
TEST_F(LumetraCommand, ControlCharactersOfPathsAndValuesAreEscapedInMessages) {
    const std::string evil = "\x1b[31mred\nline";
    const std::string shown = "\\x1b[31mred\\nline";
    const fs::path original = _dir / (evil + ".ppm");
    const fs::path profile = _dir / (evil + ".json");
    const std::vector<std::vector<std::string>> runs = {
        {original.string(), golden("scene64__noise.ppm")},
        {"--profile", profile.string(), golden("scene64.ppm"), golden("scene64__noise.ppm")},
        {"--ppd", evil, golden("scene64.ppm"), golden("scene64__noise.ppm")},
        {"--format", evil, golden("scene64.ppm"), golden("scene64__noise.ppm")},
        {"--display", evil, golden("scene64.ppm"), golden("scene64__noise.ppm")},
    };
    for (const std::vector<std::string>& words : runs) {
        const ProgramRun r = run(words);
        EXPECT_EQ(r.status, 2) << words[0];
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(shown), std::string::npos) << r.err;
        // One line for the message (and CLI11's hint after a usage error), none inside it.
        const std::string first = r.err.substr(0, r.err.find('\n'));
        EXPECT_NE(first.find(shown), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace lumetra
