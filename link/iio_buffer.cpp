// SPDX-License-Identifier: MIT
// An IIO DAC's output buffer: samples written to /dev/iio:deviceN, which the driver sends at
// its trigger's rate. Cyclic where the driver repeats one buffer by itself (libiio's
// high-speed interface); otherwise, as mainline drivers do, streamed: the program keeps the
// kernel's buffer filled and the kernel keeps the time.
#include <iio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/printable.h"
#include "link/iio_board.h"
#include "platform/clock.h"

namespace kt::link {

namespace {

std::string Reason(int error) {
  char text[256] = {};
  iio_strerror(error, text, sizeof text);
  return text;
}

// Where the sample rate is set: the device's own sampling_frequency, else its trigger's (an
// hrtimer or sysfs trigger); none when neither has one.
iio_device* RateHolder(const iio_device* device) {
  if (iio_device_find_attr(device, "sampling_frequency"))
    return const_cast<iio_device*>(device);  // libiio's accessors are const, its writes not
  const iio_device* trigger = nullptr;
  if (iio_device_get_trigger(device, &trigger) == 0 && trigger &&
      iio_device_find_attr(trigger, "sampling_frequency"))
    return const_cast<iio_device*>(trigger);
  return nullptr;
}

class IioOutputBuffer final : public OutputBuffer {
 public:
  IioOutputBuffer(iio_channel* channel, iio_buffer* buffer, double rate, std::size_t length,
                  bool cyclic, std::string named)
      : channel_(channel),
        buffer_(buffer),
        rate_(rate),
        length_(length),
        cyclic_(cyclic),
        named_(std::move(named)) {}

  ~IioOutputBuffer() override {
    iio_buffer_destroy(buffer_);
    iio_channel_disable(channel_);
  }

  [[nodiscard]] double Rate() const override { return rate_; }
  [[nodiscard]] bool Cyclic() const override { return cyclic_; }
  [[nodiscard]] std::size_t Length() const override { return length_; }
  [[nodiscard]] std::string Failure() const override { return failure_; }

  bool Push(const std::vector<std::int32_t>& codes) override {
    if (codes.empty() || codes.size() > length_ || (cyclic_ && codes.size() != length_)) {
      failure_ = Printable("a push of " + std::to_string(codes.size()) + " samples into " + named_ +
                           "'s buffer of " + std::to_string(length_));
      return false;
    }
    // The channel's storage is 16 bits (checked when opened); libiio shifts and orders them
    // as the driver's scan type says.
    samples_.assign(codes.begin(), codes.end());
    iio_channel_write(channel_, buffer_, samples_.data(), samples_.size() * sizeof samples_[0]);
    const ssize_t pushed = codes.size() == length_ ? iio_buffer_push(buffer_)
                                                   : iio_buffer_push_partial(buffer_, codes.size());
    if (pushed < 0) {
      failure_ = Printable("pushing samples to " + named_ +
                           "'s buffer failed: " + Reason(static_cast<int>(-pushed)));
      return false;
    }
    if (pushed_ == 0) start_ = platform::Monotonic::now();
    pushed_ += codes.size();
    return true;
  }

  void Drain(const std::function<bool()>& stopped) override {
    if (pushed_ == 0 || cyclic_) return;
    // The kernel sends the last sample pushed at start + (pushed - 1) / rate; one period more
    // and it has been held for its full time.
    const auto end = start_ + std::chrono::duration_cast<platform::Monotonic::duration>(
                                  std::chrono::duration<double>(pushed_ / rate_));
    platform::Sleeper sleeper;
    while (!stopped() && platform::Monotonic::now() < end)
      sleeper.Until(std::min(end, platform::Monotonic::now() + std::chrono::milliseconds(20)));
  }

 private:
  iio_channel* channel_;
  iio_buffer* buffer_;
  double rate_;
  std::size_t length_;
  bool cyclic_;
  std::string named_;
  std::vector<std::uint16_t> samples_;
  std::uint64_t pushed_ = 0;
  platform::Monotonic::time_point start_;
  std::string failure_;
};

}  // namespace

// A channel is a scan element only where its driver has a buffer.
bool IioBoard::HasOutputBuffer() const { return channel_ && iio_channel_is_scan_element(channel_); }

std::string IioBoard::OutputBufferRefusal() const {
  if (!HasOutputBuffer())
    return Printable(Named() + "'s driver has no output buffer (no scan_elements/" +
                     FileName("en") + ")");
  const iio_device* device = iio_channel_get_device(channel_);
  const iio_data_format* format = iio_channel_get_data_format(channel_);
  if (format->length != 16 || format->bits < static_cast<unsigned>(dataBits_.value_or(16)) ||
      format->is_signed)
    return Printable(Named() + "'s buffer holds samples of " + std::to_string(format->bits) +
                     " bits in " + std::to_string(format->length) +
                     (format->is_signed ? ", signed" : "") +
                     ", not the DAC's unsigned codes in 16");
  if (!RateHolder(device))
    return Printable(Named() +
                     " has no sampling_frequency, and no trigger that has one: nothing sets the "
                     "buffer's rate (an hrtimer trigger gives one)");
  return {};
}

std::unique_ptr<OutputBuffer> IioBoard::OpenOutputBuffer(double rate, std::size_t length,
                                                         bool cyclic, std::string& why) {
  why = OutputBufferRefusal();
  if (!why.empty()) return nullptr;
  iio_device* device = const_cast<iio_device*>(iio_channel_get_device(channel_));
  iio_device* holder = RateHolder(device);
  const std::string where =
      holder == device
          ? "sampling_frequency"
          : "the trigger " + std::string(iio_device_get_name(holder)) + "'s sampling_frequency";
  char asked[32];
  std::snprintf(asked, sizeof asked, "%.9g", rate);
  if (const ssize_t written = iio_device_attr_write(holder, "sampling_frequency", asked);
      written < 0) {
    why = Printable("setting " + where + " of " + Named() + " to " + asked +
                    " failed: " + Reason(static_cast<int>(-written)));
    return nullptr;
  }
  double given = 0;
  if (iio_device_attr_read_double(holder, "sampling_frequency", &given) != 0 ||
      !std::isfinite(given) || given <= 0) {
    why = Printable(where + " of " + Named() + " gives no rate back after " + asked + " was set");
    return nullptr;
  }
  iio_channel_enable(channel_);
  errno = 0;
  iio_buffer* buffer = iio_device_create_buffer(device, length, cyclic);
  if (!buffer) {
    const int error = errno ? errno : EIO;
    iio_channel_disable(channel_);
    why = Printable(Named() + "'s driver refused a " + (cyclic ? "cyclic " : "") + "buffer of " +
                    std::to_string(length) + " samples: " + Reason(error));
    if (cyclic && error == EPERM)
      why = Printable(Named() + "'s driver has no cyclic buffers (libiio's high-speed interface)");
    return nullptr;
  }
  return std::make_unique<IioOutputBuffer>(channel_, buffer, given, length, cyclic, Named());
}

}  // namespace kt::link
