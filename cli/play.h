// SPDX-License-Identifier: MIT
#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dac/device_table.h"
#include "wave/player.h"
#include "wave/samples.h"

// ktdac play: a waveform at a set sample rate, a shape or a file's samples.
namespace kt::cli {

class Session;

/// @brief play as typed.
struct PlayCommand {
  std::string Device = "KT310";
  std::string Format = "hex";
  std::string Shape, File, Low, High, Duration, Log, Final;
  std::optional<double> Frequency, Amplitude, Offset, Rate, Vref;
  std::optional<std::int64_t> Cycles;
  bool Volts = false, Strict = false, NoBuffer = false;
};

/// @brief play as checked: everything but what needs the reference (volts), which is turned
/// into codes once the board is connected.
struct Playing {
  const dac::DeviceProfile* Device = nullptr;
  bool Hexadecimal = true;
  std::optional<double> Vref;
  /// A shape, its codes set unless it is given in volts (amplitude, offset).
  std::optional<wave::Periodic> Shape;
  std::optional<std::pair<double, double>> AmplitudeOffset;
  /// A file's values, as read; codes or volts.
  std::vector<wave::Numbered> Values;
  std::string File;
  bool Volts = false;
  wave::Pace Pace;
  std::string Log;
  std::optional<std::int32_t> Final;
  bool NoBuffer = false;  ///< each sample at its deadline, even where the board has a buffer
};

/// Adds play's options to its subcommand.
void AddPlayOptions(CLI::App& play, PlayCommand& typed);

/// Checks play before anything is sent; raises UsageError. The file is read here.
Playing CheckPlay(const PlayCommand& typed);

/// Plays on the session's board, through its own output buffer where it has one, and prints
/// one line of how it went on `out`. Returns an
/// exit status: 0, 1 (connection), 5 (a refused frame), 7 (late, with --strict), 128 + the
/// signal when stopped.
int Play(Session& session, const Playing& playing, std::FILE* out);

}  // namespace kt::cli
