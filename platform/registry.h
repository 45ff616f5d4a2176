// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace kt::platform {

/// The registry root the program reads, and the value types it knows.
inline constexpr std::uint32_t kLocalMachine = 0x80000002;
inline constexpr std::uint32_t kRegString = 1;
inline constexpr std::uint32_t kRegExpandString = 2;
inline constexpr std::uint32_t kRegNumber = 4;

/// @brief The registry as the program reads it: keys opened for reading, values read into a
/// caller's buffer, text in UTF-8. Windows has the real one; tests put a fake in its place.
class Registry {
 public:
  using Key = std::uintptr_t;

  virtual ~Registry() = default;
  /// Opens a key for reading; returns 0 and the key, or the system's error code.
  virtual long Open(std::uint32_t root, const std::string& path, Key& key) = 0;
  /// Reads a value as RegQueryValueExA does, but with text in UTF-8 (read as UTF-16 on
  /// Windows): on entry `size` is the buffer's capacity, on return the bytes stored (or
  /// needed, with the "more data" error when they do not fit).
  virtual long Query(Key key, const std::string& name, std::uint32_t& type, std::uint8_t* buffer,
                     std::uint32_t& size) = 0;
  virtual void Close(Key key) = 0;
};

/// The system's registry: advapi32 on Windows. Elsewhere a stand-in that knows one value,
/// the System Information tool's path, answered with the first common system information
/// program found on the PATH.
Registry& SystemRegistry();

/// Reads a value into `value`: a string as stored, without its terminating 0; an expandable
/// string with its environment variables expanded; a 32-bit number as "&h" and two
/// hexadecimal digits a byte, most significant first, without a top byte of 0 (trimmed as
/// a string's terminator is: the bytes 03 02 01 00 read "&h010203"). Another type leaves `value` as
/// passed in and still counts as read. Returns false, with `value` emptied, when the key cannot be
/// opened or the value cannot be read (also when it is longer than 1024 bytes). A value of zero
/// bytes raises kt::Error.
bool GetKeyValue(Registry& registry, std::uint32_t root, const std::string& keyName,
                 const std::string& valueName, std::string& value);

}  // namespace kt::platform
