#include "cli/Report.h"

#include <cstdio>
#include <sstream>

#include "args/NumberText.h"
#include "image/FileOutput.h"

namespace lumetra {

namespace {

// Digits shown in the table: enough to tell files apart, as the text table shows them.
constexpr int kShownDigits = 6;

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A path component of a link, with the characters a URL cannot hold as they are escaped.
std::string linkTo(const std::string& relative) {
    std::string out;
    constexpr char kHex[] = "0123456789ABCDEF";
    for (const unsigned char c : relative) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '/' ||
                           c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return escaped(out);
}

// A numeric cell: its sort key and its text.  A missing number sorts after every number.
std::string numberCell(const std::optional<float>& value) {
    if (!value) return "<td class=\"num\" data-key=\"\"></td>";
    const std::string text = generalText(*value, kShownDigits);
    return "<td class=\"num\" data-key=\"" + generalText(*value, 9) + "\">" + text + "</td>";
}

std::string textCell(const std::string& text) {
    return "<td data-key=\"" + escaped(text) + "\">" + escaped(text) + "</td>";
}

std::string pictureCell(const std::string& picture, const std::string& what) {
    if (picture.empty()) return "<td></td>";
    return "<td><a href=\"" + linkTo(picture) + "\"><img class=\"thumb\" src=\"" + linkTo(picture) +
           "\" alt=\"" + escaped(what) + "\"></a></td>";
}

constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; }
th, td { padding: 0.3em 0.6em; border-bottom: 1px solid #ddd; vertical-align: middle; }
th { cursor: pointer; background: #f2f2f2; position: sticky; top: 0; }
th[data-order="ascending"]::after { content: " \25B2"; }
th[data-order="descending"]::after { content: " \25BC"; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.error { color: #a00; }
img.thumb { max-width: 160px; max-height: 120px; }
img.original { max-width: 320px; }
dl { display: grid; grid-template-columns: max-content auto; gap: 0.2em 1em; }
dt { font-weight: bold; }
)";

// Sorts the table by a column when its heading is clicked (again: the other way round), and
// on opening by #sort=<column> or #sort=-<column>.  Rows without a value go last either way.
// When every picture has loaded, the body's data-images-loaded holds how many did.
constexpr const char* kScript = R"(
function sortBy(column, descending) {
  const table = document.getElementById('files');
  const heads = Array.from(table.tHead.rows[0].cells);
  const index = heads.findIndex(h => h.dataset.column === column);
  if (index < 0) return;
  const numeric = heads[index].dataset.type === 'number';
  const body = table.tBodies[0];
  const rows = Array.from(body.rows);
  rows.sort((a, b) => {
    const x = a.cells[index].dataset.key, y = b.cells[index].dataset.key;
    if (x === '' || y === '') return (x === '') - (y === '');
    const order = numeric ? Number(x) - Number(y) : x.localeCompare(y);
    return descending ? -order : order;
  });
  rows.forEach(r => body.appendChild(r));
  heads.forEach(h => h.removeAttribute('data-order'));
  heads[index].dataset.order = descending ? 'descending' : 'ascending';
}
document.querySelectorAll('#files th').forEach(h => h.addEventListener('click', () =>
  sortBy(h.dataset.column, h.dataset.order === 'ascending')));
const wanted = /^#sort=(-?)(.+)$/.exec(decodeURIComponent(location.hash));
if (wanted) sortBy(wanted[2], wanted[1] === '-');
window.addEventListener('load', () => {
  const shown = Array.from(document.images).filter(i => i.complete && i.naturalWidth > 0);
  document.body.dataset.imagesLoaded = String(shown.length);
});
)";

struct Column {
    const char* key;
    const char* heading;
    bool number;
};

constexpr Column kColumns[] = {
    {"file", "File", false},
    {"measure", "Measure", true},
    {"score", "Score", true},
    {"gate", "Gate", false},
    {"p50", "p50", true},
    {"p95", "p95", true},
    {"p99", "p99", true},
    {"max", "max", true},
    {"base", "Base", true},
    {"crown2", "Crown 2", true},
    {"crown3", "Crown 3", true},
    {"crown4", "Crown 4", true},
    {"A", "A", true},
    {"C1", "C1", true},
    {"C2", "C2", true},
    {"error", "Error", false},
};

// File, measure, score and gate come before the pictures.
constexpr std::size_t kColumnsBeforePictures = 4;

template <std::size_t N>
std::optional<float> entry(const std::optional<std::array<float, N>>& values, std::size_t i) {
    if (!values) return std::nullopt;
    return (*values)[i];
}

}  // namespace

std::string reportHtml(const ReportRun& run) {
    std::ostringstream page;
    page << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<title>Lumetra report: " << escaped(run.original) << "</title>\n"
         << "<style>" << kStyle << "</style>\n</head>\n<body>\n"
         << "<h1>Lumetra report</h1>\n<h2>Original</h2>\n<p>" << escaped(run.original) << "</p>\n";
    if (!run.originalImage.empty()) {
        page << "<p><a href=\"" << linkTo(run.originalImage) << "\"><img class=\"original\" src=\""
             << linkTo(run.originalImage) << "\" alt=\"original\"></a></p>\n";
    }
    page << "<h2>Parameters and viewing conditions</h2>\n<dl>\n";
    for (const auto& [name, value] : run.parameters) {
        page << "<dt>" << escaped(name) << "</dt><dd>" << escaped(value) << "</dd>\n";
    }
    page << "</dl>\n<h2>Files</h2>\n"
         << "<p>A larger measure and a lower score mean a more visible difference. Click a "
            "heading to sort; each picture opens at full size.</p>\n"
         << "<table id=\"files\">\n<thead><tr>";
    // The pictures follow the verdict, so that they are in view with the numbers that matter.
    for (std::size_t i = 0; i < std::size(kColumns); ++i) {
        const Column& c = kColumns[i];
        page << "<th data-column=\"" << c.key << "\" data-type=\"" << (c.number ? "number" : "text")
             << "\">" << c.heading << "</th>";
        if (i + 1 == kColumnsBeforePictures) page << "<th>Degraded</th><th>Heat map</th>";
    }
    page << "</tr></thead>\n<tbody>\n";
    for (const ReportFile& f : run.files) {
        page << "<tr>" << textCell(f.path) << numberCell(f.measure) << numberCell(f.score)
             << textCell(f.gate) << pictureCell(f.image, "degraded")
             << pictureCell(f.heatMap, "heat map");
        for (std::size_t i = 0; i < 4; ++i) page << numberCell(entry(f.percentiles, i));
        for (std::size_t i = 0; i < 4; ++i) page << numberCell(entry(f.termShares, i));
        for (std::size_t i = 0; i < 3; ++i) page << numberCell(entry(f.channelShares, i));
        page << (f.error.empty() ? textCell("")
                                 : "<td class=\"error\" data-key=\"" + escaped(f.error) + "\">" +
                                       escaped(f.error) + "</td>")
             << "</tr>\n";
    }
    page << "</tbody>\n</table>\n<script>" << kScript << "</script>\n</body>\n</html>\n";
    return page.str();
}

void writeReport(const std::filesystem::path& dir, const ReportRun& run) {
    const std::string html = reportHtml(run);
    writeFileAtomically((dir / "index.html").string(), [&](std::FILE* file) {
        return std::fwrite(html.data(), 1, html.size(), file) == html.size();
    });
}

}  // namespace lumetra
