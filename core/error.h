// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>

namespace kt {

/// @brief The program's one run-time error: a library that cannot be loaded, an entry it
/// lacks, a path that does not fit, a text that is not a number. The message names what failed.
class Error : public std::runtime_error {
 public:
  /// What failed: the program's own work, the board library (it cannot be loaded, or
  /// lacks an entry), which the user mends by installing the board maker's software, or a
  /// bench meter (unreachable, silent, or answering what is not a reading).
  enum class Cause { Program, BoardLibrary, Meter };

  explicit Error(const std::string& what, Cause cause = Cause::Program)
      : std::runtime_error(what), cause_(cause) {}
  [[nodiscard]] Cause cause() const noexcept { return cause_; }

 private:
  Cause cause_;
};

}  // namespace kt
