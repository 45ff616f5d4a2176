// SPDX-License-Identifier: MIT
#include "console/parsing.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>

#include "core/error.h"
#include "dac/readings.h"

namespace kt::cli {

const dac::PowerDownMode& PowerDown(const std::string& name) {
  if (const dac::PowerDownMode* mode = dac::PowerDownByName(name)) return *mode;
  throw UsageError{"unknown power-down mode \"" + name + "\""};
}

std::vector<std::string> PowerDownNames() {
  std::vector<std::string> names;
  for (const auto& mode : dac::kPowerDownModes) names.emplace_back(mode.Name);
  for (const auto& mode : dac::kPowerDownModes)
    if (*mode.IioName) names.emplace_back(mode.IioName);
  return names;
}

std::chrono::nanoseconds ParseDuration(const std::string& text) {
  if (text == "0") return std::chrono::nanoseconds(0);  // no unit needed for nothing
  double amount = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), amount);
  const std::string unit(end, text.data() + text.size());
  const std::pair<const char*, double> units[] = {
      {"ns", 1}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}, {"min", 60e9}, {"h", 3600e9},
  };
  if (error == std::errc() && amount >= 0 && std::isfinite(amount)) {
    for (const auto& [name, scale] : units) {
      if (unit != name) continue;
      // 100000 hours, eleven years: beyond any wait a bench needs, and well within the
      // 292 years a signed 64-bit count of nanoseconds holds.
      if (amount * scale > 100000 * 3600e9)
        throw UsageError{"\"" + text + "\" is too long a duration (at most 100000h)"};
      return std::chrono::nanoseconds(static_cast<std::int64_t>(amount * scale));
    }
  }
  throw UsageError{"\"" + text + "\" is not a duration (say 0, 10ms, 2s, 500us, 1.5min, 2h)"};
}

std::int64_t ParseCode(const std::string& text, bool hexadecimal) {
  try {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
      return static_cast<std::uint32_t>(dac::ReadHex(text.substr(2)));
    const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [&](char c) {
      return hexadecimal ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                         : (c >= '0' && c <= '9');
    });
    if (digits) return static_cast<std::uint32_t>(dac::ReadEntry(hexadecimal, text));
  } catch (const Error&) {
  }
  throw UsageError{"\"" + text + "\" is not a code (" +
                   (hexadecimal ? "hexadecimal digits, or 0x and hexadecimal digits)"
                                : "decimal digits, or 0x and hexadecimal digits)")};
}

std::int32_t EntryValue(std::int64_t code, bool hexadecimal) {
  if (hexadecimal) return static_cast<std::int32_t>(static_cast<std::uint32_t>(code));
  return dac::RoundToInt32(static_cast<double>(code));
}

std::vector<ScriptLine> ReadScript(const std::string& text) {
  std::vector<ScriptLine> lines;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char c : line) {
      if (!quoted && c == '#') break;
      if (c == '"') {
        quoted = !quoted;
        inWord = true;
      } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
        if (inWord) words.push_back(word);
        word.clear();
        inWord = false;
      } else {
        word.push_back(c);
        inWord = true;
      }
    }
    if (quoted) throw UsageError{std::to_string(number) + ": a quote is not closed"};
    if (inWord) words.push_back(word);
    if (!words.empty()) lines.push_back({number, std::move(words)});
  }
  return lines;
}

}  // namespace kt::cli
