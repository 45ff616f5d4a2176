// SPDX-License-Identifier: MIT
#include "serve/vxi11_channel.h"

#include <fmt/format.h>

#include "core/error.h"
#include "platform/tcp.h"
#include "serve/server.h"
#include "vxi11/onc_rpc.h"

namespace kt::remote {

using asio::ip::tcp;
using asio::ip::udp;

RpcServer::RpcServer(asio::io_context& io, const tcp::endpoint& endpoint, std::size_t max,
                     std::string what, std::FILE* log, Connect connect)
    : listener_(io, endpoint, std::move(what), log), max_(max), connect_(std::move(connect)) {}

void RpcServer::Accept() {
  listener_.Accept([this](tcp::socket socket) {
    if (*open_ >= max_) return;  // closed at once: the client is told by the reset
    std::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    platform::AcknowledgeAtOnce(socket.native_handle(), true);
    connect_(std::move(socket), open_)->Start();
  });
}

PortmapperDatagrams::PortmapperDatagrams(asio::io_context& io, const udp::endpoint& endpoint,
                                         std::uint16_t corePort, udp::socket* answerFrom)
    : socket_(io), corePort_(corePort), answerFrom_(answerFrom ? *answerFrom : socket_) {
  socket_.open(endpoint.protocol());
  socket_.set_option(udp::socket::reuse_address(true));
  socket_.bind(endpoint);
}

void PortmapperDatagrams::Receive() {
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

void Vxi11Channel::Accept() {
  if (Core) Core->Accept();
  if (Portmapper) Portmapper->Accept();
  for (const auto& listener : Datagrams) listener->Receive();
}

void ServeVxi11(asio::io_context& io, const asio::ip::address& address,
                const std::shared_ptr<vxi11::Instrument>& instrument,
                const std::shared_ptr<Shared>& shared, Vxi11Channel& channel, std::FILE* log) {
  auto& core = channel.Core;
  auto& portmapper = channel.Portmapper;
  auto& datagrams = channel.Datagrams;
  auto& registration = channel.Registration;
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
    channel.Wake = [held] {
      for (const auto& connection : std::exchange(*held, {}))
        if (const auto alive = connection.lock()) alive->Retry();
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
  const std::string host =
      address.is_v6() ? fmt::format("[{}]", address.to_string()) : address.to_string();
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

}  // namespace kt::remote
