// SPDX-License-Identifier: MIT
#include "platform/process.h"

#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "platform/wide.h"
#else
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace kt::platform {

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
    return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote, where each must be doubled and the quote escaped.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  // And before the closing quote.
  quoted.append(2 * backslashes, '\\');
  quoted.push_back('"');
  return quoted;
}

std::string CommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line.push_back(' ');
    line += QuoteArgument(argument);
  }
  return line;
}

#ifdef _WIN32

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool StartProgram(const std::string& path) {
  if (path.empty()) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  // The application name is given on its own, so a path with blanks is taken whole.
  if (!CreateProcessW(ToWide(path).c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

int RunInstead(const std::string& path, const std::vector<std::string>& arguments) {
  std::wstring commandLine = ToWide(CommandLine(arguments));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The program's path is given on its own, so that the line's first word names nothing.
  if (!CreateProcessW(ToWide(path).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

std::string FindOnPath(const std::string& name) {
  wchar_t found[MAX_PATH];
  const DWORD n = SearchPathW(nullptr, ToWide(name).c_str(), L".exe", MAX_PATH, found, nullptr);
  return n > 0 && n < MAX_PATH ? FromWide(std::wstring(found, n)) : std::string();
}

std::string ExpandEnvironment(const std::string& text) {
  const std::wstring wide = ToWide(text);
  const DWORD needed = ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
  if (needed == 0) return text;
  std::vector<wchar_t> expanded(needed);
  ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), needed);
  return FromWide(std::wstring(expanded.data()));
}

void FailWritesToClosedPipes() {}

#else

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool StartProgram(const std::string& path) {
  if (path.empty() || access(path.c_str(), X_OK) != 0) return false;
  // Started through an intermediate child that exits at once, so that the tool is adopted
  // by init and never left behind as a zombie of ours.
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    pid_t tool = 0;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    _exit(posix_spawn(&tool, path.c_str(), nullptr, nullptr, argv, environ) == 0 ? 0 : 1);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int RunInstead(const std::string& path, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(path.c_str(), argv.data());
  return -1;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  const std::string folders = path;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = folder + "/" + name;
      if (FileExists(candidate) && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}

std::string ExpandEnvironment(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    out.append(text, i, open - i);
    // A name that is no variable stays as typed, both signs with it, and the search goes
    // on after its closing sign, as Windows' own expansion does.
    if (value) {
      out.append(value);
    } else {
      out.append(text, open, close - open + 1);
    }
    i = close + 1;
  }
  out.append(text, i, std::string::npos);
  return out;
}

void FailWritesToClosedPipes() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    signal(SIGPIPE, SIG_IGN);
}

#endif

}  // namespace kt::platform
