// SPDX-License-Identifier: MIT
// The hexadecimal and leading-number readings never crash, and whatever they accept is the
// value the text denotes, as an independent reference (regular expressions and the C
// library's conversions) reads it.
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "core/error.h"
#include "dac/readings.h"

namespace {

std::string StripZeros(const std::string& digits) {
  const auto first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

// The value of a run of digits of `base`, or nothing when it needs more than 32 bits.
bool Fits32(const std::string& digits, int base, std::uint32_t& value) {
  const std::string significant = StripZeros(digits);
  if (significant.size() > (base == 16 ? 8u : 11u)) return false;
  const unsigned long long wide = std::strtoull(significant.c_str(), nullptr, base);
  if (wide > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(wide);
  return true;
}

void CheckHex(const std::string& text) {
  static const std::regex kHex("[0-9A-Fa-f]+");
  const kt::dac::HexReading reading = kt::dac::ParseHex(text);
  std::uint32_t value = 0;
  if (!std::regex_match(text, kHex)) {
    if (reading.Ok()) std::abort();
  } else if (!Fits32(text, 16, value)) {
    if (reading.fault != kt::dac::HexFault::kTooLarge) std::abort();
  } else if (!reading.Ok() || reading.value != static_cast<std::int32_t>(value)) {
    std::abort();
  }
}

void CheckLeadingNumber(const std::string& text) {
  static const std::regex kNumber(
      R"(^[ \t]*(?:&[Hh]([0-9A-Fa-f]*)|&[Oo]([0-7]*)|([+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+))))");
  std::smatch match;
  bool expectError = false;
  double expected = 0.0;
  if (std::regex_search(text, match, kNumber)) {
    if (match[1].matched || match[2].matched) {
      const int base = match[1].matched ? 16 : 8;
      const std::string digits = match[base == 16 ? 1 : 2].str();
      std::uint32_t value = 0;
      if (digits.empty()) {
        expected = 0.0;
      } else if (Fits32(digits, base, value)) {
        expected = static_cast<std::int32_t>(value);
      } else {
        expectError = true;
      }
    } else {
      expected = std::strtod(match[3].str().c_str(), nullptr);  // the "C" locale
    }
  }
  try {
    const double got = kt::dac::ReadLeadingNumber(text);
    if (expectError || got != expected) std::abort();
  } catch (const kt::Error&) {
    if (!expectError) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1000) return -1;  // the reference's regular expressions recurse per character
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckHex(text);
  CheckLeadingNumber(text);
  return 0;
}
