// SPDX-License-Identifier: MIT
#include "wave/buffered.h"

#include <algorithm>
#include <cmath>

namespace kt::wave {

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
  while (!samples || queued.Pushed < *samples) {
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

}  // namespace kt::wave
