// SPDX-License-Identifier: MIT
// ktdac run as a user runs it, against the simulated board; what reached the board is read
// from the board's trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "console/parsing.h"
#include "console/progress.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kt::cli {
namespace {

using test::Result;

std::string Read(const std::string& file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), {}};
}

using test::Child;
using test::Kill;
using test::Wait;

#ifndef _WIN32
// ktdac started and left running: POSIX signals and pipes only.
Child Start(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  return test::Start("ktdac", args, out, err);
}
#endif

std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::u8string(utf8.begin(), utf8.end());
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

Result Ktdac(const std::vector<std::string>& args) { return test::Run("ktdac", args); }

TEST(Ktdac, SetSendsWhatTheUpdateSendsForEachDeviceAndMode) {
  struct Row {
    std::vector<std::string> args;
    int value, index;
    const char* box;
  };
  const Row rows[] = {
      {{"--device", "KT310", "--power-down", "tri-state", "1234"}, 0x1234, 0x1801, "1234"},
      {{"--device", "KT300", "--power-down", "1k", "1234"}, 0xD234, 0x1000, "1234"},
      {{"--device", "KT300", "--power-down", "three_state", "--clamp", "4000"},
       0x7FFF,
       0x1000,
       "3FFF"},
      {{"--device", "KT313", "--power-down", "100kohm_to_gnd", "--format", "dec", "--clamp",
        "70000"},
       0xFFFF,
       0x1802,
       "65535"},
      {{"--device", "KT311", "--power-down", "100k", "--clamp", "FFFFFFFF"},
       0x0000,
       0x1802,
       "0000"},
      {{"--device", "KT312", "--format", "dec", "12"}, 0x000C, 0x1800, "12"},
      {{"--device", "KT312", "--format", "dec", "0x1F"}, 0x001F, 0x1800, "31"},
      {{"--device", "KT310", "0xabc"}, 0x0ABC, 0x1800, "0ABC"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    test::Trace trace;
    std::vector<std::string> args{"set"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result result = Ktdac(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto frames = trace.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]["value"], row.value);
    EXPECT_EQ(frames[0]["index"], row.index);
    EXPECT_EQ(result.out.substr(0, result.out.find(' ')), row.box);
  }
}

TEST(Ktdac, ScriptsReadWhatWasSentAsCsvOrJson) {
  struct Row {
    std::vector<std::string> args;
    std::string out;  // elapsed times cut from sweeps
  };
  const Row rows[] = {
      {{"list", "--output", "csv"},
       "device,frame_bits,data_bits\nKT300,16,14\nKT310,24,16\nKT311,24,16\nKT312,24,16\n"
       "KT313,24,16\n"},
      {{"list", "--output", "JSON"},
       "{\"device\":\"KT300\",\"frame_bits\":16,\"data_bits\":14}\n"
       "{\"device\":\"KT310\",\"frame_bits\":24,\"data_bits\":16}\n"
       "{\"device\":\"KT311\",\"frame_bits\":24,\"data_bits\":16}\n"
       "{\"device\":\"KT312\",\"frame_bits\":24,\"data_bits\":16}\n"
       "{\"device\":\"KT313\",\"frame_bits\":24,\"data_bits\":16}\n"},
      {{"set", "--output", "csv", "--device", "kt300", "--clamp", "--vref", "2.5", "0", "4000"},
       "device,power_down,code,frame_word,request_value,request_index,board_status,output_v\n"
       "KT300,normal,0,0,0,4096,0,0.000000\n"
       "KT300,normal,16384,16383,16383,4096,0,2.499847\n"},
      {{"set", "--output", "csv", "--power-down", "three_state", "1"},
       "device,power_down,code,frame_word,request_value,request_index,board_status\n"
       "KT310,tri-state,1,65537,1,6145,0\n"},
      {{"set", "--output", "json", "--format", "dec", "--vref", "4", "32768", "65535"},
       "{\"device\":\"KT310\",\"power_down\":\"normal\",\"code\":32768,\"frame_word\":32768,"
       "\"request_value\":32768,\"request_index\":6144,\"board_status\":0,\"output_v\":2.0}\n"
       "{\"device\":\"KT310\",\"power_down\":\"normal\",\"code\":65535,\"frame_word\":65535,"
       "\"request_value\":65535,\"request_index\":6144,\"board_status\":0,"
       "\"output_v\":3.99993896484375}\n"},
      {{"set", "--output", "json", "--power-down", "1k", "--vref", "4", "FF"},
       "{\"device\":\"KT310\",\"power_down\":\"1k\",\"code\":255,\"frame_word\":196863,"
       "\"request_value\":255,\"request_index\":6147,\"board_status\":0,\"output_v\":null}\n"},
      {{"sweep", "--device", "KT313", "--from", "2", "--to", "0", "--vref", "2"},
       "device,power_down,code,frame_word,request_value,request_index,board_status,elapsed_s,"
       "output_v\n"
       "KT313,normal,2,2,2,6144,0,,0.000061\nKT313,normal,1,1,1,6144,0,,0.000031\n"
       "KT313,normal,0,0,0,6144,0,,0.000000\n"},
      {{"sweep", "--power-down", "100k", "--from", "0", "--to", "0", "--vref", "2"},
       "device,power_down,code,frame_word,request_value,request_index,board_status,elapsed_s,"
       "output_v\nKT310,100k,0,131072,0,6146,0,,\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const Result result = Ktdac(row.args);
    ASSERT_EQ(result.status, 0) << result.err;
    std::string out = result.out;
    if (row.args[0] == "sweep") {  // the elapsed column: eighth, a time of its own each run
      for (std::size_t line = out.find('\n') + 1; line < out.size();
           line = out.find('\n', line) + 1) {
        std::size_t start = line;
        for (int comma = 0; comma < 7; ++comma) start = out.find(',', start) + 1;
        out.erase(start, out.find(',', start) - start);
      }
    }
    EXPECT_EQ(out, row.out);
  }
}

TEST(Ktdac, AValueThatIsNotAWholeCodeInRangeIsRefusedBeforeAnythingIsSent) {
  const std::vector<std::string> rows[] = {
      {"set", "--format", "dec", "1e3"},
      {"set", "--format", "dec", "NaN"},
      {"set", "--format", "dec", "inf"},
      {"set", "--format", "dec", "abc"},
      {"set", ""},
      {"set", "--format", "dec", "12abc"},
      {"set", "--format", "dec", "12.5"},
      {"set", "--format", "dec", "-3"},
      {"set", "FFFFFFFF"},
      {"set", "1FFFF"},
      {"set", "--device", "KT300", "4000"},
      {"set", "1234", "zz"},
      {"raw", "--bits", "abc", "--data", "1"},
      {"raw", "--bits", "24", "--data", "zz"},
      {"raw", "--bits", "", "--data", "1"},
      {"raw", "--bits", "24", "--data", "0x"},
      {"sweep", "--from", "0", "--to", "1FFFF"},
      {"sweep", "--from", "x", "--to", "1"},
      {"set", "--vref", "nan", "1"},
      {"sweep", "--from", "0", "--to", "1", "--vref", "-2.5"},
      {"set", "--output", "xml", "1"},
  };
  for (const auto& args : rows) {
    SCOPED_TRACE(::testing::PrintToString(args));
    test::Trace trace;
    const Result result = Ktdac(args);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(result.err.rfind("ktdac: ", 0), 0u) << result.err;
    EXPECT_TRUE(trace.Records().empty()) << "nothing reaches the library";
  }
}

TEST(Ktdac, SetPrintsTheIdealOutputOrThePowerDownState) {
  const Result result = Ktdac({"set", "--vref", "2.5", "8000", "--power-down", "normal"});
  EXPECT_NE(result.out.find("output 1.250000 V"), std::string::npos) << result.out;
  const Result off = Ktdac({"set", "--vref", "2.5", "--power-down", "1k", "8000"});
  EXPECT_NE(off.out.find("power-down, 1 kOhm to GND"), std::string::npos) << off.out;
}

TEST(Ktdac, SweepsAWhole14BitRangeInOrderWithNothingLostOrRepeated) {
  test::Trace trace;
  const std::string csv = test::WriteTempFile("sweep.csv", "");
  const Result result =
      Ktdac({"sweep", "--device", "KT300", "--from", "0", "--to", "0x3FFF", "--csv", csv});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto frames = trace.Frames();
  ASSERT_EQ(frames.size(), 16384u);
  for (std::size_t code = 0; code < frames.size(); ++code) {
    ASSERT_EQ(frames[code]["value"], code);
    ASSERT_EQ(frames[code]["index"], 0x1000);
  }
  const std::string rows = Read(csv);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 16385);
  const std::string last = rows.substr(rows.rfind('\n', rows.size() - 2) + 1);
  EXPECT_EQ(last.substr(0, 36), "KT300,normal,16383,16383,16383,4096,");
}

#ifndef _WIN32
// POSIX signals only: a Windows console's Ctrl-C cannot be sent to a program started
// without a console of its own, as the tests start it.
TEST(Ktdac, ASignalStopsASweepAfterTheFrameInHandAndTheCsvKeepsEverySentRow) {
  struct Row {
    int signal;
    int status;        // ended itself with 128 + the signal, or (negative) killed by it
    std::size_t lost;  // rows the CSV may lack against the trace: a hard kill, the one in hand
    bool toStandardOutput;
  };
  const Row rows[] = {
      {SIGINT, 130, 0, false},       {SIGTERM, 143, 0, false},     {SIGHUP, 129, 0, false},
      {SIGKILL, -SIGKILL, 1, false}, {SIGKILL, -SIGKILL, 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << "signal " << row.signal << (row.toStandardOutput ? ", stdout" : ""));
    test::Trace trace;
    const std::string csv = test::WriteTempFile("interrupted.csv", "");
    std::vector<std::string> args{"sweep", "--from", "0", "--to", "0xFFFF", "--dwell", "2ms"};
    if (!row.toStandardOutput) args.insert(args.end(), {"--csv", csv});
    const Child child = Start(args, row.toStandardOutput ? csv : test::WriteTempFile("out", ""),
                              test::WriteTempFile("err", ""));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (trace.Frames().size() < 50 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, row.signal);
    EXPECT_EQ(Wait(child), row.status);
    const auto frames = trace.Frames();
    ASSERT_GE(frames.size(), 50u);
    ASSERT_LT(frames.size(), 65536u);
    const std::string rows = Read(csv);
    const auto written = static_cast<std::size_t>(std::count(rows.begin(), rows.end(), '\n'));
    EXPECT_LE(written, frames.size() + 1) << "a row for every frame, and the header";
    EXPECT_GE(written + row.lost, frames.size() + 1) << "no row lost but the frame in hand";
    const std::string last = rows.substr(rows.rfind('\n', rows.size() - 2) + 1);
    const std::size_t code = last.find(',', last.find(',') + 1) + 1;  // the third column
    const auto lastCode = std::stoi(last.substr(code, last.find(',', code) - code));
    EXPECT_GE(lastCode + static_cast<int>(row.lost), frames.back()["value"].get<int>());
  }
}
#endif

#ifndef _WIN32
TEST(Ktdac, EveryWaitEndsAtOnceOnAStopSignal) {
  // A dwell of an hour, a script's wait of an hour, and a sweep writing to a pipe whose
  // reader has stopped reading: each stop signal ends the run within the bound, by the
  // program's own exit (128 + the signal), with a row for every frame sent.
  const std::string script = test::WriteTempFile("long.txt", "set 1\nwait 1h\nset 2\n");
  const std::string fifo = test::WriteTempFile("fifo", "") + ".pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Way {
    const char* what;
    std::vector<std::string> args;
    bool blockedPipe;
    std::size_t frames;  // sent before the signal, 0: many
  };
  const Way ways[] = {
      {"a sweep's dwell", {"sweep", "--from", "0", "--to", "3", "--dwell", "1h"}, false, 1},
      {"a script's wait", {"run", script}, false, 1},
      {"a write to a full pipe",
       {"sweep", "--from", "0", "--to", "0xFFFF", "--repeat", "9"},
       true,
       0},
  };
  for (const Way& way : ways) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(::testing::Message() << way.what << ", signal " << signal);
      test::Trace trace;
      // The pipe's reader: open, never reading, so the pipe fills and the writer blocks.
      const int reader = way.blockedPipe ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
      const std::string out = way.blockedPipe ? fifo : test::WriteTempFile("out", "");
      const Child child = Start(way.args, out, test::WriteTempFile("err", ""));
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      const std::size_t before = way.frames ? way.frames : 100;
      while (trace.Frames().size() < before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well inside the wait
      kill(child, signal);
      // Ended within the bound, or killed so that the test goes on.
      int status = 0;
      const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(3);
      while (waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < bound)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (std::chrono::steady_clock::now() >= bound) {
        ADD_FAILURE() << "still running 3 s after the signal";
        Kill(child);
      } else {
        EXPECT_TRUE(WIFEXITED(status)) << "killed by the signal, not ended by itself";
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
      }
      if (way.frames) {
        EXPECT_EQ(trace.Frames().size(), way.frames);
      }
      if (reader >= 0) close(reader);
    }
  }
}

TEST(Ktdac, StandardOutputThatCannotBeWrittenEndsTheRunWithItsOwnStatus) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"set", "1"}, {"list"}, {"raw", "--bits", "8", "--data", "1"}}) {
    SCOPED_TRACE(args.front());
    const std::string err = test::WriteTempFile("err", "");
    EXPECT_EQ(Wait(Start(args, "/dev/full", err)), 4);
    EXPECT_NE(Read(err).find("ktdac: cannot write standard output: No space left on device"),
              std::string::npos)
        << Read(err);
  }
}
#endif

TEST(Ktdac, ScriptsRunInOrderAndStopAtTheLineThatFails) {
  struct Row {
    const char* script;
    int status;
    const char* says;
    std::size_t frames;
  };
  const Row rows[] = {
      {"# bench\nset 1\nwait 1ms\nsweep --from 0 --to 2\nraw --bits 16 --data AB # one\n", 0, "",
       5},
      {"set 1\nfrobnicate 3\n", 2, ":2: \"frobnicate\" is not a command", 0},
      {"set 1\n\nset --device KT999 1\n", 2, ":3: --device: KT999 not in", 0},
      {"set 1\nsweep --from 0 --to 0x10000\n", 2, ":2: --to 0x10000 is beyond", 0},
      {"set 1\nraw --bits 99999 --data 1\n", 2, ":2: frame length 99999 is outside", 0},
      {"set \"1\n", 2, "script.txt:1: a quote is not closed", 0},
      {"set 1\nset\n", 2, "script.txt:2: set needs at least one code", 0},
      {"wait\n", 2, "script.txt:1: wait needs a duration", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.script);
    test::Trace trace;
    const Result result = Ktdac({"run", test::WriteTempFile("script.txt", row.script)});
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
    EXPECT_EQ(trace.Frames().size(), row.frames);
  }
}

TEST(Ktdac, ExitStatusNamesTheKindOfFailure) {
  struct Row {
    std::vector<std::string> args;
    const char* environment;
    int status;
    std::string says;
  };
  const std::string corrupt = test::WriteTempFile("corrupt.hex", ":00\n");
  const std::string folder = std::filesystem::path(corrupt).parent_path().string();
  const std::string endless = test::WriteTempFile("endless.txt", std::string((1 << 20) + 1, '\n'));
  const Row rows[] = {
      {{"list"}, "", 0, ""},
      // What a command lacks is named, not taken for an unknown command.
      {{"set"}, "", 2, "ktdac: set needs at least one code"},
      {{"set", "--vref", "2"}, "", 2, "ktdac: set needs at least one code"},
      {{"sweep", "--to", "5"}, "", 2, "ktdac: sweep: --from is required"},
      {{"raw", "--data", "1"}, "", 2, "ktdac: raw: --bits is required"},
      {{"run"}, "", 2, "ktdac: run needs a script"},
      {{"frob"}, "", 2, "ktdac: unknown command \"frob\""},
      // An empty path is refused, not taken as the default.
      {{"sweep", "--from", "0", "--to", "1", "--csv", ""}, "", 2, "--csv: an empty path"},
      {{"--library", "", "set", "1"}, "", 2, "--library: an empty path"},
      {{"--firmware", "", "set", "1"}, "", 2, "--firmware: an empty path"},
      {{"run", ""}, "", 2, "script: an empty path"},
      {{"run", endless}, "", 2, "is longer than 1048576 bytes"},
      {{"set", "1"},
       "KT_SIM_BOARDS=0",
       1,
       "Communication Failure - Check USB connections: the board search returned -1\n"},
      {{"--generation", "1", "set", "1"},
       "KT_SIM_BOARDS=0",
       1,
       "Communication Failure - Check USB connections: the firmware load returned -1"},
      {{"--firmware", corrupt, "set", "1"},
       "",
       1,
       "ktdac: the firmware load returned -3, loading " + corrupt +
           ": the board was found and connected but did not take this firmware"},
      {{"set", "zz"}, "", 2, "\"zz\" is not a code"},
      {{"sweep", "--from", "0", "--to", "10", "--step", "0"}, "", 2, "--step must not be 0"},
      {{"sweep", "--from", "0", "--to", "1", "--dwell", "soon"}, "", 2, "is not a duration"},
      {{"raw", "--bits", "24", "--data", "123456789"}, "", 2, "more than eight"},
      {{"raw", "--bits", "32", "--data", "DEADBEEF"}, "", 2, "wider than the 24 bits"},
      // What --clamp would send is said, and a decimal entry beyond 32 bits is a usage error.
      {{"set", "1FFFF"}, "", 2, "last code 0xFFFF (--clamp sends 0xFFFF)"},
      {{"set", "80000000"},
       "",
       2,
       "(--clamp sends 0x0, as the entry box reads it as a negative number)"},
      {{"set", "--format", "dec", "--clamp", "0xFFFFFFFF"},
       "",
       2,
       "value 0xFFFFFFFF is beyond the signed 32-bit range a decimal entry holds"},
      {{"raw", "--bits", "24", "--data", "1000000"}, "", 2, "wider than the 24 bits"},
      {{"set", "--vref", "1e308", "FFFF"}, "", 2, "--vref 1e+308 is beyond 1000 V"},
      {{"sweep", "--from", "0", "--to", "1", "--vref", "1000.5"}, "", 2, "is beyond 1000 V"},
      {{"set", "--vref", "1e-320", "1"}, "", 2, "is below 0.001 V, the least reference"},
      {{"run", folder}, "", 2, "the script " + folder + ": not a plain file"},
      {{"run", folder + "/none.txt"}, "", 2, ": no such file"},
      {{"--firmware", folder, "set", "1"}, "", 2, "--firmware " + folder + ": not a plain file"},
      {{"--no-such-option", "list"},
       "",
       2,
       "ktdac: The following argument was not expected: --no-such-option"},
      {{"frob"},
       "",
       2,
       "ktdac: unknown command \"frob\" (list, set, sweep, play, raw, characterize, serve, run)"},
      {{"--generation", "2", "frob"}, "", 2, "unknown command \"frob\""},
      {{"--version"}, "", 0, ""},
      {{"set", "--device", "kt300", "--power-down", "TRI-STATE", "1"}, "", 0, ""},
      {{"sweep", "--from", "0", "--to", "1", "--dwell", "0"}, "", 0, ""},
      {{"sweep", "--from", "0", "--to", "1", "--dwell", "0.0001h"}, "", 0, ""},
      {{"sweep", "--from", "0", "--to", "1", "--dwell", "99999999h"}, "", 2, "too long a duration"},
      {{"--generation", "1", "--library", "/x.so", "set", "1"}, "", 2, "--library replaces"},
      {{"set", "1", "2"}, "KT_SIM_SEND_STATUS=3", 5, "the board refused the frame of 1 (status 3)"},
      {{"sweep", "--from", "0", "--to", "5"},
       "KT_SIM_SEND_STATUS=-1",
       5,
       "refused the frame of 0000"},
      {{"raw", "--bits", "24", "--data", "1"}, "KT_SIM_SEND_STATUS=1", 5, "(status 1)"},
#ifndef _WIN32
      {{"set", "1"}, "", 0, ""},  // the baseline of the write failures below
      {{"sweep", "--from", "0", "--to", "999", "--csv", "/dev/full"},
       "",
       4,
       "cannot write /dev/full: No space left on device"},
      {{"sweep", "--from", "0", "--to", "9", "--csv", "/proc/version"},
       "",
       4,
       "cannot write /proc/version"},
#endif
      {{"--library", "/nonexistent/libX.so", "set", "1"},
       "",
       3,
       "cannot load library /nonexistent/libX.so"},
      {{"--board", "usb:1", "set", "1"}, "", 2, "ktdac: --board: \"usb:1\" names no board"},
      {{"--board", "", "set", "1"}, "", 2, "--board: it needs a value"},
#ifdef _WIN32
      {{"--board", "iio:local:", "set", "1"},
       "",
       2,
       "ktdac: this build reaches the evaluation board's library only: IIO boards are in the "
       "Linux programs"},
#else
      {{"--board", "spidev:/dev/spidev9.9", "--library", "/x.so", "set", "1"},
       "",
       2,
       "--library is for the evaluation board's library, not for --board spidev:/dev/spidev9.9"},
#endif
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    const std::string text = row.environment;
    const auto cut = text.find('=');
    std::optional<test::ScopedEnv> env;
    if (cut != std::string::npos) env.emplace(text.substr(0, cut).c_str(), text.substr(cut + 1));
    const Result result = Ktdac(row.args);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
  }
}

TEST(Ktdac, ArgumentsArriveWholeAlsoThroughTheHandOffToTheOtherGeneration) {
  // A folder with blanks, a quote-free name ending in a backslash-like form, and a character
  // beyond ASCII that the ANSI code page holds: each path must arrive as one argument, as
  // typed, through the second program's command line as well.
  // In a folder of this run's own: another user's or run's leftovers are not ours to remove.
  const std::filesystem::path folder =
      std::filesystem::path(test::WriteTempFile("args", "") + ".d") /
      Utf8Path("My Scripts \xc3\xa9t\xc3\xa9");
  std::filesystem::create_directories(folder);
  const std::filesystem::path script = folder / "bench x.txt";
  std::ofstream(script) << "set --device KT300 1234\n";
  const std::filesystem::path firmware = folder / "SPI.hex";
  // Removed first: MinGW's copy_file does not overwrite, whatever the options say.
  std::filesystem::remove(firmware);
  std::filesystem::copy_file(test::BesideProgram("SPI.hex"), firmware);
  for (const char* generation : {"1", "2"}) {
    SCOPED_TRACE(generation);
    test::Trace trace;
    const Result result =
        Ktdac({"--generation", generation, "--firmware", Utf8(firmware), "run", Utf8(script)});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(trace.Frames().size(), 1u);
  }
  // The other program's exit status is the run's.
  const Result refused = Ktdac({"--generation", "1", "set", "zz"});
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_EQ(refused.err.find("cannot start"), std::string::npos) << refused.err;
}

TEST(Ktdac, TheSimulatedBoardReportsItsCallsAndTheirTimeWhenTheProgramEnds) {
  const std::string stats = test::WriteTempFile("stats.json", "");
  std::filesystem::remove(stats);
  const test::ScopedEnv report("KT_SIM_STATS", stats);
  const test::ScopedEnv latency("KT_SIM_LATENCY_US", "2000");
  const Result result = Ktdac({"set", "1", "2"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto record = nlohmann::json::parse(Read(stats));
  EXPECT_EQ(record["calls"], 5) << "search, connect, load and two frames";
  // Each call is held to its latency at least; how much longer is for the benchmark to say.
  EXPECT_GE(record["inside_s"].get<double>(), 5 * 0.002);
}

TEST(ScriptReading, QuotesCommentsAndLineEndings) {
  using Lines = std::vector<std::pair<int, std::vector<std::string>>>;
  struct Row {
    std::string text;
    std::optional<Lines> lines;  // nothing: refused
  };
  const Row rows[] = {
      {"", Lines{}},
      {"set 1", Lines{{1, {"set", "1"}}}},  // no newline at the end
      {"set 1\r\nset 2\r\n", Lines{{1, {"set", "1"}}, {2, {"set", "2"}}}},
      {"set\t1 \t 2  \n", Lines{{1, {"set", "1", "2"}}}},
      {"# a comment\n\n   \nset 1 # after\n", Lines{{4, {"set", "1"}}}},
      {"#set 1\n", Lines{}},
      {"set \"a b\" c\n", Lines{{1, {"set", "a b", "c"}}}},
      {"set \"#x\" # y\n", Lines{{1, {"set", "#x"}}}},    // a quoted # is no comment
      {"set \"\" x\n", Lines{{1, {"set", "", "x"}}}},     // an empty word, quoted
      {"set a\"b c\"d\n", Lines{{1, {"set", "ab cd"}}}},  // quotes join within a word
      {"set \"a\r\"\n", Lines{{1, {"set", "a\r"}}}},
      {"set 1\nset \"2\n", std::nullopt},  // a quote left open, on line 2
      {"set \"#\n", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    if (!row.lines) {
      EXPECT_THROW(ReadScript(row.text), UsageError);
      continue;
    }
    Lines read;
    for (const ScriptLine& line : ReadScript(row.text)) read.emplace_back(line.number, line.words);
    EXPECT_EQ(read, *row.lines);
  }
}

TEST(Progress, TheLineFillsTheTerminalButItsLastColumnAndDropsWhatDoesNotFit) {
  struct Row {
    std::int64_t done, total;
    double seconds;
    int width;
    std::string line;
  };
  const Row rows[] = {
      {0, 10, 0, 0, ""},
      {5, 10, 1, 1, ""},
      {5, 10, 1, 2, " "},
      {5, 10, 1, 3, "[]"},
      {5, 10, 1, 7, "[##--]"},
      {5, 10, 1, 22, "[#######-------] 5/10"},
      {5, 10, 1, 23, "[#######--------] 5/10"},  // a partial cell is not drawn
      {5, 10, 1, 40, "[##########----------] 5/10  5 frames/s"},
      {5, 10, 1, 52, "[##########-----------] 5/10  5 frames/s  0:01 left"},
      {65536, 65536, 2, 60, "[##################] 65536/65536  32768 frames/s  0:00 left"},
      {0, 600, 1e-9, 44, "[------------] 0/600  0 frames/s  -:-- left"},
      {60, 3660, 1, 60, "[-------------------------] 60/3660  60 frames/s  1:00 left"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.width);
    const std::string line = ProgressLine(row.done, row.total, row.seconds, row.width);
    EXPECT_EQ(line.size(), static_cast<std::size_t>(std::max(row.width - 1, 0)));
    EXPECT_EQ(line.substr(0, line.find_last_not_of(' ') + 1),
              row.line.substr(0, row.line.find_last_not_of(' ') + 1));
  }
}

TEST(Ktdac, GenerationOneSendsThroughTheFirstGenerationLibrary) {
  test::Trace trace;
  const Result result = Ktdac({"--generation", "1", "set", "--device", "KT300", "1234"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(trace.Entries(), (std::vector<std::string>{"InitLink", "LinkControl"}));
}

}  // namespace
}  // namespace kt::cli
