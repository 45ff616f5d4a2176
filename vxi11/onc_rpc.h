// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// ONC RPC version 2 (RFC 5531) as VXI-11 instruments and the portmapper speak it: records
// over TCP marked into fragments, XDR values (RFC 4506), a call's header and the replies.
// Every fault in what a peer sent is a kt::Error naming what was wrong; nothing a peer sends
// makes a buffer larger than the limits given here.
namespace kt::remote::rpc {

using Bytes = std::vector<std::uint8_t>;

/// @brief Gathers the records of a TCP stream. Each fragment starts with a 4-byte mark: the
/// top bit says it is a record's last, the rest is its length.
class RecordReader {
 public:
  /// `limit`: the largest record taken, all its fragments together.
  explicit RecordReader(std::size_t limit) : limit_(limit) {}

  /// Takes the bytes as they came. Raises kt::Error for a record beyond the limit; the
  /// stream cannot be read on after that, since its marks are no longer known.
  void Feed(const std::uint8_t* data, std::size_t size);

  /// The next whole record, oldest first; none while the stream is within one.
  std::optional<Bytes> Next();

  /// Whether the bytes fed end within a record: more of it is still to come.
  [[nodiscard]] bool Within() const { return markHeld_ > 0 || !record_.empty(); }

  /// Whole records fed and not yet taken.
  [[nodiscard]] std::size_t Waiting() const { return done_.size(); }

 private:
  std::size_t limit_;
  std::uint8_t mark_[4] = {};
  std::size_t markHeld_ = 0;  ///< bytes of the next mark read so far
  std::size_t left_ = 0;      ///< bytes of the fragment in hand still to come
  bool last_ = false;         ///< the fragment in hand ends its record
  Bytes record_;              ///< the record being gathered
  std::deque<Bytes> done_;    ///< whole records not yet taken
};

/// The record as one last fragment, ready to write to the stream.
Bytes MarkRecord(const Bytes& record);

/// @brief Reads XDR values from a record, each checked against what is left.
class XdrReader {
 public:
  explicit XdrReader(const Bytes& record) : data_(record) {}
  std::uint32_t Unsigned();
  std::int32_t Signed();
  bool Boolean();
  /// Variable-length opaque data of at most `max` bytes, its padding skipped.
  Bytes Opaque(std::size_t max);
  /// Passes over `size` bytes of data and their padding.
  void Skip(std::size_t size);
  /// A string of at most `max` bytes, as sent (XDR strings are bytes, not checked text).
  std::string String(std::size_t max);
  [[nodiscard]] std::size_t Left() const { return data_.size() - at_; }

 private:
  const std::uint8_t* Take(std::size_t size, const char* what);
  const Bytes& data_;
  std::size_t at_ = 0;
};

/// @brief Writes XDR values.
class XdrWriter {
 public:
  XdrWriter& Unsigned(std::uint32_t value);
  XdrWriter& Signed(std::int32_t value) { return Unsigned(static_cast<std::uint32_t>(value)); }
  XdrWriter& Boolean(bool value) { return Unsigned(value ? 1 : 0); }
  XdrWriter& Opaque(const std::uint8_t* data, std::size_t size);
  XdrWriter& String(const std::string& text);
  [[nodiscard]] const Bytes& Written() const { return bytes_; }

 private:
  Bytes bytes_;
};

/// @brief What a call asks for; its arguments follow in the reader.
struct Call {
  std::uint32_t Xid = 0;
  std::uint32_t Program = 0, Version = 0, Procedure = 0;
};

/// Reads a call's header, leaving the reader at its arguments. A call of another RPC version,
/// or whose credentials or verifier are over RFC 5531's 400 bytes, gives no call, and
/// `refusal` then holds the reply that denies it (only version 2 is served; AUTH_BADCRED,
/// AUTH_BADVERF).
/// Raises kt::Error for a message that is not a call.
std::optional<Call> ReadCall(XdrReader& reader, Bytes& refusal);

/// How an accepted call went (RFC 5531 accept_stat).
enum class Accepted : std::uint32_t {
  Success = 0,
  ProgramUnavailable = 1,
  ProgramMismatch = 2,  ///< followed by the lowest and highest version served
  ProcedureUnavailable = 3,
  GarbageArguments = 4,
  SystemError = 5,
};

/// The reply to an accepted call up to its results, which the caller writes after it.
XdrWriter Reply(std::uint32_t xid, Accepted status);

/// @brief The portmapper (program 100000, version 2), as far as an instrument needs it: the
/// null procedure, and GETPORT answering where the VXI-11 core channel listens.
inline constexpr std::uint32_t kPortmapper = 100000;
inline constexpr std::uint32_t kVxi11Core = 0x0607AF;
inline constexpr std::uint32_t kTcp = 6, kUdp = 17;

/// The reply to one portmapper call (a record's or a datagram's content): GETPORT of the
/// VXI-11 core channel, version 1, over TCP gives `corePort`; anything else that is asked
/// for is not there (port 0), as a portmapper says. Raises kt::Error for what is not a call.
Bytes AnswerPortmapper(const Bytes& call, std::uint16_t corePort);

}  // namespace kt::remote::rpc
