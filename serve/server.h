// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/announce.h"
#include "scpi/session.h"

namespace kt::remote {

/// @brief Where and how `ktdac serve` listens.
struct Listen {
  std::string Address = "127.0.0.1";
  unsigned short Port = 5025;  ///< 0: any free port, announced
  bool Announce = true;        ///< by DNS-SD, when the address is not loopback
  bool Vxi11 = true;           ///< also the VXI-11 core channel (VISA's ::INSTR resources)
  std::string HttpAddress;     ///< the web page's address: Address unless given
  std::optional<unsigned short> HttpPort;  ///< the web page's port; none: no page
};

/// Reads --http's "[ADDRESS:]PORT" into `listen`: the page listens on `listen`'s address
/// unless one is given. Raises kt::Error saying what is wrong with the text.
void ParseHttp(const std::string& text, Listen& listen);

/// The DNS-SD service type of SCPI over a raw socket.
inline constexpr const char* kServiceType = "_scpi-raw._tcp";
/// The other services of an LXI instrument: VXI-11, its web page as an LXI one and as any.
inline constexpr const char* kVxi11ServiceType = "_vxi-11._tcp";
inline constexpr const char* kLxiServiceType = "_lxi._tcp";
inline constexpr const char* kHttpServiceType = "_http._tcp";

/// Reads "ADDRESS:PORT", "[IPv6]:PORT" or ":PORT" (loopback). Raises kt::Error saying what
/// is wrong with the text.
Listen ParseListen(const std::string& text);

/// The DNS-SD record of a server answering *IDN? with `identity` on ADDRESS:PORT: named
/// "MODEL on HOST", cut to the 63 bytes of a DNS label where a character begins, and the TXT
/// record of an LXI instrument from the identity's fields.
platform::Service ServiceOf(const std::string& identity, const std::string& address,
                            unsigned short port);

/// Every service the server announces: SCPI's raw socket on `port`, VXI-11 when its core
/// channel is served (`vxi11`: its port, 0 for none) and the web page on `http` (0: none),
/// each with the instrument's TXT record, the page's with its path.
std::vector<platform::Service> ServicesOf(const std::string& identity, const std::string& address,
                                          unsigned short port, unsigned short vxi11,
                                          unsigned short http);

/// Clients served at once; one more is told so and let go.
inline constexpr std::size_t kMaxClients = 8;
/// Connections of the VXI-11 core channel, and of the portmapper, open at once: a client's
/// links count against kMaxClients, and a connection past this is closed at once.
inline constexpr std::size_t kMaxRpcConnections = 2 * kMaxClients;

/// Serves SCPI over TCP until SIGINT, SIGTERM or SIGHUP: each line a program message, run to
/// completion before the next (there is one board), answered by a line when it holds a
/// query. Unless told not to, also serves VXI-11's core channel on a port of its own at the
/// same address, registered with the system's portmapper, or, where none runs, answering
/// the portmapper's calls on port 111 itself when it can listen there. Says where it listens
/// on `log`; on an address other than loopback, announces itself by DNS-SD unless told not
/// to (where it cannot, it says so and serves anyway). Returns 0 when stopped by a signal;
/// raises kt::Error when it cannot listen.
int Serve(const Listen& listen, Board& board, std::FILE* log);

}  // namespace kt::remote
