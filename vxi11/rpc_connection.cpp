// SPDX-License-Identifier: MIT
#include "vxi11/rpc_connection.h"

#include "core/error.h"
#include "platform/tcp.h"
#include "vxi11/vxi11.h"

namespace kt::remote {

namespace {

using asio::ip::tcp;

// A record holds a call: the largest write of the core channel and its header.
constexpr std::size_t kMaxRecord = vxi11::kMaxReceive + 1024;

}  // namespace

RpcConnection::RpcConnection(tcp::socket socket, Handlers handlers,
                             std::shared_ptr<std::size_t> open)
    : socket_(std::move(socket)),
      reader_(kMaxRecord),
      handlers_(std::move(handlers)),
      open_(std::move(open)),
      timer_(socket_.get_executor()) {
  ++*open_;
  // Replies are written at once where they fit (Write), on a socket that says "not now"
  // rather than wait; on any other, each is written in turn.
  std::error_code error;
  socket_.non_blocking(true, error);
  writeNow_ = !error;
}

RpcConnection::~RpcConnection() {
  --*open_;
  if (handlers_.Closed) handlers_.Closed();
}

void RpcConnection::Retry() {
  if (held_) Run();
}

// Reads on while a call is held, so that a client that goes while it waits ends its links at
// once; but not while calls read before wait unanswered, or replies wait to be written.
void RpcConnection::Read() {
  if (reading_ || ended_ || reader_.Waiting() > 0 || queued_.size() + writing_.size() >= kMaxQueued)
    return;
  reading_ = true;
  socket_.async_read_some(
      asio::buffer(input_), [self = shared_from_this()](std::error_code error, std::size_t size) {
        self->reading_ = false;
        if (error) return self->End();
        try {
          self->reader_.Feed(self->input_.data(), size);
        } catch (const Error&) {
          return self->End();  // a record beyond the limit: the stream cannot be read on
        }
        // A whole call's reply carries the acknowledgement; a call in parts is acknowledged
        // now, since a client keeping Nagle's algorithm on sends the rest only then.
        if (self->reader_.Within())
          platform::AcknowledgeAtOnce(self->socket_.native_handle(), false);
        self->Run();
      });
}

// Answers the records in hand, the held one first, until one has to wait or the queue of
// replies is full; writes; and answers on while what was queued went out at once. Then reads.
void RpcConnection::Run() {
  while (!ended_) {
    try {
      Answer();
    } catch (const Error&) {
      return End();  // not RPC: the stream cannot be read on
    }
    Write();
    if (ended_ || held_ || !writing_.empty() || reader_.Waiting() == 0) break;
  }
  Read();
}

void RpcConnection::Answer() {
  while (queued_.size() < kMaxQueued) {
    std::optional<rpc::Bytes> record = std::move(held_);
    held_.reset();
    if (!record) record = reader_.Next();
    if (!record) return;
    if (!timedOut_ && handlers_.LockWait) {
      if (const auto wait = handlers_.LockWait(*record)) {
        held_ = std::move(record);
        if (!waiting_) {
          waiting_ = true;
          timer_.expires_after(std::chrono::milliseconds(*wait));
          timer_.async_wait([self = shared_from_this(), wait = ++waits_](std::error_code error) {
            // A wait answered already (its timer cancelled, or expired as it was answered)
            // must not cut the next one short.
            if (error || !self->waiting_ || wait != self->waits_) return;
            self->timedOut_ = true;
            self->Run();
          });
        }
        handlers_.Hold(weak_from_this());
        platform::AcknowledgeAtOnce(socket_.native_handle(), false);  // no reply for now
        return;
      }
    }
    if (waiting_) timer_.cancel();
    waiting_ = timedOut_ = false;
    const rpc::Bytes reply = rpc::MarkRecord(handlers_.Answer(*record));
    queued_.insert(queued_.end(), reply.begin(), reply.end());
    if (handlers_.Answered) handlers_.Answered();
  }
}

// The one writer: what is queued goes out now where the socket takes it (a reply nearly
// always fits, and the next call is then awaited without a trip through the event loop),
// the rest by one write at a time, in turn. A broken connection is told by that write.
void RpcConnection::Write() {
  if (ended_ || !writing_.empty() || queued_.empty()) return;
  if (writeNow_) {
    std::error_code ignored;
    const std::size_t now = socket_.write_some(asio::buffer(queued_), ignored);
    queued_.erase(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(now));
    if (queued_.empty()) return;
  }
  writing_.swap(queued_);
  asio::async_write(socket_, asio::buffer(writing_),
                    [self = shared_from_this()](std::error_code error, std::size_t) {
                      if (error) return self->End();
                      self->writing_.clear();
                      self->Run();  // the calls left for the queue's bound, then the rest
                    });
}

// Nothing more is read or answered: the connection goes with its last handler.
void RpcConnection::End() {
  ended_ = true;
  held_.reset();
  waiting_ = false;
  timer_.cancel();
}

}  // namespace kt::remote
