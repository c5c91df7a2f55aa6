// Plots drawn on the server as inline SVG, so that the dashboard needs no
// script library and no network: stacked bars per label, and optionally a
// line on a scale of its own (a rate) over them. Every bar and line point is
// one element of class "point" carrying its series, label and value. A line
// value that is NaN is a gap (no mail, so no rate): no point, the line broken.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnolt::dashboard {

struct PlotSeries {
  std::string name;
  std::string color;  // a CSS colour
  std::vector<double> values;  // one per label
};

struct PlotOptions {
  std::string id;     // the svg element's id
  std::string title;  // its accessible title
  int width = 860;
  int height = 290;
  int label_every = 6;  // a label under every n-th bar
  std::string x_title;     // under the labels: "time (UTC)"
  std::string y_title;     // beside the bars' scale, with the unit: "messages per hour"
  std::string line_title;  // beside the line's scale: "error rate (%)"
  bool whole_counts = true;  // the bars count things: ticks at whole numbers only
};

// An axis from 0 to top in ticks of step: step 1, 2 or 5 times a power of
// ten, at most 5 ticks above 0; with whole, step at least 1.
struct AxisScale {
  double top = 1;
  double step = 0.25;
};
AxisScale NiceScale(double max, bool whole);

std::string SvgStackedBars(const std::vector<std::string>& labels, const std::vector<PlotSeries>& bars,
                           const std::optional<PlotSeries>& line, const PlotOptions& options);

// Text safe inside HTML or SVG elements and attribute values.
std::string HtmlEscape(const std::string& text);

}  // namespace varnolt::dashboard
