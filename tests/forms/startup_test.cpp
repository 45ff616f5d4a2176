// SPDX-License-Identifier: MIT
#include "core/startup.h"

#include <gtest/gtest.h>

#include "dac/device_table.h"
#include "link/vendor_board.h"
#include "platform/version.h"
#include "tests/support/test_support.h"

namespace kt {
namespace {

TEST(Startup, DefaultsThenTheDeviceChoiceSetsFrameAndDataBitsAsAPair) {
  AppState app;
  SetStartDefaults(app);
  EXPECT_EQ(app.EntryFormat, "Hex");
  EXPECT_EQ(app.FrameBits, 24);
  EXPECT_EQ(app.DataBits, 16);
  EXPECT_EQ(app.PowerDownCode, 0);
  EXPECT_EQ(app.DacWord, 0);
  const link::VendorBoard& board = link::ProgramBoard();
  EXPECT_EQ(board.LinkStatus, 0);
  EXPECT_TRUE(board.FirmwarePath.empty());
  EXPECT_EQ(board.PathBuffer, link::PathBufferBytes{});

  const std::pair<const char*, std::pair<int, int>> choices[] = {
      {"KT300", {16, 14}}, {"KT312", {24, 16}}, {"KT300", {16, 14}},
      {"KT313", {24, 16}}, {"KT310", {24, 16}}, {"KT311", {24, 16}},
  };
  for (const auto& [label, bits] : choices) {
    for (const auto& device : dac::DeviceTable)
      if (std::string(device.Label) == label) dac::SelectDevice(app, device);
    EXPECT_EQ((std::pair<int, int>(app.FrameBits, app.DataBits)), bits) << label;
  }
}

TEST(Startup, ProgramFileVersionIsTheGenerationsOwn) {
  const platform::FileVersion version = platform::ProgramFileVersion();
  EXPECT_EQ(std::to_string(version.Major) + "." + std::to_string(version.Minor) + "." +
                std::to_string(version.Build) + "." + std::to_string(version.Revision),
            test::ExpectedFileVersion());
}

}  // namespace
}  // namespace kt
