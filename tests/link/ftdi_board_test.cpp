// SPDX-License-Identifier: MIT
// The USB-SPI bridge board against FTDI chips the test bed plays over usbdevfs, their MPSSE
// engine the tests' own (tests/support/ftdi_device.*): libusb and libftdi1 as they are, and
// ktdac started from here, see the bed's chips as real ones.
#include "link/ftdi_board.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "dac/device_table.h"
#include "dac/power_down.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/support/testbed.h"

namespace kt::link {
namespace {

// The engine's record of a frame sent with the default wiring.
std::string FrameLine(const Frame& frame, const char* rest = "rising, 1000000 Hz, cs 3") {
  char hex[20];
  std::snprintf(hex, sizeof hex, "%llX",
                static_cast<unsigned long long>(static_cast<std::uint32_t>(frame.Word)) &
                    ((1ULL << frame.Bits) - 1));
  std::string digits = hex;
  digits.insert(0, std::max<std::size_t>(digits.size(), (frame.Bits + 3) / 4) - digits.size(), '0');
  return "frame " + std::to_string(frame.Bits) + " bits " + digits + ", " + rest;
}

std::vector<std::string> Frames(test::Testbed& bed) {
  std::vector<std::string> frames;
  for (std::string& line : bed.FtdiLog())
    if (line.rfind("frame ", 0) == 0) frames.push_back(std::move(line));
  return frames;
}

TEST(FtdiBoard, EachFrameIsItsWordBetweenChipSelectEdgesOnTheModesEdgeAtTheClockSet) {
  test::Testbed bed;
  bed.AddFtdi();
  {
    FtdiBoard board(FtdiChoice{});
    ASSERT_TRUE(board.Connect(std::nullopt)) << board.ConnectionFailureReason();
    EXPECT_EQ(bed.FtdiLog(),
              (std::vector<std::string>{"reset 0", "control 03 04E2", "reset 0", "reset 1",
                                        "reset 2", "control 09 0001", "bitmode 00", "bitmode 02",
                                        "bad AA", "pins 08/0B"}));
    EXPECT_EQ(board.Description(),
              "the FTDI chip 0403:6014 FT0001 (interface A), SPI mode 1 at 1 MHz, chip select on "
              "ADBUS3");
    std::vector<std::string> expected;
    for (const dac::DeviceProfile& device : dac::DeviceTable)
      for (const dac::PowerDownMode& mode : dac::kPowerDownModes) {
        const Frame frame = dac::DeviceFrame(device, mode.Code, dac::LastCode(device) - 5);
        ASSERT_EQ(board.Send(frame).Status, 0);
        expected.push_back(FrameLine(frame));
      }
    for (const Frame raw : {Frame{1, 1}, Frame{5, 0x15}, Frame{20, 0xABCDE}, Frame{32, -2}}) {
      ASSERT_EQ(board.SendRaw(raw).Status, 0);
      expected.push_back(FrameLine(raw));
    }
    EXPECT_EQ(board.SendRaw({32, -2}).Carried, "32 bits FFFFFFFE through MPSSE");
    expected.push_back(FrameLine({32, -2}));
    EXPECT_EQ(board.SendRaw({33, 1}).Status, -EOPNOTSUPP);
    EXPECT_EQ(board.SendRun({{24, 1}, {40, 1}}).back().Status, -EINVAL);  // nothing goes out
    std::string why;  // connected for raw frames: no waveform of a model to time
    EXPECT_FALSE(board.HasOutputBuffer() || board.OpenOutputBuffer(1000, 50, false, why));
    EXPECT_EQ(why, "the USB-SPI bridge plays from its own clock once connected for a DAC model");
    EXPECT_EQ(Frames(bed), expected);
  }
  struct Row {
    mpsse::Wiring wiring;
    const char* line;  // the frame's record after its bits
    const char* described;
  };
  const Row rows[] = {
      {{0, 1'000'000, 3}, "falling, 1000000 Hz, cs 3", "SPI mode 0 at 1 MHz"},
      {{2, 7'000'000, 5}, "rising, 6000000 Hz, cs 5", "SPI mode 2 at 6 MHz (7 MHz asked)"},
      {{3, 458, 7}, "falling, 458 Hz, cs 7", "SPI mode 3 at 457.994 Hz (458 Hz asked)"},
      {{1, 400'000, 3}, "rising, 400000 Hz, cs 3", "SPI mode 1 at 400 kHz, chip"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    FtdiChoice choice;
    choice.Wiring = row.wiring;
    FtdiBoard board(choice);
    ASSERT_TRUE(board.Connect(std::nullopt)) << board.ConnectionFailureReason();
    ASSERT_EQ(board.SendRaw({16, 0x1234}).Status, 0);
    EXPECT_EQ(Frames(bed), std::vector<std::string>{FrameLine({16, 0x1234}, row.line)});
    EXPECT_NE(board.Description().find(row.described), std::string::npos) << board.Description();
  }
}

TEST(FtdiBoard, WritesTheChipTakesInPartsArriveWhole) {
  test::Testbed bed;
  test::FtdiDevice slow;
  slow.ShortWrites = 5;  // fewer bytes than a frame's commands
  bed.AddFtdi(slow);
  FtdiBoard board(FtdiChoice{});
  ASSERT_TRUE(board.Connect(std::nullopt)) << board.ConnectionFailureReason();
  const std::vector<Frame> run{{24, 0x123456}, {16, 0xBEEF}, {5, 0x15}};
  ASSERT_EQ(board.SendRun(run).back().Status, 0);
  EXPECT_EQ(Frames(bed),
            (std::vector<std::string>{FrameLine(run[0]), FrameLine(run[1]), FrameLine(run[2])}));
}

TEST(FtdiBoard, AConnectionItCannotMakeSaysWhyAndWhatIsThere) {
  test::FtdiDevice second;
  second.Serial = "FT0002";
  test::FtdiDevice dual = second;
  dual.Pid = 0x6010;
  test::FtdiDevice ft2232h = dual, ft4232h = dual;
  ft2232h.Release = 0x0700;
  ft4232h.Pid = 0x6011;
  ft4232h.Release = 0x0800;
  test::FtdiDevice r232 = second;
  r232.Release = 0x0600;
  test::FtdiDevice odd;  // a serial that would break the identity's fields
  odd.Serial = "FT,0\x7F;1";
  test::FtdiDevice unlisted;  // a sysfs without the serial: the chip's descriptor gives it
  unlisted.SerialInSysfs = false;
  test::FtdiDevice mute, stalled;
  mute.Mute = true;
  stalled.Stall = true;
  struct Row {
    const char* name;
    std::vector<test::FtdiDevice> chips;
    FtdiChoice choice;
    const char* says;  // nullptr: connects, to the serial below
    const char* serial = nullptr;
    bool nodeGone = false;  // its /dev node gone before the open (unplugged meanwhile)
    const char* identity = nullptr;
  };
  FtdiChoice bySerial, bySerial0001, byIndex, beyond, dualIds, quadIds;
  dualIds.Pid = 0x6010;
  quadIds.Pid = 0x6011;
  bySerial.Serial = "FT0002";
  bySerial0001.Serial = "FT0001";
  byIndex.Index = 1;
  beyond.Index = 2;
  const Row rows[] = {
      {"none there", {}, {}, "no FTDI chip 0403:6014 on USB; present: none"},
      {"another kind there",
       {dual},
       {},
       "no FTDI chip 0403:6014 on USB; present: 0403:6010 FT0002"},
      {"no such serial", {{}}, bySerial, "no FTDI chip 0403:6014 with serial FT0002 on USB"},
      {"two alike",
       {{}, second},
       {},
       "several FTDI chips 0403:6014 on USB: 0403:6014 FT0001, "
       "0403:6014 FT0002; choose one with serial=S or index=N"},
      {"chosen by serial", {{}, second}, bySerial, nullptr, "FT0002"},
      {"chosen by index", {{}, second}, byIndex, nullptr, "FT0002"},
      {"an index beyond", {{}, second}, beyond, "index=2, but 2 FTDI chips 0403:6014 match"},
      {"an FT2232H", {ft2232h}, dualIds, nullptr, "0403:6010 FT0002"},
      {"an FT4232H", {ft4232h}, quadIds, nullptr, "0403:6011 FT0002"},
      {"a serial of separators", {odd}, {}, nullptr, "FT,0", false, "0403:6014/FT_0__1"},
      {"a serial only the chip gives", {unlisted}, bySerial0001, nullptr, "FT0001"},
      {"no MPSSE engine", {r232}, {}, "has no high-speed MPSSE engine"},
      {"an engine that does not answer",
       {mute},
       {},
       "did not answer a bad command with FA AA (nothing in 0.5 s)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::Testbed bed;
    for (const test::FtdiDevice& chip : row.chips) {
      const std::string node = bed.AddFtdi(chip);
      if (row.nodeGone) std::filesystem::remove(bed.Root() + node);
    }
    FtdiBoard board(row.choice);
    EXPECT_EQ(board.Connect(std::nullopt), row.says == nullptr);
    if (row.says) {
      EXPECT_NE(board.ConnectionFailureReason().find(row.says), std::string::npos)
          << board.ConnectionFailureReason();
    } else {
      EXPECT_NE(board.Description().find(row.serial), std::string::npos) << board.Description();
    }
    if (row.identity) {
      EXPECT_EQ(board.IdentitySerial(), row.identity);
    }
  }
}

TEST(KtdacOnFtdi, CommandsReachTheChipAndRefusalsSayWhy) {
  test::Testbed bed;
  bed.AddFtdi();
  const test::Result set = test::Run("ktdac", {"--board", "ftdi:,hz=2000000", "set", "--device",
                                               "KT300", "--power-down", "tri-state", "3FFF"});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(Frames(bed), std::vector<std::string>{
                             FrameLine(dac::DeviceFrame(*dac::FindDevice("KT300"), 1, 0x3FFF),
                                       "rising, 2000000 Hz, cs 3")});
  // A sweep goes out 64 frames a write, each framed by its chip select; a chip gone mid-sweep
  // fails it (status 5), the rows of what went out kept.
  const std::string csv = test::WriteTempFile("sweep.csv", "");
  const test::Result sweep =
      test::Run("ktdac", {"--board", "ftdi:", "sweep", "--from", "0", "--to", "4F", "--csv", csv});
  EXPECT_EQ(sweep.status, 0) << sweep.err;
  std::vector<std::string> writes, frames;
  for (const std::string& line : bed.FtdiLog()) {
    if (line.rfind("write", 0) == 0) writes.push_back(line);
    if (line.rfind("frame", 0) == 0) frames.push_back(line);
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"write of 64 frames", "write of 16 frames"}));
  ASSERT_EQ(frames.size(), 0x50u);
  EXPECT_EQ(frames.back(), FrameLine(dac::DeviceFrame(*dac::FindDevice("KT310"), 0, 0x4F)));
  const test::Result missing = test::Run("ktdac", {"--board", "ftdi:0403:6011", "set", "1"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no FTDI chip 0403:6011 on USB; present: 0403:6014 FT0001"),
            std::string::npos)
      << missing.err;
  // A chip the user may not open is still found by its serial (the kernel's, from sysfs), and
  // refused for its permissions. Root's power to open what modes refuse is dropped for this.
  std::filesystem::permissions(bed.Root() + "/dev/bus/usb/001/002", std::filesystem::perms::none);
  std::vector<std::string> args{"--board", "ftdi:,serial=FT0001", "set", "1"};
  if (geteuid() == 0)
    args.insert(args.begin(), {"--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search",
                               test::BesideProgram("ktdac")});
  const test::Result denied = test::Run(geteuid() == 0 ? "/usr/bin/setpriv" : "ktdac", args);
  EXPECT_EQ(denied.status, 1);
  EXPECT_NE(denied.err.find("permission denied on the FTDI chip 0403:6014 FT0001 (interface A): "
                            "give your group the chip with a udev rule, SUBSYSTEM==\"usb\", "
                            "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6014\", "
                            "GROUP=\"plugdev\", MODE=\"0660\""),
            std::string::npos)
      << denied.err;
}

TEST(KtdacOnFtdi, AWaveformIsTimedByTheChipsClockAFrameAndAnIdleRunASample) {
  test::Testbed bed;
  bed.AddFtdi();
  const std::string samples = test::WriteTempFile("samples", "1\n2\n3\n");
  const test::Result play = test::Run(
      "ktdac", {"--board", "ftdi:", "play", "--rate", "1000", "--file", samples, "--cycles", "2"});
  EXPECT_EQ(play.status, 0) << play.err;
  EXPECT_NE(play.out.find("played 6 samples at 1000 S/s (asked 1000) through the board's buffer"),
            std::string::npos)
      << play.out;
  // The first sample set before the buffer starts; then each sample's frame and the clock idle
  // for the rest of its 1,000 cycles (1 MHz); the last sample held at the end.
  std::vector<std::string> expected;
  const auto frame = [](int code) {
    return FrameLine(dac::DeviceFrame(*dac::FindDevice("KT310"), 0, code));
  };
  expected.push_back(frame(1));
  for (const int code : {1, 2, 3, 1, 2, 3})
    expected.insert(expected.end(), {frame(code), "idle 976 cycles"});
  expected.push_back(frame(3));
  std::vector<std::string> log;
  for (const std::string& line : bed.FtdiLog())
    if (line.rfind("frame", 0) == 0 || line.rfind("idle", 0) == 0) log.push_back(line);
  EXPECT_EQ(log, expected);
  // What a rate the chip's clock cannot keep as asked is told.
  const std::pair<const char*, const char*> rates[] = {
      // A period shorter than a frame and a cycle: the samples go one at a time.
      {"50000",
       "a 24-bit frame and a cycle between takes 25 cycles: at most 40000 samples a second (a "
       "faster hz= gives more); the samples go out one at a time instead"},
      // A rate the clock cannot divide exactly: the samples follow the clock's.
      {"3000", "warning: the board's clock gives 3003.003 S/s for the 3000 asked"},
      // Below 20 S/s the samples queued in the chip would outlast a stop by seconds.
      {"10",
       "below 20 samples a second, the samples queued in the FTDI chip 0403:6014 FT0001 "
       "(interface A) would play on for seconds after a stop; the samples go out one at a time "
       "instead"},
  };
  for (const auto& [rate, says] : rates) {
    const test::Result told =
        test::Run("ktdac", {"--board", "ftdi:", "play", "--rate", rate, "--file", samples});
    EXPECT_EQ(told.status, 0) << told.err;
    EXPECT_NE(told.err.find(says), std::string::npos) << told.err;
  }
  // A chip gone mid-play fails the push in hand (a bed of its own, made last: a bed is the
  // process's while it lives).
  {
    test::Testbed gone;
    test::FtdiDevice vanishing;
    vanishing.VanishAfter = 3;  // the first sample set, then two pushes of one sample
    gone.AddFtdi(vanishing);
    const test::Result cut =
        test::Run("ktdac", {"--board", "ftdi:", "play", "--rate", "20", "--file", samples});
    EXPECT_EQ(cut.status, 5);
    EXPECT_NE(cut.err.find("the samples to the FTDI chip 0403:6014 FT0001 (interface A) failed"),
              std::string::npos)
        << cut.err;
  }
}

TEST(KtdacOnFtdi, AChipGoneMidSweepFailsItAndKeepsTheRowsBefore) {
  test::Testbed bed;
  test::FtdiDevice vanishing;
  vanishing.VanishAfter = 100;
  bed.AddFtdi(vanishing);
  const std::string csv = test::WriteTempFile("gone.csv", "");
  const test::Result sweep =
      test::Run("ktdac", {"--board", "ftdi:", "sweep", "--from", "0", "--to", "FF", "--csv", csv});
  EXPECT_EQ(sweep.status, 5);
  EXPECT_NE(sweep.err.find("the frame to the FTDI chip 0403:6014 FT0001 (interface A) failed"),
            std::string::npos)
      << sweep.err;
  std::ifstream rows(csv);
  std::vector<std::string> lines;
  for (std::string line; std::getline(rows, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 128 + 1);  // the header, two runs of 64, the one that failed
  EXPECT_EQ(lines[128], "KT310,normal,127,127,,,0," + lines[128].substr(25));
  EXPECT_EQ(lines[129].substr(0, 28), "KT310,normal,128,128,,,-5,0.");
}

}  // namespace
}  // namespace kt::link
