// SPDX-License-Identifier: MIT
// The MPSSE engine's commands for a USB-SPI bridge, byte for byte: the pins' levels for each
// mode, which the bed's engine does not show (what the frames carry, it does).
#include "link/mpsse.h"

#include <gtest/gtest.h>

#include "dac/device_table.h"

namespace kt::link::mpsse {
namespace {

TEST(Mpsse, AFrameIsItsBitsBetweenChipSelectLowAndHighOnTheModesEdge) {
  const Frame kt310 = dac::DeviceFrame(*dac::FindDevice("KT310"), 0, 0x1234);  // 0x001234
  struct Row {
    Wiring wiring;
    Frame frame;
    std::vector<std::uint8_t> commands;  // empty: refused
  };
  const Row rows[] = {
      {{}, kt310, {0x80, 0x00, 0x0B, 0x10, 2, 0, 0x00, 0x12, 0x34, 0x80, 0x08, 0x0B}},
      {{0, 1'000'000, 3},
       kt310,
       {0x80, 0x00, 0x0B, 0x11, 2, 0, 0x00, 0x12, 0x34, 0x80, 0x08, 0x0B}},
      {{2, 1'000'000, 3},
       kt310,
       {0x80, 0x01, 0x0B, 0x10, 2, 0, 0x00, 0x12, 0x34, 0x80, 0x09, 0x0B}},
      {{3, 1'000'000, 7},
       kt310,
       {0x80, 0x01, 0x83, 0x11, 2, 0, 0x00, 0x12, 0x34, 0x80, 0x81, 0x83}},
      {{}, {5, 0x15}, {0x80, 0, 0x0B, 0x12, 4, 0xA8, 0x80, 8, 0x0B}},
      {{}, {33, 1}, {}},
      {{}, {0, 1}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << "mode " << row.wiring.Mode << ", " << row.frame.Bits << " bits");
    std::vector<std::uint8_t> commands{0x87};  // frames are appended after what is there
    EXPECT_EQ(AppendFrame(row.wiring, row.frame, commands), !row.commands.empty());
    std::vector<std::uint8_t> expected{0x87};
    expected.insert(expected.end(), row.commands.begin(), row.commands.end());
    EXPECT_EQ(commands, expected);
  }
  const std::pair<std::uint64_t, std::vector<std::uint8_t>> idles[] = {
      {3, {0x8E, 2}},
      {2048, {0x8F, 0xFF, 0x00}},
      {8 * 65536 + 3, {0x8F, 0xFF, 0xFF, 0x8E, 2}},
      {8 * 65537, {0x8F, 0xFF, 0xFF, 0x8F, 0x00, 0x00}}};
  for (const auto& [cycles, commands] : idles) {
    std::vector<std::uint8_t> appended;
    AppendIdle(cycles, appended);
    EXPECT_EQ(appended, commands) << cycles;
  }
  EXPECT_EQ(SetupCommands({2, 1'000'000, 5}),
            (std::vector<std::uint8_t>{0x8A, 0x8D, 0x97, 0x86, 29, 0, 0x80, 0x21, 0x23, 0x85}));
}

}  // namespace
}  // namespace kt::link::mpsse
