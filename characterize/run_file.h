// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "characterize/run.h"
#include "dac/device_table.h"
#include "dac/linearity.h"

// A run's folder: the CSV's lines as written row by row, an earlier run's rows read back for
// --resume, and whole files written beside and renamed over.
namespace kt::characterize {

inline constexpr const char* kCsvName = "characterization.csv";
inline constexpr std::string_view kMeterLine = "# meter: ";

/// Every file a run writes in its folder, the CSV first.
std::vector<std::string> OutputFiles();
/// The lines that say which run a CSV belongs to; --resume continues only the same run.
std::string RunLines(const dac::DeviceProfile& device, const Settings& command);
/// The meter that measures the run: its answer to *IDN?.
std::string MeterLine(const std::string& identity);
/// How the meter took the readings: the settle time, the query and the setup. A run
/// continued with others would mix readings taken two ways.
std::string SettingsLine(const Settings& command);
/// The CSV's column names.
std::string Columns(const Settings& command);
std::string Utf8(const std::filesystem::path& path);

/// What an earlier run of the same command left: the codes measured, and where the last
/// whole row ends (a row cut short by a hard kill is dropped).
struct Earlier {
  std::vector<dac::MeasuredCode> Points;
  double Elapsed = 0;
  std::uintmax_t WholeRows = 0;  ///< bytes up to the end of the last whole row
  /// The meter that measured them; none named in a file from before the meter was written.
  std::optional<std::string> Meter;
};

/// Reads the CSV of an earlier run of the same command. Raises cli::UsageError, nothing sent,
/// for a file that is not that run's or holds a row that is not as measured.
Earlier ReadEarlier(const std::filesystem::path& csv, const dac::DeviceProfile& device,
                    const Settings& command);

/// Writes text out at once, so that a hard kill loses at most the row in hand. Raises
/// cli::WriteError naming `name`.
void Put(std::FILE* file, const std::string& name, const std::string& text);
/// Writes a whole file of our own: beside it under a new name, then renamed over it, so that
/// nothing is written through a link and a reader never sees half of it. Raises
/// cli::WriteError.
void WriteWhole(const std::filesystem::path& path, const std::string& text);

}  // namespace kt::characterize
