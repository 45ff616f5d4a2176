// SPDX-License-Identifier: MIT
#include "characterize/code_plan.h"

#include <fmt/format.h>

#include "console/parsing.h"

namespace kt::characterize {

namespace {

// A decimal count of at least 1.
std::int64_t Count(const std::string& text, const std::string& item) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoll(text) < 1)
    throw cli::UsageError{"--codes " + item + ": \"" + text + "\" is not a step of 1 or more"};
  return std::stoll(text);
}

// Runs of equal steps: "A-B:S" for three or more codes, the codes themselves otherwise.
std::string Canonical(const std::vector<std::int32_t>& codes) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ",") + part; };
  std::size_t i = 0;
  while (i < codes.size()) {
    std::size_t j = i + 1;
    if (j < codes.size()) {
      const std::int32_t step = codes[j] - codes[i];
      while (j + 1 < codes.size() && codes[j + 1] - codes[j] == step) ++j;
      if (j - i >= 2) {
        add(step == 1 ? fmt::format("{}-{}", codes[i], codes[j])
                      : fmt::format("{}-{}:{}", codes[i], codes[j], step));
        i = j + 1;
        continue;
      }
    }
    add(std::to_string(codes[i]));
    ++i;
  }
  return text;
}

}  // namespace

CodePlan ParseCodePlan(const std::string& text, bool hexadecimal, std::int32_t last) {
  // The codes chosen, marked as each item is read: time and memory follow the code space,
  // however long the text that names them.
  std::vector<bool> chosen(static_cast<std::size_t>(last) + 1);
  chosen.front() = chosen.back() = true;
  const auto mark = [&](std::int64_t first, std::int64_t end, std::int64_t step) {
    for (std::int64_t c = first; c <= end; c += step) chosen[static_cast<std::size_t>(c)] = true;
  };
  const auto code = [&](const std::string& word, const std::string& item) {
    const std::int64_t value = cli::ParseCode(word, hexadecimal);
    if (value > last)
      throw cli::UsageError{
          fmt::format("--codes {}: {} is beyond the last code 0x{:X}", item, word, last)};
    return static_cast<std::int32_t>(value);
  };
  if (text.empty()) throw cli::UsageError{"--codes names no codes"};
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    const std::string item = text.substr(from, comma - from);
    from = comma + 1;
    if (item.empty()) throw cli::UsageError{"--codes " + text + ": an empty item"};
    if (item == "all" || item.rfind("every:", 0) == 0) {
      mark(0, last, item == "all" ? 1 : Count(item.substr(6), item));
      continue;
    }
    const auto dash = item.find('-');
    if (dash == std::string::npos) {
      const std::int32_t one = code(item, item);
      mark(one, one, 1);
      continue;
    }
    const auto colon = item.find(':', dash);
    const std::int32_t first = code(item.substr(0, dash), item);
    const std::int32_t end = code(item.substr(dash + 1, colon - dash - 1), item);
    const std::int64_t step = colon == std::string::npos ? 1 : Count(item.substr(colon + 1), item);
    if (end < first) throw cli::UsageError{"--codes " + item + ": the range runs backwards"};
    mark(first, end, step);
  }
  std::vector<std::int32_t> codes;
  for (std::size_t c = 0; c < chosen.size(); ++c)
    if (chosen[c]) codes.push_back(static_cast<std::int32_t>(c));
  return {codes, Canonical(codes)};
}

}  // namespace kt::characterize
