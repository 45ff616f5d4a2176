// SPDX-License-Identifier: MIT
#include "dac/entry_logic.h"

#include <cmath>

#include "core/error.h"
#include "core/startup.h"
#include "dac/readings.h"

namespace kt::dac {

namespace {

// Runs one step sequence under the trap that both operations share: a run-time error
// empties the box and puts the focus there; what was done before it stays done.
template <typename Steps>
EntryOutcome Trapped(EntryView& view, Steps steps) {
  EntryOutcome outcome;
  try {
    outcome.Sent = steps();
  } catch (const Error& error) {
    view.SetEntryText("");
    view.FocusEntry();
    outcome.Trapped = error.what();
  }
  return outcome;
}

Frame UpdateHex(AppState& app, EntryView& view, double max) {
  if (view.EntryText().empty()) view.SetEntryText("0000");
  std::int32_t value = ReadEntry(true, view.EntryText());
  if (value > max) {
    value = RoundToInt32(max);
    view.SetEntryText(HexText(value));
  }
  if (value < 0) {
    view.SetEntryText("0");
    value = 0;
  }
  view.SetEntryText(NormalisedText(value, true));
  app.DacWord = value;
  app.DacWord = ComposeFrameWord(app.DataBits, app.PowerDownCode, app.DacWord);
  return {app.FrameBits, app.DacWord};
}

Frame UpdateDec(AppState& app, EntryView& view) {
  app.DacWord = ClampCode(ReadEntry(false, view.EntryText()), app.DataBits);
  view.SetEntryText(NormalisedText(app.DacWord, false));
  app.DacWord = ComposeFrameWord(app.DataBits, app.PowerDownCode, app.DacWord);
  return {app.FrameBits, app.DacWord};
}

}  // namespace

std::int32_t ComposeFrameWord(std::int16_t dataBits, std::int32_t powerDownCode,
                              std::int32_t value) {
  return RoundToInt32(std::ldexp(static_cast<double>(powerDownCode), dataBits) + value);
}

std::int32_t ClampCode(std::int32_t value, std::int16_t dataBits) {
  const double max = std::ldexp(1.0, dataBits) - 1.0;
  if (value > max) return RoundToInt32(max);
  return value < 0 ? 0 : value;
}

std::string NormalisedText(std::int32_t value, bool hexadecimal) {
  return hexadecimal ? ZeroFill4(HexText(value)) : DecimalText(value);
}

std::optional<Frame> UpdateFrame(AppState& app, EntryView& view) {
  const double max = std::ldexp(1.0, app.DataBits) - 1.0;
  if (app.EntryFormat == kHexFormat) return UpdateHex(app, view, max);
  if (app.EntryFormat == kDecFormat) return UpdateDec(app, view);
  return std::nullopt;
}

EntryOutcome RunUpdate(AppState& app, EntryView& view, const FrameSender& send) {
  return Trapped(view, [&] {
    const std::optional<Frame> frame = UpdateFrame(app, view);
    if (!frame) return false;
    send(*frame);
    return true;
  });
}

EntryOutcome ToggleFormat(AppState& app, EntryView& view) {
  const std::string caption = view.FormatCaption();
  if (caption == kHexFormat) {
    view.SetFormatCaption(kDecFormat);
    app.EntryFormat = kDecFormat;
    return Trapped(view, [&] {
      app.DacWord = ReadHex(view.EntryText());
      view.SetEntryText(DecimalText(app.DacWord));
      return false;
    });
  }
  if (caption == kDecFormat) {
    view.SetFormatCaption(kHexFormat);
    app.EntryFormat = kHexFormat;
    return Trapped(view, [&] {
      view.SetEntryText(ZeroFill4(HexText(RoundToInt32(ReadLeadingNumber(view.EntryText())))));
      return false;
    });
  }
  return {};
}

EntryOutcome ChoosePowerDown(AppState& app, EntryView& view, std::int32_t powerDownCode,
                             const FrameSender& send) {
  app.PowerDownCode = powerDownCode;
  app.DacWord = 0;
  return RunUpdate(app, view, send);
}

}  // namespace kt::dac
