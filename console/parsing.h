// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dac/power_down.h"

// What the command line and scripts say, read into plain values. Knows no generation.
namespace kt::cli {

/// Exit statuses.
inline constexpr int kSuccess = 0;
inline constexpr int kConnectionFailure = 1;
inline constexpr int kUsageError = 2;
inline constexpr int kRuntimeError = 3;
inline constexpr int kWriteFailure = 4;   ///< output could not be written
inline constexpr int kFrameRefused = 5;   ///< the board library refused a frame
inline constexpr int kMeterFailure = 6;   ///< the bench meter failed or could not be reached
inline constexpr int kLateSample = 7;     ///< play --strict: a sample went out late
inline constexpr int kInterrupted = 130;  ///< Ctrl-C; SIGTERM gives 143 and SIGHUP 129

/// @brief Output that could not be written: the file and the system's reason.
struct WriteError {
  std::string message;
};

/// @brief A usage error: a value or a line the companion cannot take. Nothing is sent.
struct UsageError {
  std::string message;
};

/// The power-down mode of a name, in any case: normal, 100k, tri-state, 1k, or the Linux
/// IIO ABI's 100kohm_to_gnd, three_state, 1kohm_to_gnd. Raises UsageError for anything else.
const dac::PowerDownMode& PowerDown(const std::string& name);

/// The names the option accepts, for help texts: ktdac's own, then the IIO ABI's.
std::vector<std::string> PowerDownNames();

/// A duration such as 10ms, 2s, 500us or 1.5min. Raises UsageError.
std::chrono::nanoseconds ParseDuration(const std::string& text);

/// A code bound of a sweep: 0x-prefixed hexadecimal, or a number in the entry format.
/// Raises UsageError for text that is neither.
std::int64_t ParseCode(const std::string& text, bool hexadecimal);

/// A checked code as the entry box reads its text: a hexadecimal one as its 32-bit
/// two's-complement value, a decimal one as itself, which must fit the signed 32-bit range.
std::int32_t EntryValue(std::int64_t code, bool hexadecimal);

/// @brief One line of a script, split into words (double quotes group words).
struct ScriptLine {
  int number;
  std::vector<std::string> words;
};

/// The commands of a script: blank lines and # comments dropped. Raises UsageError naming
/// the line for a quote left open.
std::vector<ScriptLine> ReadScript(const std::string& text);

}  // namespace kt::cli
