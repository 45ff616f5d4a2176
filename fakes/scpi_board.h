// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scpi/session.h"

namespace kt::test {

/// @brief A function generator that records what it was asked to play, and plays nothing.
class RecordingGenerator : public remote::Generator {
 public:
  std::optional<wave::Source> source;
  wave::Pace pace;
  bool playing = false;
  std::vector<std::function<void()>> waiting;
  void Start(const wave::Source& what, const wave::Pace& how) override {
    source = what;
    pace = how;
    playing = true;
  }
  void Stop() override { playing = false; }
  [[nodiscard]] bool Playing() const override { return playing; }
  [[nodiscard]] bool Finishing() const override { return playing && pace.Samples.has_value(); }
  void WhenIdle(std::function<void()> then) override {
    if (playing)
      waiting.push_back(std::move(then));
    else
      then();
  }
};

/// @brief An SCPI board that records each frame, for the parser's tests and fuzzing (the
/// server tests drive the real one). It refuses frames with the code 0xBAD.
class RecordingBoard : public remote::Board {
 public:
  struct Frame {
    std::int32_t code, mode;
    int dataBits = 0;  ///< the model's when it was sent; not compared
    bool operator==(const Frame& other) const { return code == other.code && mode == other.mode; }
  };
  std::vector<Frame> frames;
  std::vector<std::pair<std::int16_t, std::int32_t>> raws;

  std::string Device() const override { return device_; }
  void SelectDevice(const std::string& label) override { device_ = label; }
  int DataBits() const override { return device_ == "KT300" ? 14 : 16; }
  std::int32_t Code() const override { return code_; }
  std::int32_t PowerDown() const override { return mode_; }
  std::int16_t Send(std::int32_t code, std::int32_t mode) override {
    frames.push_back({code, mode, DataBits()});
    code_ = code;
    mode_ = mode;
    status_ = code == 0xBAD ? -1 : 0;
    return status_;
  }
  std::int16_t SendRaw(std::int16_t bits, std::int32_t word) override {
    raws.emplace_back(bits, word);
    return status_ = 0;
  }
  std::int16_t Status() const override { return status_; }
  std::string Identity() const override { return "Corvane,KT31X-KT300 evaluation board,0,1.0.4"; }
  /// Fails, as a board unplugged would, once `unplugged` is set.
  Check SelfTest() override { return {static_cast<std::int16_t>(unplugged ? -1 : 0), "a check"}; }
  bool unplugged = false;
  remote::Generator* Waveform() override { return waveforms ? &generator : nullptr; }
  RecordingGenerator generator;
  bool waveforms = true;  ///< false: a board that plays none

 private:
  std::string device_ = "KT310";
  std::int32_t code_ = 0, mode_ = 0;
  std::int16_t status_ = 0;
};

}  // namespace kt::test
