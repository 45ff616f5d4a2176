// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "vxi11/onc_rpc.h"

// RPC over TCP as the VXI-11 core channel and the portmapper carry it: the connection that
// answers each record in turn through one writer.
namespace kt::remote {

/// @brief One TCP connection carrying RPC records. Each record is answered in turn and its
/// reply goes out whole, behind the ones before it, however slowly the client reads: one
/// write at a time, the rest queued. A call that waits for another link's lock is held, and
/// the calls behind it with it, until the lock is let go (Retry) or its time is up. What a
/// connection keeps is bounded: while replies wait to be written, or a call is held, no more
/// calls are read than one read brings (TCP holds the rest back). A stream that breaks its
/// framing ends.
class RpcConnection : public std::enable_shared_from_this<RpcConnection> {
 public:
  struct Handlers {
    std::function<rpc::Bytes(const rpc::Bytes&)> Answer;
    /// How long a call may wait for the lock; none: answered at once.
    std::function<std::optional<std::uint32_t>(const rpc::Bytes&)> LockWait;
    /// Told of a connection holding a call, to Retry it when the lock is let go.
    std::function<void(std::weak_ptr<RpcConnection>)> Hold;
    /// After each call answered.
    std::function<void()> Answered;
    /// When the connection ends.
    std::function<void()> Closed;
  };
  /// `open` counts the connections alive, this one among them until it ends.
  RpcConnection(asio::ip::tcp::socket socket, Handlers handlers, std::shared_ptr<std::size_t> open);
  ~RpcConnection();
  RpcConnection(const RpcConnection&) = delete;
  RpcConnection& operator=(const RpcConnection&) = delete;

  void Start() { Read(); }
  /// The lock was let go: the call held is asked about again.
  void Retry();

  /// Replies queued past this are not added to: the calls behind them wait unread.
  static constexpr std::size_t kMaxQueued = 64 * 1024;

 private:
  void Read();
  void Run();
  void Answer();
  void Write();
  void End();

  asio::ip::tcp::socket socket_;
  std::array<std::uint8_t, 4096> input_{};
  rpc::RecordReader reader_;
  Handlers handlers_;
  std::shared_ptr<std::size_t> open_;
  asio::steady_timer timer_;
  std::optional<rpc::Bytes> held_;  // the call waiting for the lock
  rpc::Bytes queued_;               // replies not yet handed to a write
  rpc::Bytes writing_;              // the bytes of the write in flight
  bool waiting_ = false;            // the held call's timer runs
  std::uint64_t waits_ = 0;         // which wait the timer runs for
  bool timedOut_ = false;           // its time is up: answered (refused) now
  bool reading_ = false;
  bool ended_ = false;
  bool writeNow_ = false;  // the socket is non-blocking: replies can be tried at once
};

}  // namespace kt::remote
