// SPDX-License-Identifier: MIT
// ONC RPC as the VXI-11 core channel and the portmapper carry it: records split across
// fragments and reads, XDR values and their padding, and the portmapper's answers, each
// reply compared word by word with RFC 5531's layout.
#include "vxi11/onc_rpc.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "core/error.h"

namespace kt {
namespace {

using remote::rpc::Bytes;

Bytes Words(std::initializer_list<std::uint32_t> words) {
  remote::rpc::XdrWriter writer;
  for (const std::uint32_t word : words) writer.Unsigned(word);
  return writer.Written();
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(OncRpc, RecordsAreGatheredWhateverTheFragmentsAndReads) {
  const Bytes first{1, 2, 3, 4, 5};
  const Bytes second{6, 7, 8, 9, 10, 11, 12, 13};
  // The first as one fragment; the second as 3 + 0 + 5 bytes; then an empty record.
  Bytes stream = remote::rpc::MarkRecord(first);
  stream = Join(stream, Bytes{0, 0, 0, 3, 6, 7, 8, 0, 0, 0, 0, 0x80, 0, 0, 5, 9, 10, 11, 12, 13});
  stream = Join(stream, Bytes{0x80, 0, 0, 0});
  for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    remote::rpc::RecordReader reader(64);
    std::vector<Bytes> records;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      reader.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
      while (auto record = reader.Next()) records.push_back(*record);
    }
    EXPECT_EQ(records, (std::vector<Bytes>{first, second, {}}));
  }
  // The limit holds for a record's fragments together, and a record at the limit passes.
  const Bytes split{0, 0, 0, 5, 1, 2, 3, 4, 5, 0x80, 0, 0, 4, 6, 7, 8, 9};
  remote::rpc::RecordReader tight(8);
  EXPECT_THROW(tight.Feed(split.data(), split.size()), Error);
  remote::rpc::RecordReader enough(9);
  enough.Feed(split.data(), split.size());
  EXPECT_EQ(enough.Next(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  const Bytes huge{0xFF, 0xFF, 0xFF, 0xFF};
  remote::rpc::RecordReader any(1 << 20);
  EXPECT_THROW(any.Feed(huge.data(), huge.size()), Error) << "a 2 GB fragment is never awaited";
}

TEST(OncRpc, XdrValuesArePaddedToWordsAndCheckedAgainstWhatIsLeft) {
  for (std::size_t size = 0; size <= 5; ++size) {
    const Bytes data(size, 0xAB);
    remote::rpc::XdrWriter writer;
    writer.Opaque(data.data(), data.size()).Signed(-2);
    const Bytes written = writer.Written();
    EXPECT_EQ(written.size(), 4 + (size + 3) / 4 * 4 + 4) << size;
    remote::rpc::XdrReader reader(written);
    EXPECT_EQ(reader.Opaque(5), data);
    EXPECT_EQ(reader.Signed(), -2);
    EXPECT_EQ(reader.Left(), 0u);
  }
  struct Case {
    const char* name;
    Bytes record;
    void (*read)(remote::rpc::XdrReader&);
  };
  const Case faults[] = {
      {"a word cut short", {0, 0, 1}, [](auto& r) { r.Unsigned(); }},
      {"data longer than the record", Words({8, 1}), [](auto& r) { r.Opaque(100); }},
      {"data without its padding", {0, 0, 0, 1, 7}, [](auto& r) { r.Opaque(100); }},
      {"data over the limit", Words({5, 0, 0}), [](auto& r) { r.String(4); }},
      {"a boolean of 2", Words({2}), [](auto& r) { r.Boolean(); }},
  };
  for (const Case& c : faults) {
    remote::rpc::XdrReader reader(c.record);
    EXPECT_THROW(c.read(reader), Error) << c.name;
  }
}

// A call's header: xid, CALL, RPC version, program, version, procedure, then the
// credentials and the verifier.
Bytes CallOf(std::uint32_t rpc, std::uint32_t program, std::uint32_t version,
             std::uint32_t procedure, const Bytes& arguments) {
  // AUTH_UNIX credentials, as Linux clients send them: any flavour is taken.
  const Bytes header = Words({0x1234, 0, rpc, program, version, procedure, 1, 8, 0x11, 0x22, 0, 0});
  return Join(header, arguments);
}

TEST(OncRpc, ThePortmapperNamesOnlyTheCoreChannel) {
  constexpr std::uint16_t kPort = 40123;
  using A = remote::rpc::Accepted;
  const auto accepted = [](A status, std::initializer_list<std::uint32_t> results) {
    return Join(Words({0x1234, 1, 0, 0, 0, static_cast<std::uint32_t>(status)}), Words(results));
  };
  struct Case {
    const char* name;
    Bytes call;
    Bytes reply;
  };
  const Case cases[] = {
      {"the core channel over TCP", CallOf(2, 100000, 2, 3, Words({0x0607AF, 1, 6, 0})),
       accepted(A::Success, {kPort})},
      {"the core channel over UDP", CallOf(2, 100000, 2, 3, Words({0x0607AF, 1, 17, 0})),
       accepted(A::Success, {0})},
      {"another version of it", CallOf(2, 100000, 2, 3, Words({0x0607AF, 2, 6, 0})),
       accepted(A::Success, {0})},
      {"the abort channel", CallOf(2, 100000, 2, 3, Words({0x0607B0, 1, 6, 0})),
       accepted(A::Success, {0})},
      {"the null procedure", CallOf(2, 100000, 2, 0, {}), accepted(A::Success, {})},
      {"DUMP, not served", CallOf(2, 100000, 2, 4, {}), accepted(A::ProcedureUnavailable, {})},
      {"rpcbind version 3", CallOf(2, 100000, 3, 3, {}), accepted(A::ProgramMismatch, {2, 2})},
      {"another program", CallOf(2, 100003, 3, 0, {}), accepted(A::ProgramUnavailable, {})},
      {"arguments cut short", CallOf(2, 100000, 2, 3, Words({0x0607AF, 1})),
       accepted(A::GarbageArguments, {})},
      {"RPC version 3", CallOf(3, 100000, 2, 3, {}), Words({0x1234, 1, 1, 0, 2, 2})},
      // Credentials, then a verifier, over the 400 bytes allowed: denied, AUTH_BADCRED and
      // AUTH_BADVERF, the call's record framed as ever.
      {"credentials of 404 bytes", Join(Words({0x1234, 0, 2, 100000, 2, 0, 1, 404}), Bytes(404)),
       Words({0x1234, 1, 1, 1, 1})},
      {"a verifier of 401 bytes",
       Join(Words({0x1234, 0, 2, 100000, 2, 0, 0, 400}), Join(Bytes(400), Words({0, 401}))),
       Words({0x1234, 1, 1, 1, 3})},
      {"credentials of 400 bytes taken",
       Join(Words({0x1234, 0, 2, 100000, 2, 0, 1, 400}), Join(Bytes(400), Words({0, 0}))),
       accepted(A::Success, {})},
  };
  for (const Case& c : cases)
    EXPECT_EQ(remote::rpc::AnswerPortmapper(c.call, kPort), c.reply) << c.name;
  for (const Bytes& notACall : {Words({0x1234, 1, 0, 0, 0, 0}), Words({0x1234}), Bytes{}})
    EXPECT_THROW(remote::rpc::AnswerPortmapper(notACall, kPort), Error);
}

}  // namespace
}  // namespace kt
