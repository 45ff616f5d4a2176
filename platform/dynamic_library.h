// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

namespace kt::platform {

/// The file name under which the system looks for a library given by its bare name:
/// "BoardIO" is "BoardIO" on Windows (the loader adds ".dll") and "libBoardIO.so" elsewhere.
std::string LibraryFileName(const std::string& bareName);

/// @brief One dynamically loaded library, loaded for the rest of the run: it is never
/// unloaded, as the board libraries keep their connection in process state.
class DynamicLibrary {
 public:
  /// Loads the library by path or by file name (then through the system's usual search,
  /// which on Linux includes the program's RUNPATH). Throws kt::Error naming the file and
  /// giving the loader's own reason.
  static DynamicLibrary Open(const std::string& file);

  /// The address of the exported entry, or nullptr when the library has no such entry.
  [[nodiscard]] void* Find(const char* entry) const;

  [[nodiscard]] const std::string& File() const { return file_; }

 private:
  DynamicLibrary(std::string file, void* handle) : file_(std::move(file)), handle_(handle) {}

  std::string file_;
  void* handle_;
};

}  // namespace kt::platform
