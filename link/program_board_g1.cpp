// SPDX-License-Identifier: MIT
// The board of a program built for the first-generation library: the one place that chooses it.
#include "link/boardio_board.h"

kt::link::VendorBoard& kt::link::ProgramBoard() {
  static BoardIoBoard board;
  return board;
}
