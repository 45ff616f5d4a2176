// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <asio.hpp>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/portmap.h"
#include "serve/listener.h"
#include "vxi11/rpc_connection.h"
#include "vxi11/vxi11.h"

// VXI-11's core channel as served: its listening socket, and the way VISA finds it (the
// system's portmapper, or the portmapper's answer given by serve itself).
namespace kt::remote {

/// @brief A listening socket for RPC over TCP, each client answered by the connection
/// `connect` makes; at most `max` at once, one more closed at once. Raises std::system_error
/// when it cannot listen.
class RpcServer {
 public:
  using Connect = std::function<std::shared_ptr<RpcConnection>(asio::ip::tcp::socket,
                                                               std::shared_ptr<std::size_t>)>;
  RpcServer(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, std::size_t max,
            std::string what, std::FILE* log, Connect connect);
  [[nodiscard]] asio::ip::tcp::endpoint Endpoint() const { return listener_.Endpoint(); }
  void Accept();

 private:
  Listener listener_;
  std::size_t max_;
  std::shared_ptr<std::size_t> open_ = std::make_shared<std::size_t>(0);
  Connect connect_;
};

/// @brief The portmapper's datagrams: a VISA library's GETPORT, sent to this host or to the
/// broadcast address to find instruments, answered where no system portmapper runs.
class PortmapperDatagrams {
 public:
  /// Listens on `endpoint`; answers through `answerFrom` when given (the socket on the
  /// host's own address, when this one is on the network's broadcast address), else itself.
  PortmapperDatagrams(asio::io_context& io, const asio::ip::udp::endpoint& endpoint,
                      std::uint16_t corePort, asio::ip::udp::socket* answerFrom = nullptr);
  asio::ip::udp::socket& Socket() { return socket_; }
  void Receive();

 private:
  asio::ip::udp::socket socket_;
  std::array<std::uint8_t, 1024> input_{};
  asio::ip::udp::endpoint from_;
  std::uint16_t corePort_;
  asio::ip::udp::socket& answerFrom_;
};

/// @brief What serves the core channel; each part empty when not had. The registration is
/// let go first, the core channel's socket last.
struct Vxi11Channel {
  std::unique_ptr<RpcServer> Core, Portmapper;
  std::vector<std::unique_ptr<PortmapperDatagrams>> Datagrams;
  std::unique_ptr<platform::RpcRegistration> Registration;
  /// Asks the calls held again (a waveform ended), on the serving thread.
  std::function<void()> Wake;
  /// Starts taking clients and datagrams.
  void Accept();
};

/// Serves the core channel on a port of its own at `address`, found through the system's
/// portmapper, or through serve's own answer on port 111 where none runs and the port can be
/// had. Says on `log` what it serves and, when it cannot listen, that there is no VXI-11
/// (`channel.Core` left empty).
void ServeVxi11(asio::io_context& io, const asio::ip::address& address,
                const std::shared_ptr<vxi11::Instrument>& instrument,
                const std::shared_ptr<Shared>& shared, Vxi11Channel& channel, std::FILE* log);

}  // namespace kt::remote
