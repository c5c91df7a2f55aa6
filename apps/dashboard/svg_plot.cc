#include "dashboard/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnolt::dashboard {
namespace {

constexpr int kLeft = 70, kRight = 70, kTop = 16, kBottom = 62;
constexpr int kFontSize = 12;

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

std::string Font() { return " font-size=\"" + std::to_string(kFontSize) + "\""; }

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

AxisScale NiceScale(double max, bool whole) {
  if (!(max > 0)) return whole ? AxisScale{1, 1} : AxisScale{1, 0.25};
  const double raw = max / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * power;
  for (double factor : {1.0, 2.0, 5.0}) {
    if (raw <= factor * power * (1 + 1e-9)) {
      step = factor * power;
      break;
    }
  }
  if (whole) step = std::max(step, 1.0);
  return {step * std::ceil(max / step - 1e-9), step};
}

std::string SvgStackedBars(const std::vector<std::string>& labels, const std::vector<PlotSeries>& bars,
                           const std::optional<PlotSeries>& line, const PlotOptions& options) {
  const double plot_width = options.width - kLeft - kRight;
  const double plot_height = options.height - kTop - kBottom;
  const double plot_bottom = kTop + plot_height;
  const size_t n = labels.size();
  double highest = 0;
  for (size_t i = 0; i < n; ++i) {
    double stack = 0;
    for (const PlotSeries& series : bars) stack += i < series.values.size() ? series.values[i] : 0;
    highest = std::max(highest, stack);
  }
  const AxisScale scale = NiceScale(highest, options.whole_counts);
  AxisScale line_scale;
  if (line) {
    double line_highest = 0;
    for (double v : line->values) {
      if (!std::isnan(v)) line_highest = std::max(line_highest, v);
    }
    // Ticks in whole percent where the rate allows.
    line_scale = NiceScale(line_highest * 100, line_highest * 100 >= 5);
    line_scale.top /= 100;
    line_scale.step /= 100;
  }
  const double slot = n == 0 ? plot_width : plot_width / static_cast<double>(n);
  auto y_of = [&](double value, double top) { return plot_bottom - value / top * plot_height; };

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"" + HtmlEscape(options.id) + "\" class=\"plot\" width=\"" +
                    std::to_string(options.width) + "\" height=\"" + std::to_string(options.height) +
                    "\" role=\"img\" aria-label=\"" + HtmlEscape(options.title) + "\"><title>" +
                    HtmlEscape(options.title) + "</title>";
  // Grid lines and the scale's ticks.
  const int ticks = static_cast<int>(std::lround(scale.top / scale.step));
  for (int q = 0; q <= ticks; ++q) {
    const double value = scale.step * q;
    const std::string y = Number(y_of(value, scale.top));
    svg += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(options.width - kRight) + "\" y1=\"" +
           y + "\" y2=\"" + y + "\" stroke=\"#ddd\"/>";
    svg += "<text class=\"tick\" x=\"" + std::to_string(kLeft - 5) + "\" y=\"" + y + "\"" + Font() +
           " text-anchor=\"end\" dominant-baseline=\"middle\">" + Figure(value) + "</text>";
  }
  if (line) {
    const int line_ticks = static_cast<int>(std::lround(line_scale.top / line_scale.step));
    for (int q = 0; q <= line_ticks; ++q) {
      const double value = line_scale.step * q;
      svg += "<text class=\"tick\" x=\"" + std::to_string(options.width - kRight + 5) + "\" y=\"" +
             Number(y_of(value, line_scale.top)) + "\"" + Font() + " dominant-baseline=\"middle\" fill=\"" +
             HtmlEscape(line->color) + "\">" + Figure(value * 100) + "%</text>";
    }
  }
  // The axis titles: the bars' on the left, the line's on the right, time below.
  const std::string middle = Number(kTop + plot_height / 2);
  if (!options.y_title.empty()) {
    svg += "<text class=\"axis-title\" x=\"16\" y=\"" + middle + "\"" + Font() +
           " text-anchor=\"middle\" transform=\"rotate(-90 16 " + middle + ")\">" + HtmlEscape(options.y_title) +
           "</text>";
  }
  if (line && !options.line_title.empty()) {
    const std::string x = std::to_string(options.width - 14);
    svg += "<text class=\"axis-title\" x=\"" + x + "\" y=\"" + middle + "\"" + Font() + " fill=\"" +
           HtmlEscape(line->color) + "\" text-anchor=\"middle\" transform=\"rotate(90 " + x + " " + middle + ")\">" +
           HtmlEscape(options.line_title) + "</text>";
  }
  if (!options.x_title.empty()) {
    svg += "<text class=\"axis-title\" x=\"" + Number(kLeft + plot_width / 2) + "\" y=\"" +
           Number(plot_bottom + 34) + "\"" + Font() + " text-anchor=\"middle\">" + HtmlEscape(options.x_title) +
           "</text>";
  }
  for (size_t i = 0; i < n; ++i) {
    const double x = kLeft + slot * static_cast<double>(i);
    double stack = 0;
    for (const PlotSeries& series : bars) {
      const double value = i < series.values.size() ? series.values[i] : 0;
      const double y = y_of(stack + value, scale.top);
      const double h = value / scale.top * plot_height;
      svg += "<rect class=\"point\" data-series=\"" + HtmlEscape(series.name) + "\" data-label=\"" +
             HtmlEscape(labels[i]) + "\" data-value=\"" + Figure(value) + "\" x=\"" + Number(x + slot * 0.1) +
             "\" y=\"" + Number(y) + "\" width=\"" + Number(slot * 0.8) + "\" height=\"" + Number(h) +
             "\" fill=\"" + HtmlEscape(series.color) + "\"><title>" + HtmlEscape(labels[i]) + ": " +
             Figure(value) + " " + HtmlEscape(series.name) + "</title></rect>";
      stack += value;
    }
    if (options.label_every > 0 && i % static_cast<size_t>(options.label_every) == 0) {
      svg += "<line x1=\"" + Number(x + slot / 2) + "\" x2=\"" + Number(x + slot / 2) + "\" y1=\"" +
             Number(plot_bottom) + "\" y2=\"" + Number(plot_bottom + 4) + "\" stroke=\"#666\"/>";
      svg += "<text class=\"tick\" x=\"" + Number(x + slot / 2) + "\" y=\"" + Number(plot_bottom + 17) + "\"" + Font() +
             " text-anchor=\"middle\">" + HtmlEscape(labels[i]) + "</text>";
    }
  }
  if (line && n > 0) {
    // A run of points between gaps is one polyline.
    std::string runs, points, dots;
    auto close_run = [&] {
      if (!points.empty()) {
        runs += "<polyline fill=\"none\" stroke=\"" + HtmlEscape(line->color) + "\" stroke-width=\"1.5\" points=\"" +
                points + "\"/>";
      }
      points.clear();
    };
    for (size_t i = 0; i < n; ++i) {
      const double value = i < line->values.size() ? line->values[i] : std::nan("");
      if (std::isnan(value)) {
        close_run();
        continue;
      }
      const std::string x = Number(kLeft + slot * (static_cast<double>(i) + 0.5));
      const std::string y = Number(y_of(value, line_scale.top));
      points += x + "," + y + " ";
      dots += "<circle class=\"point\" data-series=\"" + HtmlEscape(line->name) + "\" data-label=\"" +
              HtmlEscape(labels[i]) + "\" data-value=\"" + Figure(value) + "\" cx=\"" + x + "\" cy=\"" + y +
              "\" r=\"3.5\" fill=\"" + HtmlEscape(line->color) + "\"><title>" + HtmlEscape(labels[i]) + ": " +
              Figure(value * 100) + "% " + HtmlEscape(line->name) + "</title></circle>";
    }
    close_run();
    svg += runs + dots;
  }
  // The legend.
  double legend_x = kLeft;
  std::vector<const PlotSeries*> all;
  for (const PlotSeries& series : bars) all.push_back(&series);
  if (line) all.push_back(&*line);
  for (const PlotSeries* series : all) {
    svg += "<rect x=\"" + Number(legend_x) + "\" y=\"" + std::to_string(options.height - 15) +
           "\" width=\"11\" height=\"11\" fill=\"" + HtmlEscape(series->color) + "\"/><text x=\"" +
           Number(legend_x + 15) + "\" y=\"" + std::to_string(options.height - 5) + "\"" + Font() + ">" +
           HtmlEscape(series->name) + "</text>";
    legend_x += 28 + 7.5 * static_cast<double>(series->name.size());
  }
  svg += "</svg>";
  return svg;
}

}  // namespace varnolt::dashboard
