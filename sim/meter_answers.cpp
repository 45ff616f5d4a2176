// SPDX-License-Identifier: MIT
#include "sim/meter_answers.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace kt::sim::meter {

namespace {

using Clock = std::chrono::system_clock;

// A reading beyond 120 % of the range: what SCPI meters answer for an overload.
constexpr double kOverload = 9.9e37;
constexpr double kRanges[] = {0.1, 1, 10, 100, 1000};

// The header of a command in one spelling: long forms cut to their short form, the optional
// SENSe: node and :NEXT dropped, upper case.
std::string Canonical(std::string header) {
  std::transform(header.begin(), header.end(), header.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  static const std::pair<const char*, const char*> kLong[] = {
      {"CONFIGURE", "CONF"}, {"VOLTAGE", "VOLT"}, {"MEASURE", "MEAS"}, {"SENSE", "SENS"},
      {"SYSTEM", "SYST"},    {"ERROR", "ERR"},    {"RANGE", "RANG"},   {"FETCH", "FETC"},
  };
  for (const auto& [longForm, shortForm] : kLong) {
    for (auto at = header.find(longForm); at != std::string::npos; at = header.find(longForm))
      header.replace(at, std::string(longForm).size(), shortForm);
  }
  if (header.rfind(":", 0) == 0) header.erase(0, 1);
  if (header.rfind("SENS:", 0) == 0) header.erase(0, 5);
  if (const auto next = header.find(":NEXT"); next != std::string::npos) header.erase(next, 5);
  return header;
}

}  // namespace

Meter::Meter(const Options& options, Fault fault)
    : options_(options), fault_(std::move(fault)), random_(options.Seed) {}

std::string Meter::Execute(const std::string& message) {
  const auto blank = message.find_first_of(" \t");
  const std::string header = Canonical(message.substr(0, blank));
  std::string argument = blank == std::string::npos ? "" : message.substr(blank + 1);
  argument.erase(0, argument.find_first_not_of(" \t"));
  if (header == "*IDN?") return options_.Identity;
  if (header == "*RST") {
    range_ = 10;
    nplc_ = 10;
    return "";
  }
  if (header == "*CLS") {
    errors_.clear();
    return "";
  }
  if (header == "*OPC?") return fault_.What == Fault::Kind::HangConfig ? std::string() : "1";
  if (header == "SYST:ERR?") {
    if (errors_.empty()) return "+0,\"No error\"";
    const std::string error = errors_.front();
    errors_.pop_front();
    return error;
  }
  if (header == "CONF:VOLT:DC" || header == "CONF:VOLT" || header == "VOLT:DC:RANG" ||
      header == "VOLT:RANG") {
    SetRange(argument.substr(0, argument.find(',')));
    return "";
  }
  if (header == "VOLT:DC:NPLC" || header == "VOLT:NPLC") {
    char* end = nullptr;
    const double nplc = std::strtod(argument.c_str(), &end);
    if (argument.empty() || *end != '\0' || !(nplc >= 0.02 && nplc <= 100))
      Queue(-222, "Data out of range");
    else
      nplc_ = nplc;
    return "";
  }
  if (header == "READ?" || header == "MEAS:VOLT:DC?" || header == "MEAS:VOLT?") return Reading();
  Queue(-113, "Undefined header");
  return "";
}

void Meter::Queue(int code, const std::string& text) {
  if (errors_.size() < 20) errors_.push_back(fmt::format("{:+d},\"{}\"", code, text));
}

void Meter::SetRange(const std::string& text) {
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (upper.empty() || upper == "DEF" || upper == "AUTO") {
    range_ = 10;
    return;
  }
  if (upper == "MIN") {
    range_ = kRanges[0];
    return;
  }
  if (upper == "MAX") {
    range_ = kRanges[4];
    return;
  }
  char* end = nullptr;
  const double wanted = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(wanted)) {
    Queue(-104, "Data type error");
    return;
  }
  for (const double range : kRanges) {
    if (std::fabs(wanted) <= range) {
      range_ = range;
      return;
    }
  }
  Queue(-222, "Data out of range");
}

// The DAC's output now: settled towards the last frame's code from the one before.
std::string Meter::Reading() {
  if (options_.ReadingSeconds > 0)
    std::this_thread::sleep_for(std::chrono::duration<double>(options_.ReadingSeconds));
  ++readings_;
  if (fault_.What == Fault::Kind::Garbage) return "#ERR reading";
  if (fault_.What == Fault::Kind::Reading) return fault_.Answer;
  if (fault_.What == Fault::Kind::Error) {
    Queue(-230, "Data corrupt or stale");
    return "";
  }
  double volts = 0;
  if (const auto state = options_.IioDevice.empty() ? ReadDacState(options_.DacOutput)
                                                    : ReadIioState(options_.IioDevice)) {
    const auto& dac = options_.Dac;
    volts = OutputVolts(dac, state->DataBits, state->Code, state->PowerDown);
    if (state->PreviousCode && options_.SettleSeconds > 0) {
      const double before =
          OutputVolts(dac, state->DataBits, *state->PreviousCode, state->PreviousPowerDown);
      const double since = std::chrono::duration<double>(Clock::now().time_since_epoch()).count() -
                           static_cast<double>(state->TimeNs) * 1e-9;
      volts += (before - volts) * std::exp(-std::max(since, 0.0) / options_.SettleSeconds);
    }
  }
  if (options_.NoiseVolts > 0) volts += options_.NoiseVolts * noise_(random_);
  if (std::fabs(volts) > 1.2 * range_) volts = kOverload;
  return fmt::format("{:+.9E}", volts);
}

}  // namespace kt::sim::meter
