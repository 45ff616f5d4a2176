// SPDX-License-Identifier: MIT
#include "wave/samples.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>

#include "core/error.h"
#include "core/printable.h"
#include "dac/device_table.h"

namespace kt::wave {

namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

// A shape's value at phase 0..1, from 0 (Low) to 1 (High).
double Unit(Shape shape, double phase) {
  switch (shape) {
    case Shape::Sine:
      return 0.5 + 0.5 * std::sin(2 * std::numbers::pi * phase);
    case Shape::Triangle:
      return phase < 0.5 ? 2 * phase : 2 - 2 * phase;
    case Shape::Square:
      return phase < 0.5 ? 1 : 0;
    case Shape::Ramp:
      break;
  }
  return phase;
}

// A whole number in hexadecimal or decimal, all of the text.
std::optional<std::int64_t> Whole(std::string_view text, bool hexadecimal) {
  int base = hexadecimal ? 16 : 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<Shape> ShapeNamed(std::string_view name) {
  const std::string upper = Upper(name);
  // SCPI's long and short forms, and the command line's names.
  struct Name {
    const char* Short;
    const char* Long;
    Shape Form;
  };
  static constexpr Name kNames[] = {{"SIN", "SINUSOID", Shape::Sine},
                                    {"TRI", "TRIANGLE", Shape::Triangle},
                                    {"RAMP", "RAMP", Shape::Ramp},
                                    {"SQU", "SQUARE", Shape::Square}};
  for (const Name& known : kNames)
    if (upper == known.Short || upper == known.Long || Upper(NameOf(known.Form)) == upper)
      return known.Form;
  return std::nullopt;
}

const char* NameOf(Shape shape) {
  switch (shape) {
    case Shape::Sine:
      return "sine";
    case Shape::Triangle:
      return "triangle";
    case Shape::Square:
      return "square";
    case Shape::Ramp:
      break;
  }
  return "ramp";
}

std::int32_t Source::At(std::uint64_t k, double rate) const {
  if (const auto* samples = std::get_if<std::vector<std::int32_t>>(&What))
    return (*samples)[k % samples->size()];
  const Periodic& wave = std::get<Periodic>(What);
  // The whole cycles are taken out in long double, so that the phase of sample 10^12 is as
  // exact as that of sample 1.
  const long double cycles = static_cast<long double>(k) * wave.Frequency / rate;
  const double phase = static_cast<double>(cycles - std::floor(cycles));
  const double span = wave.High - wave.Low;
  if (wave.Form == Shape::Ramp)  // each code of Low..High for an equal share of the cycle
    return wave.Low +
           std::min(static_cast<std::int32_t>(phase * (span + 1)), static_cast<std::int32_t>(span));
  return wave.Low + static_cast<std::int32_t>(std::lround(Unit(wave.Form, phase) * span));
}

std::uint64_t Source::SamplesIn(std::uint64_t cycles, double rate) const {
  if (const auto* samples = std::get_if<std::vector<std::int32_t>>(&What))
    return cycles * samples->size();
  return static_cast<std::uint64_t>(
      std::llround(static_cast<long double>(cycles) * rate / std::get<Periodic>(What).Frequency));
}

std::vector<Numbered> ReadValues(std::string_view text, const std::string& name, bool volts,
                                 bool hexadecimal) {
  std::vector<Numbered> values;
  std::size_t line = 0;
  for (std::size_t from = 0; from < text.size();) {
    std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    std::string_view content = text.substr(from, end - from);
    from = end + 1;
    ++line;
    if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
    const auto first = content.find_first_not_of(" \t");
    if (first == std::string_view::npos || content[first] == '#') continue;
    content = content.substr(first, content.find_last_not_of(" \t") - first + 1);
    std::optional<double> value;
    if (volts) {
      double number = 0;
      const auto [at, error] =
          std::from_chars(content.data(), content.data() + content.size(), number);
      if (error == std::errc() && at == content.data() + content.size() && std::isfinite(number))
        value = number;
    } else if (const auto code = Whole(content, hexadecimal)) {
      value = static_cast<double>(*code);
    }
    if (!value)
      throw Error{fmt::format(
          "{} line {}: \"{}\" is not {}", name, line, Printable(std::string(content)),
          volts ? "a voltage" : (hexadecimal ? "a code in hexadecimal" : "a decimal code"))};
    values.push_back({*value, line});
  }
  if (values.empty()) throw Error{name + " holds no sample"};
  return values;
}

std::optional<std::int32_t> CodeOfVolts(double volts, std::int16_t dataBits, double vref) {
  const double code = std::round(volts / vref * std::ldexp(1.0, dataBits));
  if (!(code >= 0 && code <= dac::LastCode(dataBits))) return std::nullopt;
  return static_cast<std::int32_t>(code);
}

std::vector<std::int32_t> CodesOf(const std::vector<Numbered>& values, const std::string& name,
                                  bool volts, std::int16_t dataBits, std::optional<double> vref) {
  std::vector<std::int32_t> codes;
  codes.reserve(values.size());
  const std::int32_t last = dac::LastCode(dataBits);
  for (const Numbered& value : values) {
    std::optional<std::int32_t> code;
    if (volts)
      code = CodeOfVolts(value.Value, dataBits, *vref);
    else if (value.Value >= 0 && value.Value <= last)
      code = static_cast<std::int32_t>(value.Value);
    if (!code) {
      const std::string range =
          volts ? fmt::format("0 V to {:.6g} V", dac::IdealVolts(last, dataBits, *vref))
                : fmt::format("0 to {} (0x{:X})", last, last);
      throw Error{fmt::format("{} line {}: {:g}{} is beyond the DAC's {}", name, value.Line,
                              value.Value, volts ? " V" : "", range)};
    }
    codes.push_back(*code);
  }
  return codes;
}

}  // namespace kt::wave
