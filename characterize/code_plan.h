// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kt::characterize {

/// @brief The codes a characterization measures, ascending, always with both ends.
struct CodePlan {
  std::vector<std::int32_t> Codes;
  /// The plan in one canonical form, runs of equal steps ("0-16383:64,16383"), so that two
  /// spellings of the same codes compare equal.
  std::string Text;
};

/// Reads a comma-separated list of items: `all`, `every:N` (every Nth code from 0), a code,
/// FROM-TO, or FROM-TO:N (every Nth from FROM). Codes are read as the entry format reads them
/// (0x marks hexadecimal in either); N is a decimal count. Code 0 and `last` are always
/// added. Raises cli::UsageError naming the item that is wrong or beyond `last`.
CodePlan ParseCodePlan(const std::string& text, bool hexadecimal, std::int32_t last);

}  // namespace kt::characterize
