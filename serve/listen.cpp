// SPDX-License-Identifier: MIT
#include <fmt/format.h>

#include <asio/ip/address.hpp>

#include "core/error.h"
#include "serve/server.h"

namespace kt::remote {

platform::Service ServiceOf(const std::string& identity, const std::string& address,
                            unsigned short port) {
  const std::vector<std::string> fields = IdentityFields(identity);
  platform::Service service;
  service.Name = fields[1] + " on " + platform::HostName();
  // A DNS label holds 63 bytes; a cut never splits a UTF-8 sequence.
  if (service.Name.size() > 63) {
    std::size_t end = 63;
    while (end > 0 && (static_cast<unsigned char>(service.Name[end]) & 0xC0) == 0x80) --end;
    service.Name.resize(end);
  }
  service.Type = kServiceType;
  service.Address = address;
  service.Port = port;
  service.Text = {{"txtvers", "1"},
                  {"Manufacturer", fields[0]},
                  {"Model", fields[1]},
                  {"SerialNumber", fields[2]},
                  {"FirmwareVersion", fields[3]}};
  return service;
}

namespace {

// "ADDRESS:PORT", "[IPv6]:PORT" or ":PORT" of an option; the address is empty when not given.
// A message names the option and what was `typed`.
std::pair<std::string, unsigned short> ReadEndpoint(const std::string& text, const char* option,
                                                    const std::string& typed) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos)
    throw Error{fmt::format("{} {} is not ADDRESS:PORT (say 127.0.0.1:5025)", option, typed)};
  std::string address = text.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  const std::string port = text.substr(colon + 1);
  unsigned long number = 0;
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
  if (digits) number = std::stoul(port);
  if (!digits || number > 65535)
    throw Error{fmt::format("{} {}: the port must be 0..65535", option, typed)};
  std::error_code error;
  if (!address.empty()) asio::ip::make_address(address, error);
  if (error) throw Error{fmt::format("{} {}: \"{}\" is not an IP address", option, typed, address)};
  return {address, static_cast<unsigned short>(number)};
}

}  // namespace

std::vector<platform::Service> ServicesOf(const std::string& identity, const std::string& address,
                                          unsigned short port, unsigned short vxi11,
                                          unsigned short http) {
  const platform::Service raw = ServiceOf(identity, address, port);
  std::vector<platform::Service> services{raw};
  const auto also = [&](const char* type, unsigned short at, auto... text) {
    platform::Service service = raw;
    service.Type = type;
    service.Port = at;
    (service.Text.emplace_back(text), ...);
    services.push_back(std::move(service));
  };
  // VISA reaches the core channel through the portmapper, so its record names port 111.
  if (vxi11) also(kVxi11ServiceType, 111);
  if (http) {
    also(kLxiServiceType, http, std::pair<std::string, std::string>{"path", "/lxi/identification"});
    also(kHttpServiceType, http, std::pair<std::string, std::string>{"path", "/"});
  }
  return services;
}

Listen ParseListen(const std::string& text) {
  Listen listen;
  const auto [address, port] = ReadEndpoint(text, "--listen", text);
  if (!address.empty()) listen.Address = address;
  listen.Port = port;
  return listen;
}

void ParseHttp(const std::string& text, Listen& listen) {
  const bool portOnly = text.find(':') == std::string::npos;
  const auto [address, port] = ReadEndpoint(portOnly ? ":" + text : text, "--http", text);
  listen.HttpAddress = address.empty() ? listen.Address : address;
  listen.HttpPort = port;
}

}  // namespace kt::remote
