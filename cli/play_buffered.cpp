// SPDX-License-Identifier: MIT
#include "cli/play_buffered.h"

#include <fmt/format.h>

#include <cmath>

#include "cli/session.h"
#include "console/parsing.h"
#include "console/stop.h"
#include "wave/buffered.h"

namespace kt::cli {

namespace {

bool Stopped() { return StopSignal() != 0; }

}  // namespace

std::optional<int> PlayBuffered(Session& session, const Playing& playing,
                                const wave::Source& source, std::FILE* out) {
  link::Board& board = session.Board();
  if (playing.Pace.Strict || !playing.Log.empty() || playing.NoBuffer || !board.HasOutputBuffer())
    return std::nullopt;
  const double asked = playing.Pace.Rate;
  const Dac target{playing.Device, &PowerDown("normal"), playing.Hexadecimal};
  // The first sample through the channel's code: the DAC out of power-down and at the
  // waveform's start before the buffer takes over.
  if (const Session::Sent first = session.SendCode(target, source.At(0, asked));
      first.Result.Status != 0)
    return Refused(first.Result, "code " + first.Box);

  const StopOnSignals stopOnSignals;
  std::string why;
  const std::optional<wave::BufferPlay> play = wave::PlayThrough(
      [&board](double rate, std::size_t length, bool cyclic, std::string& reason) {
        return board.OpenOutputBuffer(rate, length, cyclic, reason);
      },
      source, playing.Pace, &Stopped,
      [](const std::string& note) { fmt::print(stderr, "ktdac: warning: {}\n", note); }, why);
  if (!play) {
    fmt::print(stderr, "ktdac: {}; the samples go out one at a time instead\n", why);
    return std::nullopt;
  }
  const std::int32_t last = playing.Final.value_or(play->Last);
  const Session::Sent held = session.SendCode(target, last);
  fmt::print(out,
             "played {} samples at {:.9g} S/s (asked {:g}) through the board's {}buffer, timed "
             "by its clock\n",
             play->Out, play->Rate, asked, play->Cyclic ? "cyclic " : "");
  std::fflush(out);
  if (play->How == wave::Played::End::Refused) {
    fmt::print(stderr, "ktdac: {}\n", play->Failure);
    return kFrameRefused;
  }
  if (held.Result.Status != 0) return Refused(held.Result, "code " + held.Box);
  if (const int signal = StopSignal()) return 128 + signal;
  return kSuccess;
}

}  // namespace kt::cli
