// SPDX-License-Identifier: MIT
// The floor under any characterization program on this machine: what a loop that only
// sleeps the settle time and exchanges one line with the meter costs in processor time (the
// kernel's wake-ups and the loopback network stack), with nothing else.
//
// usage: kt_exchange_floor PORT SETTLE_MS ROUNDS; prints the processor time a round in µs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int port = std::atoi(argv[1]);
  const auto settle = std::chrono::milliseconds(std::atoi(argv[2]));
  const int rounds = std::atoi(argv[3]);
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  const int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char answer[256];
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  for (int i = 0; i < rounds; ++i) {
    std::this_thread::sleep_for(settle);
    if (send(s, "READ?\n", 6, 0) != 6 || recv(s, answer, sizeof answer, 0) <= 0) return 1;
  }
  getrusage(RUSAGE_SELF, &after);
  const auto us = [](const timeval& t) { return t.tv_sec * 1e6 + static_cast<double>(t.tv_usec); };
  std::printf("%.1f\n", (us(after.ru_utime) - us(before.ru_utime) + us(after.ru_stime) -
                         us(before.ru_stime)) /
                            rounds);
  close(s);
  return 0;
}
