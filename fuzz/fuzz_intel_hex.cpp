// SPDX-License-Identifier: MIT
// The simulated board's firmware check on any file, against a reference written here from
// the Intel HEX format alone: the verdict, the first bad line and the data byte count must
// agree.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/intel_hex.h"

namespace {

// @brief The reference's verdict: the first bad line (0 when none) and the data bytes.
struct Verdict {
  std::size_t BadLine = 0;
  std::size_t DataBytes = 0;
};

std::optional<unsigned> Byte(std::string_view two) {
  unsigned value = 0;
  for (const char c : two) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return value;
}

// Whether one record (the text after its colon) is well formed; adds its data and notes an
// end-of-file record.
bool Record(std::string_view text, std::size_t& data, bool& endOfFile) {
  if (text.size() % 2 != 0 || text.size() < 10) return false;
  std::vector<unsigned> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto byte = Byte(text.substr(i, 2));
    if (!byte) return false;
    bytes.push_back(*byte);
  }
  if (bytes.size() != bytes[0] + 5u) return false;
  unsigned sum = 0;
  for (const unsigned byte : bytes) sum = (sum + byte) & 0xFF;
  if (sum != 0) return false;
  // Record types and the lengths they must have: data any, end 0, segment 2, start
  // segment 4, linear 2, start linear 4.
  static constexpr int kLength[] = {-1, 0, 2, 4, 2, 4};
  const unsigned type = bytes[3];
  if (type > 5) return false;
  if (kLength[type] >= 0 && bytes[0] != static_cast<unsigned>(kLength[type])) return false;
  if (type == 0) data += bytes[0];
  if (type == 1) endOfFile = true;
  return true;
}

Verdict Reference(std::string_view image) {
  Verdict verdict;
  bool endOfFile = false;
  std::size_t number = 0;
  std::size_t start = 0;
  while (start < image.size()) {
    ++number;
    std::size_t end = image.find('\n', start);
    if (end == std::string_view::npos) end = image.size();
    std::string_view line = image.substr(start, end - start);
    start = end + 1;
    // Blanks and a carriage return at a line's end do not count; a blank line is skipped.
    const std::size_t kept = line.find_last_not_of(" \t\r");
    line = kept == std::string_view::npos ? std::string_view() : line.substr(0, kept + 1);
    if (line.empty()) continue;
    if (endOfFile || line[0] != ':' || !Record(line.substr(1), verdict.DataBytes, endOfFile)) {
      verdict.BadLine = number;
      return verdict;
    }
  }
  if (!endOfFile) verdict.BadLine = number + 1;  // the end-of-file record that is missing
  return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  const kt::sim::HexCheck check = kt::sim::CheckIntelHex(image);
  const Verdict expected = Reference(image);
  if (check.Ok != (expected.BadLine == 0)) std::abort();
  if (check.Ok ? !check.Fault.empty() || check.DataBytes != expected.DataBytes
               : check.Fault.empty() || check.Line != expected.BadLine)
    std::abort();
  return 0;
}
