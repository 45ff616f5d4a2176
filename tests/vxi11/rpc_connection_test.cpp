// SPDX-License-Identifier: MIT
// The RPC connection's one writer, over a real loopback TCP connection whose buffers are made
// small: a held call released while an earlier reply is still being written goes out behind
// it, each reply whole.
#include "vxi11/rpc_connection.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace kt {
namespace {

using asio::ip::tcp;
using remote::RpcConnection;
using remote::rpc::Bytes;

TEST(RpcConnection, AHeldCallReleasedWhileAReplyIsBeingWrittenIsAnsweredBehindIt) {
  asio::io_context io;
  tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  tcp::socket client(io, tcp::v4());
  client.set_option(asio::socket_base::receive_buffer_size(4096));
  client.connect(acceptor.local_endpoint());
  tcp::socket served = acceptor.accept();
  served.set_option(asio::socket_base::send_buffer_size(4096));

  // Each call is one byte, its number; its reply is that byte 32 KiB times. Call 2 waits for
  // the lock until the test lets it go.
  constexpr std::size_t kReply = 32 * 1024;
  bool locked = true;
  std::weak_ptr<RpcConnection> held;
  auto connection = std::make_shared<RpcConnection>(
      std::move(served),
      RpcConnection::Handlers{
          [](const Bytes& call) { return Bytes(kReply, call.at(0)); },
          [&](const Bytes& call) -> std::optional<std::uint32_t> {
            if (locked && call.at(0) == 2) return 60000;
            return std::nullopt;
          },
          [&](std::weak_ptr<RpcConnection> waiting) { held = std::move(waiting); },
          {},
          {}},
      std::make_shared<std::size_t>(0));
  connection->Start();
  Bytes calls;
  for (const std::uint8_t call : {1, 2, 3}) {
    const Bytes record = remote::rpc::MarkRecord({call});
    calls.insert(calls.end(), record.begin(), record.end());
  }
  asio::write(client, asio::buffer(calls));
  // The first reply fills both buffers and waits for the client; then the lock is let go.
  io.run_for(std::chrono::milliseconds(200));
  ASSERT_FALSE(held.expired()) << "call 2 waits for the lock";
  locked = false;
  held.lock()->Retry();
  connection.reset();

  std::vector<Bytes> replies;
  std::thread reader([&] {
    for (int n = 0; n < 3; ++n) {
      std::array<std::uint8_t, 4> mark{};
      asio::read(client, asio::buffer(mark));
      Bytes reply(kReply);
      asio::read(client, asio::buffer(reply));
      replies.push_back(reply);
      EXPECT_EQ(mark, (std::array<std::uint8_t, 4>{0x80, 0x00, 0x80, 0x00})) << n;
    }
    client.close();
  });
  io.run();
  reader.join();
  ASSERT_EQ(replies.size(), 3u);
  for (std::uint8_t n = 1; n <= 3; ++n)
    EXPECT_EQ(replies[n - 1], Bytes(kReply, n)) << "reply " << int{n} << " whole, in turn";
}

}  // namespace
}  // namespace kt
