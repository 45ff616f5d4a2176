// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace kt::platform {

/// The separator put between a folder and a file name: "\" on Windows, "/" elsewhere.
extern const char kFolderSeparator;

/// What ends a program's file name: ".exe" on Windows, nothing elsewhere.
extern const char* const kExecutableSuffix;

/// The folder that holds the running program, as the process reports it, in UTF-8 and
/// without a trailing separator (except at a drive or file-system root).
std::string ProgramFolder();

/// The program's arguments in UTF-8, its own name first: on Windows read as Unicode from the
/// system (main's argv holds them in the ANSI code page), elsewhere main's argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

/// A file system path from UTF-8 text, as the program keeps paths: on Windows the text is
/// not read in the ANSI code page, which cannot hold every name.
std::filesystem::path PathFromUtf8(const std::string& utf8);

/// std::fopen for a UTF-8 path.
std::FILE* OpenFile(const std::string& utf8, const char* mode);

/// A new file for writing (binary), made by this call: nullptr, with errno EEXIST, when
/// anything stands at the path already, a link too, dangling or not (nothing is followed).
std::FILE* CreateNewFile(const std::string& utf8);

/// Windows: the same path under the 32-bit program-files folder, as the system reports it,
/// when the path lies in "C:\Program Files" (either slash, any case) and that folder is
/// another; empty otherwise, and always elsewhere.
std::string UnderProgramFilesX86(const std::string& path);

/// The 8-bit form in which the board libraries take a path: the ANSI code page on Windows,
/// the UTF-8 bytes elsewhere. Throws kt::Error naming the character that has no single-byte
/// code and the text it stands in.
std::string ToSingleByte(const std::string& utf8);

}  // namespace kt::platform
