// SPDX-License-Identifier: MIT
#include "link/boardlink_binding.h"

#ifndef KT_BOARDLINK_PATH
#error "KT_BOARDLINK_PATH must name the second-generation board library"
#endif

namespace kt::link {

const char* const kBoardLinkPath = KT_BOARDLINK_PATH;

BoardLinkBinding& BoardLink() {
  static BoardLinkBinding binding(kBoardLinkPath);
  return binding;
}

}  // namespace kt::link
