// SPDX-License-Identifier: MIT
#include "meter/text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kt::meter {

namespace {

// SCPI's overload (9.9E37) and not-a-number (9.91E37) readings.
constexpr double kOverload = 9.9e37;

}  // namespace

Reading ReadReading(std::string_view answer, std::optional<double> range) {
  const std::size_t first = answer.find_first_not_of(' ');
  const std::size_t last = answer.find_last_not_of(' ');
  const std::string_view number =
      first == std::string_view::npos ? std::string_view() : answer.substr(first, last - first + 1);
  // A meter's number is decimal: what strtod would also take (hexadecimal, NaN, infinity) is
  // not a reading.
  const bool decimal =
      !number.empty() && number.find_first_not_of("0123456789+-.eE") == std::string_view::npos;
  const std::string text(number);
  char* end = nullptr;
  const double value = decimal ? std::strtod(text.c_str(), &end) : 0;
  if (!decimal || end != text.c_str() + text.size() || !std::isfinite(value))
    return {std::nullopt, "not a number"};
  if (std::fabs(value) >= kOverload || (range && std::fabs(value) > 10 * *range))
    return {std::nullopt, "an overload, the input is beyond the meter's range"};
  return {value, {}};
}

}  // namespace kt::meter
