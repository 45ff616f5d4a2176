// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/session.h"
#include "dac/device_table.h"
#include "scpi/session.h"

namespace kt::cli {

/// @brief The board as `ktdac serve`'s SCPI commands drive it: codes by the same rules as
/// the window's update and the other commands, raw frames as the SPI test window writes
/// them, all through the session's board.
class RemoteBoard : public remote::Board {
 public:
  RemoteBoard(Session& session, const dac::DeviceProfile& device);

  std::string Device() const override { return device_->Label; }
  void SelectDevice(const std::string& label) override;
  int DataBits() const override { return device_->DataBits; }
  std::int32_t Code() const override { return code_; }
  std::int32_t PowerDown() const override { return powerDown_; }
  std::int16_t Send(std::int32_t code, std::int32_t powerDown) override;
  std::int16_t SendRaw(std::int16_t bits, std::int32_t word) override;
  std::string RawRefusal(std::int16_t bits) const override;
  std::optional<double> Reference() const override;
  std::int16_t Status() const override { return session_.Board().LinkStatus; }
  std::string Failure() const override { return failure_; }
  std::string Identity() const override;
  /// Sends the frame last sent once more, so the DAC stays where it is; before any frame,
  /// the connection made at the start is what there is to report.
  Check SelfTest() override;
  bool HasBuffer() const override { return session_.Board().HasOutputBuffer(); }
  std::unique_ptr<wave::Buffer> OpenBuffer(double rate, std::size_t length, bool cyclic,
                                           std::string& why) override {
    return session_.Board().OpenOutputBuffer(rate, length, cyclic, why);
  }

 private:
  Session& session_;
  const dac::DeviceProfile* device_;
  std::int32_t code_ = 0;
  std::int32_t powerDown_ = 0;
  struct LastFrame {
    Frame Sent;
    bool Raw;
  };
  std::optional<LastFrame> last_;  // the last frame sent, code or raw
  std::string failure_;            // why the last frame was refused
};

}  // namespace kt::cli
