// SPDX-License-Identifier: MIT
#include "sim/dac_model.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kt::sim {

std::optional<Frame> DecodeRequest(std::int32_t value, std::int32_t index) {
  if (value < 0 || value > 0xFFFF) return std::nullopt;
  // C++20 shifts a negative value arithmetically: a negative frame length stays negative.
  return Frame{.Bits = index >> 8, .Word = ((index & 0xFF) << 16) | value};
}

bool DacModel::Apply(const Frame& frame) {
  int dataBits = 0;
  if (frame.Bits == 16)
    dataBits = 14;
  else if (frame.Bits == 24)
    dataBits = 16;
  else
    return false;
  dataBits_ = dataBits;
  code_ = frame.Word & ((1 << dataBits) - 1);
  powerDown_ = (frame.Word >> dataBits) & 3;
  return true;
}

double OutputVolts(const Imperfections& dac, int dataBits, std::int32_t code,
                   std::int32_t powerDown) {
  if (powerDown != 0) return 0.0;
  const double last = std::ldexp(1.0, dataBits) - 1;
  const double x = code / last;
  double codes = code + 4 * dac.BowLsb * x * (1 - x);
  for (const CodeStep& step : dac.Steps)
    if (code >= step.Code) codes += step.Lsb;
  return dac.OffsetVolts + (1 + dac.Gain) * std::ldexp(dac.Vref, -dataBits) * codes;
}

namespace {

// Replaces `to` by `from`. Windows refuses while a reader holds the file open for an instant,
// so the rename is tried again for a while.
bool ReplaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

bool WriteDacState(const std::string& file, const DacState& state) {
  nlohmann::ordered_json line{{"data_bits", state.DataBits},
                              {"code", state.Code},
                              {"power_down", state.PowerDown},
                              {"previous_code", nullptr},
                              {"previous_power_down", state.PreviousPowerDown},
                              {"time_ns", state.TimeNs}};
  if (state.PreviousCode) line["previous_code"] = *state.PreviousCode;
  const std::string aside = file + ".new";
  {
    std::ofstream out(aside, std::ios::binary | std::ios::trunc);
    out << line.dump() << '\n';
    if (!out.flush()) return false;
  }
  return ReplaceFile(aside, file);
}

std::optional<DacState> ReadDacState(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  const auto line = nlohmann::json::parse(in, nullptr, false);
  if (line.is_discarded() || !line.is_object()) return std::nullopt;
  try {
    DacState state{line.at("data_bits").get<int>(),
                   line.at("code").get<std::int32_t>(),
                   line.at("power_down").get<std::int32_t>(),
                   std::nullopt,
                   line.at("previous_power_down").get<std::int32_t>(),
                   line.at("time_ns").get<std::int64_t>()};
    if (!line.at("previous_code").is_null())
      state.PreviousCode = line.at("previous_code").get<std::int32_t>();
    return state;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;  // not a state this program wrote
  }
}

namespace {

// An attribute's text as the kernel shows it, without its newline (or the 0 libiio writes).
std::optional<std::string> Attribute(const std::string& folder, const char* name) {
  std::ifstream in(folder + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text{std::istreambuf_iterator<char>(in), {}};
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace

std::optional<DacState> ReadIioState(const std::string& folder) {
  const auto raw = Attribute(folder, "out_voltage0_raw");
  const auto down = Attribute(folder, "out_voltage0_powerdown");
  if (!raw || !down) return std::nullopt;
  DacState state{16, 0, *down == "0" ? 0 : 1, std::nullopt, 0, 0};
  try {
    state.Code = std::stoi(*raw);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (const auto range = Attribute(folder, "out_voltage0_raw_available")) {
    long long low = 0, step = 0, high = 0;
    if (std::sscanf(range->c_str(), "[%lld %lld %lld]", &low, &step, &high) == 3)
      for (int bits = 1; bits < 31; ++bits)
        if (high == (1LL << bits) - 1) state.DataBits = bits;
  }
  return state;
}

}  // namespace kt::sim
