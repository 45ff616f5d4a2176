// SPDX-License-Identifier: MIT
#include "link/boardio_binding.h"

namespace kt::link {

BoardIoBinding& BoardIo() {
  static BoardIoBinding binding(platform::LibraryFileName(kBoardIoName));
  return binding;
}

}  // namespace kt::link
