// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/options.h"
#include "dac/device_table.h"
#include "link/board.h"

namespace kt::cli {

/// Reports a frame the board refused, naming `what` was sent, and why when the board says;
/// returns the status for it (5).
int Refused(const link::SentFrame& sent, const std::string& what);

/// @brief One run of ktdac against one board: connects once, at the first command that
/// needs the board, then sends as the checked commands say, each frame computed by the
/// same rules as the windows' and sent through the board's one road.
class Session {
 public:
  Session(link::Board& board, std::FILE* out);

  /// Runs a checked command. Returns an exit status: a connection or firmware failure is 1,
  /// a refused frame 5, an interrupted sweep 128 + the signal. Raises kt::Error for a
  /// missing library, entry or bad path, or a code the window's reading cannot take.
  int Run(const Checked& command);

  /// @brief A code as it went out: the text the window's box would show, the frame and
  /// what the board made of it.
  struct Sent {
    std::string Box;  ///< the text the entry box would show
    kt::Frame Frame;  ///< the frame computed for the code
    link::SentFrame Result;
  };

  /// Sends a code as the window's update does: read as the entry format reads it (so a
  /// hexadecimal code from 0x80000000 is negative), clamped to the device's range, composed
  /// with the mode and sent.
  Sent SendCode(const Dac& target, std::int64_t code);
  /// The frame and box text of a code, as SendCode computes them, not sent.
  static Sent Unsent(const Dac& target, std::int64_t code);

  [[nodiscard]] link::Board& Board() { return board_; }

  /// Connects for the model (none: raw frames alone), once: later calls return at once.
  /// Returns 1 when the connection fails, having said which step failed and why.
  int Connect(const dac::DeviceProfile* device, std::optional<double> vref = std::nullopt);

  /// The reference a command uses: the one given, else the one the board tells, else none.
  /// A given one that differs from the board's by more than 0.1 % is taken, with a warning.
  std::optional<double> Reference(const std::optional<double>& given, std::int16_t dataBits);

 private:
  int List(const Listing& command);
  int Set(const Setting& command);
  int Sweep(const Sweeping& command);
  int Raw(const RawSending& command);
  int Serve(const Serving& command);

  link::Board& board_;
  std::FILE* out_;
  bool connected_ = false;
};

}  // namespace kt::cli
