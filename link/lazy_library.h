// SPDX-License-Identifier: MIT
#pragma once

#include <bit>
#include <optional>
#include <string>
#include <vector>

#include "platform/calling_convention.h"
#include "platform/dynamic_library.h"

namespace kt::link {

/// @brief A library bound by name that is loaded at the first call of any of its entries
/// and then kept for the rest of the run.
class LazyLibrary {
 public:
  explicit LazyLibrary(std::string file) : file_(file), places_{std::move(file)} {}
  /// A library that may stand in more than one place: the first that loads is taken.
  explicit LazyLibrary(std::vector<std::string> places)
      : file_(places.empty() ? std::string() : places.front()), places_(std::move(places)) {}

  /// Loads the library if it is not loaded yet and returns the entry's address. Throws
  /// kt::Error naming the file when the library cannot be loaded, or the entry when the
  /// library lacks it.
  void* Resolve(const char* entry);

  [[nodiscard]] bool IsLoaded() const { return library_.has_value(); }
  [[nodiscard]] const std::string& File() const { return file_; }

 private:
  std::string file_;
  std::vector<std::string> places_;
  std::optional<platform::DynamicLibrary> library_;
};

/// @brief One typed entry of a LazyLibrary, looked up at its own first call and kept.
template <typename FunctionPointer>
class LazyEntry {
 public:
  LazyEntry(LazyLibrary& library, const char* name) : library_(library), name_(name) {}

  FunctionPointer Get() {
    if (!function_) function_ = std::bit_cast<FunctionPointer>(library_.Resolve(name_));
    return function_;
  }

  [[nodiscard]] bool IsResolved() const { return function_ != nullptr; }

 private:
  LazyLibrary& library_;
  const char* name_;
  FunctionPointer function_ = nullptr;
};

}  // namespace kt::link
