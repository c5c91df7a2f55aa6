#include "dashboard/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnolt::cli {
namespace {

constexpr int kLeft = 48, kRight = 48, kTop = 16, kBottom = 36;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Figure(double value) {
  char text[32];
  if (value == std::floor(value)) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    std::snprintf(text, sizeof text, "%.3g", value);
  }
  return text;
}

// A round upper bound for the axis: 1, 2 or 5 times a power of ten.
double NiceMax(double value) {
  if (value <= 0) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  for (double step : {1.0, 2.0, 5.0, 10.0}) {
    if (value <= step * power) return step * power;
  }
  return 10 * power;
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string SvgStackedBars(const std::vector<std::string>& labels, const std::vector<PlotSeries>& bars,
                           const std::optional<PlotSeries>& line, const PlotOptions& options) {
  const double plot_width = options.width - kLeft - kRight;
  const double plot_height = options.height - kTop - kBottom;
  const size_t n = labels.size();
  double top = 0;
  for (size_t i = 0; i < n; ++i) {
    double stack = 0;
    for (const PlotSeries& series : bars) stack += i < series.values.size() ? series.values[i] : 0;
    top = std::max(top, stack);
  }
  top = NiceMax(top);
  double line_top = 0;
  if (line) {
    for (double v : line->values) line_top = std::max(line_top, v);
    line_top = NiceMax(line_top);
  }
  const double slot = n == 0 ? plot_width : plot_width / static_cast<double>(n);
  auto y_of = [&](double value, double scale) { return kTop + plot_height - value / scale * plot_height; };

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"" + HtmlEscape(options.id) + "\" class=\"plot\" width=\"" +
                    std::to_string(options.width) + "\" height=\"" + std::to_string(options.height) +
                    "\" role=\"img\" aria-label=\"" + HtmlEscape(options.title) + "\"><title>" +
                    HtmlEscape(options.title) + "</title>";
  // Axes and a grid line at each quarter of the scale.
  for (int q = 0; q <= 4; ++q) {
    const double value = top * q / 4;
    const std::string y = Number(y_of(value, top));
    svg += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(options.width - kRight) + "\" y1=\"" +
           y + "\" y2=\"" + y + "\" stroke=\"#ddd\"/>";
    svg += "<text x=\"" + std::to_string(kLeft - 4) + "\" y=\"" + y +
           "\" font-size=\"10\" text-anchor=\"end\" dominant-baseline=\"middle\">" + Figure(value) + "</text>";
    if (line) {
      svg += "<text x=\"" + std::to_string(options.width - kRight + 4) + "\" y=\"" + y +
             "\" font-size=\"10\" dominant-baseline=\"middle\" fill=\"" + HtmlEscape(line->color) + "\">" +
             Figure(line_top * q / 4 * 100) + "%</text>";
    }
  }
  for (size_t i = 0; i < n; ++i) {
    const double x = kLeft + slot * static_cast<double>(i);
    double stack = 0;
    for (const PlotSeries& series : bars) {
      const double value = i < series.values.size() ? series.values[i] : 0;
      const double y = y_of(stack + value, top);
      const double h = value / top * plot_height;
      svg += "<rect class=\"point\" data-series=\"" + HtmlEscape(series.name) + "\" data-label=\"" +
             HtmlEscape(labels[i]) + "\" data-value=\"" + Figure(value) + "\" x=\"" + Number(x + slot * 0.1) +
             "\" y=\"" + Number(y) + "\" width=\"" + Number(slot * 0.8) + "\" height=\"" + Number(h) +
             "\" fill=\"" + HtmlEscape(series.color) + "\"><title>" + HtmlEscape(labels[i]) + ": " +
             Figure(value) + " " + HtmlEscape(series.name) + "</title></rect>";
      stack += value;
    }
    if (options.label_every > 0 && i % static_cast<size_t>(options.label_every) == 0) {
      svg += "<text x=\"" + Number(x + slot / 2) + "\" y=\"" + std::to_string(options.height - kBottom + 14) +
             "\" font-size=\"10\" text-anchor=\"middle\">" + HtmlEscape(labels[i]) + "</text>";
    }
  }
  if (line && n > 0) {
    std::string points;
    std::string dots;
    for (size_t i = 0; i < n; ++i) {
      const double value = i < line->values.size() ? line->values[i] : 0;
      const std::string x = Number(kLeft + slot * (static_cast<double>(i) + 0.5));
      const std::string y = Number(y_of(value, line_top));
      points += x + "," + y + " ";
      dots += "<circle class=\"point\" data-series=\"" + HtmlEscape(line->name) + "\" data-label=\"" +
              HtmlEscape(labels[i]) + "\" data-value=\"" + Figure(value) + "\" cx=\"" + x + "\" cy=\"" + y +
              "\" r=\"2.5\" fill=\"" + HtmlEscape(line->color) + "\"><title>" + HtmlEscape(labels[i]) + ": " +
              Figure(value * 100) + "% " + HtmlEscape(line->name) + "</title></circle>";
    }
    svg += "<polyline fill=\"none\" stroke=\"" + HtmlEscape(line->color) + "\" stroke-width=\"1.5\" points=\"" +
           points + "\"/>" + dots;
  }
  // The legend.
  double legend_x = kLeft;
  std::vector<const PlotSeries*> all;
  for (const PlotSeries& series : bars) all.push_back(&series);
  if (line) all.push_back(&*line);
  for (const PlotSeries* series : all) {
    svg += "<rect x=\"" + Number(legend_x) + "\" y=\"" + std::to_string(options.height - 14) +
           "\" width=\"10\" height=\"10\" fill=\"" + HtmlEscape(series->color) + "\"/><text x=\"" +
           Number(legend_x + 14) + "\" y=\"" + std::to_string(options.height - 5) + "\" font-size=\"11\">" +
           HtmlEscape(series->name) + "</text>";
    legend_x += 24 + 7 * static_cast<double>(series->name.size());
  }
  svg += "</svg>";
  return svg;
}

}  // namespace varnolt::cli
