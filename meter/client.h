// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "meter/resource.h"

// A bench meter over a raw SCPI socket: connect, identify, configure, read. It knows nothing
// of what it measures.
namespace kt::meter {

/// @brief How the meter is set up and read.
struct Settings {
  std::vector<std::string> Setup;           ///< commands sent after connecting, in order
  std::string Query = "READ?";              ///< the query that takes one reading
  std::chrono::milliseconds Timeout{5000};  ///< for every exchange, the connection's too
  /// The DC range set, volts, when the setup is known to set one: a reading far beyond it
  /// is an overload.
  std::optional<double> Range;
};

/// The configuration for a DC voltage on a fixed range: *RST, *CLS, CONF:VOLT:DC <range>,
/// VOLT:DC:NPLC <nplc>.
std::vector<std::string> DefaultSetup(double range, double nplc);

/// @brief Raised when the caller's stop request ends a wait.
struct Stopped {};

/// @brief One meter, connected. Every failure is a kt::Error naming the meter, the command
/// sent and what came back.
class Meter {
 public:
  /// Connects and asks *IDN?. `stop` is asked while any answer is awaited; when it says so,
  /// the wait ends with Stopped.
  Meter(Resource resource, Settings settings, std::function<bool()> stop);
  ~Meter();
  Meter(const Meter&) = delete;
  Meter& operator=(const Meter&) = delete;

  /// The meter's answer to *IDN?.
  [[nodiscard]] const std::string& Identity() const { return identity_; }

  /// Sends the setup, then waits for *OPC? (the meter has finished) and checks SYST:ERR?.
  void Configure();

  /// One reading, in the meter's unit. Raises kt::Error for no answer, a closed connection,
  /// text that is not a number or an overload, adding what SYST:ERR? then says.
  double Read();

 private:
  class Link;

  std::string Query(const std::string& command, const std::string& doing);
  [[noreturn]] void Fail(const std::string& command, const std::string& what);
  std::string PendingError();

  Resource resource_;
  Settings settings_;
  std::unique_ptr<Link> link_;
  std::string identity_;
};

}  // namespace kt::meter
