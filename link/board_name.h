// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/board.h"
#include "link/mpsse.h"

// Which board a program drives, as --board names it, the same in every program.
namespace kt::link {

/// @brief Which USB-SPI bridge, as --board ftdi: names it.
struct FtdiChoice {
  std::uint16_t Vid = 0x0403, Pid = 0x6014;  ///< an FT232H by default
  std::string Serial;                        ///< empty: any
  std::optional<int> Index;                  ///< among those matching, from 0
  char Interface = 'A';                      ///< A..D (the FT2232H has A and B, the FT4232H A..D)
  mpsse::Wiring Wiring;
};

/// @brief A board as --board names it: the build's own library board (nothing given),
/// `iio:URI[,device=NAME]`, `spidev:/dev/spidevB.C[,mode=N][,hz=N]` or
/// `ftdi:[VID:PID][,serial=S][,index=N][,interface=A..D][,mode=N][,hz=N][,cs=N]`.
struct BoardName {
  enum class Kind { Library, Iio, Spidev, Ftdi };
  Kind Road = Kind::Library;
  std::string Uri;               ///< iio: the libiio context URI (local:, ip:HOST, ...)
  std::string Device;            ///< iio: the device's name or id; empty to find the one DAC there
  std::string Path;              ///< spidev: the device node
  int Mode = 1;                  ///< spidev: SPI mode 0..3 (1: data taken on the falling edge)
  std::uint32_t Hz = 1'000'000;  ///< spidev: the clock
  FtdiChoice Ftdi;               ///< ftdi: the chip and its wiring
};

/// The spidev clock's bounds: below, nothing a controller offers; above, no DAC of the
/// family follows.
inline constexpr std::uint32_t kLowestSpiHz = 1'000;
inline constexpr std::uint32_t kHighestSpiHz = 50'000'000;

/// What --board takes, for usage texts.
inline constexpr const char* kBoardUsage =
    "iio:URI[,device=NAME], spidev:/dev/spidevB.C[,mode=N][,hz=N] or "
    "ftdi:[VID:PID][,serial=S][,index=N][,interface=A..D][,mode=N][,hz=N][,cs=N]";

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
