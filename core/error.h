// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>

namespace kt {

/// @brief The program's one run-time error: a library that cannot be loaded, an entry it
/// lacks, a path that does not fit, a text that is not a number. The message names what failed.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace kt
