// SPDX-License-Identifier: MIT
#include "link/board_name.h"

#include <charconv>
#include <vector>

#include "core/error.h"

namespace kt::link {

namespace {

std::vector<std::string_view> Split(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t from = 0;;) {
    const std::size_t comma = text.find(',', from);
    parts.push_back(text.substr(from, comma == std::string_view::npos ? comma : comma - from));
    if (comma == std::string_view::npos) return parts;
    from = comma + 1;
  }
}

// A whole decimal number within [low, high], or an error naming the setting.
std::uint32_t Number(std::string_view key, std::string_view value, std::uint32_t low,
                     std::uint32_t high, std::string_view text) {
  std::uint32_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() || number < low ||
      number > high)
    throw Error(std::string(text) + ": " + std::string(key) + "=" + std::string(value) +
                " is not a whole number from " + std::to_string(low) + " to " +
                std::to_string(high));
  return number;
}

// A setting given twice: which one holds is not to be guessed.
void Once(std::vector<std::string_view>& seen, std::string_view key, std::string_view text) {
  for (const std::string_view earlier : seen)
    if (earlier == key)
      throw Error(std::string(text) + ": " + std::string(key) + "= is given more than once");
  seen.push_back(key);
}

// A setting of --board: "hz=1000" is hz and 1000; "hz" alone has no value.
struct Setting {
  std::string_view Key, Value;
  bool Given;  // whether there was an =
};

Setting SettingOf(std::string_view part) {
  const std::size_t equals = part.find('=');
  if (equals == std::string_view::npos) return {part, {}, false};
  return {part.substr(0, equals), part.substr(equals + 1), true};
}

constexpr const char* kFtdiSettings = "serial=S, index=N, interface=A..D, mode=N, hz=N, cs=N";

[[noreturn]] void Unknown(std::string_view option, std::string_view text, const char* known) {
  throw Error(std::string(text) + ": unknown setting \"" + std::string(option) + "\" (" + known +
              ")");
}

}  // namespace

BoardName ReadBoardName(std::string_view text) {
  BoardName named;
  if (text.empty()) return named;
  const std::vector<std::string_view> parts = Split(text);
  const std::string_view first = parts.front();
  if (first.rfind("iio:", 0) == 0) {
    named.Road = BoardName::Kind::Iio;
    named.Uri = first.substr(4);
    if (named.Uri.empty())
      throw Error(std::string(text) + ": name the IIO context (local:, ip:HOST)");
    std::vector<std::string_view> seen;
    for (std::size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].rfind("device=", 0) != 0) Unknown(parts[i], text, "device=NAME");
      Once(seen, "device", text);
      named.Device = parts[i].substr(7);
      if (named.Device.empty()) throw Error(std::string(text) + ": device= names nothing");
    }
    return named;
  }
  if (first.rfind("spidev:", 0) == 0) {
    named.Road = BoardName::Kind::Spidev;
    named.Path = first.substr(7);
    if (named.Path.empty() || named.Path.front() != '/')
      throw Error(std::string(text) +
                  ": name the spidev port by its path, as spidev:/dev/spidev0.0");
    std::vector<std::string_view> seen;
    for (std::size_t i = 1; i < parts.size(); ++i) {
      const std::string_view part = parts[i];
      const auto [key, value, given] = SettingOf(part);
      if (given && (key == "mode" || key == "hz")) Once(seen, key, text);
      if (given && key == "mode") {
        named.Mode = static_cast<int>(Number(key, value, 0, 3, text));
      } else if (given && key == "hz") {
        named.Hz = Number(key, value, kLowestSpiHz, kHighestSpiHz, text);
      } else {
        Unknown(part, text, "mode=N, hz=N");
      }
    }
    return named;
  }
  if (first.rfind("ftdi:", 0) == 0) {
    named.Road = BoardName::Kind::Ftdi;
    FtdiChoice& chip = named.Ftdi;
    if (const std::string_view ids = first.substr(5); !ids.empty()) {
      const std::size_t colon = ids.find(':');
      const auto hex = [&](std::string_view part, std::uint16_t& into) {
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), into, 16);
        return !part.empty() && part.size() <= 4 && error == std::errc() &&
               end == part.data() + part.size();
      };
      if (colon == std::string_view::npos || !hex(ids.substr(0, colon), chip.Vid) ||
          !hex(ids.substr(colon + 1), chip.Pid))
        throw Error(std::string(text) +
                    ": name the chip by its USB ids in hexadecimal, as "
                    "ftdi:0403:6014, or give none for an FT232H");
    }
    std::vector<std::string_view> seen;
    for (std::size_t i = 1; i < parts.size(); ++i) {
      const std::string_view part = parts[i];
      const auto [key, value, given] = SettingOf(part);
      if (!given) Unknown(part, text, kFtdiSettings);
      Once(seen, key, text);
      if (key == "serial" && !value.empty()) {
        chip.Serial = value;
      } else if (key == "index") {
        chip.Index = static_cast<int>(Number(key, value, 0, 127, text));
      } else if (key == "interface" && value.size() == 1 && value[0] >= 'A' && value[0] <= 'D') {
        chip.Interface = value[0];
      } else if (key == "mode") {
        chip.Wiring.Mode = static_cast<int>(Number(key, value, 0, 3, text));
      } else if (key == "hz") {
        chip.Wiring.Hz = Number(key, value, mpsse::kSlowestHz, mpsse::kFastestHz, text);
      } else if (key == "cs") {
        chip.Wiring.ChipSelect = static_cast<int>(Number(key, value, 3, 7, text));
      } else if (key == "serial" || key == "interface") {
        throw Error(std::string(text) + ": " + std::string(part) +
                    (key == "serial" ? " names nothing" : " is not A, B, C or D"));
      } else {
        Unknown(part, text, kFtdiSettings);
      }
    }
    return named;
  }
  throw Error("\"" + std::string(text) + "\" names no board: " + kBoardUsage);
}

}  // namespace kt::link
