// SPDX-License-Identifier: MIT
#include "cli/play_buffered.h"

#include <fmt/format.h>

#include <cmath>

#include "cli/session.h"
#include "console/parsing.h"
#include "console/stop.h"
#include "platform/clock.h"
#include "wave/buffered.h"

namespace kt::cli {

namespace {

// The longest cycle a cyclic buffer is asked to hold: 8 MiB of 16-bit samples.
constexpr std::size_t kMostCyclic = std::size_t{1} << 22;

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

  std::string why;
  std::unique_ptr<link::OutputBuffer> buffer;
  std::optional<std::vector<std::int32_t>> cycle;
  if (!playing.Pace.Samples) cycle = wave::OneCycle(source, asked, kMostCyclic);
  if (cycle) buffer = board.OpenOutputBuffer(asked, cycle->size(), true, why);
  if (!buffer) {
    cycle.reset();
    buffer = board.OpenOutputBuffer(asked, wave::PushLength(asked), false, why);
  }
  if (!buffer) {
    fmt::print(stderr, "ktdac: {}; the samples go out one at a time instead\n", why);
    return std::nullopt;
  }
  const double rate = buffer->Rate();
  if (std::fabs(rate - asked) > 1e-6 * asked)
    fmt::print(stderr,
               "ktdac: warning: the board's clock gives {:.9g} S/s for the {:.9g} asked; the "
               "samples are computed at its rate\n",
               rate, asked);

  const StopOnSignals stopOnSignals;
  const auto start = platform::Monotonic::now();
  wave::Queued queued;
  if (cycle) {
    if (buffer->Push(*cycle)) {
      while (!Stopped()) WaitUnlessStopped(std::chrono::milliseconds(50));
      queued.How = wave::Played::End::Stopped;
    } else {
      queued.How = wave::Played::End::Refused;
    }
  } else {
    queued = wave::Stream(
        source, rate, playing.Pace.Samples, buffer->Length(),
        {[&](const std::vector<std::int32_t>& codes) { return buffer->Push(codes); }, &Stopped});
    if (queued.How == wave::Played::End::Done) buffer->Drain(&Stopped);
  }
  const std::string failure = buffer->Failure();
  // Where the output was when it stopped: the sample due then, as near as the clock tells.
  const double elapsed = std::chrono::duration<double>(platform::Monotonic::now() - start).count();
  std::uint64_t played = queued.Pushed;
  if (queued.How != wave::Played::End::Done) {
    const auto due = static_cast<std::uint64_t>(std::max(0.0, elapsed * rate));
    played = cycle && queued.How == wave::Played::End::Stopped ? due + 1
                                                               : std::min(due + 1, queued.Pushed);
  }
  buffer.reset();  // the driver stops sending; the output holds until the code below

  const std::int32_t last = playing.Final ? *playing.Final
                            : played == 0 ? source.At(0, rate)
                                          : source.At(played - 1, rate);
  const Session::Sent held = session.SendCode(target, last);
  fmt::print(out,
             "played {} samples at {:.9g} S/s (asked {:g}) through the board's {}buffer, timed "
             "by its clock\n",
             played, rate, asked, cycle ? "cyclic " : "");
  std::fflush(out);
  if (queued.How == wave::Played::End::Refused) {
    fmt::print(stderr, "ktdac: {}\n", failure);
    return kFrameRefused;
  }
  if (held.Result.Status != 0) return Refused(held.Result, "code " + held.Box);
  if (const int signal = StopSignal()) return 128 + signal;
  return kSuccess;
}

}  // namespace kt::cli
