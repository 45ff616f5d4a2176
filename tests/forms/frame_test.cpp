// SPDX-License-Identifier: MIT
// One frame, packed and sent through the binding of the program's board to the simulated board.
#include <gtest/gtest.h>

#include "core/startup.h"
#include "link/frame_request.h"
#include "link/vendor_board.h"
#include "tests/support/test_support.h"

namespace kt::link {
namespace {

struct FrameRow {
  std::int16_t frameBits;
  std::int32_t word;
  std::int32_t value;
  std::int32_t index;
};

constexpr FrameRow kFrameRows[] = {
    {24, 0x018000, 0x8000, 0x1801},
    {24, 0x03FFFF, 0xFFFF, 0x1803},
    {24, 0, 0x0000, 0x1800},
    {16, 0x3FFF, 0x3FFF, 0x1000},
    {16, 0xD234, 0xD234, 0x1000},
    {24, 0xFFFFFF, 0xFFFF, 0x18FF},
    {24, -1, 0xFFFF, 0x18FF},
    {24, 0x12345678, 0x5678, 0x1834},
    {0, 0xAB1234, 0x1234, 0x00AB},
    {-1, 0xAB0000, 0x0000, -85},
    {300, 0x050000, 0x0000, 76805},
    {INT16_MIN, INT32_MIN, 0x0000, -8388608},
    {INT16_MAX, 0x00FFFFFF, 0xFFFF, 8388607},
};

// The packing is plain arithmetic: checked at compile time as well.
static_assert(PackFrame(24, 0x011234) == FrameRequest{0x1234, 0x1801});
static_assert(PackFrame(-1, 0xAB0000) == FrameRequest{0, -85});

TEST(SendSpiWord, PacksEveryRowIntoRequest0xDD) {
  VendorBoard& board = ProgramBoard();
  ASSERT_TRUE(board.ConnectionSucceeded(board.ConnectAndLoadFirmware()));
  test::Trace trace;
  for (const auto& row : kFrameRows) {
    EXPECT_EQ(PackFrame(row.frameBits, row.word), (FrameRequest{row.value, row.index}));
    const SentFrame sent = board.Send({row.frameBits, row.word});
    EXPECT_EQ(sent.Request, (FrameRequest{row.value, row.index})) << "what went out is reported";
    EXPECT_EQ(sent.Status, board.LinkStatus);
  }
  const auto frames = trace.Frames();
  ASSERT_EQ(frames.size(), std::size(kFrameRows));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i]["request"], 0xDD);
    EXPECT_EQ(frames[i]["value"], kFrameRows[i].value);
    EXPECT_EQ(frames[i]["index"], kFrameRows[i].index);
    EXPECT_EQ(frames[i]["frame_bits"], kFrameRows[i].frameBits);
  }
  // A 24-bit frame reaches the 16-bit DAC model; other lengths drive none.
  EXPECT_EQ(frames[0]["code"], 0x8000);
  EXPECT_EQ(frames[0]["power_down"], 1);
  EXPECT_TRUE(frames[8]["code"].is_null());
}

TEST(SendSpiWord, TraceLinesKeepTheDocumentedKeyOrder) {
  // The line the README quotes, so that grep finds it: KT310, "Tri - State", 1234.
  test::Trace trace;
  VendorBoard& board = ProgramBoard();
  ASSERT_TRUE(board.ConnectionSucceeded(board.ConnectAndLoadFirmware()));
  board.SendSpiWord(24, 0x011234);
  const auto lines = trace.Lines();
  ASSERT_FALSE(lines.empty());
  const std::string entry = board.Generation() == 2 ? "Control_Transfer" : "LinkControl";
  EXPECT_EQ(lines.back(), R"({"entry":")" + entry +
                              R"(","request":221,"value":4660,"index":6145,"frame_bits":24,)"
                              R"("word":70196,"code":4660,"power_down":1,"status":0})");
}

TEST(SendSpiWord, StoresEveryStatusUnexamined) {
  VendorBoard& board = ProgramBoard();
  ASSERT_TRUE(board.ConnectionSucceeded(board.ConnectAndLoadFirmware()));
  for (std::int16_t status : {-7, 5, 0, -32768}) {
    test::ScopedEnv forced("KT_SIM_SEND_STATUS", std::to_string(status));
    board.SendSpiWord(24, 0x1234);
    EXPECT_EQ(board.LinkStatus, status);
  }
}

TEST(SendSpiWord, BeforeAnyConnectionStillCallsTheLibrary) {
  VendorBoard& board = ProgramBoard();
  test::Trace trace;
  board.SendSpiWord(24, 0x1234);
  const auto frames = trace.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]["value"], 0x1234);
  EXPECT_LT(board.LinkStatus, 0) << "the board has no firmware yet";
}

}  // namespace
}  // namespace kt::link
