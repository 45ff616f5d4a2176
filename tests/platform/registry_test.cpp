// SPDX-License-Identifier: MIT
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "core/error.h"
#include "fakes/fake_registry.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

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

// The same rows hold for Windows' own expansion, which the Windows build of this test runs
// (under Wine, whose expansion these rows were checked against).
TEST(ExpandEnvironment, NamesBetweenPercentSignsAndEverythingElseAsTyped) {
  const test::ScopedEnv set("KT_TEST_SET", "v");
  constexpr const char* kNever = "KT_TEST_NEVER_SET_7F3A";
  ASSERT_EQ(std::getenv(kNever), nullptr);
  const std::pair<std::string, std::string> rows[] = {
      {"", ""},
      {"plain", "plain"},
      {"%KT_TEST_SET%", "v"},
      {"a%KT_TEST_SET%b", "avb"},
      {"%KT_TEST_SET%%KT_TEST_SET%", "vv"},
      {"%KT_TEST_NEVER_SET_7F3A%", "%KT_TEST_NEVER_SET_7F3A%"},  // unknown: kept
      // Not a variable: kept whole, and its closing sign opens nothing.
      {"%KT_TEST_NEVER_SET_7F3A%KT_TEST_SET%", "%KT_TEST_NEVER_SET_7F3A%KT_TEST_SET%"},
      {"%", "%"},
      {"50%", "50%"},
      {"%KT_TEST_SET", "%KT_TEST_SET"},  // never closed
      {"%%", "%%"},
      {"a%%b", "a%%b"},
      {"%%KT_TEST_SET%", "%%KT_TEST_SET%"},
      {"%%%KT_TEST_SET%", "%%v"},
  };
  for (const auto& [text, expanded] : rows) EXPECT_EQ(ExpandEnvironment(text), expanded) << text;
}

#ifndef _WIN32
TEST(FindOnPath, TakesTheFirstExecutableFileInPathOrder) {
  namespace fs = std::filesystem;
  // A folder of this run's own: another user's or run's leftovers are not ours to remove.
  const fs::path root = test::WriteTempFile("path-search", "") + ".d";
  fs::remove_all(root);
  for (const char* folder : {"a", "b", "c", "d"}) fs::create_directories(root / folder);
  auto tool = [&](const char* folder, bool executable) {
    const fs::path file = root / folder / "tool";
    std::ofstream(file) << "#!/bin/sh\n";
    fs::permissions(file, executable ? fs::perms::owner_all : fs::perms::owner_read);
    return file.string();
  };
  tool("a", false);                             // a file that cannot run
  fs::create_directories(root / "b" / "tool");  // a folder of that name
  const std::string c = tool("c", true);
  const std::string d = tool("d", true);
  const std::string a = (root / "a").string(), b = (root / "b").string();
  const std::string cf = (root / "c").string(), df = (root / "d").string();
  struct Row {
    std::optional<std::string> path;  // nothing: PATH unset
    std::string found;
  };
  const Row rows[] = {
      {a + ":" + b + ":" + cf + ":" + df, c},
      {df + ":" + cf, d},
      {"::" + cf, c},  // empty entries are skipped, never the current folder
      {cf + ":", c},
      {a + ":" + b, ""},
      {"", ""},
      {std::nullopt, ""},
  };
  const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path.value_or("(unset)"));
    if (row.path) {
      setenv("PATH", row.path->c_str(), 1);
    } else {
      unsetenv("PATH");
    }
    EXPECT_EQ(FindOnPath("tool"), row.found);
  }
  setenv("PATH", saved.c_str(), 1);
}
#endif

}  // namespace
}  // namespace kt::platform
