// SPDX-License-Identifier: MIT
// The second-generation library's fixed path, alone in its object file: a program (or a
// fault test) that defines kBoardLinkPath itself is linked without this one.
#include "link/boardlink_binding.h"

#ifndef KT_BOARDLINK_PATH
#error "KT_BOARDLINK_PATH must name the second-generation board library"
#endif

const char* const kt::link::kBoardLinkPath = KT_BOARDLINK_PATH;
