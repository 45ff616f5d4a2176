// SPDX-License-Identifier: MIT
// ktdac's strict code reading and its script reading never crash, and agree with
// independent references: a regular expression and the C library's conversion for codes,
// and a tokenizer that splits each line at its quotes first for scripts.
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "console/parsing.h"

namespace {

// The value ParseCode must give for the text, or -1 when it must refuse it.
std::int64_t ReferenceCode(const std::string& text, bool hexadecimal) {
  static const std::regex prefixed("0[xX]([0-9A-Fa-f]+)");
  static const std::regex hexDigits("[0-9A-Fa-f]+");
  static const std::regex decimalDigits("[0-9]+");
  std::smatch match;
  std::string digits;
  int base = 10;
  std::uint64_t limit = 0x7FFFFFFF;  // a decimal code is read as a signed 32-bit number
  if (std::regex_match(text, match, prefixed)) {
    digits = match[1];
    base = 16;
    limit = 0xFFFFFFFF;
  } else if (hexadecimal && std::regex_match(text, hexDigits)) {
    digits = text;
    base = 16;
    limit = 0xFFFFFFFF;
  } else if (!hexadecimal && std::regex_match(text, decimalDigits)) {
    digits = text;
  } else {
    return -1;
  }
  const auto first = digits.find_first_not_of('0');
  const std::string significant = first == std::string::npos ? "0" : digits.substr(first);
  if (significant.size() > 10) return -1;
  const unsigned long long value = std::strtoull(significant.c_str(), nullptr, base);
  return value > limit ? -1 : static_cast<std::int64_t>(value);
}

struct ReferenceScript {
  bool refused = false;
  std::vector<kt::cli::ScriptLine> lines;
};

ReferenceScript ReferenceRead(const std::string& text) {
  ReferenceScript script;
  std::size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    // Segments between quotes: even ones unquoted, odd ones quoted.
    std::vector<std::string> segments{""};
    for (char c : line) {
      if (c == '"') {
        segments.emplace_back();
      } else {
        segments.back().push_back(c);
      }
    }
    // A # in an unquoted segment ends the line there.
    for (std::size_t i = 0; i < segments.size(); i += 2) {
      if (const auto hash = segments[i].find('#'); hash != std::string::npos) {
        segments[i].erase(hash);
        segments.resize(i + 1);
        break;
      }
    }
    if (segments.size() % 2 == 0) {
      script.refused = true;
      return script;
    }
    std::vector<std::string> words;
    bool open = false;  // a word is being built
    for (std::size_t i = 0; i < segments.size(); ++i) {
      if (i % 2 == 1) {
        if (!open) words.emplace_back();
        words.back() += segments[i];
        open = true;
        continue;
      }
      for (char c : segments[i]) {
        if (c == ' ' || c == '\t' || c == '\r') {
          open = false;
        } else {
          if (!open) words.emplace_back();
          words.back().push_back(c);
          open = true;
        }
      }
    }
    if (!words.empty()) script.lines.push_back({number, words});
  }
  return script;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool hexadecimal = (data[0] & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::int64_t code = -1;
  try {
    code = kt::cli::ParseCode(text, hexadecimal);
  } catch (const kt::cli::UsageError&) {
  }
  if (code != ReferenceCode(text, hexadecimal)) std::abort();

  const ReferenceScript expected = ReferenceRead(text);
  try {
    const auto lines = kt::cli::ReadScript(text);
    if (expected.refused || lines.size() != expected.lines.size()) std::abort();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].number != expected.lines[i].number || lines[i].words != expected.lines[i].words)
        std::abort();
    }
  } catch (const kt::cli::UsageError&) {
    if (!expected.refused) std::abort();
  }
  return 0;
}
