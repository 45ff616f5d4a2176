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
#include "cli/parsing.h"
#include "cli/progress.h"
#include "cli/stop.h"
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

constexpr const char* kCsvName = "characterization.csv";

// Every file a run writes in its folder, the CSV first.
std::vector<std::string> OutputFiles() {
  std::vector<std::string> files{kCsvName, "summary.txt", "summary.json", "report.html"};
  for (const char* plot : {"error", "inl", "dnl"}) files.push_back(std::string(plot) + ".svg");
  return files;
}

// The lines that say which run a CSV belongs to; --resume continues only the same run.
std::string RunLines(const dac::DeviceProfile& device, const Settings& command) {
  return fmt::format(
      "# ktdac characterize\n# device: {}\n# vref_v: {}\n# codes: {}\n# average: {}\n",
      device.Label, *command.Vref, command.Plan.Text, command.Average);
}

constexpr std::string_view kMeterLine = "# meter: ";

// The meter that measures the run: its answer to *IDN?.
std::string MeterLine(const std::string& identity) {
  return fmt::format("{}{}\n", kMeterLine, identity);
}

// How the meter took the readings: the settle time, the query and the setup. A run continued
// with others would mix readings taken two ways.
std::string SettingsLine(const Settings& command) {
  std::string setup;
  for (const std::string& line : command.MeterSettings.Setup)
    setup += (setup.empty() ? "" : " | ") + line;
  return fmt::format("# settings: settle_s={:g}; query={}; setup={}\n",
                     std::chrono::duration<double>(command.Settle).count(),
                     meter::Printable(command.MeterSettings.Query), meter::Printable(setup));
}

std::string Columns(const Settings& command) {
  std::string columns = "code,frame_word";
  for (int i = 1; i <= command.Average; ++i) columns += fmt::format(",reading_{}_v", i);
  return columns + ",mean_v,std_v,elapsed_s\n";
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

// What an earlier run of the same command left: the codes measured, and where the last
// whole row ends (a row cut short by a hard kill is dropped).
struct Earlier {
  std::vector<dac::MeasuredCode> Points;
  double Elapsed = 0;
  std::uintmax_t WholeRows = 0;  ///< bytes up to the end of the last whole row
  /// The meter that measured them; none named in a file from before the meter was written.
  std::optional<std::string> Meter;
};

// The lines of a file and where each ends (past its LF), a CR before the LF dropped: a CSV
// an editor saved with CR LF is still the same run's.
std::vector<std::pair<std::string, std::size_t>> Lines(const std::string& text) {
  std::vector<std::pair<std::string, std::size_t>> lines;
  for (std::size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos;
       from = end + 1) {
    std::string line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.emplace_back(std::move(line), end + 1);
  }
  return lines;
}

// A whole number, the whole field.
std::optional<std::int64_t> Whole(const std::string& field) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (field.empty() || error != std::errc() || end != field.data() + field.size())
    return std::nullopt;
  return value;
}

Earlier ReadEarlier(const fs::path& csv, const dac::DeviceProfile& device,
                    const Settings& command) {
  const std::string name = Utf8(csv);
  std::error_code error;
  if (fs::is_directory(csv, error))
    throw UsageError{"--resume: " + name + " is a folder, not the CSV of a run; nothing was sent"};
  std::ifstream in(csv, std::ios::binary);
  if (!in) throw UsageError{"--resume: cannot read " + name};
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  const std::vector<std::pair<std::string, std::size_t>> lines = Lines(text);
  std::vector<std::string> header;
  std::stringstream run(RunLines(device, command));
  for (std::string line; std::getline(run, line);) header.push_back(line);
  Earlier earlier;
  const auto anotherRun = [&] {
    return UsageError{"--resume: " + name +
                      " is from another run (its device, reference, codes or averaging differ); "
                      "nothing was sent"};
  };
  for (std::size_t i = 0; i < header.size() && i < lines.size(); ++i)
    if (lines[i].first != header[i]) throw anotherRun();
  // Files from before the meter was named in them carry on without it.
  if (lines.size() > header.size() && lines[header.size()].first.rfind(kMeterLine, 0) == 0) {
    earlier.Meter = lines[header.size()].first.substr(kMeterLine.size());
    header.push_back(lines[header.size()].first);
  }
  // Files from before the settings were named carry on without them, too.
  std::string settings = SettingsLine(command);
  settings.pop_back();
  if (lines.size() > header.size() && lines[header.size()].first.rfind("# settings: ", 0) == 0) {
    if (lines[header.size()].first != settings)
      throw UsageError{"--resume: " + name + " was measured with other settings (\"" +
                       lines[header.size()].first.substr(12) + "\", and now \"" +
                       settings.substr(12) +
                       "\"): readings taken two ways would differ; nothing was sent"};
    header.push_back(settings);
  }
  std::string columns = Columns(command);
  columns.pop_back();
  header.push_back(columns);
  if (lines.size() < header.size())
    throw UsageError{"--resume: " + name +
                     " holds no row of this run (it was cut short before its first one): remove "
                     "it and run again without --resume; nothing was sent"};
  for (std::size_t i = 0; i < header.size(); ++i)
    if (lines[i].first != header[i]) throw anotherRun();
  earlier.WholeRows = lines[header.size() - 1].second;
  const std::size_t fields = 2 + static_cast<std::size_t>(command.Average) + 3;
  for (std::size_t l = header.size(); l < lines.size(); ++l) {
    std::vector<std::string> cells;
    std::stringstream row(lines[l].first);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    if (lines[l].first.back() == ',') cells.emplace_back();  // an empty last field
    const std::size_t index = earlier.Points.size();
    // The rows are read by the rules a live reading is taken by: the whole field, a finite
    // decimal number within the meter's range, codes whole.
    bool taken = cells.size() == fields && index < command.Plan.Codes.size() &&
                 Whole(cells[0]) == command.Plan.Codes[index] && Whole(cells[1]);
    for (std::size_t c = 2; taken && c < fields - 1; ++c) {
      if (c == fields - 2 && cells[c].empty() && command.Average == 1) continue;  // std_v
      taken = meter::ReadReading(cells[c], command.MeterSettings.Range).Value.has_value();
    }
    const meter::Reading elapsed = meter::ReadReading(taken ? cells[fields - 1] : "");
    if (!taken || !elapsed.Value || *elapsed.Value < 0)
      throw UsageError{fmt::format(
          "--resume: row {} of {} is not the next code of this run, as measured; nothing was "
          "sent",
          index + 1, name)};
    earlier.Points.push_back(
        {command.Plan.Codes[index], *meter::ReadReading(cells[fields - 3]).Value});
    earlier.Elapsed = *elapsed.Value;
    earlier.WholeRows = lines[l].second;
  }
  return earlier;
}

// Writes text out at once, so that a hard kill loses at most the row in hand.
void Put(std::FILE* file, const std::string& name, const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0)
    throw WriteError{"cannot write " + name + ": " + std::strerror(errno)};
}

// Writes a whole file of our own: beside it under a new name, then renamed over it, so that
// nothing is written through a link and a reader never sees half of it.
void WriteWhole(const fs::path& path, const std::string& text) {
  const fs::path aside = path.string() + ".new";
  std::error_code error;
  fs::remove(aside, error);  // one a run cut short left
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::CreateNewFile(Utf8(aside)),
                                                       &std::fclose);
  if (!file) throw WriteError{"cannot write " + Utf8(aside) + ": " + std::strerror(errno)};
  Put(file.get(), Utf8(aside), text);
  if (std::fclose(file.release()) != 0)
    throw WriteError{"cannot write " + Utf8(aside) + ": " + std::strerror(errno)};
  fs::rename(aside, path, error);
  if (error) throw WriteError{"cannot write " + Utf8(path) + ": " + error.message()};
}
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
