// SPDX-License-Identifier: MIT
#include "scpi/framing.h"

#include <fmt/format.h>

namespace kt::remote {

namespace {

// What starts at `at` of `bytes`: no block, one whose bytes have not all come, a whole one,
// or one that cannot be taken.
struct Scan {
  enum class Kind { None, Incomplete, Whole, TooLong, Malformed } What = Kind::None;
  std::size_t Size = 0;  // the whole block, for Whole
  std::string Why;       // for Malformed and TooLong
};

Scan ScanBlock(std::string_view bytes, std::size_t at) {
  // A block starts a parameter: "#" and a digit 1..9, after a blank or a comma. "#H", "#Q"
  // and "#B" are numbers; "#0", the indefinite form, is not taken.
  if (bytes[at] != '#' || at + 1 >= bytes.size() || bytes[at + 1] < '0' || bytes[at + 1] > '9')
    return {};
  if (at > 0 && bytes[at - 1] != ' ' && bytes[at - 1] != '\t' && bytes[at - 1] != ',') return {};
  if (bytes[at + 1] == '0')
    return {Scan::Kind::Malformed, 0, "an indefinite-length block (#0) is not taken"};
  const auto digits = static_cast<std::size_t>(bytes[at + 1] - '0');
  if (at + 2 + digits > bytes.size()) return {Scan::Kind::Incomplete, 0, {}};
  std::size_t length = 0;
  for (std::size_t i = at + 2; i < at + 2 + digits; ++i) {
    if (bytes[i] < '0' || bytes[i] > '9')
      return {Scan::Kind::Malformed, 0, "a block's length is not digits"};
    length = length * 10 + static_cast<std::size_t>(bytes[i] - '0');
    if (length > kMaxBlock)
      return {Scan::Kind::TooLong, 0, fmt::format("a block longer than {} bytes", kMaxBlock)};
  }
  const std::size_t size = 2 + digits + length;
  if (at + size > bytes.size()) return {Scan::Kind::Incomplete, 0, {}};
  return {Scan::Kind::Whole, size, {}};
}

}  // namespace

Framing FindMessage(std::string_view bytes, std::size_t maxText) {
  char quote = 0;
  std::size_t text = 0;  // bytes outside blocks, the terminator's CR not counted
  const auto end = [&](std::size_t at) -> Framing {
    if (text - (at > 0 && bytes[at - 1] == '\r') > maxText)
      return {Framing::End::Overlong, at, false};
    return {Framing::End::Whole, at + 1, false};
  };
  for (std::size_t i = 0; i < bytes.size();) {
    const char c = bytes[i];
    if (!quote) {
      const Scan block = ScanBlock(bytes, i);
      if (block.What == Scan::Kind::Incomplete) return {};
      if (block.What == Scan::Kind::TooLong) return {Framing::End::Overlong, i, true};
      if (block.What == Scan::Kind::Whole) {
        i += block.Size;
        continue;
      }
      if (c == '\n') return end(i);
      if (c == '"' || c == '\'') quote = c;
    } else if (c == quote) {
      quote = 0;
    } else if (c == '\n') {
      return end(i);  // an unclosed quote is the parser's to report
    }
    if (++text > maxText + 1) return {Framing::End::Overlong, i, false};  // a CR at most more
    ++i;
  }
  return {};
}

std::vector<Block> FindBlocks(std::string_view message, std::string& error) {
  std::vector<Block> blocks;
  char quote = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (quote) {
      if (message[i] == quote) quote = 0;
      continue;
    }
    if (message[i] == '"' || message[i] == '\'') {
      quote = message[i];
      continue;
    }
    const Scan block = ScanBlock(message, i);
    if (block.What == Scan::Kind::Whole) {
      blocks.push_back({i, block.Size});
      i += block.Size - 1;
    } else if (block.What != Scan::Kind::None) {
      error =
          block.What == Scan::Kind::Incomplete ? "a block shorter than its length says" : block.Why;
      break;
    }
  }
  return blocks;
}

std::optional<std::string_view> BlockData(std::string_view parameter) {
  const Scan block = ScanBlock(parameter, 0);
  if (block.What != Scan::Kind::Whole || block.Size != parameter.size()) return std::nullopt;
  const auto digits = static_cast<std::size_t>(parameter[1] - '0');
  return parameter.substr(2 + digits);
}

}  // namespace kt::remote
