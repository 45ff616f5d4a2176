// SPDX-License-Identifier: MIT
#pragma once

#include <asio.hpp>
#include <cstdio>
#include <memory>

#include "scpi/session.h"
#include "serve/listener.h"

namespace kt::remote {

/// @brief SCPI over a raw socket: each client its own session over the shared board, a line
/// at a time, run to completion before the next. Takes clients up to kMaxClients (raw and
/// VXI-11 together) and tells the one past it. Raises std::system_error when it cannot
/// listen.
class ScpiSocket {
 public:
  ScpiSocket(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, Board& board,
             std::shared_ptr<Shared> shared, std::FILE* log);
  [[nodiscard]] asio::ip::tcp::endpoint Endpoint() const { return listener_.Endpoint(); }
  void Accept();

 private:
  Listener listener_;
  Board& board_;
  std::FILE* log_;
  bool toldOfAcks_ = false;
  std::shared_ptr<Shared> shared_;  // the clients, raw and VXI-11 together; the power on; the lock
};

}  // namespace kt::remote
