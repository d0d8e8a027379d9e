#include "cli/ResultWriter.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

#include "args/CsvRow.h"
#include "cli/QualityGates.h"
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

// Header of the machine formats; "error" is empty for a file that was scored.
constexpr std::string_view kMachineHeader[] = {"file", "measure", "score", "error"};
// The last column of every format when quality gates were given.
constexpr std::string_view kGateField = "gate";
constexpr std::string_view kGateHeader = "Gate";
// The table's gate marks: a passed file, and the prefix of the names of the gates failed.
constexpr std::string_view kPassMark = "pass";
constexpr std::string_view kFailMark = "FAIL ";

// The table's gate cell: "pass", "FAIL measure+score", or empty for a file without a verdict.
std::string gateMark(const FileResult& result) {
    if (!result.gate) return {};
    if (result.gate->empty()) return std::string(kPassMark);
    return std::string(kFailMark) + *result.gate;
}

// Width of the widest gate cell, every gate failed, so that error texts after it line up.
std::size_t gateMarkWidth() {
    return std::string(kFailMark).size() +
           (std::string(kMeasureGate) + kGateSeparator + kScoreGate + kGateSeparator + kP99Gate)
               .size();
}

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
    TableWriter(std::ostream& out, const std::vector<std::string>& paths, GateColumn gateColumn)
        : _out(out), _pathWidth(displayWidth(kPathHeader)), _gateColumn(gateColumn) {
        for (const std::string& path : paths) {
            _pathWidth = std::max(_pathWidth, displayWidth(printable(path)));
        }
    }

    void begin() override {
        _out << padRight(kPathHeader, _pathWidth) << kColumnGap
             << padLeft(kMeasureHeader, kNumberWidth) << kColumnGap
             << padLeft(kScoreHeader, kNumberWidth);
        if (_gateColumn == GateColumn::Shown) _out << kColumnGap << kGateHeader;
        _out << '\n' << std::flush;
    }

    void write(const FileResult& result) override {
        const std::string measure =
            result.scores ? shortNumber(result.scores->measure) : std::string(kErrorCell);
        const std::string score =
            result.scores ? shortNumber(result.scores->score) : std::string(kErrorCell);
        _out << padRight(printable(result.path), _pathWidth) << kColumnGap
             << padLeft(measure, kNumberWidth) << kColumnGap << padLeft(score, kNumberWidth);
        if (_gateColumn == GateColumn::Shown) {
            // Padded only when an error follows, so that no row ends in spaces.
            const std::string mark = gateMark(result);
            _out << kColumnGap << (result.error.empty() ? mark : padRight(mark, gateMarkWidth()));
        }
        if (!result.error.empty()) _out << kColumnGap << printable(result.error);
        _out << '\n' << std::flush;
    }

    void end() override {}

  private:
    std::ostream& _out;
    std::size_t _pathWidth;
    GateColumn _gateColumn;
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

    DelimitedWriter(std::ostream& out, Row row, GateColumn gateColumn)
        : _out(out), _row(row), _gateColumn(gateColumn) {}

    void begin() override {
        std::vector<std::string> header(std::begin(kMachineHeader), std::end(kMachineHeader));
        if (_gateColumn == GateColumn::Shown) header.emplace_back(kGateField);
        _out << _row(header) << std::flush;
    }

    void write(const FileResult& result) override {
        const bool scored = result.scores.has_value();
        std::vector<std::string> fields = {
            result.path, scored ? fullNumber(result.scores->measure) : std::string(),
            scored ? fullNumber(result.scores->score) : std::string(), result.error};
        if (_gateColumn == GateColumn::Shown) fields.push_back(result.gate.value_or(""));
        _out << _row(fields) << std::flush;
    }

    void end() override {}

  private:
    std::ostream& _out;
    Row _row;
    GateColumn _gateColumn;
};

// An array of one object per file, each on a line of its own, written as the rows come.
// Each row is an nlohmann object; strings are escaped by nlohmann (jsonString), numbers keep
// the nine digits of the other machine formats (nlohmann would write the shortest double,
// 3.799999952316284 for 3.8f), and JSON has no NaN or infinity: such a number is null.
class JsonWriter : public ResultWriter {
  public:
    JsonWriter(std::ostream& out, GateColumn gateColumn) : _out(out), _gateColumn(gateColumn) {}

    void begin() override { _out << '[' << std::flush; }

    void write(const FileResult& result) override {
        nlohmann::ordered_json row;
        row["file"] = result.path;
        row["measure"] = number(result.scores, &Scores::measure);
        row["score"] = number(result.scores, &Scores::score);
        row["error"] =
            result.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(result.error);
        if (_gateColumn == GateColumn::Shown) {
            row[std::string(kGateField)] =
                result.gate ? nlohmann::ordered_json(*result.gate) : nlohmann::ordered_json();
        }
        _out << (_rows++ == 0 ? "\n" : ",\n") << "  " << oneLine(row) << std::flush;
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
    GateColumn _gateColumn;
    std::size_t _rows = 0;
};

}  // namespace

std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat format, std::ostream& out,
                                               const std::vector<std::string>& paths,
                                               GateColumn gateColumn) {
    switch (format) {
        case OutputFormat::Csv:
            return std::make_unique<DelimitedWriter>(out, &csvRow, gateColumn);
        case OutputFormat::Tsv:
            return std::make_unique<DelimitedWriter>(out, &tsvRow, gateColumn);
        case OutputFormat::Json:
            return std::make_unique<JsonWriter>(out, gateColumn);
        case OutputFormat::Table:
            break;
    }
    return std::make_unique<TableWriter>(out, paths, gateColumn);
}

}  // namespace lumetra
