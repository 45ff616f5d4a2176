// SPDX-License-Identifier: MIT
// The function generator's commands over a recording board and generator: what OUTPut ON
// plays, the settings' defaults and refusals, and the frames other commands may not send
// while a waveform plays.
#include <gtest/gtest.h>

#include "fakes/scpi_board.h"
#include "scpi/framing.h"

namespace kt::remote {
namespace {

TEST(ScpiWaveform, OutputPlaysWhatWasSetAndNothingElseCutsIn) {
  struct Row {
    std::string message, response;
    std::vector<int> errors;
    bool playing;
    std::vector<std::int32_t> samples = {};  // the first four played, when started
    std::optional<std::uint64_t> count = std::nullopt;
    std::size_t frames = 0;
  };
  const Row rows[] = {
      {"FUNC TRI;:FREQ 250;:FUNC:SRAT 1000;:BURS:NCYC 2;:OUTP ON;:OUTP?",
       "1",
       {},
       true,
       {0, 32768, 65535, 32768},
       8},
      {"FUNC SQU;:FREQ 250;:VOLT:REF 2.5;:VOLT:AMPL 1.25;:VOLT:OFFS 1.25;:OUTP 1",
       "",
       {},
       true,
       {49152, 49152, 16384, 16384},
       std::nullopt},
      {"FUNC USER;:DATA:DAC 1,2,3;:BURS:NCYC 2;:OUTP ON;:DATA:DAC:POIN?",
       "3",
       {},
       true,
       {1, 2, 3, 1},
       6},
      {"FUNC sinusoid;:FUNC?;:FREQ?;:FUNC:SRAT?;:BURS:NCYC?", "SIN;1;1000;9.9E+37", {}, false},
      {"VOLT:REF 2.5;:VOLT:AMPL?;:VOLT:OFFS?", "2.49996185;1.24998093", {}, false},
      {"VOLT:AMPL?", "", {-221}, false},
      {"FUNC SAW;:FUNC?", "SIN", {-224}, false},
      {"FREQ 0;:FREQ 600000;:FUNC:SRAT -1;:BURS:NCYC 0;:BURS:NCYC 1.5",
       "",
       {-222, -222, -222, -222, -224},
       false},
      {"DATA:DAC 1,70000;:DATA:DAC:POIN?", "0", {-222}, false},
      {"FUNC USER;:OUTP ON", "", {-221}, false},
      {"FREQ 600;:OUTP ON", "", {-221}, false},
      {"VOLT:AMPL 1;:OUTP ON", "", {-221}, false},
      {"VOLT:REF 2.5;:VOLT:OFFS 2.4;:VOLT:AMPL 1;:OUTP ON", "", {-222}, false},
      {"OUTP MAYBE", "", {-224}, false},
      {"VOLT:OFFS 1000.5;:VOLT:OFFS -1000;:VOLT:OFFS?", "-1000", {-222}, false},
      {"OUTP ON;:DAC:CODE 5;:DAC:RAW 24,1;:DAC:DEV KT300;:DAC:DEV?;:VOLT:REF 2.5;:VOLT 1",
       "KT310",
       {-221, -221, -221, -221},
       true,
       {32768, 32973, 33179, 33385},
       std::nullopt},
      {"OUTP ON;*TST?", "", {-221}, true, {32768, 32973, 33179, 33385}, std::nullopt},
      {"OUTP ON;:OUTP OFF;:OUTP?;:DAC:CODE 5",
       "0",
       {},
       false,
       {32768, 32973, 33179, 33385},
       std::nullopt,
       1},
      {"OUTP ON;:ABOR;:OUTP?", "0", {}, false, {32768, 32973, 33179, 33385}, std::nullopt},
      {"FUNC RAMP;:OUTP ON;*RST;:OUTP?;:FUNC?",
       "0;SIN",
       {},
       false,
       {0, 65, 131, 196},
       std::nullopt,
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    test::RecordingBoard board;
    Session session(board);
    EXPECT_EQ(session.Execute(row.message), row.response);
    std::vector<int> errors;
    for (const QueuedError& error : session.Errors()) errors.push_back(error.Code);
    EXPECT_EQ(errors, row.errors);
    EXPECT_EQ(board.generator.playing, row.playing);
    EXPECT_EQ(board.frames.size(), row.frames);
    ASSERT_EQ(board.generator.source.has_value(), !row.samples.empty());
    if (row.samples.empty()) continue;
    const wave::Pace& pace = board.generator.pace;
    for (std::uint64_t k = 0; k < row.samples.size(); ++k)
      EXPECT_EQ(board.generator.source->At(k, pace.Rate), row.samples[k]) << k;
    EXPECT_EQ(pace.Samples, row.count);
  }
}

TEST(ScpiWaveform, OpcOfAPlayOfASetLengthSetsItsBitWhenThePlayEnds) {
  const std::string play = "FUNC SQU;:FREQ 250;:FUNC:SRAT 1000;:BURS:NCYC 2;:OUTP ON;*OPC";
  struct Row {
    std::string first, before;  // the message, and what comes before the play ends
    const char *now, *after;    // *ESR? before, and after the end
  };
  const Row rows[] = {
      {play, "", "0", "1"},
      {play, "*CLS", "0", "0"},                       // *CLS forgets the operation waited for
      {play, "*RST", "0", "0"},                       // and so does *RST
      {play, "*OPC", "0", "1"},                       // the last asked for is the one
      {play + ";:ABOR;*OPC", "", "1", "1"},           // nothing plays: set at once
      {"BURS:NCYC INF;:OUTP ON;*OPC", "", "1", "1"},  // nothing of a set length
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.first + " / " + row.before);
    test::RecordingBoard board;
    auto session = std::make_unique<Session>(board);
    session->Execute(row.first);
    if (!row.before.empty()) session->Execute(row.before);
    const std::string now = session->Execute("*ESR?");
    EXPECT_EQ(now, row.now);
    board.generator.playing = false;
    for (const auto& then : std::exchange(board.generator.waiting, {})) then();
    EXPECT_EQ(session->Execute("*ESR?"), now == "1" ? "0" : row.after);  // read clears it
  }
  test::RecordingBoard board;  // a session gone before the play ends is left alone
  auto session = std::make_unique<Session>(board);
  session->Execute(play);
  session.reset();
  board.generator.playing = false;
  for (const auto& then : std::exchange(board.generator.waiting, {})) then();
}

TEST(ScpiWaveform, ABoardWithoutAGeneratorRefusesEveryWaveformCommand) {
  test::RecordingBoard board;
  board.waveforms = false;
  Session session(board);
  const std::string commands[] = {
      "FUNC SIN",    "FUNC?",          "FREQ 1",         "FREQ?",      "VOLT:AMPL 1", "VOLT:AMPL?",
      "VOLT:OFFS 1", "VOLT:OFFS?",     "FUNC:SRAT 1",    "FUNC:SRAT?", "BURS:NCYC 1", "BURS:NCYC?",
      "DATA:DAC 1",  "DATA:DAC:POIN?", "FORM:BORD NORM", "FORM:BORD?", "OUTP ON",     "OUTP?",
      "ABOR"};
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    EXPECT_EQ(session.Execute(command), "");
    ASSERT_EQ(session.Errors().size(), 1u);
    EXPECT_EQ(session.Errors().front().Code, -241);
    session.Execute("*CLS");
  }
  EXPECT_EQ(session.Execute("DAC:CODE 5;*OPC?"), "1");  // and the rest as ever
}

TEST(ScpiWaveform, BlocksCarryAnyByteAndAMessageEndsOutsideThem) {
  using namespace std::string_literals;
  struct Row {
    std::string message;             // after DATA:DAC, or a whole message when it starts with ':'
    std::vector<std::int32_t> user;  // what DATA:DAC keeps (KT310)
    std::vector<int> errors;
  };
  const Row rows[] = {
      {"#14\x12\x34\x00\x0A"s, {0x1234, 0x000A}, {}},
      {"#16;,\"'\r\n"s, {0x3B2C, 0x2227, 0x0D0A}, {}},  // no separator, quote or end inside
      {"1, #12\x00\x02 ,3"s, {1, 2, 3}, {}},
      {":FORM:BORD SWAP;:DATA:DAC #14\x12\x34\x00\x0A"s, {0x3412, 0x0A00}, {}},
      {"#13abc"s, {}, {-161}},
      {"#15ab"s, {}, {-161}},
      {"#0ab"s, {}, {-161}},
      {"#1x12"s, {}, {-161}},
      {"#12ab x"s, {}, {-161}},
      {":DAC:DEV KT300;:DATA:DAC #12\xFF\xFF"s, {}, {-222}},
      {"#H10,#B11,#Q7"s, {16, 3, 7}, {}},  // numbers, not blocks
      {"#.5"s, {}, {-120}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    test::RecordingBoard board;
    Session session(board);
    session.Execute(row.message[0] == ':' ? row.message : "DATA:DAC " + row.message);
    std::vector<int> errors;
    for (const QueuedError& error : session.Errors()) errors.push_back(error.Code);
    EXPECT_EQ(errors, row.errors);
    EXPECT_EQ(board.generator.Setup.User, row.user);
  }
  // Where a message ends in what has come: an LF outside blocks and quotes, within limits.
  struct End {
    std::string bytes;
    Framing::End what;
    std::size_t size;
  };
  const End ends[] = {
      {"*IDN?\n", Framing::End::Whole, 6},
      {"*IDN?", Framing::End::More, 0},
      {"DATA:DAC #13a\nb\nX\n"s, Framing::End::Whole, 16},
      {"DATA:DAC #13a\n", Framing::End::More, 0},
      {"DATA:DAC #2", Framing::End::More, 0},
      {"A #9999999999\n", Framing::End::Overlong, 2},
      {std::string(4096, 'A') + "\r\n", Framing::End::Whole, 4098},
      {std::string(4097, 'A') + "\n", Framing::End::Overlong, 4097},
      {std::string(5000, 'A'), Framing::End::Overlong, 4097},
      {"S 'a\nb'\n", Framing::End::Whole, 5},
  };
  for (const End& end : ends) {
    SCOPED_TRACE(end.bytes.substr(0, 20));
    const Framing framing = FindMessage(end.bytes, 4096);
    EXPECT_EQ(framing.What, end.what);
    EXPECT_EQ(framing.Size, end.size);
  }
}

}  // namespace
}  // namespace kt::remote
