// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kt::platform {

/// The file name under which the system looks for a library given by its bare name:
/// "BoardIO" is "BoardIO" on Windows (the loader adds ".dll") and "libBoardIO.so" elsewhere.
std::string LibraryFileName(const std::string& bareName);

/// Windows: takes the current directory and PATH out of the search for every library the
/// process loads from now on (the program's own folder and the system folder remain). Call
/// first thing in main. Elsewhere it does nothing: the programs' RUNPATH is their folder.
void RestrictLibrarySearch();

/// @brief One dynamically loaded library, loaded for the rest of the run: it is never
/// unloaded, as the board libraries keep their connection in process state.
class DynamicLibrary {
 public:
  /// Loads the library by path or by file name. A path is loaded from there alone; on
  /// Windows the library's own dependencies are then looked up beside it and in the system
  /// folder. A bare file name is looked up, on Windows, in the program's folder and the
  /// system folder only (never the current directory or PATH), elsewhere through the
  /// system's search, which includes the program's RUNPATH. Throws kt::Error naming the file,
  /// where it was looked for and the loader's own reason.
  static DynamicLibrary Open(const std::string& file);

  /// The first of the paths that loads; when none does, the error names every one.
  static DynamicLibrary OpenFirst(const std::vector<std::string>& paths);

  /// The address of the exported entry, or nullptr when the library has no such entry.
  [[nodiscard]] void* Find(const char* entry) const;

  [[nodiscard]] const std::string& File() const { return file_; }

 private:
  DynamicLibrary(std::string file, void* handle) : file_(std::move(file)), handle_(handle) {}

  std::string file_;
  void* handle_;
};

}  // namespace kt::platform
