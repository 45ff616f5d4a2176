// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace kt::platform {

/// Whether a plain file of that name exists.
bool FileExists(const std::string& path);

/// Starts a program as a process of its own, its window shown normally, without waiting for
/// it. The path is the program itself, never a command line: no shell, and blanks in it
/// split nothing. Returns false when it cannot be started.
bool StartProgram(const std::string& path);

/// Runs another program in this one's place, with the given arguments (argv[0] first):
/// elsewhere than Windows the process is replaced; on Windows the program runs to its end,
/// with this one's standard handles. Returns its exit status, or -1 when it cannot be
/// started.
int RunInstead(const std::string& path, const std::vector<std::string>& arguments);

/// The Windows command line of these arguments, each quoted by QuoteArgument.
std::string CommandLine(const std::vector<std::string>& arguments);

/// One argument as a Windows command line must carry it so that the started program's
/// CommandLineToArgvW (and the C runtime) read it back unchanged: quoted when it is empty or
/// holds a blank, a tab or a quote, with backslashes doubled where they stand before a quote.
std::string QuoteArgument(const std::string& argument);

/// Makes a write to a pipe or socket whose reader has gone fail with EPIPE instead of ending
/// the program with SIGPIPE, unless something else was made of the signal already; then the
/// program can say what it could not write. Nothing to do on Windows, which has no SIGPIPE.
void FailWritesToClosedPipes();

/// The full path of a program found on the PATH, or empty text.
std::string FindOnPath(const std::string& name);

/// Replaces every %NAME% with the environment variable's value; unknown names stay as typed.
std::string ExpandEnvironment(const std::string& text);

}  // namespace kt::platform
