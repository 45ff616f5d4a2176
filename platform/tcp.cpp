// SPDX-License-Identifier: MIT
#include "platform/tcp.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
// These need winsock2.h first.
#include <iphlpapi.h>
#include <mstcpip.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace kt::platform {

namespace {

// An address of either family as its bytes, to compare with what the system lists.
struct Address {
  int Family = 0;
  std::array<unsigned char, 16> Bytes{};
  std::size_t Size = 0;
};

std::optional<Address> ReadAddress(std::string text) {
  text = text.substr(0, text.find('%'));  // an IPv6 address's zone is the interface's own
  Address address;
  if (inet_pton(AF_INET, text.c_str(), address.Bytes.data()) == 1) {
    address.Family = AF_INET;
    address.Size = 4;
  } else if (inet_pton(AF_INET6, text.c_str(), address.Bytes.data()) == 1) {
    address.Family = AF_INET6;
    address.Size = 16;
  } else {
    return std::nullopt;
  }
  return address;
}

// The address a socket address holds, when it is of either family.
std::optional<Address> AddressOf(const sockaddr* socket) {
  if (socket == nullptr) return std::nullopt;
  Address address;
  address.Family = socket->sa_family;
  if (socket->sa_family == AF_INET) {
    sockaddr_in v4{};
    std::memcpy(&v4, socket, sizeof v4);
    std::memcpy(address.Bytes.data(), &v4.sin_addr, address.Size = 4);
  } else if (socket->sa_family == AF_INET6) {
    sockaddr_in6 v6{};
    std::memcpy(&v6, socket, sizeof v6);
    std::memcpy(address.Bytes.data(), &v6.sin6_addr, address.Size = 16);
  } else {
    return std::nullopt;
  }
  return address;
}

bool operator==(const Address& a, const Address& b) {
  return a.Family == b.Family && std::memcmp(a.Bytes.data(), b.Bytes.data(), a.Size) == 0;
}

std::string Text(const Address& address) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  return inet_ntop(address.Family, address.Bytes.data(), text.data(), text.size()) ? text.data()
                                                                                   : "";
}

std::string MacText(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  bool any = false;
  for (std::size_t i = 0; i < size; ++i) {
    if (i) text += ':';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
    any = any || bytes[i] != 0;
  }
  return any ? text : std::string{};
}

}  // namespace

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

std::optional<NetworkInterface> InterfaceHolding(const std::string& text) {
  const std::optional<Address> wanted = ReadAddress(text);
  if (!wanted) return std::nullopt;
  constexpr ULONG flags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST |
                          GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<unsigned char> buffer;
  ULONG size = 16 * 1024;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 3 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return std::nullopt;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      if (AddressOf(unicast->Address.lpSockaddr) != wanted) continue;
      NetworkInterface found;
      Address mask{wanted->Family, {}, wanted->Size};
      for (std::size_t bit = 0; bit < unicast->OnLinkPrefixLength && bit < 8 * mask.Size; ++bit)
        mask.Bytes[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
      found.Mask = Text(mask);
      found.Mac = MacText(adapter->PhysicalAddress, adapter->PhysicalAddressLength);
      for (auto* gateway = adapter->FirstGatewayAddress; gateway != nullptr;
           gateway = gateway->Next) {
        const std::optional<Address> at = AddressOf(gateway->Address.lpSockaddr);
        if (at && at->Family == wanted->Family) {
          found.Gateway = Text(*at);
          break;
        }
      }
      found.Dhcp = (adapter->Flags & IP_ADAPTER_DHCP_ENABLED) != 0;
      return found;
    }
  }
  return std::nullopt;
}

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

namespace {

// The gateway of the IPv4 default route through the interface, from the kernel's table; the
// kernel keeps IPv6's routes elsewhere, and they are not read.
std::string DefaultGateway(const std::string& name) {
  std::ifstream routes("/proc/net/route");
  std::string line;
  std::getline(routes, line);  // the heading
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway;
    if (!(fields >> iface >> destination >> gateway) || iface != name || destination != "00000000")
      continue;
    // The kernel writes the address as the 32-bit word that holds it in memory.
    std::uint32_t word = 0;
    if (std::from_chars(gateway.data(), gateway.data() + gateway.size(), word, 16).ec !=
        std::errc{})
      continue;
    Address address{AF_INET, {}, 4};
    std::memcpy(address.Bytes.data(), &word, 4);
    return Text(address);
  }
  return {};
}

}  // namespace

std::optional<NetworkInterface> InterfaceHolding(const std::string& text) {
  const std::optional<Address> wanted = ReadAddress(text);
  if (!wanted) return std::nullopt;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return std::nullopt;
  std::optional<NetworkInterface> found;
  std::string name;
  for (const ifaddrs* at = interfaces; at != nullptr && !found; at = at->ifa_next) {
    if (AddressOf(at->ifa_addr) != wanted) continue;
    found.emplace();
    if (const std::optional<Address> mask = AddressOf(at->ifa_netmask)) found->Mask = Text(*mask);
    name = at->ifa_name;
  }
  // The hardware address is the same interface's entry of the packet family.
  for (const ifaddrs* at = interfaces; found && at != nullptr; at = at->ifa_next) {
    if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != AF_PACKET || at->ifa_name != name)
      continue;
    sockaddr_ll link{};
    std::memcpy(&link, at->ifa_addr, sizeof link);
    found->Mac =
        MacText(link.sll_addr, std::min<std::size_t>(link.sll_halen, sizeof link.sll_addr));
  }
  freeifaddrs(interfaces);
  if (found && wanted->Family == AF_INET) found->Gateway = DefaultGateway(name);
  return found;
}

#endif

}  // namespace kt::platform
