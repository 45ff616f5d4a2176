// SPDX-License-Identifier: MIT
// A program for the process-start test: it leaves started.txt beside itself and ends.
#include <windows.h>

#include <fstream>
#include <string>

int main() {
  char file[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, file, MAX_PATH);
  std::string folder(file, length);
  folder.erase(folder.find_last_of('\\'));
  std::ofstream(folder + "\\started.txt") << "started\n";
  return 0;
}
