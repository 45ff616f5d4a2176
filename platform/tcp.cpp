// SPDX-License-Identifier: MIT
#include "platform/tcp.h"

#include <array>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
// These need winsock2.h first.
#include <mstcpip.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace kt::platform {

#ifdef _WIN32

#ifndef SIO_TCP_SET_ACK_FREQUENCY
#define SIO_TCP_SET_ACK_FREQUENCY _WSAIOW(IOC_VENDOR, 23)
#endif

bool AcknowledgeAtOnce(std::uintptr_t socket, bool first) {
  if (!first) return true;
  DWORD frequency = 1;
  DWORD returned = 0;
  return WSAIoctl(static_cast<SOCKET>(socket), SIO_TCP_SET_ACK_FREQUENCY, &frequency,
                  sizeof frequency, nullptr, 0, &returned, nullptr, nullptr) == 0;
}

std::optional<std::string> BroadcastAddressOf(const std::string&) { return std::nullopt; }

#else

bool AcknowledgeAtOnce(std::uintptr_t socket, bool) {
  const int on = 1;
  return setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on) == 0;
}

std::optional<std::string> BroadcastAddressOf(const std::string& address) {
  in_addr wanted{};
  if (inet_pton(AF_INET, address.c_str(), &wanted) != 1) return std::nullopt;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return std::nullopt;
  std::optional<std::string> found;
  for (const ifaddrs* at = interfaces; at != nullptr && !found; at = at->ifa_next) {
    if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != AF_INET ||
        (at->ifa_flags & IFF_BROADCAST) == 0 || at->ifa_broadaddr == nullptr)
      continue;
    sockaddr_in own{}, broadcast{};
    std::memcpy(&own, at->ifa_addr, sizeof own);
    if (own.sin_addr.s_addr != wanted.s_addr) continue;
    std::memcpy(&broadcast, at->ifa_broadaddr, sizeof broadcast);
    if (broadcast.sin_addr.s_addr == htonl(INADDR_ANY)) continue;  // none was given
    std::array<char, INET_ADDRSTRLEN> text{};
    if (inet_ntop(AF_INET, &broadcast.sin_addr, text.data(), text.size())) found = text.data();
  }
  freeifaddrs(interfaces);
  return found;
}

#endif

}  // namespace kt::platform
