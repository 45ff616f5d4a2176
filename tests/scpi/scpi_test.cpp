// SPDX-License-Identifier: MIT
// The SCPI parser and command set, message by message, over a recording board: short and
// long forms, optional nodes, compound messages and the path rule, each number form, each
// error code. (The board here only records: the server tests drive the real one.)
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/scpi_board.h"
#include "scpi/session.h"
#include "serve/server.h"

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
      {"VOLT:REF 1e-320", -222, ""},  // below any DAC's: its volts would leave a double
      {"VOLT:REF 0.0009", -222, ""},
      {"VOLT:REF 1000.001", -222, ""},
      {"VOLT:REF 2.5;:VOLT 2.5", -222, ""},
      {"DAC:RAW 24", -109, ""},
      {"DAC:RAW 40000,1", -222, ""},
      {"DAC:RAW 24,#H100000000", -222, ""},
      {"DAC:RAW 32,#HDEADBEEF", -222, ""},  // a request carries 24 bits of data
      {"DAC:RAW 24,#H1000000", -222, ""},
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
  EXPECT_EQ(session.Execute("VOLT 2.49996185302734375;SYST:ERR?"), "0,\"No error\"")
      << "the full-scale voltage is the last code's";
  EXPECT_EQ(board.Code(), 65535);
  EXPECT_EQ(session.Execute("DAC:RAW 24,#HFFFFFF;RAW 16,4660"), "");
  EXPECT_EQ(board.raws,
            (std::vector<std::pair<std::int16_t, std::int32_t>>{{24, 0xFFFFFF}, {16, 4660}}));
  session.Execute("*ESR?");
  for (int i = 0; i < 20; ++i) session.Execute("DAC:CODE -1");
  ASSERT_EQ(session.Errors().size(), Session::kQueueSize);
  EXPECT_EQ(session.Errors().back().Code, -350);
  EXPECT_EQ(session.Execute("*ESR?"), "24") << "execution errors, and the full queue's device one";
  EXPECT_EQ(session.Execute("*CLS;SYST:ERR?"), "0,\"No error\"");
}

// Every error a parser reads back as an SCPI string: embedded quotes doubled, the
// description at most 255 characters, cut where a character begins.
TEST(Scpi, ErrorsAreValidScpiStringsOfAtMost255Characters) {
  struct Row {
    std::string message;
    std::string entry;
  };
  const std::string longName(3000, 'X');
  const Row rows[] = {
      {"DAC:DEV \"KT310\"", "-224,\"Illegal parameter value;device \"\"KT310\"\"\""},
      {"DAC:" + longName, "-113,\"" + ("Undefined header;DAC:" + longName).substr(0, 255) + "\""},
      {"DAC:DEV " + std::string(300, 'a'),
       "-224,\"" + ("Illegal parameter value;device " + std::string(300, 'a')).substr(0, 255) +
           "\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message.substr(0, 40));
    RecordingBoard board;
    Session session(board);
    session.Execute(row.message);
    EXPECT_EQ(session.Execute("SYST:ERR?"), row.entry);
  }
  // 255 characters, not bytes, and never half of one.
  RecordingBoard board;
  Session session(board);
  session.Queue(-224, std::string(230, 'a') + "\u00e4\u00e4");
  EXPECT_EQ(session.Errors().front().Text,
            "Illegal parameter value;" + std::string(230, 'a') + "\u00e4");
}

TEST(Scpi, StatusRegistersFollowWhatHappened) {
  struct Row {
    std::vector<std::string> before;  // run first, answers dropped
    std::string query, response;
    bool powerOn = false;
  };
  const Row rows[] = {
      {{}, "*ESR?;*ESR?", "0;0"},
      {{}, "*ESR?;*ESR?", "128;0", true},     // the first session is told of the power on
      {{"DAC:FROB"}, "*ESR?;*ESR?", "32;0"},  // command error; read clears
      {{"DAC:CODE 70000"}, "*ESR?", "16"},    // execution error
      {{"DAC:CODE #HBAD"}, "*ESR?", "8"},     // the board refused: device error
      {{"*OPC"}, "*ESR?", "1"},               //
      {{"*OPC?"}, "*ESR?", "0"},              // the query sets no bit
      {{"DAC:FROB", "DAC:CODE 70000", "*OPC"}, "*ESR?", "49"},
      {{"DAC:FROB"}, "*STB?", "4"},               // an error waits in the queue
      {{"DAC:FROB", "SYST:ERR?"}, "*STB?", "0"},  // and is read
      {{}, "*IDN?;*STB?", "Corvane,KT31X-KT300 evaluation board,0,1.0.4;16"},  // a response waits
      {{"*ESE 32", "DAC:FROB"}, "*STB?", "36"},              // enabled event: summary bit
      {{"*ESE 16", "DAC:FROB"}, "*STB?", "4"},               // not enabled: no summary
      {{"*ESE 32", "*SRE 32", "DAC:FROB"}, "*STB?", "100"},  // and it requests service
      {{"*SRE 4", "DAC:FROB"}, "*STB?", "68"},
      {{"*SRE 16"}, "*STB?", "0"},
      {{"*ESE 1.6"}, "*ESE?", "2"},    // rounded, as IEEE 488.2 says, not cut
      {{"*ESE 255.5"}, "*ESE?", "0"},  // rounds to 256: refused
      {{"*SRE 3.5"}, "*SRE?", "4"},
      {{"*SRE 16"}, "*IDN?;*STB?", "Corvane,KT31X-KT300 evaluation board,0,1.0.4;80"},
      {{"*ESE 32", "*SRE 32", "DAC:FROB"}, "*STB?;*STB?", "100;116"},      // *STB? clears nothing
      {{"*ESE 32", "*SRE 32", "DAC:FROB", "*CLS"}, "*STB?;*ESR?", "0;0"},  // *CLS: not masks
      {{"*ESE 32", "*SRE 32", "*CLS"}, "*ESE?;*SRE?", "32;32"},
      {{"*ESE 255", "*SRE 255"}, "*ESE?;*SRE?", "255;191"},  // bit 6 cannot be enabled
      {{"*ESE 1.4", "*SRE #H10"}, "*ESE?;*SRE?", "1;16"},    // rounded, any number form
      {{"*ESE 256"},
       "SYST:ERR?",
       "-222,\"Data out of range;event status enable 256 is outside 0..255\""},
      {{"*SRE -1"}, "*SRE?;SYST:ERR:COUN?", "0;1"},
      {{"*ESE"}, "SYST:ERR?", "-109,\"Missing parameter;*ESE\""},
      {{"*ESR 1"}, "SYST:ERR?", "-113,\"Undefined header;*ESR\""},
      {{"*WAI?"}, "SYST:ERR?", "-113,\"Undefined header;*WAI?\""},
      {{"*WAI"}, "*ESR?;SYST:ERR:COUN?", "0;0"},
      {{}, "*TST?;*ESR?", "0;0"},
      {{"DAC:FROB", "DAC:CODE -1"}, "SYST:ERR:COUN?", "2"},
      {{"DAC:FROB", "DAC:CODE -1"},
       "SYST:ERR:ALL?;:SYST:ERR:ALL?;COUN?",
       "-113,\"Undefined header;DAC:FROB\",-222,\"Data out of range;code -1 is outside "
       "0..65535\";0,\"No error\";0"},
      {{}, "system:error:count?;ALL?", "0;0,\"No error\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.query);
    RecordingBoard board;
    Session session(board, row.powerOn);
    for (const std::string& message : row.before) session.Execute(message);
    EXPECT_EQ(session.Execute(row.query), row.response);
  }
}

TEST(Scpi, SelfTestReportsABoardThatNoLongerAnswers) {
  RecordingBoard board;
  Session session(board);
  board.unplugged = true;
  EXPECT_EQ(session.Execute("*TST?"), "1");
  EXPECT_EQ(session.Execute("*ESR?;SYST:ERR?"),
            "8;-330,\"Self-test failed;a check: the board library returned status -1\"");
  EXPECT_TRUE(board.frames.empty());
}

TEST(Scpi, ResetAndCodeLimitsInEveryForm) {
  // *RST goes back to code 0 in Normal from every other mode, in one frame.
  for (const char* mode : {"TST", "R100", "R1K", "NORM"}) {
    SCOPED_TRACE(mode);
    RecordingBoard board;
    Session session(board);
    session.Execute(std::string("DAC:CODE 1234;PDOW ") + mode);
    board.frames.clear();
    EXPECT_EQ(session.Execute("*RST;DAC:CODE?;PDOW?"), "0;NORM");
    EXPECT_EQ(board.frames, (std::vector<Frame>{{0, 0}}));
  }
  struct Row {
    const char *device, *value;
    std::int32_t code;
  };
  const Row rows[] = {
      {"KT310", "MIN", 0},          {"KT310", "minimum", 0},      {"KT310", "MINimum", 0},
      {"KT310", "Max", 0xFFFF},     {"KT310", "MAXIMUM", 0xFFFF}, {"KT310", "maximum", 0xFFFF},
      {"KT300", "MAXimum", 0x3FFF}, {"KT313", "max", 0xFFFF},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.device) + " " + row.value);
    RecordingBoard board;
    Session session(board);
    session.Execute(std::string("DAC:DEV ") + row.device + ";CODE 5;CODE " + row.value);
    EXPECT_EQ(board.frames.back(), (Frame{row.code, 0}));
    EXPECT_TRUE(session.Errors().empty());
  }
  RecordingBoard board;
  Session session(board);
  session.Execute("DAC:CODE MAXI;CODE MI;CODE MINIMUMS");  // neither form: each refused
  EXPECT_TRUE(board.frames.empty());
  EXPECT_EQ(session.Execute("SYST:ERR:COUN?"), "3");
}

}  // namespace
// The instance name fits a DNS label: cut at 63 bytes where a character begins, no whole
// character more lost than the cut needs.
TEST(Scpi, TheAnnouncedNameFitsADnsLabelCutWhereACharacterBegins) {
  std::string model;
  for (int i = 0; i < 40; ++i) model += "\u00c4";  // two bytes each
  const platform::Service service = ServiceOf("Corvane," + model + ",0,1.0", "192.0.2.1", 5025);
  EXPECT_LE(service.Name.size(), 63u);
  EXPECT_GE(service.Name.size(), 62u);
  EXPECT_EQ(service.Name.size() % 2, 0u) << "no half of a character";
  EXPECT_EQ(service.Name, model.substr(0, service.Name.size()));
  EXPECT_EQ(service.Port, 5025);
  EXPECT_EQ(service.Text.at(1), (std::pair<std::string, std::string>{"Manufacturer", "Corvane"}));
}

}  // namespace kt::remote
