// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where a program message ends in the bytes a client sends, and the IEEE 488.2
// definite-length blocks (#NLLL followed by LLL bytes of any value) it carries: a block's
// bytes are data, never a terminator, separator or quote.
namespace kt::remote {

/// The longest block taken, in bytes.
inline constexpr std::size_t kMaxBlock = 256 * 1024;

/// @brief Where a block sits in a message: its "#", and its whole length, header included.
struct Block {
  std::size_t At, Size;
};

/// @brief The first message in received bytes: whole (`Size` bytes, its LF included), not
/// yet whole, or longer than allowed (more than `maxText` bytes outside blocks, or a block
/// over kMaxBlock), which cannot be read on.
struct Framing {
  enum class End { More, Whole, Overlong } What = End::More;
  std::size_t Size = 0;  ///< Whole: the message's bytes; Overlong: where the limit was passed
  bool Block = false;    ///< Overlong: a block's length went past kMaxBlock
};
Framing FindMessage(std::string_view bytes, std::size_t maxText);

/// The blocks of a whole message (without its terminator), in order. Raises nothing: a block
/// cut short, or whose length is not digits, is said in `error` and ends the list.
std::vector<Block> FindBlocks(std::string_view message, std::string& error);

/// A block parameter's data; none when the parameter is not a block.
std::optional<std::string_view> BlockData(std::string_view parameter);

}  // namespace kt::remote
