// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Announcing a service on the local network by DNS-SD (multicast DNS): through avahi-daemon
// on Linux, through the system's own registration on Windows 10 and later.
namespace kt::platform {

/// @brief A service as DNS-SD announces it.
struct Service {
  std::string Name;     ///< the instance name people see ("KT31X-KT300 evaluation board on bench")
  std::string Type;     ///< "_scpi-raw._tcp"
  std::string Address;  ///< the address listened on: only its interface is announced on,
                        ///< every one for 0.0.0.0 or ::
  unsigned short Port = 0;
  std::vector<std::pair<std::string, std::string>> Text;  ///< TXT record, key=value
};

/// @brief An announcement, withdrawn when the object goes.
class Announcement {
 public:
  virtual ~Announcement() = default;
};

/// One line about the announcement: made, renamed after a clash, withdrawn, or not possible
/// and why. May be called from another thread.
using Say = std::function<void(const std::string& line)>;

/// Starts announcing the service. Never raises for an announcement that cannot be made: it
/// says why and returns nothing, and the caller serves on unannounced.
std::unique_ptr<Announcement> Announce(const Service& service, Say say);

/// This machine's host name, for the instance name; "localhost" when it has none.
std::string HostName();

}  // namespace kt::platform
