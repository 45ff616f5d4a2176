// SPDX-License-Identifier: MIT
// ktdac play through an IIO DAC's output buffer, against umockdev's test bed: the buffer's
// attributes in the bed's sysfs, and /dev/iio:deviceN answered by the bed, which keeps the
// samples written to it and, as a mainline kernel, has no high-speed block interface.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "link/iio_board.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/support/testbed.h"

namespace kt::link {
namespace {

// The codes in samples as a scan type ("be:u14/16>>2") stores them.
std::vector<int> CodesIn(const std::vector<unsigned char>& bytes, const std::string& type) {
  if (bytes.empty()) return {};
  const bool big = type[0] == 'b';
  const int shift = std::stoi(type.substr(type.find(">>") + 2));
  std::vector<int> codes;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    codes.push_back((big ? bytes[i] << 8 | bytes[i + 1] : bytes[i + 1] << 8 | bytes[i]) >> shift);
  return codes;
}

// A DAC whose driver has buffers of that scan type, its rate set on the device or trigger.
test::IioDac BufferedDac(std::string type, std::string rateOn = "device", int bits = 16,
                         int pushError = 0) {
  test::IioDac dac;
  dac.BufferType = std::move(type);
  dac.RateOn = std::move(rateOn);
  dac.DataBits = bits;
  dac.ScaleMv = 2500.0 / (1 << bits);
  dac.PushError = pushError;
  return dac;
}

TEST(IioBuffer, PlaysThroughTheDriversBufferWhereItHasOne) {
  const std::string file = test::WriteTempFile("samples", "1\n2\n1234\nFFFF\n");
  const std::vector<std::string> once{"--file", file, "--rate", "1000"};
  const auto with = [&](std::string option) {
    std::vector<std::string> args = once;
    args.push_back(std::move(option));
    return args;
  };
  const std::string le16 = "le:u16/16>>0";
  const std::vector<std::string> oneByOne{"played 4 samples", "late"};
  struct Row {
    const char* name;
    test::IioDac dac;
    std::vector<std::string> args;
    int status;
    std::vector<int> pushed;
    const char* raw;
    const char* rate;  // sampling_frequency where it is set; none: nowhere
    std::vector<std::string> says;
  };
  // clang-format off
  const Row rows[] = {
      {"a file streams in order, twice, at the rate set", BufferedDac(le16),
       {"--file", file, "--rate", "100", "--cycles", "2"}, 0,
       {1, 2, 0x1234, 0xFFFF, 1, 2, 0x1234, 0xFFFF}, "65535", "100",
       {"played 8 samples at 100 S/s (asked 100) through the board's buffer, timed by its clock"}},
      {"14-bit codes stored as the scan type says; the rate on the trigger; the final code",
       BufferedDac("be:u14/16>>2", "trigger", 14),
       {"--device", "KT300", "--shape", "ramp", "--frequency", "250", "--rate", "1000",
        "--cycles", "2", "--final", "10"}, 0,
       {0, 4096, 8192, 12288, 0, 4096, 8192, 12288}, "16", "1000", {"played 8 samples"}},
      {"a write the driver refuses ends the run with the first sample held",
       BufferedDac(le16, "device", 16, EIO), once, 5, {}, "1", "1000",
       {"pushing samples to the IIO device kt310 (iio:device0)'s buffer failed: "}},
      {"nothing sets a rate: the samples go one at a time", BufferedDac(le16, ""), once, 0, {},
       "65535", nullptr,
       {"kt310 (iio:device0) has no sampling_frequency, and no trigger that has one",
        "the samples go out one at a time instead", "played 4 samples", "late"}},
      {"a signed scan type is not the DAC's codes", BufferedDac("le:s16/16>>0"), once, 0, {},
       "65535", "1000",
       {"buffer holds samples of 16 bits in 16, signed, not the DAC's unsigned codes"}},
      {"--no-buffer", BufferedDac(le16), with("--no-buffer"), 0, {}, "65535", "1000", oneByOne},
      // Slow enough that no sample is a period late on a loaded machine.
      {"--strict times each sample", BufferedDac(le16),
       {"--file", file, "--rate", "10", "--strict"}, 0, {}, "65535", "1000", oneByOne},
      {"--log times each sample", BufferedDac(le16),
       {"--file", file, "--rate", "1000", "--log", test::WriteTempFile("log", "")}, 0, {},
       "65535", "1000", oneByOne},
      {"a driver without buffers, unsaid", BufferedDac(""), once, 0, {}, "65535", nullptr,
       oneByOne},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::Testbed bed;
    const std::string id = bed.AddIioDac(row.dac);
    std::vector<std::string> args{"--board", "iio:local:", "play"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const auto start = std::chrono::steady_clock::now();
    const test::Result result = test::Run("ktdac", args);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_EQ(CodesIn(bed.Pushed(id), row.dac.BufferType), row.pushed);
    // The buffer is closed only once the driver has sent what it was given.
    if (row.status == 0 && !row.pushed.empty()) {
      EXPECT_GE(took, static_cast<double>(row.pushed.size()) / std::stod(row.rate));
    }
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
    EXPECT_EQ(bed.Attribute(id, "out_voltage0_raw"), row.raw);
    if (row.rate) {
      EXPECT_EQ(bed.Attribute(row.dac.RateOn == "trigger" ? "trigger0" : id, "sampling_frequency"),
                row.rate);
    }
    EXPECT_EQ(bed.Attribute(id, "buffer/enable"), row.dac.BufferType.empty() ? "" : "0");
    for (const std::string& text : row.says)
      EXPECT_NE((result.out + result.err).find(text), std::string::npos)
          << text << "\n"
          << result.out << result.err;
    if (row.dac.BufferType.empty() || row.args.back() == "--no-buffer") {
      EXPECT_EQ(result.err.find("buffer"), std::string::npos) << result.err;
    }
  }
}

TEST(IioBuffer, TheBufferTakesWhatFitsAndDrainsAtItsRate) {
  test::Testbed bed;
  bed.AddIioDac(BufferedDac("le:u16/16>>0"));
  IioBoard board("local:", "");
  ASSERT_TRUE(board.Connect(Model{"KT310", 24, 16, {}})) << board.ConnectionFailureReason();
  std::string why;
  EXPECT_EQ(board.OpenOutputBuffer(500, 4, true, why), nullptr);  // no high-speed interface
  EXPECT_EQ(why,
            "the IIO device kt310 (iio:device0)'s driver has no cyclic buffers (libiio's "
            "high-speed interface)");
  const auto buffer = board.OpenOutputBuffer(500, 25, false, why);
  ASSERT_TRUE(buffer) << why;
  EXPECT_EQ(buffer->Rate(), 500);
  EXPECT_FALSE(buffer->Cyclic());
  EXPECT_FALSE(buffer->Push(std::vector<std::int32_t>(26, 1)));
  EXPECT_EQ(buffer->Failure(),
            "a push of 26 samples into the IIO device kt310 (iio:device0)'s buffer of 25");
  EXPECT_FALSE(buffer->Push({}));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(buffer->Push(std::vector<std::int32_t>(25, 1)));
  ASSERT_TRUE(buffer->Push(std::vector<std::int32_t>(25, 2)));
  buffer->Drain([] { return false; });  // 50 samples at 500 S/s: 0.1 s from the first push
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  bool asked = false;
  buffer->Drain([&] { return asked = true; });  // a stop cuts it short
  EXPECT_TRUE(asked);
}

TEST(IioBuffer, AStopEndsTheStreamAndHoldsTheSampleDueThen) {
  test::Testbed bed;
  const test::IioDac dac = BufferedDac("le:u16/16>>0");
  const std::string id = bed.AddIioDac(dac);
  const std::string out = test::WriteTempFile("out", "");
  const test::Child child = test::Start("ktdac",
                                        {"--board", "iio:local:", "play", "--shape", "square",
                                         "--frequency", "250", "--rate", "1000"},
                                        out, test::WriteTempFile("err", ""));
  std::vector<unsigned char> pushed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (pushed.size() < 400 && std::chrono::steady_clock::now() < deadline) {
    const auto more = bed.Pushed(id);
    pushed.insert(pushed.end(), more.begin(), more.end());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGTERM);
  EXPECT_EQ(test::Wait(child), 143);
  const auto more = bed.Pushed(id);
  pushed.insert(pushed.end(), more.begin(), more.end());
  // A cycle of 4 samples, which the driver cannot repeat by itself: streamed, none lost.
  const std::vector<int> codes = CodesIn(pushed, dac.BufferType);
  ASSERT_GE(codes.size(), 200u);
  for (std::size_t k = 0; k < codes.size(); ++k) ASSERT_EQ(codes[k], k % 4 < 2 ? 0xFFFF : 0) << k;
  const std::string raw = bed.Attribute(id, "out_voltage0_raw");
  EXPECT_TRUE(raw == "65535" || raw == "0") << raw;
  EXPECT_EQ(bed.Attribute(id, "buffer/enable"), "0");
  std::ifstream played(out);
  EXPECT_NE(
      std::string(std::istreambuf_iterator<char>(played), {}).find("through the board's buffer"),
      std::string::npos);
}

}  // namespace
}  // namespace kt::link
