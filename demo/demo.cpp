// SPDX-License-Identifier: MIT
//
// A console run of the evaluation flow: start-up defaults, a device choice, the connection
// and firmware load, then a few updates as the main window makes them, each printed with
// the frame it sent.

#include <cstdio>
#include <string>

#include "core/error.h"
#include "core/startup.h"
#include "dac/device_table.h"
#include "dac/entry_logic.h"
#include "dac/power_down.h"
#include "link/vendor_board.h"

namespace {

struct Step {
  const char* Device;
  const char* Typed;
  int PowerDownOption;  // index into kPowerDownModes
  bool ToggleFirst;
};

constexpr Step kSteps[] = {
    {"KT310", "1234", 2, false}, {"KT310", "1FFFF", 0, false}, {"KT310", "zz", 0, false},
    {"KT310", "2748", 3, true},  {"KT300", "4000", 1, true},   {"KT300", "1234", 3, false},
};

}  // namespace

int main() {
  kt::AppState app;
  kt::SetStartDefaults(app);
  kt::dac::TextEntry entry;
  kt::link::VendorBoard& board = kt::link::ProgramBoard();
  try {
    std::printf("Board library: %s\n", board.LibraryFile().c_str());
    kt::dac::SelectDevice(app, kt::dac::DeviceTable[1]);
    const std::int16_t status = board.ConnectAndLoadFirmware();
    std::printf("Firmware %s: status %d, %s\n", board.FirmwarePath.c_str(), status,
                board.ConnectionSucceeded(status)
                    ? "connected"
                    : "Communication Failure - Check USB connections");
    if (!board.ConnectionSucceeded(status)) return 1;

    for (const Step& step : kSteps) {
      for (const auto& device : kt::dac::DeviceTable)
        if (std::string(device.Label) == step.Device) kt::dac::SelectDevice(app, device);
      if (step.ToggleFirst) kt::dac::ToggleFormat(app, entry);
      entry.Text = step.Typed;
      const auto& mode = kt::dac::kPowerDownModes[static_cast<std::size_t>(step.PowerDownOption)];
      kt::link::SentFrame sent;
      const auto outcome = kt::dac::ChoosePowerDown(
          app, entry, mode.Code, [&](const kt::Frame& frame) { sent = board.Send(frame); });
      std::printf("%-5s %s %-8s %-16s -> ", step.Device, app.EntryFormat.c_str(), step.Typed,
                  mode.Caption);
      if (!outcome.Sent) {
        std::printf("box emptied, nothing sent (%s)\n", outcome.Trapped.c_str());
        continue;
      }
      const kt::link::FrameRequest request = sent.Request.value_or(kt::link::FrameRequest{});
      std::printf("box \"%s\", word 0x%06X, request 0x%02X value 0x%04X index 0x%04X, status %d\n",
                  entry.Text.c_str(), static_cast<unsigned>(app.DacWord),
                  kt::link::kSpiFrameRequest, static_cast<unsigned>(request.value),
                  static_cast<unsigned>(request.index), sent.Status);
    }
  } catch (const kt::Error& error) {
    std::fprintf(stderr, "error: %s\n", error.what());
    return 3;
  }
  return 0;
}
