// Writing the report's HTML document.
#include "report/report_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "report/error_map.h"
#include "report/report_assets.h"
#include "report/report_chart.h"
#include "report/report_comparisons.h"
#include "report/table.h"

namespace demosaic {
namespace {

std::string Fixed(double value, int decimals) {
  if (std::isnan(value)) return "-";  // not measured
  return FixedDecimals(value, decimals);
}

std::string WithUnit(double value, const FigureColumn& column) {
  if (std::isnan(value)) return Fixed(value, column.decimals);
  return Fixed(value, column.decimals) + (column.unit.empty() ? "" : " " + column.unit);
}

std::string Percent(double part, double whole) {
  return Fixed(100.0 * part / whole, 3) + "%";
}

std::string Size(std::int32_t width, std::int32_t height) {
  return std::to_string(width) + " \u00d7 " + std::to_string(height);
}

std::string Attribute(const std::string& name, const std::string& value) {
  return " " + name + "=\"" + EscapeHtml(value) + "\"";
}

std::string Swatch(std::size_t method) {
  return "<span class=\"swatch\" style=\"background:" + std::string(MethodColour(method)) +
         "\"></span>";
}

// The viridis map of the error images as a CSS gradient, sampled from the
// very colour map they are drawn with.
std::string ErrorScaleGradient() {
  cv::Mat levels(1, 9, CV_8UC1);
  for (int k = 0; k < 9; ++k)
    levels.at<std::uint8_t>(0, k) = static_cast<std::uint8_t>(k * 255 / 8);
  cv::Mat colours;
  cv::applyColorMap(levels, colours, cv::COLORMAP_VIRIDIS);
  std::string gradient = "linear-gradient(to right";
  for (int k = 0; k < 9; ++k) {
    const cv::Vec3b bgr = colours.at<cv::Vec3b>(0, k);
    char hex[16];
    std::snprintf(hex, sizeof hex, ", #%02x%02x%02x", bgr[2], bgr[1], bgr[0]);
    gradient += hex;
  }
  return gradient + ")";
}

// Which methods reach the best value of column k in `values` ([method][column]).
std::vector<bool> Best(const std::vector<std::vector<double>>& values, std::size_t k,
                       bool higher_is_better) {
  double best = std::numeric_limits<double>::quiet_NaN();
  for (const std::vector<double>& method : values) {
    if (std::isnan(method[k])) continue;
    best = std::isnan(best)   ? method[k]
           : higher_is_better ? std::max(best, method[k])
                              : std::min(best, method[k]);
  }
  std::vector<bool> is_best;
  for (const std::vector<double>& method : values) is_best.push_back(method[k] == best);
  return is_best;
}

// The figure cells of one row, method by method.
std::string FigureCells(const ReportPage& page, const std::vector<std::vector<double>>& values) {
  std::string cells;
  std::vector<std::vector<bool>> best;
  for (std::size_t k = 0; k < page.columns.size(); ++k) {
    best.push_back(Best(values, k, page.columns[k].higher_is_better));
  }
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    for (std::size_t k = 0; k < page.columns.size(); ++k) {
      const bool marked = best[k][m] && page.methods.size() > 1;
      cells += "<td class=\"figure" + std::string(marked ? " best" : "") + "\"" +
               Attribute("data-value", FullPrecision(values[m][k])) + ">" +
               Fixed(values[m][k], page.columns[k].decimals) + "</td>";
    }
  }
  return cells;
}

// Megapixels per second as the table's throughput row shows them: "-" when
// no time was measured.
std::string RateText(double rate) {
  return std::isfinite(rate) ? Fixed(rate, 1) : "-";
}

std::string AnchorOf(const ReportImage& image) {
  return "img-" + std::to_string(image.number);
}

std::string Header(const ReportPage& page, const std::vector<std::vector<double>>& means) {
  const std::size_t headline = HeadlineColumn(page.columns);
  const FigureColumn& column = page.columns[headline];
  std::string html = "<header>\n<h1>demosaic-bench report</h1>\n<p class=\"muted\">" +
                     std::to_string(page.images.size()) +
                     (page.images.size() == 1 ? " image" : " images") + " measured";
  if (!page.skipped.empty()) html += ", " + std::to_string(page.skipped.size()) + " skipped";
  html += " \u00b7 " + EscapeHtml(page.pattern) + " Bayer tile" +
          (page.srgb ? " \u00b7 figures after the sRGB transfer curve" : "") + " \u00b7 " +
          EscapeHtml(page.date) + "</p>\n";
  if (means.empty()) return html + "</header>\n";
  html += "<div class=\"cards\">\n";
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    html += "<div class=\"card\" style=\"border-top-color:" + std::string(MethodColour(m)) +
            "\"><div class=\"name\">" + Swatch(m) + EscapeHtml(page.methods[m]) +
            "</div><div class=\"figure\">" + EscapeHtml(WithUnit(means[m][headline], column)) +
            "</div><div class=\"muted\">mean " + EscapeHtml(column.name) + " \u00b7 " +
            RateText(page.throughput[m]) + " MP/s</div></div>\n";
  }
  return html + "</div>\n</header>\n";
}

std::string Settings(const ReportPage& page) {
  const std::string& tile = page.pattern;
  std::string figures;
  for (const FigureColumn& column : page.columns) {
    if (!figures.empty()) figures += ", ";
    figures += column.name + (column.unit.empty() ? "" : " (" + column.unit + ")");
  }
  std::string html = "<section id=\"run\">\n<h2>Run</h2>\n<dl class=\"settings\">\n";
  auto item = [&](const std::string& term, const std::string& escaped_value) {
    html += "<dt>" + term + "</dt><dd>" + escaped_value + "</dd>\n";
  };
  std::string layout = EscapeHtml(tile);
  if (tile.size() == 4) {
    layout += " (" + EscapeHtml(tile.substr(0, 1) + " " + tile.substr(1, 1)) + " on even rows, " +
              EscapeHtml(tile.substr(2, 1) + " " + tile.substr(3, 1)) + " on odd rows)";
  }
  item("Bayer tile", layout);
  item("Border", std::to_string(page.border) +
                     " pixels at every edge left out of every figure and of the regions shown");
  item("Figures", EscapeHtml(figures) + "; mean = mean of the per-image figures");
  std::string methods;
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    methods += (m == 0 ? "" : " ") + Swatch(m) + EscapeHtml(page.methods[m]);
  }
  item("Methods", methods);
  const bool noisy = page.noise.size() > 1 || page.noise.front() != "none";
  if (noisy) {
    std::string levels;
    for (const std::string& level : page.noise) levels += (levels.empty() ? "" : ", ") + level;
    item("Noise", EscapeHtml(levels) + " (seed " + std::to_string(page.seed) +
                      "); the table, the chart and the regions show " +
                      EscapeHtml(page.noise.front()) + ", the comparisons every level");
  }
  item("Images", std::to_string(page.images.size()) + " measured, " +
                     std::to_string(page.skipped.size()) + " skipped");
  item("Date", EscapeHtml(page.date));
  item("Program", "demosaic-bench " + EscapeHtml(page.version));
  return html + "</dl>\n</section>\n";
}

std::string Table(const ReportPage& page, const std::vector<std::vector<double>>& means) {
  const std::size_t group = page.columns.size();
  std::string html =
      "<section id=\"summary\">\n<h2>Figures</h2>\n<p class=\"note\">Click a column heading to "
      "sort by it; best figure of each row in bold.</p>\n<div class=\"table-scroll\">\n"
      "<table id=\"figures\">\n<colgroup span=\"3\"></colgroup>";
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    html += "<colgroup class=\"method\" span=\"" + std::to_string(group) + "\"></colgroup>";
  }
  html += "\n<thead>\n<tr class=\"groups\"><th colspan=\"3\"></th>";
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    html += "<th class=\"method\" scope=\"colgroup\" colspan=\"" + std::to_string(group) +
            "\" style=\"border-bottom-color:" + std::string(MethodColour(m)) + "\">" + Swatch(m) +
            EscapeHtml(page.methods[m]) + "</th>";
  }
  html += "</tr>\n<tr class=\"columns\">";
  std::size_t column = 0;
  auto heading = [&](const std::string& label, const char* kind) {
    html += "<th scope=\"col\" data-column=\"" + std::to_string(column++) + "\" data-kind=\"" +
            kind + "\"><button type=\"button\">" + EscapeHtml(label) + "</button></th>";
  };
  heading("#", "number");
  heading("image", "text");
  heading("size", "number");
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    for (const FigureColumn& figure : page.columns) heading(figure.name, "number");
  }
  html += "</tr>\n</thead>\n<tbody>\n";
  for (const ReportImage& image : page.images) {
    const double pixels = static_cast<double>(image.width) * static_cast<double>(image.height);
    html += "<tr><td" + Attribute("data-value", std::to_string(image.number)) + ">" +
            std::to_string(image.number) + "</td><th scope=\"row\"" +
            Attribute("data-value", image.name) + "><a href=\"#" + AnchorOf(image) + "\">" +
            EscapeHtml(image.name) + "</a></th><td" +
            Attribute("data-value", FullPrecision(pixels)) + ">" + Size(image.width, image.height) +
            "</td>" + FigureCells(page, image.values) + "</tr>\n";
  }
  html += "</tbody>\n";
  if (!means.empty()) {
    html += "<tfoot>\n<tr class=\"mean\"><td></td><th scope=\"row\">mean</th><td>" +
            std::to_string(page.images.size()) + (page.images.size() == 1 ? " image" : " images") +
            "</td>" + FigureCells(page, means) + "</tr>\n</tfoot>\n";
  }
  return html + "</table>\n</div>\n</section>\n";
}

std::string Charts(const ReportPage& page, const std::vector<std::vector<double>>& means) {
  const std::size_t headline = HeadlineColumn(page.columns);
  std::string html = "<section id=\"chart\">\n<h2>Chart</h2>\n";
  if (page.columns.size() > 1) {
    html += "<p><label>Figure: <select id=\"chart-column\">";
    for (std::size_t k = 0; k < page.columns.size(); ++k) {
      html += "<option" + Attribute("value", page.columns[k].name) +
              (k == headline ? " selected" : "") + ">" + EscapeHtml(page.columns[k].name) +
              "</option>";
    }
    html += "</select></label></p>\n";
  }
  html += "<div class=\"legend\">";
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    html += "<span>" + Swatch(m) + EscapeHtml(page.methods[m]) + "</span>";
  }
  html += "</div>\n";
  std::vector<std::string> names;
  for (const ReportImage& image : page.images) names.push_back(image.name);
  for (std::size_t k = 0; k < page.columns.size(); ++k) {
    std::vector<std::vector<double>> values;  // [image][method]
    for (const ReportImage& image : page.images) {
      values.emplace_back();
      for (const std::vector<double>& method : image.values) values.back().push_back(method[k]);
    }
    std::vector<double> mean;
    for (const std::vector<double>& method : means) mean.push_back(method[k]);
    html += "<div class=\"chart chart-scroll\"" + Attribute("data-column", page.columns[k].name) +
            (k == headline ? "" : " hidden") + ">\n" +
            RenderFigureChart(page.columns[k], names, page.methods, values, mean) + "</div>\n";
  }
  return html + "</section>\n";
}

std::string ImageFigure(const std::string& href, const std::string& src, std::int32_t side,
                        const std::string& alt) {
  return "<a" + Attribute("href", href) + "><img class=\"crop\"" + Attribute("src", src) +
         " width=\"" + std::to_string(side) + "\" height=\"" + std::to_string(side) + "\"" +
         Attribute("alt", alt) + "></a>";
}

std::string ImageSectionHtml(const ReportPage& page, const ReportImage& image) {
  const ImageSection& files = image.section;
  const Region& region = files.region;
  const std::size_t headline = HeadlineColumn(page.columns);
  const FigureColumn& column = page.columns[headline];
  const std::int32_t side = std::max(region.width, region.height) * files.magnification;
  std::string html = "<section class=\"image\"" + Attribute("id", AnchorOf(image)) + ">\n<h3>" +
                     std::to_string(image.number) + " \u00b7 " + EscapeHtml(image.name) +
                     "</h3>\n<p class=\"muted\">" + Size(image.width, image.height) + " \u00b7 " +
                     EscapeHtml(column.name) + ":";
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    html += (m == 0 ? " " : ", ") + EscapeHtml(page.methods[m]) + " " +
            EscapeHtml(WithUnit(image.values[m][headline], column));
  }
  html += "</p>\n<p class=\"note\">The " + std::to_string(region.width) + " \u00d7 " +
          std::to_string(region.height) + " region at x " + std::to_string(region.x) + ", y " +
          std::to_string(region.y) + ", where " + EscapeHtml(page.methods[files.worst_method]) +
          " (the lowest CPSNR here) errs most, magnified " + std::to_string(files.magnification) +
          "\u00d7 without smoothing. Click an image for its full size.</p>\n";
  if (files.white_level != 255) {
    const std::string white = std::to_string(files.white_level);
    html += "<p class=\"note depth\">16-bit samples, white level " + white +
            ": the images are shown at 8 bits (each sample v as v \u00d7 255 / " + white +
            ", rounded) and the error maps scaled by " + white +
            "; the figures are those of the 16-bit samples.</p>\n";
  }
  html += "<div class=\"panels\">\n";

  html += "<figure>" +
          ImageFigure(files.reference, files.reference_crop, side, "reference, region magnified") +
          "<a class=\"thumb\"" + Attribute("href", files.reference) + "><img" +
          Attribute("src", files.thumbnail) + " width=\"" + std::to_string(files.thumbnail_width) +
          "\" height=\"" + std::to_string(files.thumbnail_height) +
          "\" alt=\"whole reference, region marked\"><span class=\"mark\" style=\"left:" +
          Percent(region.x, image.width) + ";top:" + Percent(region.y, image.height) +
          ";width:" + Percent(region.width, image.width) +
          ";height:" + Percent(region.height, image.height) +
          "\"></span></a><figcaption><b>reference</b><br>region; whole image</figcaption>"
          "</figure>\n";
  for (std::size_t m = 0; m < page.methods.size(); ++m) {
    const std::string& name = page.methods[m];
    if (files.outputs[m].empty()) {
      html += "<figure class=\"missing\"><figcaption>" + Swatch(m) + "<b>" + EscapeHtml(name) +
              "</b><br>not measured: no reconstruction of this image</figcaption></figure>\n";
      continue;
    }
    html +=
        "<figure>" +
        ImageFigure(files.outputs[m], files.output_crops[m], side, name + ", region magnified") +
        ImageFigure(files.errors[m], files.error_crops[m], side,
                    name + " error, region magnified") +
        "<figcaption>" + Swatch(m) + "<b>" + EscapeHtml(name) + "</b> <span class=\"value\">" +
        EscapeHtml(WithUnit(image.values[m][headline], column)) + "</span>" +
        "<br>reconstruction; error</figcaption></figure>\n";
  }
  html += "</div>\n";
  if (!files.unwritten.empty()) {
    html += "<p class=\"problem\">Not written:";
    for (const std::string& problem : files.unwritten) html += " " + EscapeHtml(problem) + ";";
    html += "</p>\n";
  }
  return html + "</section>\n";
}

std::string Images(const ReportPage& page) {
  if (page.images.empty()) return "";
  std::string html =
      "<section id=\"images\">\n<h2>Where the methods differ most</h2>\n<p class=\"note\">Error "
      "maps: the root mean square of the three channels' errors at each pixel, from exact<span "
      "class=\"scale\" style=\"background:" +
      ErrorScaleGradient() + "\"></span>" + Fixed(kErrorMapFullScale, 0) +
      " levels or more; black is the frame left out of the figures.</p>\n";
  for (const ReportImage& image : page.images) html += ImageSectionHtml(page, image);
  return html + "</section>\n";
}

std::string Skipped(const ReportPage& page) {
  if (page.skipped.empty()) return "";
  std::string html = "<section id=\"skipped\">\n<h2>Skipped</h2>\n<ul>\n";
  for (const ReportSkip& skip : page.skipped) {
    html += "<li>" + EscapeHtml(skip.name) + ": " + EscapeHtml(skip.reason) + "</li>\n";
  }
  return html + "</ul>\n</section>\n";
}

}  // namespace

std::vector<std::vector<double>> MeanValues(const std::vector<ReportImage>& images) {
  std::vector<std::vector<double>> means(
      images.front().values.size(), std::vector<double>(images.front().values.front().size(), 0.0));
  for (const ReportImage& image : images) {
    for (std::size_t m = 0; m < means.size(); ++m) {
      for (std::size_t k = 0; k < means[m].size(); ++k) means[m][k] += image.values[m][k];
    }
  }
  for (std::vector<double>& method : means) {
    for (double& value : method) value /= static_cast<double>(images.size());
  }
  return means;
}

std::string RenderReportPage(const ReportPage& page) {
  const std::vector<std::vector<double>> means =
      page.images.empty() ? std::vector<std::vector<double>>{} : MeanValues(page.images);
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta "
      "name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>demosaic-bench "
      "report \u00b7 " +
      std::to_string(page.images.size()) + (page.images.size() == 1 ? " image" : " images") +
      "</title>\n<style>" + std::string(kReportStyle) + "</style>\n</head>\n<body>\n<main>\n";
  html += Header(page, means);
  html += Settings(page);
  html += Table(page, means);
  if (!page.images.empty()) html += Charts(page, means);
  html += ComparisonSection(page.columns, page.comparisons,
                            page.noise.size() > 1 || page.noise.front() != "none", page.seed);
  html += Images(page);
  html += Skipped(page);
  html += "</main>\n<script>" + std::string(kReportScript) + "</script>\n</body>\n</html>\n";
  return html;
}

}  // namespace demosaic
