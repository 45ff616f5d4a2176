// SPDX-License-Identifier: MIT
#include "sim/intel_hex.h"

#include <vector>

namespace kt::sim {

namespace {

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The record's bytes after the colon, or a fault.
std::string DecodeBytes(std::string_view hex, std::vector<unsigned>& bytes) {
  if (hex.size() % 2 != 0) return "odd number of hexadecimal digits";
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = Nibble(hex[i]);
    const int low = Nibble(hex[i + 1]);
    if (high < 0 || low < 0) return "character that is not a hexadecimal digit";
    bytes.push_back(static_cast<unsigned>(high * 16 + low));
  }
  return {};
}

// The data length that each record type must have; -1 for any length.
int FixedLength(unsigned type) {
  switch (type) {
    case 0:
      return -1;  // data
    case 1:
      return 0;  // end of file
    case 2:
      return 2;  // extended segment address
    case 3:
      return 4;  // start segment address
    case 4:
      return 2;  // extended linear address
    case 5:
      return 4;  // start linear address
    default:
      return -2;
  }
}

}  // namespace

HexCheck CheckIntelHex(std::string_view image) {
  HexCheck check;
  bool ended = false;
  std::size_t lineNumber = 0;
  auto fail = [&](std::string fault) {
    check.Ok = false;
    check.Line = lineNumber;
    check.Fault = std::move(fault);
    return check;
  };
  while (!image.empty()) {
    ++lineNumber;
    const std::size_t newline = image.find('\n');
    std::string_view line = image.substr(0, newline);
    image = newline == std::string_view::npos ? std::string_view() : image.substr(newline + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    if (line.empty()) continue;
    if (ended) return fail("record after the end-of-file record");
    if (line.front() != ':') return fail("record does not start with ':'");

    std::vector<unsigned> bytes;
    if (auto fault = DecodeBytes(line.substr(1), bytes); !fault.empty()) return fail(fault);
    if (bytes.size() < 5) return fail("record shorter than its header and checksum");
    const unsigned length = bytes[0];
    if (bytes.size() != length + 5u) return fail("byte count does not match the record");
    unsigned sum = 0;
    for (unsigned b : bytes) sum += b;
    if (sum % 256 != 0) return fail("checksum mismatch");

    const unsigned type = bytes[3];
    const int fixed = FixedLength(type);
    if (fixed == -2) return fail("unknown record type " + std::to_string(type));
    if (fixed >= 0 && length != static_cast<unsigned>(fixed))
      return fail("wrong length for record type " + std::to_string(type));
    if (type == 0) check.DataBytes += length;
    if (type == 1) ended = true;
  }
  if (!ended) {
    ++lineNumber;
    return fail("no end-of-file record");
  }
  check.Ok = true;
  return check;
}

}  // namespace kt::sim
