// SPDX-License-Identifier: MIT
// A characterization's code plan: any text either is refused as a usage error, or gives
// codes that ascend without repeats from 0 to the last code, and whose canonical form reads
// back (in decimal) to the same codes and the same form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "characterize/code_plan.h"
#include "console/parsing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte: the format, and a small or a real DAC's last code.
  const bool hexadecimal = (data[0] & 1) != 0;
  const std::int32_t last = (data[0] & 2) != 0 ? 0x3FFF : 0x3F;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  kt::characterize::CodePlan plan;
  try {
    plan = kt::characterize::ParseCodePlan(text, hexadecimal, last);
  } catch (const kt::cli::UsageError&) {
    return 0;
  }
  const auto& codes = plan.Codes;
  if (codes.empty() || codes.front() != 0 || codes.back() != last) std::abort();
  for (std::size_t i = 1; i < codes.size(); ++i)
    if (codes[i] <= codes[i - 1]) std::abort();
  const kt::characterize::CodePlan again = kt::characterize::ParseCodePlan(plan.Text, false, last);
  if (again.Codes != codes || again.Text != plan.Text) std::abort();
  return 0;
}
