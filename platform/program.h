// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace kt::platform {

/// The separator put between a folder and a file name: "\" on Windows, "/" elsewhere.
extern const char kFolderSeparator;

/// The folder that holds the running program, as the process reports it, in UTF-8 and
/// without a trailing separator (except at a drive or file-system root).
std::string ProgramFolder();

/// The 8-bit form in which the board libraries take a path: the ANSI code page on Windows,
/// the UTF-8 bytes elsewhere. Throws kt::Error naming the character that has no single-byte
/// code and the text it stands in.
std::string ToSingleByte(const std::string& utf8);

}  // namespace kt::platform
