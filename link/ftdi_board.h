// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/board.h"
#include "link/board_name.h"

struct ftdi_context;

namespace kt::link {

/// @brief A DAC on a breadboard through an FTDI high-speed chip's MPSSE engine (FT232H,
/// FT2232H, FT4232H), reached through libftdi1 over libusb: each frame is chip select low, its
/// bits, chip select high, in one USB write.
class FtdiBoard : public Board {
 public:
  explicit FtdiBoard(FtdiChoice choice);
  ~FtdiBoard() override;

  [[nodiscard]] std::string Description() const override;
  [[nodiscard]] std::string IdentityModel() const override { return "KT31X-KT300 over FTDI MPSSE"; }
  [[nodiscard]] std::string IdentitySerial() const override;

  /// Finds the chip, opens it (the kernel's serial driver let go), resets it, enters MPSSE
  /// mode, checks that the engine answers a bad command as it should, then sets the clock and
  /// the pins.
  bool Connect(const std::optional<Model>& model) override;
  [[nodiscard]] std::string ConnectionFailureReason() const override { return reason_; }
  [[nodiscard]] std::string ConnectionDiagnosis() const override { return reason_; }
  /// Frames of 1 to 32 bits.
  [[nodiscard]] std::string RawRefusal(std::int16_t bits) const override;
  void Reset() override;
  /// 64 frames a write: at most 16 bytes of commands each, the chip's 1 KiB buffer.
  [[nodiscard]] std::size_t RunLength() const override { return 64; }
  /// The engine keeps a waveform's time: each sample's frame, then the clock run idle for
  /// the rest of its period, all queued in the chip. Once connected for a model.
  [[nodiscard]] bool HasOutputBuffer() const override { return connected_ && model_.has_value(); }
  /// Refuses a cyclic buffer, and a rate whose period is shorter than a frame at the clock
  /// set; the rate given is the clock over a whole number of its cycles a sample.
  std::unique_ptr<OutputBuffer> OpenOutputBuffer(double rate, std::size_t length, bool cyclic,
                                                 std::string& why) override;

 protected:
  SentFrame Transmit(const Frame& frame, bool raw) override;
  /// The whole run in one USB write, each frame between its own chip select's edges.
  std::vector<SentFrame> TransmitRun(const std::vector<Frame>& frames) override;

 private:
  friend class FtdiOutputBuffer;
  struct ContextDeleter {
    void operator()(ftdi_context* context) const;
  };

  bool Fail(std::string reason);
  /// Opens the one chip chosen; sets reason_ when there is none, or several.
  bool Open();
  /// Writes all of `bytes` in one USB write; false, with why, when the chip took less.
  bool WriteAll(const std::vector<std::uint8_t>& bytes, std::string& why);
  /// "the FTDI chip 0403:6014 FT0001 (interface A)".
  [[nodiscard]] std::string Named() const;

  FtdiChoice choice_;
  std::unique_ptr<ftdi_context, ContextDeleter> context_;
  std::string serial_;          // of the chip opened
  std::optional<Model> model_;  // connected for
  std::string reason_;
  std::vector<std::uint8_t> commands_;  // a frame's, kept to spare an allocation a frame
};

}  // namespace kt::link
