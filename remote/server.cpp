// SPDX-License-Identifier: MIT
#include "remote/server.h"

#include <fmt/format.h>

#include <array>
#include <asio.hpp>
#include <csignal>
#include <functional>
#include <memory>

#include "core/error.h"
#include "platform/announce.h"
#include "platform/portmap.h"
#include "platform/tcp.h"
#include "remote/http.h"
#include "remote/listener.h"
#include "remote/onc_rpc.h"
#include "remote/rpc_connection.h"
#include "remote/vxi11.h"

namespace kt::remote {

namespace {

using asio::ip::tcp;
using asio::ip::udp;
using Shared = std::shared_ptr<vxi11::Shared>;

// @brief The board as every client drives it, telling of each frame or model change, so
// that the page's event streams follow whoever made it.
class WatchedBoard : public Board {
 public:
  WatchedBoard(Board& board, std::function<void()> changed)
      : board_(board), changed_(std::move(changed)) {}
  std::string Device() const override { return board_.Device(); }
  void SelectDevice(const std::string& label) override {
    board_.SelectDevice(label);
    changed_();
  }
  int DataBits() const override { return board_.DataBits(); }
  std::int32_t Code() const override { return board_.Code(); }
  std::int32_t PowerDown() const override { return board_.PowerDown(); }
  std::int16_t Send(std::int32_t code, std::int32_t powerDown) override {
    const std::int16_t status = board_.Send(code, powerDown);
    changed_();
    return status;
  }
  std::int16_t SendRaw(std::int16_t bits, std::int32_t word) override {
    const std::int16_t status = board_.SendRaw(bits, word);
    changed_();
    return status;
  }
  std::string RawRefusal(std::int16_t bits) const override { return board_.RawRefusal(bits); }
  std::optional<double> Reference() const override { return board_.Reference(); }
  std::int16_t Status() const override { return board_.Status(); }
  std::string Failure() const override { return board_.Failure(); }
  std::string Identity() const override { return board_.Identity(); }
  Check SelfTest() override { return board_.SelfTest(); }

 private:
  Board& board_;
  std::function<void()> changed_;
};

// @brief One client: its own SCPI session over the shared board, reading a line at a time.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // The count outlives the server: a connection may end after it, when the stopped
  // context lets go of its handlers.
  Connection(tcp::socket socket, Board& board, Shared shared)
      : socket_(std::move(socket)),
        buffer_(kMaxLine + 2),  // the longest message and a CR LF
        session_(board, !shared->PoweredOn),
        shared_(std::move(shared)) {
    shared_->PoweredOn = true;
    ++shared_->Clients;
  }
  ~Connection() { --shared_->Clients; }
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
    if (shared_->LockedBy) {
      // A VXI-11 link holds the instrument: nothing is run, and the queue says why.
      session_.Queue(-300, "a VXI-11 link holds the lock; nothing was done");
      Read();
      return;
    }
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
  Shared shared_;
};

// @brief The portmapper's datagrams: a VISA library's GETPORT, sent to this host or to the
// broadcast address to find instruments, answered where no system portmapper runs.
class PortmapperDatagrams {
 public:
  // Listens on `endpoint`; answers through `answerFrom` when given (the socket on the
  // host's own address, when this one is on the network's broadcast address), else itself.
  PortmapperDatagrams(asio::io_context& io, const udp::endpoint& endpoint, std::uint16_t corePort,
                      udp::socket* answerFrom = nullptr)
      : socket_(io), corePort_(corePort), answerFrom_(answerFrom ? *answerFrom : socket_) {
    socket_.open(endpoint.protocol());
    socket_.set_option(udp::socket::reuse_address(true));
    socket_.bind(endpoint);
  }
  udp::socket& Socket() { return socket_; }
  void Receive() {
    socket_.async_receive_from(
        asio::buffer(input_), from_, [this](std::error_code error, std::size_t size) {
          if (error == asio::error::operation_aborted) return;
          if (!error) {
            try {
              const rpc::Bytes reply = rpc::AnswerPortmapper(
                  {input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(size)}, corePort_);
              std::error_code ignored;
              answerFrom_.send_to(asio::buffer(reply), from_, 0, ignored);
            } catch (const Error&) {
              // Not a call: nothing to answer.
            }
          }
          Receive();
        });
  }

 private:
  udp::socket socket_;
  std::array<std::uint8_t, 1024> input_{};
  udp::endpoint from_;
  std::uint16_t corePort_;
  udp::socket& answerFrom_;
};

// @brief The listening socket: takes clients up to the bound, tells the one past it.
class Server {
 public:
  Server(asio::io_context& io, const tcp::endpoint& endpoint, Board& board, Shared shared,
         std::FILE* log)
      : listener_(io, endpoint, "SCPI", log),
        board_(board),
        log_(log),
        shared_(std::move(shared)) {}

  tcp::endpoint Endpoint() const { return listener_.Endpoint(); }

  void Accept() {
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

 private:
  Listener listener_;
  Board& board_;
  std::FILE* log_;
  bool toldOfAcks_ = false;
  Shared shared_;  // the clients, raw and VXI-11 together; the power on told once; the lock
};

// The VXI-11 core channel on a port of its own, found through the system's portmapper, or
// through our own answer on port 111 where none runs and the port can be had.
void ServeVxi11(asio::io_context& io, const asio::ip::address& address,
                const std::shared_ptr<vxi11::Instrument>& instrument, const Shared& shared,
                std::unique_ptr<RpcServer>& core,
                std::unique_ptr<platform::RpcRegistration>& registration,
                std::unique_ptr<RpcServer>& portmapper,
                std::vector<std::unique_ptr<PortmapperDatagrams>>& datagrams, std::FILE* log) {
  auto channels = std::make_shared<int>(0);
  try {
    // Connections holding a call until the lock is let go; woken after every call answered
    // and every connection ended, once the handler is done.
    auto held = std::make_shared<std::vector<std::weak_ptr<RpcConnection>>>();
    auto wake = [&io, held, shared] {
      // Nothing held, nothing to wake; once stopped, the connections go with the context.
      if (io.stopped() || held->empty()) return;
      asio::post(io, [held, shared] {
        if (shared->LockedBy || held->empty()) return;
        const auto waiting = std::exchange(*held, {});
        for (const auto& connection : waiting)
          if (const auto alive = connection.lock()) alive->Retry();
      });
    };
    core = std::make_unique<RpcServer>(
        io, tcp::endpoint(address, 0), kMaxRpcConnections, "VXI-11", log,
        [instrument, channels, held, wake](tcp::socket socket, std::shared_ptr<std::size_t> open) {
          const int channel = ++*channels;
          return std::make_shared<RpcConnection>(
              std::move(socket),
              RpcConnection::Handlers{[instrument, channel](const rpc::Bytes& call) {
                                        return instrument->Answer(call, channel);
                                      },
                                      [instrument, channel](const rpc::Bytes& call) {
                                        return instrument->LockWait(call, channel);
                                      },
                                      [held](std::weak_ptr<RpcConnection> connection) {
                                        held->push_back(std::move(connection));
                                      },
                                      wake,
                                      [instrument, channel, wake] {
                                        instrument->Close(channel);
                                        wake();
                                      }},
              std::move(open));
        });
  } catch (const std::system_error& error) {
    fmt::print(log, "ktdac: no VXI-11: cannot listen on {}: {}\n", address.to_string(),
               error.code().message());
    return;
  }
  const std::uint16_t port = core->Endpoint().port();
  const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
  fmt::print(log, "ktdac: serving VXI-11 (TCPIP::{}::inst0::INSTR) on {}:{}\n", host, host, port);
  registration =
      std::make_unique<platform::RpcRegistration>(rpc::kVxi11Core, 1, port, address.to_string());
  if (registration->Registered()) {
    fmt::print(log, "ktdac: registered with this machine's portmapper\n");
  } else if (registration->HeldByAnother()) {
    fmt::print(log,
               "ktdac: {}: left to it, so VISA finds that program's channel through the "
               "portmapper, and this one's only when told its port\n",
               registration->Why());
  } else {
    try {
      portmapper = std::make_unique<RpcServer>(
          io, tcp::endpoint(address, 111), kMaxRpcConnections, "the portmapper", log,
          [port](tcp::socket socket, std::shared_ptr<std::size_t> open) {
            return std::make_shared<RpcConnection>(
                std::move(socket),
                RpcConnection::Handlers{
                    [port](const rpc::Bytes& call) { return rpc::AnswerPortmapper(call, port); },
                    {},
                    {},
                    {},
                    {}},
                std::move(open));
          });
      datagrams.push_back(
          std::make_unique<PortmapperDatagrams>(io, udp::endpoint(address, 111), port));
      // VISA's discovery broadcasts its GETPORT; the answer comes from the host's address.
      if (const auto broadcast = platform::BroadcastAddressOf(address.to_string())) {
        try {
          datagrams.push_back(std::make_unique<PortmapperDatagrams>(
              io, udp::endpoint(asio::ip::make_address(*broadcast), 111), port,
              &datagrams.front()->Socket()));
        } catch (const std::system_error& error) {
          fmt::print(log, "ktdac: broadcast discovery is not answered: cannot listen on {}: {}\n",
                     *broadcast, error.code().message());
        }
      }
      fmt::print(log, "ktdac: {}: answering the portmapper on port 111 itself\n",
                 registration->Why());
    } catch (const std::system_error& error) {
      portmapper.reset();
      datagrams.clear();
      fmt::print(log,
                 "ktdac: {}, and port 111 cannot be had ({}): VISA finds the VXI-11 channel only "
                 "once a portmapper runs\n",
                 registration->Why(), error.code().message());
    }
  }
  std::fflush(log);
}

// ADDRESS:PORT, the address in brackets when it is IPv6.
std::string Where(const tcp::endpoint& endpoint) {
  return endpoint.address().is_v6()
             ? fmt::format("[{}]:{}", endpoint.address().to_string(), endpoint.port())
             : fmt::format("{}:{}", endpoint.address().to_string(), endpoint.port());
}

}  // namespace

std::vector<std::string> IdentityFields(const std::string& identity) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t comma; (comma = identity.find(',', start)) != std::string::npos;
       start = comma + 1)
    fields.push_back(identity.substr(start, comma - start));
  fields.push_back(identity.substr(start));
  fields.resize(4);
  return fields;
}

platform::Service ServiceOf(const std::string& identity, const std::string& address,
                            unsigned short port) {
  const std::vector<std::string> fields = IdentityFields(identity);
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

namespace {

// "ADDRESS:PORT", "[IPv6]:PORT" or ":PORT" of an option; the address is empty when not given.
// A message names the option and what was `typed`.
std::pair<std::string, unsigned short> ReadEndpoint(const std::string& text, const char* option,
                                                    const std::string& typed) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos)
    throw Error{fmt::format("{} {} is not ADDRESS:PORT (say 127.0.0.1:5025)", option, typed)};
  std::string address = text.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  const std::string port = text.substr(colon + 1);
  unsigned long number = 0;
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
  if (digits) number = std::stoul(port);
  if (!digits || number > 65535)
    throw Error{fmt::format("{} {}: the port must be 0..65535", option, typed)};
  std::error_code error;
  if (!address.empty()) asio::ip::make_address(address, error);
  if (error) throw Error{fmt::format("{} {}: \"{}\" is not an IP address", option, typed, address)};
  return {address, static_cast<unsigned short>(number)};
}

}  // namespace

std::vector<platform::Service> ServicesOf(const std::string& identity, const std::string& address,
                                          unsigned short port, unsigned short vxi11,
                                          unsigned short http) {
  const platform::Service raw = ServiceOf(identity, address, port);
  std::vector<platform::Service> services{raw};
  const auto also = [&](const char* type, unsigned short at, auto... text) {
    platform::Service service = raw;
    service.Type = type;
    service.Port = at;
    (service.Text.emplace_back(text), ...);
    services.push_back(std::move(service));
  };
  // VISA reaches the core channel through the portmapper, so its record names port 111.
  if (vxi11) also(kVxi11ServiceType, 111);
  if (http) {
    also(kLxiServiceType, http, std::pair<std::string, std::string>{"path", "/lxi/identification"});
    also(kHttpServiceType, http, std::pair<std::string, std::string>{"path", "/"});
  }
  return services;
}

Listen ParseListen(const std::string& text) {
  Listen listen;
  const auto [address, port] = ReadEndpoint(text, "--listen", text);
  if (!address.empty()) listen.Address = address;
  listen.Port = port;
  return listen;
}

void ParseHttp(const std::string& text, Listen& listen) {
  const bool portOnly = text.find(':') == std::string::npos;
  const auto [address, port] = ReadEndpoint(portOnly ? ":" + text : text, "--http", text);
  listen.HttpAddress = address.empty() ? listen.Address : address;
  listen.HttpPort = port;
}

int Serve(const Listen& listen, Board& driven, std::FILE* log) {
  asio::io_context io;
  std::unique_ptr<HttpServer> http;
  WatchedBoard board(driven, [&http] {
    if (http) http->Changed();
  });
  // Shared by every connection, which may end after this function, when the context lets go
  // of their handlers.
  const auto shared = std::make_shared<vxi11::Shared>();
  const auto instrument = std::make_shared<vxi11::Instrument>(board, *shared, kMaxClients);
  const tcp::endpoint endpoint(asio::ip::make_address(listen.Address), listen.Port);
  std::unique_ptr<Server> server;
  try {
    server = std::make_unique<Server>(io, endpoint, board, shared, log);
  } catch (const std::system_error& error) {
    throw Error(fmt::format("cannot listen on {}:{}: {}", listen.Address, listen.Port,
                            error.code().message()));
  }
  const tcp::endpoint bound = server->Endpoint();
  const std::string where = Where(bound);
  fmt::print(log, "ktdac: serving SCPI on {}\n", where);
  if (!bound.address().is_loopback())
    fmt::print(log, "ktdac: {} is open to other hosts: anyone who reaches it drives the board\n",
               where);
  std::fflush(log);
  std::unique_ptr<RpcServer> core, portmapper;
  std::vector<std::unique_ptr<PortmapperDatagrams>> datagrams;
  std::unique_ptr<platform::RpcRegistration> registration;
  if (listen.Vxi11)
    ServeVxi11(io, endpoint.address(), instrument, shared, core, registration, portmapper,
               datagrams, log);
  std::vector<web::Interface> interfaces{{fmt::format("TCPIP::HOST::{}::SOCKET", bound.port())}};
  if (core) interfaces.insert(interfaces.begin(), {"TCPIP::HOST::inst0::INSTR"});
  const std::string host = platform::HostName();
  web::Page page(board, *shared, {host, host + ".local"}, interfaces);
  if (listen.HttpPort) {
    const tcp::endpoint at(asio::ip::make_address(listen.HttpAddress), *listen.HttpPort);
    try {
      http = std::make_unique<HttpServer>(io, at, page, log);
    } catch (const std::system_error& error) {
      throw Error(
          fmt::format("cannot serve the web page on {}: {}", Where(at), error.code().message()));
    }
    fmt::print(log, "ktdac: serving the web page on http://{}/\n", Where(http->Endpoint()));
    std::fflush(log);
  }
  std::vector<std::unique_ptr<platform::Announcement>> announcements;
  if (listen.Announce && !bound.address().is_loopback()) {
    const auto say = [log](const std::string& line) {
      fmt::print(log, "ktdac: {}\n", line);
      std::fflush(log);
    };
    for (const platform::Service& service :
         ServicesOf(board.Identity(), bound.address().to_string(), bound.port(),
                    core ? core->Endpoint().port() : 0, http ? http->Endpoint().port() : 0)) {
      // What stops one announcement stops them all: said once.
      auto announcement = platform::Announce(service, say);
      if (!announcement) break;
      announcements.push_back(std::move(announcement));
    }
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
  if (core) core->Accept();
  if (portmapper) portmapper->Accept();
  for (const auto& listener : datagrams) listener->Receive();
  if (http) http->Accept();
  io.run();
  fmt::print(log, "ktdac: stopped serving (signal {})\n", stoppedBy);
  return 0;
}

}  // namespace kt::remote
