// SPDX-License-Identifier: MIT
// What differs on Windows, on Windows' own loader, registry and process calls (under Wine in
// CI): the calling convention of every entry, the registry as advapi32 reads it, starting a
// program, and the ANSI form of a path. tools/wine-run.sh prepares the prefix: the registry
// values of data/wine-registry.reg and a program in a folder with blanks.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/error.h"
#include "link/boardio_binding.h"
#include "link/boardlink_binding.h"
#include "link/vendor_board.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "platform/wide.h"

namespace kt {
namespace {

// The stack pointer, read where the statement stands. The balance test below means something
// only for 32-bit x86, where __stdcall and cdecl differ in who pops the arguments; the 64-bit
// build compiles it and leaves it out by name (tests/CMakeLists.txt).
#if defined(__i386__)
#define KT_STACK_POINTER(into) asm volatile("mov %%esp, %0" : "=r"(into)::"memory")
#else
#define KT_STACK_POINTER(into) asm volatile("mov %%rsp, %0" : "=r"(into)::"memory")
#endif

// Calls an entry through the binding's own function-pointer type many times; a calling
// convention that differs from the library's leaves the stack pointer moved after the call.
template <typename Fn, typename... Args>
void ExpectBalanced(link::LazyLibrary& library, const char* entry, Args... args) {
  link::LazyEntry<Fn> function(library, entry);
  for (int i = 0; i < 2000; ++i) {
    std::uintptr_t before = 0;
    std::uintptr_t after = 0;
    KT_STACK_POINTER(before);
    function.Get()(args...);
    KT_STACK_POINTER(after);
    ASSERT_EQ(after, before) << entry << ": the stack moved by "
                             << static_cast<std::intptr_t>(after - before) << " bytes";
  }
}

TEST(Wine, EveryEntryOfBothGenerationsLeavesTheStackBalanced) {
  using Link = link::BoardLinkBinding;
  link::LazyLibrary second(link::kBoardLinkPath);
  std::int32_t count = 0;
  std::uint8_t boards[128] = {};
  std::uint32_t handle = 0;
  std::uint8_t byte = 0;
  char path[] = "missing.hex";
  ExpectBalanced<Link::ScanBusFn>(second, "Scan_Bus", std::int32_t{link::kBoardVendorId},
                                  std::int32_t{link::kBoardProductId}, &count, boards);
  ExpectBalanced<Link::OpenLinkFn>(second, "Open_Link", std::int32_t{link::kBoardVendorId},
                                   std::int32_t{link::kBoardProductId}, std::uint8_t{1}, &handle);
  ExpectBalanced<Link::LoadCodeFn>(second, "Load_Code", handle, path);
  ExpectBalanced<Link::ControlTransferFn>(second, "Control_Transfer", handle, std::uint8_t{0xDD},
                                          std::int32_t{0x1234}, std::int32_t{0x1801},
                                          std::uint8_t{0}, std::int16_t{0}, &byte);

  using Io = link::BoardIoBinding;
  link::LazyLibrary first(platform::LibraryFileName(link::kBoardIoName));
  char buffer = 0;
  ExpectBalanced<Io::InitLinkFn>(first, Io::kInitLinkName, path);
  ExpectBalanced<Io::LinkControlFn>(first, Io::kLinkControlName, std::int16_t{0xDD},
                                    std::int32_t{0x1234}, std::int32_t{0x1801}, std::int16_t{0},
                                    std::int16_t{0}, &buffer);
}

TEST(Wine, GetKeyValueReadsTheRegistryByteForByte) {
  constexpr const char* kKey = R"(Software\KT310 Test)";
  struct Row {
    const char* value;
    bool read;
    std::string expected;
  };
  const Row rows[] = {
      {"String", true, R"(C:\windows\system32\hostname.exe)"},  // stored with its zero
      {"StringWithoutZero", true, "ABC"},
      {"Number", true, "&h010203"},
      {"Expandable", true, R"(C:\windows\kt.exe)"},
      {"Exactly1024", true, std::string(1023, 'a')},  // 1023 characters and the zero
      {"Bytes1025", false, ""},
      {"Missing", false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    std::string value = "as passed";
    EXPECT_EQ(platform::GetKeyValue(platform::SystemRegistry(), platform::kLocalMachine, kKey,
                                    row.value, value),
              row.read);
    EXPECT_EQ(value, row.expected);
  }
  std::string value;
  EXPECT_FALSE(platform::GetKeyValue(platform::SystemRegistry(), platform::kLocalMachine,
                                     R"(Software\No Such Key)", "String", value));
}

TEST(Wine, StartsAProgramWhosePathHasBlanks) {
  const std::string folder = R"(C:\Program Files\KT310 Test)";
  const std::filesystem::path marker = folder + R"(\started.txt)";
  std::filesystem::remove(marker);
  EXPECT_TRUE(platform::FileExists(folder + R"(\kt started.exe)"));
  EXPECT_FALSE(platform::FileExists(folder));
  ASSERT_TRUE(platform::StartProgram(folder + R"(\kt started.exe)"));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(std::filesystem::exists(marker)) << "the program did not run";
  EXPECT_FALSE(platform::StartProgram(folder + R"(\no such program.exe)"));
  EXPECT_FALSE(platform::StartProgram(""));
}

// The started program's copy in a folder of its own, and what it reported of its arguments.
class StartedProgram {
 public:
  explicit StartedProgram(const std::wstring& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(LR"(C:\Program Files\KT310 Test\kt started.exe)", Program(),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(Marker());
  }
  ~StartedProgram() { std::filesystem::remove_all(folder_); }
  [[nodiscard]] std::filesystem::path Program() const { return folder_ / L"kt started.exe"; }
  [[nodiscard]] std::filesystem::path Marker() const { return folder_ / L"started.txt"; }
  // The arguments the program received, once it has reported them; nothing if it did not.
  [[nodiscard]] std::optional<std::vector<std::string>> Arguments() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(Marker()) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // written whole by then
    std::ifstream in(Marker());
    std::string line;
    if (!std::getline(in, line) || line != "started") return std::nullopt;
    std::vector<std::string> arguments;
    while (std::getline(in, line)) {
      std::string argument;
      for (std::size_t i = 1; i + 1 < line.size(); i += 2)
        argument.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
      arguments.push_back(argument);
    }
    return arguments;
  }

 private:
  std::filesystem::path folder_;
};

TEST(Wine, RegistryTextAndProgramPathsInAnyLanguage) {
  // A System Information folder whose name the ANSI code page cannot hold.
  const std::string folder =
      "C:\\Program Files\\KT310 T\xC3\xABst \xE2\x98\x83 \xE6\x97\xA5\xE6\x9C\xAC";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, LR"(Software\KT310 Test\Unicode)", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring wide = platform::ToWide(folder);
  const auto bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
  RegSetValueExW(key, L"MSINFO", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()), bytes);
  const std::wstring expandable = L"%ProgramFiles%\\" + platform::ToWide("\xE6\x97\xA5.exe");
  RegSetValueExW(key, L"Expandable", 0, REG_EXPAND_SZ,
                 reinterpret_cast<const BYTE*>(expandable.c_str()),
                 static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  std::string value;
  ASSERT_TRUE(platform::GetKeyValue(platform::SystemRegistry(), platform::kLocalMachine,
                                    R"(Software\KT310 Test\Unicode)", "MSINFO", value));
  EXPECT_EQ(value, folder);
  ASSERT_TRUE(platform::GetKeyValue(platform::SystemRegistry(), platform::kLocalMachine,
                                    R"(Software\KT310 Test\Unicode)", "Expandable", value));
  EXPECT_EQ(value, "C:\\Program Files\\\xE6\x97\xA5.exe");

  // And the program there starts.
  StartedProgram program(wide);
  const std::string path = folder + "\\kt started.exe";
  EXPECT_TRUE(platform::FileExists(path));
  ASSERT_TRUE(platform::StartProgram(path));
  EXPECT_TRUE(program.Arguments().has_value()) << "the program did not run";
}

TEST(Wine, ACommandLineCarriesEveryArgumentAsItWas) {
  // Windows' rules, as the C runtime splits a command line: blanks and tabs need quotes; a
  // quote is escaped by a backslash; backslashes are literal except before a quote, where
  // each must be doubled (so a trailing one is doubled before the closing quote, or it would
  // swallow it); an empty argument is a pair of quotes.
  const std::vector<std::string> rows[] = {
      {"plain"},
      {"two words", "tab\there"},
      {R"(say "hi")", R"("quoted")", "\""},
      {R"(C:\dir\)", R"(C:\dir with blanks\)", R"(C:\a\\)", R"(\\server\share)"},
      {R"(back\"quote)", R"(two\\"quotes)", R"(a\\b c)"},
      {"", "after an empty one", ""},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       "\xE6\x97\xA5\xE6\x9C\xAC \xE2\x98\x83", "--firmware=C:\\T\xC3\xABst\\SPI.hex"},
      {"--generation", "1", "set", "--device", "KT310", "0x1234"},
  };
  StartedProgram program(LR"(C:\Program Files\KT310 Test\argv)");
  for (const auto& arguments : rows) {
    SCOPED_TRACE(platform::CommandLine(arguments));
    std::filesystem::remove(program.Marker());
    std::vector<std::string> line{"kt started"};
    line.insert(line.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(platform::RunInstead(platform::FromWide(program.Program().wstring()), line), 0);
    EXPECT_EQ(program.Arguments(), arguments);
  }
}

TEST(Wine, PathsGoOverInTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 1252u) << "tools/wine-run.sh runs the tests with a Western code page";
  EXPECT_EQ(platform::ToSingleByte("C:\\\xC3\xA9t\xC3\xA9\\SPI.hex"), "C:\\\xE9t\xE9\\SPI.hex");
  try {
    platform::ToSingleByte("C:\\\xE6\x97\xA5\\SPI.hex");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("character '\xE6\x97\xA5' has no single-byte code"),
              std::string::npos)
        << error.what();
  }
}

// Restores the current folder and PATH when it goes.
class ScopedSearchPlaces {
 public:
  explicit ScopedSearchPlaces(const std::filesystem::path& folder) : path_(std::getenv("PATH")) {
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    current_ = current;
    SetCurrentDirectoryW(folder.wstring().c_str());
    _putenv_s("PATH", (folder.string() + ";" + path_).c_str());
  }
  ~ScopedSearchPlaces() {
    SetCurrentDirectoryW(current_.c_str());
    _putenv_s("PATH", path_.c_str());
  }

 private:
  std::string path_;
  std::wstring current_;
};

TEST(Wine, ALibraryPlantedInTheCurrentFolderOrOnPathIsNeverLoaded) {
  const std::filesystem::path planted =
      std::filesystem::path(platform::ProgramFolder()) / "planted";
  std::filesystem::remove_all(planted);  // afresh: a test prefix outlives one run
  std::filesystem::create_directory(planted);
  const std::filesystem::path genuine =
      std::filesystem::path(platform::ProgramFolder()) / "BoardIO.dll";
  for (const char* name : {"KtPlanted.dll", "BoardIO.dll"})
    std::filesystem::copy_file(genuine, planted / name);
  const ScopedSearchPlaces inPlantedFolder(planted);
  // A name found only in the current folder and on PATH is not found at all, and the error
  // says where it was looked for.
  try {
    platform::DynamicLibrary::Open("KtPlanted");
    FAIL() << "the planted library was loaded";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("the program's folder"), std::string::npos)
        << error.what();
  }
  // The board library's bare name is the one beside the program.
  platform::DynamicLibrary::Open("BoardIO");
  wchar_t loaded[MAX_PATH];
  GetModuleFileNameW(GetModuleHandleW(L"BoardIO.dll"), loaded, MAX_PATH);
  EXPECT_TRUE(std::filesystem::equivalent(loaded, genuine)) << std::filesystem::path(loaded);
}

TEST(Wine, TheSecondGenerationLibraryIsAlsoFoundUnderThe32BitProgramFilesFolder) {
  const std::string fixed = "c:/Program Files/KT310 Nowhere/CVR_BOARDLINK.dll";
  const std::string x86 = platform::UnderProgramFilesX86(fixed);
#ifdef _WIN64
  ASSERT_EQ(x86, R"(C:\Program Files (x86)\KT310 Nowhere/CVR_BOARDLINK.dll)");
#else
  // 32-bit Windows has one program-files folder.
  ASSERT_TRUE(x86.empty() || x86.find("(x86)") != std::string::npos) << x86;
#endif
  EXPECT_EQ(platform::UnderProgramFilesX86("d:/Program Files/x.dll"), "");
  EXPECT_EQ(platform::UnderProgramFilesX86("c:/Program Files (x86)/x.dll"), "");
  if (x86.empty()) return;
  const std::filesystem::path there = platform::PathFromUtf8(x86);
  std::filesystem::remove_all(there.parent_path());  // afresh: a test prefix outlives one run
  // Nothing at either place: the error names both.
  try {
    platform::DynamicLibrary::OpenFirst({fixed, x86});
    FAIL() << "a library was loaded";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find(fixed), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find(x86), std::string::npos) << error.what();
  }
  // Under the 32-bit folder only: found there.
  std::filesystem::create_directories(there.parent_path());
  std::filesystem::copy_file(std::filesystem::path(platform::ProgramFolder()) / "CVR_BOARDLINK.dll",
                             there);
  const auto library = platform::DynamicLibrary::OpenFirst({fixed, x86});
  EXPECT_EQ(library.File(), x86);
  EXPECT_NE(library.Find("Scan_Bus"), nullptr);
}

}  // namespace
}  // namespace kt
