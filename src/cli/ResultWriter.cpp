#include "cli/ResultWriter.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>
#include <vector>

#include "args/CsvRow.h"
#include "args/NumberText.h"
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

// The JSON field of the viewing geometry, and its significant digits (those of the other
// machine-format numbers).
constexpr const char* kPpdKey = "ppd";
constexpr int kPpdDigits = 9;

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

// The explanation columns that follow the error with --explain (before the gate column).
constexpr std::string_view kExplanationHeader[] = {
    "term_base",  "term_crown2",     "term_crown3", "term_crown4", "channel_A", "channel_C1",
    "channel_C2", "structure_share", "p50",         "p95",         "p99",       "max"};

constexpr std::string_view kExplanationTableHeader = "Explanation";
// Digits of a percentage in the table's explanation.
constexpr int kPercentDigits = 3;
constexpr double kPercent = 100.0;

// The explanation numbers in the order of kExplanationHeader.
std::vector<float> explanationValues(const ExplanationNumbers& x) {
    std::vector<float> values(x.termShares.begin(), x.termShares.end());
    values.insert(values.end(), x.channelShares.begin(), x.channelShares.end());
    values.push_back(x.structureShare);
    for (float p : {x.percentiles.p50, x.percentiles.p95, x.percentiles.p99, x.percentiles.max}) {
        values.push_back(p);
    }
    return values;
}

// Values joined by '/', each written by `text`.
template <typename Text>
std::string joined(std::initializer_list<float> values, Text&& text) {
    std::string line;
    for (float value : values) {
        if (!line.empty()) line += '/';
        line += text(value);
    }
    return line;
}

std::string padRight(std::string_view text, std::size_t width) {
    const std::size_t shown = displayWidth(text);
    return std::string(text) + std::string(shown < width ? width - shown : 0, ' ');
}

std::string padLeft(std::string_view text, std::size_t width) {
    const std::size_t shown = displayWidth(text);
    return std::string(shown < width ? width - shown : 0, ' ') + std::string(text);
}

constexpr std::string_view kColourField = "colour";
constexpr std::string_view kColourHeader = "Colour";

bool colourEverywhere(const RowColumns& columns) {
    return columns.colour == ColourColumns::Everywhere;
}

class TableWriter : public ResultWriter {
  public:
    TableWriter(std::ostream& out, const std::vector<std::string>& paths, RowColumns columns)
        : _out(out), _pathWidth(displayWidth(kPathHeader)), _columns(columns) {
        for (const std::string& path : paths) {
            _pathWidth = std::max(_pathWidth, displayWidth(printable(path)));
        }
    }

    void begin() override {
        if (_columns.pixelsPerDegree) _out << viewingLine(*_columns.pixelsPerDegree) << '\n';
        if (colourEverywhere(_columns)) {
            _out << "colour: every file converted to sRGB from the colour space it declares ("
                 << kSrgbIntentName << ")\n";
            if (_columns.orientation == OrientationHandling::Apply) {
                _out << "orientation: every file turned as its EXIF orientation says\n";
            }
        }
        _out << padRight(kPathHeader, _pathWidth) << kColumnGap
             << padLeft(kMeasureHeader, kNumberWidth) << kColumnGap
             << padLeft(kScoreHeader, kNumberWidth);
        if (_columns.gate == GateColumn::Shown) _out << kColumnGap << kGateHeader;
        if (_columns.explanation == ExplanationColumns::Included) {
            _out << kColumnGap << kExplanationTableHeader;
        }
        if (colourEverywhere(_columns)) _out << kColumnGap << kColourHeader;
        _out << '\n' << std::flush;
    }

    void write(const FileResult& result) override {
        const std::string measure =
            result.scores ? shortNumber(result.scores->measure) : std::string(kErrorCell);
        const std::string score =
            result.scores ? shortNumber(result.scores->score) : std::string(kErrorCell);
        _out << padRight(printable(result.path), _pathWidth) << kColumnGap
             << padLeft(measure, kNumberWidth) << kColumnGap << padLeft(score, kNumberWidth);
        if (_columns.gate == GateColumn::Shown) {
            // Padded only when more follows, so that no row ends in spaces.
            const std::string mark = gateMark(result);
            const bool more =
                !result.error.empty() ||
                (_columns.explanation == ExplanationColumns::Included && result.explanation);
            _out << kColumnGap << (more ? padRight(mark, gateMarkWidth()) : mark);
        }
        if (_columns.explanation == ExplanationColumns::Included && result.explanation) {
            _out << kColumnGap << explanationText(*result.explanation);
        }
        if (colourEverywhere(_columns) && result.colour) {
            _out << kColumnGap << printable(colourCell(result.colour));
        }
        if (!result.error.empty()) _out << kColumnGap << printable(result.error);
        _out << '\n' << std::flush;
    }

    void end() override {}

  private:
    std::ostream& _out;
    std::size_t _pathWidth;
    RowColumns _columns;
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

    DelimitedWriter(std::ostream& out, Row row, RowColumns columns)
        : _out(out), _row(row), _columns(columns) {}

    void begin() override {
        std::vector<std::string> header(std::begin(kMachineHeader), std::end(kMachineHeader));
        if (colourEverywhere(_columns)) header.emplace_back(kColourField);
        if (_columns.explanation == ExplanationColumns::Included) {
            header.insert(header.end(), std::begin(kExplanationHeader),
                          std::end(kExplanationHeader));
        }
        if (_columns.gate == GateColumn::Shown) header.emplace_back(kGateField);
        _out << _row(header) << std::flush;
    }

    void write(const FileResult& result) override {
        const bool scored = result.scores.has_value();
        std::vector<std::string> fields{
            result.path, scored ? fullNumber(result.scores->measure) : std::string(),
            scored ? fullNumber(result.scores->score) : std::string(), result.error};
        if (colourEverywhere(_columns)) fields.push_back(colourCell(result.colour));
        if (_columns.explanation == ExplanationColumns::Included) {
            if (result.explanation) {
                for (float value : explanationValues(*result.explanation)) {
                    fields.push_back(fullNumber(value));
                }
            } else {
                fields.resize(fields.size() + std::size(kExplanationHeader));
            }
        }
        if (_columns.gate == GateColumn::Shown) fields.push_back(result.gate.value_or(""));
        _out << _row(fields) << std::flush;
    }

    void end() override {}

  private:
    std::ostream& _out;
    Row _row;
    RowColumns _columns;
};

// An array of one object per file, each on a line of its own, written as the rows come.
// Each row is an nlohmann object; strings are escaped by nlohmann (jsonString), numbers keep
// the nine digits of the other machine formats (nlohmann would write the shortest double,
// 3.799999952316284 for 3.8f), and JSON has no NaN or infinity: such a number is null.
class JsonWriter : public ResultWriter {
  public:
    JsonWriter(std::ostream& out, RowColumns columns) : _out(out), _columns(columns) {}

    void begin() override { _out << '[' << std::flush; }

    void write(const FileResult& result) override {
        nlohmann::ordered_json row;
        row["file"] = result.path;
        row["measure"] = number(result.scores, &Scores::measure);
        row["score"] = number(result.scores, &Scores::score);
        row["error"] =
            result.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(result.error);
        if (_columns.colour != ColourColumns::Omitted) {
            // Flat like the rest of the row: the colour cell's text and the orientation number.
            row[std::string(kColourField)] = result.colour
                                                 ? nlohmann::ordered_json(colourCell(result.colour))
                                                 : nlohmann::ordered_json();
            row["orientation"] = result.colour ? nlohmann::ordered_json(result.colour->orientation)
                                               : nlohmann::ordered_json();
        }
        if (_columns.explanation == ExplanationColumns::Included) {
            row["explanation"] = result.explanation ? explanationObject(*result.explanation)
                                                    : nlohmann::ordered_json();
        }
        if (_columns.gate == GateColumn::Shown) {
            row[std::string(kGateField)] =
                result.gate ? nlohmann::ordered_json(*result.gate) : nlohmann::ordered_json();
        }
        std::string line = oneLine(row);
        // The viewing geometry is a double, with nine digits like the other numbers.
        if (_columns.pixelsPerDegree) {
            line.insert(line.size() - 1, ", " + jsonString(kPpdKey) + ": " +
                                             generalText(*_columns.pixelsPerDegree, kPpdDigits));
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

    static nlohmann::ordered_json explanationObject(const ExplanationNumbers& x) {
        nlohmann::ordered_json object;
        object["terms"]["base"] = x.termShares[0];
        object["terms"]["crown2"] = x.termShares[1];
        object["terms"]["crown3"] = x.termShares[2];
        object["terms"]["crown4"] = x.termShares[3];
        object["channels"]["A"] = x.channelShares[0];
        object["channels"]["C1"] = x.channelShares[1];
        object["channels"]["C2"] = x.channelShares[2];
        object["structure_share"] = x.structureShare;
        object["percentiles"]["p50"] = x.percentiles.p50;
        object["percentiles"]["p95"] = x.percentiles.p95;
        object["percentiles"]["p99"] = x.percentiles.p99;
        object["percentiles"]["max"] = x.percentiles.max;
        return object;
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
        if (value.is_object()) return oneLine(value);
        if (value.is_number_float()) {
            // The double holds the float exactly, so the float comes back unchanged.
            const auto single = static_cast<float>(value.get<double>());
            return std::isfinite(single) ? fullNumber(single) : "null";
        }
        return value.dump();  // null, whole numbers
    }

    std::ostream& _out;
    RowColumns _columns;
    std::size_t _rows = 0;
};

}  // namespace

std::string colourCell(const std::optional<FileColour>& colour) {
    return colour ? colourSummary(colour->declared, colour->converted) : std::string();
}

std::string viewingLine(double pixelsPerDegree) {
    return "viewing: " + shortNumber(pixelsPerDegree) + " pixels per degree";
}

std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat format, std::ostream& out,
                                               const std::vector<std::string>& paths,
                                               RowColumns columns) {
    switch (format) {
        case OutputFormat::Csv:
            return std::make_unique<DelimitedWriter>(out, &csvRow, columns);
        case OutputFormat::Tsv:
            return std::make_unique<DelimitedWriter>(out, &tsvRow, columns);
        case OutputFormat::Json:
            return std::make_unique<JsonWriter>(out, columns);
        case OutputFormat::Table:
            break;
    }
    return std::make_unique<TableWriter>(out, paths, columns);
}

std::string explanationText(const ExplanationNumbers& x) {
    const auto percent = [](float share) { return generalText(share * kPercent, kPercentDigits); };
    const auto& t = x.termShares;
    const auto& c = x.channelShares;
    const MapPercentiles& p = x.percentiles;
    return "base/c2/c3/c4 " + joined({t[0], t[1], t[2], t[3]}, percent) + "%  A/C1/C2 " +
           joined({c[0], c[1], c[2]}, percent) + "%  edges " + percent(x.structureShare) +
           "%  p50/p95/p99/max " + joined({p.p50, p.p95, p.p99, p.max}, shortNumber);
}

}  // namespace lumetra
