// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Line plots of a per-code figure as SVG: axes with round ticks, a grid, reference lines and
// a legend. Tens of thousands of points are kept as the envelope each pixel column holds, so
// a plot of every code of a 16-bit DAC stays small, in the file and in memory, and shows
// every extreme.
namespace kt::characterize {

/// @brief Points in ascending x, kept as what each of `columns` equal slices of [x0, x1]
/// holds: its first, lowest, highest and last point, in the order they came. The line
/// drawn through them keeps its shape and every extreme; memory does not grow with the points.
class Envelope {
 public:
  Envelope(double x0, double x1, int columns);
  void Add(double x, double y);
  [[nodiscard]] std::vector<std::pair<double, double>> Points() const;

 private:
  struct Column {
    std::pair<double, double> First, Low, High, Last;
    std::size_t LowAt = 0, HighAt = 0;  ///< which point of the column each is
    std::size_t Count = 0;
  };
  double x0_, scale_;
  std::vector<Column> columns_;
};

/// @brief One line of a plot.
struct Series {
  std::string Name;
  std::string Colour;                             ///< an SVG colour
  std::vector<std::pair<double, double>> Points;  ///< x ascending
};

/// @brief A plot: what it shows and the file it goes to.
struct Plot {
  std::string File;  ///< the file's name without .svg
  std::string Title, XLabel, YLabel;
  std::vector<Series> Lines;
  std::vector<double> Marks;                        ///< horizontal reference lines (0, ±1 LSB)
  std::optional<std::pair<double, double>> XRange;  ///< the x axis; the data's when none
};

/// The plot as a standalone SVG document of `width` × `height` pixels.
std::string Svg(const Plot& plot, int width = 880, int height = 320);

/// The text with &, <, > and " written as XML entities, for SVG and HTML.
std::string Escaped(const std::string& text);

/// Round tick values covering [low, high], about `wanted` of them (1, 2 or 5 × 10^n apart).
std::vector<double> Ticks(double low, double high, int wanted);

}  // namespace kt::characterize
