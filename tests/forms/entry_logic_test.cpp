// SPDX-License-Identifier: MIT
// The update and the format switch, through the real binding of the program's board and
// the simulated board: what the box shows afterwards and what reached the board.
#include "dac/entry_logic.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>

#include "core/startup.h"
#include "dac/device_table.h"
#include "link/vendor_board.h"
#include "tests/support/test_support.h"

namespace kt::dac {
namespace {

// Row names for the test list: the row's number and what it types.
std::string RowName(std::size_t index, std::string text) {
  for (char& c : text)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return std::to_string(index) + "_" + (text.empty() ? "empty" : text);
}

const DeviceProfile& Device(const std::string& label) {
  for (const auto& device : DeviceTable)
    if (label == device.Label) return device;
  throw std::invalid_argument(label);
}

// A connected board with the device chosen, as after a successful OK.
AppState Connected(const std::string& device) {
  AppState app;
  SetStartDefaults(app);
  SelectDevice(app, Device(device));
  link::VendorBoard& board = link::ProgramBoard();
  EXPECT_TRUE(board.ConnectionSucceeded(board.ConnectAndLoadFirmware()));
  return app;
}

struct UpdateRow {
  const char* device;
  const char* format;
  const char* entry;
  std::int32_t powerDown;
  const char* box;                   // the text afterwards; "" after a trap
  std::optional<std::int32_t> sent;  // the frame word, or nothing sent
};

const UpdateRow kUpdateRows[] = {
    {"KT310", "Hex", "", 0, "0000", 0x0},
    {"KT310", "Hex", "5", 1, "0005", 0x10005},
    {"KT310", "Hex", "abc", 0, "0ABC", 0xABC},
    {"KT310", "Hex", "7FFF", 2, "7FFF", 0x27FFF},
    {"KT310", "Hex", "1FFFF", 1, "FFFF", 0x1FFFF},
    {"KT310", "Hex", "00001234", 3, "1234", 0x31234},
    {"KT310", "Hex", "zz", 0, "", std::nullopt},
    {"KT310", "Hex", "123456789", 2, "", std::nullopt},
    {"KT300", "Hex", "3FFF", 0, "3FFF", 0x3FFF},
    {"KT300", "Hex", "4000", 0, "3FFF", 0x3FFF},
    {"KT300", "Hex", "1234", 3, "1234", 0xD234},
    {"KT300", "Hex", "", 2, "0000", 0x8000},
    {"KT310", "Dec", "65535", 0, "65535", 0xFFFF},
    {"KT310", "Dec", "70000", 0, "65535", 0xFFFF},
    {"KT310", "Dec", "-3", 1, "0", 0x10000},
    {"KT310", "Dec", "12.5", 0, "12", 0xC},
    {"KT310", "Dec", "13.5", 0, "14", 0xE},
    {"KT310", "Dec", "abc", 0, "0", 0x0},
    {"KT310", "Dec", "", 3, "0", 0x30000},
    {"KT310", "Dec", "  42abc", 0, "42", 0x2A},
    {"KT310", "Dec", "1,000", 0, "1", 0x1},
    {"KT310", "Dec", "3000000000", 1, "", std::nullopt},
    {"KT300", "Dec", "16384", 1, "16383", 0x7FFF},
    {"KT300", "Dec", "65535", 0, "16383", 0x3FFF},
    // Codes with the top bit of 16 or 32 bits set read as their unsigned value.
    {"KT310", "Hex", "8000", 0, "8000", 0x8000},
    {"KT310", "Hex", "FFFF", 3, "FFFF", 0x3FFFF},
    {"KT300", "Hex", "8000", 0, "3FFF", 0x3FFF},
    {"KT310", "Hex", "80000000", 1, "0000", 0x10000},
    {"KT310", "Hex", "FFFFFFFF", 0, "0000", 0x0},
    {"KT310", "Hex", " 12", 0, "", std::nullopt},
    {"KT310", "Dec", "&H1234", 0, "4660", 0x1234},
    {"KT310", "Dec", "&H123456789", 0, "", std::nullopt},
    {"KT310", "Dec", "2147483647.5", 0, "", std::nullopt},
};

class Update : public ::testing::TestWithParam<UpdateRow> {};

TEST_P(Update, NormalisesTheBoxAndSendsOneFrame) {
  const UpdateRow& row = GetParam();
  AppState app = Connected(row.device);
  app.EntryFormat = row.format;
  app.PowerDownCode = row.powerDown;
  app.DacWord = 0x2222;  // the previous frame word
  TextEntry box(row.entry, row.format);
  test::Trace trace;

  const EntryOutcome outcome = RunUpdate(app, box, test::ToBoard());

  EXPECT_EQ(box.Text, row.box);
  const auto frames = trace.Frames();
  if (row.sent) {
    EXPECT_TRUE(outcome.Sent);
    EXPECT_TRUE(outcome.Trapped.empty()) << outcome.Trapped;
    EXPECT_EQ(box.Focused, 0);
    EXPECT_EQ(app.DacWord, *row.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]["word"], *row.sent);
    EXPECT_EQ(frames[0]["frame_bits"], app.FrameBits);
    EXPECT_EQ(frames[0]["power_down"], row.powerDown);
    EXPECT_EQ(frames[0]["status"], 0);
  } else {
    EXPECT_FALSE(outcome.Sent);
    EXPECT_FALSE(outcome.Trapped.empty());
    EXPECT_EQ(box.Focused, 1);
    EXPECT_EQ(app.DacWord, 0x2222) << "a conversion error leaves the previous word";
    EXPECT_TRUE(frames.empty());
  }
  EXPECT_EQ(app.EntryFormat, row.format);
  EXPECT_EQ(box.Caption, row.format);
}

INSTANTIATE_TEST_SUITE_P(Rows, Update, ::testing::ValuesIn(kUpdateRows), [](const auto& info) {
  const UpdateRow& row = info.param;
  return RowName(info.index, std::string(row.device) + row.format + "_" + row.entry);
});

TEST(UpdateSequence, EmptiedBoxSendsZeroNextAndPowerDownResendsTheBox) {
  AppState app = Connected("KT310");
  TextEntry box("zz", "Hex");
  test::Trace trace;
  RunUpdate(app, box, test::ToBoard());
  EXPECT_EQ(box.Text, "");
  ChoosePowerDown(app, box, 1, test::ToBoard());  // the empty box reads as 0000
  EXPECT_EQ(box.Text, "0000");
  box.Text = "1234";
  ChoosePowerDown(app, box, 3, test::ToBoard());
  ChoosePowerDown(app, box, 0, test::ToBoard());
  const auto frames = trace.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0]["word"], 0x10000);
  EXPECT_EQ(frames[1]["word"], 0x31234);
  EXPECT_EQ(frames[2]["word"], 0x1234);
  EXPECT_EQ(frames[2]["index"], 0x1800);
}

TEST(UpdateSequence, UnknownFormatDoesNothing) {
  AppState app = Connected("KT310");
  app.EntryFormat = "hex";  // compared case-sensitively
  TextEntry box("12", "hex");
  test::Trace trace;
  const EntryOutcome outcome = RunUpdate(app, box, test::ToBoard());
  EXPECT_FALSE(outcome.Sent);
  EXPECT_EQ(box.Text, "12");
  EXPECT_TRUE(trace.Frames().empty());
}

struct ToggleRow {
  const char* caption;
  const char* entry;
  const char* after;  // caption and EntryFormat afterwards
  const char* box;    // "" when the conversion failed
};

const ToggleRow kToggleRows[] = {
    {"Hex", "0ABC", "Dec", "2748"},   {"Hex", "1FFFF", "Dec", "131071"},
    {"Hex", "0000", "Dec", "0"},      {"Dec", "2748", "Hex", "0ABC"},
    {"Dec", "70000", "Hex", "11170"}, {"Dec", "12.5", "Hex", "000C"},
    {"Dec", "abc", "Hex", "0000"},    {"Hex", "8000", "Dec", "32768"},
    {"Hex", "FFFFFFFF", "Dec", "-1"}, {"Dec", "-3", "Hex", "FFFFFFFD"},
    {"Hex", "zz", "Dec", ""},         {"Hex", "", "Dec", ""},
    {"Hex", "123456789", "Dec", ""},  {"Dec", "3000000000", "Hex", ""},
};

class Toggle : public ::testing::TestWithParam<ToggleRow> {};

TEST_P(Toggle, ConvertsWithoutClampingOrSending) {
  const ToggleRow& row = GetParam();
  AppState app = Connected("KT310");
  app.EntryFormat = row.caption;
  TextEntry box(row.entry, row.caption);
  test::Trace trace;

  const EntryOutcome outcome = ToggleFormat(app, box);

  EXPECT_EQ(box.Caption, row.after);
  EXPECT_EQ(app.EntryFormat, row.after);
  EXPECT_EQ(box.Text, row.box);
  EXPECT_EQ(box.Focused, std::string(row.box).empty() ? 1 : 0);
  EXPECT_EQ(outcome.Trapped.empty(), !std::string(row.box).empty());
  EXPECT_FALSE(outcome.Sent);
  EXPECT_TRUE(trace.Records().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, Toggle, ::testing::ValuesIn(kToggleRows), [](const auto& info) {
  return RowName(info.index, std::string(info.param.caption) + "_" + info.param.entry);
});

TEST(ComposeFrameWord, PowerDownCodeSitsJustAboveTheDataBits) {
  for (std::int16_t dataBits : {14, 16})
    for (std::int32_t code = 0; code <= 3; ++code)
      for (std::int32_t value : {0, 1, 0x1234, (1 << dataBits) - 1})
        EXPECT_EQ(ComposeFrameWord(dataBits, code, value), (code << dataBits) | value);
}

}  // namespace
}  // namespace kt::dac
