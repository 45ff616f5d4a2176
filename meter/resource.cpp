// SPDX-License-Identifier: MIT
#include "meter/resource.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "core/error.h"

namespace kt::meter {

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

bool IsPort(const std::string& text) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit))
    return false;
  const int port = std::stoi(text);
  return port > 0 && port <= 65535;
}

std::vector<std::string> SplitOnDoubleColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at = text.find("::"); at != std::string::npos; at = text.find("::", from)) {
    parts.push_back(text.substr(from, at - from));
    from = at + 2;
  }
  parts.push_back(text.substr(from));
  return parts;
}

}  // namespace

Resource ParseResource(const std::string& text) {
  const auto fail = [&](const std::string& why) -> Resource {
    throw Error("meter address \"" + text + "\": " + why);
  };
  if (Upper(text).rfind("TCPIP", 0) == 0) {
    // An IPv6 address in brackets holds double colons of its own: it is one part.
    std::string bracketed;
    std::string rest = text;
    if (const auto open = text.find("::["); open != std::string::npos) {
      const auto close = text.find("]::", open);
      if (close == std::string::npos) return fail("an IPv6 address is [ADDRESS]");
      bracketed = text.substr(open + 3, close - open - 3);
      rest = text.substr(0, open) + "::[]" + text.substr(close + 1);
    }
    std::vector<std::string> parts = SplitOnDoubleColons(rest);
    if (parts.size() > 1 && parts[1] == "[]") parts[1] = bracketed;
    const std::string board = Upper(parts[0]).substr(5);
    if (!std::all_of(board.begin(), board.end(), ::isdigit))
      return fail("the interface is TCPIP or TCPIPn");
    if (parts.size() < 3 || parts.size() > 4 || Upper(parts.back()) != "SOCKET")
      return fail("a raw socket is TCPIP::HOST::PORT::SOCKET");
    if (parts[1].empty()) return fail("no host");
    const std::string port = parts.size() == 4 ? parts[2] : kDefaultPort;
    if (!IsPort(port)) return fail("\"" + port + "\" is not a port (1..65535)");
    return {parts[1], port, text};
  }
  std::string host;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    const auto close = text.find("]:");
    if (close == std::string::npos) return fail("an IPv6 address is [ADDRESS]:PORT");
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon)
      return fail("give TCPIP::HOST::PORT::SOCKET or HOST:PORT");
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (host.empty()) return fail("no host");
  if (!IsPort(port)) return fail("\"" + port + "\" is not a port (1..65535)");
  return {host, port, text};
}

}  // namespace kt::meter
