// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "remote/message.h"

// SCPI remote control for `ktdac serve`: a session per connection, running program messages
// against a board it drives through an interface. Knows no generation and no network.
namespace kt::remote {

/// @brief One entry of the error queue: a standard SCPI code and its text.
struct QueuedError {
  int Code;
  std::string Text;  ///< the standard text, then ";" and detail when there is any
};

/// @brief What the commands drive: one board, shared by every connection. Each call runs
/// to completion. A frame call returns the board library's status (0: taken).
class Board {
 public:
  virtual ~Board() = default;
  /// The model selected, by label ("KT300", ...).
  virtual std::string Device() const = 0;
  virtual void SelectDevice(const std::string& label) = 0;
  virtual int DataBits() const = 0;
  /// The code and power-down mode (0..3) last sent; sending either sends one frame through
  /// the windows' update rules.
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

  /// @brief One unit being run: what its handler reads, and where its answer goes.
  struct Call {
    const Unit& Typed;
    std::string Spelled;  ///< the header as resolved, for an error's detail
    std::vector<std::string>& Answers;
    [[nodiscard]] bool Query() const { return Typed.Query; }
    /// The first parameter, or the header when there is none.
    [[nodiscard]] const std::string& Value() const {
      return Typed.Parameters.empty() ? Spelled : Typed.Parameters.front();
    }
  };
  using Handler = void (Session::*)(const Call& call);

  /// @brief One row of the command table: the header, its forms, the setting form's
  /// parameter count (a query takes none), and the handler that runs it.
  struct Command {
    std::vector<Node> Header;
    bool Settable, Queryable;
    std::size_t Parameters;
    Handler Run;
  };
  /// Every command, IEEE 488.2's common ones first.
  static const std::vector<Command>& Commands();

 private:
  bool Run(const Unit& unit, std::vector<std::string>& answers);

  // The handlers, one per command (commands.cpp).
  void Identify(const Call& call);
  void Reset(const Call& call);
  void Clear(const Call& call);
  void OperationComplete(const Call& call);
  void NextError(const Call& call);
  void Version(const Call& call);
  void DeviceCommand(const Call& call);
  void CodeCommand(const Call& call);
  void PowerDownCommand(const Call& call);
  void Reference(const Call& call);
  void Voltage(const Call& call);
  void Raw(const Call& call);
  void Status(const Call& call);

  /// A number that must be whole and within [low, high]; queues the error when it is not.
  bool Whole(const std::string& text, double low, double high, const char* what, std::int64_t& out);
  /// Sends a code in a mode, queuing -300 when the board refuses the frame.
  void Send(std::int32_t code, std::int32_t mode);

  Board& board_;
  std::deque<QueuedError> errors_;
  std::vector<std::string> path_;  // the current path: the nodes before the last leaf
  std::optional<double> vref_;
};

}  // namespace kt::remote
