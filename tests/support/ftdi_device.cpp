// SPDX-License-Identifier: MIT
#include "tests/support/ftdi_device.h"

#include <cstdio>
#include <string>

namespace kt::test {

std::size_t MpsseEngine::Needs(std::uint8_t command) const {
  switch (command) {
    case 0x10:
    case 0x11:
      return pending_.size() >= 3 ? 3 + (pending_[1] | pending_[2] << 8) + 1 : 3;
    case 0x8E:
      return 2;
    case 0x12:
    case 0x13:
    case 0x80:
    case 0x82:
    case 0x86:
    case 0x8F:
      return 3;
    default:
      return 1;
  }
}

void MpsseEngine::Write(const std::uint8_t* bytes, std::size_t size) {
  pending_.insert(pending_.end(), bytes, bytes + size);
  while (!pending_.empty()) {
    const std::size_t length = Needs(pending_[0]);  // a byte command's once its count is in
    if (pending_.size() < length) return;
    Run({pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length)});
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
  }
}

std::vector<std::uint8_t> MpsseEngine::Read(std::size_t size) {
  std::vector<std::uint8_t> out;
  while (!answers_.empty() && out.size() < size) {
    out.push_back(answers_.front());
    answers_.pop_front();
  }
  return out;
}

void MpsseEngine::Run(const std::vector<std::uint8_t>& command) {
  char text[64];
  const std::uint8_t code = command[0];
  const auto clock = [&](int bits, std::uint32_t word) {
    for (int i = bits - 1; i >= 0; --i) bits_ += (word >> i & 1) ? '1' : '0';
    edge_ = code & 1 ? "falling" : "rising";
  };
  switch (code) {
    case 0x10:
    case 0x11:
      for (std::size_t i = 3; i < command.size(); ++i) clock(8, command[i]);
      return;
    case 0x12:
    case 0x13:
      clock(command[1] + 1, command[2] >> (7 - command[1]));
      return;
    case 0x80: {
      // A chip select (an output of ADBUS3..7) going low starts a frame; high again ends it.
      const std::uint8_t before = levels_;
      levels_ = command[1];
      directions_ = command[2];
      for (int pin = 3; pin < 8 && selectPin_ < 0; ++pin)
        if ((directions_ >> pin & 1) && (before >> pin & 1) && !(levels_ >> pin & 1)) {
          selectPin_ = pin;
          bits_.clear();
        }
      if (selectPin_ >= 0 && (levels_ >> selectPin_ & 1)) {
        const double hz = (divideBy5_ ? 12e6 : 60e6) / (2.0 * (divisor_ + 1));
        const int digits = static_cast<int>(bits_.size() + 3) / 4;
        std::snprintf(text, sizeof text, "frame %zu bits %0*llX, %s, %.0f Hz, cs %d", bits_.size(),
                      digits, bits_.empty() ? 0ULL : std::stoull(bits_, nullptr, 2), edge_.c_str(),
                      hz, selectPin_);
        Log.push_back(text);
        ++Frames;
        selectPin_ = -1;
        return;
      }
      if (selectPin_ < 0) {
        std::snprintf(text, sizeof text, "pins %02X/%02X", levels_, directions_);
        Log.push_back(text);
      }
      return;
    }
    case 0x86:
      divisor_ = static_cast<std::uint16_t>(command[1] | command[2] << 8);
      return;
    case 0x8E:
    case 0x8F: {
      // The clock run with no data: consecutive runs are one wait.
      const int cycles = code == 0x8E ? command[1] + 1 : ((command[1] | command[2] << 8) + 1) * 8;
      if (!Log.empty() && Log.back().rfind("idle ", 0) == 0)
        Log.back() = "idle " + std::to_string(std::stoi(Log.back().substr(5)) + cycles) + " cycles";
      else
        Log.push_back("idle " + std::to_string(cycles) + " cycles");
      return;
    }
    case 0x81:
      answers_.push_back(levels_);
      return;
    case 0x8A:
    case 0x8B:
      divideBy5_ = code == 0x8B;
      return;
    case 0x82:
    case 0x84:
    case 0x85:
    case 0x87:
    case 0x8C:
    case 0x8D:
    case 0x96:
    case 0x97:
      return;
    default:
      std::snprintf(text, sizeof text, "bad %02X", code);
      Log.push_back(text);
      if (!Mute) answers_.insert(answers_.end(), {0xFA, code});
  }
}

}  // namespace kt::test
