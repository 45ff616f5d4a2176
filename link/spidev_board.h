// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/board.h"

namespace kt::link {

/// @brief One SPI transfer as spidev takes it: the bytes in the order they leave, and the
/// word length they are counted in.
struct SpiTransfer {
  std::vector<std::uint8_t> Bytes;
  std::uint8_t BitsPerWord = 8;
};

/// How a frame goes out on spidev: a frame of whole bytes most significant first; a shorter
/// frame of another length as one word of that many bits (in the machine's byte order, as
/// spidev takes words wider than a byte); nothing for a frame no transfer can carry.
std::optional<SpiTransfer> SpiTransferOf(const Frame& frame);

/// @brief A DAC wired to a spidev port: each frame is one SPI_IOC_MESSAGE transfer with the
/// chip select held for the whole frame, in the SPI mode and at the clock the user chose.
class SpidevBoard : public Board {
 public:
  SpidevBoard(std::string path, int mode, std::uint32_t hz);
  ~SpidevBoard() override;

  [[nodiscard]] std::string Description() const override;
  [[nodiscard]] std::string IdentityModel() const override { return "KT31X-KT300 over spidev"; }
  [[nodiscard]] std::string IdentitySerial() const override;

  /// Opens the port and sets its mode and clock; a setting the port refuses fails the
  /// connection.
  bool Connect(const std::optional<Model>& model) override;
  [[nodiscard]] std::string ConnectionFailureReason() const override { return reason_; }
  [[nodiscard]] std::string ConnectionDiagnosis() const override { return reason_; }
  [[nodiscard]] std::string RawRefusal(std::int16_t bits) const override;
  void Reset() override;

 protected:
  SentFrame Transmit(const Frame& frame, bool raw) override;

 private:
  bool Fail(std::string reason);
  void Close();

  std::string path_;
  int mode_;
  std::uint32_t hz_;
  int fd_ = -1;
  std::string reason_;
};

}  // namespace kt::link
