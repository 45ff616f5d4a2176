// SPDX-License-Identifier: MIT
#include "platform/dynamic_library.h"

#include "core/error.h"

#ifdef _WIN32
#include <windows.h>
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

}  // namespace

std::string LibraryFileName(const std::string& bareName) { return bareName; }

DynamicLibrary DynamicLibrary::Open(const std::string& file) {
  HMODULE handle = LoadLibraryA(file.c_str());
  if (!handle) throw Error("cannot load library " + file + ": " + LastErrorText());
  return DynamicLibrary(file, reinterpret_cast<void*>(handle));
}

void* DynamicLibrary::Find(const char* entry) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), entry));
}

#else

std::string LibraryFileName(const std::string& bareName) { return "lib" + bareName + ".so"; }

DynamicLibrary DynamicLibrary::Open(const std::string& file) {
  // dlopen searches the RUNPATH of the object that calls it: this code is linked
  // statically into the program, so a bare name is looked for beside the program.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    throw Error("cannot load library " + file + ": " + (reason ? reason : "unknown reason"));
  }
  return DynamicLibrary(file, handle);
}

void* DynamicLibrary::Find(const char* entry) const {
  dlerror();
  return dlsym(handle_, entry);
}

#endif

}  // namespace kt::platform
