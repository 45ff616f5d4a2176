// SPDX-License-Identifier: MIT
#include "dac/readings.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "core/error.h"

namespace kt::dac {

namespace {

int DigitValue(char c, int base) {
  int digit = base;  // not a digit
  if (c >= '0' && c <= '9')
    digit = c - '0';
  else if (c >= 'A' && c <= 'F')
    digit = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f')
    digit = c - 'a' + 10;
  return digit < base ? digit : -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits of `base` at the start of `text`, stopping at the first other character.
// The value must fit in 32 bits unsigned and is returned as its two's-complement int32.
std::int32_t ReadPrefixedDigits(std::string_view text, int base, std::string_view whole) {
  std::uint64_t value = 0;
  for (char c : text) {
    const int digit = DigitValue(c, base);
    if (digit < 0) break;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (value > std::numeric_limits<std::uint32_t>::max())
      throw Error("number in \"" + std::string(whole) + "\" does not fit in 32 bits");
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

HexReading ParseHex(std::string_view digits) {
  if (digits.empty()) return {.fault = HexFault::kEmpty};
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int digit = DigitValue(digits[i], 16);
    if (digit < 0) return {.fault = HexFault::kNotADigit, .errorIndex = i};
    value = value * 16 + static_cast<unsigned>(digit);
    if (value > std::numeric_limits<std::uint32_t>::max())
      return {.fault = HexFault::kTooLarge, .errorIndex = i};
  }
  return {.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value))};
}

std::int32_t ReadHex(std::string_view digits) {
  const HexReading reading = ParseHex(digits);
  if (reading.Ok()) return reading.value;
  if (reading.fault == HexFault::kEmpty) throw Error("empty text is not a hexadecimal number");
  std::string message;
  message.append("\"").append(digits).append("\"");
  if (reading.fault == HexFault::kTooLarge) {
    message.append(" does not fit in 32 bits");
  } else {
    message.append(" is not a hexadecimal number (character ")
        .append(std::to_string(reading.errorIndex + 1))
        .append(")");
  }
  throw Error(message);
}

double ReadLeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const std::string_view rest = text.substr(i);

  if (rest.size() >= 2 && rest[0] == '&') {
    if (rest[1] == 'H' || rest[1] == 'h') return ReadPrefixedDigits(rest.substr(2), 16, text);
    if (rest[1] == 'O' || rest[1] == 'o') return ReadPrefixedDigits(rest.substr(2), 8, text);
  }

  std::size_t p = 0;
  bool negative = false;
  if (p < rest.size() && (rest[p] == '+' || rest[p] == '-')) negative = rest[p++] == '-';
  const std::size_t start = p;
  bool anyDigit = false;
  bool nonZeroWhole = false;
  while (p < rest.size() && IsDecimalDigit(rest[p])) {
    anyDigit = true;
    nonZeroWhole = nonZeroWhole || rest[p] != '0';
    ++p;
  }
  if (p < rest.size() && rest[p] == '.') {
    std::size_t q = p + 1;
    while (q < rest.size() && IsDecimalDigit(rest[q])) ++q;
    if (q > p + 1 || anyDigit) {
      anyDigit = anyDigit || q > p + 1;
      p = q;
    }
  }
  if (!anyDigit) return 0.0;

  double magnitude = 0.0;
  const auto [end, error] =
      std::from_chars(rest.data() + start, rest.data() + p, magnitude, std::chars_format::fixed);
  (void)end;
  if (error == std::errc::result_out_of_range)
    magnitude = nonZeroWhole ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -magnitude : magnitude;
}

std::int32_t RoundToInt32(double value) {
  const double rounded = std::nearbyint(value);  // the default mode rounds a half to even
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    (void)error;
    throw Error(std::string(text, end) + " is outside the signed 32-bit range");
  }
  return static_cast<std::int32_t>(rounded);
}

std::int32_t ReadEntry(bool hexadecimal, std::string_view text) {
  if (hexadecimal) return text.empty() ? 0 : ReadHex(text);
  return RoundToInt32(ReadLeadingNumber(text));
}

std::string HexText(std::int32_t value) {
  char text[8];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, static_cast<std::uint32_t>(value), 16);
  (void)error;
  std::string result(text, end);
  for (char& c : result)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

std::string ZeroFill4(std::string text) {
  if (text.empty() || text.size() >= 4) return text;
  return std::string(4 - text.size(), '0') + text;
}

std::string DecimalText(std::int32_t value) { return std::to_string(value); }

}  // namespace kt::dac
