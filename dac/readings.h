// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The conversions between the entry box's text and numbers. None depends on the locale:
// the decimal separator is always the full stop.
namespace kt::dac {

enum class HexFault {
  kNone,
  kEmpty,      ///< no digit at all
  kNotADigit,  ///< a character that is not 0-9, A-F or a-f (blanks included)
  kTooLarge,   ///< the value needs more than 32 bits
};

/// @brief The outcome of a hexadecimal reading, with the position of the first offending
/// character when it failed.
struct HexReading {
  std::int32_t value = 0;
  HexFault fault = HexFault::kNone;
  std::size_t errorIndex = 0;

  [[nodiscard]] bool Ok() const { return fault == HexFault::kNone; }
};

/// Reads one or more hexadecimal digits, leading zeros allowed, as an unsigned value that
/// must fit in 32 bits, then taken as a signed 32-bit two's-complement value: "FFFF" is
/// 65535 and "FFFFFFFF" is -1.
HexReading ParseHex(std::string_view digits);

/// ParseHex, raising kt::Error with the text and the offending position when it fails.
std::int32_t ReadHex(std::string_view digits);

/// The value of the number at the start of the text, after leading blanks: an optional sign,
/// digits, and optionally a full stop and more digits; "&H" or "&O" (either case) followed by
/// hexadecimal or octal digits reads them unsigned, as ParseHex does. Text without a leading
/// number reads as 0. Raises kt::Error only for a prefixed value beyond 32 bits.
double ReadLeadingNumber(std::string_view text);

/// Rounds to the nearest integer, a half to the even neighbour (12.5 to 12, 13.5 to 14).
/// Raises kt::Error when the result lies outside the signed 32-bit range.
std::int32_t RoundToInt32(double value);

/// The value an update reads from the entry text, before clamping: in hexadecimal format
/// the hexadecimal reading (an empty text reads as 0000), in decimal format the leading
/// number rounded half to even. Raises kt::Error exactly where the update traps.
std::int32_t ReadEntry(bool hexadecimal, std::string_view text);

/// Upper-case hexadecimal digits without leading zeros; a negative value gives its 32-bit
/// two's-complement digits (-3 is "FFFFFFFD").
std::string HexText(std::int32_t value);

/// Puts zeros in front of a text of 1 to 3 characters to make it four long.
std::string ZeroFill4(std::string text);

/// Decimal digits with "-" in front when negative.
std::string DecimalText(std::int32_t value);

}  // namespace kt::dac
