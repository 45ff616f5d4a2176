// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kt::cli {

/// The progress line for `done` of `total` frames after `seconds`, exactly `width - 1`
/// characters long (the last column stays free, so the line never wraps and a shorter line
/// still covers a longer one). What does not fit goes: first the time left, then the rate,
/// then the counts; the bar takes what is left. Empty below 2 columns.
/// `unit` names what is counted ("frames", "codes").
std::string ProgressLine(std::int64_t done, std::int64_t total, double seconds, int width,
                         const char* unit = "frames");

/// Whether a stream shows on a terminal.
bool IsTerminal(std::FILE* file);

/// @brief A progress bar with rate and time left on standard error, shown only when
/// standard error is a terminal, fitted to the terminal's width at each redraw and redrawn
/// in place at most ten times a second; not shown over rows printed to the terminal.
class Progress {
 public:
  Progress(std::int64_t total, bool rowsOnTerminal, const char* unit = "frames");
  void Update(std::int64_t done);
  void Finish();

 private:
  void Draw(std::int64_t done);

  std::int64_t total_;
  const char* unit_;
  bool shown_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_;
};

}  // namespace kt::cli
