// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "characterize/code_plan.h"
#include "dac/device_table.h"
#include "meter/client.h"
#include "meter/resource.h"

// A characterization: the DAC's transfer function measured with a bench meter, code by code,
// each row kept as measured, then its figures, plots and report. Knows no board and no
// generation: it drives the DAC under test it is given.
namespace kt::characterize {

/// @brief The DAC being measured, as a run drives it: what it is, the board it sits on, and
/// a code sent in normal operation as the window's update sends it.
class DacUnderTest {
 public:
  virtual ~DacUnderTest() = default;
  [[nodiscard]] virtual const dac::DeviceProfile& Device() const = 0;
  /// The board, as messages name it.
  [[nodiscard]] virtual std::string Board() const = 0;
  /// Whether the board can tell the DAC's reference once connected.
  [[nodiscard]] virtual bool TellsReference() const = 0;
  /// Connects, once: later calls return at once. Returns an exit status, 1 when the
  /// connection fails, having said which step failed and why.
  virtual int Connect(std::optional<double> vref) = 0;
  /// The reference a run uses: the one given, else the board's, else none; a given one the
  /// board disagrees with is taken, with a warning.
  virtual std::optional<double> Reference(const std::optional<double>& given) = 0;

  /// @brief A code as it went out.
  struct Sent {
    std::int32_t Word = 0;    ///< the frame word
    std::int16_t Status = 0;  ///< the board's status for it (0: sent)
    std::string Failure;      ///< why the board refused it, when it says
  };
  virtual Sent Send(std::int32_t code) = 0;
};

/// @brief A run as checked: nothing here is read again.
struct Settings {
  std::optional<double> Vref;  ///< none: the board's own, when it tells one
  CodePlan Plan;
  std::chrono::nanoseconds Settle{};
  int Average = 1;
  std::string Output;  ///< the folder for the CSV, the summaries, the plots and the report
  bool Resume = false;
  meter::Resource Meter;
  meter::Settings MeterSettings;     ///< no Setup: the default one for MeterRange and Nplc
  std::optional<double> MeterRange;  ///< none: the smallest of 1, 10, 100, 1000 V that holds vref
  double Nplc = 1;
};

/// The meter's settings for a run at that reference: the setup given, or the default
/// configuration on the range given or the smallest decade that holds the reference.
meter::Settings MeterSettingsFor(const Settings& settings, double vref);

/// Measures the DAC as the plan says: sends each code (normal operation), waits the settle
/// time, takes the readings and writes the row at once. Then prints the figures on `out` and
/// writes them, the plots and the report beside the CSV. Returns an exit status: 1 when the
/// board cannot be reached, 5 for a refused frame, 6 for a meter failure, 128 + the signal
/// when stopped; every row measured stays in the CSV, and --resume continues from it. Raises
/// cli::UsageError for a run that cannot start (nothing sent) and cli::WriteError for a file
/// or standard output that cannot be written.
int Measure(DacUnderTest& dac, const Settings& settings, std::FILE* out);

}  // namespace kt::characterize
