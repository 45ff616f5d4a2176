// SPDX-License-Identifier: MIT
// Start-up, offscreen: process start to the device window shown, and OK to the first frame.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "qt/application.h"
#include "qt/device_form.h"
#include "qt/desktop.h"

extern char** environ;

namespace {

std::string probe;

void BM_ProcessStartToDeviceWindow(benchmark::State& state) {
  for (auto _ : state) {
    pid_t child = 0;
    char* argv[] = {probe.data(), nullptr};
    if (posix_spawn(&child, probe.c_str(), nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("cannot start the probe");
      return;
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("probe failed");
  }
}
BENCHMARK(BM_ProcessStartToDeviceWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

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
  probe = KT_PROBE;
  kt::ui::Application application(argc, argv, QStringLiteral("KT310(version2)"));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kt::ui::ResetForms();
  return 0;
}
