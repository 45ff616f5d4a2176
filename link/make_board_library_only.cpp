// SPDX-License-Identifier: MIT
// The boards of a build without Linux's kernel interfaces: the build's own library board alone.
#include "core/error.h"
#include "link/board_name.h"

std::unique_ptr<kt::link::Board> kt::link::MakeBoard(const BoardName& named) {
  if (named.Road == BoardName::Kind::Library) return nullptr;
  throw Error(std::string("this build reaches the evaluation board's library only: ") +
              (named.Road == BoardName::Kind::Iio      ? "IIO"
               : named.Road == BoardName::Kind::Spidev ? "spidev"
                                                       : "USB-SPI bridge (ftdi:)") +
              " boards are in the Linux programs (Debian has no libftdi1 for Windows builds)");
}
