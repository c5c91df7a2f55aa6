// Plots drawn on the server as inline SVG, so that the dashboard needs no
// script library and no network: stacked bars per label, and optionally a
// line on a scale of its own (a rate) over them. Every bar and line point is
// one element of class "point" carrying its series, label and value.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnolt::cli {

struct PlotSeries {
  std::string name;
  std::string color;  // a CSS colour
  std::vector<double> values;  // one per label
};

struct PlotOptions {
  std::string id;     // the svg element's id
  std::string title;  // its accessible title
  int width = 760;
  int height = 220;
  int label_every = 6;  // a label under every n-th bar
};

std::string SvgStackedBars(const std::vector<std::string>& labels, const std::vector<PlotSeries>& bars,
                           const std::optional<PlotSeries>& line, const PlotOptions& options);

// Text safe inside HTML or SVG elements and attribute values.
std::string HtmlEscape(const std::string& text);

}  // namespace varnolt::cli
