// SPDX-License-Identifier: MIT
// The highest rate ktdac play holds on the IIO sysfs and spidev roads, beside the bare write
// loop on the same road: libiio writing `raw`, and SPI_IOC_MESSAGE ioctls of the frame's
// bytes, each as fast as it goes. The DACs are umockdev's (run under umockdev-wrapper), so the
// roads' costs are the bed's; the bare loop runs in a process of its own, as ktdac does, since
// the bed answers a spidev ioctl from another process more slowly than from its own, and with
// the thread's timer slack at 1 ns as ktdac play sets it (umockdev's emulated ioctl sleeps for
// 0 ns, which costs more at that slack; the default slack's figure is given beside). A rate
// is held when the run's achieved rate is within 0.5 % of it and half its samples at least
// went out within a period of their deadlines (the stream keeps up: one that cannot falls
// further behind with every sample); rates are tried from the bare loop's down, in steps of
// 5 %.
//
// usage: umockdev-wrapper kt_play_roads [SECONDS]
#include <fcntl.h>
#include <iio.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "bench/bare_spi.h"
#include "tests/support/testbed.h"

namespace {

using Clock = std::chrono::steady_clock;

// Writes for a second as fast as they go, three times; the median rate.
double BareLoop(const std::function<void(int)>& write) {
  std::vector<double> rates;
  for (int run = 0; run < 3; ++run) {
    int frames = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(1)) write(frames++ & 0xFFFF);
    rates.push_back(frames / std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(rates.begin(), rates.end());
  return rates[1];
}

struct Run {
  bool held;
  std::string line;
};

std::string folder;  // this program's, where ktdac is

std::string Output(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  for (char chunk[512]; pipe && std::fgets(chunk, sizeof chunk, pipe);) out += chunk;
  status = pipe ? pclose(pipe) : -1;
  return out;
}

// The bare loop's rate on a road, from a process of its own, at a timer slack.
double BareRate(const std::string& road, const char* slack) {
  int status = 0;
  const std::string out = Output(folder + "kt_play_roads --bare " + road + " " + slack, status);
  return status == 0 ? std::stod(out) : 0;
}

Run PlayAt(const std::string& board, double rate, const std::string& seconds) {
  char command[512];
  std::snprintf(command, sizeof command,
                "%sktdac --board %s play --no-buffer --rate %.0f --shape ramp --frequency 1 "
                "--duration %ss 2>&1",
                folder.c_str(), board.c_str(), rate, seconds.c_str());
  int status = 0;
  const std::string out = Output(command, status);
  std::smatch match;
  if (status != 0 ||
      !std::regex_search(
          out, match,
          std::regex(
              R"(played (\d+) samples at ([\d.e+]+) S/s \(asked ([\d.e+]+)\), (\d+) late; lateness p50 ([\d.]+) ms)")))
    return {false, out};
  const double achieved = std::stod(match[2]), p50 = std::stod(match[5]) / 1000;
  return {std::abs(achieved / rate - 1) <= 0.005 && p50 <= 1 / rate, out.substr(0, out.find('\n'))};
}

void Road(const char* name, const std::string& board, const std::string& road,
          const std::string& seconds) {
  const double bare = BareRate(road, "1");
  std::printf(
      "%s: bare write loop %.0f frames/s at ktdac play's timer slack of 1 ns (%.0f at "
      "the default 50 us)\n",
      name, bare, BareRate(road, "50000"));
  for (double fraction = 1.0; fraction >= 0.449; fraction -= 0.05) {
    const Run run = PlayAt(board, bare * fraction, seconds);
    std::printf("  %3.0f %%: %s %s\n", 100 * fraction, run.held ? "held" : "not held",
                run.line.c_str());
    std::fflush(stdout);
    if (run.held) {
      std::printf("%s: ktdac play holds %.0f S/s, %.0f %% of the bare loop\n", name,
                  bare * fraction, 100 * fraction);
      return;
    }
  }
  std::printf("%s: ktdac play holds no rate above 45 %% of the bare loop\n", name);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string self = argv[0];
  folder = self.substr(0, self.rfind('/') + 1);
  if (argc == 4 && std::string(argv[1]) == "--bare") {
    // The bed is the parent's (UMOCKDEV_DIR).
    prctl(PR_SET_TIMERSLACK, std::atol(argv[3]));
    double rate = 0;
    if (std::string(argv[2]) == "iio") {
      std::unique_ptr<iio_context, void (*)(iio_context*)> context(iio_create_local_context(),
                                                                   &iio_context_destroy);
      iio_channel* channel =
          context ? iio_device_find_channel(iio_context_find_device(context.get(), "kt310"),
                                            "voltage0", true)
                  : nullptr;
      if (!channel) return 1;
      rate = BareLoop(
          [&](int code) { iio_channel_attr_write(channel, "raw", std::to_string(code).c_str()); });
    } else {
      const int fd = open("/dev/spidev0.0", O_RDWR);
      if (fd < 0) return 1;
      rate = BareLoop([&](int code) { BareSpiFrame(fd, code); });
      close(fd);
    }
    std::printf("%.1f\n", rate);
    return 0;
  }
  const std::string seconds = argc > 1 ? argv[1] : "2";
  kt::test::Testbed bed;
  bed.AddIioDac({});
  bed.AddSpidev("spidev0.0");
  if (BareRate("iio", "1") <= 0) {
    std::fprintf(stderr, "no IIO DAC in the bed: run under umockdev-wrapper\n");
    return 1;
  }
  Road("IIO sysfs (local:)", "iio:local:", "iio", seconds);
  Road("spidev", "spidev:/dev/spidev0.0", "spidev", seconds);
  bed.SpiLog();
  return 0;
}
