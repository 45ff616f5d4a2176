// SPDX-License-Identifier: MIT
// Frames per second through the IIO and spidev boards, each beside the same work done bare:
// a libiio loop writing the attribute, and a loop of SPI_IOC_MESSAGE ioctls. The DACs are
// umockdev's (this program runs under umockdev-wrapper); across the network, iiod serves the
// bed on 127.0.0.1:30431 (tools/run-benchmarks.sh runs this in a network namespace of its
// own). The program's own share of a frame is the board's time less the bare loop's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ftdi.h>
#include <iio.h>
#include <linux/spi/spidev.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_spi.h"
#include "dac/device_table.h"
#include "link/ftdi_board.h"
#include "link/iio_board.h"
#include "link/spidev_board.h"
#include "tests/support/testbed.h"

extern char** environ;

namespace {

kt::test::Testbed& Bed() {
  static kt::test::Testbed bed;
  static const bool made = [] {
    bed.AddIioDac({});
    bed.AddSpidev("spidev0.0");
    bed.AddFtdi();
    return true;
  }();
  (void)made;
  return bed;
}

pid_t iiod = 0;

// iiod serving the bed, for as long as the program runs.
bool Iiod() {
  static const bool running = [] {
    Bed();
    char name[] = "iiod";
    char* argv[] = {name, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&iiod, "iiod", &actions, nullptr, argv, environ) != 0) return false;
    std::atexit([] {
      kill(iiod, SIGKILL);
      waitpid(iiod, nullptr, 0);
    });
    for (int i = 0; i < 100; ++i) {
      if (iio_context* context = iio_create_context_from_uri("ip:127.0.0.1")) {
        iio_context_destroy(context);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }();
  return running;
}

const kt::dac::DeviceProfile& Kt310() { return *kt::dac::FindDevice("KT310"); }

void BoardThroughIio(benchmark::State& state, const char* uri) {
  Bed();
  if (std::string(uri) != "local:" && !Iiod()) {
    state.SkipWithError("no iiod");
    return;
  }
  kt::link::IioBoard board(uri, "");
  if (!board.Connect(kt::link::Model{"KT310", 24, 16, {}})) {
    state.SkipWithError(board.ConnectionFailureReason().c_str());
    return;
  }
  std::int32_t code = 0;
  for (auto _ : state) {
    const kt::link::SentFrame sent = board.Send(kt::dac::DeviceFrame(Kt310(), 0, code++ & 0xFFFF));
    if (sent.Status != 0) state.SkipWithError(sent.Failure.c_str());
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BareIio(benchmark::State& state, const char* uri) {
  Bed();
  if (std::string(uri) != "local:" && !Iiod()) {
    state.SkipWithError("no iiod");
    return;
  }
  std::unique_ptr<iio_context, void (*)(iio_context*)> context(iio_create_context_from_uri(uri),
                                                               &iio_context_destroy);
  iio_channel* channel =
      iio_device_find_channel(iio_context_find_device(context.get(), "kt310"), "voltage0", true);
  std::int32_t code = 0;
  for (auto _ : state) {
    const std::string value = std::to_string(code++ & 0xFFFF);
    if (iio_channel_attr_write(channel, "raw", value.c_str()) < 0) state.SkipWithError("write");
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BoardThroughSpidev(benchmark::State& state) {
  Bed();
  kt::link::SpidevBoard board("/dev/spidev0.0", 1, 1'000'000);
  if (!board.Connect(std::nullopt)) {
    state.SkipWithError(board.ConnectionFailureReason().c_str());
    return;
  }
  std::int32_t code = 0;
  for (auto _ : state) {
    board.Send(kt::dac::DeviceFrame(Kt310(), 0, code++ & 0xFFFF));
    Bed().SpiLog();
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// A KT31x frame in normal operation as the bare ioctl sends it.
void BareTransfer(int fd, std::int32_t code) {
  BareSpiFrame(fd, code);
  Bed().SpiLog();
}

void BareSpidev(benchmark::State& state) {
  Bed();
  const int fd = open("/dev/spidev0.0", O_RDWR);
  std::int32_t code = 0;
  for (auto _ : state) BareTransfer(fd, code++ & 0xFFFF);
  close(fd);
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The program's own share of a frame, measured in pairs: a frame through the board and the
// same frame through the bare loop, one after the other (in turns, which goes first), so that
// what the machine does meanwhile falls on both. The median of the pairs' differences is the
// board's own cost; the road's is the bare frame's median. Reported as counters.
template <typename Board, typename Bare>
void Paired(benchmark::State& state, Board&& board, Bare&& bare) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> own, road;
  std::int32_t code = 0;
  for (auto _ : state) {
    const bool boardFirst = (code & 1) == 0;
    const auto t0 = Clock::now();
    boardFirst ? board(code) : bare(code);
    const auto t1 = Clock::now();
    boardFirst ? bare(code) : board(code);
    const auto t2 = Clock::now();
    const double first = std::chrono::duration<double, std::nano>(t1 - t0).count();
    const double second = std::chrono::duration<double, std::nano>(t2 - t1).count();
    own.push_back(boardFirst ? first - second : second - first);
    road.push_back(boardFirst ? second : first);
    code = (code + 1) & 0xFFFF;
  }
  const auto median = [](std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
  };
  const double ownNs = median(own);
  const double roadNs = median(road);
  state.counters["own_ns"] = ownNs;
  state.counters["road_ns"] = roadNs;
  state.counters["share_pct"] = 100 * ownNs / roadNs;
}

void ShareOfIio(benchmark::State& state, const char* uri) {
  Bed();
  if (std::string(uri) != "local:" && !Iiod()) {
    state.SkipWithError("no iiod");
    return;
  }
  kt::link::IioBoard board(uri, "");
  std::unique_ptr<iio_context, void (*)(iio_context*)> context(iio_create_context_from_uri(uri),
                                                               &iio_context_destroy);
  iio_channel* channel =
      iio_device_find_channel(iio_context_find_device(context.get(), "kt310"), "voltage0", true);
  if (!board.Connect(kt::link::Model{"KT310", 24, 16, {}}) || !channel) {
    state.SkipWithError("no DAC");
    return;
  }
  Paired(
      state, [&](std::int32_t code) { board.Send(kt::dac::DeviceFrame(Kt310(), 0, code)); },
      [&](std::int32_t code) {
        iio_channel_attr_write(channel, "raw", std::to_string(code).c_str());
      });
}

void ShareOfSpidev(benchmark::State& state) {
  Bed();
  kt::link::SpidevBoard board("/dev/spidev0.0", 1, 1'000'000);
  const int fd = open("/dev/spidev0.0", O_RDWR);
  if (!board.Connect(std::nullopt) || fd < 0) {
    state.SkipWithError("no port");
    return;
  }
  Paired(
      state,
      [&](std::int32_t code) {
        board.Send(kt::dac::DeviceFrame(Kt310(), 0, code));
        Bed().SpiLog();
      },
      [&](std::int32_t code) { BareTransfer(fd, code); });
  close(fd);
}

// Frames a second through the USB-SPI bridge, one write a frame and 64 frames a write (a
// sweep's runs), and the program's own processor time a frame, beside a bare libftdi1 loop
// writing the same bytes.
void ThroughFtdi(benchmark::State& state) {
  Bed();
  kt::link::FtdiBoard board(kt::link::FtdiChoice{});
  if (!board.Connect(std::nullopt)) {
    state.SkipWithError(board.ConnectionFailureReason().c_str());
    return;
  }
  const auto run = static_cast<std::size_t>(state.range(0));
  std::vector<kt::Frame> frames(run);
  std::int32_t code = 0;
  for (auto _ : state) {
    for (kt::Frame& frame : frames) frame = kt::dac::DeviceFrame(Kt310(), 0, code++ & 0xFFFF);
    if (board.SendRun(frames).back().Status != 0) state.SkipWithError("refused");
    Bed().FtdiLog();
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations() * run),
                                                  benchmark::Counter::kIsRate);
}

void BareFtdi(benchmark::State& state) {
  Bed();
  kt::link::FtdiBoard opened(kt::link::FtdiChoice{});  // the chip set up as the board does
  opened.Connect(std::nullopt);
  opened.Reset();
  ftdi_context* ftdi = ftdi_new();
  if (ftdi_usb_open(ftdi, 0x0403, 0x6014) != 0) {
    state.SkipWithError("no chip");
    return;
  }
  const auto run = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> bytes;
  std::int32_t code = 0;
  for (auto _ : state) {
    bytes.clear();
    for (std::size_t i = 0; i < run; ++i, ++code) {
      const std::uint8_t frame[] = {0x80,
                                    0x00,
                                    0x0B,
                                    0x10,
                                    2,
                                    0,
                                    0,
                                    static_cast<std::uint8_t>(code >> 8),
                                    static_cast<std::uint8_t>(code),
                                    0x80,
                                    0x08,
                                    0x0B};
      bytes.insert(bytes.end(), std::begin(frame), std::end(frame));
    }
    ftdi_write_data(ftdi, bytes.data(), static_cast<int>(bytes.size()));
    Bed().FtdiLog();
  }
  ftdi_usb_close(ftdi);
  ftdi_free(ftdi);
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations() * run),
                                                  benchmark::Counter::kIsRate);
}

BENCHMARK(ThroughFtdi)->Arg(1)->Arg(64)->UseRealTime();
BENCHMARK(BareFtdi)->Arg(1)->Arg(64)->UseRealTime();
BENCHMARK_CAPTURE(ShareOfIio, local, "local:")->Iterations(20000)->UseRealTime();
BENCHMARK_CAPTURE(ShareOfIio, iiod, "ip:127.0.0.1")->Iterations(20000)->UseRealTime();
BENCHMARK(ShareOfSpidev)->Iterations(20000)->UseRealTime();
BENCHMARK_CAPTURE(BoardThroughIio, local, "local:")->UseRealTime();
BENCHMARK_CAPTURE(BareIio, local, "local:")->UseRealTime();
BENCHMARK_CAPTURE(BoardThroughIio, iiod, "ip:127.0.0.1")->UseRealTime();
BENCHMARK_CAPTURE(BareIio, iiod, "ip:127.0.0.1")->UseRealTime();
BENCHMARK(BoardThroughSpidev)->UseRealTime();
BENCHMARK(BareSpidev)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
