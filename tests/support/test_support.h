// SPDX-License-Identifier: MIT
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "dac/entry_logic.h"

namespace kt::test {

// What the tests of each generation expect, for the board the test program was linked with
// (link::ProgramBoard()): its generation, a load status that generation counts as failure,
// the About window's version text, the program's title and its file version.
int Generation();
const char* FailingLoad();
const char* VersionText();
const char* ApplicationTitle();
std::string ExpectedFileVersion();

/// The update's frames to the program's board, as the main window sends them.
dac::FrameSender ToBoard();

/// @brief Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// @brief The simulated board's trace of this test: a fresh file named by KT_SIM_TRACE.
class Trace {
 public:
  Trace();
  ~Trace();

  /// Every call the board library recorded, in order.
  [[nodiscard]] std::vector<nlohmann::json> Records() const;
  /// Only the frames (Control_Transfer and LinkControl).
  [[nodiscard]] std::vector<nlohmann::json> Frames() const;
  /// The names of the entries called, in order.
  [[nodiscard]] std::vector<std::string> Entries() const;
  /// The lines as the library wrote them.
  [[nodiscard]] std::vector<std::string> Lines() const;

 private:
  std::string file_;
  ScopedEnv env_;
};

/// The folder of the test program, where the build puts SPI.hex and the board libraries.
std::string ProgramFolder();

/// A file of that name in the test program's folder.
std::string BesideProgram(const std::string& name);

/// Writes a file in the test's temporary folder and returns its path.
std::string WriteTempFile(const std::string& name, const std::string& content);

}  // namespace kt::test
