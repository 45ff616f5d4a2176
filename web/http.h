// SPDX-License-Identifier: MIT
#pragma once

#include <asio.hpp>
#include <memory>
#include <vector>

#include "web/web.h"

// The web page's HTTP server: requests read by Beast's parser, bounded in size and time,
// answered by the page; event streams told of each change of the board.
namespace kt::remote {

/// The longest request head (request line and headers) and body taken.
inline constexpr std::size_t kMaxHttpHead = 8192, kMaxHttpBody = 4096;
/// HTTP connections served at once, event streams included; one more is closed at once.
inline constexpr std::size_t kMaxHttpConnections = 32;

/// @brief The page's connections, each a client its listener took.
class HttpServer {
 public:
  HttpServer(asio::io_context& io, web::Page& page);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  /// Serves a client, or closes it at once when kMaxHttpConnections are served.
  void Take(asio::ip::tcp::socket socket);
  /// The board changed: once the running handler is done, each event stream is sent the
  /// new state (changes in one handler make one event).
  void Changed();

  class Connection;

 private:
  asio::io_context& io_;
  web::Page& page_;
  std::shared_ptr<std::size_t> connections_;
  std::vector<std::weak_ptr<Connection>> streams_;
  bool told_ = false;  // an event is already on its way
  friend class Connection;
};

}  // namespace kt::remote
