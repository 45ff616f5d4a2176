// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace kt::platform {

/// @brief A TCP RPC program registered with the system's portmapper (rpcbind on Linux)
/// while it lives, so that clients asking the portmapper on port 111 find its port.
class RpcRegistration {
 public:
  /// Registers the program at `port`, unless a running program holds its entry: one that
  /// answers at its port on `address` or loopback. Such an entry is left alone, then and at
  /// the end, and so is any entry that is not this one's when it ends.
  RpcRegistration(std::uint32_t program, std::uint32_t version, std::uint16_t port,
                  const std::string& address);
  ~RpcRegistration();
  RpcRegistration(const RpcRegistration&) = delete;
  RpcRegistration& operator=(const RpcRegistration&) = delete;

  /// Whether the portmapper took it; when not, `Why` says why (none runs, or the system has
  /// none to register with, as on Windows).
  [[nodiscard]] bool Registered() const { return registered_; }
  [[nodiscard]] const std::string& Why() const { return why_; }
  /// Whether another running program holds the entry.
  [[nodiscard]] bool HeldByAnother() const { return heldByAnother_; }

 private:
  std::uint32_t program_, version_;
  std::uint16_t port_;
  bool registered_ = false;
  bool heldByAnother_ = false;
  std::string why_;
};

}  // namespace kt::platform
