// SPDX-License-Identifier: MIT
// The cost of one update: from entry text to the board library's return, through the real
// binding and the simulated board; the program's own part alone; and the memory of a long run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "core/startup.h"
#include "dac/device_table.h"
#include "dac/entry_logic.h"
#include "dac/readings.h"
#include "link/vendor_board.h"

namespace {

// The update's road to the board, as the main window's.
void Send(const kt::Frame& frame) { kt::link::ProgramBoard().Send(frame); }

kt::AppState& Connected() {
  static kt::AppState app = [] {
    kt::AppState state;
    kt::SetStartDefaults(state);
    kt::dac::SelectDevice(state, kt::dac::DeviceTable[1]);
    kt::link::VendorBoard& board = kt::link::ProgramBoard();
    if (!board.ConnectionSucceeded(board.ConnectAndLoadFirmware())) std::abort();
    return state;
  }();
  return app;
}

// Entry text to library return: read, clamp, write back, compose, pack, call the library.
void BM_Update(benchmark::State& state, const char* format, const char* typed) {
  kt::AppState& app = Connected();
  app.EntryFormat = format;
  kt::dac::TextEntry entry("", format);
  for (auto _ : state) {
    entry.Text = typed;
    benchmark::DoNotOptimize(kt::dac::RunUpdate(app, entry, Send));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("frames/s = items_per_second");
}
BENCHMARK_CAPTURE(BM_Update, hex, "Hex", "1234")->UseRealTime();
BENCHMARK_CAPTURE(BM_Update, dec, "Dec", "4660")->UseRealTime();

// The library call alone: SendSpiWord through the binding into the simulated board.
void BM_SendSpiWord(benchmark::State& state) {
  Connected();
  kt::link::VendorBoard& board = kt::link::ProgramBoard();
  for (auto _ : state) board.SendSpiWord(24, 0x011234);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendSpiWord)->UseRealTime();

// The program's own part of a hexadecimal update, in the update's order, without the call.
void BM_OwnPartHex(benchmark::State& state) {
  std::string box;
  for (auto _ : state) {
    box = "1234";
    std::int32_t value = kt::dac::ReadHex(box);
    if (value > 0xFFFF) value = 0xFFFF;
    if (value < 0) value = 0;
    box = kt::dac::ZeroFill4(kt::dac::HexText(value));
    const std::int32_t word = kt::dac::ComposeFrameWord(16, 1, value);
    benchmark::DoNotOptimize(kt::link::PackFrame(24, word));
    benchmark::DoNotOptimize(box);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OwnPartHex);

void BM_OwnPartDec(benchmark::State& state) {
  std::string box;
  for (auto _ : state) {
    box = "4660";
    std::int32_t value = kt::dac::RoundToInt32(kt::dac::ReadLeadingNumber(box));
    if (value > 0xFFFF) value = 0xFFFF;
    if (value < 0) value = 0;
    box = kt::dac::DecimalText(value);
    const std::int32_t word = kt::dac::ComposeFrameWord(16, 1, value);
    benchmark::DoNotOptimize(kt::link::PackFrame(24, word));
    benchmark::DoNotOptimize(box);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OwnPartDec);

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// 100,000 updates with varying codes and modes: the peak memory after 10,000 and after
// 100,000 must be the same.
void BM_PeakMemory100kUpdates(benchmark::State& state) {
  kt::AppState& app = Connected();
  app.EntryFormat = kt::kHexFormat;
  kt::dac::TextEntry entry;
  long after10k = 0;
  for (auto _ : state) {
    for (int i = 0; i < 100'000; ++i) {
      entry.Text = kt::dac::HexText(i * 7919 % 0x1FFFF);
      kt::dac::ChoosePowerDown(app, entry, i % 4, Send);
      if (i == 9'999) after10k = PeakKilobytes();
    }
  }
  state.counters["peak_kB_after_10k"] = static_cast<double>(after10k);
  state.counters["peak_kB_after_100k"] = static_cast<double>(PeakKilobytes());
}
BENCHMARK(BM_PeakMemory100kUpdates)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
