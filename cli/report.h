// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What ktdac prints about a frame and a model, for people and for scripts. Knows no
// generation.
namespace kt::cli {

/// How `list` and `set` print: aligned text, CSV with a header, or one JSON object a line.
enum class Output { Text, Csv, Json };

/// Reads "text", "csv" or "json" in any case. Raises UsageError.
Output ParseOutput(const std::string& name);

/// @brief One frame as a script sees it: what was asked for and what went out.
struct FrameRecord {
  std::string Device;     ///< model label, "KT310"
  std::string Mode;       ///< power-down name as the options take it, "tri-state"
  std::int64_t Code = 0;  ///< the checked code, before the window's clamping
  std::int32_t Word = 0;  ///< the frame word sent
  /// The library request's value and index fields; none on a board without the library.
  std::optional<std::uint16_t> Value, Index;
  std::int16_t Status = 0;        ///< the board's status for the frame (0: sent)
  std::optional<double> Elapsed;  ///< seconds since the sweep began (sweeps only)
  bool HasVref = false;           ///< a reference voltage was given: the output column is there
  std::optional<double> Volts;    ///< ideal output; none while powered down
};

/// The CSV header for records with (or without) the elapsed and output columns.
std::string CsvHeader(bool elapsed, bool vref);
std::string CsvRow(const FrameRecord& record);
std::string JsonLine(const FrameRecord& record);

/// @brief One model of the `list` table.
struct ModelRecord {
  const char* Device;
  int FrameBits, DataBits;
};

std::string ModelHeader(Output output);
std::string ModelLine(Output output, const ModelRecord& model);

}  // namespace kt::cli
