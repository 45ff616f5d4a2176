// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kt::platform {

/// Asks the system to acknowledge what arrives on a connected TCP socket at once, rather
/// than after its delayed-acknowledgement timer (about 40 ms on Linux, up to 200 ms on
/// Windows). A client that leaves Nagle's algorithm on holds its next small write until the
/// last one is acknowledged, so a server that answers nothing to a command must not delay
/// that acknowledgement. Linux: TCP_QUICKACK, which the kernel turns off again by itself, so
/// this is asked after every read (it also sends an acknowledgement pending now). Windows:
/// the socket's acknowledgement frequency set to 1 (SIO_TCP_SET_ACK_FREQUENCY), which stays:
/// only the `first` call asks. Returns whether the system took it.
bool AcknowledgeAtOnce(std::uintptr_t socket, bool first);

/// The broadcast address of the network interface holding `address` (IPv4), for a datagram
/// socket of its own: on Linux a socket bound to an interface's own address never hears
/// what is broadcast on its network. Nothing where no such socket is needed (Windows gives
/// broadcasts to a socket bound to the interface's address), for an address no interface
/// holds (0.0.0.0 hears them all already) and for an interface without broadcast.
std::optional<std::string> BroadcastAddressOf(const std::string& address);

/// @brief What the system tells of the network interface holding an address, as an LXI
/// instrument's identification document gives it.
struct NetworkInterface {
  std::string Mask;     ///< "255.255.255.0"; for IPv6 the prefix's mask in IPv6 form
  std::string Mac;      ///< "02:00:5E:10:00:01"; empty where it has none (loopback)
  std::string Gateway;  ///< the default route's gateway through it; empty: none known
  bool Dhcp = false;    ///< configured by DHCP (Windows tells; Linux keeps it to its tools)
};

/// The interface holding `address` (IPv4 or IPv6, as the local end of a connection); nothing
/// for an address no interface holds.
std::optional<NetworkInterface> InterfaceHolding(const std::string& address);

}  // namespace kt::platform
