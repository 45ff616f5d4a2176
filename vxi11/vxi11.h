// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "scpi/session.h"
#include "vxi11/onc_rpc.h"

// VXI-11's core channel (VXIbus Consortium VXI-11, TCP/IP Instrument Protocol): the calls a
// VISA `TCPIP::HOST::inst0::INSTR` resource makes, answered over the shared board. Knows no
// network: a call comes in as an RPC record's content and its reply leaves as one.
namespace kt::remote::vxi11 {

/// Device_ErrorCode values.
enum Status : std::int32_t {
  kNoError = 0,
  kSyntaxError = 1,
  kNotAccessible = 3,
  kInvalidLink = 4,
  kParameterError = 5,
  kNotSupported = 8,
  kOutOfResources = 9,
  kLockedByAnother = 11,
  kNoLockHeld = 12,
  kIoTimeout = 15,
};

/// Device_Flags bits and the reasons a read ended.
inline constexpr std::uint32_t kWaitLock = 1, kEnd = 8, kTermCharSet = 128;
inline constexpr std::int32_t kRequestCount = 1, kTermChar = 2, kEndReached = 4;

/// The core channel's procedures.
enum Procedure : std::uint32_t {
  kCreateLink = 10,
  kDeviceWrite = 11,
  kDeviceRead = 12,
  kDeviceReadStb = 13,
  kDeviceTrigger = 14,
  kDeviceClear = 15,
  kDeviceRemote = 16,
  kDeviceLocal = 17,
  kDeviceLock = 18,
  kDeviceUnlock = 19,
  kDeviceEnableSrq = 20,
  kDeviceDoCmd = 22,
  kDestroyLink = 23,
  kCreateInterruptChannel = 25,
  kDestroyInterruptChannel = 26,
};

/// The largest write a client is told to send at once; a message may span several.
inline constexpr std::uint32_t kMaxReceive = 4096;

/// @brief The instrument `inst0` as the core channel offers it: links, each its own SCPI
/// session (error queue, status registers) over the board, with its message in hand and its
/// response waiting to be read.
class Instrument {
 public:
  Instrument(Board& board, Shared& shared, std::size_t maxClients)
      : board_(board), shared_(shared), maxClients_(maxClients) {}

  /// Answers one call to the core program from a TCP connection (`channel`); raises
  /// kt::Error for what is not an RPC call, after which the connection cannot go on.
  rpc::Bytes Answer(const rpc::Bytes& call, int channel);

  /// How long (ms) the call from `channel` may wait for another link's lock to be let go,
  /// when it would be refused for it now and asks to wait (create_link asking for the lock;
  /// a call with waitlock and a lock timeout); nothing when it is to be answered at once. The
  /// server holds such a call, asks again when the lock is let go, and answers it (refused)
  /// when the time is up. A wait that could not end is refused at once: the lock held by a
  /// link of the same connection, whose unlock would come behind the held call. A read of
  /// an *OPC? answer held until a waveform has played waits too, for the read's io_timeout,
  /// and is asked about again when the waveform ends.
  [[nodiscard]] std::optional<std::uint32_t> LockWait(const rpc::Bytes& call, int channel) const;

  /// A connection ended: the links it made end with it, and a lock one held is let go.
  void Close(int channel);

  [[nodiscard]] std::size_t Links() const { return links_.size(); }

 private:
  /// How a message past the limits is dropped: to its LF, or to the END of a write.
  enum class Dropping { No, ToLineEnd, ToEnd };
  struct Link {
    int Channel;
    Session Scpi;
    std::string Input;                 ///< a message not yet ended
    Dropping Overlong = Dropping::No;  ///< the message in hand went past the limits
    std::string Output;                ///< the response not yet read
    bool Held = false;  ///< it answers *OPC? and waits for the waveform to have played
  };
  /// How long a read may wait for a response held until a waveform has played; none when
  /// it is answered now.
  [[nodiscard]] std::optional<std::uint32_t> OutputWait(const rpc::Call& call, rpc::XdrReader in,
                                                        int channel) const;
  void CreateLink(rpc::XdrReader& in, rpc::XdrWriter& out, int channel);
  std::int32_t Write(Link& link, std::uint32_t flags, const std::string& data);
  void Read(Link& link, rpc::XdrReader& in, rpc::XdrWriter& out);
  /// Whether another link holds the lock, so that this one may not act.
  [[nodiscard]] bool LockedOut(std::int32_t id) const {
    return shared_.LockedBy && *shared_.LockedBy != id;
  }
  void Destroy(std::int32_t id);

  Board& board_;
  Shared& shared_;
  std::size_t maxClients_;
  std::map<std::int32_t, Link> links_;
  std::int32_t next_ = 1;
};

}  // namespace kt::remote::vxi11
