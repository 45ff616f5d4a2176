// SPDX-License-Identifier: MIT
// The IIO and spidev boards against umockdev's test bed: a kernel IIO driver's attribute files
// and a spidev port whose ioctls the bed answers as the kernel does. This program runs under
// umockdev-wrapper, so libiio and the boards here, and ktdac started from here, see the bed in
// place of the machine's /sys and /dev.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dac/device_table.h"
#include "link/iio_board.h"
#include "link/spidev_board.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/support/testbed.h"

namespace kt::link {
namespace {

using Writes = std::vector<std::string>;

using test::kDown;
using test::kMode;
using test::kRaw;

const dac::DeviceProfile& Kt(const char* label) { return *dac::FindDevice(label); }

Model ModelOf(const char* label, std::optional<double> vref = {}) {
  const dac::DeviceProfile& device = Kt(label);
  return {device.Label, device.FrameBits, device.DataBits, vref};
}

Frame FrameOf(const char* label, int mode, int code) {
  return dac::DeviceFrame(Kt(label), mode, code);
}

using test::Result;
using test::Run;

Result Ktdac(const std::vector<std::string>& args) { return Run("ktdac", args); }

// ktdac as an unprivileged user (nobody), so that file permissions hold even when the tests
// run as root.
Result KtdacAsNobody(const std::vector<std::string>& args) {
  if (geteuid() != 0) return Ktdac(args);
  std::vector<std::string> all{"--reuid=65534", "--regid=65534", "--clear-groups",
                               test::BesideProgram("ktdac")};
  all.insert(all.end(), args.begin(), args.end());
  return Run("/usr/bin/setpriv", all);
}

TEST(IioBoard, FramesBecomeAttributeWritesThatNeverShowAWrongValue) {
  struct Step {
    int mode, code;
    Writes writes;
    const char *raw, *down, *modeName;
  };
  struct Row {
    const char* name;
    const char* startDown;
    std::vector<Step> steps;
  };
  const Row rows[] = {
      {"a code in normal operation is one write of raw",
       "0",
       {{0, 0x1234, {kRaw}, "4660", "0", "three_state"},
        {0, 0xFFFF, {kRaw}, "65535", "0", "three_state"}}},
      {"into a mode: the mode, then powerdown; out of it: the code, then powerdown",
       "0",
       {{0, 0x8000, {kRaw}, "32768", "0", "three_state"},
        {2, 0x8000, {kMode, kDown}, "32768", "1", "100kohm_to_gnd"},
        {3, 0x8000, {kMode, kDown}, "32768", "1", "1kohm_to_gnd"},
        {1, 0x10, {kMode, kDown}, "32768", "1", "three_state"},
        {0, 0x10, {kRaw, kDown}, "16", "0", "three_state"}}},
      {"a DAC found powered down is brought up after its first code",
       "1",
       {{0, 5, {kRaw, kDown}, "5", "0", "three_state"}, {0, 6, {kRaw}, "6", "0", "three_state"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::Testbed bed;
    test::IioDac dac;
    dac.PowerDown = row.startDown;
    const std::string id = bed.AddIioDac(dac);
    IioBoard board("local:", "");
    ASSERT_TRUE(board.Connect(ModelOf("KT310"))) << board.ConnectionFailureReason();
    bed.Writes();
    for (const Step& step : row.steps) {
      const SentFrame sent = board.Send(FrameOf("KT310", step.mode, step.code));
      EXPECT_EQ(sent.Status, 0) << sent.Failure;
      EXPECT_EQ(bed.Writes(), step.writes) << step.mode << " " << step.code;
      EXPECT_EQ(bed.Attribute(id, kRaw), step.raw);
      EXPECT_EQ(bed.Attribute(id, kDown), step.down);
      EXPECT_EQ(bed.Attribute(id, kMode), step.modeName);
    }
  }
}

TEST(IioBoard, AConnectionItCannotMakeSaysWhyAndWhatIsThere) {
  test::IioDac narrow;  // a 16-bit DAC whose driver gives no range
  narrow.Range = false;
  test::IioDac narrow14 = narrow;  // and a 14-bit one
  narrow14.DataBits = 14;
  narrow14.ScaleMv = 2500.0 / 16384;
  test::IioDac other;
  other.Name = "ad5686";
  test::IioDac escaping;  // a name that would set a terminal's title and ring its bell
  escaping.Name =
      "kt\x1b]0;owned\x07"
      "310";
  test::IioDac impostor;  // named as another's id
  impostor.Name = "iio:device1";
  test::IioDac tiny, huge;  // scales that make no reference a DAC can have
  tiny.Scale = "1e-320";
  huge.Scale = "1e308";
  test::IioDac top, over;  // a 16-bit DAC at 999 V, and one at 1001 V
  top.Scale = "15.243530273";
  over.Scale = "15.274047852";
  struct Row {
    const char* name;
    std::vector<test::IioDac> dacs;
    const char* device;
    Model model;
    std::vector<const char*> said;  // empty: the connection succeeds
  };
  const auto ranged = [](const char* available) {
    test::IioDac dac;
    dac.Available = available;
    return dac;
  };
  const Row rows[] = {
      {"nothing there", {}, "", ModelOf("KT310"), {"no IIO DAC at local:", "devices there: none"}},
      {"32 bits", {ranged("[0 1 4294967295]")}, "", ModelOf("KT310"), {"[0 1 4294967295] says"}},
      {"signed", {ranged("[-32768 1 32767]")}, "", ModelOf("KT310"), {"[-32768 1 32767] says"}},
      {"a step of 2", {ranged("[0 2 65535]")}, "", ModelOf("KT310"), {"[0 2 65535] says"}},
      {"from 1", {ranged("[1 1 65535]")}, "", ModelOf("KT310"), {"[1 1 65535] says, not 0 to"}},
      {"a device of another name",
       {{}},
       "ad9999",
       ModelOf("KT310"),
       {"no IIO device named ad9999 at local:", "there: iio:device0 (kt310)"}},
      {"two DACs and no choice",
       {{}, other},
       "",
       ModelOf("KT310"),
       {"several IIO DAC channels", "iio:device0 (kt310) voltage0", "iio:device1 (ad5686)",
        "device=NAME"}},
      {"two DACs, one chosen by name", {{}, other}, "ad5686", ModelOf("KT311"), {}},
      {"a name of terminal escapes, shown escaped",
       {escaping},
       "ad9999\x1b[2J",
       ModelOf("KT310"),
       {"named ad9999\\x1B[2J", "iio:device0 (kt\\x1B]0;owned\\x07310)"}},
      {"two DACs, one chosen by id", {{}, other}, "iio:device1", ModelOf("KT311"), {}},
      {"two DACs of one name",
       {{}, {}},
       "kt310",
       ModelOf("KT310"),
       {"several IIO devices answer to kt310", "iio:device0 (kt310), iio:device1 (kt310)"}},
      {"a name that is another's id",
       {impostor, {}},
       "iio:device1",
       ModelOf("KT310"),
       {"several IIO devices answer to iio:device1",
        "iio:device0 (iio:device1), iio:device1 (kt310)"}},
      {"a 16-bit DAC by its range, for the KT300",
       {{}},
       "",
       ModelOf("KT300"),
       {"is a 16-bit DAC", "[0 1 65535]", "the KT300 takes 14-bit codes"}},
      {"a 16-bit DAC by its scale at the reference given, for the KT300",
       {narrow},
       "",
       ModelOf("KT300", 2.5),
       {"is a 16-bit DAC", "the KT300 takes 14-bit codes"}},
      {"a 14-bit DAC by its scale at the reference given, for the KT310",
       {narrow14},
       "",
       ModelOf("KT310", 2.5),
       {"at 2.5 V with", "is a 14-bit DAC", "the KT310 takes 16-bit codes"}},
      {"a reference that is not a power of two off is no width: connected",
       {narrow},
       "",
       ModelOf("KT300", 2.0),
       {}},
      {"no range and no reference: connected", {narrow}, "", ModelOf("KT300"), {}},
      {"a scale of no reference",
       {tiny},
       "",
       ModelOf("KT310"),
       {"out_voltage0_scale 1e-320 mV of", "is below 0.001 V"}},
      {"a scale beyond any reference",
       {huge},
       "",
       ModelOf("KT310"),
       {"out_voltage0_scale 1e308 mV of", "is beyond 1000 V"}},
      {"a scale of a 999 V reference: connected", {top}, "", ModelOf("KT310"), {}},
      {"a scale of a 1001 V reference",
       {over},
       "",
       ModelOf("KT310"),
       {"(a reference of 1001 V) is beyond 1000 V"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::Testbed bed;
    for (const test::IioDac& dac : row.dacs) bed.AddIioDac(dac);
    IioBoard board("local:", row.device);
    // Under a locale whose decimal separator is a comma, as the Qt program runs: the driver's
    // numbers and the messages' keep the full stop.
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the test locale is missing";
    const bool connected = board.Connect(row.model);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(connected, row.said.empty()) << board.ConnectionFailureReason();
    for (const char* words : row.said)
      EXPECT_NE(board.ConnectionFailureReason().find(words), std::string::npos)
          << board.ConnectionFailureReason();
    const std::string reason = board.ConnectionFailureReason();
    EXPECT_TRUE(std::none_of(reason.begin(), reason.end(),
                             [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
        << "no control character: " << reason;
    if (!connected) {
      std::string told = reason;
      told.front() = static_cast<char>(std::toupper(told.front()));
      EXPECT_EQ(board.ConnectionFailureMessage(),
                std::string(kCommunicationFailure) + "\n\n" + told);
    }
    EXPECT_TRUE(bed.Writes().empty()) << "a connection writes nothing";
  }
}

TEST(IioBoard, WhatItCannotWriteIsRefusedBeforeAnyWrite) {
  test::Testbed bed;
  test::IioDac dac;
  dac.Modes = "1kohm_to_gnd 100kohm_to_gnd";
  const std::string id = bed.AddIioDac(dac);
  IioBoard board("local:", "kt310");
  ASSERT_TRUE(board.Connect(ModelOf("KT310")));
  EXPECT_NEAR(board.ReferenceVolts(16).value_or(0), 2.5, 1e-6);
  struct Row {
    const char* name;
    SentFrame sent;
    const char* said;
  };
  const Row rows[] = {
      {"a raw frame", board.SendRaw({24, 0x1234}), "not raw frames"},
      {"a mode the driver does not offer", board.Send(FrameOf("KT310", 1, 0)),
       "no power-down mode three_state"},
      {"a frame of another width", board.Send(FrameOf("KT300", 0, 1)),
       "for a 14-bit DAC, and the IIO device kt310 (iio:device0) takes 16-bit codes"},
      {"a frame of no DAC", board.Send({20, 0}), "a 20-bit frame is for no DAC"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_LT(row.sent.Status, 0);
    EXPECT_NE(row.sent.Failure.find(row.said), std::string::npos) << row.sent.Failure;
    EXPECT_TRUE(row.sent.Carried.empty());
  }
  // A driver that gives no range: the model's width is kept, and a frame of another refused.
  test::IioDac unranged;
  unranged.Name = "unranged";
  unranged.Range = false;
  bed.AddIioDac(unranged);
  IioBoard second("local:", "unranged");
  ASSERT_TRUE(second.Connect(ModelOf("KT310")));
  const SentFrame narrower = second.Send(FrameOf("KT300", 0, 1));
  EXPECT_LT(narrower.Status, 0);
  EXPECT_NE(narrower.Failure.find("takes 16-bit codes"), std::string::npos) << narrower.Failure;
  EXPECT_TRUE(bed.Writes().empty());
  EXPECT_EQ(bed.Attribute(id, kRaw), "0");
}

TEST(IioBoard, AWriteTheDriverRefusesFailsTheFrameAndTheNextOneRestoresTheState) {
  test::Testbed bed;
  const std::string id = bed.AddIioDac({});
  IioBoard board("local:", "");
  ASSERT_TRUE(board.Connect(ModelOf("KT310")));
  // A driver refusing the write, as /dev/full refuses every one.
  const std::string mode = bed.File(id, kMode);
  std::filesystem::remove(mode);
  std::filesystem::create_symlink("/dev/full", mode);
  const SentFrame refused = board.Send(FrameOf("KT310", 1, 0));
  EXPECT_EQ(refused.Status, -ENOSPC);
  EXPECT_NE(refused.Failure.find("writing out_voltage0_powerdown_mode three_state of the IIO "
                                 "device kt310 (iio:device0) at local: failed"),
            std::string::npos)
      << refused.Failure;
  EXPECT_EQ(refused.Failure.find("belongs to root"), std::string::npos) << "not a permission";
  EXPECT_EQ(bed.Attribute(id, kDown), "0") << "not powered down in the wrong mode";
  // What the failed write left is not known: a code is written, then the DAC powered up.
  bed.Writes();
  EXPECT_EQ(board.Send(FrameOf("KT310", 0, 7)).Status, 0);
  EXPECT_EQ(bed.Writes(), (Writes{kRaw, kDown}));
}

TEST(SpidevBoard, EachFrameIsOneTransferOfItsBytesMostSignificantFirst) {
  struct Row {
    const char* name;
    Frame frame;
    bool raw;
    const char* transfer;
  };
  const Row rows[] = {
      {"KT300, normal", FrameOf("KT300", 0, 0x1234), false, "12 34 (8-bit words"},
      {"KT300, 1 kOhm, last code", FrameOf("KT300", 3, 0x3FFF), false, "FF FF (8-bit words"},
      {"KT310, tri-state", FrameOf("KT310", 1, 0x1234), false, "01 12 34 (8-bit words"},
      {"KT313, 100 kOhm", FrameOf("KT313", 2, 0xFFFF), false, "02 FF FF (8-bit words"},
      {"raw, one byte", {8, 0xA5}, true, "A5 (8-bit words"},
      {"raw, five bytes", {40, 0x123456}, true, "00 00 12 34 56 (8-bit words"},
      {"raw, one 12-bit word in the machine's order", {12, 0xABC}, true, "BC 0A (12-bit words"},
      {"raw, one 20-bit word", {20, 0xABCDE}, true, "DE BC 0A 00 (20-bit words"},
      {"raw, one 5-bit word in one byte", {5, 0x3F5}, true, "15 (5-bit words"},
      {"raw, one bit", {1, 1}, true, "01 (1-bit words"},
  };
  test::Testbed bed;
  const std::string port = bed.AddSpidev("spidev0.0");
  SpidevBoard board(port, 2, 500000);
  ASSERT_TRUE(board.Connect(ModelOf("KT310"))) << board.ConnectionFailureReason();
  EXPECT_EQ(bed.SpiLog(), (Writes{"mode 2", "hz 500000"}));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const SentFrame sent = row.raw ? board.SendRaw(row.frame) : board.Send(row.frame);
    EXPECT_EQ(sent.Status, 0) << sent.Failure;
    EXPECT_EQ(bed.SpiLog(), (Writes{"transfer " + std::string(row.transfer) + ", 500000 Hz)"}));
  }
}

TEST(SpidevBoard, WhatThePortRefusesIsAnErrorNeverIgnored) {
  struct Row {
    const char* name;
    test::SpiFaults faults;
    Frame frame;
    const char* said;  // at the connection when the frame is empty
  };
  test::SpiFaults mode, speed, bytes, broken;
  mode.RefuseMode = true;
  speed.RefuseSpeed = true;
  bytes.BytesOnly = true;
  broken.TransferError = EIO;
  const Row rows[] = {
      {"a mode the controller does not take",
       mode,
       {},
       "setting SPI mode 1 on /dev/spidev0.0 failed: Invalid argument"},
      {"a clock it does not take",
       speed,
       {},
       "setting the SPI clock to 1000000 Hz on /dev/spidev0.0 failed"},
      {"a word length it does not take",
       bytes,
       {12, 1},
       "the SPI controller behind /dev/spidev0.0 does not take 12-bit words"},
      {"a transfer that fails", broken, FrameOf("KT310", 0, 1),
       "the transfer on /dev/spidev0.0 failed: Input/output error"},
  };
  {
    // A path of terminal escapes is shown escaped.
    SpidevBoard board("/dev/spidev\x1b]0;owned\x07", 1, 1'000'000);
    EXPECT_FALSE(board.Connect(std::nullopt));
    EXPECT_NE(board.ConnectionFailureReason().find("/dev/spidev\\x1B]0;owned\\x07"),
              std::string::npos)
        << board.ConnectionFailureReason();
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::Testbed bed;
    SpidevBoard board(bed.AddSpidev("spidev0.0", row.faults), 1, 1'000'000);
    const bool connected = board.Connect(std::nullopt);
    if (row.frame.Bits == 0) {
      EXPECT_FALSE(connected);
      EXPECT_NE(board.ConnectionFailureReason().find(row.said), std::string::npos)
          << board.ConnectionFailureReason();
      continue;
    }
    ASSERT_TRUE(connected);
    const SentFrame sent = board.SendRaw(row.frame);
    EXPECT_LT(sent.Status, 0);
    EXPECT_TRUE(sent.Carried.empty()) << "nothing reported as sent";
    EXPECT_NE(sent.Failure.find(row.said), std::string::npos) << sent.Failure;
  }
  SpidevBoard folder(::testing::TempDir(), 1, 1'000'000);
  EXPECT_FALSE(folder.Connect(std::nullopt));
  EXPECT_EQ(folder.ConnectionFailureReason().rfind("cannot open " + ::testing::TempDir() + ": ", 0),
            0u)
      << folder.ConnectionFailureReason();
  SpidevBoard absent("/dev/spidev7.1", 1, 1'000'000);
  EXPECT_FALSE(absent.Connect(std::nullopt));
  EXPECT_NE(absent.ConnectionFailureReason().find("there is no /dev/spidev7.1"), std::string::npos);
  EXPECT_NE(absent.ConnectionFailureReason().find("dtparam=spi=on"), std::string::npos);
  EXPECT_NE(absent.RawRefusal(33).find("33 bits are neither"), std::string::npos);
  EXPECT_FALSE(SpiTransferOf({0, 0})) << "no transfer carries a frame of no bits";
  EXPECT_NE(absent.RawRefusal(0), "");
  EXPECT_EQ(absent.RawRefusal(32), "");
}

// ktdac, run as a user runs it, against the bed; every step checked on the attribute files.
TEST(KtdacOnIio, EveryCommandReachesTheAttributesInTheSafeOrder) {
  test::Testbed bed;
  const std::string id = bed.AddIioDac({});
  const std::string script =
      test::WriteTempFile("bench.txt", "set --device KT311 0100\nwait 1ms\nset 0200\n");
  struct Row {
    std::vector<std::string> args;
    Writes writes;
    const char *raw, *down, *mode;
    std::vector<const char*> out;
  };
  const Row rows[] = {
      {{"set", "--device", "KT310", "1234"},
       {kRaw},
       "4660",
       "0",
       "three_state",
       {"1234    word 0x001234  out_voltage0_raw 4660  output 0.177765 V"}},
      {{"set", "--format", "dec", "--power-down", "100kohm_to_gnd", "4660"},
       {kMode, kDown},
       "4660",
       "1",
       "100kohm_to_gnd",
       {"out_voltage0_powerdown_mode 100kohm_to_gnd, out_voltage0_powerdown 1"}},
      {{"set", "--power-down", "1k", "0"}, {kMode, kDown}, "4660", "1", "1kohm_to_gnd", {}},
      {{"set", "--power-down", "tri-state", "0"}, {kMode, kDown}, "4660", "1", "three_state", {}},
      {{"set", "--output", "csv", "FFFF"},
       {kRaw, kDown},
       "65535",
       "0",
       "three_state",
       {"device,power_down,code,frame_word,request_value,request_index,board_status,output_v\n"
        "KT310,normal,65535,65535,,,0,2.499962\n"}},
      {{"sweep", "--from", "0", "--to", "0x300", "--step", "0x100"},
       {kRaw},
       "768",
       "0",
       "three_state",
       {"KT310,normal,512,512,,,0,"}},
      {{"run", script}, {kRaw}, "512", "0", "three_state", {}},
      {{"play", "--rate", "1000", "--shape", "ramp", "--frequency", "250", "--cycles", "1",
        "--high", "3"},
       {kRaw},  // inotify folds writes of one file in a row into one
       "3",
       "0",
       "three_state",
       {"played 4 samples at"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args{"--board", "iio:local:"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    SCOPED_TRACE(args[2]);
    const Result result = Ktdac(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(bed.Writes(), row.writes);
    EXPECT_EQ(bed.Attribute(id, kRaw), row.raw);
    EXPECT_EQ(bed.Attribute(id, kDown), row.down);
    EXPECT_EQ(bed.Attribute(id, kMode), row.mode);
    for (const char* words : row.out)
      EXPECT_NE(result.out.find(words), std::string::npos) << result.out;
  }
}

TEST(KtdacOnIio, RefusalsSendNothingAndSayWhy) {
  test::Testbed bed;
  const std::string id = bed.AddIioDac({});
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* said;
  };
  const Row rows[] = {
      {{"--board", "iio:local:", "raw", "--bits", "24", "--data", "1"},
       2,
       "ktdac: raw: the IIO DAC takes codes and power-down modes, not raw frames"},
      {{"--board", "iio:local:", "set", "--device", "KT300", "1"},
       1,
       "ktdac: the IIO device kt310 (iio:device0) at local: is a 16-bit DAC"},
      {{"--board", "iio:local:,device=ad9999", "set", "1"}, 1, "there: iio:device0 (kt310)"},
      {{"--board", "iio:local:", "--firmware", test::BesideProgram("SPI.hex"), "set", "1"},
       2,
       "--firmware is for the evaluation board's library"},
      {{"--board", "iio:local:,chip=1", "set", "1"}, 2, "unknown setting \"chip=1\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.said);
    const Result result = Ktdac(row.args);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find(row.said), std::string::npos) << result.err;
    EXPECT_TRUE(bed.Writes().empty());
  }
  // A reference that agrees with the driver's to 0.1 % is taken quietly; one that disagrees
  // is used, with a warning.
  for (const auto& [vref, warns] : {std::pair{"2.5", false},
                                    {"2.5024", false},
                                    {"2.4976", false},
                                    {"2.5026", true},
                                    {"2.4974", true}}) {
    const Result agreed = Ktdac({"--board", "iio:local:", "set", "--vref", vref, "8000"});
    EXPECT_EQ(agreed.status, 0);
    EXPECT_EQ(agreed.err.find("warning: --vref") != std::string::npos, warns) << agreed.err;
  }
  const Result warned = Ktdac({"--board", "iio:local:", "set", "--vref", "3", "8000"});
  EXPECT_EQ(warned.status, 0);
  EXPECT_NE(warned.err.find("warning: --vref 3 V differs from 2.5 V, the reference "
                            "out_voltage0_scale of the IIO device kt310 (iio:device0) gives"),
            std::string::npos)
      << warned.err;
  EXPECT_NE(warned.out.find("output 1.500000 V"), std::string::npos) << warned.out;
}

TEST(KtdacOnLinuxBoards, PermissionDeniedNamesWhatToChange) {
  test::Testbed bed;
  const std::string id = bed.AddIioDac({});
  // umockdev's ports cannot refuse an unprivileged open (its preloaded library ends the
  // program instead), so the port here is a plain file that only root may open for writing
  // (its owner too, when the test does not run as root): the board's own open and its
  // message are what is tested.
  const std::string port = test::WriteTempFile("spidev0.0", "");
  chmod(port.c_str(), 0400);
  // The bed is the test's own; an unprivileged user may look into it but not write.
  std::filesystem::permissions(
      bed.Root(), std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
      std::filesystem::perm_options::add);
  std::filesystem::permissions(std::filesystem::canonical(bed.File(id, kRaw)),
                               std::filesystem::perms::owner_read |
                                   std::filesystem::perms::group_read |
                                   std::filesystem::perms::others_read);
  const Result iio = KtdacAsNobody({"--board", "iio:local:", "set", "1"});
  EXPECT_EQ(iio.status, 1);
  EXPECT_NE(iio.err.find("permission denied: /sys/bus/iio/devices/iio:device0/out_voltage0_raw "
                         "belongs to root: give your group write access with a udev rule"),
            std::string::npos)
      << iio.err;
  const Result spi = KtdacAsNobody({"--board", "spidev:" + port, "set", "1"});
  EXPECT_EQ(spi.status, 1);
  EXPECT_NE(spi.err.find("permission denied on " + port), std::string::npos) << spi.err;
  EXPECT_NE(spi.err.find("GROUP=\"spi\", MODE=\"0660\""), std::string::npos) << spi.err;
  // A port of a group of its own: that group is named, to join.
  if (const group* daemon = getgrnam("daemon"); daemon && geteuid() == 0) {
    ASSERT_EQ(chown(port.c_str(), 0, daemon->gr_gid), 0);
    const Result grouped = KtdacAsNobody({"--board", "spidev:" + port, "set", "1"});
    EXPECT_NE(grouped.err.find("which belongs to the group daemon: add yourself to it (sudo "
                               "usermod -aG daemon $USER"),
              std::string::npos)
        << grouped.err;
  }
}

TEST(KtdacOnSpidev, ModelsAndRawFramesGoOutAsTheirBytes) {
  test::Testbed bed;
  const std::string port = bed.AddSpidev("spidev0.0");
  const std::string board = "spidev:" + port;
  struct Row {
    std::vector<std::string> args;
    Writes log;
    const char* out;
  };
  const Row rows[] = {
      {{"--board", board, "set", "--device", "KT300", "--power-down", "1k", "1234"},
       {"mode 1", "hz 1000000", "transfer D2 34 (8-bit words, 1000000 Hz)"},
       "1234    word 0x00D234  bytes D2 34"},
      {{"--board", board + ",mode=2,hz=250000", "set", "--device", "KT310", "1234", "FFFF"},
       {"mode 2", "hz 250000", "transfer 00 12 34 (8-bit words, 250000 Hz)",
        "transfer 00 FF FF (8-bit words, 250000 Hz)"},
       "FFFF    word 0x00FFFF  bytes 00 FF FF"},
      {{"--board", board, "raw", "--bits", "12", "--data", "ABC"},
       {"mode 1", "hz 1000000", "transfer BC 0A (12-bit words, 1000000 Hz)"},
       "bits 12  word 0x00000ABC  bytes BC 0A (one 12-bit word)  status 0"},
      {{"--board", board, "play", "--rate", "1000", "--device", "KT300", "--shape", "square",
        "--frequency", "250", "--cycles", "1", "--low", "1", "--high", "2"},
       {"mode 1", "hz 1000000", "transfer 00 02 (8-bit words, 1000000 Hz)",
        "transfer 00 02 (8-bit words, 1000000 Hz)", "transfer 00 01 (8-bit words, 1000000 Hz)",
        "transfer 00 01 (8-bit words, 1000000 Hz)"},
       "played 4 samples at"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.out);
    const Result result = Ktdac(row.args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(bed.SpiLog(), row.log);
    EXPECT_NE(result.out.find(row.out), std::string::npos) << result.out;
  }
}

}  // namespace
}  // namespace kt::link
