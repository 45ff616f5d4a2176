// SPDX-License-Identifier: MIT
#include "characterize/plot.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace kt::characterize {

namespace {

// Margins of the plot area: room for the tick labels, the axis labels and the title.
constexpr int kLeft = 72, kRight = 16, kTop = 34, kBottom = 48;

// A tick's label: no more digits than the tick spacing needs.
std::string Label(double value, double spacing) {
  if (std::fabs(value) < spacing * 1e-9) value = 0;
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(spacing) + 1e-9)));
  return fmt::format("{:.{}f}", value, decimals);
}

}  // namespace

Envelope::Envelope(double x0, double x1, int columns)
    : x0_(x0),
      scale_(x1 > x0 ? columns / (x1 - x0) : 0),
      columns_(static_cast<std::size_t>(columns)) {}

void Envelope::Add(double x, double y) {
  const auto at = std::clamp(static_cast<std::ptrdiff_t>((x - x0_) * scale_), std::ptrdiff_t{0},
                             static_cast<std::ptrdiff_t>(columns_.size()) - 1);
  Column& column = columns_[static_cast<std::size_t>(at)];
  const std::pair<double, double> point{x, y};
  if (column.Count == 0) column.First = column.Low = column.High = point;
  if (y < column.Low.second) {
    column.Low = point;
    column.LowAt = column.Count;
  }
  if (y > column.High.second) {
    column.High = point;
    column.HighAt = column.Count;
  }
  column.Last = point;
  ++column.Count;
}

std::vector<std::pair<double, double>> Envelope::Points() const {
  std::vector<std::pair<double, double>> points;
  for (const Column& column : columns_) {
    if (column.Count == 0) continue;
    const bool lowFirst = column.LowAt <= column.HighAt;
    const std::pair<std::size_t, std::pair<double, double>> kept[] = {
        {0, column.First},
        {lowFirst ? column.LowAt : column.HighAt, lowFirst ? column.Low : column.High},
        {lowFirst ? column.HighAt : column.LowAt, lowFirst ? column.High : column.Low},
        {column.Count - 1, column.Last},
    };
    for (std::size_t k = 0; k < 4; ++k)
      if (k == 0 || kept[k].first != kept[k - 1].first) points.push_back(kept[k].second);
  }
  return points;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::vector<double> Ticks(double low, double high, int wanted) {
  if (!(high > low)) return {low};
  const double rough = (high - low) / std::max(wanted, 1);
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double spacing = power;
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    spacing = factor * power;
    if (spacing >= rough) break;
  }
  std::vector<double> ticks;
  for (double tick = std::ceil(low / spacing - 1e-9) * spacing; tick <= high + spacing * 1e-9;
       tick += spacing)
    ticks.push_back(tick);
  return ticks;
}

std::string Svg(const Plot& plot, int width, int height) {
  double xMin = std::numeric_limits<double>::max(), xMax = -xMin;
  double yMin = xMin, yMax = -xMin;
  for (const Series& series : plot.Lines) {
    for (const auto& [x, y] : series.Points) {
      xMin = std::min(xMin, x);
      xMax = std::max(xMax, x);
      yMin = std::min(yMin, y);
      yMax = std::max(yMax, y);
    }
  }
  if (plot.XRange) std::tie(xMin, xMax) = *plot.XRange;
  for (const double mark : plot.Marks) {
    yMin = std::min(yMin, mark);
    yMax = std::max(yMax, mark);
  }
  if (xMin > xMax) xMin = 0, xMax = 1;
  if (yMin > yMax) yMin = -1, yMax = 1;
  if (xMax == xMin) xMax = xMin + 1;
  // A little room above and below, so that the extremes do not sit on the frame.
  const double pad = yMax > yMin ? (yMax - yMin) * 0.08 : 1;
  yMin -= pad;
  yMax += pad;
  const double plotWidth = width - kLeft - kRight, plotHeight = height - kTop - kBottom;
  const double xScale = plotWidth / (xMax - xMin), yScale = plotHeight / (yMax - yMin);
  const auto px = [&](double x) { return kLeft + (x - xMin) * xScale; };
  const auto py = [&](double y) { return kTop + plotHeight - (y - yMin) * yScale; };

  std::string svg = fmt::format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} "
      "{1}\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"12\">\n"
      "<rect width=\"{0}\" height=\"{1}\" fill=\"white\"/>\n"
      "<text x=\"{2}\" y=\"20\" font-size=\"14\" font-weight=\"bold\">{3}</text>\n",
      width, height, kLeft, Escaped(plot.Title));
  const std::vector<double> xTicks = Ticks(xMin, xMax, 8), yTicks = Ticks(yMin, yMax, 6);
  const double xSpacing = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1;
  const double ySpacing = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 1;
  for (const double x : xTicks)
    svg += fmt::format(
        "<line x1=\"{0:.1f}\" y1=\"{1}\" x2=\"{0:.1f}\" y2=\"{2}\" stroke=\"#e4e4e4\"/>"
        "<text x=\"{0:.1f}\" y=\"{3}\" text-anchor=\"middle\">{4}</text>\n",
        px(x), kTop, kTop + plotHeight, kTop + plotHeight + 16, Label(x, xSpacing));
  for (const double y : yTicks)
    svg += fmt::format(
        "<line x1=\"{0}\" y1=\"{1:.1f}\" x2=\"{2}\" y2=\"{1:.1f}\" stroke=\"#e4e4e4\"/>"
        "<text x=\"{3}\" y=\"{4:.1f}\" text-anchor=\"end\">{5}</text>\n",
        kLeft, py(y), kLeft + plotWidth, kLeft - 6, py(y) + 4, Label(y, ySpacing));
  for (const double mark : plot.Marks)
    svg += fmt::format(
        "<line x1=\"{0}\" y1=\"{1:.1f}\" x2=\"{2}\" y2=\"{1:.1f}\" stroke=\"#888\" "
        "stroke-dasharray=\"5,4\"/>\n",
        kLeft, py(mark), kLeft + plotWidth);
  svg += fmt::format(
      "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#444\"/>\n", kLeft,
      kTop, plotWidth, plotHeight);
  svg += fmt::format("<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n",
                     kLeft + plotWidth / 2, height - 8, Escaped(plot.XLabel));
  svg += fmt::format(
      "<text transform=\"translate(16 {:.1f}) rotate(-90)\" text-anchor=\"middle\">{}</text>\n",
      kTop + plotHeight / 2, Escaped(plot.YLabel));
  double legend = kLeft + plotWidth;
  for (auto series = plot.Lines.rbegin(); series != plot.Lines.rend(); ++series) {
    const std::vector<std::pair<double, double>>& drawn = series->Points;
    std::string path;
    for (const auto& [x, y] : drawn)
      path += fmt::format("{}{:.2f},{:.2f}", path.empty() ? "M" : " L", px(x), py(y));
    if (drawn.size() == 1)  // one point: a dot
      path += fmt::format(" h0.01");
    svg += fmt::format(
        "<path d=\"{}\" fill=\"none\" stroke=\"{}\" stroke-width=\"1.4\" "
        "stroke-linejoin=\"round\"/>\n",
        path, series->Colour);
    legend -= 14 + 7.0 * static_cast<double>(series->Name.size()) + 16;
    svg += fmt::format(
        "<line x1=\"{0:.1f}\" y1=\"16\" x2=\"{1:.1f}\" y2=\"16\" stroke=\"{2}\" "
        "stroke-width=\"3\"/>"
        "<text x=\"{3:.1f}\" y=\"20\">{4}</text>\n",
        legend, legend + 12, series->Colour, legend + 16, Escaped(series->Name));
  }
  return svg + "</svg>\n";
}

}  // namespace kt::characterize
