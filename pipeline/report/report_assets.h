// The style sheet and the script of the HTML report, inlined into the page
// so that it works from file:// with no other file and no network.
#pragma once

#include <string_view>

namespace demosaic {

// Readable on a laptop and on a phone: one column of sections at most about
// 82 rem wide; the figure table scrolls sideways on its own when it is wider
// than the screen; magnified crops keep their pixels square and sharp.
inline constexpr std::string_view kReportStyle = R"css(
:root { --ink: #1d1f23; --muted: #5b6170; --rule: #d9dce3; --panel: #f5f6f8; --accent: #ff2d55; }
* { box-sizing: border-box; }
body { margin: 0; color: var(--ink); background: #fff;
  font: 15px/1.5 system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif; }
main { max-width: 82rem; margin: 0 auto; padding: 1rem 1rem 3rem; }
h1 { font-size: 1.6rem; margin: 0.5rem 0 0.25rem; }
h2 { font-size: 1.2rem; margin: 2rem 0 0.5rem; border-bottom: 1px solid var(--rule); padding-bottom: 0.25rem; }
h3 { font-size: 1.05rem; margin: 0 0 0.25rem; word-break: break-all; }
p { margin: 0.25rem 0 0.5rem; }
.muted, figcaption, .note { color: var(--muted); }
.note { font-size: 0.9rem; }
a { color: #0b5cad; }
.swatch { display: inline-block; width: 0.75rem; height: 0.75rem; border-radius: 50%; vertical-align: -0.05rem; margin-right: 0.3rem; }
.cards { display: flex; flex-wrap: wrap; gap: 0.5rem; margin: 0.75rem 0; }
.card { flex: 1 1 10rem; background: var(--panel); border-radius: 0.5rem; padding: 0.5rem 0.75rem; border-top: 4px solid; }
.card .name { font-weight: 600; }
.card .figure { font-size: 1.6rem; font-variant-numeric: tabular-nums; line-height: 1.2; }
.settings { display: grid; grid-template-columns: max-content 1fr; gap: 0.15rem 1rem; margin: 0; }
.settings dt { color: var(--muted); }
.settings dd { margin: 0; }
.table-scroll { overflow-x: auto; -webkit-overflow-scrolling: touch; border: 1px solid var(--rule); border-radius: 0.4rem; }
table { border-collapse: collapse; width: 100%; font-variant-numeric: tabular-nums; font-size: 0.85rem; }
th, td { padding: 0.3rem 0.45rem; white-space: nowrap; }
thead th { background: var(--panel); border-bottom: 1px solid var(--rule); }
thead tr.groups th.method { border-bottom: 3px solid; text-align: left; }
tbody tr:nth-child(even) { background: #fafbfc; }
tbody th { text-align: left; font-weight: normal; }
/* The image names stay in view while the figures scroll sideways. */
tbody th, tfoot th, thead tr.columns th:nth-child(2) { position: sticky; left: 0; z-index: 1; background: #fff; }
thead tr.columns th:nth-child(2) { background: var(--panel); }
tbody tr:nth-child(even) th { background: #fafbfc; }
td.figure { text-align: right; }
td.best { font-weight: 700; }
tfoot tr { border-top: 2px solid var(--ink); font-weight: 600; }
tfoot th { text-align: left; }
th button { font: inherit; font-weight: 600; color: inherit; background: none; border: 0; padding: 0; cursor: pointer; white-space: nowrap; }
th button::after { content: "\2195"; color: #a0a6b4; font-size: 0.8em; margin-left: 0.15em; }
th[aria-sort="ascending"] button::after { content: "\2191"; color: var(--ink); }
th[aria-sort="descending"] button::after { content: "\2193"; color: var(--ink); }
.chart-scroll { overflow-x: auto; }
.interval-chart { overflow-x: auto; }
.interval-plot { width: 100%; max-width: 35rem; height: auto; display: block; }
.dot-chart { width: 100%; max-width: 35rem; height: auto; display: block; font-size: 12.5px; }
.dot-chart .grid { stroke: #e6e8ee; }
.dot-chart .rule { stroke: #f0f1f5; }
.dot-chart .tick, .dot-chart .axis-title { fill: var(--muted); }
.dot-chart .mean .label { font-weight: 700; }
.legend { display: flex; flex-wrap: wrap; gap: 0.25rem 1rem; margin: 0.25rem 0; }
.image { border-top: 1px solid var(--rule); padding-top: 1rem; margin-top: 1.25rem; }
/* Crops at their own size (a whole number of screen pixels per image pixel) where they fit. */
.panels { display: grid; grid-template-columns: repeat(auto-fill, 256px); gap: 0.75rem; margin-top: 0.5rem; }
figure { margin: 0; }
figure a { display: block; }
figure img { display: block; width: 100%; height: auto; background: var(--panel); }
img.crop { image-rendering: pixelated; image-rendering: crisp-edges; }
figure img + img, figure a + a { margin-top: 0.35rem; }
figcaption { font-size: 0.85rem; margin-top: 0.2rem; line-height: 1.3; }
figcaption b { color: var(--ink); }
.value { white-space: nowrap; }
.thumb { position: relative; }
.mark { position: absolute; min-width: 6px; min-height: 6px; outline: 2px solid var(--accent); box-shadow: 0 0 0 3px rgba(255,255,255,0.8); }
.scale { height: 0.6rem; width: 12rem; max-width: 60%; display: inline-block; vertical-align: middle; border-radius: 2px; margin: 0 0.35rem; }
.problem { color: #a4000f; }
select { font: inherit; }
@media (max-width: 40rem) {
  body { font-size: 14px; }
  main { padding: 0.5rem 0.6rem 2rem; }
  .settings { grid-template-columns: 1fr; }
  .settings dd { margin-bottom: 0.3rem; }
  .card .figure { font-size: 1.3rem; }
  .panels { grid-template-columns: repeat(2, minmax(0, 1fr)); gap: 0.5rem; }
}
)css";

// Sorting: a click on a column heading sorts the image rows by that column
// (numbers highest first, names A to Z; a second click reverses), the mean
// row staying last. The chart chooser shows the chart of one figure column.
inline constexpr std::string_view kReportScript = R"js(
(function () {
  'use strict';
  var table = document.getElementById('figures');
  if (table) {
    var body = table.tBodies[0];
    var value = function (cell, numeric) {
      var text = cell.getAttribute('data-value');
      if (!numeric) return text;
      if (text === 'inf') return Infinity;
      if (text === '-inf') return -Infinity;
      return Number(text);
    };
    var headings = table.querySelectorAll('thead th[data-column]');
    Array.prototype.forEach.call(headings, function (heading) {
      heading.querySelector('button').addEventListener('click', function () {
        var column = Number(heading.getAttribute('data-column'));
        var numeric = heading.getAttribute('data-kind') === 'number';
        var previous = heading.getAttribute('aria-sort');
        var ascending = previous ? previous === 'descending' : !numeric;
        var rows = Array.prototype.slice.call(body.rows);
        rows.sort(function (a, b) {
          var x = value(a.cells[column], numeric);
          var y = value(b.cells[column], numeric);
          // A figure not measured (a compared method's missing file) sorts
          // last in either direction.
          if (numeric && (isNaN(x) || isNaN(y))) return isNaN(x) - isNaN(y);
          var order = numeric ? (x < y ? -1 : x > y ? 1 : 0)
                              : String(x).localeCompare(String(y), undefined, {numeric: true});
          return ascending ? order : -order;
        });
        rows.forEach(function (row) { body.appendChild(row); });
        Array.prototype.forEach.call(headings, function (other) { other.removeAttribute('aria-sort'); });
        heading.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
      });
    });
  }
  var chooser = document.getElementById('chart-column');
  if (chooser) {
    chooser.addEventListener('change', function () {
      Array.prototype.forEach.call(document.querySelectorAll('.chart'), function (chart) {
        chart.hidden = chart.getAttribute('data-column') !== chooser.value;
      });
    });
  }
})();
)js";

}  // namespace demosaic
