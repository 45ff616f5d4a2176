// SPDX-License-Identifier: MIT
#include "remote/server.h"

#include <fmt/format.h>

#include <array>
#include <asio.hpp>
#include <csignal>
#include <memory>

#include "core/error.h"
#include "platform/announce.h"
#include "platform/tcp.h"

namespace kt::remote {

namespace {

using asio::ip::tcp;

// @brief One client: its own SCPI session over the shared board, reading a line at a time.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // The count outlives the server: a connection may end after it, when the stopped
  // context lets go of its handlers.
  Connection(tcp::socket socket, Board& board, bool powerOn, std::shared_ptr<std::size_t> clients)
      : socket_(std::move(socket)),
        buffer_(kMaxLine + 2),  // the longest message and a CR LF
        session_(board, powerOn),
        clients_(std::move(clients)) {
    ++*clients_;
  }
  ~Connection() { --*clients_; }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Read() {
    asio::async_read_until(socket_, buffer_, '\n',
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
      line.pop_back();  // the \n
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > kMaxLine) error = asio::error::not_found;
    }
    if (error == asio::error::not_found) {
      // No terminator within the limit: the rest of the line cannot be trusted to be a
      // message of its own, so the connection ends.
      session_.Queue(-363, fmt::format("a message longer than {} bytes", kMaxLine));
      Write(ErrorEntry(-363, session_.Errors().back().Text) + "\n", true);
      return;
    }
    if (error) return;  // the client went away; dropping the last handler closes the socket
    const std::string response = session_.Execute(line);
    if (response.empty()) {
      Read();
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
  Session session_;
  std::shared_ptr<std::size_t> clients_;
};

// @brief The listening socket: takes clients up to the bound, tells the one past it.
class Server {
 public:
  Server(asio::io_context& io, const tcp::endpoint& endpoint, Board& board, std::FILE* log)
      : acceptor_(io), board_(board), log_(log) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
  }

  tcp::endpoint Endpoint() const { return acceptor_.local_endpoint(); }

  void Accept() {
    acceptor_.async_accept([this](std::error_code error, tcp::socket socket) {
      if (error) return;  // stopped
      socket.set_option(tcp::no_delay(true));
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
      if (*clients_ >= kMaxClients) {
        auto refusal = std::make_shared<std::string>(
            fmt::format("-300,\"Device-specific error;{} clients are connected, the most "
                        "served at once: try again later\"\n",
                        *clients_));
        auto client = std::make_shared<tcp::socket>(std::move(socket));
        asio::async_write(*client, asio::buffer(*refusal),
                          [client, refusal](std::error_code, std::size_t) {});
      } else {
        std::make_shared<Connection>(std::move(socket), board_, !served_, clients_)->Read();
        served_ = true;
      }
      Accept();
    });
  }

 private:
  tcp::acceptor acceptor_;
  Board& board_;
  std::FILE* log_;
  bool toldOfAcks_ = false;
  std::shared_ptr<std::size_t> clients_ = std::make_shared<std::size_t>(0);
  bool served_ = false;  // the first client is told of the power on
};

}  // namespace

platform::Service ServiceOf(const std::string& identity, const std::string& address,
                            unsigned short port) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t comma; (comma = identity.find(',', start)) != std::string::npos;
       start = comma + 1)
    fields.push_back(identity.substr(start, comma - start));
  fields.push_back(identity.substr(start));
  fields.resize(4);
  platform::Service service;
  service.Name = fields[1] + " on " + platform::HostName();
  // A DNS label holds 63 bytes; a cut never splits a UTF-8 sequence.
  if (service.Name.size() > 63) {
    std::size_t end = 63;
    while (end > 0 && (static_cast<unsigned char>(service.Name[end]) & 0xC0) == 0x80) --end;
    service.Name.resize(end);
  }
  service.Type = kServiceType;
  service.Address = address;
  service.Port = port;
  service.Text = {{"txtvers", "1"},
                  {"Manufacturer", fields[0]},
                  {"Model", fields[1]},
                  {"SerialNumber", fields[2]},
                  {"FirmwareVersion", fields[3]}};
  return service;
}

Listen ParseListen(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos)
    throw Error{"--listen " + text + " is not ADDRESS:PORT (say 127.0.0.1:5025)"};
  Listen listen;
  std::string address = text.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  if (!address.empty()) listen.Address = address;
  const std::string port = text.substr(colon + 1);
  unsigned long number = 0;
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
  if (digits) number = std::stoul(port);
  if (!digits || number > 65535) throw Error{"--listen " + text + ": the port must be 0..65535"};
  listen.Port = static_cast<unsigned short>(number);
  std::error_code error;
  asio::ip::make_address(listen.Address, error);
  if (error) throw Error{"--listen " + text + ": \"" + listen.Address + "\" is not an IP address"};
  return listen;
}

int Serve(const Listen& listen, Board& board, std::FILE* log) {
  asio::io_context io;
  const tcp::endpoint endpoint(asio::ip::make_address(listen.Address), listen.Port);
  std::unique_ptr<Server> server;
  try {
    server = std::make_unique<Server>(io, endpoint, board, log);
  } catch (const std::system_error& error) {
    throw Error(fmt::format("cannot listen on {}:{}: {}", listen.Address, listen.Port,
                            error.code().message()));
  }
  const tcp::endpoint bound = server->Endpoint();
  const std::string where = bound.address().is_v6()
                                ? fmt::format("[{}]:{}", bound.address().to_string(), bound.port())
                                : fmt::format("{}:{}", bound.address().to_string(), bound.port());
  fmt::print(log, "ktdac: serving SCPI on {}\n", where);
  if (!bound.address().is_loopback())
    fmt::print(log, "ktdac: {} is open to other hosts: anyone who reaches it drives the board\n",
               where);
  std::fflush(log);
  std::unique_ptr<platform::Announcement> announcement;
  if (listen.Announce && !bound.address().is_loopback()) {
    announcement =
        platform::Announce(ServiceOf(board.Identity(), bound.address().to_string(), bound.port()),
                           [log](const std::string& line) {
                             fmt::print(log, "ktdac: {}\n", line);
                             std::fflush(log);
                           });
  }

  asio::signal_set signals(io, SIGINT, SIGTERM);
#ifdef SIGHUP
  signals.add(SIGHUP);
#endif
  int stoppedBy = 0;
  signals.async_wait([&](std::error_code error, int signal) {
    if (!error) stoppedBy = signal;
    io.stop();
  });
  server->Accept();
  io.run();
  fmt::print(log, "ktdac: stopped serving (signal {})\n", stoppedBy);
  return 0;
}

}  // namespace kt::remote
