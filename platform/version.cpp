// SPDX-License-Identifier: MIT
#include "platform/version.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>

#include "core/error.h"
#endif

#if !defined(KT_FILE_VERSION_MAJOR) || !defined(KT_FILE_VERSION_REVISION)
#error "KT_FILE_VERSION_MAJOR..KT_FILE_VERSION_REVISION must be set by the build"
#endif

namespace kt::platform {

#ifdef _WIN32

FileVersion ProgramFileVersion() {
  char file[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, file, MAX_PATH);
  if (length == 0 || length == MAX_PATH) throw Error("cannot read the program's own file name");
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  std::vector<char> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (size == 0 || !GetFileVersionInfoA(file, 0, size, data.data()) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || !info) {
    throw Error(std::string("program ") + file + " has no version resource");
  }
  return {static_cast<int>(HIWORD(info->dwFileVersionMS)),
          static_cast<int>(LOWORD(info->dwFileVersionMS)),
          static_cast<int>(HIWORD(info->dwFileVersionLS)),
          static_cast<int>(LOWORD(info->dwFileVersionLS))};
}

#else

FileVersion ProgramFileVersion() {
  return {KT_FILE_VERSION_MAJOR, KT_FILE_VERSION_MINOR, KT_FILE_VERSION_BUILD,
          KT_FILE_VERSION_REVISION};
}

#endif

}  // namespace kt::platform
