// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "sim/dac_model.h"
#include "sim/intel_hex.h"
#include "tests/support/test_support.h"

namespace kt::sim {
namespace {

TEST(IntelHex, TheProjectsFirmwareIsValid) {
  std::ifstream in(test::BesideProgram("SPI.hex"), std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const HexCheck check = CheckIntelHex(image);
  EXPECT_TRUE(check.Ok) << check.Fault << " at line " << check.Line;
  EXPECT_GT(check.DataBytes, 0u);
}

TEST(IntelHex, RejectsEveryKindOfDamage) {
  struct Row {
    const char* image;
    bool ok;
    std::size_t line;
  };
  const Row rows[] = {
      {":0100000002FD\n:00000001FF\n", true, 0},
      {":0100000002fd\r\n\r\n:00000001ff\r\n", true, 0},  // lower case, CRLF, blank line
      {":020000040000FA\n:0400000300000000F9\n:00000001FF", true, 0},
      {"", false, 1},
      {":0100000002FD\n", false, 2},               // no end-of-file record
      {":0100000002FE\n:00000001FF\n", false, 1},  // checksum
      {"0100000002FD\n:00000001FF\n", false, 1},   // no colon
      {":0100000002F\n:00000001FF\n", false, 1},   // odd digits
      {":01000000G2FD\n:00000001FF\n", false, 1},  // not hexadecimal
      {":0200000002FC\n:00000001FF\n", false, 1},  // count says 2, carries 1
      {":0000000600FA\n:00000001FF\n", false, 1},  // unknown type
      {":0100000100FE\n", false, 1},               // end-of-file record with data
      {":00000001FF\n:0100000002FD\n", false, 2},  // record after the end
      {":00\n:00000001FF\n", false, 1},            // shorter than a header
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.image);
    const HexCheck check = CheckIntelHex(row.image);
    EXPECT_EQ(check.Ok, row.ok) << check.Fault;
    if (!row.ok) {
      EXPECT_EQ(check.Line, row.line) << check.Fault;
    }
  }
}

TEST(DacModel, DecodesRequestsAndDrivesTheDacOfTheFrameLength) {
  struct Row {
    std::int32_t value, index;
    std::optional<std::int32_t> bits, word, code, powerDown;
  };
  const Row rows[] = {
      {0x1234, 0x1801, 24, 0x011234, 0x1234, 1},
      {0xFFFF, 0x1803, 24, 0x03FFFF, 0xFFFF, 3},
      {0xD234, 0x1000, 16, 0xD234, 0x1234, 3},
      {0x3FFF, 0x1000, 16, 0x3FFF, 0x3FFF, 0},
      {0x1234, 0x00AB, 0, 0xAB1234, std::nullopt, std::nullopt},
      {0x0000, -85, -1, 0xAB0000, std::nullopt, std::nullopt},
      {0x10000, 0x1800, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {-1, 0x1800, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.value << " " << row.index);
    const auto frame = DecodeRequest(row.value, row.index);
    ASSERT_EQ(frame.has_value(), row.bits.has_value());
    if (!frame) continue;
    EXPECT_EQ(frame->Bits, *row.bits);
    EXPECT_EQ(frame->Word, *row.word);
    DacModel dac;
    EXPECT_EQ(dac.Apply(*frame), row.code.has_value());
    EXPECT_EQ(dac.Code(), row.code);
    EXPECT_EQ(dac.PowerDown(), row.powerDown);
  }
}

}  // namespace
}  // namespace kt::sim
