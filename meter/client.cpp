// SPDX-License-Identifier: MIT
#include "meter/client.h"

#include <fmt/format.h>

#include <asio.hpp>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "core/error.h"
#include "meter/text.h"

namespace kt::meter {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// The longest answer taken: a reading is some twenty bytes.
constexpr std::size_t kMaxAnswer = 64 * 1024;

std::string Seconds(std::chrono::milliseconds timeout) {
  return fmt::format("{:g} s", static_cast<double>(timeout.count()) / 1000);
}

// The answer as it came, shortened and fit to show.
std::string Shown(const std::string& answer) {
  const std::string shown = Printable(std::string_view(answer).substr(0, 60));
  return answer.size() > 60 ? shown + "..." : shown;
}

[[noreturn]] void Raise(const std::string& what) { throw Error(what, Error::Cause::Meter); }

// Whether a SYST:ERR? answer reports an error: anything but a leading (+)0.
bool IsError(const std::string& answer) {
  char* end = nullptr;
  const long code = std::strtol(answer.c_str(), &end, 10);
  return end != answer.c_str() && *end == ',' && code != 0;
}

}  // namespace

std::vector<std::string> DefaultSetup(double range, double nplc) {
  return {"*RST", "*CLS", fmt::format("CONF:VOLT:DC {:g}", range),
          fmt::format("VOLT:DC:NPLC {:g}", nplc)};
}

// @brief The socket and a wait for each exchange that ends at the deadline or at a stop.
class Meter::Link {
 public:
  Link(std::chrono::milliseconds timeout, std::function<bool()> stop)
      : input_(kMaxAnswer), timeout_(timeout), stop_(std::move(stop)) {}

  // Runs one asynchronous operation to its end. Returns its error, or nothing when the
  // deadline passed first (the operation is cancelled and its handler run).
  template <typename Start>
  std::optional<std::error_code> Run(Start start) {
    std::optional<std::error_code> result;
    start([&result](std::error_code error, auto&&...) { result = error; });
    const auto deadline = Clock::now() + timeout_;
    bool stopped = false;
    while (!result) {
      const auto now = Clock::now();
      if (now >= deadline || (stopped = stop_ && stop_())) break;
      io_.restart();
      // Short slices, so that a stop request is seen at once.
      io_.run_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(20)));
    }
    if (result) return result;
    // The handler refers to `result`: it must run (cancelled) before this returns. Past the
    // deadline the socket stays open, so that SYST:ERR? can still be asked.
    std::error_code ignored;
    if (stopped)
      socket_.close(ignored);
    else
      socket_.cancel(ignored);
    resolver_.cancel();
    io_.restart();
    while (!result) io_.run_one();
    if (stopped) throw Stopped{};
    return std::nullopt;
  }

  asio::io_context io_;
  tcp::resolver resolver_{io_};
  tcp::socket socket_{io_};
  asio::streambuf input_;
  std::chrono::milliseconds timeout_;
  std::function<bool()> stop_;
};

Meter::Meter(Resource resource, Settings settings, std::function<bool()> stop)
    : resource_(std::move(resource)),
      settings_(std::move(settings)),
      link_(std::make_unique<Link>(settings_.Timeout, std::move(stop))) {
  const std::string where = fmt::format("{} port {}", resource_.Host, resource_.Port);
  tcp::resolver::results_type endpoints;
  const auto resolved = link_->Run([&](auto handler) {
    link_->resolver_.async_resolve(
        resource_.Host, resource_.Port,
        [&endpoints, handler](std::error_code error, tcp::resolver::results_type found) mutable {
          endpoints = std::move(found);
          handler(error);
        });
  });
  if (!resolved)
    Raise(fmt::format("meter {}: {} not found within {}", resource_.Text, resource_.Host,
                      Seconds(settings_.Timeout)));
  if (*resolved)
    Raise(fmt::format("meter {}: cannot find {}: {}", resource_.Text, resource_.Host,
                      resolved->message()));
  const auto connected = link_->Run([&](auto handler) {
    asio::async_connect(
        link_->socket_, endpoints,
        [handler](std::error_code error, const tcp::endpoint&) mutable { handler(error); });
  });
  if (!connected)
    Raise(fmt::format("meter {}: no connection to {} within {}", resource_.Text, where,
                      Seconds(settings_.Timeout)));
  if (*connected)
    Raise(fmt::format("meter {}: cannot connect to {}: {}", resource_.Text, where,
                      connected->message()));
  std::error_code ignored;
  link_->socket_.set_option(tcp::no_delay(true), ignored);
  identity_ = Query("*IDN?", "identifying");
}

Meter::~Meter() = default;

void Meter::Fail(const std::string& command, const std::string& what) {
  Raise(fmt::format("meter {}: {} {}", resource_.Text, command, what));
}

std::string Meter::Query(const std::string& command, const std::string& doing) {
  // Whatever waits unread now is an answer nobody asked for: taken as this query's, it would
  // put every later reading against the wrong code.
  std::error_code error;
  std::string unasked(asio::buffers_begin(link_->input_.data()),
                      asio::buffers_begin(link_->input_.data()) +
                          static_cast<std::ptrdiff_t>(link_->input_.size()));
  if (const std::size_t waiting = link_->socket_.available(error); !error && waiting > 0) {
    std::string more(std::min<std::size_t>(waiting, kMaxAnswer), '\0');
    more.resize(link_->socket_.read_some(asio::buffer(more), error));
    unasked += more;
  }
  if (!unasked.empty())
    Fail(command, "was not sent: the meter had sent what nobody asked for, \"" + Shown(unasked) +
                      "\" (it answers more than once?)");
  const std::string line = command + "\n";
  const auto written = link_->Run(
      [&](auto handler) { asio::async_write(link_->socket_, asio::buffer(line), handler); });
  if (!written)
    Fail(command, fmt::format("could not be sent within {}", Seconds(settings_.Timeout)));
  if (*written) Fail(command, "could not be sent: " + written->message());
  std::size_t size = 0;
  const auto read = link_->Run([&](auto handler) {
    asio::async_read_until(link_->socket_, link_->input_, '\n',
                           [&size, handler](std::error_code error, std::size_t n) mutable {
                             size = n;
                             handler(error);
                           });
  });
  if (!read)
    Fail(command, fmt::format("got no answer within {} ({})", Seconds(settings_.Timeout), doing));
  if (*read == asio::error::eof || *read == asio::error::connection_reset)
    Fail(command, "got no answer: the meter closed the connection");
  if (*read == asio::error::not_found)
    Fail(command, fmt::format("got an answer longer than {} bytes", kMaxAnswer));
  if (*read) Fail(command, "got no answer: " + read->message());
  std::string answer(asio::buffers_begin(link_->input_.data()),
                     asio::buffers_begin(link_->input_.data()) + static_cast<std::ptrdiff_t>(size));
  link_->input_.consume(size);
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  return answer;
}

// What SYST:ERR? says after a failure, as a clause to add; empty when it says no error or
// cannot be asked.
std::string Meter::PendingError() {
  if (!link_->socket_.is_open()) return "";
  try {
    const std::string answer = Query("SYST:ERR?", "asking for the error");
    if (IsError(answer)) return "; SYST:ERR? says " + answer;
  } catch (const Error&) {
    // The failure already in hand is the one to report.
  }
  return "";
}

void Meter::Configure() {
  std::string sent;
  for (const std::string& command : settings_.Setup) {
    const std::string line = command + "\n";
    const auto written = link_->Run(
        [&](auto handler) { asio::async_write(link_->socket_, asio::buffer(line), handler); });
    if (!written || *written)
      Fail(command, "could not be sent" + (written ? ": " + written->message() : std::string()));
    sent += (sent.empty() ? "" : "; ") + command;
  }
  const std::string done = Query("*OPC?", "the meter did not finish configuring");
  if (done != "1" && done != "+1") Fail("*OPC?", "answered \"" + Shown(done) + "\", not 1");
  const std::string error = Query("SYST:ERR?", "checking the configuration");
  if (IsError(error))
    Raise(fmt::format("meter {}: the configuration ({}) was refused: SYST:ERR? says {}",
                      resource_.Text, sent, error));
}

double Meter::Read() {
  std::string answer;
  try {
    answer = Query(settings_.Query, "taking a reading");
  } catch (const Error& error) {
    Raise(error.what() + PendingError());
  }
  const Reading reading = ReadReading(answer, settings_.Range);
  if (!reading.Value)
    Fail(settings_.Query, "answered \"" + Shown(answer) + "\", " + reading.Why + PendingError());
  return *reading.Value;
}

}  // namespace kt::meter
