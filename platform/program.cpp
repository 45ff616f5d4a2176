// SPDX-License-Identifier: MIT
#include "platform/program.h"

#include "core/error.h"

#ifdef _WIN32
#include <windows.h>

// After windows.h.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/wide.h"
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>
#endif

namespace kt::platform {

namespace {

std::string FolderOf(const std::string& file, const std::string& separators) {
  const auto cut = file.find_last_of(separators);
  if (cut == std::string::npos) return ".";
  // Keep the separator of a root ("C:\" or "/"): the folder then ends in one.
  const bool root = cut == 0 || (cut == 2 && file[1] == ':');
  return file.substr(0, root ? cut + 1 : cut);
}

}  // namespace

#ifdef _WIN32

const char kFolderSeparator = '\\';
const char* const kExecutableSuffix = ".exe";

std::string ProgramFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) throw Error("cannot read the program's own file name");
    if (n < buffer.size()) return FolderOf(FromWide(std::wstring(buffer.data(), n)), "\\/");
    buffer.resize(buffer.size() * 2);
  }
}

std::string UnderProgramFilesX86(const std::string& path) {
  constexpr std::string_view kProgramFiles = "c:\\program files\\";
  if (path.size() <= kProgramFiles.size()) return {};
  for (std::size_t i = 0; i < kProgramFiles.size(); ++i) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
    if (c == '/') c = '\\';
    if (c != kProgramFiles[i]) return {};
  }
  wchar_t folder[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, 0, folder))) return {};
  const std::string x86 = FromWide(folder);
  std::string lower = x86;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower + "\\" == kProgramFiles) return {};  // 32-bit Windows: one folder for both
  return x86 + "\\" + path.substr(kProgramFiles.size());
}

std::vector<std::string> ProgramArguments(int, char**) {
  // The arguments as the system holds them, in Unicode; the char** form would be the ANSI
  // code page's, which cannot hold every path.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) throw Error("cannot read the program's command line");
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

std::string ToSingleByte(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int wideSize = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                           static_cast<int>(utf8.size()), nullptr, 0);
  if (wideSize == 0) throw Error("text is not valid UTF-8: " + utf8);
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), wideSize);
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    // One character at a time, so that the error can name the one without a code.
    const int width = (IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size()) ? 2 : 1;
    char bytes[8];
    BOOL usedDefault = FALSE;
    // A system set to UTF-8 as its ANSI code page takes neither flags nor the default-char
    // report; there every character beyond ASCII is more than one byte and so refused.
    const bool utf8CodePage = GetACP() == CP_UTF8;
    const int n =
        WideCharToMultiByte(CP_ACP, utf8CodePage ? 0 : WC_NO_BEST_FIT_CHARS, &wide[i], width, bytes,
                            sizeof bytes, nullptr, utf8CodePage ? nullptr : &usedDefault);
    if (n != 1 || usedDefault) {
      throw Error("character '" + FromWide(wide.substr(i, width)) +
                  "' has no single-byte code in the ANSI code page: " + utf8);
    }
    out.push_back(bytes[0]);
    i += width - 1;
  }
  return out;
}

#else

const char kFolderSeparator = '/';
const char* const kExecutableSuffix = "";

std::string ProgramFolder() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) throw Error("cannot read the program's own file name from /proc/self/exe");
    if (static_cast<std::size_t>(n) < buffer.size())
      return FolderOf(std::string(buffer.data(), static_cast<std::size_t>(n)), "/");
    buffer.resize(buffer.size() * 2);
  }
}

std::string UnderProgramFilesX86(const std::string&) { return {}; }

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::string ToSingleByte(const std::string& utf8) { return utf8; }

#endif

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return std::u8string(utf8.begin(), utf8.end());
}

std::FILE* OpenFile(const std::string& utf8, const char* mode) {
#ifdef _WIN32
  return _wfopen(ToWide(utf8).c_str(), ToWide(mode).c_str());
#else
  return std::fopen(utf8.c_str(), mode);
#endif
}

std::FILE* CreateNewFile(const std::string& utf8) {
#ifdef _WIN32
  // CREATE_NEW fails on any name that exists, a link among them.
  const HANDLE handle =
      CreateFileW(ToWide(utf8).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  return _fdopen(fd, "wb");
#else
  const int fd = open(utf8.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
#endif
}

}  // namespace kt::platform
