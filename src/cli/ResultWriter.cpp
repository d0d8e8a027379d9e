#include "cli/ResultWriter.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string_view>

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
    TableWriter(std::ostream& out, const std::vector<std::string>& paths)
        : _out(out), _pathWidth(displayWidth(kPathHeader)) {
        for (const std::string& path : paths) {
            _pathWidth = std::max(_pathWidth, displayWidth(printable(path)));
        }
    }

    void begin() override {
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
};

// CSV and TSV differ only in the separator and the quoting of a field.
class DelimitedWriter : public ResultWriter {
  public:
    using Quote = std::string (*)(std::string_view);

    DelimitedWriter(std::ostream& out, char separator, Quote quote)
        : _out(out), _separator(separator), _quote(quote) {}

    void begin() override {
        for (std::size_t i = 0; i < std::size(kMachineHeader); ++i) {
            if (i > 0) _out << _separator;
            _out << kMachineHeader[i];
        }
        _out << '\n' << std::flush;
    }

    void write(const FileResult& result) override {
        _out << _quote(result.path) << _separator;
        if (result.scores) {
            _out << fullNumber(result.scores->measure) << _separator
                 << fullNumber(result.scores->score);
        } else {
            _out << _separator;
        }
        _out << _separator << _quote(result.error) << '\n' << std::flush;
    }

    void end() override {}

  private:
    std::ostream& _out;
    char _separator;
    Quote _quote;
};

// An array of one object per file.  JSON has no NaN or infinity: such a number is null.
class JsonWriter : public ResultWriter {
  public:
    explicit JsonWriter(std::ostream& out) : _out(out) {}

    void begin() override { _out << '[' << std::flush; }

    void write(const FileResult& result) override {
        _out << (_rows++ == 0 ? "\n" : ",\n") << "  {\"file\": " << jsonString(result.path)
             << ", \"measure\": " << number(result.scores, &Scores::measure)
             << ", \"score\": " << number(result.scores, &Scores::score) << ", \"error\": "
             << (result.error.empty() ? std::string("null") : jsonString(result.error)) << '}'
             << std::flush;
    }

    void end() override { _out << (_rows == 0 ? "]\n" : "\n]\n") << std::flush; }

  private:
    static std::string number(const std::optional<Scores>& scores, float Scores::*which) {
        if (!scores || !std::isfinite((*scores).*which)) return "null";
        return fullNumber((*scores).*which);
    }

    std::ostream& _out;
    std::size_t _rows = 0;
};

}  // namespace

std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat format, std::ostream& out,
                                               const std::vector<std::string>& paths) {
    switch (format) {
        case OutputFormat::Csv:
            return std::make_unique<DelimitedWriter>(out, ',', &csvField);
        case OutputFormat::Tsv:
            return std::make_unique<DelimitedWriter>(out, '\t', &tsvField);
        case OutputFormat::Json:
            return std::make_unique<JsonWriter>(out);
        case OutputFormat::Table:
            break;
    }
    return std::make_unique<TableWriter>(out, paths);
}

}  // namespace lumetra
