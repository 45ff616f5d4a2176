// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>

namespace kt::cli {

/// @brief A progress bar with rate and time left on standard error, shown only when
/// standard error is a terminal and redrawn at most ten times a second.
class Progress {
 public:
  explicit Progress(std::int64_t total);
  void Update(std::int64_t done);
  void Finish();

 private:
  void Draw(std::int64_t done);

  std::int64_t total_;
  bool shown_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_;
};

}  // namespace kt::cli
