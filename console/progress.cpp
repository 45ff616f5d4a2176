// SPDX-License-Identifier: MIT
#include "console/progress.h"

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/terminal.h"

namespace kt::cli {

namespace {

// The width of the terminal standard error shows in, asked again at each redraw so that a
// resized window is followed; COLUMNS, then 80, when the terminal does not say.
int TerminalWidth() {
  if (const int columns = platform::StandardErrorColumns(); columns > 0) return columns;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int width = std::atoi(columns);
    if (width > 0) return width;
  }
  return 80;
}

}  // namespace

std::string ProgressLine(std::int64_t done, std::int64_t total, double seconds, int width,
                         const char* unit) {
  if (width < 2) return "";
  const auto room = static_cast<std::size_t>(width - 1);
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const auto left =
      rate > 0 ? static_cast<std::int64_t>(static_cast<double>(total - done) / rate) : 0;
  const std::string parts[] = {
      fmt::format(" {}/{}", done, total),
      fmt::format("  {:.0f} {}/s", rate, unit),
      rate > 0 ? fmt::format("  {}:{:02} left", left / 60, left % 60) : "  -:-- left",
  };
  // The bar keeps at least ten cells between its brackets, or whatever the line allows.
  constexpr std::size_t kBar = 10 + 2;
  std::string text;
  for (const std::string& part : parts) {
    if (kBar + text.size() + part.size() > room) break;
    text += part;
  }
  std::string line;
  if (room >= 2) {
    const std::size_t cells = room - text.size() - 2;
    const std::size_t filled =
        total > 0 ? static_cast<std::size_t>(static_cast<double>(cells) *
                                             static_cast<double>(done) / static_cast<double>(total))
                  : cells;
    line = '[' + std::string(filled, '#') + std::string(cells - filled, '-') + ']' + text;
  }
  line.resize(room, ' ');
  return line;
}

bool IsTerminal(std::FILE* file) { return platform::IsTerminal(file); }

Progress::Progress(std::int64_t total, bool rowsOnTerminal, const char* unit)
    : total_(total),
      unit_(unit),
      shown_(IsTerminal(stderr) && !rowsOnTerminal),
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
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  // A carriage return and a line one column short of the width: it overwrites the last
  // one in place on every terminal, with no escape sequences needed.
  const std::string line = ProgressLine(done, total_, elapsed.count(), TerminalWidth(), unit_);
  std::fputc('\r', stderr);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void Progress::Finish() {
  if (shown_) fmt::print(stderr, "\n");
}

}  // namespace kt::cli
