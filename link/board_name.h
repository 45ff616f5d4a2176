// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/board.h"

// Which board a program drives, as --board names it, the same in every program.
namespace kt::link {

/// @brief A board as --board names it: the build's own library board (nothing given),
/// `iio:URI[,device=NAME]` or `spidev:/dev/spidevB.C[,mode=N][,hz=N]`.
struct BoardName {
  enum class Kind { Library, Iio, Spidev };
  Kind Road = Kind::Library;
  std::string Uri;               ///< iio: the libiio context URI (local:, ip:HOST, ...)
  std::string Device;            ///< iio: the device's name or id; empty to find the one DAC there
  std::string Path;              ///< spidev: the device node
  int Mode = 1;                  ///< spidev: SPI mode 0..3 (1: data taken on the falling edge)
  std::uint32_t Hz = 1'000'000;  ///< spidev: the clock
};

/// The spidev clock's bounds: below, nothing a controller offers; above, no DAC of the
/// family follows.
inline constexpr std::uint32_t kLowestSpiHz = 1'000;
inline constexpr std::uint32_t kHighestSpiHz = 50'000'000;

/// What --board takes, for usage texts.
inline constexpr const char* kBoardUsage =
    "iio:URI[,device=NAME] or spidev:/dev/spidevB.C[,mode=N][,hz=N]";

/// Reads --board's value; an empty text is the build's own library board. Raises kt::Error
/// saying what is wrong with the text.
BoardName ReadBoardName(std::string_view text);

/// The board so named, or nothing for the build's own library board. Raises kt::Error
/// when this build cannot reach such a board (IIO and spidev are Linux's).
std::unique_ptr<Board> MakeBoard(const BoardName& named);

/// The board a program drives: the one named, kept in `made`, or `own` when the name is
/// the build's own. Raises kt::Error as MakeBoard does.
inline Board& ChooseBoard(const BoardName& named, Board& own, std::unique_ptr<Board>& made) {
  made = MakeBoard(named);
  return made ? *made : own;
}

}  // namespace kt::link
