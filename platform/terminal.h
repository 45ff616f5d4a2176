// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>

namespace kt::platform {

/// Whether the stream is a terminal.
bool IsTerminal(std::FILE* file);

/// The width in columns of the terminal standard error shows in, or 0 when it does not say.
int StandardErrorColumns();

}  // namespace kt::platform
