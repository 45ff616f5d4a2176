// SPDX-License-Identifier: MIT
//
// kt-sim-meter: a simulated 6½-digit bench multimeter for the simulated board. It takes SCPI
// over a raw TCP socket, as bench meters do on port 5025, and answers each reading from the
// DAC's present output: the simulated board library writes the DAC's code to the file that
// KT_SIM_DAC_OUTPUT (or --dac-output) names, and this program turns it into volts through a
// configurable imperfect transfer function, settling after each frame, and noise. One client
// at a time, as a meter's socket serves one.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <asio.hpp>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <thread>

#include "sim/dac_model.h"
#include "sim/meter_answers.h"

#ifdef _WIN32
#include <mstcpip.h>
#ifndef SIO_TCP_SET_ACK_FREQUENCY
#define SIO_TCP_SET_ACK_FREQUENCY _WSAIOW(IOC_VENDOR, 23)
#endif
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

using kt::sim::meter::Fault;
using kt::sim::meter::Meter;
using kt::sim::meter::Options;

namespace {

using asio::ip::tcp;
// A whole number within [low, high], all of the text; a usage error otherwise.
int WholeIn(const std::string& option, const std::string& text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high)
    throw CLI::ValidationError(option, "\"" + text + "\" is not a whole number from " +
                                           std::to_string(low) + " to " + std::to_string(high));
  return value;
}

// Text as a test gives it on any command line: \xNN stands for a byte (\x00 for a NUL) and
// a doubled backslash for one; a usage error for another escape.
std::string Unescaped(const std::string& option, const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
    } else if (text.compare(i, 2, "\\\\") == 0) {
      bytes += '\\';
      ++i;
    } else if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      throw CLI::ValidationError(option, "only \\xNN and \\\\ are escapes");
    }
  }
  return bytes;
}

// Reads --fault; TEXT of reading:TEXT takes \xNN escapes (\x00 for a NUL) and \\.
Fault ParseFault(const std::string& text) {
  Fault fault;
  using Kind = Fault::Kind;
  static const std::pair<const char*, Kind> kPlain[] = {
      {"none", Kind::None},   {"garbage", Kind::Garbage},
      {"error", Kind::Error}, {"hang-config", Kind::HangConfig},
      {"twice", Kind::Twice}, {"crlf", Kind::CrLf}};
  for (const auto& [name, kind] : kPlain)
    if (text == name) fault.What = kind;
  if (text.rfind("slow:", 0) == 0) {
    fault.What = Kind::Slow;
    fault.Count = WholeIn("--fault slow:MS", text.substr(5), 0, 60000);
  } else if (text.rfind("close:", 0) == 0) {
    fault.What = Kind::Close;
    fault.Count = WholeIn("--fault close:N", text.substr(6), 0, 1000000);
  } else if (text.rfind("reading:", 0) == 0) {
    fault.What = Kind::Reading;
    fault.Answer = Unescaped("--fault reading:TEXT", text.substr(8));
  } else if (fault.What == Kind::None && text != "none") {
    throw CLI::ValidationError("--fault",
                               "\"" + text +
                                   "\" is no fault (none, garbage, error, "
                                   "hang-config, twice, crlf, slow:MS, close:N, reading:TEXT)");
  }
  return fault;
}

// Reads "CODE:LSB"; a usage error for anything else.
kt::sim::CodeStep ParseStep(const std::string& text) {
  const auto colon = text.find(':');
  try {
    std::size_t codeEnd = 0, lsbEnd = 0;
    const std::string code = text.substr(0, colon), lsb = text.substr(colon + 1);
    const long value = std::stol(code, &codeEnd, 0);
    const double step = std::stod(lsb, &lsbEnd);
    if (colon != std::string::npos && codeEnd == code.size() && lsbEnd == lsb.size())
      return {static_cast<std::int32_t>(value), step};
  } catch (const std::exception&) {
    // said below
  }
  throw CLI::ValidationError("--step", text + " is not CODE:LSB");
}

// Acknowledges what the client sends at once, as a meter's own TCP stack does: a client that
// keeps Nagle's algorithm on waits for the acknowledgement of a command before it sends the
// query after it. Linux turns TCP_QUICKACK off again by itself, so it is asked after every
// read; Windows keeps the acknowledgement frequency once set.
// Returns whether the system took it.
bool AcknowledgeAtOnce(tcp::socket& socket, bool first) {
#ifdef _WIN32
  if (!first) return true;
  DWORD frequency = 1;
  DWORD returned = 0;
  return WSAIoctl(socket.native_handle(), SIO_TCP_SET_ACK_FREQUENCY, &frequency, sizeof frequency,
                  nullptr, 0, &returned, nullptr, nullptr) == 0;
#else
  (void)first;
  const int on = 1;
  return setsockopt(socket.native_handle(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on) == 0;
#endif
}

// Serves one client until it leaves (or the `close:N` fault hangs up on it).
void Serve(tcp::socket& socket, Meter& meter) {
  const Fault& fault = meter.Faults();
  const int closeAfter = fault.What == Fault::Kind::Close ? fault.Count : -1;
  const std::chrono::milliseconds delay{fault.What == Fault::Kind::Slow ? fault.Count : 0};
  asio::streambuf input(64 * 1024);
  const int start = meter.Readings();
  for (;;) {
    std::error_code error;
    const std::size_t size = asio::read_until(socket, input, '\n', error);
    if (error) return;
    AcknowledgeAtOnce(socket, false);
    std::string line(asio::buffers_begin(input.data()),
                     asio::buffers_begin(input.data()) + static_cast<std::ptrdiff_t>(size));
    input.consume(size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    // A program message may hold several commands, separated by semicolons.
    const int readingsBefore = meter.Readings();
    std::string answers;
    for (std::size_t from = 0; from <= line.size();) {
      const std::size_t end = std::min(line.find(';', from), line.size());
      std::string command = line.substr(from, end - from);
      command.erase(0, command.find_first_not_of(" \t"));
      if (!command.empty()) {
        const std::string answer = meter.Execute(command);
        if (!answer.empty()) answers += (answers.empty() ? "" : ";") + answer;
      }
      from = end + 1;
    }
    // close:N answers N readings, then hangs up on the next.
    if (closeAfter >= 0 && meter.Readings() - start > closeAfter) return;
    if (answers.empty()) continue;
    std::this_thread::sleep_for(delay);
    const bool twice = fault.What == Fault::Kind::Twice && meter.Readings() > readingsBefore;
    const std::string reply = answers + (fault.What == Fault::Kind::CrLf ? "\r\n" : "\n");
    asio::write(socket, asio::buffer(twice ? reply + reply : reply), error);
    if (error) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kt-sim-meter: a simulated bench multimeter reading the simulated board's DAC"};
  Options options;
  if (const char* file = std::getenv(kt::sim::kDacOutputVariable)) options.DacOutput = file;
  app.add_option("--listen", options.Listen, "ADDRESS:PORT (port 0: any free one)")
      ->capture_default_str();
  app.add_option("--dac-output", options.DacOutput,
                 "the file the simulated board writes the DAC's code to (default: "
                 "$KT_SIM_DAC_OUTPUT)");
  app.add_option("--iio-device", options.IioDevice,
                 "read a kernel IIO DAC's attributes in this folder "
                 "(/sys/bus/iio/devices/iio:device0) in place of the simulated board's file");
  app.add_option("--vref", options.Dac.Vref, "the DAC's reference, volts")->capture_default_str();
  app.add_option("--offset", options.Dac.OffsetVolts, "offset, volts");
  app.add_option("--gain-error", options.GainPercent, "gain error, % (-0.1)");
  app.add_option("--bow", options.Dac.BowLsb, "INL bow at mid-scale, LSB");
  app.add_option("--step", options.Steps,
                 "CODE:LSB: every code from CODE up stands LSB higher (a DNL step; below -1 "
                 "the output falls there); repeatable");
  app.add_option("--noise", options.NoiseVolts, "output noise, volts rms (Gaussian)");
  app.add_option("--seed", options.Seed, "the noise's seed")->capture_default_str();
  app.add_option("--settle", options.SettleSeconds,
                 "the output's time constant after each frame, seconds");
  app.add_option("--reading-time", options.ReadingSeconds, "the time one reading takes, seconds");
  app.add_option("--idn", options.Identity, "the answer to *IDN? (\\xNN and \\\\ are escapes)")
      ->capture_default_str();
  app.add_option("--fault", options.FaultText,
                 "none; garbage (readings are not numbers); error (a reading queues an SCPI "
                 "error and answers nothing); hang-config (*OPC? is never answered); twice "
                 "(each reading answered twice); crlf (answers end in CR LF); slow:MS (each answer "
                 "MS late); close:N (hang "
                 "up after N readings); reading:TEXT (every reading answers TEXT, \\xNN escapes)")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  if (options.DacOutput.empty() && options.IioDevice.empty()) {
    fmt::print(stderr,
               "kt-sim-meter: name the DAC's output file: --dac-output or {}, or --iio-device\n",
               kt::sim::kDacOutputVariable);
    return 2;
  }
  // Every argument is checked at the start: a bad one is a usage error, never a fault at the
  // first client.
  Fault fault;
  tcp::endpoint endpoint;
  try {
    fault = ParseFault(options.FaultText);
    options.Identity = Unescaped("--idn", options.Identity);
    const auto colon = options.Listen.rfind(':');
    if (colon == std::string::npos)
      throw CLI::ValidationError("--listen", options.Listen + " is not ADDRESS:PORT");
    std::error_code error;
    const auto address = asio::ip::make_address(options.Listen.substr(0, colon), error);
    if (error)
      throw CLI::ValidationError("--listen", options.Listen.substr(0, colon) + " is no address");
    endpoint = tcp::endpoint(address, static_cast<unsigned short>(WholeIn(
                                          "--listen", options.Listen.substr(colon + 1), 0, 65535)));
    for (const std::string& step : options.Steps) options.Dac.Steps.push_back(ParseStep(step));
  } catch (const CLI::Error& error) {
    fmt::print(stderr, "kt-sim-meter: {}\n", error.what());
    return 2;
  }
  try {
    options.Dac.Gain = options.GainPercent / 100;
    asio::io_context io;
    tcp::acceptor acceptor(io, endpoint);
    const tcp::endpoint where = acceptor.local_endpoint();
    fmt::print("kt-sim-meter: listening on {}:{}\n", where.address().to_string(), where.port());
    std::fflush(stdout);
    Meter meter(options, fault);
    bool toldOfAcks = false;
    for (;;) {
      tcp::socket socket(io);
      acceptor.accept(socket);
      socket.set_option(tcp::no_delay(true));
      if (!AcknowledgeAtOnce(socket, true) && !toldOfAcks) {
        fmt::print(stderr,
                   "kt-sim-meter: this system does not acknowledge each message at once: a "
                   "client that keeps Nagle's algorithm on waits for the delayed "
                   "acknowledgement after each command\n");
        toldOfAcks = true;
      }
      Serve(socket, meter);
    }
  } catch (const std::exception& error) {
    fmt::print(stderr, "kt-sim-meter: {}\n", error.what());
    return 1;
  }
}
