// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/types.h>
#endif

// Programs of the build started as a user starts them, their output to files.
namespace kt::test {

#ifdef _WIN32
using Child = HANDLE;
#else
using Child = pid_t;
#endif

/// Starts a program of the test program's folder ("ktdac"; Windows adds ".exe"), or on
/// Linux one named by its absolute path, with the arguments, standard input empty, standard
/// output and error to the files named.
Child Start(const std::string& name, const std::vector<std::string>& args, const std::string& out,
            const std::string& err);

/// Waits for the child: its exit status, or minus the signal that ended it, so that a program
/// that ends itself with 130 is told apart from one killed by SIGINT.
int Wait(Child child);

/// Ends the child at once and waits for it.
void Kill(Child child);

/// @brief A program's run to its end: its exit status (as Wait gives it) and what it wrote.
struct Result {
  int status;
  std::string out, err;
};

/// Runs a program, named as Start names it, to its end.
Result Run(const std::string& name, const std::vector<std::string>& args);

}  // namespace kt::test
