// SPDX-License-Identifier: MIT
#include "characterize/run.h"

#include <fmt/format.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "characterize/evaluation.h"
#include "characterize/run_file.h"
#include "console/parsing.h"
#include "console/progress.h"
#include "console/stop.h"
#include "core/error.h"
#include "dac/linearity.h"
#include "meter/text.h"
#include "platform/program.h"

namespace kt::characterize {

using cli::kFrameRefused;
using cli::kMeterFailure;
using cli::kRuntimeError;
using cli::kSuccess;
using cli::UsageError;
using cli::WriteError;

namespace {

namespace fs = std::filesystem;

// The mean and the sample standard deviation (none from one reading).
std::pair<double, std::optional<double>> Spread(const std::vector<double>& readings) {
  double mean = 0;
  for (const double reading : readings) mean += reading;
  mean /= static_cast<double>(readings.size());
  if (readings.size() < 2) return {mean, std::nullopt};
  double squares = 0;
  for (const double reading : readings) squares += (reading - mean) * (reading - mean);
  return {mean, std::sqrt(squares / static_cast<double>(readings.size() - 1))};
}

// The reference of the run: the one given, else the board's, which needs the board connected.
// A board that never tells one is refused before anything happens.
int TakeReference(DacUnderTest& dac, Settings& command) {
  if (!command.Vref && !dac.TellsReference())
    throw UsageError{"--vref is required: " + dac.Board() + " does not tell the DAC's reference"};
  if (!dac.TellsReference()) return kSuccess;
  if (const int status = dac.Connect(command.Vref); status != kSuccess) return status;
  command.Vref = dac.Reference(command.Vref);
  if (!command.Vref) throw UsageError{"--vref is required: " + dac.Board() + " gives no reference"};
  return kSuccess;
}

}  // namespace

meter::Settings MeterSettingsFor(const Settings& settings, double vref) {
  meter::Settings meter = settings.MeterSettings;
  if (meter.Setup.empty()) {
    double range = 1;
    while (range < vref) range *= 10;
    meter.Range = settings.MeterRange.value_or(range);
    meter.Setup = meter::DefaultSetup(*meter.Range, settings.Nplc);
  }
  return meter;
}

int Measure(DacUnderTest& dac, const Settings& asked, std::FILE* out) {
  Settings command = asked;
  const dac::DeviceProfile& device = dac.Device();
  if (const int status = TakeReference(dac, command); status != kSuccess) return status;
  command.MeterSettings = MeterSettingsFor(command, *command.Vref);
  const fs::path folder = platform::PathFromUtf8(command.Output);
  const fs::path csvPath = folder / kCsvName;
  const std::string csvName = Utf8(csvPath);
  std::error_code error;
  // A link counts as there, dangling or not: it is never followed.
  const bool exists = fs::exists(fs::symlink_status(csvPath, error));
  if (exists && !command.Resume)
    throw UsageError{csvName +
                     " exists: --resume continues that run, or choose another --output; nothing "
                     "was overwritten"};
  if (!exists && command.Resume)
    throw UsageError{"--resume: there is no " + csvName + " to continue"};
  if (fs::is_symlink(fs::symlink_status(csvPath, error)))
    throw UsageError{"--resume: " + csvName + " is a link, not the CSV of a run; nothing was sent"};
  // The folder holds only our own files: one of a user's (or a link) in the way of a new run's
  // is said, and nothing is written.
  if (!command.Resume) {
    for (const std::string& file : OutputFiles()) {
      if (fs::exists(fs::symlink_status(folder / file, error)))
        throw UsageError{Utf8(folder / file) +
                         " is in the way: the run writes its own file of that name; choose "
                         "another --output; nothing was sent or overwritten"};
    }
  }
  Earlier earlier;
  if (command.Resume) {
    earlier = ReadEarlier(csvPath, device, command);
    fs::resize_file(csvPath, earlier.WholeRows, error);
    if (error) throw WriteError{"cannot write " + csvName + ": " + error.message()};
  } else {
    fs::create_directories(folder, error);
    if (error)
      throw WriteError{"cannot write the folder " + command.Output + ": " + error.message()};
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> csv(
      command.Resume ? platform::OpenFile(csvName, "ab") : platform::CreateNewFile(csvName),
      &std::fclose);
  if (!csv) throw WriteError{"cannot write " + csvName + ": " + std::strerror(errno)};
  // Before the first row, a run that could not start leaves nothing behind to refuse a rerun.
  const auto abandon = [&] {
    if (!command.Resume && earlier.Points.empty()) {
      csv.reset();
      fs::remove(csvPath, error);
    }
  };

  const cli::StopOnSignals stopOnSignals;
  const std::size_t total = command.Plan.Codes.size();
  std::vector<dac::MeasuredCode> points = std::move(earlier.Points);
  const std::size_t resumedAt = points.size();
  const auto measured = [&] {
    return fmt::format("{} of {} codes measured, kept in {}", points.size(), total, csvName);
  };
  cli::Progress progress(static_cast<std::int64_t>(total - resumedAt), false, "codes");
  const auto meterFailed = [&](const Error& failure) {
    progress.Finish();
    fmt::print(stderr, "ktdac: {}\n", failure.what());
    if (points.empty()) {
      abandon();
    } else {
      fmt::print(stderr, "ktdac: {}; --resume continues\n", measured());
    }
    return kMeterFailure;
  };
  std::string identity;
  bool headed = command.Resume;  // the CSV names its run, and so can be continued
  try {
    meter::Meter meter(command.Meter, command.MeterSettings, [] { return cli::StopSignal() != 0; });
    // Kept as the meter sent it where that is safe, and fit to show everywhere it is shown.
    identity = meter::Printable(meter.Identity());
    Put(out, "standard output", "meter: " + identity + "\n");
    // Readings of two meters differ by their calibrations, which would show in the figures
    // as the DAC's own error at the code where one took over.
    if (earlier.Meter && identity != *earlier.Meter)
      throw UsageError{fmt::format(
          "--resume: {} was measured with the meter \"{}\", and this one answers \"{}\"; "
          "nothing was sent (another --output starts a new run)",
          csvName, *earlier.Meter, identity)};
    if (!command.Resume) {
      Put(csv.get(), csvName,
          RunLines(device, command) + MeterLine(identity) + SettingsLine(command) +
              Columns(command));
      headed = true;
    }
    meter.Configure();
    if (const int status = dac.Connect(command.Vref); status != kSuccess) {
      abandon();
      return status;
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> readings;
    while (points.size() < total && !cli::StopSignal()) {
      const std::int32_t code = command.Plan.Codes[points.size()];
      const DacUnderTest::Sent sent = dac.Send(code);
      if (sent.Status != 0) {
        // A run that measured nothing leaves nothing behind: it is not said to.
        const bool nothing = points.empty() && !command.Resume;
        fmt::print(stderr, "ktdac: the board refused the frame of code {} (status {}){}; {}\n",
                   code, sent.Status, sent.Failure.empty() ? "" : ": " + sent.Failure,
                   nothing ? "nothing was measured, and nothing kept" : measured());
        if (points.empty()) abandon();
        return kFrameRefused;
      }
      if (!cli::WaitUnlessStopped(command.Settle)) break;
      readings.clear();
      try {
        for (int i = 0; i < command.Average; ++i) readings.push_back(meter.Read());
      } catch (const Error& failure) {
        if (failure.cause() != Error::Cause::Meter) throw;
        throw Error(
            fmt::format("{} (measuring code {}{})", failure.what(), code,
                        points.empty() ? "" : fmt::format(", after code {}", points.back().Code)),
            Error::Cause::Meter);
      }
      const auto [mean, deviation] = Spread(readings);
      const double elapsed =
          earlier.Elapsed +
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::string row = fmt::format("{},{}", code, sent.Word);
      for (const double reading : readings) row += fmt::format(",{}", reading);
      row += fmt::format(",{},{},{:.6f}\n", mean, deviation ? fmt::format("{}", *deviation) : "",
                         elapsed);
      Put(csv.get(), csvName, row);
      points.push_back({code, mean});
      progress.Update(static_cast<std::int64_t>(points.size() - resumedAt));
    }
  } catch (const meter::Stopped&) {
    // A stop while the meter was awaited: the code in hand has no row.
  } catch (const WriteError&) {
    // Standard output closed before the first row: nothing is left behind to refuse a rerun.
    if (points.empty()) abandon();
    throw;
  } catch (const Error& failure) {
    if (failure.cause() != Error::Cause::Meter) throw;
    return meterFailed(failure);
  }
  progress.Finish();
  if (std::fclose(csv.release()) != 0)
    throw WriteError{"cannot write " + csvName + ": " + std::strerror(errno)};
  if (const int signal = cli::StopSignal()) {
    if (!headed) {
      abandon();
      fmt::print(stderr, "ktdac: interrupted while the meter was being reached; nothing kept\n");
    } else {
      fmt::print(stderr, "ktdac: interrupted: {}; --resume continues\n", measured());
    }
    return 128 + signal;
  }

  const RunInfo run{device.Label,  device.DataBits, *command.Vref, command.Plan.Text,
                    points.size(), command.Average, identity};
  dac::StaticFigures figures;
  try {
    figures = dac::Analyse(points, run.DataBits, run.Vref);
  } catch (const Error& error) {
    fmt::print(stderr,
               "ktdac: no figures: {}; is the meter connected to the DAC's output? The rows "
               "are kept in {}\n",
               error.what(), csvName);
    return kRuntimeError;
  }
  const std::string text = SummaryText(run, figures);
  const std::vector<Plot> plots = Plots(figures, points);
  for (const Plot& plot : plots) WriteWhole(folder / (plot.File + ".svg"), Svg(plot));
  WriteWhole(folder / "summary.txt", text);
  WriteWhole(folder / "summary.json", SummaryJson(run, figures));
  WriteWhole(folder / "report.html", ReportHtml(run, figures, plots));
  Put(out, "standard output", text + "report: " + Utf8(folder / "report.html") + "\n");
  return kSuccess;
}

}  // namespace kt::characterize
