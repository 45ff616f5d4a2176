// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/board.h"

struct iio_context;
struct iio_channel;

namespace kt::link {

/// @brief A DAC with a kernel IIO driver, reached through libiio on this machine (local:) or
/// on another one through iiod (ip:HOST). A frame becomes writes of the output channel's
/// attributes, in an order that never puts a wrong value on the output: into a power-down
/// mode, the mode and then powerdown 1; out of it, the code and then powerdown 0; a new code
/// in normal operation, raw alone.
class IioBoard : public Board {
 public:
  /// `device`: the IIO device's name or id; empty to take the one DAC the context holds.
  IioBoard(std::string uri, std::string device);
  ~IioBoard() override;

  [[nodiscard]] std::string Description() const override;
  [[nodiscard]] std::string IdentityModel() const override { return "KT31X-KT300 over IIO"; }
  [[nodiscard]] std::string IdentitySerial() const override;

  /// Opens the context, finds the DAC and reads its state; refuses a DAC whose resolution
  /// is not the model's.
  bool Connect(const std::optional<Model>& model) override;
  [[nodiscard]] std::string ConnectionFailureReason() const override { return reason_; }
  [[nodiscard]] std::string ConnectionDiagnosis() const override { return reason_; }
  [[nodiscard]] std::string RawRefusal(std::int16_t bits) const override;
  /// out_voltage0_scale (mV a code) × 2^dataBits.
  [[nodiscard]] std::optional<double> ReferenceVolts(std::int16_t dataBits) const override;
  [[nodiscard]] std::string ReferenceSource() const override;
  [[nodiscard]] bool TellsReference() const override { return true; }
  void Reset() override;
  /// A driver with output buffers: the channel is a scan element.
  [[nodiscard]] bool HasOutputBuffer() const override;
  /// Refuses a buffer whose storage is not 16-bit unsigned codes, or whose rate nothing sets
  /// (a sampling_frequency on the device or its trigger); sets the rate, reads back what the
  /// driver made of it, and opens the buffer.
  std::unique_ptr<OutputBuffer> OpenOutputBuffer(double rate, std::size_t length, bool cyclic,
                                                 std::string& why) override;

  /// The resolution the driver gives (out_voltage0_raw_available), once connected.
  [[nodiscard]] std::optional<int> DataBits() const { return dataBits_; }

 protected:
  SentFrame Transmit(const Frame& frame, bool raw) override;

 private:
  struct ContextDeleter {
    void operator()(iio_context* context) const;
  };

  bool Fail(std::string reason);
  /// Why the output buffer cannot be used; empty when it can.
  [[nodiscard]] std::string OutputBufferRefusal() const;
  /// Finds the DAC's output channel; sets reason_ when there is none.
  bool FindChannel();
  std::optional<std::string> Read(const char* attribute) const;
  /// Writes an attribute; on failure fills `sent` and returns false.
  bool Write(const char* attribute, const std::string& value, SentFrame& sent);
  /// "out_voltage0_raw": the attribute's file name.
  [[nodiscard]] std::string FileName(const char* attribute) const;
  /// "the IIO device kt310 (iio:device0)".
  [[nodiscard]] std::string Named() const;

  std::string uri_;
  std::string wanted_;  // device= as given
  bool network_;        // reached through a socket, not this machine's sysfs
  std::unique_ptr<iio_context, ContextDeleter> context_;
  iio_channel* channel_ = nullptr;
  std::string deviceId_, deviceName_, channelId_;
  std::optional<int> dataBits_;      // from the driver's range, when it gives one
  std::optional<double> scaleMv_;    // mV a code
  std::vector<std::string> modes_;   // the power-down modes the driver offers
  std::optional<bool> poweredDown_;  // as last written or read; none when unknown
  std::string reason_;
};

}  // namespace kt::link
