// SPDX-License-Identifier: MIT
// The portmapper through libtirpc: rpcbind, reached on this machine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/portmap.h"

namespace kt::platform {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// The port the portmapper gives the program's TCP entry; 0 for none (or no portmapper).
std::uint16_t RegisteredPort(std::uint32_t program, std::uint32_t version) {
  sockaddr_in portmapper = Loopback(111);
  return pmap_getport(&portmapper, program, version, IPPROTO_TCP);
}

// Whether a program listens at the port, on the IPv4 address (or loopback).
bool Answers(const std::string& address, std::uint16_t port) {
  sockaddr_in at = Loopback(port);
  if (address != "0.0.0.0" && inet_pton(AF_INET, address.c_str(), &at.sin_addr) != 1)
    at = Loopback(port);
  for (const sockaddr_in& where : {at, Loopback(port)}) {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool answered =
        connect(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
    close(probe);
    if (answered) return true;
  }
  return false;
}

}  // namespace

RpcRegistration::RpcRegistration(std::uint32_t program, std::uint32_t version, std::uint16_t port,
                                 const std::string& address)
    : program_(program), version_(version), port_(port) {
  // An entry of a program still running is its own; one left by a run that ended without
  // unregistering is replaced.
  if (const std::uint16_t held = RegisteredPort(program, version);
      held != 0 && held != port && Answers(address, held)) {
    heldByAnother_ = true;
    why_ = "another running program holds this machine's portmapper entry for VXI-11 (its port " +
           std::to_string(held) + ")";
    return;
  }
  pmap_unset(program, version);
  registered_ = pmap_set(program, version, IPPROTO_TCP, port) != 0;
  if (!registered_) why_ = "no portmapper (rpcbind) runs on this machine";
}

RpcRegistration::~RpcRegistration() {
  // An entry another program has set since is left to it.
  if (registered_ && RegisteredPort(program_, version_) == port_) pmap_unset(program_, version_);
}

}  // namespace kt::platform
