// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kt::sim {

/// @brief One SPI frame as the board's firmware rebuilds it from vendor request 0xDD.
struct Frame {
  std::int32_t Bits;  ///< frame length: index >> 8
  std::int32_t Word;  ///< (low byte of index) << 16 | value
};

/// Rebuilds the frame from the request's value and index, or nothing when the value does not
/// fit its 16 bits.
std::optional<Frame> DecodeRequest(std::int32_t value, std::int32_t index);

/// @brief The DAC on the board: a 16-bit frame drives a 14-bit DAC (power-down bits 15..14),
/// a 24-bit frame a 16-bit DAC (bits 17..16). Other frame lengths drive no DAC.
class DacModel {
 public:
  /// Applies the frame; returns whether it drove the DAC.
  bool Apply(const Frame& frame);

  [[nodiscard]] std::optional<std::int32_t> Code() const { return code_; }
  [[nodiscard]] std::optional<std::int32_t> PowerDown() const { return powerDown_; }
  /// The resolution of the DAC the last frame drove: 14 or 16.
  [[nodiscard]] int DataBits() const { return dataBits_; }

 private:
  int dataBits_ = 0;
  std::optional<std::int32_t> code_;
  std::optional<std::int32_t> powerDown_;
};

/// @brief A step in the transfer function: every code from `Code` up stands `Lsb` higher.
/// Its DNL at `Code` is `Lsb`; below -1 the output falls there, and the DAC is not monotonic.
struct CodeStep {
  std::int32_t Code;
  double Lsb;
};

/// @brief How the simulated DAC's output departs from the ideal vref × code / 2^N.
/// Output(code) = Offset + (1 + Gain) × LSB × (code + bow(code) + the steps at or below code),
/// bow(code) = 4 × Bow × x × (1 - x), x = code / last code: zero at both ends, Bow at mid-scale.
struct Imperfections {
  double Vref = 2.5;
  double OffsetVolts = 0;
  double Gain = 0;    ///< gain error as a fraction: -0.001 is -0.1 %
  double BowLsb = 0;  ///< the INL bow's height at mid-scale, in LSB
  std::vector<CodeStep> Steps;
};

/// The DAC's settled output in volts; a powered-down output (any mode) reads 0 V.
double OutputVolts(const Imperfections& dac, int dataBits, std::int32_t code,
                   std::int32_t powerDown);

/// @brief What the DAC on the simulated board shows now, and what it showed before the last
/// frame: the channel from the simulated board library to the simulated meter.
struct DacState {
  int DataBits;
  std::int32_t Code;
  std::int32_t PowerDown;
  std::optional<std::int32_t> PreviousCode;  ///< none before the first frame
  std::int32_t PreviousPowerDown;
  std::int64_t TimeNs;  ///< when the frame arrived, nanoseconds of the system clock
};

/// The environment variable that names the channel's file.
inline constexpr const char* kDacOutputVariable = "KT_SIM_DAC_OUTPUT";

/// Replaces the file's content with the state as one JSON line, atomically (written aside,
/// then renamed over it), so that a reader never sees half a state. Returns false on failure.
bool WriteDacState(const std::string& file, const DacState& state);

/// The state in the file, or nothing while no frame has driven the DAC.
std::optional<DacState> ReadDacState(const std::string& file);

/// The state of a kernel IIO DAC, from its device's attribute files in `folder`
/// (out_voltage0_raw, out_voltage0_powerdown; the resolution from out_voltage0_raw_available,
/// 16 bits without it). What it showed before is not known. Nothing when the files cannot
/// be read.
std::optional<DacState> ReadIioState(const std::string& folder);

}  // namespace kt::sim
