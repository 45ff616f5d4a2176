// SPDX-License-Identifier: MIT
#include "cli/report.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "console/parsing.h"

namespace kt::cli {

Output ParseOutput(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "text") return Output::Text;
  if (lower == "csv") return Output::Csv;
  if (lower == "json") return Output::Json;
  throw UsageError{"--output is text, csv or json, not \"" + name + "\""};
}

std::string CsvHeader(bool elapsed, bool vref) {
  return fmt::format(
      "device,power_down,code,frame_word,request_value,request_index,board_status{}{}\n",
      elapsed ? ",elapsed_s" : "", vref ? ",output_v" : "");
}

std::string CsvRow(const FrameRecord& record) {
  const auto field = [](const std::optional<std::uint16_t>& value) {
    return value ? std::to_string(*value) : std::string();
  };
  std::string row =
      fmt::format("{},{},{},{},{},{},{}", record.Device, record.Mode, record.Code, record.Word,
                  field(record.Value), field(record.Index), record.Status);
  if (record.Elapsed) row += fmt::format(",{:.6f}", *record.Elapsed);
  // Powered down, the output column stays empty: no ideal voltage to give.
  if (record.HasVref) row += record.Volts ? fmt::format(",{:.6f}", *record.Volts) : ",";
  return row + '\n';
}

std::string JsonLine(const FrameRecord& record) {
  const auto field = [](const std::optional<std::uint16_t>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
  };
  nlohmann::ordered_json line{
      {"device", record.Device},
      {"power_down", record.Mode},
      {"code", record.Code},
      {"frame_word", record.Word},
      {"request_value", field(record.Value)},
      {"request_index", field(record.Index)},
      {"board_status", record.Status},
  };
  if (record.Elapsed) line["elapsed_s"] = *record.Elapsed;
  if (record.HasVref)
    line["output_v"] = record.Volts ? nlohmann::ordered_json(*record.Volts) : nullptr;
  return line.dump() + '\n';
}

std::string ModelHeader(Output output) {
  switch (output) {
    case Output::Text:
      return fmt::format("{:<7}{:>11}{:>11}\n", "model", "frame bits", "data bits");
    case Output::Csv:
      return "device,frame_bits,data_bits\n";
    case Output::Json:
      break;
  }
  return "";
}

std::string ModelLine(Output output, const ModelRecord& model) {
  switch (output) {
    case Output::Text:
      return fmt::format("{:<7}{:>11}{:>11}\n", model.Device, model.FrameBits, model.DataBits);
    case Output::Csv:
      return fmt::format("{},{},{}\n", model.Device, model.FrameBits, model.DataBits);
    case Output::Json:
      break;
  }
  return nlohmann::ordered_json{{"device", model.Device},
                                {"frame_bits", model.FrameBits},
                                {"data_bits", model.DataBits}}
             .dump() +
         '\n';
}

}  // namespace kt::cli
