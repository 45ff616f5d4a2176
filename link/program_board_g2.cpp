// SPDX-License-Identifier: MIT
// The board of a program built for the second-generation library: the one place that chooses it.
#include "link/boardlink_board.h"

kt::link::VendorBoard& kt::link::ProgramBoard() {
  static BoardLinkBoard board;
  return board;
}
