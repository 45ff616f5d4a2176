// SPDX-License-Identifier: MIT
// FillPathBuffer on any bytes of any length: either the buffer holds the path and its
// terminator and nothing else changed, or it raised the error and the buffer is unchanged.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/error.h"
#include "link/path_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;
  kt::link::PathBufferBytes buffer;
  buffer.fill(data[0]);  // what an earlier path may have left there
  const kt::link::PathBufferBytes before = buffer;
  const std::string path(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool fits = path.size() <= 512 && path.find('\0') == std::string::npos;
  try {
    kt::link::FillPathBuffer(buffer, path);
  } catch (const kt::Error&) {
    if (fits || buffer != before) std::abort();
    return 0;
  }
  if (!fits) std::abort();
  if (!std::equal(path.begin(), path.end(), buffer.begin(),
                  [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }))
    std::abort();
  if (buffer[path.size()] != 0) std::abort();
  if (!std::equal(buffer.begin() + static_cast<std::ptrdiff_t>(path.size()) + 1, buffer.end(),
                  before.begin() + static_cast<std::ptrdiff_t>(path.size()) + 1))
    std::abort();
  return 0;
}
