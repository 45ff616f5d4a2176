// SPDX-License-Identifier: MIT
// The portmapper through libtirpc: rpcbind, reached on this machine.
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>

#include "platform/portmap.h"

namespace kt::platform {

RpcRegistration::RpcRegistration(std::uint32_t program, std::uint32_t version, std::uint16_t port)
    : program_(program), version_(version) {
  // An earlier run that ended without unregistering left its entry: it is replaced.
  pmap_unset(program, version);
  registered_ = pmap_set(program, version, IPPROTO_TCP, port) != 0;
  if (!registered_) why_ = "no portmapper (rpcbind) runs on this machine";
}

RpcRegistration::~RpcRegistration() {
  if (registered_) pmap_unset(program_, version_);
}

}  // namespace kt::platform
