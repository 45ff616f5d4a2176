// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/frame.h"
#include "link/frame_request.h"
#include "wave/buffer.h"

// The board as everything above this layer reaches it: the evaluation board behind either
// generation of its library, a kernel IIO DAC through libiio, or a DAC on a spidev port.
// Each is a Board; a program drives whichever it is given.
namespace kt::link {

/// What a board library that cannot be used is reported with, in every window: that it
/// cannot be used, the reason (which names the library looked for, and where), and what the
/// user can do about it.
std::string BoardLibraryFailureMessage(const std::string& reason);

/// What a failed connection is reported with in the windows, whatever the board.
inline constexpr const char* kCommunicationFailure =
    "Communication Failure - Check USB connections";

/// @brief The DAC model a connection is made for, so that a board that can tell what it
/// drives refuses a model it does not fit.
struct Model {
  std::string Label;           ///< "KT300", "KT310", ...
  std::int16_t FrameBits = 0;  ///< 16 or 24
  std::int16_t DataBits = 0;   ///< 14 or 16
  std::optional<double> Vref;  ///< the reference the user gave, volts
};

/// @brief What one frame became: what carried it and the board's status.
struct SentFrame {
  /// The evaluation board's library: its status, unexamined (0 is success). Other boards:
  /// 0 when the frame went out, a negative errno when it did not (Failure says why).
  std::int16_t Status = 0;
  /// The evaluation board's vendor request that carried the frame; none on other boards.
  std::optional<FrameRequest> Request;
  /// What went out, in the board's own terms: "value 0x1234  index 0x1801",
  /// "bytes 01 12 34", "out_voltage0_raw 4660".
  std::string Carried;
  /// Why a board other than the library refused the frame; empty when it went out.
  std::string Failure;
};

/// A board's own output buffer (see wave::Buffer).
using OutputBuffer = wave::Buffer;

/// @brief One board, whichever road reaches it: connected once, then sends frames. Owns the
/// status of the last operation recorded.
class Board {
 public:
  Board() = default;
  virtual ~Board() = default;
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  /// What the board is, for messages and --version: "the second-generation board library
  /// PATH", "the IIO device kt310 (iio:device0) at local:", "the spidev port /dev/spidev0.0".
  [[nodiscard]] virtual std::string Description() const = 0;

  /// The model and serial fields of *IDN? (no commas): what kind of board, and where.
  [[nodiscard]] virtual std::string IdentityModel() const = 0;
  [[nodiscard]] virtual std::string IdentitySerial() const = 0;

  /// Connects for driving `model`, or for raw frames alone when none is given. Returns
  /// whether the board can now take frames; ConnectionFailureReason says why not. Raises
  /// kt::Error when a board library cannot be used.
  virtual bool Connect(const std::optional<Model>& model) = 0;

  /// The SPI test window's connection: as Connect without a model, unless the board has one
  /// of its own.
  virtual bool ConnectSpiTest() { return Connect(std::nullopt); }

  /// Why the last connection failed, in a user's words, or empty when there is nothing to
  /// add to the failure itself.
  [[nodiscard]] virtual std::string ConnectionFailureReason() const = 0;

  /// The windows' failure box: "Communication Failure - Check USB connections", and the
  /// reason as a second paragraph when there is one.
  [[nodiscard]] std::string ConnectionFailureMessage() const;

  /// A failed connection in one line, for ktdac: the step that failed and why.
  [[nodiscard]] virtual std::string ConnectionDiagnosis() const = 0;

  /// Sends one frame of a DAC model, as dac::DeviceFrame computes it, and stores its status
  /// in LinkStatus. Raises kt::Error when a board library cannot be used; LinkStatus then
  /// keeps its previous value.
  SentFrame Send(const Frame& frame);

  /// How many frames the board sends in one go (SendRun): 1 where each goes on its own.
  [[nodiscard]] virtual std::size_t RunLength() const { return 1; }

  /// Sends frames of a DAC model, at most RunLength of them, in one go where the board can (a
  /// USB-SPI bridge: one USB write), each still a frame of its own. Returns what became of
  /// each, up to and including the first that failed; LinkStatus is the last one's status.
  std::vector<SentFrame> SendRun(const std::vector<Frame>& frames);

  /// Sends a raw frame, as the SPI test window writes one: any length, any word. A board
  /// that cannot (RawRefusal) sends nothing, answers -EOPNOTSUPP and says why in Failure.
  SentFrame SendRaw(const Frame& frame);

  /// Why this board cannot send a raw frame of that many bits, naming the boards that can;
  /// empty when it can. Known before anything is sent.
  [[nodiscard]] virtual std::string RawRefusal(std::int16_t bits) const = 0;

  /// The reference voltage of the DAC as this board knows it, for a DAC of that resolution;
  /// none when it cannot tell.
  [[nodiscard]] virtual std::optional<double> ReferenceVolts(std::int16_t dataBits) const;

  /// Whether the board may tell the reference once connected; known before it is.
  [[nodiscard]] virtual bool TellsReference() const { return false; }

  /// Where the reference comes from when the board tells it ("out_voltage0_scale").
  [[nodiscard]] virtual std::string ReferenceSource() const { return {}; }

  /// The most frames a second this road can carry, and why, when it is known before a run
  /// (the evaluation board's library: one control request a frame); none otherwise.
  struct RateLimit {
    double FramesPerSecond;
    std::string Why;
  };
  [[nodiscard]] virtual std::optional<RateLimit> FrameRateLimit() const { return std::nullopt; }

  /// Whether the board has an output buffer of its own, once connected.
  [[nodiscard]] virtual bool HasOutputBuffer() const { return false; }
  /// Opens the output buffer at `rate` for pushes of `length` samples, repeating them when
  /// `cyclic`; none when the board or its driver refuses, and `why` says why.
  virtual std::unique_ptr<OutputBuffer> OpenOutputBuffer(double rate, std::size_t length,
                                                         bool cyclic, std::string& why);

  /// Whether the last connection succeeded and the board has not been reset since.
  [[nodiscard]] bool Connected() const { return connected_; }

  /// Back to the state of a program that has not connected yet.
  virtual void Reset();

  std::int16_t LinkStatus = 0;  ///< status of the last operation recorded

 protected:
  /// Sends a frame; called by Send and, once RawRefusal has allowed it, by SendRaw.
  virtual SentFrame Transmit(const Frame& frame, bool raw) = 0;
  /// Sends a run of frames, as SendRun returns them: by default each through Transmit.
  virtual std::vector<SentFrame> TransmitRun(const std::vector<Frame>& frames);

  bool connected_ = false;
};

}  // namespace kt::link
