// SPDX-License-Identifier: MIT
// A waveform timed by the bridge's own clock: each sample's frame followed by the clock run
// idle for the rest of its period, queued in the chip, which sends them at the SPI clock's
// pace. The program only keeps the chip's buffer filled; USB's flow control holds each write
// until there is room.
#include <ftdi.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "core/printable.h"
#include "dac/device_table.h"
#include "link/ftdi_board.h"

namespace kt::link {

namespace {

// The slowest rate played from the chip's queue: the pushes kept ahead last 0.15 s at it.
constexpr double kLeastQueuedRate = 20;

}  // namespace

class FtdiOutputBuffer final : public OutputBuffer {
 public:
  FtdiOutputBuffer(FtdiBoard& board, const dac::DeviceProfile& device, std::uint64_t period,
                   double rate, std::size_t length)
      : board_(board), device_(device), period_(period), rate_(rate), length_(length) {}

  [[nodiscard]] double Rate() const override { return rate_; }
  [[nodiscard]] bool Cyclic() const override { return false; }
  [[nodiscard]] std::size_t Length() const override { return length_; }
  [[nodiscard]] std::string Failure() const override { return failure_; }
  // What is queued in the chip runs: only the bytes not yet taken could be purged, and that
  // might cut a command in two.
  [[nodiscard]] bool Finishes() const override { return true; }

  bool Push(const std::vector<std::int32_t>& codes) override {
    std::vector<std::uint8_t>& commands = board_.commands_;
    commands.clear();
    for (const std::int32_t code : codes) {
      mpsse::AppendFrame(board_.choice_.Wiring, dac::DeviceFrame(device_, 0, code), commands);
      mpsse::AppendIdle(period_ - static_cast<std::uint64_t>(device_.FrameBits), commands);
    }
    std::string why;
    if (board_.WriteAll(commands, why)) return true;
    failure_ = Printable("the samples to " + board_.Named() + " failed: " + why);
    return false;
  }

  // The engine answers a read of the pins once every command before it has run: the last
  // sample has gone out.
  void Drain(const std::function<bool()>& stopped) override {
    std::string why;
    if (!board_.WriteAll({mpsse::kReadLowPins, mpsse::kSendImmediate}, why)) return;
    std::uint8_t pins = 0;
    while (!stopped() && ftdi_read_data(board_.context_.get(), &pins, 1) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  FtdiBoard& board_;
  const dac::DeviceProfile& device_;
  std::uint64_t period_;  // clock cycles a sample
  double rate_;
  std::size_t length_;
  std::string failure_;
};

std::unique_ptr<OutputBuffer> FtdiBoard::OpenOutputBuffer(double rate, std::size_t length,
                                                          bool cyclic, std::string& why) {
  const dac::DeviceProfile* device = model_ ? dac::FindDevice(model_->Label) : nullptr;
  if (!connected_ || !device) {
    why = "the USB-SPI bridge plays from its own clock once connected for a DAC model";
    return nullptr;
  }
  if (cyclic) {
    why = Printable(Named() + " repeats nothing by itself: the samples are streamed");
    return nullptr;
  }
  // The chip runs whatever it was given, so a stop lasts as long as the samples queued: below
  // this rate, even the fewest queued would outlast a twentieth of a second.
  if (rate < kLeastQueuedRate) {
    char least[32];
    std::snprintf(least, sizeof least, "%g", kLeastQueuedRate);
    why = Printable(std::string("below ") + least + " samples a second, the samples queued in " +
                    Named() + " would play on for seconds after a stop");
    return nullptr;
  }
  const double clock = mpsse::ClockFor(choice_.Wiring.Hz).Hz;
  const auto period = static_cast<std::uint64_t>(std::llround(clock / rate));
  if (period < static_cast<std::uint64_t>(device->FrameBits) + 1) {
    char most[32];
    std::snprintf(most, sizeof most, "%.6g", clock / (device->FrameBits + 1));
    why =
        Printable("at the clock of " + Description() + ", a " + std::to_string(device->FrameBits) +
                  "-bit frame and a cycle between takes " + std::to_string(device->FrameBits + 1) +
                  " cycles: at most " + most + " samples a second (a faster hz= gives more)");
    return nullptr;
  }
  return std::make_unique<FtdiOutputBuffer>(*this, *device, period,
                                            clock / static_cast<double>(period), length);
}

}  // namespace kt::link
