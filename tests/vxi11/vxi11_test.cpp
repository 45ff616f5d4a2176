// SPDX-License-Identifier: MIT
// The VXI-11 core channel's rules between links, on the recording board: locks, the client
// limit, messages split over writes or too long, reads cut by size or terminator, links that
// end with their connection. pyvisa drives the served channel end to end elsewhere.
#include "vxi11/vxi11.h"

#include <gtest/gtest.h>

#include <optional>

#include "fakes/scpi_board.h"
#include "serve/server.h"

namespace kt {
namespace {

namespace v = remote::vxi11;
using remote::rpc::Bytes;
using remote::rpc::XdrReader;
using remote::rpc::XdrWriter;

// A client of the instrument, as a VISA library makes its calls.
class Client {
 public:
  Client(v::Instrument& instrument, int channel) : instrument_(instrument), channel_(channel) {}

  // A call's record, as it comes in.
  Bytes Record(std::uint32_t procedure, const XdrWriter& arguments) {
    XdrWriter call;
    call.Unsigned(++xid_).Unsigned(0).Unsigned(2).Unsigned(0x0607AF).Unsigned(1);
    call.Unsigned(procedure).Unsigned(0).Unsigned(0).Unsigned(0).Unsigned(0);
    Bytes record = call.Written();
    record.insert(record.end(), arguments.Written().begin(), arguments.Written().end());
    return record;
  }
  // Calls a procedure and returns the results, after checking the reply's header.
  Bytes Call(std::uint32_t procedure, const XdrWriter& arguments) {
    const Bytes reply = instrument_.Answer(Record(procedure, arguments), channel_);
    XdrReader header(reply);
    EXPECT_EQ(header.Unsigned(), xid_);
    for (const std::uint32_t word : {1u, 0u, 0u, 0u, 0u}) EXPECT_EQ(header.Unsigned(), word);
    return {reply.end() - static_cast<std::ptrdiff_t>(header.Left()), reply.end()};
  }
  std::int32_t Link(bool lock = false, const std::string& device = "inst0") {
    const Bytes result =
        Call(v::kCreateLink, XdrWriter().Signed(7).Boolean(lock).Unsigned(0).String(device));
    XdrReader in(result);
    error = in.Signed();
    return id = in.Signed();
  }
  std::int32_t Write(const std::string& text, bool end = true) {
    const Bytes result = Call(
        v::kDeviceWrite,
        XdrWriter().Signed(id).Unsigned(1000).Unsigned(0).Unsigned(end ? v::kEnd : 0).String(text));
    return XdrReader(result).Signed();
  }
  // The read's error, and sets `reason` and `data`.
  std::int32_t Read(std::uint32_t size = 1024, int termChar = -1) {
    const std::uint32_t flags = termChar >= 0 ? v::kTermCharSet : 0;
    const Bytes result = Call(
        v::kDeviceRead,
        XdrWriter().Signed(id).Unsigned(size).Unsigned(1000).Unsigned(0).Unsigned(flags).Signed(
            termChar));
    XdrReader in(result);
    const std::int32_t status = in.Signed();
    reason = in.Signed();
    data = in.String(1 << 16);
    return status;
  }
  std::string Query(const std::string& text) {
    Write(text + "\n");
    Read();
    return data;
  }
  std::int32_t Generic(std::uint32_t procedure) {
    XdrWriter arguments;
    arguments.Signed(id);
    if (procedure == v::kDeviceLock) arguments.Unsigned(0).Unsigned(0);
    if (procedure == v::kDeviceClear || procedure == v::kDeviceReadStb ||
        procedure == v::kDeviceTrigger)
      arguments.Unsigned(0).Unsigned(0).Unsigned(0);
    const Bytes result = Call(procedure, arguments);
    XdrReader in(result);
    const std::int32_t status = in.Signed();
    if (procedure == v::kDeviceReadStb) stb = in.Unsigned();
    return status;
  }

  int Channel() const { return channel_; }

  std::int32_t id = 0, error = 0, reason = 0;
  std::uint32_t stb = 0;
  std::string data;

 private:
  v::Instrument& instrument_;
  int channel_;
  std::uint32_t xid_ = 0;
};

// One link made on a fresh instrument of eight clients.
class Vxi11 : public ::testing::Test {
 protected:
  void SetUp() override { a.Link(); }
  test::RecordingBoard board;
  remote::Shared shared;
  v::Instrument instrument{board, shared, 8};
  Client a{instrument, 1};
};

TEST(Vxi11Links, LinksAreSessionsOfTheirOwnUnderOneLock) {
  test::RecordingBoard board;
  remote::Shared shared;
  v::Instrument instrument(board, shared, 3);
  Client a(instrument, 1), b(instrument, 2), c(instrument, 2);
  a.Link();
  b.Link();
  EXPECT_NE(a.id, b.id);
  EXPECT_EQ(shared.Clients, 2u);
  // Each link its own session: one's error is not the other's, and only the first was told
  // of the power on.
  a.Write("DAC:BOGUS\n");
  EXPECT_EQ(a.Query("SYST:ERR:COUN?"), "1\n");
  EXPECT_EQ(b.Query("SYST:ERR:COUN?"), "0\n");
  EXPECT_EQ(a.Query("*ESR?"), "160\n") << "power on and a command error";
  EXPECT_EQ(b.Query("*ESR?"), "0\n");
  // A lock keeps the other link out of everything but its own unlock and destroy.
  EXPECT_EQ(a.Generic(v::kDeviceLock), v::kNoError);
  EXPECT_EQ(b.Write("DAC:CODE 5\n"), v::kLockedByAnother);
  EXPECT_EQ(b.Read(), v::kLockedByAnother);
  EXPECT_EQ(b.Generic(v::kDeviceReadStb), v::kLockedByAnother);
  EXPECT_EQ(b.Generic(v::kDeviceClear), v::kLockedByAnother);
  EXPECT_EQ(b.Generic(v::kDeviceLock), v::kLockedByAnother);
  EXPECT_EQ(b.Generic(v::kDeviceUnlock), v::kNoLockHeld);
  EXPECT_EQ(c.Link(true), 0) << "a link asking for the lock at once";
  EXPECT_EQ(c.error, v::kLockedByAnother);
  // A link is its connection's: another connection naming its id is told of no such link,
  // and can neither send through its lock, nor unlock it, nor end it.
  Client intruder(instrument, 3);
  intruder.id = a.id;
  for (const std::uint32_t procedure : {v::kDeviceWrite, v::kDeviceUnlock, v::kDestroyLink}) {
    const std::int32_t status =
        procedure == v::kDeviceWrite ? intruder.Write("DAC:CODE 7\n") : intruder.Generic(procedure);
    EXPECT_EQ(status, v::kInvalidLink) << procedure;
  }
  EXPECT_EQ(shared.LockedBy, a.id);
  EXPECT_TRUE(board.frames.empty());
  EXPECT_EQ(a.Write("DAC:CODE 5\n"), v::kNoError);
  EXPECT_EQ(board.frames.size(), 1u);
  // The lock ends with its link's connection, and the link with it.
  instrument.Close(1);
  EXPECT_FALSE(shared.LockedBy);
  EXPECT_EQ(a.Write("DAC:CODE 6\n"), v::kInvalidLink);
  EXPECT_EQ(b.Write("DAC:CODE 6\n"), v::kNoError);
  EXPECT_EQ(board.frames.size(), 2u);
  // The client limit counts links with the raw socket's clients.
  c.Link(true);
  EXPECT_EQ(c.error, v::kNoError);
  EXPECT_EQ(shared.LockedBy, c.id);
  Client d(instrument, 3);
  d.Link();
  EXPECT_EQ(d.error, v::kNoError);
  Client e(instrument, 3);
  e.Link();
  EXPECT_EQ(e.error, v::kOutOfResources);
  EXPECT_EQ(c.Generic(v::kDestroyLink), v::kNoError);
  EXPECT_FALSE(shared.LockedBy);
  EXPECT_EQ(shared.Clients, 2u);
  for (const char* other : {"gpib0,5", "inst1"}) {
    EXPECT_EQ(e.Link(false, other), 0) << other;
    EXPECT_EQ(e.error, v::kNotAccessible) << other;
  }
  e.Link(false, "INST0");
  EXPECT_EQ(e.error, v::kNoError);
}

// Every procedure of the core program answered in its own result's shape: the ones a DAC
// has no use for refused as not supported, numbers the program does not define as not there.
TEST_F(Vxi11, ACallWaitsForTheLockOnlyWhenItAsksToAndAnotherLinkHoldsIt) {
  Client b(instrument, 2), b2(instrument, 2), a2(instrument, 1), c(instrument, 3);
  for (Client* client : {&b, &b2, &a2, &c}) client->Link();
  const auto generic = [](std::int32_t id, std::uint32_t flags, std::uint32_t wait) {
    return XdrWriter().Signed(id).Unsigned(flags).Unsigned(wait).Unsigned(1000);
  };
  struct Row {
    const char* what;
    Client& client;
    std::uint32_t procedure;
    XdrWriter arguments;
    std::optional<std::uint32_t> wait;
    bool locked = true;  // by a
  };
  const Row rows[] = {
      {"lock, waiting", b, v::kDeviceLock,
       XdrWriter().Signed(b.id).Unsigned(v::kWaitLock).Unsigned(700), 700},
      {"lock, not waiting",
       b,
       v::kDeviceLock,
       XdrWriter().Signed(b.id).Unsigned(0).Unsigned(700),
       {}},
      {"lock, no time",
       b,
       v::kDeviceLock,
       XdrWriter().Signed(b.id).Unsigned(v::kWaitLock).Unsigned(0),
       {}},
      {"the holder",
       a,
       v::kDeviceLock,
       XdrWriter().Signed(a.id).Unsigned(v::kWaitLock).Unsigned(700),
       {}},
      {"nobody holds it",
       b,
       v::kDeviceLock,
       XdrWriter().Signed(b.id).Unsigned(v::kWaitLock).Unsigned(700),
       {},
       false},
      {"write", b, v::kDeviceWrite,
       XdrWriter()
           .Signed(b.id)
           .Unsigned(1000)
           .Unsigned(300)
           .Unsigned(v::kWaitLock | v::kEnd)
           .String("X"),
       300},
      {"write, not waiting",
       b,
       v::kDeviceWrite,
       XdrWriter().Signed(b.id).Unsigned(1000).Unsigned(300).Unsigned(v::kEnd).String("X"),
       {}},
      {"read", b, v::kDeviceRead,
       XdrWriter()
           .Signed(b.id)
           .Unsigned(64)
           .Unsigned(1000)
           .Unsigned(200)
           .Unsigned(v::kWaitLock)
           .Signed(0),
       200},
      {"clear", b, v::kDeviceClear, generic(b.id, v::kWaitLock, 100), 100},
      {"status byte", b, v::kDeviceReadStb, generic(b.id, v::kWaitLock, 90), 90},
      {"trigger", b, v::kDeviceTrigger, generic(b.id, v::kWaitLock, 100), {}},
      {"an unknown link", b, v::kDeviceClear, generic(99, v::kWaitLock, 100), {}},
      {"a new link asking for the lock", b, v::kCreateLink,
       XdrWriter().Signed(1).Boolean(true).Unsigned(900).String("inst0"), 900},
      {"a new link without it",
       b,
       v::kCreateLink,
       XdrWriter().Signed(1).Boolean(false).Unsigned(900).String("inst0"),
       {}},
      {"cut short", b, v::kDeviceWrite, XdrWriter().Signed(b.id).Unsigned(1000), {}},
      {"another connection's link", b, v::kDeviceClear, generic(c.id, v::kWaitLock, 100), {}},
      // The holder's unlock would come behind the held call on the same connection.
      {"a link of the holder's connection",
       a2,
       v::kDeviceClear,
       generic(a2.id, v::kWaitLock, 100),
       {}},
      {"a new link on the holder's connection",
       a2,
       v::kCreateLink,
       XdrWriter().Signed(1).Boolean(true).Unsigned(900).String("inst0"),
       {}},
      {"a second link of a waiting connection", b2, v::kDeviceClear,
       generic(b2.id, v::kWaitLock, 100), 100},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    shared.LockedBy.reset();
    if (row.locked) shared.LockedBy = a.id;
    EXPECT_EQ(
        instrument.LockWait(row.client.Record(row.procedure, row.arguments), row.client.Channel()),
        row.wait);
  }
}

TEST_F(Vxi11, EveryProcedureIsAnsweredInItsResultsShape) {
  struct Case {
    std::uint32_t procedure;
    std::optional<Bytes> results;  // after the accepted reply's header; none: not a procedure
  };
  const auto words = [](std::initializer_list<std::uint32_t> list) {
    XdrWriter writer;
    for (const std::uint32_t word : list) writer.Unsigned(word);
    return writer.Written();
  };
  const Case cases[] = {
      {0, Bytes{}},  // the null procedure, as rpcinfo calls it
      {v::kDeviceTrigger, words({v::kNotSupported})},
      {v::kDeviceRemote, words({v::kNoError})},
      {v::kDeviceLocal, words({v::kNoError})},
      {v::kDeviceEnableSrq, words({v::kNotSupported})},
      {v::kDeviceDoCmd, words({v::kNotSupported, 0})},
      {v::kCreateInterruptChannel, words({v::kNotSupported})},
      {v::kDestroyInterruptChannel, words({v::kNotSupported})},
      {9, {}},
      {21, {}},
      {24, {}},
      {27, {}},
  };
  for (const Case& c : cases) {
    XdrWriter call;
    call.Unsigned(77).Unsigned(0).Unsigned(2).Unsigned(0x0607AF).Unsigned(1).Unsigned(c.procedure);
    call.Unsigned(0).Unsigned(0).Unsigned(0).Unsigned(0).Signed(a.id).Unsigned(0).Unsigned(0);
    const Bytes reply = instrument.Answer(call.Written(), 1);
    const std::uint32_t status = c.results ? 0 : 3;  // SUCCESS or PROC_UNAVAIL
    Bytes expected = words({77, 1, 0, 0, 0, status});
    if (c.results) expected.insert(expected.end(), c.results->begin(), c.results->end());
    EXPECT_EQ(reply, expected) << c.procedure;
  }
}

TEST_F(Vxi11, MessagesAndReadsFollowTheFlags) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, bool>> writes;  // text, END
    std::uint32_t size;
    int termChar;
    std::int32_t error, reason;
    std::string data;
  };
  const Case cases[] = {
      {"a query, END at its end",
       {{"*IDN?", true}},
       1024,
       -1,
       0,
       v::kEndReached,
       "Corvane,KT31X-KT300 evaluation board,0,1.0.4\n"},
      {"split over writes",
       {{"SYST:ERR:C", false}, {"OUN?\n", false}},
       1024,
       -1,
       0,
       v::kEndReached,
       "0\n"},
      {"cut by the request's size", {{"*IDN?\n", true}}, 4, -1, 0, v::kRequestCount, "Corv"},
      {"cut by the terminator", {{"*IDN?;*OPC?\n", true}}, 1024, ',', 0, v::kTermChar, "Corvane,"},
      {"the size reached just before the terminator",
       {{"*IDN?\n", true}},
       7,
       ',',
       0,
       v::kRequestCount,
       "Corvane"},
      {"the terminator at the end",
       {{"*OPC?\n", true}},
       1024,
       '\n',
       0,
       v::kTermChar | v::kEndReached,
       "1\n"},
      {"nothing to read", {{"DAC:CODE 1\n", true}}, 1024, -1, v::kIoTimeout, 0, ""},
      {"a message over the limit, dropped whole",
       {{std::string(2500, 'A'), false}, {std::string(2500, 'A'), false}, {"B;*OPC?\n", true}},
       1024,
       -1,
       v::kIoTimeout,
       0,
       ""},
      {"the message after an overlong one runs",
       {{std::string(2500, 'A'), false}, {std::string(2500, 'A') + "\n*OPC?\n", true}},
       1024,
       -1,
       0,
       v::kEndReached,
       "1\n"},
      {"the message after an overlong one ended by END alone runs",
       {{std::string(2500, 'A'), false}, {std::string(2500, 'A'), true}, {"*OPC?", true}},
       1024,
       -1,
       0,
       v::kEndReached,
       "1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    a.Generic(v::kDeviceClear);
    for (const auto& [text, end] : c.writes) EXPECT_EQ(a.Write(text, end), v::kNoError);
    EXPECT_EQ(a.Read(c.size, c.termChar), c.error);
    EXPECT_EQ(a.reason, c.reason);
    EXPECT_EQ(a.data, c.data);
  }
  // What those left in the queue: -420 for each read with nothing to say, -363 for each
  // message over the limit.
  a.Generic(v::kDeviceClear);
  EXPECT_EQ(a.Query("SYST:ERR:ALL?"),
            "-420,\"Query UNTERMINATED\",-363,\"Input buffer overrun;a message longer than 4096 "
            "bytes\",-420,\"Query UNTERMINATED\",-363,\"Input buffer overrun;a message longer than "
            "4096 bytes\",-363,\"Input buffer overrun;a message longer than 4096 bytes\"\n");
  // A response left unread when the next message comes is IEEE 488.2's interrupted query,
  // and the status byte tells of a waiting one.
  a.Write("*OPC?\n");
  a.Generic(v::kDeviceReadStb);
  EXPECT_EQ(a.stb & remote::kMessageAvailable, remote::kMessageAvailable);
  a.Write("*IDN?\n");
  EXPECT_EQ(a.Query("SYST:ERR?"), "-410,\"Query INTERRUPTED\"\n");
}

}  // namespace
}  // namespace kt
