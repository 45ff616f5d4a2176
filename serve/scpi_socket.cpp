// SPDX-License-Identifier: MIT
#include "serve/scpi_socket.h"

#include <fmt/format.h>

#include "platform/tcp.h"
#include "scpi/framing.h"
#include "serve/server.h"

namespace kt::remote {

namespace {

using asio::ip::tcp;
using SharedState = std::shared_ptr<Shared>;

// @brief Where the first message in the received bytes ends, its blocks' bytes passed over.
// A message beyond the limits is matched where it stands, to be read and refused.
struct MessageEnd {
  using Iterator = asio::buffers_iterator<asio::streambuf::const_buffers_type>;
  using result_type = std::pair<Iterator, bool>;  // what makes it a match condition to Asio
  std::pair<Iterator, bool> operator()(Iterator begin, Iterator end) const {
    const Framing framing = FindMessage(std::string(begin, end), kMaxLine);
    // Past the limits, what came before the point passed, which holds no terminator.
    if (framing.What != Framing::End::More)
      return {begin + static_cast<std::ptrdiff_t>(framing.Size), true};
    return {begin, false};  // looked at again from the start when more has come
  }
};

// @brief One client: its own SCPI session over the shared board, reading a line at a time.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // The count outlives the server: a connection may end after it, when the stopped
  // context lets go of its handlers.
  Connection(tcp::socket socket, Board& board, SharedState shared)
      : socket_(std::move(socket)),
        buffer_(kMaxLine + kMaxBlock + 64),  // the longest message and a block
        board_(board),
        session_(board, !shared->PoweredOn),
        shared_(std::move(shared)) {
    shared_->PoweredOn = true;
    ++shared_->Clients;
  }
  ~Connection() { --shared_->Clients; }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Read() {
    asio::async_read_until(socket_, buffer_, MessageEnd{},
                           [self = shared_from_this()](std::error_code error, std::size_t size) {
                             self->OnLine(error, size);
                           });
  }

 private:
  void OnLine(std::error_code error, std::size_t size) {
    std::string line;
    if (!error) {
      // The message is acknowledged now: a client that keeps Nagle's algorithm on sends its
      // next one only then, and a command has no answer that would carry the acknowledgement.
      platform::AcknowledgeAtOnce(socket_.native_handle(), false);
      line.assign(asio::buffers_begin(buffer_.data()),
                  asio::buffers_begin(buffer_.data()) + static_cast<std::ptrdiff_t>(size));
      buffer_.consume(size);
      if (line.empty() || line.back() != '\n') {
        error = asio::error::not_found;  // beyond the limits
      } else {
        line.pop_back();  // the \n
        if (!line.empty() && line.back() == '\r') line.pop_back();
      }
    }
    if (error == asio::error::not_found) {
      // No terminator within the limit: the rest of the line cannot be trusted to be a
      // message of its own, so the connection ends.
      session_.Queue(-363, fmt::format("a message longer than {} bytes, or a block longer "
                                       "than {}",
                                       kMaxLine, kMaxBlock));
      Write(ErrorEntry(-363, session_.Errors().back().Text) + "\n", true);
      return;
    }
    if (error) return;  // the client went away; dropping the last handler closes the socket
    if (shared_->LockedBy) {
      // A VXI-11 link holds the instrument: nothing is run, and the queue says why.
      session_.Queue(-300, "a VXI-11 link holds the lock; nothing was done");
      Read();
      return;
    }
    std::string response = session_.Execute(line);
    if (response.empty()) {
      Read();
    } else if (Generator* generator = board_.Waveform(); generator && session_.Held()) {
      // *OPC? of a waveform playing: answered when it has played, nothing read meanwhile.
      generator->WhenIdle([self = shared_from_this(), response = std::move(response)] {
        self->Write(response + "\n", false);
      });
    } else {
      Write(response + "\n", false);
    }
  }

  // Writes a response, then reads the next line; after the `last` one, the connection ends.
  void Write(std::string text, bool last) {
    auto message = std::make_shared<std::string>(std::move(text));
    asio::async_write(
        socket_, asio::buffer(*message),
        [self = shared_from_this(), message, last](std::error_code error, std::size_t) {
          if (error) return;
          if (!last) {
            self->Read();
            return;
          }
          // The end is told by closing this side; what the client still sends
          // is read and dropped until it closes too, so that its unread bytes
          // cannot turn the close into a reset that loses the response.
          std::error_code ignored;
          self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
          self->Drain();
        });
  }

  void Drain() {
    socket_.async_read_some(asio::buffer(drain_),
                            [self = shared_from_this()](std::error_code error, std::size_t) {
                              if (!error) self->Drain();
                            });
  }

  tcp::socket socket_;
  asio::streambuf buffer_;
  std::array<char, 1024> drain_{};
  Board& board_;
  Session session_;
  SharedState shared_;
};

}  // namespace

ScpiSocket::ScpiSocket(asio::io_context& io, const tcp::endpoint& endpoint, Board& board,
                       std::shared_ptr<Shared> shared, std::FILE* log)
    : listener_(io, endpoint, "SCPI", log), board_(board), log_(log), shared_(std::move(shared)) {}

void ScpiSocket::Accept() {
  listener_.Accept([this](tcp::socket socket) {
    std::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (!platform::AcknowledgeAtOnce(socket.native_handle(), true) && !toldOfAcks_) {
      // Said once: each client that keeps Nagle's algorithm on then waits for the system's
      // delayed acknowledgement after every command.
      fmt::print(log_,
                 "ktdac: this system does not acknowledge each message at once: a client "
                 "that keeps Nagle's algorithm on waits for the delayed acknowledgement after "
                 "each command\n");
      std::fflush(log_);
      toldOfAcks_ = true;
    }
    if (shared_->Clients >= kMaxClients) {
      auto refusal = std::make_shared<std::string>(
          fmt::format("-300,\"Device-specific error;{} clients are connected, the most "
                      "served at once: try again later\"\n",
                      shared_->Clients));
      auto client = std::make_shared<tcp::socket>(std::move(socket));
      asio::async_write(*client, asio::buffer(*refusal),
                        [client, refusal](std::error_code, std::size_t) {});
    } else {
      std::make_shared<Connection>(std::move(socket), board_, shared_)->Read();
    }
  });
}

}  // namespace kt::remote
