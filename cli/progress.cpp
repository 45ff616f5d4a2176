// SPDX-License-Identifier: MIT
#include "cli/progress.h"

#include <fmt/format.h>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#define KT_ISATTY _isatty
#define KT_FILENO _fileno
#else
#include <unistd.h>
#define KT_ISATTY isatty
#define KT_FILENO fileno
#endif

namespace kt::cli {

Progress::Progress(std::int64_t total)
    : total_(total),
      shown_(KT_ISATTY(KT_FILENO(stderr)) != 0),
      start_(std::chrono::steady_clock::now()),
      drawn_(start_) {}

void Progress::Update(std::int64_t done) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - drawn_ < std::chrono::milliseconds(100) && done != total_) return;
  drawn_ = now;
  Draw(done);
}

void Progress::Draw(std::int64_t done) {
  constexpr int kWidth = 30;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  const double rate = elapsed.count() > 0 ? static_cast<double>(done) / elapsed.count() : 0;
  const auto left = rate > 0 ? static_cast<std::int64_t>((total_ - done) / rate) : 0;
  const int filled = total_ > 0 ? static_cast<int>(kWidth * done / total_) : kWidth;
  fmt::print(stderr, "\r[{}{}] {}/{}  {:.0f} frames/s  {}:{:02} left ",
             std::string(static_cast<std::size_t>(filled), '#'),
             std::string(static_cast<std::size_t>(kWidth - filled), '-'), done, total_, rate,
             left / 60, left % 60);
}

void Progress::Finish() {
  if (shown_) fmt::print(stderr, "\n");
}

}  // namespace kt::cli
