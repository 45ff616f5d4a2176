// SPDX-License-Identifier: MIT
// The boards of a build without Linux's kernel interfaces: the build's own library board alone.
#include "core/error.h"
#include "link/board_spec.h"

std::unique_ptr<kt::link::Board> kt::link::MakeBoard(const BoardSpec& spec) {
  if (spec.Road == BoardSpec::Kind::Library) return nullptr;
  throw Error(std::string("this build reaches the evaluation board's library only: ") +
              (spec.Road == BoardSpec::Kind::Iio ? "IIO" : "spidev") +
              " boards are in the Linux programs");
}
