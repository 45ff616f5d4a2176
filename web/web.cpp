// SPDX-License-Identifier: MIT
#include "web/web.h"

#include <fmt/format.h>

#include <algorithm>
#include <asio/ip/address.hpp>
#include <charconv>
#include <nlohmann/json.hpp>

#include "core/error.h"
#include "dac/device_table.h"
#include "dac/power_down.h"
#include "web/web_page.h"

namespace kt::remote::web {

namespace {

using nlohmann::json;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The host of a Host header or an origin's authority, without its port or IPv6 brackets.
std::string HostPart(std::string_view authority) {
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    return std::string(authority.substr(1, close == std::string_view::npos ? close : close - 1));
  }
  return std::string(authority.substr(0, authority.find(':')));
}

std::string XmlEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// The resource strings with HOST replaced by the host the client reached us by (an IPv6
// address in brackets, as VISA writes it, so that its colons are not the string's).
std::vector<std::string> Resources(const std::vector<Interface>& interfaces,
                                   const std::string& host) {
  std::vector<std::string> resources;
  const std::string written = host.find(':') == std::string::npos ? host : "[" + host + "]";
  for (const Interface& interface : interfaces) {
    std::string resource = interface.Resource;
    if (const std::size_t at = resource.find("HOST"); at != std::string::npos)
      resource.replace(at, 4, written);
    resources.push_back(resource);
  }
  return resources;
}

// JSON text of anything, whatever bytes a client sent: what is not UTF-8 becomes U+FFFD
// rather than an exception that would end the server.
std::string Text(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

Response Json(int status, const json& body) { return {status, "application/json", Text(body), {}}; }

Response Refused(int status, const std::string& why) {
  return Json(status, json{{"errors", json::array({json{{"code", 0}, {"text", why}}})}});
}

// A code as typed on the page: decimal, or hexadecimal after 0x (or IEEE 488.2's #H), as
// decimal digits for the command; empty when it is neither.
std::string CodeDigits(std::string_view typed) {
  int base = 10;
  const std::string lower = Lower(typed);
  std::string_view digits = lower;
  if (digits.starts_with("0x") || digits.starts_with("#h")) {
    base = 16;
    digits.remove_prefix(2);
  }
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) return {};
  return std::to_string(value);
}

// A decimal number as typed: only what a number is written with, so that nothing else can
// reach the command line.
bool NumberText(std::string_view typed) {
  return !typed.empty() && typed.size() <= 32 &&
         typed.find_first_not_of("0123456789.eE+-") == std::string_view::npos;
}

}  // namespace

std::map<std::string, std::string> ReadForm(std::string_view body) {
  const auto decode = [](std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '+') {
        decoded += ' ';
      } else if (text[i] == '%') {
        unsigned value = 0;
        const char* first = text.data() + i + 1;
        if (i + 3 > text.size() || std::from_chars(first, first + 2, value, 16).ptr != first + 2)
          throw Error{fmt::format("the form has a broken escape at \"{}\"", text.substr(i, 3))};
        decoded += static_cast<char>(value);
        i += 2;
      } else {
        decoded += text[i];
      }
    }
    return decoded;
  };
  std::map<std::string, std::string> fields;
  while (!body.empty()) {
    const std::size_t amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    body.remove_prefix(amp == std::string_view::npos ? body.size() : amp + 1);
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    fields[decode(pair.substr(0, equals))] =
        equals == std::string_view::npos ? std::string{} : decode(pair.substr(equals + 1));
  }
  return fields;
}

bool WellFormedHost(std::string_view host) {
  std::string_view port;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    std::error_code error;
    asio::ip::make_address_v6(std::string(host.substr(1, close - 1)), error);
    if (error) return false;
    port = host.substr(close + 1);
  } else {
    const std::size_t colon = host.find(':');
    const std::string_view name = host.substr(0, colon);
    if (name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVW"
                                               "XYZ0123456789-._~") != std::string_view::npos)
      return false;
    port = colon == std::string_view::npos ? std::string_view{} : host.substr(colon);
  }
  if (port.empty()) return true;
  unsigned number = 0;
  const auto [end, error] = std::from_chars(port.data() + 1, port.data() + port.size(), number);
  return port.front() == ':' && port.size() > 1 && port.size() <= 6 && error == std::errc{} &&
         end == port.data() + port.size() && number <= 65535;
}

bool AllowedHost(std::string_view host, const std::vector<std::string>& names) {
  if (!WellFormedHost(host)) return false;
  const std::string name = Lower(HostPart(host));
  if (name.empty()) return false;
  std::error_code error;
  asio::ip::make_address(name, error);
  if (!error || name == "localhost") return true;
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& allowed) { return Lower(allowed) == name; });
}

std::string Identification(const std::string& identity, const std::string& host,
                           const std::vector<Interface>& interfaces, const Network& network) {
  const std::vector<std::string> fields = IdentityFields(identity);
  const std::string url = "http://" + host;
  const std::string address = network.Address.empty() ? HostPart(host) : network.Address;
  const platform::NetworkInterface known = network.Interface.value_or(platform::NetworkInterface{});
  std::string addresses;
  for (const std::string& resource : Resources(interfaces, HostPart(host)))
    addresses += fmt::format("    <InstrumentAddressString>{}</InstrumentAddressString>\n",
                             XmlEscaped(resource));
  return fmt::format(
      R"(<?xml version="1.0" encoding="UTF-8"?>
<LXIDevice xmlns="http://www.lxistandard.org/InstrumentIdentification/1.0" )"
      R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" )"
      R"(xsi:schemaLocation="http://www.lxistandard.org/InstrumentIdentification/1.0 )"
      R"(http://www.lxistandard.org/InstrumentIdentification/1.0/LXIIdentification.xsd">
  <Manufacturer>{0}</Manufacturer>
  <Model>{1}</Model>
  <SerialNumber>{2}</SerialNumber>
  <FirmwareRevision>{3}</FirmwareRevision>
  <ManufacturerDescription>{1}: a DAC evaluation board</ManufacturerDescription>
  <HomepageURL>{4}/</HomepageURL>
  <DriverURL>{4}/</DriverURL>
  <UserDescription>{1}</UserDescription>
  <IdentificationURL>{4}/lxi/identification</IdentificationURL>
  <Interface xsi:type="NetworkInformation" InterfaceType="LXI" IPType="{5}">
{6}    <Hostname>{7}</Hostname>
    <IPAddress>{8}</IPAddress>
    <SubnetMask>{9}</SubnetMask>
    <MACAddress>{10}</MACAddress>
    <Gateway>{11}</Gateway>
    <DHCPEnabled>{12}</DHCPEnabled>
    <AutoIPEnabled>false</AutoIPEnabled>
  </Interface>
  <Domain>0</Domain>
  <LXIVersion>1.5</LXIVersion>
</LXIDevice>
)",
      XmlEscaped(fields[0]), XmlEscaped(fields[1]), XmlEscaped(fields[2]), XmlEscaped(fields[3]),
      XmlEscaped(url), address.find(':') != std::string::npos ? "IPv6" : "IPv4", addresses,
      XmlEscaped(HostPart(host)), XmlEscaped(address), known.Mask, known.Mac, known.Gateway,
      known.Dhcp);
}

std::string Page::State() {
  json devices = json::array();
  for (const auto& device : dac::DeviceTable) devices.push_back(device.Label);
  json modes = json::array();
  for (const auto& mode : dac::kPowerDownModes)
    modes.push_back(json{{"name", mode.Name}, {"caption", mode.Caption}});
  const auto bits = static_cast<std::int16_t>(board_.DataBits());
  const dac::PowerDownMode* mode = dac::PowerDownByCode(board_.PowerDown());
  json state{{"identity", board_.Identity()},
             {"device", board_.Device()},
             {"devices", devices},
             {"bits", bits},
             {"lastCode", dac::LastCode(bits)},
             {"code", board_.Code()},
             {"mode", mode ? mode->Name : ""},
             {"modes", modes},
             {"reference", nullptr},
             {"voltage", nullptr},
             {"locked", shared_.LockedBy.has_value()}};
  // The waveform playing, when one plays.
  state["waveform"] = nullptr;
  if (const Generator* generator = board_.Waveform(); generator && generator->Playing()) {
    const WaveSetup& setup = generator->Setup;
    state["waveform"] = json{{"shape", setup.Function},
                             {"frequency", setup.Frequency},
                             {"rate", setup.Rate},
                             {"samples", setup.User.size()},
                             {"cycles", setup.Cycles ? json(*setup.Cycles) : json(nullptr)}};
  }
  // The reference the page set, else the one the board tells.
  if (const std::optional<double> vref = session_.Vref()) {
    state["reference"] = *vref;
    state["voltage"] = dac::IdealVolts(board_.Code(), bits, *vref);
  }
  return Text(state);
}

Response Page::Answer(const Request& request) {
  if (!WellFormedHost(request.Host))
    return {400, "text/plain; charset=utf-8", "The request's Host is no host[:port].\n", {}};
  if (!AllowedHost(request.Host, names_))
    return {403,
            "text/plain; charset=utf-8",
            fmt::format("This instrument does not answer to the name \"{}\": reach it by its "
                        "address or host name.\n",
                        request.Host),
            {}};
  const std::string path = request.Target.substr(0, request.Target.find('?'));
  const bool get = request.Method == "GET" || request.Method == "HEAD";
  if (path == "/set") {
    if (request.Method != "POST")
      return {405, "text/plain; charset=utf-8", "Use POST.\n", {{"Allow", "POST"}}};
    return Set(request);
  }
  if (!get) return {405, "text/plain; charset=utf-8", "Use GET.\n", {{"Allow", "GET, HEAD"}}};
  if (path == "/") return {200, "text/html; charset=utf-8", kPage, {}};
  if (path == "/state") {
    json state = json::parse(State());
    state["interfaces"] = Resources(interfaces_, HostPart(request.Host));
    return Json(200, state);
  }
  if (path == "/lxi/identification")
    return {200,
            "text/xml; charset=utf-8",
            Identification(board_.Identity(), request.Host, interfaces_,
                           {request.Local, platform::InterfaceHolding(request.Local)}),
            {}};
  return {404, "text/plain; charset=utf-8", "Not found.\n", {}};
}

Response Page::Set(const Request& request) {
  // A form of another site may post here through a browser on the lab network: only this
  // page's own requests (or a client that is no browser, which sends no Origin) are taken.
  if (!request.Origin.empty()) {
    const std::string origin = Lower(request.Origin);
    if (origin != "http://" + Lower(request.Host))
      return Refused(403, fmt::format("a request from {} is not this page's: nothing was done",
                                      request.Origin));
  }
  std::map<std::string, std::string> fields;
  try {
    fields = ReadForm(request.Body);
  } catch (const Error& error) {
    return Refused(400, error.what());
  }
  if (fields.size() != 1)
    return Refused(400, "set one of device, code, mode, reference, voltage or output at a time");
  const std::string& name = fields.begin()->first;
  const std::string& value = fields.begin()->second;
  std::string command;
  if (name == "device") {
    const auto* device = std::find_if(dac::DeviceTable.begin(), dac::DeviceTable.end(),
                                      [&](const auto& d) { return value == d.Label; });
    if (device != dac::DeviceTable.end()) command = std::string("DAC:DEV ") + device->Label;
  } else if (name == "code") {
    if (const std::string digits = CodeDigits(value); !digits.empty())
      command = "DAC:CODE " + digits;
  } else if (name == "mode") {
    if (const dac::PowerDownMode* mode = dac::PowerDownByName(value))
      command = std::string("DAC:PDOW ") + mode->Scpi;
  } else if (name == "reference" || name == "voltage") {
    if (NumberText(value)) command = (name == "reference" ? "VOLT:REF " : "VOLT ") + value;
  } else if (name == "output") {
    if (value == "off") command = "OUTP OFF";  // the page stops a waveform; it starts none
  } else {
    return Refused(400, fmt::format("there is no setting \"{}\"", name));
  }
  const bool json = request.Accept.find("application/json") != std::string::npos;
  if (command.empty()) {
    return Refused(400, fmt::format("\"{}\" is not a {}", value,
                                    name == "code"     ? "code (decimal, or hexadecimal after 0x)"
                                    : name == "output" ? "state the page sets (off)"
                                    : name == "device" || name == "mode" ? name
                                                                         : "number"));
  }
  if (shared_.LockedBy) return Refused(409, "a VXI-11 link holds the lock; nothing was done");
  session_.Execute(command);
  nlohmann::json errors = nlohmann::json::array();
  for (const QueuedError& error : session_.Errors())
    errors.push_back(nlohmann::json{{"code", error.Code}, {"text", error.Text}});
  session_.Execute("*CLS");
  if (!json) return {303, "text/plain; charset=utf-8", "See /\n", {{"Location", "/"}}};
  return Json(200, nlohmann::json{{"errors", errors}, {"state", nlohmann::json::parse(State())}});
}

}  // namespace kt::remote::web
