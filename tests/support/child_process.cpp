// SPDX-License-Identifier: MIT
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/process.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include "platform/wide.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace kt::test {

#ifdef _WIN32
namespace {

HANDLE Inheritable(const std::string& file, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(platform::ToWide(file).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// Started as Windows starts a program: one command line, quoted by Windows' rules.
Child Start(const std::string& name, const std::vector<std::string>& args, const std::string& out,
            const std::string& err) {
  const std::string program = BesideProgram(name + ".exe");
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::wstring commandLine = platform::ToWide(platform::CommandLine(words));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable("NUL", false);
  startup.hStdOutput = Inheritable(out, true);
  startup.hStdError = Inheritable(err, true);
  PROCESS_INFORMATION process{};
  EXPECT_TRUE(CreateProcessW(platform::ToWide(program).c_str(), commandLine.data(), nullptr,
                             nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
    CloseHandle(handle);
  CloseHandle(process.hThread);
  return process.hProcess;
}

int Wait(Child child) {
  WaitForSingleObject(child, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(child, &status);
  CloseHandle(child);
  return static_cast<int>(status);
}

void Kill(Child child) {
  TerminateProcess(child, 1);
  Wait(child);
}
#else
Child Start(const std::string& name, const std::vector<std::string>& args, const std::string& out,
            const std::string& err) {
  std::vector<char*> argv;
  const std::string program = name.front() == '/' ? name : BesideProgram(name);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t child = 0;
  EXPECT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

int Wait(Child child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

void Kill(Child child) {
  kill(child, SIGKILL);
  Wait(child);
}
#endif

Result Run(const std::string& name, const std::vector<std::string>& args) {
  const std::string out = WriteTempFile("out", "");
  const std::string err = WriteTempFile("err", "");
  const int status = Wait(Start(name, args, out, err));
  // Read as text: on Windows a program's CR LF line ends are read as LF, as the tests write
  // what they expect.
  const auto read = [](const std::string& file) {
    std::ifstream in(file);
    return std::string{std::istreambuf_iterator<char>(in), {}};
  };
  return {status, read(out), read(err)};
}

}  // namespace kt::test
