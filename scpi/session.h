// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scpi/generator.h"
#include "scpi/message.h"
#include "wave/buffer.h"

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
  /// Why the board cannot send a raw frame of that length; empty when it can.
  virtual std::string RawRefusal(std::int16_t) const { return {}; }
  /// The DAC's reference when the board tells it (volts), for the model selected.
  virtual std::optional<double> Reference() const { return std::nullopt; }
  /// The board library's status for the last frame.
  virtual std::int16_t Status() const = 0;
  /// Why the last frame was refused, when the board says (a board without the library).
  virtual std::string Failure() const { return {}; }
  /// Maker, model, serial and version for *IDN?.
  virtual std::string Identity() const = 0;
  /// *TST?'s check of the board connection, leaving the DAC as it is: the board library's
  /// status (0: the connection holds) and, when it does not, what was tried.
  struct Check {
    std::int16_t Status = 0;
    std::string What;
  };
  virtual Check SelfTest() = 0;
  /// The function generator, where the board plays waveforms beside serving; none elsewhere.
  virtual Generator* Waveform() { return nullptr; }
  /// Whether the board has an output buffer of its own, whose clock times a waveform.
  virtual bool HasBuffer() const { return false; }
  /// Opens that buffer at `rate` for pushes of `length` samples, repeating its one push or
  /// not; none, with why, when it cannot.
  virtual std::unique_ptr<wave::Buffer> OpenBuffer(double /*rate*/, std::size_t /*length*/,
                                                   bool /*cyclic*/, std::string& why) {
    why = "the board has no output buffer";
    return nullptr;
  }
};

/// IEEE 488.2's standard event status register (*ESR?, masked by *ESE).
enum EventStatus : std::uint8_t {
  kOperationComplete = 1 << 0,
  kQueryError = 1 << 2,
  kDeviceError = 1 << 3,  ///< device-dependent: -300..-399
  kExecutionError = 1 << 4,
  kCommandError = 1 << 5,
  kPowerOn = 1 << 7,
};

/// The status byte's bits (*STB?, masked by *SRE).
enum StatusByte : std::uint8_t {
  kErrorAvailable = 1 << 2,    ///< the error queue is not empty (SCPI)
  kMessageAvailable = 1 << 4,  ///< a response waits in the output queue
  kEventSummary = 1 << 5,      ///< an event enabled by *ESE has happened
  kServiceRequest = 1 << 6,    ///< a bit enabled by *SRE is set (master summary status)
};

/// @brief One connection's SCPI session: its own error queue and current path, over the
/// shared board. A reference voltage set by one connection is that connection's; until one
/// is set, the board's own, when it tells one.
class Session {
 public:
  /// `powerOn`: this is the first session since the server started, so its event status
  /// register tells of the power on.
  explicit Session(Board& board, bool powerOn = false)
      : board_(board), events_(powerOn ? kPowerOn : 0) {}

  /// Runs one program message (a line, without its terminator) and returns the response
  /// message: the queries' answers joined by ";", empty when there was no query.
  std::string Execute(std::string_view message);

  /// Queues an error (the last becomes -350 "Queue overflow" when the queue is full) and
  /// sets the event status bit of its class.
  void Queue(int code, const std::string& detail = {});

  [[nodiscard]] const std::deque<QueuedError>& Errors() const { return errors_; }

  /// Whether the last response must wait for the waveform playing to end before it goes
  /// out: it answers *OPC? while a play of a set length is in progress.
  [[nodiscard]] bool Held() const { return held_; }

  /// The reference this connection set, else the one the board tells.
  [[nodiscard]] std::optional<double> Vref() const;

  /// The status byte as *STB? reads it; `messageAvailable` when a response is waiting.
  [[nodiscard]] std::uint8_t Status(bool messageAvailable) const;

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
  /// The parameter count of a command that takes a list of one or more.
  static constexpr std::size_t kList = static_cast<std::size_t>(-1);
  /// Every command, IEEE 488.2's common ones first.
  static const std::vector<Command>& Commands();

 private:
  bool Run(const Unit& unit, std::vector<std::string>& answers);

  // The handlers, one per command (commands.cpp).
  void Identify(const Call& call);
  void Reset(const Call& call);
  void Clear(const Call& call);
  void OperationComplete(const Call& call);
  void EventEnable(const Call& call);
  void EventStatusRead(const Call& call);
  void ServiceEnable(const Call& call);
  void StatusByteRead(const Call& call);
  void SelfTestCommand(const Call& call);
  void Wait(const Call& call);
  void NextError(const Call& call);
  void ErrorCount(const Call& call);
  void AllErrors(const Call& call);
  void Version(const Call& call);
  void DeviceCommand(const Call& call);
  void CodeCommand(const Call& call);
  void PowerDownCommand(const Call& call);
  void Reference(const Call& call);
  void Voltage(const Call& call);
  void Raw(const Call& call);
  void BoardStatus(const Call& call);
  // The function generator's (waveform.cpp).
  void Function(const Call& call);
  void Frequency(const Call& call);
  void Amplitude(const Call& call);
  void Offset(const Call& call);
  void SampleRate(const Call& call);
  void Cycles(const Call& call);
  void UserData(const Call& call);
  void UserPoints(const Call& call);
  void ByteOrder(const Call& call);
  void Output(const Call& call);
  void Abort(const Call& call);

  /// Whether a waveform plays, so that a frame of another command would cut into it: queues
  /// -221 naming `what` when it does.
  bool Busy(const char* what);
  /// The generator, queuing -241 when the board has none.
  Generator* Waves();
  /// The output's full scale in volts at this connection's reference; none without one.
  [[nodiscard]] std::optional<double> FullScale() const;
  /// Answers a setting in volts: the one set, else `share` of the full scale.
  void AnswerVolts(const Call& call, std::optional<double> set, double share);
  /// A positive number within [low, high] for `what`; queues the error when it is not.
  std::optional<double> Positive(const std::string& text, double low, double high,
                                 const char* what);

  /// A number that must be whole and within [low, high]; queues the error when it is not.
  bool Whole(const std::string& text, double low, double high, const char* what, std::int64_t& out);
  /// A register mask (*ESE, *SRE): any number, rounded as IEEE 488.2 says, within 0..255.
  bool Mask(const std::string& text, const char* what, std::uint8_t& out);
  /// Sends a code in a mode, queuing -300 when the board refuses the frame.
  void Send(std::int32_t code, std::int32_t mode);
  /// Queues -300 for a frame the board refused with that status, and why when it says.
  void Refused(std::int16_t status);
  Board& board_;
  std::deque<QueuedError> errors_;
  std::vector<std::string> path_;  // the current path: the nodes before the last leaf
  std::optional<double> vref_;
  std::uint8_t events_;             // the standard event status register
  std::uint8_t eventEnable_ = 0;    // *ESE
  std::uint8_t serviceEnable_ = 0;  // *SRE, bit 6 always clear
  bool held_ = false;               // the response waits for the play to end
  // Which *OPC waits for a play to end: a waiting one sets the operation complete bit only
  // when it is still the last asked for (*CLS and *RST forget it). Shared with what waits,
  // which runs on the serving thread, so that a session gone meanwhile is seen to be.
  std::shared_ptr<std::uint64_t> opcAsked_ = std::make_shared<std::uint64_t>(0);
};

/// @brief What every protocol's sessions share: the clients served (each VXI-11 link counts
/// as one), whether a session has yet been told of the power on, and the lock a VXI-11 link
/// holds, which stops the others.
struct Shared {
  std::size_t Clients = 0;
  bool PoweredOn = false;
  std::optional<std::int32_t> LockedBy;  ///< the link holding the instrument's lock
};

/// The longest program message, its terminator (LF or CR LF) not counted; a longer one ends
/// its connection.
inline constexpr std::size_t kMaxLine = 4096;

/// *IDN?'s four fields (maker, model, serial, version), split at commas; those missing empty.
std::vector<std::string> IdentityFields(const std::string& identity);

}  // namespace kt::remote
