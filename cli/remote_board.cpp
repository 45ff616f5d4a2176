// SPDX-License-Identifier: MIT
#include "cli/remote_board.h"

#include <fmt/format.h>

#include <algorithm>

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
  code_ = code;
  powerDown_ = powerDown;
  last_ = sent.Frame;
  return sent.Result.Status;
}

std::int16_t RemoteBoard::SendRaw(std::int16_t bits, std::int32_t word) {
  last_ = Frame{bits, word};
  return session_.Board().SendSpiWord(bits, word).Status;
}

remote::Board::Check RemoteBoard::SelfTest() {
  link::Board& board = session_.Board();
  if (!last_) {
    const bool held = board.ConnectionSucceeded(board.LinkStatus);
    return {static_cast<std::int16_t>(held ? 0 : board.LinkStatus), "the connection at the start"};
  }
  return {board.Send(*last_).Status, "the last frame sent again"};
}

std::string RemoteBoard::Identity() const {
  return "Corvane,KT31X-KT300 evaluation board,0," + platform::ProgramFileVersion().Dotted();
}

}  // namespace kt::cli
