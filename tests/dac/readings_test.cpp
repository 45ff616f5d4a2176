// SPDX-License-Identifier: MIT
#include "dac/readings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>

#include "core/error.h"
#include "dac/raw_frame.h"

namespace kt::dac {
namespace {

struct HexRow {
  const char* text;
  std::optional<std::int32_t> value;  // nothing: the reading fails
  HexFault fault;
  std::size_t errorIndex;
};

TEST(HexReading, ReadsUnsigned32BitsAsTwosComplement) {
  const HexRow rows[] = {
      {"0", 0, HexFault::kNone, 0},
      {"abc", 0xABC, HexFault::kNone, 0},
      {"00001234", 0x1234, HexFault::kNone, 0},
      {"8000", 0x8000, HexFault::kNone, 0},  // not a negative 16-bit number
      {"FFFF", 0xFFFF, HexFault::kNone, 0},
      {"7FFFFFFF", 0x7FFFFFFF, HexFault::kNone, 0},
      {"80000000", INT32_MIN, HexFault::kNone, 0},
      {"FFFFFFFF", -1, HexFault::kNone, 0},
      {"000000000000FFFFFFFF", -1, HexFault::kNone, 0},  // leading zeros do not count
      {"", std::nullopt, HexFault::kEmpty, 0},
      {"zz", std::nullopt, HexFault::kNotADigit, 0},
      {"12G4", std::nullopt, HexFault::kNotADigit, 2},
      {" 12", std::nullopt, HexFault::kNotADigit, 0},
      {"12 ", std::nullopt, HexFault::kNotADigit, 2},
      {"1 2", std::nullopt, HexFault::kNotADigit, 1},
      {"-1", std::nullopt, HexFault::kNotADigit, 0},
      {"+1", std::nullopt, HexFault::kNotADigit, 0},
      {"1.5", std::nullopt, HexFault::kNotADigit, 1},
      {"&H10", std::nullopt, HexFault::kNotADigit, 0},
      {"123456789", std::nullopt, HexFault::kTooLarge, 8},
      {"100000000", std::nullopt, HexFault::kTooLarge, 8},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const HexReading reading = ParseHex(row.text);
    EXPECT_EQ(reading.fault, row.fault);
    if (row.value) {
      EXPECT_EQ(reading.value, *row.value);
      EXPECT_EQ(ReadHex(row.text), *row.value);
    } else {
      EXPECT_EQ(reading.errorIndex, row.errorIndex);
      EXPECT_THROW(ReadHex(row.text), Error);
    }
  }
}

TEST(HexReading, ErrorNamesTextAndPosition) {
  try {
    ReadHex("12G4");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "\"12G4\" is not a hexadecimal number (character 3)");
  }
}

struct NumberRow {
  const char* text;
  double value;
};

constexpr NumberRow kNumberRows[] = {
    {"", 0},
    {"abc", 0},
    {"42", 42},
    {"  42abc", 42},
    {"\t7", 7},
    {"-3", -3},
    {"+3", 3},
    {"12.5", 12.5},
    {"1,000", 1},
    {"1.2.3", 1.2},
    {".5", 0.5},
    {"5.", 5},
    {".", 0},
    {"-", 0},
    {"- 5", 0},
    {"1 000", 1},
    {"1e3", 1},
    {"1E3", 1},
    {"0x10", 0},
    {"3000000000", 3e9},
    {"&H10", 16},
    {"&h12G4", 0x12},
    {"&hFFFFFF", 0xFFFFFF},
    {"&h8000", 0x8000},
    {"&HFFFFFFFF", -1},
    {"&h", 0},
    {"&O17", 15},
    {"&o9", 0},
    {" &H1F", 31},
    {"&X1", 0},
    {"-&H1", 0},
};

TEST(LeadingNumberReading, ReadsTheNumberAtTheStart) {
  for (const auto& row : kNumberRows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ReadLeadingNumber(row.text), row.value);
  }
}

TEST(LeadingNumberReading, PrefixedValueBeyond32BitsIsAnError) {
  EXPECT_THROW(ReadLeadingNumber("&H123456789"), Error);
  EXPECT_THROW(ReadLeadingNumber("&O40000000000"), Error);
  EXPECT_EQ(ReadLeadingNumber("&O37777777777"), -1);
}

TEST(LeadingNumberReading, HugeDigitRunsDoNotBreakTheReading) {
  EXPECT_EQ(ReadLeadingNumber(std::string(400, '9')), HUGE_VAL);
  EXPECT_EQ(ReadLeadingNumber("-" + std::string(400, '9')), -HUGE_VAL);
  EXPECT_EQ(ReadLeadingNumber("0." + std::string(400, '0') + "1"), 0.0);
}

// A German locale has the decimal comma; the reading must still take the full stop, and only
// the full stop. On Linux the build compiles the locale beside the tests (LOCPATH).
TEST(LeadingNumberReading, FullStopUnderACommaLocale) {
#ifdef _WIN32
  const char* name = "German_Germany.1252";
#else
  const char* name = "de_DE.UTF-8";
#endif
  const char* locale = std::setlocale(LC_ALL, name);
  ASSERT_NE(locale, nullptr) << "the test locale " << name << " is missing";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(ReadLeadingNumber("12.5"), 12.5);
  EXPECT_EQ(ReadLeadingNumber("12,5"), 12);
  EXPECT_EQ(RoundToInt32(ReadLeadingNumber("13.5")), 14);
  std::setlocale(LC_ALL, "C");
}

TEST(Rounding, HalfToEvenWithinSigned32Bits) {
  const std::pair<double, std::int32_t> rows[] = {
      {12.5, 12},
      {13.5, 14},
      {-2.5, -2},
      {-3.5, -4},
      {0.5, 0},
      {1.5, 2},
      {2.4999, 2},
      {-0.0, 0},
      {2147483647.0, INT32_MAX},
      {2147483647.4, INT32_MAX},
      {-2147483648.0, INT32_MIN},
      {-2147483648.5, INT32_MIN},
  };
  for (const auto& [value, rounded] : rows) EXPECT_EQ(RoundToInt32(value), rounded) << value;
  for (double value : {2147483647.5, 2147483648.0, -2147483649.0, 3e9, HUGE_VAL, -HUGE_VAL})
    EXPECT_THROW(RoundToInt32(value), Error) << value;
}

TEST(TextForms, HexDecimalAndZeroFill) {
  EXPECT_EQ(HexText(0), "0");
  EXPECT_EQ(HexText(0xABC), "ABC");
  EXPECT_EQ(HexText(0x11170), "11170");
  EXPECT_EQ(HexText(-3), "FFFFFFFD");
  EXPECT_EQ(HexText(INT32_MIN), "80000000");
  EXPECT_EQ(ZeroFill4("0"), "0000");
  EXPECT_EQ(ZeroFill4("C"), "000C");
  EXPECT_EQ(ZeroFill4("ABC"), "0ABC");
  EXPECT_EQ(ZeroFill4("FFFF"), "FFFF");
  EXPECT_EQ(ZeroFill4("11170"), "11170");
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(-3), "-3");
  EXPECT_EQ(DecimalText(INT32_MIN), "-2147483648");
}

TEST(RawFrameReading, LengthAndDataAtTheirBoundaries) {
  struct Row {
    const char* bits;
    const char* data;
    std::optional<RawFrame> frame;  // nothing: refused before anything is sent
  };
  const Row rows[] = {
      {"24", "FFFFFF", RawFrame{24, 0xFFFFFF}},
      {"", "", RawFrame{0, 0}},                  // empty boxes read as 0
      {"abc", "zz", RawFrame{0, 0}},             // no leading number, no leading digit
      {" 16 bits", "12G4", RawFrame{16, 0x12}},  // the number and the digits at the start
      {"25.5", "1", RawFrame{26, 1}},            // half to even: up
      {"24.5", "1", RawFrame{24, 1}},            // half to even: down
      {"-0.5", "1", RawFrame{0, 1}},
      {"&H10", "1", RawFrame{16, 1}},  // the length may be written in hexadecimal
      {"32767", "1", RawFrame{32767, 1}},
      {"32768", "1", std::nullopt},
      {"-32768", "1", RawFrame{-32768, 1}},
      {"-32769", "1", std::nullopt},
      {"32767.5", "1", std::nullopt},  // rounds to 32768
      {"1e3", "1", RawFrame{1, 1}},    // no exponent
      {"24", "12345678", RawFrame{24, 0x12345678}},
      {"24", "FFFFFFFF", RawFrame{24, -1}},            // eight digits: 32 bits, two's complement
      {"24", "123456789", std::nullopt},               // nine digits
      {"24", "000000001", std::nullopt},               // nine digits, even with leading zeros
      {"24", "12345678x9", RawFrame{24, 0x12345678}},  // the digits stop at the x
      {"24", "0x12", RawFrame{24, 0}},                 // 0, then x: no 0x prefix here
      {"24", " 12", RawFrame{24, 0}},                  // the data start at once, no blanks
      {"24", "abcdef", RawFrame{24, 0xABCDEF}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.bits) + " / " + row.data);
    if (!row.frame) {
      EXPECT_THROW(ReadRawFrame(row.bits, row.data), Error);
      continue;
    }
    const RawFrame frame = ReadRawFrame(row.bits, row.data);
    EXPECT_EQ(frame.FrameBits, row.frame->FrameBits);
    EXPECT_EQ(frame.Word, row.frame->Word);
  }
}

}  // namespace
}  // namespace kt::dac
