// SPDX-License-Identifier: MIT
#include "vxi11/onc_rpc.h"

#include <fmt/format.h>

#include <algorithm>

#include "core/error.h"

namespace kt::remote::rpc {

namespace {

constexpr std::uint32_t kLastFragment = 0x80000000u;
constexpr std::uint32_t kCall = 0, kReply = 1;
constexpr std::uint32_t kAccepted = 0, kDenied = 1;
constexpr std::uint32_t kRpcMismatch = 0, kAuthError = 1;
constexpr std::uint32_t kAuthBadCredentials = 1, kAuthBadVerifier = 3;
constexpr std::size_t kAuthMax = 400;  // the most an opaque_auth body holds

std::size_t Padding(std::size_t size) { return (4 - size % 4) % 4; }

enum Portmap : std::uint32_t { kNull = 0, kGetPort = 3 };

}  // namespace

void RecordReader::Feed(const std::uint8_t* data, std::size_t size) {
  for (;;) {
    if (markHeld_ < 4) {
      const std::size_t take = std::min(size, 4 - markHeld_);
      std::copy_n(data, take, mark_ + markHeld_);
      markHeld_ += take;
      data += take;
      size -= take;
      if (markHeld_ < 4) return;
      const std::uint32_t mark = std::uint32_t{mark_[0]} << 24 | std::uint32_t{mark_[1]} << 16 |
                                 std::uint32_t{mark_[2]} << 8 | mark_[3];
      last_ = (mark & kLastFragment) != 0;
      left_ = mark & ~kLastFragment;
      if (left_ > limit_ - record_.size())
        throw Error(fmt::format("RPC record over {} bytes (a fragment of {} after {})", limit_,
                                left_, record_.size()));
    }
    const std::size_t take = std::min(size, left_);
    record_.insert(record_.end(), data, data + take);
    data += take;
    size -= take;
    left_ -= take;
    if (left_ > 0) return;  // the fragment goes on in the next bytes
    markHeld_ = 0;
    if (last_) {
      done_.push_back(std::move(record_));
      record_.clear();
    }
  }
}

std::optional<Bytes> RecordReader::Next() {
  if (done_.empty()) return std::nullopt;
  Bytes record = std::move(done_.front());
  done_.pop_front();
  return record;
}

Bytes MarkRecord(const Bytes& record) {
  const auto mark = kLastFragment | static_cast<std::uint32_t>(record.size());
  Bytes marked(4 + record.size());
  for (int i = 0; i < 4; ++i) marked[i] = static_cast<std::uint8_t>(mark >> (24 - 8 * i));
  std::copy(record.begin(), record.end(), marked.begin() + 4);
  return marked;
}

const std::uint8_t* XdrReader::Take(std::size_t size, const char* what) {
  if (size > Left())
    throw Error(
        fmt::format("RPC record ends inside {} ({} bytes wanted, {} left)", what, size, Left()));
  const std::uint8_t* from = data_.data() + at_;
  at_ += size;
  return from;
}

std::uint32_t XdrReader::Unsigned() {
  const std::uint8_t* b = Take(4, "a number");
  return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

std::int32_t XdrReader::Signed() { return static_cast<std::int32_t>(Unsigned()); }

bool XdrReader::Boolean() {
  const std::uint32_t value = Unsigned();
  if (value > 1) throw Error(fmt::format("RPC boolean of {}, not 0 or 1", value));
  return value == 1;
}

Bytes XdrReader::Opaque(std::size_t max) {
  const std::uint32_t size = Unsigned();
  if (size > max) throw Error(fmt::format("RPC data of {} bytes, over the {} taken", size, max));
  const std::uint8_t* from = Take(size, "data");
  Take(Padding(size), "the padding of data");
  return {from, from + size};
}

void XdrReader::Skip(std::size_t size) {
  Take(size, "data");
  Take(Padding(size), "the padding of data");
}

std::string XdrReader::String(std::size_t max) {
  const Bytes bytes = Opaque(max);
  return {bytes.begin(), bytes.end()};
}

XdrWriter& XdrWriter::Unsigned(std::uint32_t value) {
  bytes_.insert(bytes_.end(),
                {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                 static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
  return *this;
}

XdrWriter& XdrWriter::Opaque(const std::uint8_t* data, std::size_t size) {
  Unsigned(static_cast<std::uint32_t>(size));
  bytes_.insert(bytes_.end(), data, data + size);
  bytes_.insert(bytes_.end(), Padding(size), 0);
  return *this;
}

XdrWriter& XdrWriter::String(const std::string& text) {
  return Opaque(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::optional<Call> ReadCall(XdrReader& reader, Bytes& refusal) {
  Call call;
  call.Xid = reader.Unsigned();
  if (const std::uint32_t type = reader.Unsigned(); type != kCall)
    throw Error(fmt::format("RPC message of type {}, not a call", type));
  if (reader.Unsigned() != 2) {
    XdrWriter reply;
    reply.Unsigned(call.Xid).Unsigned(kReply).Unsigned(kDenied).Unsigned(kRpcMismatch);
    refusal = reply.Unsigned(2).Unsigned(2).Written();
    return std::nullopt;
  }
  call.Program = reader.Unsigned();
  call.Version = reader.Unsigned();
  call.Procedure = reader.Unsigned();
  // The credentials and the verifier: any flavour is taken, as an instrument on a lab
  // network takes any client; neither is kept. One over the size RFC 5531 allows is denied,
  // and the next call read as ever: the record's mark, not its content, frames it.
  for (const std::uint32_t bad : {kAuthBadCredentials, kAuthBadVerifier}) {
    reader.Unsigned();
    if (const std::uint32_t size = reader.Unsigned(); size > kAuthMax) {
      XdrWriter reply;
      reply.Unsigned(call.Xid).Unsigned(kReply).Unsigned(kDenied).Unsigned(kAuthError);
      refusal = reply.Unsigned(bad).Written();
      return std::nullopt;
    } else {
      reader.Skip(size);
    }
  }
  return call;
}

XdrWriter Reply(std::uint32_t xid, Accepted status) {
  XdrWriter reply;
  reply.Unsigned(xid).Unsigned(kReply).Unsigned(kAccepted);
  reply.Unsigned(0).Unsigned(0);  // the verifier: AUTH_NONE, empty
  reply.Unsigned(static_cast<std::uint32_t>(status));
  return reply;
}

Bytes AnswerPortmapper(const Bytes& record, std::uint16_t corePort) {
  XdrReader reader(record);
  Bytes refusal;
  const std::optional<Call> asked = ReadCall(reader, refusal);
  if (!asked) return refusal;
  const Call& call = *asked;
  if (call.Program != kPortmapper) return Reply(call.Xid, Accepted::ProgramUnavailable).Written();
  if (call.Version != 2) {
    XdrWriter reply = Reply(call.Xid, Accepted::ProgramMismatch);
    return reply.Unsigned(2).Unsigned(2).Written();
  }
  if (call.Procedure == kNull) return Reply(call.Xid, Accepted::Success).Written();
  if (call.Procedure != kGetPort) return Reply(call.Xid, Accepted::ProcedureUnavailable).Written();
  std::uint32_t program = 0, programVersion = 0, protocol = 0;
  try {
    program = reader.Unsigned();
    programVersion = reader.Unsigned();
    protocol = reader.Unsigned();
    reader.Unsigned();  // the port: ignored in a GETPORT
  } catch (const Error&) {
    return Reply(call.Xid, Accepted::GarbageArguments).Written();
  }
  const bool core = program == kVxi11Core && programVersion == 1 && protocol == kTcp;
  XdrWriter reply = Reply(call.Xid, Accepted::Success);
  return reply.Unsigned(core ? corePort : 0).Written();
}

}  // namespace kt::remote::rpc
