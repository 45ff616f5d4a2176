// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>

// Styles and small operations that the forms' controls share.
namespace kt::win32 {

/// An option button; the first of a group starts the group and takes the Tab key.
constexpr DWORD OptionStyle(bool firstOfGroup) {
  return BS_AUTORADIOBUTTON | (firstOfGroup ? WS_GROUP | WS_TABSTOP : 0);
}

/// A push button that Tab reaches, starting a group of its own.
constexpr DWORD ButtonStyle(bool firstOfGroup) {
  return BS_PUSHBUTTON | WS_TABSTOP | (firstOfGroup ? WS_GROUP : 0);
}

/// A one-line text box with the system's sunken border, no length limit applied.
constexpr DWORD TextBoxStyle() { return WS_TABSTOP | WS_GROUP | WS_BORDER | ES_AUTOHSCROLL; }

/// Checks one option of a group and clears the others, as a click would.
inline void CheckOnly(std::span<const HWND> options, std::size_t chosen) {
  for (std::size_t i = 0; i < options.size(); ++i)
    SendMessageW(options[i], BM_SETCHECK, i == chosen ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace kt::win32
