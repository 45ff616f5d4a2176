// SPDX-License-Identifier: MIT
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

// The listening sockets of serve's protocols, which stay listening whatever a busy system
// does to an accept.
namespace kt::remote {

/// A socket listening on the endpoint, which a restarted server can have again at once.
inline asio::ip::tcp::acceptor Listening(asio::io_context& io,
                                         const asio::ip::tcp::endpoint& endpoint) {
  asio::ip::tcp::acceptor acceptor(io);
  acceptor.open(endpoint.protocol());
  acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen();
  return acceptor;
}

/// Whether a failed accept is the system's want of descriptors or memory, which ends when
/// connections close: tried again after a pause, not given up.
bool OutOfResources(const std::error_code& error);

/// @brief A listening socket that hands each client to `take` until the context stops: an
/// accept that fails for want of descriptors or memory is tried again after a pause (said
/// once, naming what listens), one that fails for a client of its own (gone before it was
/// taken) is passed over. Raises std::system_error when it cannot listen.
class Listener {
 public:
  using Take = std::function<void(asio::ip::tcp::socket)>;
  Listener(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, std::string what,
           std::FILE* log);
  [[nodiscard]] asio::ip::tcp::endpoint Endpoint() const { return acceptor_.local_endpoint(); }
  void Accept(Take take);

  /// The pause before an accept is tried again.
  static constexpr std::chrono::milliseconds kPause{100};

 private:
  void Next();

  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer pause_;
  std::string what_;
  std::FILE* log_;
  Take take_;
  bool told_ = false;  // the want of resources was said
};

}  // namespace kt::remote
