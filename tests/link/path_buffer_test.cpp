// SPDX-License-Identifier: MIT
#include "link/path_buffer.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/error.h"
#include "platform/program.h"

namespace kt::link {
namespace {

std::string Held(const PathBufferBytes& buffer, std::size_t from, std::size_t to) {
  return std::string(buffer.begin() + static_cast<std::ptrdiff_t>(from),
                     buffer.begin() + static_cast<std::ptrdiff_t>(to));
}

TEST(FillPathBuffer, WritesThePathAndOneTerminator) {
  PathBufferBytes buffer;
  buffer.fill(0xAA);
  FillPathBuffer(buffer, "");
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 0xAA);

  const std::string longest(512, 'p');
  FillPathBuffer(buffer, longest);
  EXPECT_EQ(Held(buffer, 0, 512), longest);
  EXPECT_EQ(buffer[512], 0);
}

TEST(FillPathBuffer, ShorterPathLeavesTheTailOfTheLongerOne) {
  PathBufferBytes buffer{};
  FillPathBuffer(buffer, "abcdefghijklmnopqrst");  // 20
  FillPathBuffer(buffer, "0123456789");            // 10
  EXPECT_EQ(Held(buffer, 0, 10), "0123456789");
  EXPECT_EQ(buffer[10], 0);
  EXPECT_EQ(Held(buffer, 11, 20), "lmnopqrst");
  EXPECT_EQ(buffer[20], 0);
}

TEST(FillPathBuffer, PathThatDoesNotFitLeavesTheBufferUnchanged) {
  struct Row {
    std::string path;
    const char* says;
  };
  const Row rows[] = {
      {std::string(513, 'x'), "path of 513 bytes does not fit"},
      {std::string(600, 'x'), "path of 600 bytes does not fit"},
      {std::string(40000, 'x'), "path of 40000 bytes does not fit"},
#ifdef _WIN32
      // The path goes over in the ANSI code page, where "日" has no single-byte code.
      {"C:\\kt\\\xE6\x97\xA5\\SPI.hex", "has no single-byte code"},
#else
      // The limit counts bytes: "é" is two in UTF-8.
      {std::string(511, 'x') + "\xC3\xA9", "path of 513 bytes does not fit"},
#endif
      {std::string("/opt/kt\0/SPI.hex", 16), "zero byte"},
  };
  for (const auto& row : rows) {
    PathBufferBytes buffer{};
    FillPathBuffer(buffer, "/previous/SPI.hex");
    const PathBufferBytes before = buffer;
    try {
      FillPathBuffer(buffer, row.path);
      ADD_FAILURE() << "no error for " << row.says;
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find(row.says), std::string::npos) << error.what();
    }
    EXPECT_EQ(buffer, before) << row.says;
  }
}

#ifdef _WIN32
// The code-page step that fuzzing on Linux never reaches: random paths of characters from
// Latin-1, the code page 1252's own extras, characters it lacks (some that a best fit would
// turn into look-alikes) and broken UTF-8, against the code page's table written out here.
TEST(ToSingleByte, MatchesTheCodePage1252TableOnRandomPaths) {
  ASSERT_EQ(GetACP(), 1252u);
  struct Character {
    std::string utf8;
    int code;  // the byte in code page 1252; -1: none; -2: not UTF-8 at all
  };
  std::vector<Character> alphabet{
      {"\xE2\x82\xAC", 0x80}, {"\xE2\x80\x9A", 0x82}, {"\xC6\x92", 0x83},
      {"\xE2\x80\x9E", 0x84}, {"\xE2\x80\xA6", 0x85}, {"\xE2\x80\xA0", 0x86},
      {"\xE2\x80\xA1", 0x87}, {"\xCB\x86", 0x88},     {"\xE2\x80\xB0", 0x89},
      {"\xC5\xA0", 0x8A},     {"\xE2\x80\xB9", 0x8B}, {"\xC5\x92", 0x8C},
      {"\xC5\xBD", 0x8E},     {"\xE2\x80\x98", 0x91}, {"\xE2\x80\x99", 0x92},
      {"\xE2\x80\x9C", 0x93}, {"\xE2\x80\x9D", 0x94}, {"\xE2\x80\xA2", 0x95},
      {"\xE2\x80\x93", 0x96}, {"\xE2\x80\x94", 0x97}, {"\xCB\x9C", 0x98},
      {"\xE2\x84\xA2", 0x99}, {"\xC5\xA1", 0x9A},     {"\xE2\x80\xBA", 0x9B},
      {"\xC5\x93", 0x9C},     {"\xC5\xBE", 0x9E},     {"\xC5\xB8", 0x9F},
      {"\xC4\x80", -1},  // A with macron: a best fit would give "A"
      {"\xCE\xA9", -1},  // Greek omega: a best fit would give "O"
      {"\xE2\x80\x90", -1},   {"\xE6\x97\xA5", -1},   {"\xF0\x9F\x98\x80", -1},
      {"\xFF", -2},           {"\x80", -2},           {"\xE2\x82", -2},
  };
  for (int code = 0x20; code < 0x7F; ++code)
    alphabet.push_back({std::string(1, static_cast<char>(code)), code});
  for (int code = 0xA0; code <= 0xFF; ++code)  // Latin-1: U+00A0..U+00FF, two bytes in UTF-8
    alphabet.push_back(
        {{static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))}, code});

  std::mt19937 random(20261207);
  for (int trial = 0; trial < 20000; ++trial) {
    std::string path;
    std::string expected;
    int worst = 0;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) {
      const Character& c = alphabet[random() % alphabet.size()];
      path += c.utf8;
      if (c.code >= 0) expected.push_back(static_cast<char>(c.code));
      worst = std::min(worst, c.code);
    }
    SCOPED_TRACE(path);
    if (worst < 0) {
      EXPECT_THROW(platform::ToSingleByte(path), Error);
    } else {
      ASSERT_EQ(platform::ToSingleByte(path), expected);
    }
  }
}
#endif

}  // namespace
}  // namespace kt::link
