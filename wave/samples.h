// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// What a waveform plays: a periodic shape between two codes, or samples given one by one,
// each sample's code known from its index and the sample rate alone.
namespace kt::wave {

enum class Shape { Sine, Triangle, Ramp, Square };

/// The shape of a name as the command line and SCPI give it, in any case: sine (SIN,
/// SINusoid), triangle (TRI, TRIangle), ramp (RAMP), square (SQU, SQUare); none for another.
std::optional<Shape> ShapeNamed(std::string_view name);
/// Its name on the command line: "sine", "triangle", "ramp", "square".
const char* NameOf(Shape shape);

/// @brief A shape between two codes, `Frequency` cycles a second. Each cycle starts at its
/// phase 0: the sine at mid-way rising, the triangle and the ramp at `Low`, the square at
/// `High` for the first half. The ramp holds every code of Low..High for the same time.
struct Periodic {
  Shape Form = Shape::Sine;
  double Frequency = 0;
  std::int32_t Low = 0, High = 0;
};

/// @brief A waveform: a shape, or the samples of one cycle, played in turn and again.
struct Source {
  std::variant<Periodic, std::vector<std::int32_t>> What;

  /// The code of sample `k` played at `rate` samples a second. The phase of a shape is
  /// computed from k alone: no error builds up over a run of any length.
  [[nodiscard]] std::int32_t At(std::uint64_t k, double rate) const;
  /// The samples that `cycles` whole cycles take at `rate`.
  [[nodiscard]] std::uint64_t SamplesIn(std::uint64_t cycles, double rate) const;
};

/// @brief A number read from a line of a sample file.
struct Numbered {
  double Value;
  std::size_t Line;  ///< from 1
};

/// Reads one value a line: codes (in hexadecimal, 0x allowed, or decimal) or volts. Blank
/// lines and lines starting with # are passed over; CR LF is taken. Raises kt::Error naming
/// `name`, the line and what it holds for anything else, or when no value is given.
std::vector<Numbered> ReadValues(std::string_view text, const std::string& name, bool volts,
                                 bool hexadecimal);

/// The codes of values read by ReadValues, for a DAC of `dataBits` bits: volts through the
/// reference (the nearest code). Raises kt::Error naming `name` and the line of the first
/// value the DAC cannot give, with the range it can.
std::vector<std::int32_t> CodesOf(const std::vector<Numbered>& values, const std::string& name,
                                  bool volts, std::int16_t dataBits, std::optional<double> vref);

/// The nearest code to `volts` for a DAC of `dataBits` bits at `vref`; none beyond 0..the
/// last code.
std::optional<std::int32_t> CodeOfVolts(double volts, std::int16_t dataBits, double vref);

}  // namespace kt::wave
