// SPDX-License-Identifier: MIT
// Windows has no portmapper of its own to register with.
#include "platform/portmap.h"

namespace kt::platform {

RpcRegistration::RpcRegistration(std::uint32_t program, std::uint32_t version, std::uint16_t port,
                                 const std::string&)
    : program_(program), version_(version), port_(port), why_("this system has no portmapper") {}

RpcRegistration::~RpcRegistration() = default;

}  // namespace kt::platform
