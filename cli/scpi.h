// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// SCPI (SCPI-1999, IEEE 488.2) program messages for `ktdac serve`: the parser and the
// command set, over a board it drives through an interface. Knows no generation and no
// network.
namespace kt::cli::scpi {

/// @brief One entry of the error queue: a standard SCPI code and its text.
struct QueuedError {
  int Code;
  std::string Text;  ///< the standard text, then ";" and detail when there is any
};

/// The standard text of a code ("Data out of range" for -222).
std::string StandardText(int code);

/// A numeric parameter in any IEEE 488.2 form: decimal (sign, digits, full stop, exponent)
/// or non-decimal #H, #Q, #B. Nothing when the text is not a number.
std::optional<double> ParseNumber(std::string_view text);

/// @brief What the commands drive: one board, shared by every connection. Each call runs
/// to completion. A frame call returns the board library's status (0: taken).
class Board {
 public:
  virtual ~Board() = default;
  /// The models, by label ("KT300", ...), and the one selected.
  virtual std::vector<std::string> Devices() const = 0;
  virtual std::string Device() const = 0;
  virtual void SelectDevice(const std::string& label) = 0;
  virtual int DataBits() const = 0;
  /// The code and power-down mode (0..3) last sent; sending either sends one frame through
  /// the windows' update.
  virtual std::int32_t Code() const = 0;
  virtual std::int32_t PowerDown() const = 0;
  virtual std::int16_t Send(std::int32_t code, std::int32_t powerDown) = 0;
  /// A raw frame, as the SPI test window writes one.
  virtual std::int16_t SendRaw(std::int16_t bits, std::int32_t word) = 0;
  /// The board library's status for the last frame.
  virtual std::int16_t Status() const = 0;
  /// Maker, model, serial and version for *IDN?.
  virtual std::string Identity() const = 0;
};

/// @brief One connection's SCPI session: its own error queue and current path, over the
/// shared board. A reference voltage set by one connection is that connection's.
class Session {
 public:
  explicit Session(Board& board) : board_(board) {}

  /// Runs one program message (a line, without its terminator) and returns the response
  /// message: the queries' answers joined by ";", empty when there was no query.
  std::string Execute(std::string_view message);

  /// Queues an error (the last becomes -350 "Queue overflow" when the queue is full).
  void Queue(int code, const std::string& detail = {});

  [[nodiscard]] const std::deque<QueuedError>& Errors() const { return errors_; }

  /// Errors a connection keeps before the queue overflows.
  static constexpr std::size_t kQueueSize = 16;

 private:
  struct Unit;
  bool Run(const Unit& unit, std::vector<std::string>& answers);

  Board& board_;
  std::deque<QueuedError> errors_;
  std::vector<std::string> path_;  // the current path: the nodes before the last leaf
  std::optional<double> vref_;
};

}  // namespace kt::cli::scpi
