// SPDX-License-Identifier: MIT
#pragma once

#include "core/app_state.h"

namespace kt {

/// The entry formats, as held in AppState::EntryFormat and on the format button.
inline constexpr const char* kHexFormat = "Hex";
inline constexpr const char* kDecFormat = "Dec";

/// The defaults that start-up sets before the device window opens: hexadecimal entry and the
/// 24-bit frame of a 16-bit device. The device window's first selection overwrites the pair.
void SetStartDefaults(AppState& app);

}  // namespace kt
