// SPDX-License-Identifier: MIT
#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/report.h"
#include "core/app_state.h"

namespace kt::cli {

/// @brief Options of the whole run: which board library, and which firmware.
struct Common {
  int Generation = KT_GENERATION;  // this program's own
  std::string Library;             ///< replaces the second generation's fixed path
  std::string Firmware;            ///< replaces the program folder's SPI.hex
};

/// @brief What every command that drives a DAC shares.
struct Target {
  std::string Device = "KT310";
  std::string PowerDown = "normal";
  std::string Format = "hex";
};

struct ListCommand {
  std::string Output = "text";  ///< text, csv or json
};
struct SetCommand {
  Target Dac;
  std::optional<double> Vref;
  std::string Output = "text";
  std::vector<std::string> Values;
  bool Clamp = false;  ///< take codes beyond the device's range and clamp them, as the window does
};
struct SweepCommand {
  Target Dac;
  std::string First, Last, Step = "1", Dwell = "0ms", Csv;
  int Repeat = 1;
  std::optional<double> Vref;
};
struct RawCommand {
  std::string Bits, Data;
};
struct WaitCommand {
  std::string Duration;
};
struct ServeCommand {
  std::string Device = "KT310";
  std::string Listen = "127.0.0.1:5025";
};
using Command =
    std::variant<ListCommand, SetCommand, SweepCommand, RawCommand, WaitCommand, ServeCommand>;

/// Adds the commands (list, set, sweep, raw, serve; wait, not serve, when `script`) to a
/// parser; the one given
/// on the line lands in `command`.
void AddCommands(CLI::App& app, std::optional<Command>& command, bool script);

/// Checks everything a command says before anything is sent; raises UsageError.
void Validate(const Command& command);

/// @brief One run of the companion against one board library: connects once, at the first
/// command that needs the board, then sends as the commands say.
class Session {
 public:
  Session(const Common& common, std::FILE* out);

  /// Runs a validated command. Returns an exit status: a connection or firmware failure is 1,
  /// an interrupted sweep 130. Raises kt::Error for a missing library, entry or bad path.
  int Run(const Command& command);

 private:
  int Connect();
  int List(const ListCommand& command);
  int Set(const SetCommand& command);
  int Sweep(const SweepCommand& command);
  int Raw(const RawCommand& command);
  int Serve(const ServeCommand& command);
  void Choose(const Target& target);
  /// What the frame just sent for `code` was, for the CSV and JSON lines.
  FrameRecord Record(const Target& target, std::int64_t code, std::optional<double> vref) const;

  Common common_;
  std::FILE* out_;
  AppState app_;
  bool connected_ = false;
};

}  // namespace kt::cli
