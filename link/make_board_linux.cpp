// SPDX-License-Identifier: MIT
// The boards of a Linux build: the build's own library board, a kernel IIO DAC, a spidev port
// and a USB-SPI bridge.
#include "link/board_name.h"
#include "link/ftdi_board.h"
#include "link/iio_board.h"
#include "link/spidev_board.h"

std::unique_ptr<kt::link::Board> kt::link::MakeBoard(const BoardName& named) {
  switch (named.Road) {
    case BoardName::Kind::Iio:
      return std::make_unique<IioBoard>(named.Uri, named.Device);
    case BoardName::Kind::Spidev:
      return std::make_unique<SpidevBoard>(named.Path, named.Mode, named.Hz);
    case BoardName::Kind::Ftdi:
      return std::make_unique<FtdiBoard>(named.Ftdi);
    case BoardName::Kind::Library:
      break;
  }
  return nullptr;
}
