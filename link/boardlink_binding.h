// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/lazy_library.h"

namespace kt::link {

/// @brief Binding to the second-generation board library (CVR_BOARDLINK), which searches
/// for boards, connects and returns a handle. Entries are resolved at their first call.
class BoardLinkBinding {
 public:
  using ScanBusFn = std::int16_t(KT_STDCALL*)(std::int32_t vendor, std::int32_t product,
                                              std::int32_t* count, std::uint8_t* list);
  using OpenLinkFn = std::int16_t(KT_STDCALL*)(std::int32_t vendor, std::int32_t product,
                                               std::uint8_t board, std::uint32_t* handle);
  using LoadCodeFn = std::int16_t(KT_STDCALL*)(std::uint32_t handle, char* path);
  using ControlTransferFn = std::int16_t(KT_STDCALL*)(std::uint32_t handle, std::uint8_t request,
                                                      std::int32_t value, std::int32_t index,
                                                      std::uint8_t zero, std::int16_t zero2,
                                                      std::uint8_t* buffer);

  explicit BoardLinkBinding(std::string file) : library_(std::move(file)) {}
  /// A library that may stand in more than one place, the first tried first.
  explicit BoardLinkBinding(std::vector<std::string> places) : library_(std::move(places)) {}
  BoardLinkBinding(const BoardLinkBinding&) = delete;
  BoardLinkBinding& operator=(const BoardLinkBinding&) = delete;

  std::int16_t Scan_Bus(std::int32_t vendor, std::int32_t product, std::int32_t* count,
                        std::uint8_t* list) {
    return scanBus_.Get()(vendor, product, count, list);
  }
  std::int16_t Open_Link(std::int32_t vendor, std::int32_t product, std::uint8_t board,
                         std::uint32_t* handle) {
    return openLink_.Get()(vendor, product, board, handle);
  }
  std::int16_t Load_Code(std::uint32_t handle, char* path) { return loadCode_.Get()(handle, path); }
  std::int16_t Control_Transfer(std::uint32_t handle, std::uint8_t request, std::int32_t value,
                                std::int32_t index, std::uint8_t zero, std::int16_t zero2,
                                std::uint8_t* buffer) {
    return controlTransfer_.Get()(handle, request, value, index, zero, zero2, buffer);
  }

  [[nodiscard]] const LazyLibrary& Library() const { return library_; }

 private:
  LazyLibrary library_;
  LazyEntry<ScanBusFn> scanBus_{library_, "Scan_Bus"};
  LazyEntry<OpenLinkFn> openLink_{library_, "Open_Link"};
  LazyEntry<LoadCodeFn> loadCode_{library_, "Load_Code"};
  LazyEntry<ControlTransferFn> controlTransfer_{library_, "Control_Transfer"};
};

/// The library's fixed absolute path, set when the program is built.
extern const char* const kBoardLinkPath;

/// Where the library at kBoardLinkPath is looked for: that path first and, where it lies in
/// the program-files folder and nothing is there, the same folder under the 32-bit
/// program-files folder (where a 32-bit driver package installs on 64-bit Windows).
std::vector<std::string> BoardLinkPlaces();

/// The program's one binding, to the library at kBoardLinkPath unless BindBoardLinkTo chose
/// another file first.
BoardLinkBinding& BoardLink();

/// Binds BoardLink() to another library file (the command-line companion's --library).
/// Raises kt::Error once a library has been loaded: nothing is ever unloaded.
void BindBoardLinkTo(const std::string& file);

}  // namespace kt::link
