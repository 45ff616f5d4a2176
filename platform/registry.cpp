// SPDX-License-Identifier: MIT
#include "platform/registry.h"

#include <array>

#include "core/error.h"
#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/wide.h"
#endif

namespace kt::platform {

namespace {

constexpr std::uint32_t kValueBufferSize = 1024;

std::string HexDigits(const std::uint8_t* bytes, std::uint32_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint32_t i = count; i-- > 0;) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

#ifdef _WIN32

// The registry keeps text in UTF-16; the program reads it so and hands it on as UTF-8, so
// that a folder of any language is read as it stands (the ANSI calls would turn what the
// code page lacks into question marks).
class WindowsRegistry final : public Registry {
 public:
  long Open(std::uint32_t root, const std::string& path, Key& key) override {
    HKEY handle = nullptr;
    const LONG result = RegOpenKeyExW(reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(root)),
                                      ToWide(path).c_str(), 0, KEY_READ, &handle);
    key = reinterpret_cast<Key>(handle);
    return result;
  }
  long Query(Key key, const std::string& name, std::uint32_t& type, std::uint8_t* buffer,
             std::uint32_t& size) override {
    const std::wstring wideName = ToWide(name);
    DWORD valueType = 0;
    DWORD stored = 0;
    LONG result = RegQueryValueExW(reinterpret_cast<HKEY>(key), wideName.c_str(), nullptr,
                                   &valueType, nullptr, &stored);
    if (result != ERROR_SUCCESS) return result;
    std::vector<BYTE> data(stored);
    result = RegQueryValueExW(reinterpret_cast<HKEY>(key), wideName.c_str(), nullptr, &valueType,
                              data.data(), &stored);
    if (result != ERROR_SUCCESS) return result;
    data.resize(stored);
    std::string bytes(data.begin(), data.end());
    if (valueType == REG_SZ || valueType == REG_EXPAND_SZ) {
      // UTF-16 to UTF-8; a terminating zero stays one zero byte, an odd last byte is dropped.
      std::wstring text(stored / sizeof(wchar_t), L'\0');
      std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
      bytes = FromWide(text);
    }
    type = valueType;
    if (bytes.size() > size) {
      size = static_cast<std::uint32_t>(bytes.size());
      return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    size = static_cast<std::uint32_t>(bytes.size());
    return ERROR_SUCCESS;
  }
  void Close(Key key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }
};

#else

// Without a registry, the one question the program asks, where the System Information tool
// is, is answered from the PATH.
class StandInRegistry final : public Registry {
 public:
  long Open(std::uint32_t root, const std::string& path, Key& key) override {
    key = 0;
    if (root != kLocalMachine || path != R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)") return 2;
    key = 1;
    return 0;
  }
  long Query(Key key, const std::string& name, std::uint32_t& type, std::uint8_t* buffer,
             std::uint32_t& size) override {
    if (key != 1 || name != "PATH") return 2;
    std::string tool;
    for (const char* candidate : {"hardinfo2", "hardinfo", "kinfocenter", "gnome-system-monitor",
                                  "xfce4-taskmanager", "lxtask"}) {
      tool = FindOnPath(candidate);
      if (!tool.empty()) break;
    }
    if (tool.empty()) return 2;
    const auto needed = static_cast<std::uint32_t>(tool.size() + 1);
    if (needed > size) {
      size = needed;
      return 234;  // more data
    }
    std::copy(tool.begin(), tool.end(), buffer);
    buffer[tool.size()] = 0;
    type = kRegString;
    size = needed;
    return 0;
  }
  void Close(Key) override {}
};

#endif

}  // namespace

Registry& SystemRegistry() {
#ifdef _WIN32
  static WindowsRegistry registry;
#else
  static StandInRegistry registry;
#endif
  return registry;
}

bool GetKeyValue(Registry& registry, std::uint32_t root, const std::string& keyName,
                 const std::string& valueName, std::string& value) {
  Registry::Key key = 0;
  if (registry.Open(root, keyName, key) != 0) {
    value.clear();
    return false;  // nothing was opened, so nothing is closed
  }
  std::array<std::uint8_t, kValueBufferSize> buffer{};
  std::uint32_t type = 0;
  std::uint32_t size = kValueBufferSize;
  const long result = registry.Query(key, valueName, type, buffer.data(), size);
  registry.Close(key);
  if (result != 0 || size > kValueBufferSize) {
    value.clear();
    return false;
  }
  if (size == 0) {
    throw Error("registry value \"" + valueName + "\" of " + keyName + " is empty");
  }
  const auto* bytes = buffer.data();
  // Every type loses a last byte of 0, as a string's terminator: a string stored without
  // one keeps every byte, and a number whose top byte is 0 keeps only the bytes below it.
  const std::uint32_t length = bytes[size - 1] == 0 ? size - 1 : size;
  switch (type) {
    case kRegString:
    case kRegExpandString:
      value.assign(reinterpret_cast<const char*>(bytes), length);
      if (type == kRegExpandString) value = ExpandEnvironment(value);
      break;
    case kRegNumber:
      value = "&h" + HexDigits(bytes, length);
      break;
    default:
      break;
  }
  return true;
}

}  // namespace kt::platform
