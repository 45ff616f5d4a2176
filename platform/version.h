// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace kt::platform {

/// @brief A file version: major.minor.build.revision.
struct FileVersion {
  int Major = 0;
  int Minor = 0;
  int Build = 0;
  int Revision = 0;

  /// "major.minor.build.revision", as the programs print it ("1.0.0.4").
  [[nodiscard]] std::string Dotted() const {
    return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Build) + "." +
           std::to_string(Revision);
  }
};

/// The running program's own file version: from its version resource on Windows, compiled
/// into the program elsewhere. Each program links the version target of its generation.
FileVersion ProgramFileVersion();

}  // namespace kt::platform
