// SPDX-License-Identifier: MIT
#include "cli/scpi.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>

namespace kt::cli::scpi {

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
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-224, "Illegal parameter value"},
    {-300, "Device-specific error"},
    {-350, "Queue overflow"},
    {-363, "Input buffer overrun"},
};

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// @brief One node of a command's header, as SCPI spells it: the upper-case letters are the
// short form, the whole the long form; either is accepted, in any case.
struct Node {
  std::string Long, Short;
  bool Optional;
};

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

// Whether the typed nodes spell the pattern, its optional nodes left out or not.
bool Spells(const std::vector<std::string>& typed, std::size_t i, const std::vector<Node>& pattern,
            std::size_t j) {
  if (j == pattern.size()) return i == typed.size();
  if (pattern[j].Optional && Spells(typed, i, pattern, j + 1)) return true;
  return i < typed.size() && Matches(typed[i], pattern[j]) && Spells(typed, i + 1, pattern, j + 1);
}

enum class Command {
  Identify,
  Reset,
  Clear,
  OperationComplete,
  Error,
  Version,
  Device,
  Code,
  PowerDown,
  Reference,
  Voltage,
  Raw,
  Status,
};

struct Entry {
  Command Id;
  std::vector<Node> Header;
  bool Settable, Queryable;
  std::size_t Parameters;  ///< the setting form's; a query takes none
};

const std::vector<Entry>& Commands() {
  static const std::vector<Entry> commands{
      {Command::Identify, Pattern("*IDN"), false, true, 0},
      {Command::Reset, Pattern("*RST"), true, false, 0},
      {Command::Clear, Pattern("*CLS"), true, false, 0},
      {Command::OperationComplete, Pattern("*OPC"), true, true, 0},
      {Command::Error, Pattern("SYSTem:ERRor[:NEXT]"), false, true, 0},
      {Command::Version, Pattern("SYSTem:VERSion"), false, true, 0},
      {Command::Device, Pattern("[SOURce:]DAC:DEVice"), true, true, 1},
      {Command::Code, Pattern("[SOURce:]DAC:CODE"), true, true, 1},
      {Command::PowerDown, Pattern("[SOURce:]DAC:PDOWn"), true, true, 1},
      {Command::Reference, Pattern("[SOURce:]VOLTage:REFerence"), true, true, 1},
      {Command::Voltage, Pattern("[SOURce:]VOLTage"), true, true, 1},
      {Command::Raw, Pattern("[SOURce:]DAC:RAW"), true, false, 2},
      {Command::Status, Pattern("[SOURce:]DAC:STATus"), false, true, 0},
  };
  return commands;
}

// The power-down modes as character data, in the order of their codes 0..3.
const std::vector<Node>& Modes() {
  static const std::vector<Node> modes{Pattern("NORMal")[0], Pattern("TSTate")[0],
                                       Pattern("R100k")[0], Pattern("R1K")[0]};
  return modes;
}

// A parameter that must be a number: its value, or the error it is.
struct Number {
  double Value = 0;
  int Error = 0;
};

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

std::string Format(double value) { return fmt::format("{:.9g}", value); }

}  // namespace

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

// @brief One program message unit: its header, split into nodes, and its parameters.
struct Session::Unit {
  bool Root = false;    ///< started with ":": the path starts afresh
  bool Common = false;  ///< a "*" command, which leaves the path alone
  bool Query = false;
  std::vector<std::string> Nodes;
  std::vector<std::string> Parameters;
};

void Session::Queue(int code, const std::string& detail) {
  std::string text = StandardText(code);
  if (!detail.empty()) text += ";" + detail;
  if (errors_.size() >= kQueueSize) {
    errors_.back() = {-350, StandardText(-350)};
    return;
  }
  errors_.push_back({code, text});
}

std::string Session::Execute(std::string_view message) {
  path_.clear();  // every program message starts at the root
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || (byte < 0x20 && c != '\t' && c != '\r')) {
      Queue(-101, fmt::format("byte 0x{:02X}", byte));
      return {};
    }
  }
  // Units are split at semicolons outside quotes.
  std::vector<std::string_view> units;
  char quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (quote) {
      if (message[i] == quote) quote = 0;
    } else if (message[i] == '"' || message[i] == '\'') {
      quote = message[i];
    } else if (message[i] == ';') {
      units.push_back(message.substr(start, i - start));
      start = i + 1;
    }
  }
  units.push_back(message.substr(start));
  if (quote) {
    Queue(-102, "a quote is not closed");
    return {};
  }

  std::vector<std::string> answers;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::string_view text = Trim(units[i]);
    if (text.empty()) continue;  // an empty message, or a ";" at its end
    Unit unit;
    const std::size_t blank = text.find_first_of(" \t");
    std::string_view header = text.substr(0, blank);
    if (blank != std::string_view::npos) {
      std::string_view rest = Trim(text.substr(blank));
      for (std::size_t from = 0;;) {
        const std::size_t comma = rest.find(',', from);
        unit.Parameters.emplace_back(Trim(rest.substr(from, comma - from)));
        if (comma == std::string_view::npos) break;
        from = comma + 1;
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
    if (!wellFormed) {
      Queue(-102, fmt::format("header \"{}\"", std::string(Trim(text.substr(0, blank)))));
      break;  // a command error ends the message
    }
    if (unit.Common) unit.Nodes.front() = "*" + unit.Nodes.front();
    if (!unit.Common && !unit.Root)
      unit.Nodes.insert(unit.Nodes.begin(), path_.begin(), path_.end());
    if (!Run(unit, answers)) break;
    if (!unit.Common) path_.assign(unit.Nodes.begin(), unit.Nodes.end() - 1);
  }
  std::string response;
  for (const std::string& answer : answers) response += (response.empty() ? "" : ";") + answer;
  return response;
}

// Runs one unit. False for a command error, which ends the message; an execution error is
// queued and the message goes on.
bool Session::Run(const Unit& unit, std::vector<std::string>& answers) {
  const Entry* entry = nullptr;
  for (const Entry& known : Commands())
    if (Spells(unit.Nodes, 0, known.Header, 0)) entry = &known;
  std::string spelled;
  for (const std::string& node : unit.Nodes) spelled += (spelled.empty() ? "" : ":") + node;
  if (!entry || (unit.Query ? !entry->Queryable : !entry->Settable)) {
    Queue(-113, spelled + (unit.Query ? "?" : ""));
    return false;
  }
  const std::size_t wanted = unit.Query ? 0 : entry->Parameters;
  for (const std::string& parameter : unit.Parameters) {
    if (parameter.empty()) {
      Queue(-102, "an empty parameter");
      return false;
    }
  }
  if (unit.Parameters.size() > wanted) {
    Queue(-108, spelled);
    return false;
  }
  if (unit.Parameters.size() < wanted) {
    Queue(-109, spelled);
    return false;
  }

  // A number that must be whole and within [low, high]; queues the error when not.
  auto whole = [&](const std::string& text, double low, double high, const char* what,
                   std::int64_t& out) {
    const Number number = ReadNumber(text);
    if (number.Error) {
      Queue(number.Error, fmt::format("{} {}", what, text));
      return false;
    }
    if (number.Value != std::floor(number.Value)) {
      Queue(-224, fmt::format("{} {} is not a whole number", what, text));
      return false;
    }
    if (number.Value < low || number.Value > high) {
      Queue(-222, fmt::format("{} {} is outside {}..{}", what, text, Format(low), Format(high)));
      return false;
    }
    out = static_cast<std::int64_t>(number.Value);
    return true;
  };
  auto send = [&](std::int32_t code, std::int32_t mode) {
    if (const std::int16_t status = board_.Send(code, mode); status != 0)
      Queue(-300, fmt::format("the board refused the frame, status {}", status));
  };
  const double max = std::ldexp(1.0, board_.DataBits()) - 1;
  const std::string& value = unit.Parameters.empty() ? spelled : unit.Parameters.front();

  switch (entry->Id) {
    case Command::Identify:
      answers.push_back(board_.Identity());
      break;
    case Command::Reset:
      send(0, 0);  // as the main window opens: code 0, "Normal", one frame
      break;
    case Command::Clear:
      errors_.clear();
      break;
    case Command::OperationComplete:
      if (unit.Query) answers.push_back("1");  // every command has completed by now
      break;
    case Command::Error:
      if (errors_.empty()) {
        answers.push_back("0,\"No error\"");
      } else {
        answers.push_back(fmt::format("{},\"{}\"", errors_.front().Code, errors_.front().Text));
        errors_.pop_front();
      }
      break;
    case Command::Version:
      answers.push_back("1999.0");
      break;
    case Command::Device:
      if (unit.Query) {
        answers.push_back(board_.Device());
      } else {
        const std::string upper = Upper(value);
        const auto devices = board_.Devices();
        if (std::find(devices.begin(), devices.end(), upper) == devices.end()) {
          Queue(-224, "device " + value);
          break;
        }
        board_.SelectDevice(upper);
      }
      break;
    case Command::Code:
      if (unit.Query) {
        answers.push_back(std::to_string(board_.Code()));
      } else {
        std::int64_t code = 0;
        const std::string upper = Upper(value);
        if (upper == "MIN" || upper == "MINIMUM") {
          code = 0;
        } else if (upper == "MAX" || upper == "MAXIMUM") {
          code = static_cast<std::int64_t>(max);
        } else if (!whole(value, 0, max, "code", code)) {
          break;
        }
        send(static_cast<std::int32_t>(code), board_.PowerDown());
      }
      break;
    case Command::PowerDown:
      if (unit.Query) {
        answers.push_back(Modes().at(static_cast<std::size_t>(board_.PowerDown())).Short);
      } else {
        const std::string upper = Upper(value);
        const auto& modes = Modes();
        const auto mode = std::find_if(modes.begin(), modes.end(),
                                       [&](const Node& node) { return Matches(upper, node); });
        if (mode == modes.end()) {
          Queue(ReadNumber(value).Error == -104 ? -224 : -104, "power-down mode " + value);
          break;
        }
        send(board_.Code(), static_cast<std::int32_t>(mode - modes.begin()));
      }
      break;
    case Command::Reference:
      if (unit.Query) {
        if (!vref_) {
          Queue(-221, "no reference voltage set");
          break;
        }
        answers.push_back(Format(*vref_));
      } else {
        const Number number = ReadNumber(value);
        if (number.Error) {
          Queue(number.Error, "reference " + value);
        } else if (!(number.Value > 0 && number.Value <= 1000)) {
          Queue(-222, "reference " + value + " V is outside 0..1000 V");
        } else {
          vref_ = number.Value;
        }
      }
      break;
    case Command::Voltage: {
      if (!vref_) {
        Queue(-221, "set VOLTage:REFerence first");
        break;
      }
      const double step = *vref_ / std::ldexp(1.0, board_.DataBits());
      if (unit.Query) {
        answers.push_back(Format(board_.Code() * step));
        break;
      }
      const Number number = ReadNumber(value);
      if (number.Error) {
        Queue(number.Error, "voltage " + value);
        break;
      }
      const double code = std::nearbyint(number.Value / step);
      if (!(code >= 0 && code <= max)) {
        Queue(-222, fmt::format("{} V is outside 0..{} V", value, Format(max * step)));
        break;
      }
      send(static_cast<std::int32_t>(code), board_.PowerDown());
      break;
    }
    case Command::Raw: {
      std::int64_t bits = 0;
      std::int64_t data = 0;
      if (!whole(unit.Parameters[0], -32768, 32767, "frame length", bits) ||
          !whole(unit.Parameters[1], 0, 4294967295.0, "frame data", data))
        break;
      const std::int16_t status =
          board_.SendRaw(static_cast<std::int16_t>(bits),
                         static_cast<std::int32_t>(static_cast<std::uint32_t>(data)));
      if (status != 0) Queue(-300, fmt::format("the board refused the frame, status {}", status));
      break;
    }
    case Command::Status:
      answers.push_back(std::to_string(board_.Status()));
      break;
  }
  return true;
}

}  // namespace kt::cli::scpi
