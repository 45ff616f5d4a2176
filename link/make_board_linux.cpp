// SPDX-License-Identifier: MIT
// The boards of a Linux build: the build's own library board, a kernel IIO DAC and a spidev port.
#include "link/board_spec.h"
#include "link/iio_board.h"
#include "link/spidev_board.h"

std::unique_ptr<kt::link::Board> kt::link::MakeBoard(const BoardSpec& spec) {
  switch (spec.Road) {
    case BoardSpec::Kind::Iio:
      return std::make_unique<IioBoard>(spec.Uri, spec.Device);
    case BoardSpec::Kind::Spidev:
      return std::make_unique<SpidevBoard>(spec.Path, spec.Mode, spec.Hz);
    case BoardSpec::Kind::Library:
      break;
  }
  return nullptr;
}
