// SPDX-License-Identifier: MIT
#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "characterize/run.h"
#include "cli/play.h"
#include "cli/report.h"
#include "dac/device_table.h"
#include "dac/power_down.h"
#include "dac/raw_frame.h"
#include "meter/client.h"
#include "serve/server.h"

// ktdac's commands as the command line and scripts give them, and as checking turns them
// into the values a run uses.
namespace kt::cli {

/// @brief Options of the whole run: which board, which board library, and which firmware.
struct Common {
  int Generation = 0;    ///< 1 or 2; the program's own unless --generation says otherwise
  std::string Library;   ///< replaces the second generation's fixed path
  std::string Firmware;  ///< replaces the program folder's SPI.hex
  std::string Board;     ///< --board: another board than the library's, as the windows take it
};

/// @brief What every command that drives a DAC shares, as typed.
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
  bool NoAnnounce = false;
  bool NoVxi11 = false;
  std::string Http;  ///< [ADDRESS:]PORT of the web page; empty: none
};
struct CharacterizeCommand {
  std::string Device = "KT310";
  std::string Format = "hex";
  std::string Meter;
  std::optional<double> Vref;
  std::string Codes = "all";
  std::string Settle = "10ms";
  int Average = 1;
  std::string Output = "characterization";
  bool Resume = false;
  std::string Range;  ///< empty: the smallest of 1, 10, 100, 1000 V that holds vref
  double Nplc = 1;
  std::vector<std::string> Setup;  ///< replaces the configuration
  std::string Query = "READ?";
  std::string Timeout = "5s";
};
using Command = std::variant<ListCommand, SetCommand, SweepCommand, RawCommand, WaitCommand,
                             ServeCommand, CharacterizeCommand, PlayCommand>;

/// Refuses an empty path, which would otherwise leave an option at its default.
CLI::Validator NonEmptyPath();

/// Adds the commands (list, set, sweep, raw, serve; wait, not serve, when `script`) to a
/// parser; the one given on the line lands in `command`.
void AddCommands(CLI::App& app, std::optional<Command>& command, bool script);

/// @brief A model, a mode and an entry format, checked.
struct Dac {
  const dac::DeviceProfile* Device;
  const dac::PowerDownMode* Mode;
  bool Hexadecimal;
};

/// @brief A code as typed and as read.
struct Code {
  std::string Text;
  std::int64_t Value;
};

struct Listing {
  Output Form;
};
struct Setting {
  Dac Target;
  std::optional<double> Vref;
  Output Form;
  std::vector<Code> Codes;
};
struct Sweeping {
  Dac Target;
  std::int64_t From, To, Step;  ///< the step signed towards To
  std::chrono::nanoseconds Dwell;
  std::string Csv;
  int Repeat;
  std::optional<double> Vref;
};
struct RawSending {
  dac::RawFrame Frame;
  std::string Data;  ///< as typed, to name a refused frame
};
struct Waiting {
  std::chrono::nanoseconds Duration;
};
struct Serving {
  const dac::DeviceProfile* Device;
  remote::Listen Where;
};
/// @brief A characterization: the DAC, always in normal operation, and the run.
struct Characterizing {
  Dac Target;
  characterize::Settings Run;
};

using Checked =
    std::variant<Listing, Setting, Sweeping, RawSending, Waiting, Serving, Characterizing, Playing>;

/// Checks everything a command says before anything is sent and returns the values the run
/// uses; raises UsageError.
Checked Check(const Command& command);

}  // namespace kt::cli
