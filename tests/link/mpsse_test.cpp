// SPDX-License-Identifier: MIT
// The MPSSE engine's commands for a USB-SPI bridge: the clock, the pins, and each frame.
#include "link/mpsse.h"

#include <gtest/gtest.h>

#include "dac/device_table.h"

namespace kt::link::mpsse {
namespace {

TEST(Mpsse, TheClockIsTheFastestAtOrBelowTheOneAsked) {
  const std::pair<std::uint32_t, std::uint16_t> rows[] = {
      {1'000'000, 29}, {30'000'000, 0}, {40'000'000, 0}, {7'000'000, 4},
      {15'000'001, 1}, {458, 65502},    {100, 65535},    {0, 65535}};
  for (const auto& [hz, divisor] : rows) {
    SCOPED_TRACE(hz);
    const Clock clock = ClockFor(hz);
    EXPECT_EQ(clock.Divisor, divisor);
    EXPECT_DOUBLE_EQ(clock.Hz, 30e6 / (divisor + 1));
  }
}

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
      {{}, {20, 0xABCDE}, {0x80, 0, 0x0B, 0x10, 1, 0, 0xAB, 0xCD, 0x12, 3, 0xE0, 0x80, 8, 0x0B}},
      {{}, {5, 0x15}, {0x80, 0, 0x0B, 0x12, 4, 0xA8, 0x80, 8, 0x0B}},
      {{}, {1, 1}, {0x80, 0, 0x0B, 0x12, 0, 0x80, 0x80, 8, 0x0B}},
      {{}, {32, -2}, {0x80, 0, 0x0B, 0x10, 3, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0x80, 8, 0x0B}},
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
  EXPECT_EQ(SetupCommands({2, 1'000'000, 5}),
            (std::vector<std::uint8_t>{0x8A, 0x8D, 0x97, 0x86, 29, 0, 0x80, 0x21, 0x23, 0x85}));
}

}  // namespace
}  // namespace kt::link::mpsse
