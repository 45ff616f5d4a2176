// SPDX-License-Identifier: MIT
#pragma once

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "sim/dac_model.h"

// The simulated meter's SCPI answers: its settings, error queue and readings, each from the
// DAC's present output through an imperfect transfer function. No network.
namespace kt::sim::meter {

/// @brief The meter as started.
struct Options {
  std::string Listen = "127.0.0.1:5025";
  std::string DacOutput;
  std::string IioDevice;  // a kernel IIO DAC's attribute folder, in place of DacOutput
  Imperfections Dac;
  double GainPercent = 0;
  std::vector<std::string> Steps;
  double NoiseVolts = 0;
  unsigned Seed = 1;
  double SettleSeconds = 0;   // the output's time constant after a frame
  double ReadingSeconds = 0;  // the time one reading takes
  std::string Identity = "KT Instruments,SIM-DMM6,SIM000001,1.0";
  std::string FaultText = "none";
};

/// @brief A fault a test asks for, read once at the start.
struct Fault {
  enum class Kind { None, Garbage, Error, HangConfig, Slow, Close, Reading, Twice, CrLf };
  Kind What = Kind::None;
  int Count = 0;       ///< slow: milliseconds late; close: readings answered before hanging up
  std::string Answer;  ///< reading: what every reading answers
};

/// @brief The meter: answers one program message at a time.
class Meter {
 public:
  Meter(const Options& options, Fault fault);

  /// Answers one command; an empty answer sends nothing.
  std::string Execute(const std::string& message);
  [[nodiscard]] int Readings() const { return readings_; }
  [[nodiscard]] const Fault& Faults() const { return fault_; }

 private:
  void Queue(int code, const std::string& text);
  void SetRange(const std::string& text);
  /// The DAC's output now: settled towards the last frame's code from the one before.
  std::string Reading();

  const Options& options_;
  const Fault fault_;
  std::mt19937_64 random_;
  std::normal_distribution<double> noise_;  // standard: scaled by the noise asked for
  std::deque<std::string> errors_;
  double range_ = 10;
  double nplc_ = 10;
  int readings_ = 0;
};

}  // namespace kt::sim::meter
