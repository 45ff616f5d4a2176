// SPDX-License-Identifier: MIT
// First generation: the firmware load through InitLink, with the library found by its bare
// name beside the program.
#include <gtest/gtest.h>

#include "link/boardio_binding.h"
#include "link/boardio_board.h"
#include "tests/support/test_support.h"

namespace kt::link {
namespace {

TEST(InitLink, LoadsTheProgramFoldersFirmwareFromTheLibraryBesideTheProgram) {
  BoardIoBoard board;
  test::Trace trace;
  const std::int16_t status = board.ConnectAndLoadFirmware();

  EXPECT_EQ(BoardIo().Library().File(), platform::LibraryFileName("BoardIO"));
  EXPECT_TRUE(board.ConnectionSucceeded(status));
  const std::string firmware = test::BesideProgram("SPI.hex");
  EXPECT_EQ(board.FirmwarePath, firmware);
  ASSERT_EQ(trace.Entries(), std::vector<std::string>{"InitLink"});
  EXPECT_EQ(trace.Records()[0]["path"], firmware);

  board.SendSpiWord(16, 0xD234);
  const auto frames = trace.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]["entry"], "LinkControl");
  EXPECT_EQ(frames[0]["value"], 0xD234);
  EXPECT_EQ(frames[0]["index"], 0x1000);
  EXPECT_EQ(frames[0]["code"], 0x1234);
  EXPECT_EQ(frames[0]["power_down"], 3);
}

TEST(InitLink, ZeroOrGreaterIsSuccess) {
  for (const std::int16_t forced : {0, 1, 32767, -1, -32768}) {
    test::ScopedEnv load("KT_SIM_LOAD_STATUS", std::to_string(forced));
    BoardIoBoard board;
    EXPECT_EQ(board.ConnectAndLoadFirmware(), forced);
    EXPECT_EQ(board.LinkStatus, forced);
    EXPECT_EQ(board.ConnectionSucceeded(board.LinkStatus), forced >= 0) << forced;
  }
}

TEST(InitLink, FailsWithoutABoardOrWithBadFirmware) {
  {
    test::ScopedEnv noBoard("KT_SIM_BOARDS", "0");
    BoardIoBoard board;
    EXPECT_FALSE(board.ConnectionSucceeded(board.ConnectAndLoadFirmware()));
  }
  std::string missing = test::BesideProgram("no-such-firmware.hex");
  std::string corrupt = test::WriteTempFile("corrupt.hex", ":10000000\n");
  EXPECT_EQ(BoardIo().InitLink(missing.data()), -2);
  EXPECT_EQ(BoardIo().InitLink(corrupt.data()), -3);
}

}  // namespace
}  // namespace kt::link
