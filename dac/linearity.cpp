// SPDX-License-Identifier: MIT
#include "dac/linearity.h"

#include <cmath>
#include <sstream>
#include <string>

#include "core/error.h"

namespace kt::dac {

namespace {

Figure InUnits(double volts, double lsb, double vref) {
  return {volts, volts / lsb, 100.0 * volts / vref};
}

// Least squares over the points, in a form that stays exact for 65,536 codes: the sums are
// taken about the means.
Line FitLine(std::span<const MeasuredCode> points) {
  const auto n = static_cast<double>(points.size());
  double meanCode = 0, meanVolts = 0;
  for (const MeasuredCode& point : points) {
    meanCode += point.Code;
    meanVolts += point.Volts;
  }
  meanCode /= n;
  meanVolts /= n;
  double sxx = 0, sxy = 0;
  for (const MeasuredCode& point : points) {
    const double dx = point.Code - meanCode;
    sxx += dx * dx;
    sxy += dx * (point.Volts - meanVolts);
  }
  const double step = sxy / sxx;
  return {meanVolts - step * meanCode, step};
}

// Deviation of a point from a line, in LSBs of the line's own step.
double Deviation(const Line& line, const MeasuredCode& point) {
  return (point.Volts - (line.Offset + line.Step * point.Code)) / line.Step;
}

void Track(Extremes& extremes, double value, std::int32_t code, bool first) {
  if (first || value > extremes.Max) {
    extremes.Max = value;
    extremes.MaxCode = code;
  }
  if (first || value < extremes.Min) {
    extremes.Min = value;
    extremes.MinCode = code;
  }
}

}  // namespace

StaticFigures Analyse(std::span<const MeasuredCode> points, int dataBits, double vref) {
  const std::int32_t last = (1 << dataBits) - 1;
  if (points.size() < 2 || points.front().Code != 0 || points.back().Code != last)
    throw Error("the measured codes must include both ends, 0 and " + std::to_string(last));
  for (std::size_t i = 1; i < points.size(); ++i)
    if (points[i].Code <= points[i - 1].Code)
      throw Error("the measured codes must ascend; code " + std::to_string(points[i].Code) +
                  " follows " + std::to_string(points[i - 1].Code));
  const double first = points.front().Volts, top = points.back().Volts;
  if (!(top > first)) {
    std::ostringstream what;
    what << "the output does not rise from code 0 (" << first << " V) to code " << last << " ("
         << top << " V)";
    throw Error(what.str());
  }

  StaticFigures figures{};
  figures.DataBits = dataBits;
  figures.Vref = vref;
  figures.IdealLsb = std::ldexp(vref, -dataBits);
  const double lsb = figures.IdealLsb;
  figures.EndPoint = {first, (top - first) / last};
  figures.BestFit = FitLine(points);
  figures.Offset = InUnits(first, lsb, vref);
  const double spanError = (figures.EndPoint.Step - lsb) * last;
  figures.Gain = InUnits(spanError, lsb, vref);
  figures.GainPercent = 100.0 * (figures.EndPoint.Step / lsb - 1.0);
  figures.FullScale = InUnits(top - lsb * last, lsb, vref);
  figures.Monotonic = true;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const CodeFigures code = AtCode(figures, points, i);
    Track(figures.EndPointInl, code.EndPointInl, code.Code, i == 0);
    Track(figures.BestFitInl, code.BestFitInl, code.Code, i == 0);
    if (i == 0) continue;
    Track(figures.Dnl, code.Dnl, code.Code, i == 1);
    if (figures.Monotonic && points[i].Volts < points[i - 1].Volts) {
      figures.Monotonic = false;
      figures.FirstDecrease = points[i].Code;
    }
  }
  return figures;
}

CodeFigures AtCode(const StaticFigures& figures, std::span<const MeasuredCode> points,
                   std::size_t i) {
  const MeasuredCode& point = points[i];
  CodeFigures code{point.Code, (point.Volts - figures.IdealLsb * point.Code) / figures.IdealLsb,
                   Deviation(figures.EndPoint, point), Deviation(figures.BestFit, point), 0.0};
  if (i > 0) {
    const MeasuredCode& below = points[i - 1];
    code.Dnl = (point.Volts - below.Volts) /
                   (figures.EndPoint.Step * static_cast<double>(point.Code - below.Code)) -
               1.0;
  }
  return code;
}

}  // namespace kt::dac
