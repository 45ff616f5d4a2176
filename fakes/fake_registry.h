// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace kt::test {

/// @brief A registry held in memory. No real registry runs here (the real one is Windows'),
/// so this stands in for it; it answers byte for byte as RegQueryValueExA does.
class FakeRegistry : public platform::Registry {
 public:
  struct Value {
    std::uint32_t Type;
    std::vector<std::uint8_t> Bytes;
  };

  void Set(const std::string& key, const std::string& name, std::uint32_t type,
           std::vector<std::uint8_t> bytes) {
    keys_[key][name] = Value{type, std::move(bytes)};
  }
  void SetString(const std::string& key, const std::string& name, const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    Set(key, name, platform::kRegString, std::move(bytes));
  }

  long Open(std::uint32_t root, const std::string& path, Key& key) override {
    key = 0;
    if (root != platform::kLocalMachine || !keys_.count(path)) return 2;
    opened_.push_back(path);
    key = opened_.size();
    return 0;
  }
  long Query(Key key, const std::string& name, std::uint32_t& type, std::uint8_t* buffer,
             std::uint32_t& size) override {
    const auto& values = keys_.at(opened_.at(key - 1));
    const auto found = values.find(name);
    if (found == values.end()) return 2;
    type = found->second.Type;
    const auto needed = static_cast<std::uint32_t>(found->second.Bytes.size());
    if (needed > size) {
      size = needed;
      return 234;
    }
    std::copy(found->second.Bytes.begin(), found->second.Bytes.end(), buffer);
    size = needed;
    return 0;
  }
  void Close(Key key) override { closed_.push_back(key); }

  const std::vector<Key>& Closed() const { return closed_; }

 private:
  std::map<std::string, std::map<std::string, Value>> keys_;
  std::vector<std::string> opened_;
  std::vector<Key> closed_;
};

}  // namespace kt::test
