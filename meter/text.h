// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/printable.h"

// What a meter sends, as text to show and as readings to take: the meter is a peer, and
// nothing it sends reaches a terminal, a file or a report as it came.
namespace kt::meter {

/// A peer's text fit to show anywhere: the one rule for every text handed back.
using kt::Printable;

/// @brief A meter's answer read as a reading: the value, or why it is none.
struct Reading {
  std::optional<double> Value;
  std::string Why;  ///< "not a number", "an overload, ...", when there is no value
};

/// Reads a reading as SCPI meters give it: the whole answer (spaces around it aside) a
/// decimal number (sign, digits, point, exponent; no hexadecimal, no NaN or infinity), and
/// not an overload: 9.9E37 of either sign, or, when the range is known, beyond ten times it.
Reading ReadReading(std::string_view answer, std::optional<double> range = std::nullopt);

}  // namespace kt::meter
