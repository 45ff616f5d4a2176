// SPDX-License-Identifier: MIT
#include "link/path_buffer.h"

#include <algorithm>

#include "core/error.h"
#include "platform/program.h"

namespace kt::link {

void FillPathBuffer(PathBufferBytes& buffer, const std::string& path) {
  // Everything is checked before the first byte is written: a failed fill must not leave
  // a truncated, unterminated path for the library to read.
  const std::string bytes = platform::ToSingleByte(path);
  constexpr std::size_t kLongest = kPathBufferSize - 1;
  if (bytes.size() > kLongest) {
    throw Error("path of " + std::to_string(bytes.size()) + " bytes does not fit the " +
                std::to_string(kLongest) + "-byte path buffer: " + path);
  }
  if (bytes.find('\0') != std::string::npos) {
    throw Error("path holds a zero byte, which would cut it short: " + path);
  }
  std::transform(bytes.begin(), bytes.end(), buffer.begin(),
                 [](char c) { return static_cast<std::uint8_t>(c); });
  buffer[bytes.size()] = 0;
}

}  // namespace kt::link
