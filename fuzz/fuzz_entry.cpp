// SPDX-License-Identifier: MIT
// Sequences of device choices, power-down choices, typed texts, updates and format switches,
// through the real update and format switch, each checked against a reference written here
// from the rules of the entry box alone: what the box must hold afterwards, whether the update
// traps, and the frame word that must reach the board.
//
// The board is in-process, for speed: the update hands its frame to Send below, which packs it
// as the link does and hands it to the simulated board's own request decoder and DAC model.
// The library call itself, through the real binding, is covered by the tests and the sweep;
// here every input runs the update thousands of times a second, with no file and no
// environment read.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/startup.h"
#include "dac/device_table.h"
#include "dac/entry_logic.h"
#include "link/frame_request.h"
#include "sim/dac_model.h"

namespace {

struct Frame {
  std::int32_t Bits, Word;
};
std::vector<Frame> frames;  // the frames the board received since the last operation

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// The hexadecimal reading: one or more digits, at most 32 bits of value, taken as a signed
// 32-bit number. Nothing when the text is not that.
std::optional<std::int32_t> HexReading(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!IsHexDigit(c)) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(DigitValue(c));
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// The leading-number reading: after leading blanks, "&H" or "&O" and their digits read as
// 32 bits (nothing when beyond), or an optional sign, digits and optionally a full
// stop and more digits. No number at all reads 0.
std::optional<double> LeadingNumber(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  if (text.size() - at >= 2 && text[at] == '&') {
    const char kind = static_cast<char>(text[at + 1] | 0x20);
    if (kind == 'h' || kind == 'o') {
      const unsigned base = kind == 'h' ? 16 : 8;
      std::uint64_t value = 0;
      for (at += 2; at < text.size(); ++at) {
        const char c = text[at];
        const bool digit = base == 16 ? IsHexDigit(c) : (c >= '0' && c <= '7');
        if (!digit) break;
        value = value * base + static_cast<unsigned>(DigitValue(c));
        if (value > 0xFFFFFFFFu) return std::nullopt;
      }
      // As the hexadecimal reading takes 32 bits: two's complement, FFFFFFFF is -1.
      return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
    }
  }
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  double whole = 0;
  bool digits = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    whole = whole * 10 + (text[at] - '0');
    digits = true;
  }
  // The fraction only matters for rounding; a long one is summed exactly enough in long
  // double for the half-way cases to come out as they should.
  long double fraction = 0;
  if (at + 1 < text.size() && text[at] == '.' && text[at + 1] >= '0' && text[at + 1] <= '9') {
    long double scale = 0.1L;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      fraction += scale * (text[at] - '0');
      scale /= 10;
    }
    digits = true;
  }
  if (!digits) return 0.0;
  const double value = static_cast<double>(static_cast<long double>(whole) + fraction);
  return negative ? -value : value;
}

// Rounding half to even into 32 bits; nothing when it does not fit.
std::optional<std::int32_t> Rounded(double value) {
  const double rounded = std::nearbyint(value);  // the default rounding mode: to even
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

// Upper-case hexadecimal digits of the value's 32 bits, at least four of them.
std::string Hex4(std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

// @brief What an update must do with the text in the box.
struct Expected {
  bool Traps = false;
  std::string Box;
  std::int32_t Value = 0;
};

Expected Update(const std::string& text, bool hexadecimal, std::int32_t max) {
  std::optional<std::int64_t> read;
  if (hexadecimal) {
    read = HexReading(text.empty() ? "0000" : text);
  } else if (const auto number = LeadingNumber(text)) {
    read = Rounded(*number);
  }
  if (!read) return {true, "", 0};
  const auto value = static_cast<std::int32_t>(std::clamp<std::int64_t>(*read, 0, max));
  return {false, hexadecimal ? Hex4(value) : std::to_string(value), value};
}

// A property that does not hold: says which, with the text the operation started from.
[[noreturn]] void Fail(int line, const std::string& text) {
  std::fprintf(stderr, "fuzz_entry: the property at line %d fails for the text \"%s\"\n", line,
               text.c_str());
  std::abort();
}
#define KT_CHECK(condition) \
  if (!(condition)) Fail(__LINE__, before)

}  // namespace

namespace {

// The in-process board (see the top of this file).
void Send(const kt::Frame& sent) {
  const kt::link::FrameRequest request = kt::link::PackFrame(sent.Bits, sent.Word);
  const auto frame = kt::sim::DecodeRequest(request.value, request.index);
  static kt::sim::DacModel dac;
  if (!frame || !dac.Apply(*frame)) std::abort();  // the update sends only frames it takes
  frames.push_back({frame->Bits, frame->Word});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kt::AppState app;
  kt::SetStartDefaults(app);
  kt::dac::TextEntry view("0", app.EntryFormat);
  std::size_t at = 0;
  auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };

  while (at < size) {
    frames.clear();
    view.Focused = 0;
    const std::uint8_t op = next() % 5;
    const std::string before = view.Text;
    const bool hexadecimal = app.EntryFormat == kt::kHexFormat;
    const std::int32_t max = (1 << app.DataBits) - 1;
    if (op == 0) {
      kt::dac::SelectDevice(app, kt::dac::DeviceTable[next() % 5]);
      continue;
    }
    if (op == 2) {
      const std::size_t length = next() % 16;
      view.Text.clear();
      for (std::size_t i = 0; i < length && at < size; ++i)
        view.Text.push_back(static_cast<char>(next()));
      continue;
    }
    if (op == 4) {
      const kt::dac::EntryOutcome outcome = kt::dac::ToggleFormat(app, view);
      KT_CHECK(frames.empty() && !outcome.Sent);
      KT_CHECK(view.Caption == app.EntryFormat);
      KT_CHECK((app.EntryFormat == kt::kHexFormat) != hexadecimal);
      // The box holds the same number in the other format, or the switch trapped.
      std::optional<std::int64_t> read;
      if (hexadecimal) {
        read = HexReading(before);
      } else if (const auto number = LeadingNumber(before)) {
        read = Rounded(*number);
      }
      if (!read) {
        KT_CHECK(!outcome.Trapped.empty() && view.Text.empty() && view.Focused == 1);
        continue;
      }
      KT_CHECK(outcome.Trapped.empty());
      const auto value = static_cast<std::int32_t>(*read);
      KT_CHECK(!hexadecimal || view.Text == std::to_string(value));
      KT_CHECK(hexadecimal || view.Text == Hex4(value));
      continue;
    }

    std::int32_t code = app.PowerDownCode;
    kt::dac::EntryOutcome outcome;
    if (op == 1) {
      code = next() % 4;
      outcome = kt::dac::ChoosePowerDown(app, view, code, Send);
    } else {
      outcome = kt::dac::RunUpdate(app, view, Send);
    }
    KT_CHECK(app.PowerDownCode == code);
    const Expected expected = Update(before, hexadecimal, max);
    if (expected.Traps) {
      KT_CHECK(!outcome.Trapped.empty() && !outcome.Sent && frames.empty());
      KT_CHECK(view.Text.empty() && view.Focused == 1);
      continue;
    }
    KT_CHECK(outcome.Trapped.empty() && outcome.Sent && frames.size() == 1);
    KT_CHECK(view.Text == expected.Box);
    const std::int32_t word = (code << app.DataBits) | expected.Value;
    KT_CHECK(frames[0].Word == word && frames[0].Bits == app.FrameBits && app.DacWord == word);
  }
  return 0;
}
