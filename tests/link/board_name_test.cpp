// SPDX-License-Identifier: MIT
// What --board takes, the same in every program.
#include "link/board_name.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "core/error.h"
#include "forms/program.h"
#include "link/vendor_board.h"

namespace kt::link {
namespace {

TEST(BoardName, ReadsEachRoadAndRefusesWhatNamesNoBoard) {
  using Kind = BoardName::Kind;
  struct Row {
    const char* text;
    Kind road;
    const char* where;  // the URI or the path
    const char* device;
    int mode;
    std::uint32_t hz;
    const char* refused;  // a part of the message, or nullptr when taken
  };
  const Row rows[] = {
      {"", Kind::Library, "", "", 1, 1000000, nullptr},
      {"iio:local:", Kind::Iio, "local:", "", 1, 1000000, nullptr},
      {"iio:ip:raspberrypi.local,device=ad5686", Kind::Iio, "ip:raspberrypi.local", "ad5686", 1,
       1000000, nullptr},
      {"spidev:/dev/spidev0.1", Kind::Spidev, "/dev/spidev0.1", "", 1, 1000000, nullptr},
      {"spidev:/dev/spidev1.0,mode=2,hz=250000", Kind::Spidev, "/dev/spidev1.0", "", 2, 250000,
       nullptr},
      {"spidev:/dev/spidev0.0,hz=1000,mode=0", Kind::Spidev, "/dev/spidev0.0", "", 0, 1000,
       nullptr},
      {"spidev:/dev/spidev0.0,hz=50000000", Kind::Spidev, "/dev/spidev0.0", "", 1, 50000000,
       nullptr},
      {"iio:", Kind::Iio, "", "", 1, 0, "name the IIO context"},
      {"iio:local:,device=", Kind::Iio, "", "", 1, 0, "device= names nothing"},
      {"iio:local:,mode=1", Kind::Iio, "", "", 1, 0, "unknown setting \"mode=1\" (device=NAME)"},
      {"spidev:spidev0.0", Kind::Spidev, "", "", 1, 0, "by its path"},
      {"spidev:/dev/spidev0.0,mode=4", Kind::Spidev, "", "", 1, 0,
       "mode=4 is not a whole number from 0 to 3"},
      {"spidev:/dev/spidev0.0,mode=-1", Kind::Spidev, "", "", 1, 0, "mode=-1 is not"},
      {"spidev:/dev/spidev0.0,mode=1x", Kind::Spidev, "", "", 1, 0, "mode=1x is not"},
      {"spidev:/dev/spidev0.0,hz=999", Kind::Spidev, "", "", 1, 0, "from 1000 to 50000000"},
      {"spidev:/dev/spidev0.0,hz=50000001", Kind::Spidev, "", "", 1, 0, "hz=50000001 is not"},
      {"spidev:/dev/spidev0.0,hz=", Kind::Spidev, "", "", 1, 0, "hz= is not"},
      {"spidev:/dev/spidev0.0,speed=5", Kind::Spidev, "", "", 1, 0, "unknown setting \"speed=5\""},
      {"usb:1.2.3", Kind::Library, "", "", 1, 0, "\"usb:1.2.3\" names no board"},
      {"spidev:/dev/spidev0.0,mode=1,mode=2", Kind::Spidev, "", "", 1, 0,
       "mode= is given more than once"},
      {"spidev:/dev/spidev0.0,hz=1000,mode=1,hz=1000", Kind::Spidev, "", "", 1, 0,
       "hz= is given more than once"},
      {"iio:local:,device=a,device=b", Kind::Iio, "", "", 1, 0, "device= is given more than once"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    if (row.refused) {
      try {
        ReadBoardName(row.text);
        ADD_FAILURE() << "taken";
      } catch (const Error& error) {
        EXPECT_NE(std::string(error.what()).find(row.refused), std::string::npos) << error.what();
      }
      continue;
    }
    const BoardName named = ReadBoardName(row.text);
    EXPECT_EQ(named.Road, row.road);
    EXPECT_EQ(row.road == Kind::Spidev ? named.Path : named.Uri, row.where);
    EXPECT_EQ(named.Device, row.device);
    EXPECT_EQ(named.Mode, row.mode);
    EXPECT_EQ(named.Hz, row.hz);
  }
}

TEST(BoardName, ReadsAUsbSpiBridgeAndItsWiring) {
  struct Row {
    const char* text;
    const char* taken;    // vid:pid serial index interface mode hz cs, as the test prints them
    const char* refused;  // a part of the message, or nullptr when taken
  };
  const Row rows[] = {
      {"ftdi:", "0403:6014 - - A 1 1000000 3", nullptr},
      {"ftdi:0403:6010,serial=FT12,index=1,interface=B,mode=0,hz=30000000,cs=7",
       "0403:6010 FT12 1 B 0 30000000 7", nullptr},
      {"ftdi:0403:6014,hz=458", "0403:6014 - - A 1 458 3", nullptr},
      {"ftdi:0403", nullptr, "by its USB ids in hexadecimal"},
      {"ftdi:0403:60144", nullptr, "by its USB ids"},
      {"ftdi:x:6014", nullptr, "by its USB ids"},
      {"ftdi:,hz=457", nullptr, "hz=457 is not a whole number from 458 to 30000000"},
      {"ftdi:,cs=2", nullptr, "cs=2 is not a whole number from 3 to 7"},
      {"ftdi:,index=128", nullptr, "index=128 is not a whole number from 0 to 127"},
      {"ftdi:,interface=E", nullptr, "interface=E is not A, B, C or D"},
      {"ftdi:,serial=", nullptr, "serial= names nothing"},
      {"ftdi:,mode=1,mode=1", nullptr, "mode= is given more than once"},
      {"ftdi:,speed=1", nullptr, "unknown setting \"speed=1\" (serial=S, index=N"},
      {"ftdi:,cs", nullptr, "unknown setting \"cs\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    try {
      const BoardName named = ReadBoardName(row.text);
      const FtdiChoice& chip = named.Ftdi;
      char taken[128];
      std::snprintf(taken, sizeof taken, "%04x:%04x %s %s %c %d %u %d", chip.Vid, chip.Pid,
                    chip.Serial.empty() ? "-" : chip.Serial.c_str(),
                    chip.Index ? std::to_string(*chip.Index).c_str() : "-", chip.Interface,
                    chip.Wiring.Mode, chip.Wiring.Hz, chip.Wiring.ChipSelect);
      EXPECT_EQ(named.Road, BoardName::Kind::Ftdi);
      EXPECT_EQ(row.taken ? row.taken : "refused", std::string(taken));
    } catch (const Error& error) {
      ASSERT_TRUE(row.refused) << error.what();
      EXPECT_NE(std::string(error.what()).find(row.refused), std::string::npos) << error.what();
    }
  }
}

TEST(BoardName, TheWindowsTakeItInEitherSpellingAndSayWhatIsWrongBeforeTheUsage) {
  using Kind = BoardName::Kind;
  struct Row {
    std::vector<std::string> arguments;
    Kind road;
    bool spiTest;
    const char* problem;  // empty when the arguments are taken
  };
  const Row rows[] = {
      {{"--board", "iio:local:"}, Kind::Iio, false, ""},
      {{"--spi-test", "--board=spidev:/dev/spidev0.0"}, Kind::Spidev, true, ""},
      {{"--board"}, Kind::Library, false, "--board needs a value: iio:URI"},
      {{"--board="}, Kind::Library, false, "--board: it needs a value"},
      {{"--board", "x", "--spi-test"}, Kind::Library, true, "--board: \"x\" names no board"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments.back());
    const kt::forms::Start start = kt::forms::ReadArguments(row.arguments);
    EXPECT_EQ(start.Board.Road, row.road);
    EXPECT_EQ(start.SpiTest, row.spiTest);
    EXPECT_EQ(start.Usage, *row.problem != '\0');
    EXPECT_EQ(start.Problem.rfind(row.problem, 0), 0u) << start.Problem;
    const auto answer =
        kt::forms::AnswerArguments(start, "kt310v2", "KT310(version2)", ProgramBoard());
    ASSERT_EQ(answer.has_value(), start.Usage);
    if (answer) {
      EXPECT_TRUE(answer->ToError);
      EXPECT_EQ(answer->Text.rfind("kt310v2: " + start.Problem + "\nusage: kt310v2", 0), 0u)
          << answer->Text;
    }
  }
}

}  // namespace
}  // namespace kt::link
