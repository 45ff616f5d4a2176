// SPDX-License-Identifier: MIT
#include "link/path_buffer.h"

#include <gtest/gtest.h>

#include "core/error.h"

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

}  // namespace
}  // namespace kt::link
