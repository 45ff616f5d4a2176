// SPDX-License-Identifier: MIT
#include "dac/raw_frame.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "core/error.h"
#include "dac/readings.h"

namespace kt::dac {

RawFrame ReadRawFrame(std::string_view bitsText, std::string_view dataText) {
  const double bits = ReadLeadingNumber(bitsText);
  const std::int32_t rounded = RoundToInt32(bits);
  if (rounded < INT16_MIN || rounded > INT16_MAX) {
    throw Error("frame length " + std::to_string(rounded) + " is outside -32768..32767");
  }
  const auto digits =
      std::find_if_not(dataText.begin(), dataText.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }) -
      dataText.begin();
  if (digits > 8) {
    throw Error("data \"" + std::string(dataText) + "\" has more than eight hexadecimal digits");
  }
  const std::string data = "&h" + std::string(dataText);
  return {static_cast<std::int16_t>(rounded), RoundToInt32(ReadLeadingNumber(data))};
}

}  // namespace kt::dac
