// SPDX-License-Identifier: MIT
#include "serve/wave_player.h"

#include <utility>

namespace kt::remote {

void WavePlayer::Start(const wave::Source& source, const wave::Pace& pace) {
  Stop();
  stop_ = false;
  finite_ = pace.Samples.has_value();
  playing_ = true;
  thread_ = std::thread([this, source, pace] {
    wave::Road road;
    road.Stopped = [this] { return stop_.load(); };
    road.Send = [this](const wave::Sample& sample) { return board_.Send(sample.Code, 0) == 0; };
    refused_ = wave::Play(source, pace, road).How == wave::Played::End::Refused;
    playing_ = false;
    ended_();
  });
  started_();
}

void WavePlayer::WhenIdle(std::function<void()> then) {
  if (playing_)
    waiting_.push_back(std::move(then));
  else
    then();
}

// Called after the play's thread said it ended: a play started since is another, and what
// waits for it waits on.
bool WavePlayer::Ended() {
  if (playing_) return false;
  for (const auto& then : std::exchange(waiting_, {})) then();
  return refused_.exchange(false);
}

void WavePlayer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  playing_ = false;
}

}  // namespace kt::remote
