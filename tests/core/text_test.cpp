// SPDX-License-Identifier: MIT
// What a peer hands back, shown and read: every control character and every byte that is not
// UTF-8 escaped (a terminal takes them as commands), and a reading only when the whole answer
// is one decimal number within the meter's range.
#include "meter/text.h"

#include <gtest/gtest.h>

#include "core/printable.h"

namespace kt {
namespace {

TEST(Text, WhatIsShownHoldsNoControlAndReadsBackAsWhatCame) {
  const std::pair<std::string, std::string> rows[] = {
      {"Corvane,DMM", "Corvane,DMM"},
      {"Messger\xC3\xA4te", "Messger\xC3\xA4te"},  // UTF-8 kept
      {"a\\b", "a\\\\b"},                          // a backslash doubled
      {"\x1B]0;x\x07", "\\x1B]0;x\\x07"},          // C0: ESC, BEL
      {"del\x7F", "del\\x7F"},                     // DEL
      {"\xC2\x9B"
       "1m",
       "\\xC2\\x9B1m"},                              // C1 as UTF-8
      {"\x9B", "\\x9B"},                             // C1 as a bare byte
      {"\xC0\xAF", "\\xC0\\xAF"},                    // an overlong '/'
      {"\xC1\xBF", "\\xC1\\xBF"},                    // an overlong DEL
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // beyond U+10FFFF
      {"\xE2\x82", "\\xE2\\x82"},                    // cut short
  };
  for (const auto& [text, shown] : rows) EXPECT_EQ(Printable(text), shown) << shown;
}

TEST(Text, AReadingIsOneWholeDecimalNumberWithinTheRange) {
  const std::tuple<std::string, std::optional<double>, std::optional<double>> rows[] = {
      {"1.25", {}, 1.25},  {" -2.5E-3 ", {}, -2.5e-3}, {"1.2.3", {}, {}}, {"-", {}, {}},
      {".", {}, {}},       {"1.25 V", {}, {}},         {"0x10", {}, {}},  {"nan", {}, {}},
      {"+9.9E37", {}, {}}, {"10.0", 1.0, 10.0},  // ten times the range, still read
      {"10.1", 1.0, {}},                         // beyond it: an overload
      {"", {}, {}},
  };
  for (const auto& [answer, range, value] : rows)
    EXPECT_EQ(meter::ReadReading(answer, range).Value, value) << answer;
}

}  // namespace
}  // namespace kt
