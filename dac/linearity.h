// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>

// The static accuracy of a DAC from its measured output at a set of codes: offset, gain,
// zero- and full-scale error, INL (end-point and best straight line), DNL and monotonicity.
// docs/characterization.md gives every definition and formula used here.
namespace kt::dac {

/// @brief The mean output measured at one code.
struct MeasuredCode {
  std::int32_t Code;
  double Volts;
};

/// @brief A figure in the three units a datasheet gives.
struct Figure {
  double Volts;
  double Lsb;      ///< in ideal LSBs, vref / 2^N
  double Percent;  ///< of the ideal full scale, vref
};

/// @brief The largest and smallest value of a per-code figure, in LSB, and where they are.
struct Extremes {
  double Max;
  std::int32_t MaxCode;
  double Min;
  std::int32_t MinCode;
};

/// @brief A straight line through the transfer function: output = Offset + Step × code.
struct Line {
  double Offset;  ///< volts at code 0
  double Step;    ///< volts per code
};

/// @brief The figures of one characterization.
struct StaticFigures {
  int DataBits;
  double Vref;
  double IdealLsb;       ///< vref / 2^N
  Figure Offset;         ///< the output at code 0 (the zero-scale error)
  Figure Gain;           ///< end-point gain error: the span's error, at full scale
  double GainPercent;    ///< the same as a fraction of the ideal span, in %
  Figure FullScale;      ///< the output at the last code minus its ideal value
  Line EndPoint;         ///< through the outputs at the first and last code
  Line BestFit;          ///< least squares over every measured code
  Extremes EndPointInl;  ///< in LSBs of the end-point line's step
  Extremes BestFitInl;   ///< in LSBs of the best-fit line's step
  Extremes Dnl;          ///< in LSBs of the end-point step; at the upper code of each pair
  bool Monotonic;        ///< no measured step goes down
  std::optional<std::int32_t>
      FirstDecrease;  ///< the first code whose output is below the one before
};

/// @brief One code's own figures, for the plots.
struct CodeFigures {
  std::int32_t Code;
  double ErrorLsb;     ///< output minus the ideal output, in ideal LSBs
  double EndPointInl;  ///< LSB
  double BestFitInl;   ///< LSB
  double Dnl;          ///< LSB; 0 at the first code (no step below it)
};

/// Computes the figures. `points` ascend by code, start at code 0 and end at the last code
/// 2^dataBits - 1 (at least those two); the step between two neighbours stands for the
/// codes between them. Raises kt::Error when the points do not meet that, or when the output
/// at the last code is not above the one at code 0 (no span to measure against: a meter
/// not connected to the DAC, say).
StaticFigures Analyse(std::span<const MeasuredCode> points, int dataBits, double vref);

/// The figures of point `i` against the lines of `figures`.
CodeFigures AtCode(const StaticFigures& figures, std::span<const MeasuredCode> points,
                   std::size_t i);

}  // namespace kt::dac
