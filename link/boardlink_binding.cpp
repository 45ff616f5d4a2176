// SPDX-License-Identifier: MIT
#include "link/boardlink_binding.h"

namespace kt::link {

BoardLinkBinding& BoardLink() {
  static BoardLinkBinding binding(kBoardLinkPath);
  return binding;
}

}  // namespace kt::link
