// SPDX-License-Identifier: MIT
// The About window's registry value decoding on any bytes, type and size, against the rules
// written out here: a last byte of 0 dropped, strings as stored (expandable ones expanded),
// numbers as "&h" and two digits a byte, most significant first.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/error.h"
#include "fakes/fake_registry.h"
#include "platform/process.h"
#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return -1;
  std::uint32_t type = 0;
  std::uint16_t length = 0;
  std::memcpy(&type, data, 4);
  std::memcpy(&length, data + 4, 2);
  type %= 8;
  length %= 1100;  // around the 1024-byte limit
  std::vector<std::uint8_t> bytes(data + 6, data + size);
  bytes.resize(length, 0);

  kt::test::FakeRegistry registry;
  const std::string key = R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)";
  registry.Set(key, "PATH", type, bytes);
  std::string value = "as passed";
  bool read = false;
  try {
    read = kt::platform::GetKeyValue(registry, kt::platform::kLocalMachine, key, "PATH", value);
  } catch (const kt::Error&) {
    if (length != 0) std::abort();
    return 0;
  }
  if (length == 0) std::abort();
  if (length > 1024) {
    if (read || !value.empty()) std::abort();
    return 0;
  }
  if (!read) std::abort();
  const std::size_t kept = bytes.back() == 0 ? length - 1u : length;
  const std::string text(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
  if (type == kt::platform::kRegString && value != text) std::abort();
  if (type == kt::platform::kRegExpandString && value != kt::platform::ExpandEnvironment(text))
    std::abort();
  if (type == kt::platform::kRegNumber) {
    // "&h", then two digits a byte from the last kept byte to the first.
    std::string digits = "&h";
    for (std::size_t i = kept; i-- > 0;) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      digits += kHex[bytes[i] / 16];
      digits += kHex[bytes[i] % 16];
    }
    if (value != digits) std::abort();
  }
  if (type != 1 && type != 2 && type != 4 && value != "as passed") std::abort();
  return 0;
}
