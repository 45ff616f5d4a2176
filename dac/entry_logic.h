// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "core/app_state.h"
#include "core/frame.h"

namespace kt::dac {

/// @brief What the update and the format switch see of the main window: the entry box and
/// the caption of the format button. The window implements it; tests fake it.
class EntryView {
 public:
  virtual ~EntryView() = default;
  [[nodiscard]] virtual std::string EntryText() const = 0;
  virtual void SetEntryText(const std::string& text) = 0;
  virtual void FocusEntry() = 0;
  [[nodiscard]] virtual std::string FormatCaption() const = 0;
  virtual void SetFormatCaption(const std::string& caption) = 0;
};

/// @brief The entry box and format button without a window: the text and the caption as
/// plain strings, for the console programs and the tests.
class TextEntry : public EntryView {
 public:
  explicit TextEntry(std::string text = "0", std::string caption = "Hex")
      : Text(std::move(text)), Caption(std::move(caption)) {}

  [[nodiscard]] std::string EntryText() const override { return Text; }
  void SetEntryText(const std::string& text) override { Text = text; }
  void FocusEntry() override { ++Focused; }
  [[nodiscard]] std::string FormatCaption() const override { return Caption; }
  void SetFormatCaption(const std::string& caption) override { Caption = caption; }

  std::string Text;
  std::string Caption;
  int Focused = 0;  ///< how often the focus was put into the box
};

/// @brief How an update or a format switch ended.
struct EntryOutcome {
  bool Sent = false;    ///< a frame was handed to the board library
  std::string Trapped;  ///< the error that emptied the entry box, or empty
};

/// Where an update hands its frame: the board's SendSpiWord in the windows. It may raise
/// kt::Error (a library that cannot be used), which the update traps.
using FrameSender = std::function<void(const Frame&)>;

/// W = power-down code × 2^dataBits + value, as a signed 32-bit integer. For the values an
/// update passes (code 0..3, value 0..2^dataBits - 1) this is the code shifted left by
/// dataBits OR the value. Raises kt::Error if the sum leaves the signed 32-bit range.
std::int32_t ComposeFrameWord(std::int16_t dataBits, std::int32_t powerDownCode,
                              std::int32_t value);

/// The window's clamping of a value read from the entry: above the last code it is the last
/// code, below 0 it is 0.
std::int32_t ClampCode(std::int32_t value, std::int16_t dataBits);

/// The text an update leaves in the box for a value within range: four upper-case
/// hexadecimal digits, or the plain decimal number.
std::string NormalisedText(std::int32_t value, bool hexadecimal);

/// The frame an update sends, computed without sending: reads the entry in the current
/// format, clamps it to 0..2^DataBits - 1, writes the normalised text back and composes the
/// frame word into DacWord. Nothing for an entry format other than "Hex" and "Dec". Raises
/// kt::Error where the update traps (a text that is not a number, a value beyond 32 bits).
std::optional<Frame> UpdateFrame(AppState& app, EntryView& view);

/// The update: UpdateFrame, then the frame to `send`. Any run-time error on the way (a text
/// that is not a number, a value beyond 32 bits, a missing library) empties the box and puts
/// the focus into it; nothing has then been sent.
EntryOutcome RunUpdate(AppState& app, EntryView& view, const FrameSender& send);

/// Switches the entry format named by the format button's caption and converts the text in
/// the box, without clamping or sending. The caption and EntryFormat switch first; a text
/// that cannot be converted empties the box and gets the focus, as in an update.
EntryOutcome ToggleFormat(AppState& app, EntryView& view);

/// What choosing a power-down mode does: set the code, clear DacWord and run the update.
EntryOutcome ChoosePowerDown(AppState& app, EntryView& view, std::int32_t powerDownCode,
                             const FrameSender& send);

}  // namespace kt::dac
