// SPDX-License-Identifier: MIT
#include "characterize/run_file.h"

#include <fmt/format.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "console/parsing.h"
#include "meter/text.h"
#include "platform/program.h"

namespace kt::characterize {

namespace fs = std::filesystem;
using cli::UsageError;
using cli::WriteError;

namespace {

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

}  // namespace

std::vector<std::string> OutputFiles() {
  std::vector<std::string> files{kCsvName, "summary.txt", "summary.json", "report.html"};
  for (const char* plot : {"error", "inl", "dnl"}) files.push_back(std::string(plot) + ".svg");
  return files;
}

std::string RunLines(const dac::DeviceProfile& device, const Settings& command) {
  return fmt::format(
      "# ktdac characterize\n# device: {}\n# vref_v: {}\n# codes: {}\n# average: {}\n",
      device.Label, *command.Vref, command.Plan.Text, command.Average);
}

std::string MeterLine(const std::string& identity) {
  return fmt::format("{}{}\n", kMeterLine, identity);
}

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

void Put(std::FILE* file, const std::string& name, const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0)
    throw WriteError{"cannot write " + name + ": " + std::strerror(errno)};
}

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

}  // namespace kt::characterize
