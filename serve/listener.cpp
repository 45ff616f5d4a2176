// SPDX-License-Identifier: MIT
#include "serve/listener.h"

#include <fmt/format.h>

#include <cerrno>

namespace kt::remote {

bool OutOfResources(const std::error_code& error) {
  // Asio's system category maps no codes to std::errc: its own names, and ENFILE, which it
  // does not name.
  return error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
         error == asio::error::no_memory ||
         error == std::error_code(ENFILE, asio::error::get_system_category());
}

Listener::Listener(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, std::string what,
                   std::FILE* log)
    : acceptor_(Listening(io, endpoint)), pause_(io), what_(std::move(what)), log_(log) {}

void Listener::Accept(Take take) {
  take_ = std::move(take);
  Next();
}

void Listener::Next() {
  acceptor_.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
    if (error == asio::error::operation_aborted || !acceptor_.is_open()) return;  // stopped
    if (!error) {
      take_(std::move(socket));
      Next();
      return;
    }
    if (!OutOfResources(error)) {
      Next();  // that client's own failure: the next is taken as ever
      return;
    }
    if (!told_ && log_) {
      fmt::print(log_,
                 "ktdac: {}: cannot take a client ({}): trying again every {} ms until "
                 "connections close\n",
                 what_, error.message(), kPause.count());
      std::fflush(log_);
      told_ = true;
    }
    pause_.expires_after(kPause);
    pause_.async_wait([this](std::error_code waited) {
      if (!waited) Next();
    });
  });
}

}  // namespace kt::remote
