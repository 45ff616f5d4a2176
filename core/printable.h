// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace kt {

/// Text a device, a peer or a user hands back (a meter's answer, an IIO device's name, a
/// path), fit to show anywhere (a terminal, JSON, HTML, a CSV line): valid UTF-8 with no
/// control character. Control characters (C0, DEL, and C1 whether as UTF-8 or as a bare
/// byte, which terminals take as escapes) and bytes that are not UTF-8 become \xNN; a
/// backslash is doubled, so that what is shown reads back as what came.
std::string Printable(std::string_view text);

}  // namespace kt
