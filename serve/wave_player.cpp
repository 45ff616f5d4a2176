// SPDX-License-Identifier: MIT
#include "serve/wave_player.h"

#include <fmt/format.h>

#include <utility>

#include "wave/buffered.h"

namespace kt::remote {

void WavePlayer::Start(const wave::Source& source, const wave::Pace& pace) {
  Stop();
  stop_ = false;
  finite_ = pace.Samples.has_value();
  refusal_.reset();
  playing_ = true;
  thread_ = std::thread([this, source, pace] {
    if (!Buffered(source, pace)) {
      wave::Road road;
      road.Stopped = [this] { return stop_.load(); };
      road.Send = [this](const wave::Sample& sample) { return board_.Send(sample.Code, 0) == 0; };
      if (wave::Play(source, pace, road).How == wave::Played::End::Refused) refusal_ = Refusal();
    }
    playing_ = false;
    ended_();
  });
  started_();
}

bool WavePlayer::Buffered(const wave::Source& source, const wave::Pace& pace) {
  if (!board_.HasBuffer()) return false;
  // The first sample as a code: the DAC out of power-down and at the waveform's start before
  // the buffer takes over.
  if (board_.Send(source.At(0, pace.Rate), 0) != 0) {
    refusal_ = Refusal();
    return true;
  }
  std::string why;
  const std::optional<wave::BufferPlay> play = wave::PlayThrough(
      [this](double rate, std::size_t length, bool cyclic, std::string& reason) {
        return board_.OpenBuffer(rate, length, cyclic, reason);
      },
      source, pace, [this] { return stop_.load(); }, say_, why);
  if (!play) {
    say_(why + "; the samples go out one at a time instead");
    return false;
  }
  // The buffer is closed: the output holds the last sample out as a code.
  const bool held = board_.Send(play->Last, 0) == 0;
  if (play->How == wave::Played::End::Refused)
    refusal_ = play->Failure;
  else if (!held)
    refusal_ = Refusal();
  return true;
}

std::string WavePlayer::Refusal() const {
  const std::string failure = board_.Failure();
  return fmt::format("the board refused a frame (status {}){}", board_.Status(),
                     failure.empty() ? "" : ": " + failure);
}

void WavePlayer::WhenIdle(std::function<void()> then) {
  if (playing_)
    waiting_.push_back(std::move(then));
  else
    then();
}

// Called after the play's thread said it ended: a play started since is another, and what
// waits for it waits on.
std::optional<std::string> WavePlayer::Ended() {
  if (playing_) return std::nullopt;
  for (const auto& then : std::exchange(waiting_, {})) then();
  return std::exchange(refusal_, std::nullopt);
}

void WavePlayer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  playing_ = false;
}

}  // namespace kt::remote
