// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// SCPI (SCPI-1999, IEEE 488.2) program messages: splitting a message into units, matching
// headers against command patterns, and reading numbers. Knows no command and no board.
namespace kt::remote {

/// The standard text of a code ("Data out of range" for -222).
std::string StandardText(int code);

/// A numeric parameter in any IEEE 488.2 form: decimal (sign, digits, full stop, exponent)
/// or non-decimal #H, #Q, #B. Nothing when the text is not a number.
std::optional<double> ParseNumber(std::string_view text);

/// @brief A parameter that must be a number: its value, or the SCPI error it is (-109
/// missing, -104 not numeric data, -120 not a number).
struct Number {
  double Value = 0;
  int Error = 0;
};
Number ReadNumber(std::string_view text);

/// A number as a response gives it: up to nine significant digits.
std::string FormatNumber(double value);

/// An error as SYSTem:ERRor? answers it: the code, a comma and the text as an SCPI string,
/// in double quotes with each quote within doubled.
std::string ErrorEntry(int code, const std::string& text);

/// The longest error description SCPI allows, in characters.
inline constexpr std::size_t kMaxErrorText = 255;

/// The text in upper case (ASCII).
std::string Upper(std::string_view text);

/// @brief One node of a command's header, as SCPI spells it: the upper-case letters are the
/// short form, the whole the long form; either is accepted, in any case.
struct Node {
  std::string Long, Short;
  bool Optional;
};

/// A header pattern such as "[SOURce:]DAC:CODE" as its nodes.
std::vector<Node> Pattern(std::string_view spelling);

/// Whether an upper-case word is the node's long or short form.
bool Matches(const std::string& typed, const Node& node);

/// Whether the typed nodes (upper case) spell the pattern, its optional nodes left out or not.
bool Spells(const std::vector<std::string>& typed, const std::vector<Node>& pattern);

/// @brief One program message unit: its header, split into nodes, and its parameters.
struct Unit {
  bool Root = false;    ///< started with ":": the path starts afresh
  bool Common = false;  ///< a "*" command, which leaves the path alone
  bool Query = false;
  std::vector<std::string> Nodes;  ///< upper case; a common command's first with its "*"
  std::vector<std::string> Parameters;
  std::string Header;  ///< as typed, for an error's detail
  bool WellFormed = true;
};

/// @brief A program message split into its units, or the error that stops it first.
struct Message {
  std::vector<Unit> Units;
  int Error = 0;  ///< -101 or -102 for the whole message; 0 when every unit can run
  std::string Detail;
};

/// Splits a program message (a line, without its terminator) at the semicolons outside
/// quotes and reads each unit's header and parameters. A unit whose header is not well
/// formed is kept, marked, and ends the list: the units before it still run.
Message SplitMessage(std::string_view message);

}  // namespace kt::remote
