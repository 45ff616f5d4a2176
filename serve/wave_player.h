// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scpi/session.h"

// Waveforms played beside the serving of clients: on a thread of their own, each frame
// through the one board, which every client's command reaches under the same lock.
namespace kt::remote {

/// @brief The board under a lock, one call at a time, whichever thread calls.
class LockedBoard : public Board {
  template <typename Call>
  auto Locked(Call call) const -> decltype(call()) {
    const std::lock_guard<std::mutex> hold(lock_);
    return call();
  }

 public:
  explicit LockedBoard(Board& board) : board_(board) {}
  std::string Device() const override {
    return Locked([&] { return board_.Device(); });
  }
  void SelectDevice(const std::string& label) override {
    Locked([&] { board_.SelectDevice(label); });
  }
  int DataBits() const override {
    return Locked([&] { return board_.DataBits(); });
  }
  std::int32_t Code() const override {
    return Locked([&] { return board_.Code(); });
  }
  std::int32_t PowerDown() const override {
    return Locked([&] { return board_.PowerDown(); });
  }
  std::int16_t Send(std::int32_t code, std::int32_t mode) override {
    return Locked([&] { return board_.Send(code, mode); });
  }
  std::int16_t SendRaw(std::int16_t bits, std::int32_t word) override {
    return Locked([&] { return board_.SendRaw(bits, word); });
  }
  std::string RawRefusal(std::int16_t bits) const override {
    return Locked([&] { return board_.RawRefusal(bits); });
  }
  std::optional<double> Reference() const override {
    return Locked([&] { return board_.Reference(); });
  }
  std::int16_t Status() const override {
    return Locked([&] { return board_.Status(); });
  }
  std::string Failure() const override {
    return Locked([&] { return board_.Failure(); });
  }
  std::string Identity() const override {
    return Locked([&] { return board_.Identity(); });
  }
  Check SelfTest() override {
    return Locked([&] { return board_.SelfTest(); });
  }
  bool HasBuffer() const override {
    return Locked([&] { return board_.HasBuffer(); });
  }
  // The buffer itself is the player's alone while it is open: frames are refused meanwhile.
  std::unique_ptr<wave::Buffer> OpenBuffer(double rate, std::size_t length, bool cyclic,
                                           std::string& why) override {
    return Locked([&] { return board_.OpenBuffer(rate, length, cyclic, why); });
  }

 private:
  Board& board_;
  mutable std::mutex lock_;
};

/// @brief The function generator of `ktdac serve`: each play on a thread of its own, in
/// normal operation, through the board's own buffer where it has one (its clock keeps the
/// time), else a frame a sample through `board`. `ended` is called on that thread when a
/// play ends of itself, or is stopped, or the board refuses a frame (which ends it); it must
/// have Ended called on the serving thread. Start, Stop and WhenIdle are the serving
/// thread's.
class WavePlayer : public Generator {
 public:
  /// `started` is called on the serving thread as a play starts; `say` on the play's thread
  /// with what the log should tell of it.
  WavePlayer(Board& board, std::function<void()> ended, std::function<void()> started,
             std::function<void(const std::string&)> say)
      : board_(board),
        ended_(std::move(ended)),
        started_(std::move(started)),
        say_(std::move(say)) {}
  ~WavePlayer() override { Stop(); }
  WavePlayer(const WavePlayer&) = delete;
  WavePlayer& operator=(const WavePlayer&) = delete;

  void Start(const wave::Source& source, const wave::Pace& pace) override;
  void Stop() override;
  [[nodiscard]] bool Playing() const override { return playing_; }
  [[nodiscard]] bool Finishing() const override { return playing_ && finite_; }
  void WhenIdle(std::function<void()> then) override;
  /// A play ended: told on the serving thread, which calls what waited for it. Returns
  /// why, when the board refused a frame or samples, which ended it.
  std::optional<std::string> Ended();

 private:
  // Plays through the board's buffer: false when it has none, or it would not open.
  bool Buffered(const wave::Source& source, const wave::Pace& pace);
  std::string Refusal() const;

  Board& board_;
  std::function<void()> ended_;
  std::function<void()> started_;
  std::function<void(const std::string&)> say_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> playing_{false};
  std::optional<std::string> refusal_;  // the play's thread's until playing_ is false
  bool finite_ = false;
  std::vector<std::function<void()>> waiting_;  // on the serving thread alone
};

}  // namespace kt::remote
