#include "cli/ResultWriter.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

#include "args/CsvRow.h"
#include "args/NumberText.h"
#include "cli/TextFormat.h"

namespace lumetra {

namespace {

// The desktop table's column headers.
constexpr std::string_view kPathHeader = "File name";
constexpr std::string_view kMeasureHeader = "Measure";
constexpr std::string_view kScoreHeader = "Score";
// Shown in the number columns of a file that could not be scored.
constexpr std::string_view kErrorCell = "error";

// Widest six-digit number: "-1.23457e+06".
constexpr std::size_t kNumberWidth = 12;
constexpr std::string_view kColumnGap = "  ";

// The JSON field of the viewing geometry, and its significant digits (those of the other
// machine-format numbers).
constexpr const char* kPpdKey = "ppd";
constexpr int kPpdDigits = 9;

// Header of the machine formats; "error" is empty for a file that was scored.
constexpr std::string_view kMachineHeader[] = {"file", "measure", "score", "error"};

std::string padRight(std::string_view text, std::size_t width) {
    const std::size_t shown = displayWidth(text);
    return std::string(text) + std::string(shown < width ? width - shown : 0, ' ');
}

std::string padLeft(std::string_view text, std::size_t width) {
    const std::size_t shown = displayWidth(text);
    return std::string(shown < width ? width - shown : 0, ' ') + std::string(text);
}

class TableWriter : public ResultWriter {
  public:
    TableWriter(std::ostream& out, const std::vector<std::string>& paths,
                std::optional<double> pixelsPerDegree)
        : _out(out), _pathWidth(displayWidth(kPathHeader)), _pixelsPerDegree(pixelsPerDegree) {
        for (const std::string& path : paths) {
            _pathWidth = std::max(_pathWidth, displayWidth(printable(path)));
        }
    }

    void begin() override {
        if (_pixelsPerDegree) _out << viewingLine(*_pixelsPerDegree) << '\n';
        _out << padRight(kPathHeader, _pathWidth) << kColumnGap
             << padLeft(kMeasureHeader, kNumberWidth) << kColumnGap
             << padLeft(kScoreHeader, kNumberWidth) << '\n'
             << std::flush;
    }

    void write(const FileResult& result) override {
        const std::string measure =
            result.scores ? shortNumber(result.scores->measure) : std::string(kErrorCell);
        const std::string score =
            result.scores ? shortNumber(result.scores->score) : std::string(kErrorCell);
        _out << padRight(printable(result.path), _pathWidth) << kColumnGap
             << padLeft(measure, kNumberWidth) << kColumnGap << padLeft(score, kNumberWidth);
        if (!result.error.empty()) _out << kColumnGap << printable(result.error);
        _out << '\n' << std::flush;
    }

    void end() override {}

  private:
    std::ostream& _out;
    std::size_t _pathWidth;
    std::optional<double> _pixelsPerDegree;
};

// The fields of a TSV row, each escaped, joined by tabs and ended by LF.
std::string tsvRow(const std::vector<std::string>& fields) {
    std::string row;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) row += '\t';
        row += tsvField(fields[i]);
    }
    row += '\n';
    return row;
}

// CSV and TSV differ only in how a row of fields is written.
class DelimitedWriter : public ResultWriter {
  public:
    using Row = std::string (*)(const std::vector<std::string>&);

    DelimitedWriter(std::ostream& out, Row row) : _out(out), _row(row) {}

    void begin() override {
        const std::vector<std::string> header(std::begin(kMachineHeader), std::end(kMachineHeader));
        _out << _row(header) << std::flush;
    }

    void write(const FileResult& result) override {
        const bool scored = result.scores.has_value();
        _out << _row({result.path, scored ? fullNumber(result.scores->measure) : std::string(),
                      scored ? fullNumber(result.scores->score) : std::string(), result.error})
             << std::flush;
    }

    void end() override {}

  private:
    std::ostream& _out;
    Row _row;
};

// An array of one object per file, each on a line of its own, written as the rows come.
// Each row is an nlohmann object; strings are escaped by nlohmann (jsonString), numbers keep
// the nine digits of the other machine formats (nlohmann would write the shortest double,
// 3.799999952316284 for 3.8f), and JSON has no NaN or infinity: such a number is null.
class JsonWriter : public ResultWriter {
  public:
    JsonWriter(std::ostream& out, std::optional<double> pixelsPerDegree)
        : _out(out), _pixelsPerDegree(pixelsPerDegree) {}

    void begin() override { _out << '[' << std::flush; }

    void write(const FileResult& result) override {
        nlohmann::ordered_json row;
        row["file"] = result.path;
        row["measure"] = number(result.scores, &Scores::measure);
        row["score"] = number(result.scores, &Scores::score);
        row["error"] =
            result.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(result.error);
        std::string line = oneLine(row);
        // The viewing geometry is a double, with nine digits like the other numbers.
        if (_pixelsPerDegree) {
            line.insert(line.size() - 1, ", " + jsonString(kPpdKey) + ": " +
                                             generalText(*_pixelsPerDegree, kPpdDigits));
        }
        _out << (_rows++ == 0 ? "\n" : ",\n") << "  " << line << std::flush;
    }

    void end() override { _out << (_rows == 0 ? "]\n" : "\n]\n") << std::flush; }

  private:
    static nlohmann::ordered_json number(const std::optional<Scores>& scores,
                                         float Scores::*which) {
        if (!scores) return nullptr;
        return (*scores).*which;
    }

    // {"key": value, ...} on one line: a space after each colon and comma.
    static std::string oneLine(const nlohmann::ordered_json& object) {
        std::string line = "{";
        for (const auto& [key, value] : object.items()) {
            if (line.size() > 1) line += ", ";
            line += jsonString(key) + ": " + valueText(value);
        }
        return line + '}';
    }

    static std::string valueText(const nlohmann::ordered_json& value) {
        if (value.is_string()) return jsonString(value.get_ref<const std::string&>());
        if (value.is_number_float()) {
            // The double holds the float exactly, so the float comes back unchanged.
            const auto single = static_cast<float>(value.get<double>());
            return std::isfinite(single) ? fullNumber(single) : "null";
        }
        return value.dump();  // null
    }

    std::ostream& _out;
    std::optional<double> _pixelsPerDegree;
    std::size_t _rows = 0;
};

}  // namespace

std::string viewingLine(double pixelsPerDegree) {
    return "viewing: " + shortNumber(pixelsPerDegree) + " pixels per degree";
}

std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat format, std::ostream& out,
                                               const std::vector<std::string>& paths,
                                               std::optional<double> pixelsPerDegree) {
    switch (format) {
        case OutputFormat::Csv:
            return std::make_unique<DelimitedWriter>(out, &csvRow);
        case OutputFormat::Tsv:
            return std::make_unique<DelimitedWriter>(out, &tsvRow);
        case OutputFormat::Json:
            return std::make_unique<JsonWriter>(out, pixelsPerDegree);
        case OutputFormat::Table:
            break;
    }
    return std::make_unique<TableWriter>(out, paths, pixelsPerDegree);
}

}  // namespace lumetra
