// SPDX-License-Identifier: MIT
// The SCPI parser and command set, message by message, over a recording board: short and
// long forms, optional nodes, compound messages and the path rule, each number form, each
// error code. (The board here only records: the server tests drive the real one.)
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/scpi_board.h"
#include "remote/session.h"

namespace kt::remote {
namespace {

using test::RecordingBoard;
using Frame = RecordingBoard::Frame;

TEST(Scpi, FormsNodesAndCompoundMessagesReachTheSameCommands) {
  struct Row {
    std::string message, response;
    std::vector<Frame> frames;
  };
  const Row rows[] = {
      {"SOURce:DAC:CODE 4660", "", {{4660, 0}}},
      {"sour:dac:code 4660", "", {{4660, 0}}},
      {"DAC:CODE 4660", "", {{4660, 0}}},  // [SOURce:] left out
      {":SOUR:DAC:CODE 1;:DAC:CODE?", "1", {{1, 0}}},
      {"DAC:CODE 1;CODE?", "1", {{1, 0}}},  // the path stays at DAC:
      {"DAC:CODE 1;PDOW TST;CODE?;PDOW?", "1;TST", {{1, 0}, {1, 1}}},
      {"DAC:PDOWn R100k;PDOWn?", "R100", {{0, 2}}},  // answers come in the short form
      {"DAC:PDOW r100;pdow?", "R100", {{0, 2}}},
      {"DAC:PDOW R1K;PDOW NORMAL;PDOW?", "NORM", {{0, 3}, {0, 0}}},
      {"DAC:CODE 5;*IDN?;CODE?", "Corvane,KT31X-KT300 evaluation board,0,1.0.4;5", {{5, 0}}},
      {"*RST;DAC:CODE?;PDOW?", "0;NORM", {{0, 0}}},
      {"*OPC?", "1", {}},
      {"SYST:ERR?", "0,\"No error\"", {}},
      {"SYSTEM:ERROR:NEXT?", "0,\"No error\"", {}},
      {"SYST:VERS?", "1999.0", {}},
      {"DAC:DEV KT300;DEV?", "KT300", {}},
      {"dac:device kt313;:DAC:DEVICE?", "KT313", {}},
      {"DAC:STAT?", "0", {}},
      {"", "", {}},
      {"DAC:CODE 2;", "", {{2, 0}}},
      {"  DAC:CODE   3  ", "", {{3, 0}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    RecordingBoard board;
    Session session(board);
    EXPECT_EQ(session.Execute(row.message), row.response);
    EXPECT_EQ(board.frames, row.frames);
    EXPECT_TRUE(session.Errors().empty()) << session.Errors().front().Text;
  }
}

TEST(Scpi, NumbersInEveryForm) {
  struct Row {
    const char* text;
    std::optional<double> value;
  };
  const Row rows[] = {
      {"4660", 4660},
      {"+4660", 4660},
      {"-12", -12},
      {"1.5", 1.5},
      {".5", 0.5},
      {"5.", 5},
      {"1E3", 1000},
      {"1.5e-3", 0.0015},
      {"#H1234", 4660},
      {"#h1a", 26},
      {"#Q17", 15},
      {"#B101", 5},
      {"#HFFFFFFFF", 4294967295.0},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"1E", std::nullopt},
      {"1.2.3", std::nullopt},
      {"#H", std::nullopt},
      {"#HG", std::nullopt},
      {"#Q8", std::nullopt},
      {"#B2", std::nullopt},
      {"#X12", std::nullopt},
      {"12V", std::nullopt},
      {"0x12", std::nullopt},
      {"1e999", std::nullopt},
      {"1e-400", std::nullopt},  // so small it is 0
      {"5e-311", 5e-311},        // subnormal, still a number
      {"#H10000000000000000", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseNumber(row.text), row.value) << row.text;

  RecordingBoard board;
  Session session(board);
  EXPECT_EQ(session.Execute("DAC:CODE #HFFFF;CODE #Q17;CODE #B101;CODE 1E2;CODE MAX;CODE MIN"), "");
  EXPECT_EQ(board.frames,
            (std::vector<Frame>{{0xFFFF, 0}, {15, 0}, {5, 0}, {100, 0}, {0xFFFF, 0}, {0, 0}}));
}

TEST(Scpi, EachErrorIsQueuedWithItsCodeAndNothingIsSent) {
  struct Row {
    std::string message;
    int code;
    std::string response;  // of the queries that still ran
    std::size_t frames = 0;
  };
  const Row rows[] = {
      {"DAC:CODE 65536", -222, ""},
      {"DAC:CODE -1", -222, ""},
      {"DAC:DEV KT300;CODE 16384", -222, ""},  // 14 bits
      {"DAC:CODE 1.5", -224, ""},
      {"DAC:CODE abc", -104, ""},
      {"DAC:CODE \"12\"", -104, ""},
      {"DAC:CODE 12V", -120, ""},
      {"DAC:CODE #HZZ", -120, ""},
      {"DAC:CODE", -109, ""},
      {"DAC:CODE 1,2", -108, ""},
      {"DAC:CODE?;CODE 70000;CODE?", -222, "0;0"},  // an execution error: the rest runs
      {"DAC:FROB 1;CODE?", -113, ""},               // a command error ends the message
      {"DAC:CODE 1;VOLT 1", -113, "", 1},           // VOLT is not under DAC:
      {"DAC:STAT 1", -113, ""},                     // a query alone
      {"SYST:NEXT?", -113, ""},                     // ERRor is not optional, NEXT is
      {"*IDN", -113, ""},
      {"DAC::CODE 1", -102, ""},
      {"DAC:CODE 1,", -102, ""},
      {"*RST:DAC", -102, ""},
      {"DAC:CODE \"1", -102, ""},
      {"DAC:CODE 1\x01", -101, ""},
      {"DAC:CODE \xC3\xA9", -101, ""},
      {"DAC:DEV KT999", -224, ""},
      {"DAC:PDOW SLEEP", -224, ""},
      {"DAC:PDOW 3", -104, ""},
      {"VOLT 1", -221, ""},
      {"VOLT:REF 0", -222, ""},
      {"VOLT:REF 2.5;:VOLT 2.5", -222, ""},
      {"DAC:RAW 24", -109, ""},
      {"DAC:RAW 40000,1", -222, ""},
      {"DAC:RAW 24,#H100000000", -222, ""},
      {"DAC:CODE #HBAD", -300, "", 1},  // the board refused it
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    RecordingBoard board;
    Session session(board);
    EXPECT_EQ(session.Execute(row.message), row.response);
    EXPECT_EQ(board.frames.size() + board.raws.size(), row.frames);
    ASSERT_EQ(session.Errors().size(), 1u);
    EXPECT_EQ(session.Errors().front().Code, row.code) << session.Errors().front().Text;
    const std::string error = session.Execute("SYST:ERR?");
    EXPECT_EQ(error.substr(0, error.find(',')), std::to_string(row.code));
    EXPECT_EQ(session.Execute("SYST:ERR?"), "0,\"No error\"") << "read once, then gone";
  }
}

TEST(Scpi, VoltagesRawFramesAndTheQueueLimit) {
  RecordingBoard board;
  Session session(board);
  EXPECT_EQ(session.Execute("VOLT:REF 2.5;REF?"), "2.5");
  EXPECT_EQ(session.Execute("VOLT 1.25;VOLT?"), "1.25");
  EXPECT_EQ(board.Code(), 32768);
  EXPECT_EQ(session.Execute("SOUR:VOLT 0.00003"), "");  // 0.79 of a step: the nearest code
  EXPECT_EQ(board.Code(), 1);
  EXPECT_EQ(session.Execute("DAC:RAW 24,#HFFFFFF;RAW 16,4660"), "");
  EXPECT_EQ(board.raws,
            (std::vector<std::pair<std::int16_t, std::int32_t>>{{24, 0xFFFFFF}, {16, 4660}}));
  for (int i = 0; i < 20; ++i) session.Execute("DAC:CODE -1");
  ASSERT_EQ(session.Errors().size(), Session::kQueueSize);
  EXPECT_EQ(session.Errors().back().Code, -350);
  EXPECT_EQ(session.Execute("*CLS;SYST:ERR?"), "0,\"No error\"");
}

}  // namespace
}  // namespace kt::remote
