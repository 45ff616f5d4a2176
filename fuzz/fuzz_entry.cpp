// SPDX-License-Identifier: MIT
// Sequences of device choices, power-down choices, typed texts, updates and format switches
// against the simulated board, through the real binding. After every update the box holds
// four upper-case hexadecimal digits or a decimal number within 0..Max, or is empty after a
// trap; a frame reached the board exactly when the box was not emptied; the word carries
// the power-down code in the two bits above the data bits and nothing above them; the
// format button's caption and EntryFormat always agree.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/startup.h"
#include "dac/device_table.h"
#include "dac/entry_logic.h"
#include "link/board_link.h"

namespace {

std::string trace;

// The frames the board received since the trace was last emptied.
std::vector<nlohmann::json> Frames() {
  std::vector<nlohmann::json> frames;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    auto record = nlohmann::json::parse(line);
    if (record["entry"] == "Control_Transfer") frames.push_back(record);
  }
  return frames;
}

bool IsNormalised(const std::string& text, const std::string& format, std::int32_t max,
                  std::int32_t& value) {
  if (format == kt::kHexFormat) {
    if (text.size() != 4) return false;
    for (char c : text)
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    value = static_cast<std::int32_t>(std::stoul(text, nullptr, 16));
  } else {
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return false;
    for (char c : text)
      if (c < '0' || c > '9') return false;
    value = std::stoi(text);
  }
  return value <= max;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  trace = "/tmp/kt_fuzz_entry_" + std::to_string(::getpid()) + ".jsonl";
  setenv("KT_SIM_TRACE", trace.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kt::AppState app = [] {
    kt::AppState state;
    kt::SetStartDefaults(state);
    if (!kt::link::ConnectionSucceeded(kt::link::ConnectAndLoadFirmware(state))) std::abort();
    return state;
  }();
  kt::dac::TextEntry view("0", app.EntryFormat);
  std::size_t at = 0;
  auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };

  while (at < size) {
    std::remove(trace.c_str());
    view.Focused = 0;
    const std::uint8_t op = next() % 5;
    kt::dac::EntryOutcome outcome;
    bool updated = false;
    if (op == 0) {
      kt::dac::SelectDevice(app, kt::dac::DeviceTable[next() % 5]);
    } else if (op == 1) {
      outcome = kt::dac::ChoosePowerDown(app, view, next() % 4);
      updated = true;
    } else if (op == 2) {
      const std::size_t length = next() % 12;
      view.Text.clear();
      for (std::size_t i = 0; i < length && at < size; ++i)
        view.Text.push_back(static_cast<char>(next()));
    } else if (op == 3) {
      outcome = kt::dac::RunUpdate(app, view);
      updated = true;
    } else {
      outcome = kt::dac::ToggleFormat(app, view);
      if (!Frames().empty() || outcome.Sent) std::abort();
      // A text that cannot be converted is trapped as an update's: box emptied, focus in it.
      if (!outcome.Trapped.empty() && (!view.Text.empty() || view.Focused != 1)) std::abort();
    }
    if (view.Caption != app.EntryFormat) std::abort();
    if (!updated) continue;

    const auto frames = Frames();
    const std::int32_t max = (1 << app.DataBits) - 1;
    if (!outcome.Trapped.empty()) {
      if (!view.Text.empty() || !frames.empty() || outcome.Sent || view.Focused != 1) std::abort();
      continue;
    }
    std::int32_t value = 0;
    if (!IsNormalised(view.Text, app.EntryFormat, max, value)) std::abort();
    if (!outcome.Sent || frames.size() != 1) std::abort();
    const std::int32_t word = frames[0]["word"];
    if (word != ((app.PowerDownCode << app.DataBits) | value)) std::abort();
    if ((word >> (app.DataBits + 2)) != 0) std::abort();
    if (frames[0]["frame_bits"] != app.FrameBits) std::abort();
  }
  return 0;
}
