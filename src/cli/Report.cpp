#include "cli/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "args/NumberText.h"
#include "image/ColourMap.h"
#include "image/FileOutput.h"

namespace lumetra {

namespace {

// Digits shown in the table: enough to tell files apart, as the text table shows them.
constexpr int kShownDigits = 6;
// Digits of the error map's statistics in the table (the compare view shows six): they say
// where the map lies, and four keep the table within a 1280-pixel window.
constexpr int kMapDigits = 4;
// Digits of a sort key and of the numbers handed to the page's script: a float reads back.
constexpr int kKeyDigits = 9;
// Digits of a share in percent: 57.1 %.
constexpr int kPercentDecimals = 1;
constexpr float kPercent = 100.0f;
// Stops of the colour bar's gradient: every 16th entry of the 256-colour table and the last.
constexpr std::size_t kGradientStep = 16;
// Ticks of the colour bar, as fractions of its height.
constexpr std::array<float, 5> kLegendTicks = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
// The thumbnails' histogram: its size in CSS pixels.
constexpr int kSparkWidth = 48;
constexpr int kSparkHeight = 28;

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

// A share in percent with one decimal: "57.1".
std::string percentText(float share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", kPercentDecimals,
                  static_cast<double>(share * kPercent));
    return text;
}

// A numeric cell: its sort key and its text.  A missing number sorts after every number.
std::string numberCell(const std::optional<float>& value, int digits = kShownDigits) {
    if (!value) return "<td class=\"num\" data-key=\"\"></td>";
    const std::string text = generalText(*value, digits);
    return "<td class=\"num\" data-key=\"" + generalText(*value, kKeyDigits) + "\">" + text +
           "</td>";
}

std::string percentCell(const std::optional<float>& share) {
    if (!share) return "<td class=\"num\" data-key=\"\"></td>";
    return "<td class=\"num\" data-key=\"" + generalText(*share, kKeyDigits) + "\">" +
           percentText(*share) + "</td>";
}

// The file's name, cut with an ellipsis when long (the whole path on hover), and the button
// that opens the compare view.
std::string fileCell(const ReportFile& f, std::size_t index) {
    // The last part of the path tells files apart; the whole path is on hover.
    const std::size_t slash = f.path.find_last_of('/');
    const std::string shown = slash == std::string::npos || slash + 1 == f.path.size()
                                  ? f.path
                                  : f.path.substr(slash + 1);
    return "<td class=\"file\" data-key=\"" + escaped(f.path) + "\"><span class=\"name\" title=\"" +
           escaped(f.path) + "\">" + escaped(shown) +
           "</span><button class=\"open\" data-index=\"" + std::to_string(index) +
           "\" title=\"Compare with the original (Enter)\">compare</button></td>";
}

// The gates' verdict: "pass", "FAIL measure+p99", or nothing when no gate was given or the
// file was not scored.
std::string gateCell(const ReportFile& f, bool gatesGiven) {
    if (!gatesGiven || !f.measure) return "<td data-key=\"\"></td>";
    if (f.gate.empty()) return "<td class=\"pass\" data-key=\"pass\">pass</td>";
    return "<td class=\"fail\" data-key=\"FAIL " + escaped(f.gate) + "\"><b>FAIL</b> " +
           escaped(f.gate) + "</td>";
}

std::string pictureLink(const std::string& picture, const std::string& what) {
    if (picture.empty()) return "";
    return "<a href=\"" + linkTo(picture) + "\"><img class=\"thumb\" src=\"" + linkTo(picture) +
           "\" alt=\"" + escaped(what) + "\" loading=\"lazy\"></a>";
}

// The histogram of an error map as a small SVG: bar heights by log(1 + 1000 share), so that
// the long tail of a skewed map stays visible beside its tall first bins.
std::string histogramSvg(const std::vector<float>& shares, int width, int height) {
    if (shares.empty()) return "";
    constexpr double kTailWeight = 1000.0;
    const double top = std::log1p(kTailWeight);
    std::ostringstream svg;
    svg << "<svg class=\"hist\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << shares.size() << ' ' << height
        << "\" preserveAspectRatio=\"none\" role=\"img\">";
    for (std::size_t b = 0; b < shares.size(); ++b) {
        const double h = height * std::log1p(kTailWeight * shares[b]) / top;
        if (h <= 0.0) continue;
        svg << "<rect x=\"" << b << "\" y=\"" << generalText(height - h, 4)
            << "\" width=\"1\" height=\"" << generalText(h, 4) << "\"/>";
    }
    svg << "</svg>";
    return svg.str();
}

std::string histogramCell(const ReportFile& f) {
    if (f.histogram.empty()) return "<td></td>";
    const auto stat = [](const char* name, const std::optional<float>& v) {
        return std::string(name) + " " + (v ? generalText(*v, kShownDigits) : "-");
    };
    const std::optional<float> p50 =
        f.percentiles ? std::optional<float>((*f.percentiles)[0]) : std::nullopt;
    const std::optional<float> p99 =
        f.percentiles ? std::optional<float>((*f.percentiles)[2]) : std::nullopt;
    return "<td class=\"histcell\" title=\"error map from 0 to " +
           generalText(f.histogramTop, kShownDigits) + ": " + stat("mean", f.mean) + ", " +
           stat("median", p50) + ", " + stat("p99", p99) + "\">" +
           histogramSvg(f.histogram, kSparkWidth, kSparkHeight) + "</td>";
}

// The colour of a fraction of the scale as CSS.
std::string cssColour(ColourMap colours, float fraction) {
    const Rgb8 c = colourOfFraction(colours, fraction);
    return "rgb(" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]) +
           ")";
}

// The one colour bar beside the table: title, units, gradient and tick labels.
std::string legendHtml(const ReportLegend& legend) {
    const HeatScale& scale = legend.scale;
    std::ostringstream html;
    html << "<aside class=\"legend\" id=\"legend\"><h3>Heat-map colours</h3>"
         << "<p>Visible error, in the error map's units: 0 is no visible difference, brighter is "
            "more visible.</p>";
    std::string stops;
    const std::size_t last = colourTable(scale.colours).size() - 1;
    for (std::size_t e = 0; e <= last;
         e = e + kGradientStep > last && e != last ? last : e + kGradientStep) {
        const float fraction = static_cast<float>(e) / static_cast<float>(last);
        stops += (stops.empty() ? "" : ",") + cssColour(scale.colours, fraction);
    }
    html << "<div class=\"bar\"><div class=\"ramp\" style=\"background:linear-gradient(to top,"
         << stops << ")\"></div><div class=\"ticks\">";
    for (auto it = kLegendTicks.rbegin(); it != kLegendTicks.rend(); ++it) {
        std::string label;
        if (legend.mode == HeatScaleMode::PerFile) {
            // Each file's own top: the ticks are fractions of it.
            label =
                *it == 1.0f ? "its p99" : std::to_string(static_cast<int>(*it * kPercent)) + " %";
        } else {
            label = legendLabel(heatValueAt(*it, scale));
        }
        html << "<span style=\"bottom:" << static_cast<int>(*it * kPercent) << "%\">"
             << escaped(label) << "</span>";
    }
    html << "</div></div><p class=\"scale\" id=\"legend-scale\">";
    switch (legend.mode) {
        case HeatScaleMode::Shared:
            html << "Linear, one scale for every file: 0 to " << legendLabel(scale.max)
                 << "; larger values take the top colour.";
            break;
        case HeatScaleMode::PerFile:
            html << "Linear, each file on its own scale: 0 to its own 99th percentile (shown in "
                    "its compare view). Colours do not compare across files.";
            break;
        case HeatScaleMode::Log:
            html << "Logarithmic, one scale for every file: log(1 + x/k) / log(1 + "
                 << legendLabel(scale.max) << "/k), k = " << legendLabel(scale.knee) << ", 0 to "
                 << legendLabel(scale.max) << ".";
            break;
    }
    html << "</p></aside>\n";
    return html.str();
}

constexpr const char* kStyle = R"css(
* { box-sizing: border-box; }
body { font-family: sans-serif; font-size: 14px; margin: 12px; color: #222; }
h1 { font-size: 1.4em; margin: 0 0 0.4em; }
h2 { font-size: 1.1em; margin: 1em 0 0.4em; }
h3 { font-size: 1em; margin: 0 0 0.3em; }
.summary { display: flex; gap: 16px; align-items: flex-start; }
.summary img.original { max-width: 220px; max-height: 180px; }
.summary dl { display: grid; grid-template-columns: max-content minmax(0, 1fr); gap: 0.15em 1em; margin: 0; min-width: 0; flex: 1; }
dt { font-weight: bold; }
dd { margin: 0; overflow-wrap: anywhere; }
code { font-size: 12px; overflow-wrap: anywhere; }
details.parameters dl { display: grid; grid-template-columns: max-content auto; gap: 0 1em; }
.layout { display: flex; gap: 12px; align-items: flex-start; }
.tablebox { flex: 1; min-width: 0; }
table { border-collapse: collapse; width: 100%; font-size: 12px; }
th, td { padding: 3px 3px; border-bottom: 1px solid #ddd; vertical-align: middle; }
th { cursor: pointer; background: #f2f2f2; position: sticky; top: 0; text-align: left; white-space: nowrap; z-index: 1; }
th.num { text-align: right; }
th[data-order="ascending"]::after { content: " \25B2"; }
th[data-order="descending"]::after { content: " \25BC"; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.file { max-width: 140px; }
td.file .name { display: block; overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
button.open { font-size: 11px; padding: 0 4px; margin-top: 2px; cursor: pointer; }
td.pass { color: #060; }
td.fail { color: #a00; }
tr.failed td { background: #fdecea; }
tr.message td { color: #a00; background: #fdecea; border-top: none; padding-left: 1.5em; overflow-wrap: anywhere; }
tr.current td { outline: 2px solid #36c; }
td.pics { white-space: nowrap; }
img.thumb { width: 44px; height: 36px; object-fit: contain; background: #eee; vertical-align: middle; }
svg.hist { fill: #557; vertical-align: middle; }
.legend { width: 132px; flex: none; position: sticky; top: 8px; font-size: 12px; }
.legend p { margin: 0.3em 0; }
.legend .bar { position: relative; height: 260px; margin: 8px 0; }
.legend .ramp { position: absolute; left: 0; top: 0; bottom: 0; width: 22px; border: 1px solid #888; }
.legend .ticks span { position: absolute; left: 28px; transform: translateY(50%); white-space: nowrap; }
.legend .ticks span::before { content: ""; display: inline-block; width: 6px; border-top: 1px solid #222; vertical-align: middle; margin-right: 3px; margin-left: -6px; }
#compare { position: fixed; inset: 0; background: #fff; z-index: 10; display: flex; flex-direction: column; }
#compare[hidden] { display: none; }
#compare .bar { display: flex; flex-wrap: wrap; gap: 6px; align-items: center; padding: 6px 10px; border-bottom: 1px solid #ccc; background: #f6f6f6; font-size: 13px; }
#compare .title { font-weight: bold; max-width: 360px; overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
#compare button[aria-pressed="true"] { background: #36c; color: #fff; }
#compare .main { flex: 1; display: flex; min-height: 0; }
#compare .views { flex: 1; display: flex; gap: 6px; padding: 6px; min-width: 0; }
#compare .view { flex: 1; position: relative; overflow: hidden; background: #ddd; cursor: grab; min-width: 0; }
#compare .view .label { position: absolute; left: 4px; top: 4px; background: rgba(255,255,255,0.8); padding: 1px 4px; font-size: 12px; z-index: 2; }
#compare .stage { position: absolute; left: 0; top: 0; transform-origin: 0 0; }
#compare .stage img { position: absolute; left: 0; top: 0; image-rendering: pixelated; }
#compare .side { width: 250px; padding: 8px; border-left: 1px solid #ccc; font-size: 12px; overflow: auto; }
#compare .side svg.hist { width: 230px; height: 90px; border-bottom: 1px solid #888; }
#compare .side dl { display: grid; grid-template-columns: max-content auto; gap: 0 1em; }
.keys { color: #555; }
)css";

// The page's script: sorting, the compare view and the state a link asks for.
constexpr const char* kScript = R"js(
'use strict';
const files = JSON.parse(document.getElementById('report-data').textContent);
const table = document.getElementById('files');

function fileRows() { return Array.from(table.tBodies[0].rows).filter(r => r.classList.contains('row')); }

// Sorts by a column; a failed file's message row stays under its row, missing values go last.
function sortBy(column, descending) {
  const heads = Array.from(table.tHead.rows[0].cells);
  const index = heads.findIndex(h => h.dataset.column === column);
  if (index < 0) return;
  const numeric = heads[index].dataset.type === 'number';
  const body = table.tBodies[0];
  const rows = fileRows();
  rows.sort((a, b) => {
    const x = a.cells[index].dataset.key, y = b.cells[index].dataset.key;
    if (x === '' || y === '') return (x === '') - (y === '');
    const order = numeric ? Number(x) - Number(y) : x.localeCompare(y);
    return descending ? -order : order;
  });
  rows.forEach(r => {
    const message = r.nextElementSibling && r.nextElementSibling.classList.contains('message') ? r.nextElementSibling : null;
    body.appendChild(r);
    if (message) body.appendChild(message);
  });
  heads.forEach(h => h.removeAttribute('data-order'));
  heads[index].dataset.order = descending ? 'descending' : 'ascending';
}
document.querySelectorAll('#files th[data-column]').forEach(h => h.addEventListener('click', () =>
  sortBy(h.dataset.column, h.dataset.order === 'ascending')));

// The compare view: one transform (zoom and pan) for every view, so they stay in step.
const compare = document.getElementById('compare');
// Zoom from a twentieth to 64 screen pixels per image pixel.
const kLeastZoom = 0.05, kMostZoom = 64;
const state = { index: -1, mode: 'side', overlay: false, showing: 'degraded', zoom: 1, x: 0, y: 0 };
const $ = id => document.getElementById(id);

function setPressed(id, on) { $(id).setAttribute('aria-pressed', on ? 'true' : 'false'); }

function render() {
  const f = files[state.index];
  if (!f) return;
  compare.dataset.index = String(state.index);
  compare.dataset.mode = state.mode;
  compare.dataset.overlay = state.overlay ? 'on' : 'off';
  compare.dataset.showing = state.showing;
  compare.dataset.zoom = String(state.zoom);
  $('cmp-title').textContent = f.name;
  $('cmp-title').title = f.name;
  $('cmp-position').textContent = (fileRows().findIndex(r => Number(r.dataset.index) === state.index) + 1) + ' of ' + files.length;
  const side = state.mode === 'side';
  $('view-original').hidden = !side;
  $('view-degraded').querySelector('.label').textContent = side ? 'degraded' : state.showing;
  $('img-degraded').src = side || state.showing === 'degraded' ? f.image : original;
  setPressed('cmp-side', side);
  setPressed('cmp-flicker', !side);
  setPressed('cmp-overlay', state.overlay);
  $('cmp-swap').disabled = side;
  const opacity = Number($('cmp-opacity').value) / 100;
  document.querySelectorAll('#compare img.heat').forEach(i => {
    i.src = f.heat || '';
    i.style.opacity = state.overlay && f.heat ? String(opacity) : '0';
  });
  document.querySelectorAll('#compare .stage').forEach(s => {
    s.style.transform = 'translate(' + state.x + 'px,' + state.y + 'px) scale(' + state.zoom + ')';
  });
  $('cmp-stats').innerHTML = f.statsHtml;
  document.querySelectorAll('#files tr.current').forEach(r => r.classList.remove('current'));
  const row = fileRows().find(r => Number(r.dataset.index) === state.index);
  if (row) row.classList.add('current');
}

// Fits the picture in the views.
function fit() {
  const view = $('view-degraded');
  const img = $('img-original');
  const w = img.naturalWidth || 1, h = img.naturalHeight || 1;
  const fitting = Math.min(view.clientWidth / w, view.clientHeight / h) || 1;
  state.zoom = Math.min(kMostZoom, Math.max(kLeastZoom, fitting));
  state.x = (view.clientWidth - w * state.zoom) / 2;
  state.y = (view.clientHeight - h * state.zoom) / 2;
}

function zoomAt(factor, cx, cy) {
  const z = Math.min(kMostZoom, Math.max(kLeastZoom, state.zoom * factor));
  state.x = cx - (cx - state.x) * z / state.zoom;
  state.y = cy - (cy - state.y) * z / state.zoom;
  state.zoom = z;
  render();
}

function open(index) {
  if (!files[index]) return;
  const first = compare.hidden;
  state.index = index;
  compare.hidden = false;
  render();
  // Fitted once the views are laid out, the first time the view opens.
  if (first) { fit(); render(); }
}
function close() { compare.hidden = true; compare.dataset.index = ''; }

// The next or previous file in the table's present order.
function step(by) {
  const order = fileRows().map(r => Number(r.dataset.index));
  const at = order.indexOf(state.index);
  const next = order[(at + by + order.length) % order.length];
  open(next);
}

const original = document.getElementById('img-original').getAttribute('src');
$('cmp-side').addEventListener('click', () => { state.mode = 'side'; render(); });
$('cmp-flicker').addEventListener('click', () => { state.mode = 'flicker'; render(); });
$('cmp-swap').addEventListener('click', () => { state.showing = state.showing === 'degraded' ? 'original' : 'degraded'; render(); });
$('cmp-overlay').addEventListener('click', () => { state.overlay = !state.overlay; render(); });
$('cmp-opacity').addEventListener('input', () => { state.overlay = true; render(); });
$('cmp-prev').addEventListener('click', () => step(-1));
$('cmp-next').addEventListener('click', () => step(1));
$('cmp-in').addEventListener('click', () => { const v = $('view-degraded'); zoomAt(1.5, v.clientWidth / 2, v.clientHeight / 2); });
$('cmp-out').addEventListener('click', () => { const v = $('view-degraded'); zoomAt(1 / 1.5, v.clientWidth / 2, v.clientHeight / 2); });
$('cmp-fit').addEventListener('click', () => { fit(); render(); });
$('cmp-close').addEventListener('click', close);
document.querySelectorAll('button.open').forEach(b => b.addEventListener('click', () => open(Number(b.dataset.index))));
document.querySelectorAll('#compare .view').forEach(view => {
  view.addEventListener('wheel', e => {
    e.preventDefault();
    const r = view.getBoundingClientRect();
    zoomAt(e.deltaY < 0 ? 1.25 : 0.8, e.clientX - r.left, e.clientY - r.top);
  }, { passive: false });
  let drag = null;
  view.addEventListener('pointerdown', e => { drag = { x: e.clientX - state.x, y: e.clientY - state.y }; view.setPointerCapture(e.pointerId); });
  view.addEventListener('pointermove', e => { if (!drag) return; state.x = e.clientX - drag.x; state.y = e.clientY - drag.y; render(); });
  view.addEventListener('pointerup', () => { drag = null; });
});

// Keys of the compare view (and Enter on the table to open it on the first file).
function key(name) {
  if (compare.hidden) {
    if (name === 'Enter' || name === 'c') open(fileRows().length ? Number(fileRows()[0].dataset.index) : 0);
    return;
  }
  switch (name) {
    case 'Escape': close(); break;
    case 'ArrowRight': case 'n': case 'j': step(1); break;
    case 'ArrowLeft': case 'p': case 'k': step(-1); break;
    case 's': state.mode = 'side'; render(); break;
    case 'f': state.mode = state.mode === 'flicker' ? 'side' : 'flicker'; render(); break;
    case ' ': if (state.mode === 'side') state.mode = 'flicker';
              state.showing = state.showing === 'degraded' ? 'original' : 'degraded'; render(); break;
    case 'h': state.overlay = !state.overlay; render(); break;
    case '+': case '=': $('cmp-in').click(); break;
    case '-': $('cmp-out').click(); break;
    case '0': fit(); render(); break;
  }
}
document.addEventListener('keydown', e => {
  if (e.target instanceof HTMLInputElement && e.target.type === 'range' && e.key.startsWith('Arrow')) return;
  if (e.ctrlKey || e.metaKey || e.altKey) return;
  const handled = ['Escape', 'ArrowRight', 'ArrowLeft', ' ', 'Enter', 'n', 'p', 'j', 'k', 's', 'f', 'h', '+', '=', '-', '0', 'c'];
  if (!handled.includes(e.key)) return;
  if (e.key === 'Enter' && e.target instanceof HTMLButtonElement) return;
  e.preventDefault();
  key(e.key);
});

// The state a link asks for: #sort=..., #compare=n, #keys=....
const wanted = new URLSearchParams(location.hash.slice(1));
if (wanted.has('sort')) { const s = wanted.get('sort'); sortBy(s.replace(/^-/, ''), s.startsWith('-')); }
window.addEventListener('load', () => {
  const shown = Array.from(document.images).filter(i => i.complete && i.naturalWidth > 0);
  document.body.dataset.imagesLoaded = String(shown.length);
  if (wanted.has('compare')) open(Number(wanted.get('compare')) - 1);
  if (wanted.has('keys')) {
    for (const k of wanted.get('keys').split(',')) {
      if (k.startsWith('#')) { const el = document.getElementById(k.slice(1)); if (el) el.click(); }
      else key(k === 'space' ? ' ' : k);
    }
  }
  const root = document.documentElement;
  document.body.dataset.horizontalScroll = root.scrollWidth > root.clientWidth ? 'yes' : 'no';
});
)js";

struct Column {
    const char* key;
    const char* heading;
    bool number;
    const char* title;  // what the heading's tooltip says
};

constexpr Column kLeadColumns[] = {
    {"file", "File", false, "The degraded file"},
    {"measure", "Measure", true,
     "Pooled visible error: 0 is no visible difference, lower is better"},
    {"score", "Score", true, "The measure on the 1 to 5 quality scale: higher is better"},
    {"gate", "Gate", false, "The quality gates: pass, or FAIL and the gates crossed"},
};
constexpr Column kMapColumns[] = {
    {"mean", "mean", true, "Mean of the error map"},
    {"p50", "p50", true, "Median of the error map"},
    {"p95", "p95", true, "95th percentile of the error map"},
    {"p99", "p99", true, "99th percentile of the error map"},
    {"max", "max", true, "Largest value of the error map"},
};
constexpr Column kShareColumns[] = {
    {"base", "Base %", true, "Share of the measure from the base term"},
    {"crown2", "Cr2 %", true, "Share of the measure from the crown-2 term"},
    {"crown3", "Cr3 %", true, "Share of the measure from the crown-3 term"},
    {"crown4", "Cr4 %", true, "Share of the measure from the crown-4 term"},
    {"A", "A %", true,
     "The error map of the achromatic channel's differences alone (not additive)"},
    {"C1", "C1 %", true, "The error map of the C1 channel's differences alone (not additive)"},
    {"C2", "C2 %", true, "The error map of the C2 channel's differences alone (not additive)"},
    {"structure", "Edges %", true, "Share of the measure from where the edge structure changed"},
};

template <std::size_t N>
std::optional<float> entry(const std::optional<std::array<float, N>>& values, std::size_t i) {
    if (!values) return std::nullopt;
    return (*values)[i];
}

std::string heading(const Column& c) {
    return std::string("<th data-column=\"") + c.key + "\" data-type=\"" +
           (c.number ? "number" : "text") + "\"" + (c.number ? " class=\"num\"" : "") +
           " title=\"" + escaped(c.title) + "\">" + c.heading + "</th>";
}

std::string optionalText(const std::optional<float>& v) {
    return v ? generalText(*v, kShownDigits) : "-";
}

// The numbers of one file under its histogram in the compare view.
std::string statsHtml(const ReportFile& f) {
    std::ostringstream html;
    html << histogramSvg(f.histogram, 230, 90);
    if (!f.histogram.empty()) {
        html << "<div class=\"keys\">error map, 0 to "
             << escaped(generalText(f.histogramTop, kShownDigits))
             << "; bar height by log(1 + 1000 share)</div>";
    }
    html << "<dl><dt>measure</dt><dd>" << optionalText(f.measure) << "</dd><dt>score</dt><dd>"
         << optionalText(f.score) << "</dd><dt>mean</dt><dd>" << optionalText(f.mean)
         << "</dd><dt>median</dt><dd>" << optionalText(entry(f.percentiles, 0))
         << "</dd><dt>p99</dt><dd>" << optionalText(entry(f.percentiles, 2))
         << "</dd><dt>max</dt><dd>" << optionalText(entry(f.percentiles, 3)) << "</dd>";
    if (f.heatTop)
        html << "<dt>heat scale</dt><dd>0 to " << escaped(legendLabel(*f.heatTop)) << "</dd>";
    if (!f.error.empty()) html << "<dt>error</dt><dd>" << escaped(f.error) << "</dd>";
    html << "</dl>";
    return html.str();
}

// The files' numbers for the compare view, as JSON that cannot end the script element it is
// in: every '<' is written as \u003c.
std::string filesJson(const ReportRun& run) {
    nlohmann::json list = nlohmann::json::array();
    for (const ReportFile& f : run.files) {
        list.push_back({{"name", f.path},
                        {"image", f.image.empty() ? "" : linkTo(f.image)},
                        {"heat", f.heatMap.empty() ? "" : linkTo(f.heatMap)},
                        {"statsHtml", statsHtml(f)}});
    }
    const std::string text = list.dump();
    std::string safe;
    for (const char c : text) safe += c == '<' ? std::string("\\u003c") : std::string(1, c);
    return safe;
}

constexpr const char* kCompareView =
    R"html(<div id="compare" hidden data-mode="side" data-overlay="off">
<div class="bar">
<button id="cmp-prev" title="Previous file (Left arrow, p)">&#9664; prev</button>
<button id="cmp-next" title="Next file (Right arrow, n)">next &#9654;</button>
<span id="cmp-position"></span>
<span class="title" id="cmp-title"></span>
<button id="cmp-side" aria-pressed="true" title="Original and degraded side by side (s)">side by side</button>
<button id="cmp-flicker" aria-pressed="false" title="One view, switching between original and degraded (f)">flicker</button>
<button id="cmp-swap" title="Show the other image in flicker mode (Space)">swap</button>
<button id="cmp-overlay" aria-pressed="false" title="Lay the heat map over the images (h)">heat map</button>
<label>opacity <input id="cmp-opacity" type="range" min="0" max="100" value="60"></label>
<button id="cmp-out" title="Zoom out (-)">&minus;</button>
<button id="cmp-in" title="Zoom in (+, or the mouse wheel)">+</button>
<button id="cmp-fit" title="Fit (0)">fit</button>
<button id="cmp-close" title="Back to the table (Esc)">close</button>
</div>
<div class="main"><div class="views">
<div class="view" id="view-original"><span class="label">original</span><div class="stage"><img id="img-original" src="ORIGINAL" alt="original"><img class="heat" alt=""></div></div>
<div class="view" id="view-degraded"><span class="label">degraded</span><div class="stage"><img id="img-degraded" alt="degraded"><img class="heat" alt=""></div></div>
</div><div class="side"><h3>Error map</h3><div id="cmp-stats"></div>
<p class="keys">Keys: &larr; &rarr; previous / next file, s side by side, f flicker, Space swap, h heat map, + &minus; 0 zoom, drag to pan, Esc close.</p></div></div>
</div>
)html";

}  // namespace

ReportSummary summaryOf(const std::vector<ReportFile>& files) {
    ReportSummary summary;
    std::vector<float> measures;
    for (const ReportFile& f : files) {
        if (f.measure) measures.push_back(*f.measure);
        if (!f.measure || !f.error.empty()) ++summary.failed;
        if (f.measure) ++summary.scored;
        if (f.measure && !f.gate.empty()) ++summary.crossed;
    }
    if (measures.empty()) return summary;
    std::sort(measures.begin(), measures.end());
    const std::size_t n = measures.size();
    summary.minMeasure = measures.front();
    summary.maxMeasure = measures.back();
    summary.medianMeasure =
        n % 2 == 1 ? measures[n / 2]
                   : static_cast<float>(
                         (static_cast<double>(measures[n / 2 - 1]) + measures[n / 2]) / 2.0);
    return summary;
}

std::string reportHtml(const ReportRun& run) {
    const ReportSummary summary = summaryOf(run.files);
    const bool gatesGiven = !run.gates.empty();
    const bool explained = std::any_of(run.files.begin(), run.files.end(), [](const ReportFile& f) {
        return f.termShares.has_value();
    });
    std::ostringstream page;
    page << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<meta name=\"viewport\" content=\"width=device-width\">\n"
         << "<title>Lumetra report: " << escaped(run.original) << "</title>\n"
         << "<style>" << kStyle << "</style>\n</head>\n<body>\n"
         << "<h1>Lumetra report</h1>\n<section class=\"summary\" id=\"summary\">\n";
    if (!run.originalImage.empty()) {
        page << "<a href=\"" << linkTo(run.originalImage) << "\"><img class=\"original\" src=\""
             << linkTo(run.originalImage) << "\" alt=\"original\"></a>\n";
    }
    const auto measureText = [](const std::optional<float>& v) {
        return v ? generalText(*v, kShownDigits) : std::string("-");
    };
    page << "<dl>\n<dt>Original</dt><dd>" << escaped(run.original) << "</dd>\n"
         << "<dt>Viewing</dt><dd>" << escaped(run.viewing) << "</dd>\n"
         << "<dt>Files</dt><dd><span id=\"count-scored\">" << summary.scored << "</span> scored, "
         << "<span id=\"count-failed\">" << summary.failed << "</span> failed, "
         << "<span id=\"count-crossed\">" << summary.crossed << "</span> crossed a gate"
         << (gatesGiven ? " (" + escaped(run.gates) + ")" : std::string(" (no gate given)"))
         << "</dd>\n"
         << "<dt>Measure</dt><dd>min <span id=\"measure-min\">" << measureText(summary.minMeasure)
         << "</span>, median <span id=\"measure-median\">" << measureText(summary.medianMeasure)
         << "</span>, max <span id=\"measure-max\">" << measureText(summary.maxMeasure)
         << "</span> (0 is no visible difference; lower is better)</dd>\n"
         << "<dt>Made by</dt><dd>lumetra " << escaped(run.version) << ", " << escaped(run.date)
         << "</dd>\n"
         << "<dt>Command</dt><dd><code id=\"command-line\">" << escaped(run.commandLine)
         << "</code></dd>\n"
         << "<dt>Parameters</dt><dd><details class=\"parameters\"><summary>"
         << run.parameters.size() << " settings</summary><dl>\n";
    for (const auto& [name, value] : run.parameters) {
        page << "<dt>" << escaped(name) << "</dt><dd>" << escaped(value) << "</dd>\n";
    }
    page << "</dl></details></dd>\n</dl>\n</section>\n<h2>Files</h2>\n"
         << "<p>A larger measure and a lower score mean a more visible difference. Click a heading "
            "to sort; a picture opens at full size; <b>compare</b> (or Enter) opens the compare "
            "view.</p>\n<div class=\"layout\"><div class=\"tablebox\">\n"
         << "<table id=\"files\">\n<thead><tr>";
    for (const Column& c : kLeadColumns) page << heading(c);
    page << "<th title=\"The degraded image and its heat map\">Pictures</th>"
         << "<th title=\"Histogram of the error map, 0 to its largest value\">Histogram</th>";
    for (const Column& c : kMapColumns) page << heading(c);
    if (explained) {
        for (const Column& c : kShareColumns) page << heading(c);
    }
    const std::size_t columnCount = std::size(kLeadColumns) + 2 + std::size(kMapColumns) +
                                    (explained ? std::size(kShareColumns) : 0);
    page << "</tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        const ReportFile& f = run.files[i];
        const bool failed = !f.measure || !f.error.empty();
        page << "<tr class=\"row" << (failed ? " failed" : "") << "\" data-index=\"" << i
             << "\" data-file=\"" << escaped(f.path) << "\">" << fileCell(f, i)
             << numberCell(f.measure) << numberCell(f.score) << gateCell(f, gatesGiven)
             << "<td class=\"pics\">" << pictureLink(f.image, "degraded") << ' '
             << pictureLink(f.heatMap, "heat map") << "</td>" << histogramCell(f)
             << numberCell(f.mean, kMapDigits);
        for (std::size_t p = 0; p < 4; ++p) page << numberCell(entry(f.percentiles, p), kMapDigits);
        if (explained) {
            for (std::size_t t = 0; t < 4; ++t) page << percentCell(entry(f.termShares, t));
            for (std::size_t c = 0; c < 3; ++c) page << percentCell(entry(f.channelShares, c));
            page << percentCell(f.structureShare);
        }
        page << "</tr>\n";
        if (!f.error.empty()) {
            page << "<tr class=\"message\"><td colspan=\"" << columnCount << "\">"
                 << escaped(f.error) << "</td></tr>\n";
        }
    }
    page << "</tbody>\n</table>\n</div>\n";
    if (run.legend) page << legendHtml(*run.legend);
    page << "</div>\n";
    std::string compareView = kCompareView;
    compareView.replace(compareView.find("ORIGINAL"), 8, linkTo(run.originalImage));
    page << compareView << "<script type=\"application/json\" id=\"report-data\">" << filesJson(run)
         << "</script>\n<script>" << kScript << "</script>\n</body>\n</html>\n";
    return page.str();
}

void writeReport(const std::filesystem::path& dir, const ReportRun& run) {
    const std::string html = reportHtml(run);
    writeFileAtomically((dir / "index.html").string(), [&](std::FILE* file) {
        return std::fwrite(html.data(), 1, html.size(), file) == html.size();
    });
}

}  // namespace lumetra
