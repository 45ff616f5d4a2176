// SPDX-License-Identifier: MIT
// ktdac serve over loopback against the simulated board: the latency of one command with
// its answer (median and 99th percentile), and commands a second when a client sends many
// before it waits for an answer.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using asio::ip::tcp;
constexpr const char* kPort = "5199";

// @brief The server, started once for all the benchmarks, and a client connected to it.
struct Fixture {
  pid_t server = 0;
  asio::io_context io;
  tcp::socket socket{io};
  asio::streambuf input;

  Fixture() {
    std::string program = KT_KTDAC;
    std::string serve = "serve", listen = "--listen", where = std::string("127.0.0.1:") + kPort;
    char* argv[] = {program.data(), serve.data(), listen.data(), where.data(), nullptr};
    posix_spawn(&server, program.c_str(), nullptr, nullptr, argv, environ);
    for (int i = 0; i < 200; ++i) {
      std::error_code error;
      asio::connect(socket, tcp::resolver(io).resolve("127.0.0.1", kPort), error);
      if (!error) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    socket.set_option(tcp::no_delay(true));
  }
  ~Fixture() {
    socket.close();
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  }

  std::string Line() {
    asio::read_until(socket, input, '\n');
    std::string line;
    std::istream(&input) >> line;
    input.consume(1);  // the \n
    return line;
  }
};

Fixture& Server() {
  static Fixture fixture;
  return fixture;
}

void BM_CommandWithAnswer(benchmark::State& state) {
  Fixture& server = Server();
  std::vector<double> micros;
  micros.reserve(1 << 20);
  std::int32_t code = 0;
  for (auto _ : state) {
    const std::string command = "DAC:CODE " + std::to_string(code++ & 0xFFFF) + ";STAT?\n";
    const auto start = std::chrono::steady_clock::now();
    asio::write(server.socket, asio::buffer(command));
    if (server.Line() != "0") state.SkipWithError("the board refused a frame");
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommandWithAnswer)->UseRealTime()->MinTime(2.0);

void BM_CommandsInARow(benchmark::State& state) {
  Fixture& server = Server();
  std::string batch;
  for (int i = 0; i < 1000; ++i) batch += "DAC:CODE " + std::to_string(i) + "\n";
  batch += "*OPC?\n";
  for (auto _ : state) {
    asio::write(server.socket, asio::buffer(batch));
    if (server.Line() != "1") state.SkipWithError("no answer");
  }
  state.SetItemsProcessed(state.iterations() * 1001);
}
BENCHMARK(BM_CommandsInARow)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
