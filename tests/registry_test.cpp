// SPDX-License-Identifier: MIT
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/error.h"
#include "tests/fake_registry.h"
#include "tests/test_support.h"

namespace kt::platform {
namespace {

constexpr const char* kKey = R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)";

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(GetKeyValue, DecodesValuesByteForByte) {
  struct Row {
    const char* what;
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
    std::optional<std::string> value;  // nothing: not read
  };
  test::ScopedEnv root("KT_TEST_ROOT", "C:\\Windows");
  const Row rows[] = {
      {"string with its zero", kRegString, Bytes(std::string("C:\\msinfo32.exe", 16)),
       "C:\\msinfo32.exe"},
      {"string without it", kRegString, Bytes("C:\\msinfo32.exe"), "C:\\msinfo32.exe"},
      {"expandable string", kRegExpandString, Bytes(std::string("%KT_TEST_ROOT%\\x.exe", 21)),
       "C:\\Windows\\x.exe"},
      {"32-bit number loses a top byte of 0", kRegNumber, {0x03, 0x02, 0x01, 0x00}, "&h010203"},
      {"32-bit number with a top byte keeps all four",
       kRegNumber,
       {0x00, 0x02, 0x01, 0xA0},
       "&hA0010200"},
      {"other type stays as passed in", 3, {1, 2, 3}, "as passed"},
      {"1024 bytes", kRegString, std::vector<std::uint8_t>(1024, 'a'), std::string(1024, 'a')},
      {"1025 bytes", kRegString, std::vector<std::uint8_t>(1025, 'a'), std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::FakeRegistry registry;
    registry.Set(kKey, "PATH", row.type, row.bytes);
    std::string value = "as passed";
    EXPECT_EQ(GetKeyValue(registry, kLocalMachine, kKey, "PATH", value), row.value.has_value());
    EXPECT_EQ(value, row.value.value_or(""));
    EXPECT_EQ(registry.Closed().size(), 1u);
  }
}

TEST(GetKeyValue, MissingKeyOrValueIsNotRead) {
  test::FakeRegistry registry;
  registry.SetString(kKey, "PATH", "x");
  std::string value = "stale";
  EXPECT_FALSE(GetKeyValue(registry, kLocalMachine, "SOFTWARE\\Nowhere", "PATH", value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(registry.Closed().empty()) << "a key that was not opened is not closed";
  EXPECT_FALSE(GetKeyValue(registry, kLocalMachine, kKey, "MSINFO", value));
  EXPECT_EQ(registry.Closed().size(), 1u);
}

TEST(GetKeyValue, EmptyValueIsAnError) {
  test::FakeRegistry registry;
  registry.Set(kKey, "PATH", kRegString, {});
  std::string value;
  EXPECT_THROW(GetKeyValue(registry, kLocalMachine, kKey, "PATH", value), Error);
  EXPECT_EQ(registry.Closed().size(), 1u);
}

}  // namespace
}  // namespace kt::platform
