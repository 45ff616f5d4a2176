// SPDX-License-Identifier: MIT
#include "scpi/message.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "scpi/framing.h"

namespace kt::remote {

namespace {

constexpr std::pair<int, const char*> kTexts[] = {
    {0, "No error"},
    {-100, "Command error"},
    {-101, "Invalid character"},
    {-102, "Syntax error"},
    {-104, "Data type error"},
    {-108, "Parameter not allowed"},
    {-109, "Missing parameter"},
    {-113, "Undefined header"},
    {-120, "Numeric data error"},
    {-161, "Invalid block data"},
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-224, "Illegal parameter value"},
    {-241, "Hardware missing"},
    {-300, "Device-specific error"},
    {-330, "Self-test failed"},
    {-350, "Queue overflow"},
    {-363, "Input buffer overrun"},
    {-410, "Query INTERRUPTED"},
    {-420, "Query UNTERMINATED"},
};

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool SpellsFrom(const std::vector<std::string>& typed, std::size_t i,
                const std::vector<Node>& pattern, std::size_t j) {
  if (j == pattern.size()) return i == typed.size();
  if (pattern[j].Optional && SpellsFrom(typed, i, pattern, j + 1)) return true;
  return i < typed.size() && Matches(typed[i], pattern[j]) &&
         SpellsFrom(typed, i + 1, pattern, j + 1);
}

}  // namespace

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::vector<Node> Pattern(std::string_view spelling) {
  std::vector<Node> nodes;
  bool optional = false;
  std::string word;
  auto finish = [&] {
    if (word.empty()) return;
    std::string shortForm;
    for (const char c : word)
      if (!std::islower(static_cast<unsigned char>(c))) shortForm.push_back(c);
    nodes.push_back({Upper(word), shortForm, optional});
    word.clear();
  };
  for (const char c : spelling) {
    if (c == '[') {
      finish();  // the node before the bracket is not optional
      optional = true;
    } else if (c == ']') {
      finish();
      optional = false;
    } else if (c == ':') {
      finish();
    } else {
      word.push_back(c);
    }
  }
  finish();
  return nodes;
}

bool Matches(const std::string& typed, const Node& node) {
  return typed == node.Long || typed == node.Short;
}

bool Spells(const std::vector<std::string>& typed, const std::vector<Node>& pattern) {
  return SpellsFrom(typed, 0, pattern, 0);
}

Number ReadNumber(std::string_view text) {
  if (text.empty()) return {0, -109};
  const char first = text.front();
  const bool numeric = std::isdigit(static_cast<unsigned char>(first)) || first == '+' ||
                       first == '-' || first == '.' || first == '#';
  if (!numeric) return {0, -104};  // character data or a string where a number belongs
  const auto value = ParseNumber(text);
  if (!value) return {0, -120};
  return {*value, 0};
}

std::string FormatNumber(double value) { return fmt::format("{:.9g}", value); }

std::string StandardText(int code) {
  for (const auto& [known, text] : kTexts)
    if (known == code) return text;
  return "Error";
}

std::optional<double> ParseNumber(std::string_view text) {
  if (text.size() >= 3 && text[0] == '#') {
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    const int base = kind == 'H' ? 16 : kind == 'Q' ? 8 : kind == 'B' ? 2 : 0;
    if (base == 0) return std::nullopt;
    std::uint64_t value = 0;
    const auto digits = text.substr(2);
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return static_cast<double>(value);
  }
  // Decimal: [sign] digits [. digits] [E [sign] digits], at least one digit before the E.
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  const std::size_t mantissa = at;
  std::size_t digits = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at, ++digits;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const std::size_t exponent = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == exponent) return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  // from_chars takes no leading +; the sign is put back by hand.
  double value = 0;
  const char* begin = text.data() + mantissa;
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return mantissa > 0 && text[0] == '-' ? -value : value;
}

Message SplitMessage(std::string_view message) {
  Message split;
  std::string blockError;
  const std::vector<Block> blocks = FindBlocks(message, blockError);
  if (!blockError.empty()) {
    split.Error = -161;
    split.Detail = blockError;
    return split;
  }
  // A block's bytes are data: passed over by every rule of the text.
  const auto blockAt = [&](std::size_t at) -> const Block* {
    for (const Block& block : blocks)
      if (block.At == at) return &block;
    return nullptr;
  };
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (const Block* block = blockAt(i)) {
      i += block->Size - 1;
      continue;
    }
    const auto byte = static_cast<unsigned char>(message[i]);
    if (byte >= 0x80 || (byte < 0x20 && byte != '\t' && byte != '\r')) {
      split.Error = -101;
      split.Detail = fmt::format("byte 0x{:02X}", byte);
      return split;
    }
  }
  // Units are split at semicolons outside quotes and blocks.
  std::vector<std::string_view> texts;
  char quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (const Block* block = blockAt(i); block && !quote) {
      i += block->Size - 1;
    } else if (quote) {
      if (message[i] == quote) quote = 0;
    } else if (message[i] == '"' || message[i] == '\'') {
      quote = message[i];
    } else if (message[i] == ';') {
      texts.push_back(message.substr(start, i - start));
      start = i + 1;
    }
  }
  texts.push_back(message.substr(start));
  if (quote) {
    split.Error = -102;
    split.Detail = "a quote is not closed";
    return split;
  }

  for (const std::string_view untrimmed : texts) {
    std::string_view text = Trim(untrimmed);
    if (text.empty()) continue;  // an empty message, or a ";" at its end
    // A block's last bytes may be blanks: they are its own.
    const auto begin = static_cast<std::size_t>(text.data() - message.data());
    for (const Block& block : blocks)
      if (block.At >= begin && block.At < begin + text.size() &&
          block.At + block.Size > begin + text.size())
        text = message.substr(begin, block.At + block.Size - begin);
    Unit unit;
    const std::size_t blank = text.find_first_of(" \t");
    std::string_view header = text.substr(0, blank);
    unit.Header = std::string(Trim(header));
    if (blank != std::string_view::npos) {
      // Parameters are split at commas outside blocks; a block is a parameter of its own.
      const std::string_view rest = text.substr(blank);
      const auto offset = static_cast<std::size_t>(rest.data() - message.data());
      std::size_t from = 0;
      const Block* inside = nullptr;
      for (std::size_t j = 0; j <= rest.size(); ++j) {
        if (j < rest.size()) {
          if (const Block* block = blockAt(offset + j)) {
            inside = block;
            j += block->Size - 1;
            continue;
          }
          if (rest[j] != ',') continue;
        }
        const std::string_view part = rest.substr(from, j - from);
        if (!inside) {
          unit.Parameters.emplace_back(Trim(part));
        } else {
          const std::size_t before = inside->At - offset - from;
          if (!Trim(part.substr(0, before)).empty() ||
              !Trim(part.substr(before + inside->Size)).empty()) {
            split.Error = -161;
            split.Detail = "characters beside a block";
            return split;
          }
          unit.Parameters.emplace_back(message.substr(inside->At, inside->Size));
        }
        inside = nullptr;
        from = j + 1;
      }
    }
    if (!header.empty() && header.front() == ':') {
      unit.Root = true;
      header.remove_prefix(1);
    }
    if (!header.empty() && header.back() == '?') {
      unit.Query = true;
      header.remove_suffix(1);
    }
    unit.Common = !header.empty() && header.front() == '*';
    bool wellFormed = !header.empty() && !(unit.Common && unit.Root);
    for (std::size_t from = unit.Common ? 1 : 0; wellFormed;) {
      const std::size_t colon = header.find(':', from);
      const std::string_view node = header.substr(from, colon - from);
      wellFormed = !node.empty() && std::isalpha(static_cast<unsigned char>(node.front())) &&
                   std::all_of(node.begin(), node.end(), [](char c) {
                     return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
                   });
      unit.Nodes.push_back(Upper(node));
      if (colon == std::string_view::npos) break;
      if (unit.Common) wellFormed = false;
      from = colon + 1;
    }
    unit.WellFormed = wellFormed;
    if (wellFormed && unit.Common) unit.Nodes.front() = "*" + unit.Nodes.front();
    split.Units.push_back(std::move(unit));
    if (!wellFormed) break;  // a command error ends the message
  }
  return split;
}

std::string ErrorEntry(int code, const std::string& text) {
  std::string entry = std::to_string(code) + ",\"";
  for (const char c : text) entry += c == '"' ? std::string("\"\"") : std::string(1, c);
  return entry + '"';
}

}  // namespace kt::remote
