// SPDX-License-Identifier: MIT
// Start-up, offscreen: process start to the device window shown, and OK to the first frame.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "qt/application.h"
#include "qt/desktop.h"
#include "qt/device_form.h"

extern char** environ;

namespace {

// One run of a probe: the times from just before it is started to the moment it reports
// (for the program's probe, the device window on screen) and to its end, in seconds;
// nothing when it failed.
struct ProbeRun {
  double Reported = 0, Ended = 0;
};
std::optional<ProbeRun> RunProbe(const char* program, const char* option) {
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string name = program, argument = option ? option : "";
  char* argv[] = {name.data(), option ? argument.data() : nullptr, nullptr};
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[64];
  for (ssize_t n; spawned == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  waitpid(child, &status, 0);
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) return std::nullopt;
  const auto seconds = [](const timespec& t) { return t.tv_sec + t.tv_nsec * 1e-9; };
  return ProbeRun{std::stoll(text) * 1e-9 - seconds(start), seconds(end) - seconds(start)};
}

// Times runs of a probe up to one of its moments.
void TimeProbe(benchmark::State& state, double ProbeRun::*until, const char* program,
               const char* option = nullptr) {
  for (auto _ : state) {
    const auto run = RunProbe(program, option);
    if (!run) {
      state.SkipWithError("the probe failed");
      return;
    }
    state.SetIterationTime((*run).*until);
  }
}

// What a user waits for: from the program's start to its first window on screen.
void BM_ProcessStartToDeviceWindow(benchmark::State& state) {
  TimeProbe(state, &ProbeRun::Reported, KT_PROBE);
}
BENCHMARK(BM_ProcessStartToDeviceWindow)->Unit(benchmark::kMillisecond)->UseManualTime();

// The same run to the probe's end: its teardown (the application object, the fonts, the
// libraries unloading) included, which the user does not wait for at start.
void BM_ProcessStartToExit(benchmark::State& state) {
  TimeProbe(state, &ProbeRun::Ended, KT_PROBE);
}
BENCHMARK(BM_ProcessStartToExit)->Unit(benchmark::kMillisecond)->UseManualTime();

// The floor under the first: a Qt program of nothing but one label, to its window on screen,
// and the same program to its main. The program's own share of its start-up is the first
// row less this one; what lies under this one is the machine's and Qt's.
void BM_BareQtStartToWindow(benchmark::State& state) {
  TimeProbe(state, &ProbeRun::Reported, KT_BARE_PROBE);
}
BENCHMARK(BM_BareQtStartToWindow)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_BareQtStartToMain(benchmark::State& state) {
  TimeProbe(state, &ProbeRun::Reported, KT_BARE_PROBE, "--main");
}
BENCHMARK(BM_BareQtStartToMain)->Unit(benchmark::kMillisecond)->UseManualTime();

// OK runs the connection and firmware load, closes the device window, builds the main
// window and sends its first frame, all inside the one click.
void BM_OkToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    kt::ui::ResetForms();
    kt::ui::Main(kt::link::ProgramBoard());
    QPushButton* ok = kt::ui::ExistingDeviceForm()->Command1;
    state.ResumeTiming();
    ok->click();
  }
}
BENCHMARK(BM_OkToFirstFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  kt::ui::Application application(argc, argv, QStringLiteral("KT310(version2)"));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kt::ui::ResetForms();
  return 0;
}
