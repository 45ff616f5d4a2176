// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kt::link {

/// Bytes in the path buffer handed to the board library: 512 path bytes and a terminator.
inline constexpr std::size_t kPathBufferSize = 513;

using PathBufferBytes = std::array<std::uint8_t, kPathBufferSize>;

/// Copies a path into the buffer as 8-bit characters (see platform::ToSingleByte) followed by
/// a 0 byte; bytes after the terminator keep what a longer path left there. A path that does
/// not fit (more than 512 bytes), holds a character without a single-byte code, or holds a
/// 0 byte raises kt::Error naming the path, and leaves the buffer untouched.
void FillPathBuffer(PathBufferBytes& buffer, const std::string& path);

}  // namespace kt::link
