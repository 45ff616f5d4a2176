// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace kt::meter {

/// The port of a raw SCPI socket when the address leaves it out.
inline constexpr const char* kDefaultPort = "5025";

/// @brief Where a meter listens.
struct Resource {
  std::string Host;
  std::string Port;
  std::string Text;  ///< as given, to name the meter in messages
};

/// Reads a VISA resource string, TCPIP[board]::HOST[::PORT]::SOCKET (any case; the port is
/// 5025 when left out), or HOST:PORT, or [IPv6]:PORT. Raises kt::Error saying what is wrong.
Resource ParseResource(const std::string& text);

}  // namespace kt::meter
