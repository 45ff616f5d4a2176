// SPDX-License-Identifier: MIT
// Second generation: search, connect and firmware download against the simulated board.
#include <gtest/gtest.h>

#include "link/boardlink_binding.h"
#include "link/boardlink_board.h"
#include "platform/program.h"
#include "tests/support/test_support.h"

namespace kt::link {
namespace {

TEST(ConnectBoard, SearchesConnectsAndDownloadsTheProgramFoldersFirmware) {
  BoardLinkBoard board;
  test::Trace trace;
  const std::int16_t status = board.ConnectAndLoadFirmware();

  EXPECT_EQ(status, 0);
  EXPECT_EQ(board.LinkStatus, 0);
  EXPECT_TRUE(board.ConnectionSucceeded(status));
  const std::string firmware = test::BesideProgram("SPI.hex");
  EXPECT_EQ(board.FirmwarePath, firmware);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(board.PathBuffer.data())), firmware);
  EXPECT_NE(board.BoardHandle, 0u);

  const auto records = trace.Records();
  ASSERT_EQ(trace.Entries(), (std::vector<std::string>{"Scan_Bus", "Open_Link", "Load_Code"}));
  EXPECT_EQ(records[0]["vendor"], kBoardVendorId);
  EXPECT_EQ(records[0]["product"], 0xB201);
  EXPECT_EQ(records[1]["board"], 1);
  EXPECT_EQ(records[2]["handle"], board.BoardHandle);
  EXPECT_EQ(records[2]["path"], firmware);

  board.SendSpiWord(24, 0x011234);
  const auto frames = trace.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]["value"], 0x1234);
  EXPECT_EQ(frames[0]["index"], 0x1801);
  EXPECT_EQ(frames[0]["code"], 0x1234);
  EXPECT_EQ(frames[0]["power_down"], 1);
}

TEST(ConnectBoard, WithoutABoardStillOpensBoardZeroAndReportsTheDownload) {
  test::ScopedEnv noBoard("KT_SIM_BOARDS", "0");
  BoardLinkBoard board;
  test::Trace trace;
  const std::int16_t status = board.ConnectAndLoadFirmware();

  EXPECT_FALSE(board.ConnectionSucceeded(status));
  EXPECT_EQ(board.BoardHandle, 0u) << "no handle without a board";
  ASSERT_EQ(trace.Entries(), (std::vector<std::string>{"Scan_Bus", "Open_Link", "Load_Code"}));
  EXPECT_EQ(trace.Records()[1]["board"], 0);
}

TEST(ConnectBoard, OnlyStatusZeroIsSuccess) {
  for (const std::int16_t forced : {0, 1, -1, 32767, -32768}) {
    test::ScopedEnv load("KT_SIM_LOAD_STATUS", std::to_string(forced));
    BoardLinkBoard board;
    EXPECT_EQ(board.ConnectAndLoadFirmware(), forced);
    EXPECT_EQ(board.LinkStatus, forced);
    EXPECT_EQ(board.ConnectionSucceeded(board.LinkStatus), forced == 0) << forced;
  }
}

TEST(ConnectBoard, RepeatedConnectionsRebuildPathAndKeepOrRenewTheHandle) {
  BoardLinkBoard board;
  for (int attempt = 0; attempt < 3; ++attempt) {
    test::ScopedEnv load("KT_SIM_LOAD_STATUS", "-1");
    board.PathBuffer.fill(0x55);
    EXPECT_EQ(board.ConnectAndLoadFirmware(), -1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(board.PathBuffer.data())),
              board.FirmwarePath);
  }
  const std::uint32_t handle = board.BoardHandle;
  test::ScopedEnv noBoard("KT_SIM_BOARDS", "0");
  board.ConnectAndLoadFirmware();
  EXPECT_EQ(board.BoardHandle, handle) << "Open_Link wrote nothing, so the old handle stays";
}

TEST(BoardLinkLibrary, ReportsMissingAndCorruptFirmwareFiles) {
  BoardLinkBinding& library = BoardLink();
  std::uint8_t boards[128] = {};
  std::int32_t count = 0;
  std::uint32_t handle = 0;
  library.Scan_Bus(kBoardVendorId, kBoardProductId, &count, boards);
  library.Open_Link(kBoardVendorId, kBoardProductId, boards[0], &handle);
  EXPECT_EQ(count, 1);

  std::string missing = test::BesideProgram("no-such-firmware.hex");
  std::string corrupt = test::WriteTempFile("corrupt.hex", ":0100000001FF\n:00000001FF\n");
  EXPECT_EQ(library.Load_Code(handle, missing.data()), -2);
  EXPECT_EQ(library.Load_Code(handle, corrupt.data()), -3);
  EXPECT_EQ(library.Load_Code(handle + 1, corrupt.data()), -1) << "unknown handle";
}

// Only the step that failed is named: the search, the connection, or, once the board was found
// and connected, the firmware it did not take.
TEST(ConnectBoard, AFailedConnectionNamesTheStepThatFailedAndOnlyThatOne) {
  struct Row {
    ConnectionSteps steps;
    const char* diagnosis;
  };
  const Row rows[] = {
      {{-1, -1, -1}, "Communication Failure - Check USB connections: the board search returned -1"},
      {{0, -4, -1}, "Communication Failure - Check USB connections: the connection returned -4"},
      {{0, 0, -3},
       "the firmware load returned -3, loading /f/SPI.hex: the board was found and connected but "
       "did not take this firmware"},
  };
  VendorBoard& board = ProgramBoard();
  for (const Row& row : rows) {
    board.Steps = row.steps;
    board.FirmwarePath = "/f/SPI.hex";
    EXPECT_EQ(board.ConnectionDiagnosis().rfind(row.diagnosis, 0), 0u)
        << board.ConnectionDiagnosis();
  }
}

}  // namespace
}  // namespace kt::link
