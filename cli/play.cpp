// SPDX-License-Identifier: MIT
#include "cli/play.h"

#include <fmt/format.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "cli/play_buffered.h"
#include "cli/session.h"
#include "console/parsing.h"
#include "console/stop.h"
#include "core/error.h"
#include "platform/program.h"

namespace kt::cli {

namespace {

// The fastest rate taken: far beyond what any road here holds, so a typo is caught.
constexpr double kMaxRate = 1e6;

std::string ReadFile(const std::string& name) {
  std::ifstream in(std::filesystem::path(std::u8string(name.begin(), name.end())),
                   std::ios::binary);
  if (!in) throw UsageError{"--file: cannot read " + name};
  return {std::istreambuf_iterator<char>(in), {}};
}

std::int32_t CodeWithin(const char* option, const std::string& text, bool hexadecimal,
                        const dac::DeviceProfile& device) {
  const std::int64_t code = ParseCode(text, hexadecimal);
  if (code > dac::LastCode(device))
    throw UsageError{fmt::format("{} {} is beyond the {}'s last code 0x{:X}", option, text,
                                 device.Label, dac::LastCode(device))};
  return static_cast<std::int32_t>(code);
}

// The shape's codes when given in volts, once the reference is known.
wave::Periodic InVolts(wave::Periodic shape, std::pair<double, double> amplitudeOffset,
                       std::int16_t dataBits, double vref) {
  const auto [amplitude, offset] = amplitudeOffset;
  const auto low = wave::CodeOfVolts(offset - amplitude / 2, dataBits, vref);
  const auto high = wave::CodeOfVolts(offset + amplitude / 2, dataBits, vref);
  if (!low || !high)
    throw UsageError{fmt::format(
        "--offset {} V and --amplitude {} V (peak to peak) reach beyond the DAC's 0 V to {:.6g} "
        "V at a {} V reference; nothing was sent",
        offset, amplitude, dac::IdealVolts(dac::LastCode(dataBits), dataBits, vref), vref)};
  shape.Low = *low;
  shape.High = *high;
  return shape;
}

std::string Milliseconds(std::chrono::nanoseconds time) {
  return fmt::format("{:.3f} ms", static_cast<double>(time.count()) / 1e6);
}

}  // namespace

void AddPlayOptions(CLI::App& play, PlayCommand& typed) {
  std::vector<std::string> devices;
  for (const auto& device : dac::DeviceTable) devices.emplace_back(device.Label);
  play.add_option("--device", typed.Device, "KT300, KT310, KT311, KT312 or KT313 (any case)")
      ->capture_default_str()
      ->check(CLI::IsMember(devices, CLI::ignore_case));
  play.add_option("--format", typed.Format,
                  "how codes are read (--low, --high, --file): hex or dec")
      ->capture_default_str()
      ->check(CLI::IsMember({"hex", "dec"}));
  play.add_option("--shape", typed.Shape, "sine, triangle, ramp or square");
  play.add_option("--frequency", typed.Frequency, "the shape's frequency, Hz");
  play.add_option("--low", typed.Low, "the shape's lowest code (default 0)");
  play.add_option("--high", typed.High, "the shape's highest code (default the last)");
  play.add_option("--amplitude", typed.Amplitude, "the shape's amplitude, volts peak to peak");
  play.add_option("--offset", typed.Offset, "the shape's middle, volts");
  play.add_option("--file", typed.File, "samples, one a line: codes in the format, or volts")
      ->check(NonEmptyPath());
  play.add_flag("--volts", typed.Volts, "the file's samples are volts");
  play.add_option("--rate", typed.Rate, "samples a second")->required();
  play.add_option("--cycles", typed.Cycles, "play this many cycles (a file: times through it)");
  play.add_option("--duration", typed.Duration, "play this long (10s, 2min)");
  play.add_flag("--strict", typed.Strict, "end with status 7 at the first late sample");
  play.add_flag("--no-buffer", typed.NoBuffer,
                "send each sample at its deadline even where the driver has an output buffer");
  play.add_option("--log", typed.Log, "write each sample's code, deadline and time sent here (CSV)")
      ->check(NonEmptyPath());
  play.add_option("--final", typed.Final,
                  "the code to leave at the end (default: the last sample)");
  play.add_option("--vref", typed.Vref, "the DAC's reference, volts, for samples in volts");
}

Playing CheckPlay(const PlayCommand& typed) {
  Playing playing;
  playing.Device = dac::FindDevice(typed.Device);
  if (!playing.Device) throw UsageError{"unknown device \"" + typed.Device + "\""};
  const dac::DeviceProfile& device = *playing.Device;
  playing.Hexadecimal = typed.Format == "hex";
  if (typed.Vref)
    if (std::string why = dac::ReferenceRefusal(*typed.Vref, fmt::format("--vref {}", *typed.Vref));
        !why.empty())
      throw UsageError{std::move(why)};
  playing.Vref = typed.Vref;
  const double rate = *typed.Rate;
  if (!(rate > 0 && rate <= kMaxRate))
    throw UsageError{fmt::format("--rate {} is not a rate from above 0 to {:g} samples a second",
                                 rate, kMaxRate)};
  playing.Pace.Rate = rate;
  playing.Pace.Strict = typed.Strict;
  if (typed.Shape.empty() == typed.File.empty())
    throw UsageError{"play needs --shape or --file, and not both"};
  const bool volts = typed.Amplitude || typed.Offset;
  wave::Source source;  // for counting samples
  if (!typed.Shape.empty()) {
    const auto shape = wave::ShapeNamed(typed.Shape);
    if (!shape)
      throw UsageError{"--shape is sine, triangle, ramp or square, not \"" + typed.Shape + "\""};
    if (!typed.Frequency) throw UsageError{"--shape needs --frequency"};
    const double frequency = *typed.Frequency;
    if (!(frequency > 0 && frequency <= rate / 2))
      throw UsageError{fmt::format(
          "--frequency {} Hz is not above 0 and at most half the rate ({:g} Hz): a cycle needs "
          "two samples at least",
          frequency, rate / 2)};
    if (volts && (!typed.Low.empty() || !typed.High.empty()))
      throw UsageError{
          "give the shape's codes (--low, --high) or its volts (--amplitude, --offset), not both"};
    if (volts && !(typed.Amplitude && typed.Offset))
      throw UsageError{"--amplitude and --offset go together"};
    if (volts && *typed.Amplitude < 0) throw UsageError{"--amplitude must not be negative"};
    wave::Periodic periodic{*shape, frequency, 0, dac::LastCode(device)};
    if (!typed.Low.empty())
      periodic.Low = CodeWithin("--low", typed.Low, playing.Hexadecimal, device);
    if (!typed.High.empty())
      periodic.High = CodeWithin("--high", typed.High, playing.Hexadecimal, device);
    if (periodic.Low > periodic.High) throw UsageError{"--low is above --high"};
    if (volts) playing.AmplitudeOffset = {*typed.Amplitude, *typed.Offset};
    playing.Shape = periodic;
    source.What = periodic;
  } else {
    if (volts || !typed.Low.empty() || !typed.High.empty() || typed.Frequency)
      throw UsageError{
          "--frequency, --low, --high, --amplitude and --offset are a shape's; a file gives its "
          "samples"};
    playing.File = typed.File;
    playing.Volts = typed.Volts;
    try {
      playing.Values =
          wave::ReadValues(ReadFile(typed.File), typed.File, typed.Volts, playing.Hexadecimal);
      if (!typed.Volts)  // codes are checked now; volts once the reference is known
        source.What =
            wave::CodesOf(playing.Values, typed.File, false, device.DataBits, std::nullopt);
      else
        source.What = std::vector<std::int32_t>(playing.Values.size());
    } catch (const Error& error) {
      throw UsageError{error.what()};
    }
  }
  if (typed.Volts && typed.File.empty()) throw UsageError{"--volts is for --file"};
  if (typed.Cycles && !typed.Duration.empty())
    throw UsageError{"give --cycles or --duration, not both"};
  if (typed.Cycles) {
    if (*typed.Cycles < 1) throw UsageError{"--cycles must be 1 or more"};
    playing.Pace.Samples = source.SamplesIn(static_cast<std::uint64_t>(*typed.Cycles), rate);
  } else if (!typed.Duration.empty()) {
    const auto duration = ParseDuration(typed.Duration);
    if (duration.count() <= 0) throw UsageError{"--duration must be more than 0"};
    playing.Pace.Samples = static_cast<std::uint64_t>(std::max<long double>(
        1, std::llround(duration.count() * static_cast<long double>(rate) / 1e9L)));
  } else if (typed.Shape.empty()) {
    playing.Pace.Samples = playing.Values.size();  // a file plays once
  }
  playing.Log = typed.Log;
  playing.NoBuffer = typed.NoBuffer;
  if (!typed.Final.empty())
    playing.Final = CodeWithin("--final", typed.Final, playing.Hexadecimal, device);
  return playing;
}

int Play(Session& session, const Playing& playing, std::FILE* out) {
  const dac::DeviceProfile& device = *playing.Device;
  if (const int status = session.Connect(&device, playing.Vref); status != kSuccess) return status;
  link::Board& board = session.Board();
  const bool needsVref = playing.AmplitudeOffset || playing.Volts;
  std::optional<double> vref;
  if (needsVref) {
    vref = session.Reference(playing.Vref, device.DataBits);
    if (!vref)
      throw UsageError{"--vref is required for volts: " + board.Description() +
                       " does not tell the DAC's reference"};
  }
  wave::Source source;
  if (playing.Shape) {
    source.What = playing.AmplitudeOffset
                      ? InVolts(*playing.Shape, *playing.AmplitudeOffset, device.DataBits, *vref)
                      : *playing.Shape;
  } else {
    try {
      source.What =
          wave::CodesOf(playing.Values, playing.File, playing.Volts, device.DataBits, vref);
    } catch (const Error& error) {
      throw UsageError{std::string(error.what()) + "; nothing was sent"};
    }
  }
  if (const auto status = PlayBuffered(session, playing, source, out)) return *status;
  if (const auto limit = board.FrameRateLimit();
      limit && playing.Pace.Rate > limit->FramesPerSecond)
    fmt::print(stderr,
               "ktdac: warning: {:g} samples a second is more than this board carries ({}: "
               "{:g} frames a second at most); the late samples will show it\n",
               playing.Pace.Rate, limit->Why, limit->FramesPerSecond);

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log(nullptr, &std::fclose);
  if (!playing.Log.empty()) {
    log.reset(platform::OpenFile(playing.Log, "w"));
    if (!log) throw WriteError{"cannot write " + playing.Log + ": " + std::strerror(errno)};
    std::fputs("sample,code,deadline_s,sent_s\n", log.get());
  }
  const Dac target{&device, &PowerDown("normal"), playing.Hexadecimal};
  const StopOnSignals stopOnSignals;
  Session::Sent refused;
  wave::Road road;
  road.Stopped = [] { return StopSignal() != 0; };
  road.Send = [&](const wave::Sample& sample) {
    // The code is within the device's range: the update's reading leaves it as it is.
    const Session::Sent sent = session.SendCode(target, sample.Code);
    if (log)
      fmt::print(log.get(), "{},{},{:.9f},{:.9f}\n", sample.Index, sample.Code,
                 static_cast<double>(sample.Deadline.count()) / 1e9,
                 static_cast<double>(sample.Sent.count()) / 1e9);
    if (sent.Result.Status == 0) return true;
    refused = sent;
    return false;
  };
  const wave::Played played = wave::Play(source, playing.Pace, road);
  if (playing.Final && played.How != wave::Played::End::Refused) {
    const Session::Sent sent = session.SendCode(target, *playing.Final);
    if (sent.Result.Status != 0) refused = sent;
  }
  if (log && (std::fflush(log.get()) != 0 || std::fclose(log.release()) != 0))
    throw WriteError{"cannot write " + playing.Log + ": " + std::strerror(errno)};

  const auto rate = played.AchievedRate();
  fmt::print(out,
             "played {} samples at {} S/s (asked {:g}), {} late; lateness p50 {}, p99 {}, max {}\n",
             played.Sent, rate ? fmt::format("{:.6g}", *rate) : std::string("-"), playing.Pace.Rate,
             played.Late, Milliseconds(played.Delays.Quantile(0.5)),
             Milliseconds(played.Delays.Quantile(0.99)), Milliseconds(played.Delays.Max()));
  std::fflush(out);
  if (refused.Result.Status != 0) return Refused(refused.Result, "code " + refused.Box);
  if (played.How == wave::Played::End::Late) {
    fmt::print(stderr, "ktdac: sample {} went out more than a period late (--strict)\n",
               played.Sent - 1);
    return kLateSample;
  }
  if (const int signal = StopSignal()) return 128 + signal;
  return kSuccess;
}

}  // namespace kt::cli
