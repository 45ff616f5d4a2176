// SPDX-License-Identifier: MIT
#include "platform/dynamic_library.h"

#include "core/error.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/program.h"
#include "platform/wide.h"
#else
#include <dlfcn.h>
#endif

namespace kt::platform {

#ifdef _WIN32

namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD size = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = size ? std::string(text, size) : std::string();
  LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
    result.pop_back();
  return result + " (error " + std::to_string(code) + ")";
}

bool IsPath(const std::string& file) { return file.find_first_of("\\/:") != std::string::npos; }

// Loads one library without any search beyond what is said above; nullptr on failure.
HMODULE Load(const std::string& file) {
  if (!IsPath(file)) {
    return LoadLibraryExW(ToWide(file).c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  std::wstring path = ToWide(file);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';  // the loader wants a fully qualified path for its own folder
  }
  return LoadLibraryExW(path.c_str(), nullptr,
                        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::string SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? FromWide(std::wstring(folder, n)) : "the system folder";
}

// Where a bare file name was looked for, for the error; a path names its one place itself.
std::string Places(const std::string& file) {
  if (IsPath(file)) return {};
  return " (looked in the program's folder, " + ProgramFolder() + ", and " + SystemFolder() + ")";
}

}  // namespace

void RestrictLibrarySearch() {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::string LibraryFileName(const std::string& bareName) { return bareName; }

DynamicLibrary DynamicLibrary::Open(const std::string& file) {
  RestrictLibrarySearch();  // also for the library's own dependencies
  HMODULE handle = Load(file);
  if (!handle) {
    const std::string reason = LastErrorText();
    throw Error("cannot load library " + file + Places(file) + ": " + reason);
  }
  return DynamicLibrary(file, reinterpret_cast<void*>(handle));
}

void* DynamicLibrary::Find(const char* entry) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), entry));
}

#else

void RestrictLibrarySearch() {}

std::string LibraryFileName(const std::string& bareName) { return "lib" + bareName + ".so"; }

DynamicLibrary DynamicLibrary::Open(const std::string& file) {
  // dlopen searches the RUNPATH of the object that calls it: this code is linked
  // statically into the program, so a bare name is looked for beside the program.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* text = dlerror();
    std::string reason = text ? text : "unknown reason";
    // The loader's text starts with the path again; it is named once.
    if (reason.rfind(file + ": ", 0) == 0) reason.erase(0, file.size() + 2);
    throw Error("cannot load library " + file + ": " + reason);
  }
  return DynamicLibrary(file, handle);
}

void* DynamicLibrary::Find(const char* entry) const {
  dlerror();
  return dlsym(handle_, entry);
}

#endif

DynamicLibrary DynamicLibrary::OpenFirst(const std::vector<std::string>& paths) {
  std::string tried;
  for (const std::string& path : paths) {
    try {
      return Open(path);
    } catch (const Error& error) {
      tried += (tried.empty() ? "" : "; ") + std::string(error.what());
    }
  }
  throw Error(tried.empty() ? "no board library to load" : tried);
}

}  // namespace kt::platform
