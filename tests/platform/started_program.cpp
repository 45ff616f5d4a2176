// SPDX-License-Identifier: MIT
// A program for the process-start tests: it leaves started.txt beside itself, holding the
// arguments it received as the C runtime split its command line, one per line, each as its
// UTF-8 bytes in hexadecimal (so that blanks, quotes, empty and non-ASCII arguments all read
// back exactly), and ends.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/wide.h"

int wmain(int argc, wchar_t** argv) {
  wchar_t file[MAX_PATH];
  std::wstring folder(file, GetModuleFileNameW(nullptr, file, MAX_PATH));
  folder.erase(folder.find_last_of(L'\\'));
  FILE* out = _wfopen((folder + L"\\started.txt").c_str(), L"wb");
  if (!out) return 1;
  std::fputs("started\n", out);
  for (int i = 1; i < argc; ++i) {
    std::fputc('=', out);  // an empty argument is still a line
    for (const unsigned char c : kt::platform::FromWide(argv[i])) std::fprintf(out, "%02X", c);
    std::fputc('\n', out);
  }
  std::fclose(out);
  return 0;
}
