// SPDX-License-Identifier: MIT
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "link/vendor_board.h"
#include "platform/program.h"

namespace kt::test {

dac::FrameSender ToBoard() {
  return [](const Frame& frame) { link::ProgramBoard().Send(frame); };
}

int Generation() { return link::ProgramBoard().Generation(); }

const char* FailingLoad() {
  return Generation() == 2 ? "1" /* any status but 0 fails */ : "-1" /* a negative one */;
}

const char* VersionText() { return Generation() == 2 ? "Version 1.0.4" : "Version 1.0.0"; }

const char* ApplicationTitle() { return Generation() == 2 ? "KT310(version2)" : "KT310"; }

std::string ExpectedFileVersion() {
  return Generation() == 2 ? KT_FILE_VERSION_G2 : KT_FILE_VERSION_G1;
}

namespace {

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value)
    setenv(name.c_str(), value->c_str(), 1);
  else
    unsetenv(name.c_str());
#endif
}

std::string UniqueName(const std::string& stem) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "global";
  for (char& c : name)
    if (c == '/') c = '_';
  // Both generations' suites hold tests of the same name, and CTest runs them side by side.
  static const std::string process = std::to_string(std::random_device()());
  return ::testing::TempDir() + "kt_" + process + "_" + name + "_" + stem;
}

}  // namespace

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, old_); }

Trace::Trace() : file_(UniqueName("trace.jsonl")), env_("KT_SIM_TRACE", file_) {
  std::filesystem::remove(file_);
}

Trace::~Trace() { std::filesystem::remove(file_); }

std::vector<nlohmann::json> Trace::Records() const {
  std::vector<nlohmann::json> records;
  std::ifstream in(file_);
  // Only whole lines: a program still running may be in the middle of writing the last.
  for (std::string line; std::getline(in, line) && !in.eof();)
    records.push_back(nlohmann::json::parse(line));
  return records;
}

std::vector<nlohmann::json> Trace::Frames() const {
  std::vector<nlohmann::json> frames;
  for (auto& record : Records())
    if (record["entry"] == "Control_Transfer" || record["entry"] == "LinkControl")
      frames.push_back(record);
  return frames;
}

std::vector<std::string> Trace::Entries() const {
  std::vector<std::string> entries;
  for (auto& record : Records()) entries.push_back(record["entry"]);
  return entries;
}

std::string ProgramFolder() { return platform::ProgramFolder(); }

std::string BesideProgram(const std::string& name) {
  return ProgramFolder() + platform::kFolderSeparator + name;
}

std::string WriteTempFile(const std::string& name, const std::string& content) {
  const std::string path = UniqueName(name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::vector<std::string> Trace::Lines() const {
  std::ifstream in(file_);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace kt::test
