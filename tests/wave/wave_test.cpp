// SPDX-License-Identifier: MIT
// What a waveform plays, sample by sample, and the player's ends and lateness, on the
// monotonic clock with a road that records.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/error.h"
#include "wave/buffered.h"
#include "wave/player.h"
#include "wave/samples.h"

namespace kt::wave {
namespace {

using std::chrono::nanoseconds;

TEST(Wave, EachShapeAndItsNamesGiveTheirCodesFromTheIndexAlone) {
  struct Row {
    const char* name;  // as the command line or SCPI says it
    std::int32_t low, high;
    std::vector<std::int32_t> cycle;  // at 4 samples a cycle
  };
  const Row rows[] = {
      {"sine", 0, 8, {4, 8, 4, 0}}, {"SINusoid", 10, 10, {10, 10, 10, 10}},
      {"tri", 0, 8, {0, 4, 8, 4}},  {"Square", 0, 8, {8, 8, 0, 0}},
      {"RAMP", 0, 3, {0, 1, 2, 3}}, {"ramp", 100, 107, {100, 102, 104, 106}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto shape = ShapeNamed(row.name);
    ASSERT_TRUE(shape);
    const Source source{Periodic{*shape, 250, row.low, row.high}};
    for (std::uint64_t k = 0; k < 8; ++k) EXPECT_EQ(source.At(k, 1000), row.cycle[k % 4]) << k;
    // A trillion samples on, the phase is where it was.
    EXPECT_EQ(source.At(1'000'000'000'000 + 1, 1000), row.cycle[1]);
    EXPECT_EQ(source.SamplesIn(3, 1000), 12u);
  }
  EXPECT_FALSE(ShapeNamed("saw"));
  EXPECT_FALSE(ShapeNamed(""));
  EXPECT_EQ((Source{std::vector<std::int32_t>{1, 2, 3}}.SamplesIn(2, 5)), 6u);
}

TEST(Wave, SampleFilesAreReadStrictlyAndNameTheLineOfAFault) {
  struct Row {
    const char* text;
    bool volts, hex;
    std::vector<std::int32_t> codes;  // for a 16-bit DAC at 2.5 V
    const char* error;                // what the message holds, when refused
  };
  const Row rows[] = {
      {"# ramp\n10\n0x20\r\n\n  FF \n0X30\n", false, true, {0x10, 0x20, 0xFF, 0x30}, nullptr},
      {"10\n65535\n0x1F", false, false, {10, 65535, 31}, nullptr},  // no LF at the end
      {"0\n1.25\n2.49996\n", true, true, {0, 32768, 65535}, nullptr},
      {"10\nzz\n", false, true, {}, "f line 2: \"zz\" is not a code in hexadecimal"},
      {"1A\n", false, false, {}, "f line 1: \"1A\" is not a decimal code"},
      {"1.5x\n", true, true, {}, "f line 1: \"1.5x\" is not a voltage"},
      {"nan\n", true, true, {}, "is not a voltage"},
      {"\x1b[2J\n", false, true, {}, "\"\\x1B[2J\""},
      {"# nothing\n\n", false, true, {}, "f holds no sample"},
      {"1\n10000\n", false, true, {}, "f line 2: 65536 is beyond the DAC's 0 to 65535 (0xFFFF)"},
      {"-1\n", false, false, {}, "f line 1: -1 is beyond"},
      {"2.5\n", true, true, {}, "f line 1: 2.5 V is beyond the DAC's 0 V to 2.49996 V"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    try {
      const auto codes =
          CodesOf(ReadValues(row.text, "f", row.volts, row.hex), "f", row.volts, 16, 2.5);
      EXPECT_EQ(row.error, nullptr);
      EXPECT_EQ(codes, row.codes);
    } catch (const Error& error) {
      ASSERT_NE(row.error, nullptr) << error.what();
      EXPECT_NE(std::string(error.what()).find(row.error), std::string::npos) << error.what();
    }
  }
}

TEST(Wave, DeadlinesComeFromTheIndexAloneAndLatenessKeepsItsQuantiles) {
  EXPECT_EQ(DeadlineOf(3, 3), nanoseconds(1'000'000'000));
  EXPECT_EQ(DeadlineOf(1, 3), nanoseconds(333'333'333));
  EXPECT_EQ(DeadlineOf(1'000'000'000'000, 10'000), nanoseconds(100'000'000'000'000'000));
  Lateness lateness;
  EXPECT_EQ(lateness.Quantile(0.5), nanoseconds(0));
  for (int i = 0; i < 50; ++i) lateness.Add(nanoseconds(100));
  for (int i = 0; i < 49; ++i) lateness.Add(nanoseconds(10'000));
  lateness.Add(nanoseconds(1'000'000));
  lateness.Add(nanoseconds(-5));  // early counts as on time
  EXPECT_EQ(lateness.Count(), 101u);
  EXPECT_EQ(lateness.Quantile(0.005), nanoseconds(0));
  EXPECT_EQ(lateness.Quantile(0.5), nanoseconds(100));
  EXPECT_NEAR(lateness.Quantile(0.98).count(), 10'000, 10'000 / 64);
  EXPECT_NEAR(lateness.Quantile(1).count(), 1'000'000, 1'000'000 / 64);
  EXPECT_EQ(lateness.Max(), nanoseconds(1'000'000));
  // The rate from the first sample sent to the last: none from fewer than two.
  Played played;
  played.Sent = 1;
  EXPECT_FALSE(played.AchievedRate());
  played.Sent = 3;
  played.First = nanoseconds(500);
  played.Last = nanoseconds(2'000'500);
  EXPECT_EQ(played.AchievedRate(), 1000.0);
}

TEST(Wave, APlayEndsWhenDoneStoppedRefusedOrLateAndSendsEverySampleInOrder) {
  enum class Fault { None, StopAt3, RefuseAt2, SlowFirst };
  struct Row {
    Fault fault;
    bool strict;
    Played::End end;
    std::uint64_t sent;  // at most, when strict: a busy machine may make sample 0 late too
    std::uint64_t late;  // at least
  };
  // Sample 0 takes 3.5 periods: samples 1 and 2 go out late, whatever else the machine does.
  const Row rows[] = {
      {Fault::None, false, Played::End::Done, 6, 0},
      {Fault::StopAt3, false, Played::End::Stopped, 3, 0},
      {Fault::RefuseAt2, false, Played::End::Refused, 2, 0},
      {Fault::SlowFirst, true, Played::End::Late, 2, 1},
      {Fault::SlowFirst, false, Played::End::Done, 6, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.fault));
    std::vector<std::uint64_t> indices;
    Road road;
    road.Stopped = [&] { return row.fault == Fault::StopAt3 && indices.size() == 3; };
    road.Send = [&](const Sample& sample) {
      EXPECT_GE(sample.Sent, sample.Deadline);
      if (row.fault == Fault::RefuseAt2 && sample.Index == 2) return false;
      if (row.fault == Fault::SlowFirst && sample.Index == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(3500));
      indices.push_back(sample.Index);
      return true;
    };
    const Played played =
        Play(Source{std::vector<std::int32_t>{7, 8, 9}}, {1000, 6, row.strict}, road);
    EXPECT_EQ(played.How, row.end);
    if (row.strict) {
      EXPECT_LE(played.Sent, row.sent);
      EXPECT_EQ(played.Late, 1u);
    } else {
      EXPECT_EQ(played.Sent, row.sent);
      EXPECT_GE(played.Late, row.late);
    }
    EXPECT_EQ(played.Delays.Count(), row.sent);
    ASSERT_EQ(indices.size(), played.Sent);
    for (std::uint64_t k = 0; k < indices.size(); ++k) EXPECT_EQ(indices[k], k);
    EXPECT_EQ(played.LastCode, std::optional<std::int32_t>(7 + (played.Sent - 1) % 3));
  }
}

TEST(Wave, ABufferRepeatsAWholeCycleOrTakesATwentiethOfASecondAPush) {
  const Source ramp{Periodic{Shape::Ramp, 250, 0, 3}};
  const Source file{std::vector<std::int32_t>{5, 6, 7}};
  EXPECT_EQ(OneCycle(ramp, 1000, 4), (std::vector<std::int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(OneCycle(ramp, 1000, 3), std::nullopt);  // longer than allowed
  EXPECT_EQ(OneCycle(Source{Periodic{Shape::Ramp, 3, 0, 3}}, 1000, 1000), std::nullopt);
  EXPECT_EQ(OneCycle(file, 1, 3), (std::vector<std::int32_t>{5, 6, 7}));  // whatever the rate
  EXPECT_EQ(OneCycle(file, 1, 2), std::nullopt);
  EXPECT_EQ(PushLength(1000), 50u);
  EXPECT_EQ(PushLength(1), 1u);
  EXPECT_EQ(PushLength(1e7), 65536u);
}

TEST(Wave, AStreamKeepsThreePushesAheadOfTheBoardsClockAndHearsAStopWhileItWaits) {
  using Clock = std::chrono::steady_clock;
  const Source ramp{Periodic{Shape::Ramp, 1, 0, 999}};
  std::vector<double> at;  // when each push came, seconds from the start
  Clock::time_point start = Clock::now();
  const Queue recorded{[&](const std::vector<std::int32_t>&) {
                         at.push_back(std::chrono::duration<double>(Clock::now() - start).count());
                         return true;
                       },
                       [] { return false; }};
  const Queued queued = Stream(ramp, 1000, 100, 10, recorded);
  EXPECT_EQ(queued.How, Played::End::Done);
  ASSERT_EQ(at.size(), 10u);
  // Push i holds samples 10i.. and waits for sample 10(i - 3)'s time, less 5 ms of wake-up.
  for (std::size_t i = 3; i < at.size(); ++i)
    EXPECT_GE(at[i], (static_cast<double>(i) - 3) / 100 - 0.005) << i;

  // At half a sample a second the fifth push is due after 2 s: a stop 20 ms in ends it.
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
  });
  start = Clock::now();
  const Queued stopped = Stream(ramp, 0.5, std::nullopt, 1,
                                {[](const auto&) { return true; }, [&] { return stop.load(); }});
  stopper.join();
  EXPECT_EQ(stopped.How, Played::End::Stopped);
  EXPECT_EQ(stopped.Pushed, 4u);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

// A buffer of the test's own, as no board here both repeats a cycle and keeps what it was
// given after a stop: what a play through it asked, and how it ended.
TEST(Wave, APlayThroughABufferEndsOnTheSampleTheBoardLastSent) {
  struct Board {
    bool cyclic, finishes, refuses;
  };
  struct Row {
    const char* name;
    Board board;
    std::optional<std::uint64_t> samples;  // none: until stopped, after three pushes
    Played::End how;
    std::uint64_t out;
    bool cyclic;
    std::int32_t last;
  };
  const Row rows[] = {
      {"a set length, drained", {false, false, false}, 4, Played::End::Done, 4, false, 3},
      {"stopped: the output ends with the buffer",
       {false, false, false},
       {},
       Played::End::Stopped,
       1,
       false,
       0},
      {"stopped: the board sends what it was given",
       {false, true, false},
       {},
       Played::End::Stopped,
       3,
       false,
       2},
      {"a whole cycle repeated", {true, false, false}, {}, Played::End::Stopped, 1, true, 0},
      {"refused", {false, false, true}, 4, Played::End::Refused, 0, false, 0},
  };
  struct Asked {
    std::vector<std::size_t> pushes;  // each push's length
    bool drained = false, closed = false;
  };
  struct Fake : Buffer {
    Fake(Board board, Asked& asked) : board(board), asked(asked) {}
    ~Fake() override { asked.closed = true; }
    Board board;
    Asked& asked;
    double Rate() const override { return 1; }
    bool Cyclic() const override { return board.cyclic; }
    std::size_t Length() const override { return 1; }
    bool Push(const std::vector<std::int32_t>& codes) override {
      asked.pushes.push_back(codes.size());
      return !board.refuses;
    }
    void Drain(const std::function<bool()>&) override { asked.drained = true; }
    bool Finishes() const override { return board.finishes; }
    std::string Failure() const override { return board.refuses ? "refused" : ""; }
  };
  const Source ramp{Periodic{Shape::Ramp, 0.25, 0, 7}};  // codes 0, 2, 4, 6 at 1 S/s
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Asked asked;
    std::vector<bool> cycles;  // whether each open asked for a repeated cycle
    const OpenBuffer open = [&](double, std::size_t, bool cyclic, std::string& why) {
      cycles.push_back(cyclic);
      if (cyclic && !row.board.cyclic) {
        why = "no cycles";
        return std::unique_ptr<Buffer>();
      }
      return std::unique_ptr<Buffer>(std::make_unique<Fake>(row.board, asked));
    };
    std::string why;
    int asks = 0;  // whether a stop was asked for
    const auto play = PlayThrough(
        open, ramp, Pace{1, row.samples, false},
        [&] { return ++asks, !row.samples && asked.pushes.size() >= (row.cyclic ? 1u : 3u); }, {},
        why);
    ASSERT_TRUE(play) << why;
    EXPECT_EQ(cycles.front(), !row.samples);  // a cycle asked for first when endless
    EXPECT_EQ(play->How, row.how);
    EXPECT_EQ(play->Out, row.out);
    EXPECT_EQ(play->Cyclic, row.cyclic);
    EXPECT_EQ(play->Last, row.last * 2);
    EXPECT_EQ(play->Failure, row.board.refuses ? "refused" : "");
    EXPECT_EQ(asked.drained, row.how == Played::End::Done);
    EXPECT_TRUE(asked.closed);
    EXPECT_GT(asks, 0);  // a repeated cycle, too, plays until a stop
    EXPECT_EQ(asked.pushes.front(), row.cyclic ? 4u : 1u);  // a whole cycle, or a sample
  }
  std::string why;
  EXPECT_FALSE(PlayThrough(
      [](double, std::size_t, bool, std::string& reason) {
        reason = "none here";
        return std::unique_ptr<Buffer>();
      },
      ramp, Pace{}, [] { return true; }, {}, why));
  EXPECT_EQ(why, "none here");
}

}  // namespace
}  // namespace kt::wave
