// SPDX-License-Identifier: MIT
// The lazy loader and the bindings, through the real dynamic loading code.
#include <gtest/gtest.h>

#include "core/error.h"
#include "link/boardio_binding.h"
#include "link/boardlink_binding.h"
#include "tests/support/test_support.h"

namespace kt::link {
namespace {

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.what();
  }
  return "no error";
}

std::string BoardIoFile() { return test::BesideProgram(platform::LibraryFileName("BoardIO")); }

TEST(LazyLibrary, LoadsAtTheFirstCallAndResolvesEachEntryAtItsOwn) {
  LazyLibrary library(kBoardLinkPath);
  LazyEntry<BoardLinkBinding::ScanBusFn> scan(library, "Scan_Bus");
  LazyEntry<BoardLinkBinding::OpenLinkFn> open(library, "Open_Link");
  EXPECT_FALSE(library.IsLoaded());

  std::int32_t count = 0;
  std::uint8_t boards[128] = {};
  scan.Get()(0, 0, &count, boards);
  EXPECT_TRUE(library.IsLoaded());
  EXPECT_TRUE(scan.IsResolved());
  EXPECT_FALSE(open.IsResolved());
  EXPECT_EQ(scan.Get(), scan.Get());
}

TEST(LazyLibrary, MissingLibraryNamesTheFileAndTheLoadersReason) {
  BoardLinkBinding binding("/nonexistent/folder/libCVR_BOARDLINK.so");
  std::int32_t count = 0;
  std::uint8_t boards[128] = {};
  const std::string message = ErrorOf([&] { binding.Scan_Bus(0, 0, &count, boards); });
  EXPECT_NE(message.find("cannot load library /nonexistent/folder/libCVR_BOARDLINK.so: "),
            std::string::npos)
      << message;
#ifdef _WIN32
  EXPECT_NE(message.find("(error 126)"), std::string::npos) << message;  // module not found
#else
  EXPECT_NE(message.find("No such file"), std::string::npos) << message;
#endif
  EXPECT_FALSE(binding.Library().IsLoaded());
}

TEST(LazyLibrary, MissingEntryNamesTheEntryAndTheFile) {
  // Each binding pointed at the other generation's library finds none of its entries.
  BoardLinkBinding second(BoardIoFile());
  std::int32_t count = 0;
  std::uint8_t boards[128] = {};
  std::uint32_t handle = 0;
  char path[] = "";
  std::uint8_t byte = 0;
  EXPECT_EQ(ErrorOf([&] { second.Scan_Bus(0, 0, &count, boards); }),
            "library " + BoardIoFile() + " has no entry \"Scan_Bus\"");
  EXPECT_NE(ErrorOf([&] { second.Open_Link(0, 0, 0, &handle); }).find("\"Open_Link\""),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { second.Load_Code(0, path); }).find("\"Load_Code\""), std::string::npos);
  EXPECT_NE(ErrorOf([&] {
              second.Control_Transfer(0, 0, 0, 0, 0, 0, &byte);
            }).find("\"Control_Transfer\""),
            std::string::npos);

  BoardIoBinding first(kBoardLinkPath);
  EXPECT_EQ(ErrorOf([&] { first.InitLink(path); }),
            std::string("library ") + kBoardLinkPath + " has no entry \"?InitLink@@YGFPAD@Z\"");
  EXPECT_NE(ErrorOf([&] {
              first.LinkControl(0, 0, 0, 0, 0, path);
            }).find("\"?LinkControl@@YGFFJJFFPAD@Z\""),
            std::string::npos);
}

}  // namespace
}  // namespace kt::link
