// SPDX-License-Identifier: MIT
#include "serve/server.h"

#include <fmt/format.h>

#include <asio.hpp>
#include <csignal>
#include <functional>
#include <memory>

#include "core/error.h"
#include "platform/announce.h"
#include "serve/listener.h"
#include "serve/scpi_socket.h"
#include "serve/vxi11_channel.h"
#include "serve/wave_player.h"
#include "vxi11/vxi11.h"
#include "web/http.h"

namespace kt::remote {

namespace {

using asio::ip::tcp;

// @brief The board as every client drives it, telling of each frame or model change, so
// that the page's event streams follow whoever made it.
class WatchedBoard : public Board {
 public:
  WatchedBoard(Board& board, std::function<void()> changed, Generator& generator)
      : board_(board), changed_(std::move(changed)), generator_(generator) {}
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
  Generator* Waveform() override { return &generator_; }

 private:
  Board& board_;
  std::function<void()> changed_;
  Generator& generator_;
};

// ADDRESS:PORT, the address in brackets when it is IPv6.
std::string Where(const tcp::endpoint& endpoint) {
  return endpoint.address().is_v6()
             ? fmt::format("[{}]:{}", endpoint.address().to_string(), endpoint.port())
             : fmt::format("{}:{}", endpoint.address().to_string(), endpoint.port());
}

}  // namespace

int Serve(const Listen& listen, Board& driven, std::FILE* log) {
  asio::io_context io;
  std::unique_ptr<HttpServer> http;
  const auto changed = [&http] {
    if (http) http->Changed();
  };
  // Waveforms play on a thread of their own: the board is reached under one lock, and the
  // page is told when a play ends, on the serving thread.
  LockedBoard locked(driven);
  Vxi11Channel channel;
  std::optional<WavePlayer> player;
  player.emplace(
      locked,
      [&] {
        asio::post(io, [&] {
          if (const std::optional<std::string> why = player->Ended()) {
            fmt::print(log, "ktdac: the waveform stopped: {}\n", *why);
            std::fflush(log);
          }
          if (channel.Wake) channel.Wake();
          changed();
        });
      },
      changed,
      [log](const std::string& line) {
        fmt::print(log, "ktdac: {}\n", line);
        std::fflush(log);
      });
  WatchedBoard board(locked, changed, *player);
  // Shared by every connection, which may end after this function, when the context lets go
  // of their handlers.
  const auto shared = std::make_shared<remote::Shared>();
  const auto instrument = std::make_shared<vxi11::Instrument>(board, *shared, kMaxClients);
  const tcp::endpoint endpoint(asio::ip::make_address(listen.Address), listen.Port);
  std::unique_ptr<ScpiSocket> server;
  try {
    server = std::make_unique<ScpiSocket>(io, endpoint, board, shared, log);
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
  if (listen.Vxi11) ServeVxi11(io, endpoint.address(), instrument, shared, channel, log);
  const auto& core = channel.Core;
  std::vector<web::Interface> interfaces{{fmt::format("TCPIP::HOST::{}::SOCKET", bound.port())}};
  if (core) interfaces.insert(interfaces.begin(), {"TCPIP::HOST::inst0::INSTR"});
  const std::string host = platform::HostName();
  web::Page page(board, *shared, {host, host + ".local"}, interfaces);
  std::unique_ptr<Listener> pageListener;  // let go before the server it hands clients to
  if (listen.HttpPort) {
    const tcp::endpoint at(asio::ip::make_address(listen.HttpAddress), *listen.HttpPort);
    try {
      pageListener = std::make_unique<Listener>(io, at, "the web page", log);
    } catch (const std::system_error& error) {
      throw Error(
          fmt::format("cannot serve the web page on {}: {}", Where(at), error.code().message()));
    }
    http = std::make_unique<HttpServer>(io, page);
    fmt::print(log, "ktdac: serving the web page on http://{}/\n", Where(pageListener->Endpoint()));
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
                    core ? core->Endpoint().port() : 0,
                    pageListener ? pageListener->Endpoint().port() : 0)) {
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
  channel.Accept();
  if (pageListener)
    pageListener->Accept(
        [pages = http.get()](tcp::socket socket) { pages->Take(std::move(socket)); });
  io.run();
  fmt::print(log, "ktdac: stopped serving (signal {})\n", stoppedBy);
  return 0;
}

}  // namespace kt::remote
