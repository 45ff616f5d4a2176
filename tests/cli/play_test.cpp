// SPDX-License-Identifier: MIT
// ktdac play as a user runs it, against the simulated board: the codes that reached the
// board, in order, from its trace; what is refused before anything is sent.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "console/parsing.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace kt::cli {
namespace {

std::vector<int> Codes(const test::Trace& trace) {
  std::vector<int> codes;
  for (const auto& frame : trace.Frames()) codes.push_back(frame["code"].get<int>());
  return codes;
}

TEST(Play, ShapesAndFilesReachTheBoardSampleBySampleOrAreRefusedWithNothingSent) {
  const std::string hex = test::WriteTempFile("hex.txt", "# three\n10\n0x20\r\n\nFF\n");
  const std::string volts = test::WriteTempFile("volts.txt", "0\n1.25\n");
  const std::string bad = test::WriteTempFile("bad.txt", "10\n1O\n");
  struct Row {
    std::vector<std::string> args;  // after play --rate 1000
    int status;
    std::vector<int> codes;  // the frames, in order; for a refusal none
    const char* says;        // on standard error
  };
  const Row rows[] = {
      {{"--shape", "sine", "--frequency", "250", "--cycles", "2", "--low", "0", "--high", "8"},
       0,
       {4, 8, 4, 0, 4, 8, 4, 0},
       ""},
      {{"--shape", "tri", "--frequency", "250", "--cycles", "1", "--high", "8"},
       0,
       {0, 4, 8, 4},
       ""},
      {{"--shape", "ramp", "--frequency", "250", "--duration", "6ms", "--high", "3"},
       0,
       {0, 1, 2, 3, 0, 1},
       ""},
      {{"--device", "KT300", "--shape", "square", "--frequency", "250", "--cycles", "1", "--vref",
        "2.5", "--amplitude", "1.25", "--offset", "1.25"},
       0,
       {12288, 12288, 4096, 4096},
       ""},
      {{"--file", hex}, 0, {0x10, 0x20, 0xFF}, ""},
      {{"--format", "dec", "--shape", "ramp", "--frequency", "250", "--cycles", "1", "--low", "10",
        "--high", "13"},
       0,
       {10, 11, 12, 13},
       ""},
      {{"--file", hex, "--cycles", "2", "--final", "1234"},
       0,
       {0x10, 0x20, 0xFF, 0x10, 0x20, 0xFF, 0x1234},
       ""},
      {{"--file", volts, "--volts", "--vref", "2.5"}, 0, {0, 32768}, ""},
      {{"--file", bad}, kUsageError, {}, "bad.txt line 2: \"1O\" is not a code in hexadecimal"},
      {{"--file", volts, "--volts"}, kUsageError, {}, "--vref is required for volts"},
      {{"--file", volts, "--volts", "--vref", "1"},
       kUsageError,
       {},
       "line 2: 1.25 V is beyond the DAC's 0 V to 0.999985 V"},
      {{"--shape", "sine", "--frequency", "501"},
       kUsageError,
       {},
       "at most half the rate (500 Hz)"},
      {{"--shape", "sine", "--frequency", "1", "--vref", "2.5", "--amplitude", "2", "--offset",
        "2"},
       kUsageError,
       {},
       "reach beyond the DAC's 0 V to 2.49996 V"},
      {{"--shape", "sine", "--file", hex}, kUsageError, {}, "--shape or --file, and not both"},
      {{"--shape", "saw", "--frequency", "1"}, kUsageError, {}, "not \"saw\""},
      {{"--shape", "sine", "--frequency", "1", "--low", "9", "--high", "8"},
       kUsageError,
       {},
       "--low is above --high"},
      {{"--shape", "sine", "--frequency", "1", "--high", "10000"},
       kUsageError,
       {},
       "--high 10000 is beyond"},
      {{"--file", hex, "--cycles", "0"}, kUsageError, {}, "--cycles must be 1 or more"},
      {{"--file", hex, "--log", "/nonexistent/play.csv"},
       kWriteFailure,
       {},
       "cannot write /nonexistent/play.csv"},
      {{"--shape", "sine", "--frequency", "1", "--amplitude", "1", "--offset", "1", "--low", "5"},
       kUsageError,
       {},
       "not both"},
      {{"--file", hex, "--high", "5"}, kUsageError, {}, "are a shape's"},
      {{"--file", hex, "--frequency", "5"}, kUsageError, {}, "are a shape's"},
      {{"--file", hex, "--offset", "1"}, kUsageError, {}, "are a shape's"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[1]);
    test::Trace trace;
    std::vector<std::string> args{"play", "--rate", "1000"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const test::Result result = test::Run("ktdac", args);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_EQ(Codes(trace), row.codes);
    EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
    if (row.status == 0) {
      const std::size_t samples = row.codes.size() - (args.back() == "1234");
      EXPECT_EQ(result.out.rfind("played " + std::to_string(samples) + " samples at ", 0), 0u)
          << result.out;
    }
  }
}

TEST(Play, ARateOutsideWhatCanBeAskedIsRefused) {
  for (const char* rate : {"0", "-5", "2e6", "nan"}) {
    const test::Result result =
        test::Run("ktdac", {"play", "--rate", rate, "--shape", "sine", "--frequency", "1"});
    EXPECT_EQ(result.status, kUsageError) << rate;
    EXPECT_NE(result.err.find("is not a rate from above 0 to 1e+06"), std::string::npos)
        << result.err;
  }
}

TEST(Play, SamplesALibraryCannotKeepUpWithAreCountedLateAndStrictEndsAtTheFirst) {
  // Each frame takes 3 ms in the library at 1000 samples a second.
  const test::ScopedEnv slow("KT_SIM_LATENCY_US", "3000");
  for (const bool strict : {false, true}) {
    test::Trace trace;
    std::vector<std::string> args{"play",        "--rate", "1000",       "--shape", "ramp",
                                  "--frequency", "10",     "--duration", "20ms"};
    if (strict) args.push_back("--strict");
    const test::Result result = test::Run("ktdac", args);
    EXPECT_EQ(result.status, strict ? kLateSample : 0) << result.err;
    std::smatch late;
    ASSERT_TRUE(
        std::regex_search(result.out, late, std::regex("played (\\d+) samples .*, (\\d+) late")))
        << result.out;
    // Sample 1 goes out 2 ms late at least; strict ends there (or at sample 0 on a busy
    // machine). Without it, every sample is sent, however late.
    if (strict)
      EXPECT_LE(std::stoul(late[1]), 2u);
    else
      EXPECT_EQ(std::stoul(late[1]), 20u);
    EXPECT_GE(std::stoul(late[2]), 1u);
    EXPECT_EQ(Codes(trace).size(), std::stoul(late[1]));
  }
}

#ifndef _WIN32
TEST(Play, AStopSignalEndsAtASampleBoundaryAndLeavesTheFinalCode) {
  test::Trace trace;
  const test::Child child = test::Start(
      "ktdac", {"play", "--rate", "200", "--shape", "ramp", "--frequency", "1", "--final", "ABCD"},
      test::WriteTempFile("out", ""), test::WriteTempFile("err", ""));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (trace.Frames().size() < 20 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(child, SIGTERM);
  EXPECT_EQ(test::Wait(child), 143);
  const std::vector<int> codes = Codes(trace);
  ASSERT_GE(codes.size(), 21u);
  EXPECT_EQ(codes.back(), 0xABCD);
  for (std::size_t k = 0; k + 1 < codes.size(); ++k)  // the ramp's samples, none lost
    EXPECT_EQ(codes[k], static_cast<int>((k * 65536) / 200)) << k;
}
#endif

}  // namespace
}  // namespace kt::cli
