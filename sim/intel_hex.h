// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kt::sim {

/// @brief What the board's boot loader makes of a firmware file.
struct HexCheck {
  bool Ok = false;
  std::size_t DataBytes = 0;  ///< bytes carried by data records
  std::size_t Line = 0;       ///< the first bad line (from 1) when not Ok
  std::string Fault;          ///< why that line is bad
};

/// Checks an Intel HEX image: every non-blank line a record (":" LL AAAA TT data CC) of a
/// known type whose checksum sums to 0, ending with an end-of-file record and nothing after.
HexCheck CheckIntelHex(std::string_view image);

}  // namespace kt::sim
