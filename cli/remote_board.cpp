// SPDX-License-Identifier: MIT
#include "cli/remote_board.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>

#include "core/error.h"
#include "platform/version.h"

namespace kt::cli {

RemoteBoard::RemoteBoard(Session& session, const dac::DeviceProfile& device)
    : session_(session), device_(&device) {}

void RemoteBoard::SelectDevice(const std::string& label) {
  const dac::DeviceProfile* device = dac::FindDevice(label);
  if (!device) throw Error("unknown device \"" + label + "\"");
  device_ = device;
  code_ = std::min(code_, dac::LastCode(*device_));
}

std::int16_t RemoteBoard::Send(std::int32_t code, std::int32_t powerDown) {
  const dac::PowerDownMode* mode = dac::PowerDownByCode(powerDown);
  if (!mode) throw Error(fmt::format("no power-down mode has the code {}", powerDown));
  const Session::Sent sent = session_.SendCode({device_, mode, true}, code);
  failure_ = sent.Result.Failure;
  code_ = code;
  powerDown_ = powerDown;
  last_ = LastFrame{sent.Frame, false};
  return sent.Result.Status;
}

std::int16_t RemoteBoard::SendRaw(std::int16_t bits, std::int32_t word) {
  const link::SentFrame sent = session_.Board().SendRaw({bits, word});
  failure_ = sent.Failure;
  // A raw frame the board could not even take changes nothing a self-test would resend.
  if (sent.Status != -EOPNOTSUPP) last_ = LastFrame{Frame{bits, word}, true};
  return sent.Status;
}

std::string RemoteBoard::RawRefusal(std::int16_t bits) const {
  return session_.Board().RawRefusal(bits);
}

std::optional<double> RemoteBoard::Reference() const {
  return session_.Board().ReferenceVolts(device_->DataBits);
}

remote::Board::Check RemoteBoard::SelfTest() {
  link::Board& board = session_.Board();
  if (!last_) {
    const bool held = board.Connected();
    return {static_cast<std::int16_t>(held ? 0 : board.LinkStatus), "the connection at the start"};
  }
  const link::SentFrame sent = last_->Raw ? board.SendRaw(last_->Sent) : board.Send(last_->Sent);
  return {sent.Status, "the last frame sent again"};
}

std::string RemoteBoard::Identity() const {
  const link::Board& board = session_.Board();
  return "Corvane," + board.IdentityModel() + "," + board.IdentitySerial() + "," +
         platform::ProgramFileVersion().Dotted();
}

}  // namespace kt::cli
