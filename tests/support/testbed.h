// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ftdi_device.h"

// Linux hardware without hardware: umockdev's test bed, a sysfs and /dev of the test's own
// that an unmodified program sees in place of the machine's (through umockdev's preloaded
// library: this process when run under umockdev-wrapper, and every program it starts).
namespace kt::test {

/// The DAC channel's attribute files that a frame writes.
inline constexpr const char* kRaw = "out_voltage0_raw";
inline constexpr const char* kDown = "out_voltage0_powerdown";
inline constexpr const char* kMode = "out_voltage0_powerdown_mode";

/// @brief How an IIO DAC in the bed looks: a kernel driver's attributes, each value ending
/// in a newline as the kernel gives it.
struct IioDac {
  std::string Name = "kt310";
  int DataBits = 16;
  bool Range = true;      ///< out_voltage0_raw_available, as drivers that give it do
  std::string Available;  ///< its text as a driver may give it; empty: DataBits' range
  double ScaleMv = 2500.0 / 65536;
  std::string Scale;  ///< out_voltage0_scale's text as a driver may give it; empty: ScaleMv's
  std::string Modes = "1kohm_to_gnd 100kohm_to_gnd three_state";
  std::string PowerDown = "0";
  /// scan_elements' out_voltage0_type ("le:u16/16>>0") of a driver with output buffers, which
  /// writes its samples to /dev/iio:deviceN; empty: a driver without them.
  std::string BufferType;
  /// Where the sample rate is set: "device" (its sampling_frequency), "trigger" (an hrtimer
  /// trigger's, the device's current trigger) or "" (nowhere).
  std::string RateOn = "device";
  int PushError = 0;  ///< every write to the node fails with this errno
};

/// @brief What a spidev port in the bed refuses, as a controller would.
struct SpiFaults {
  bool RefuseMode = false;   ///< SPI_IOC_WR_MODE fails with EINVAL
  bool RefuseSpeed = false;  ///< SPI_IOC_WR_MAX_SPEED_HZ fails with EINVAL
  bool BytesOnly = false;    ///< a transfer of words other than 8 bits fails with EINVAL
  int TransferError = 0;     ///< every transfer fails with this errno
};

/// @brief One test bed for the life of the object.
class Testbed {
 public:
  Testbed();
  ~Testbed();
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;

  /// Adds an IIO DAC; returns its id ("iio:device0", then 1, ...).
  std::string AddIioDac(const IioDac& dac);
  /// The file of an attribute of that device ("out_voltage0_raw"), by its path in the bed.
  [[nodiscard]] std::string File(const std::string& id, const std::string& attribute) const;
  /// An attribute's value, as a kernel would take it: without its newline, or the
  /// terminating 0 that libiio writes.
  [[nodiscard]] std::string Attribute(const std::string& id, const std::string& attribute) const;
  /// The attribute files written since the last call, in the order written.
  std::vector<std::string> Writes();

  /// The bytes written to /dev/ID since the last call: the samples a buffer pushed.
  std::vector<unsigned char> Pushed(const std::string& id);

  /// Adds /dev/NAME ("spidev0.0"), answering its ioctls as a spidev port would.
  std::string AddSpidev(const std::string& name, const SpiFaults& faults = {});
  /// What the ports were asked since the last call: "mode 1", "hz 1000000",
  /// "transfer 01 12 34 (8-bit words, 1000000 Hz)".
  std::vector<std::string> SpiLog();

  /// Adds an FTDI chip on USB bus 1 (device 2, then 3, ...); returns its node
  /// ("/dev/bus/usb/001/002"). libusb, and libftdi1 over it, see it as a real device.
  std::string AddFtdi(const FtdiDevice& device = {});
  /// What the chips were asked since the last call: their control requests ("reset",
  /// "bitmode 02") and their engines' log (see MpsseEngine::Log).
  std::vector<std::string> FtdiLog();

  /// The bed's root folder.
  [[nodiscard]] std::string Root() const;

  struct State;  ///< the bed itself and what its ports were asked

 private:
  /// Answers the ioctls, and takes the writes, of /dev/NODE.
  void Answer(const std::string& node);

  std::unique_ptr<State> state_;
};

}  // namespace kt::test
