// SPDX-License-Identifier: MIT
// Second generation: search, connect and firmware download against the simulated board.
#include <gtest/gtest.h>

#include "core/startup.h"
#include "link/board_link.h"
#include "link/boardlink_binding.h"
#include "platform/program.h"
#include "tests/test_support.h"

namespace kt::link {
namespace {

TEST(ConnectBoard, SearchesConnectsAndDownloadsTheProgramFoldersFirmware) {
  AppState app;
  SetStartDefaults(app);
  test::Trace trace;
  const std::int16_t status = ConnectAndLoadFirmware(app);

  EXPECT_EQ(status, 0);
  EXPECT_EQ(app.LinkStatus, 0);
  EXPECT_TRUE(ConnectionSucceeded(status));
  const std::string firmware = test::BesideProgram("SPI.hex");
  EXPECT_EQ(app.FirmwarePath, firmware);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(app.PathBuffer.data())), firmware);
  EXPECT_NE(app.BoardHandle, 0u);

  const auto records = trace.Records();
  ASSERT_EQ(trace.Entries(), (std::vector<std::string>{"Scan_Bus", "Open_Link", "Load_Code"}));
  EXPECT_EQ(records[0]["vendor"], kBoardVendorId);
  EXPECT_EQ(records[0]["product"], 0xB201);
  EXPECT_EQ(records[1]["board"], 1);
  EXPECT_EQ(records[2]["handle"], app.BoardHandle);
  EXPECT_EQ(records[2]["path"], firmware);

  SendSpiWord(app, 24, 0x011234);
  const auto frames = trace.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]["value"], 0x1234);
  EXPECT_EQ(frames[0]["index"], 0x1801);
  EXPECT_EQ(frames[0]["code"], 0x1234);
  EXPECT_EQ(frames[0]["power_down"], 1);
}

TEST(ConnectBoard, WithoutABoardStillOpensBoardZeroAndReportsTheDownload) {
  test::ScopedEnv noBoard("KT_SIM_BOARDS", "0");
  AppState app;
  test::Trace trace;
  const std::int16_t status = ConnectAndLoadFirmware(app);

  EXPECT_FALSE(ConnectionSucceeded(status));
  EXPECT_EQ(app.BoardHandle, 0u) << "no handle without a board";
  ASSERT_EQ(trace.Entries(), (std::vector<std::string>{"Scan_Bus", "Open_Link", "Load_Code"}));
  EXPECT_EQ(trace.Records()[1]["board"], 0);
}

TEST(ConnectBoard, OnlyStatusZeroIsSuccess) {
  for (const std::int16_t forced : {0, 1, -1, 32767, -32768}) {
    test::ScopedEnv load("KT_SIM_LOAD_STATUS", std::to_string(forced));
    AppState app;
    EXPECT_EQ(ConnectAndLoadFirmware(app), forced);
    EXPECT_EQ(app.LinkStatus, forced);
    EXPECT_EQ(ConnectionSucceeded(app.LinkStatus), forced == 0) << forced;
  }
}

TEST(ConnectBoard, RepeatedConnectionsRebuildPathAndKeepOrRenewTheHandle) {
  AppState app;
  for (int attempt = 0; attempt < 3; ++attempt) {
    test::ScopedEnv load("KT_SIM_LOAD_STATUS", "-1");
    app.PathBuffer.fill(0x55);
    EXPECT_EQ(ConnectAndLoadFirmware(app), -1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(app.PathBuffer.data())), app.FirmwarePath);
  }
  const std::uint32_t handle = app.BoardHandle;
  test::ScopedEnv noBoard("KT_SIM_BOARDS", "0");
  ConnectAndLoadFirmware(app);
  EXPECT_EQ(app.BoardHandle, handle) << "Open_Link wrote nothing, so the old handle stays";
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

}  // namespace
}  // namespace kt::link
