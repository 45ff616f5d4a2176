// SPDX-License-Identifier: MIT
#include "wave/buffered.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/clock.h"

namespace kt::wave {

namespace {

// How often a wait looks for a stop.
constexpr std::chrono::milliseconds kPoll(10);
// A push is made this much before the board needs it, for the scheduler's delays.
constexpr std::chrono::milliseconds kWakeEarly(5);

}  // namespace

std::size_t PushLength(double rate) {
  return static_cast<std::size_t>(std::clamp(std::llround(rate / 20), 1LL, 65536LL));
}

std::optional<std::vector<std::int32_t>> OneCycle(const Source& source, double rate,
                                                  std::size_t most) {
  if (const auto* samples = std::get_if<std::vector<std::int32_t>>(&source.What)) {
    if (samples->empty() || samples->size() > most) return std::nullopt;
    return *samples;
  }
  const double length = rate / std::get<Periodic>(source.What).Frequency;
  const double whole = std::round(length);
  if (whole < 1 || whole > static_cast<double>(most) || std::fabs(length - whole) > 1e-9 * whole)
    return std::nullopt;
  std::vector<std::int32_t> cycle(static_cast<std::size_t>(whole));
  for (std::size_t k = 0; k < cycle.size(); ++k) cycle[k] = source.At(k, rate);
  return cycle;
}

Queued Stream(const Source& source, double rate, std::optional<std::uint64_t> samples,
              std::size_t length, const Queue& queue) {
  Queued queued;
  std::vector<std::int32_t> codes;
  const auto start = platform::Monotonic::now();
  while (!samples || queued.Pushed < *samples) {
    // The board is kept kPushesAhead pushes ahead of its clock, no more: a push then finds
    // room at once, and a stop is heard within a push, however slow the rate.
    if (queued.Pushed >= kPushesAhead * length) {
      const auto due = start + DeadlineOf(queued.Pushed - kPushesAhead * length, rate) - kWakeEarly;
      for (auto now = platform::Monotonic::now(); now < due && !queue.Stopped();
           now = platform::Monotonic::now())
        std::this_thread::sleep_for(std::min<platform::Monotonic::duration>(due - now, kPoll));
    }
    if (queue.Stopped()) {
      queued.How = Played::End::Stopped;
      return queued;
    }
    const std::uint64_t left = samples ? *samples - queued.Pushed : length;
    codes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, length)));
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = source.At(queued.Pushed + i, rate);
    if (!queue.Push(codes)) {
      queued.How = Played::End::Refused;
      return queued;
    }
    queued.Pushed += codes.size();
    queued.LastCode = codes.back();
  }
  return queued;
}

std::optional<BufferPlay> PlayThrough(const OpenBuffer& open, const Source& source,
                                      const Pace& pace, const std::function<bool()>& stopped,
                                      const std::function<void(const std::string&)>& note,
                                      std::string& why) {
  std::unique_ptr<Buffer> buffer;
  std::optional<std::vector<std::int32_t>> cycle;
  if (!pace.Samples) cycle = OneCycle(source, pace.Rate, kMostCyclic);
  if (cycle) buffer = open(pace.Rate, cycle->size(), true, why);
  if (!buffer) {
    cycle.reset();
    buffer = open(pace.Rate, PushLength(pace.Rate), false, why);
  }
  if (!buffer) return std::nullopt;
  BufferPlay play;
  play.Rate = buffer->Rate();
  play.Cyclic = cycle.has_value();
  if (note && std::fabs(play.Rate - pace.Rate) > 1e-6 * pace.Rate)
    note(
        fmt::format("the board's clock gives {:.9g} S/s for the {:.9g} asked; the samples are "
                    "computed at its rate",
                    play.Rate, pace.Rate));

  const auto start = platform::Monotonic::now();
  Queued queued;
  if (cycle) {
    if (buffer->Push(*cycle)) {
      while (!stopped()) std::this_thread::sleep_for(kPoll);
      queued.How = Played::End::Stopped;
    } else {
      queued.How = Played::End::Refused;
    }
  } else {
    queued = Stream(
        source, play.Rate, pace.Samples, buffer->Length(),
        {[&](const std::vector<std::int32_t>& codes) { return buffer->Push(codes); }, stopped});
    if (queued.How == Played::End::Done) buffer->Drain(stopped);
  }
  play.How = queued.How;
  play.Failure = buffer->Failure();
  // Where the output was when it stopped: the sample due then, as near as the clock tells.
  const double elapsed = std::chrono::duration<double>(platform::Monotonic::now() - start).count();
  play.Out = queued.Pushed;
  if (queued.How != Played::End::Done && !buffer->Finishes()) {
    const auto due = static_cast<std::uint64_t>(std::max(0.0, elapsed * play.Rate));
    play.Out =
        cycle && queued.How == Played::End::Stopped ? due + 1 : std::min(due + 1, queued.Pushed);
  }
  buffer.reset();  // the board stops sending; the output holds until the program writes
  play.Last = source.At(play.Out == 0 ? 0 : play.Out - 1, play.Rate);
  return play;
}

}  // namespace kt::wave
