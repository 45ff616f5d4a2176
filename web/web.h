// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tcp.h"
#include "scpi/session.h"

// The instrument's web page, as an LXI instrument serves one: what the board is and what it
// outputs, a form to set each, live updates, and the LXI identification document. Knows no
// network: a request comes in as its parts and leaves as a response; server.* carries them.
namespace kt::remote::web {

/// @brief What the page needs of an HTTP request.
struct Request {
  std::string Method;  ///< "GET", "POST", ...
  std::string Target;  ///< "/", "/state?x", ...
  std::string Host;    ///< the Host header, as sent
  std::string Origin;  ///< the Origin header, empty when there is none
  std::string Accept;
  std::string ContentType;
  std::string Body;
  std::string Local;  ///< the address the request came in on; empty when not known
};

/// @brief A response: its status, its type and body, and headers of its own.
struct Response {
  int Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Headers;
};

/// @brief One way in, for the identification document and the page's footer.
struct Interface {
  std::string Resource;  ///< a VISA resource string with HOST where the host goes
};

/// The path of the live updates: an event stream of the state, one event per change.
inline constexpr std::string_view kEventsPath = "/events";

/// Reads an application/x-www-form-urlencoded body into its fields; the last of a repeated
/// name wins. Raises kt::Error for a broken percent escape.
std::map<std::string, std::string> ReadForm(std::string_view body);

/// Whether a Host header is a host and an optional port as RFC 3986 writes them: a name or
/// IPv4 address of letters, digits and "-._~", or an IPv6 address in brackets; then ":" and
/// a port of at most 65535, or nothing.
bool WellFormedHost(std::string_view host);

/// Whether a Host header names this machine as a browser may reach it: an IP address,
/// "localhost", or one of `names` (the host name, its ".local" name, names given), with any
/// port. Anything else is refused: a page of another site whose name was made to resolve
/// here (DNS rebinding) must not drive the board.
bool AllowedHost(std::string_view host, const std::vector<std::string>& names);

/// @brief The network a request came in through: the address it reached and what the system
/// tells of the interface holding it (nothing where it is not known).
struct Network {
  std::string Address;
  std::optional<platform::NetworkInterface> Interface;
};

/// The LXI identification document (XML) of an instrument answering *IDN? with `identity`,
/// reached by `host` through `network`, with the ways in it offers.
std::string Identification(const std::string& identity, const std::string& host,
                           const std::vector<Interface>& interfaces, const Network& network);

/// @brief The page's own client: a SCPI session over the board, refused while a VXI-11
/// link holds the lock, as a raw-socket client is.
class Page {
 public:
  Page(Board& board, const Shared& shared, std::vector<std::string> names,
       std::vector<Interface> interfaces)
      : board_(board),
        shared_(shared),
        session_(board),
        names_(std::move(names)),
        interfaces_(std::move(interfaces)) {}

  /// Answers a request. A GET never changes anything; a POST to /set sets one thing (one
  /// frame at most) when it comes from this page, and its answer lists what went wrong.
  Response Answer(const Request& request);

  /// What the page shows, as JSON: identity, device, models, code, mode, reference,
  /// voltage, and whether a VXI-11 link holds the lock.
  std::string State();

  /// The names besides addresses the page answers to.
  [[nodiscard]] const std::vector<std::string>& Names() const { return names_; }

 private:
  Response Set(const Request& request);

  Board& board_;
  const Shared& shared_;
  Session session_;
  std::vector<std::string> names_;
  std::vector<Interface> interfaces_;
};

}  // namespace kt::remote::web
