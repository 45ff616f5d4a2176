// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "link/lazy_library.h"

namespace kt::link {

/// @brief Binding to the first-generation board library (BoardIO), which keeps the board
/// implicit. Its entries carry the decorated names of 32-bit __stdcall C++ functions.
class BoardIoBinding {
 public:
  using InitLinkFn = std::int16_t(KT_STDCALL*)(char* path);
  using LinkControlFn = std::int16_t(KT_STDCALL*)(std::int16_t request, std::int32_t value,
                                                  std::int32_t index, std::int16_t zero,
                                                  std::int16_t zero2, char* buffer);

  static constexpr const char* kInitLinkName = "?InitLink@@YGFPAD@Z";
  static constexpr const char* kLinkControlName = "?LinkControl@@YGFFJJFFPAD@Z";

  explicit BoardIoBinding(std::string file) : library_(std::move(file)) {}
  BoardIoBinding(const BoardIoBinding&) = delete;
  BoardIoBinding& operator=(const BoardIoBinding&) = delete;

  std::int16_t InitLink(char* path) { return initLink_.Get()(path); }
  std::int16_t LinkControl(std::int16_t request, std::int32_t value, std::int32_t index,
                           std::int16_t zero, std::int16_t zero2, char* buffer) {
    return linkControl_.Get()(request, value, index, zero, zero2, buffer);
  }

  [[nodiscard]] const LazyLibrary& Library() const { return library_; }

 private:
  LazyLibrary library_;
  LazyEntry<InitLinkFn> initLink_{library_, kInitLinkName};
  LazyEntry<LinkControlFn> linkControl_{library_, kLinkControlName};
};

/// The library's bare name, found by the system's usual search (beside the program first).
inline constexpr const char* kBoardIoName = "BoardIO";

/// The program's one binding, to the library named kBoardIoName.
BoardIoBinding& BoardIo();

}  // namespace kt::link
