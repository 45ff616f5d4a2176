// SPDX-License-Identifier: MIT
// ktdac: the command-line companion. One program per board library generation (ktdac for
// the second, ktdac-gen1 for the first), each linking its generation's board, as the windowed
// programs do; --generation hands the run to the other one.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "cli/options.h"
#include "cli/session.h"
#include "console/parsing.h"
#include "console/stop.h"
#include "core/error.h"
#include "link/board_name.h"
#include "link/boardlink_binding.h"
#include "link/vendor_board.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/version.h"

namespace {

using namespace kt::cli;

// The program of the other generation, beside this one.
std::string Sibling(int generation) {
  return kt::platform::ProgramFolder() + kt::platform::kFolderSeparator +
         (generation == 1 ? "ktdac-gen1" : "ktdac") + kt::platform::kExecutableSuffix;
}

// Refuses, before anything is sent, a path that names no plain file (a directory, say).
void ExpectFile(const std::string& what, const std::string& file) {
  std::error_code error;
  const auto path = kt::platform::PathFromUtf8(file);
  if (!std::filesystem::exists(path, error))
    throw UsageError{fmt::format("{} {}: no such file", what, file)};
  if (!std::filesystem::is_regular_file(path, error))
    throw UsageError{fmt::format("{} {}: not a plain file", what, file)};
}

// A script is read whole and checked before its first line runs; this bounds what is held,
// so that an endless stream on standard input is refused rather than read until memory
// runs out.
constexpr std::size_t kMaxScript = 1 << 20;

std::string ReadAll(const std::string& file) {
  std::ifstream opened;
  std::istream* in = &std::cin;
  if (file != "-") {
    ExpectFile("the script", file);
    opened.open(kt::platform::PathFromUtf8(file), std::ios::binary);
    if (!opened) throw UsageError{"cannot read the script " + file};
    in = &opened;
  }
  std::string text(kMaxScript + 1, '\0');
  in->read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in->gcount()));
  if (text.size() > kMaxScript)
    throw UsageError{fmt::format("the script {} is longer than {} bytes, the most a script holds",
                                 file == "-" ? "on standard input" : file, kMaxScript)};
  return text;
}

// What a command lacks, in its own words: CLI11 names a missing positional argument by the
// name it was given in the code.
std::string Missing(const std::string& command, const CLI::ParseError& error) {
  const std::string what = error.what();
  if (what.rfind("values is required", 0) == 0) return command + " needs at least one code";
  if (what.rfind("script is required", 0) == 0)
    return command + " needs a script: a file, or - for standard input";
  if (what.rfind("duration is required", 0) == 0) return command + " needs a duration (10ms, 2s)";
  return command + ": " + what;
}

struct ScriptCommand {
  int line;
  Checked command;
};

// Every line parsed and checked before the first one runs.
std::vector<ScriptCommand> ParseScript(const std::string& file) {
  std::vector<ScriptCommand> commands;
  std::vector<ScriptLine> lines;
  const std::string text = ReadAll(file);
  try {
    lines = ReadScript(text);
  } catch (const UsageError& error) {
    throw UsageError{fmt::format("{}:{}", file, error.message)};
  }
  for (const ScriptLine& line : lines) {
    try {
      const std::string& verb = line.words.front();
      // No serve: it never ends by itself, so a script could not go on after it.
      if (verb != "list" && verb != "set" && verb != "sweep" && verb != "raw" && verb != "wait")
        throw UsageError{"\"" + verb + "\" is not a command (list, set, sweep, raw, wait)"};
      CLI::App parser;
      std::optional<Command> command;
      AddCommands(parser, command, true);
      std::vector<std::string> words(line.words.rbegin(), line.words.rend());
      parser.parse(words);
      commands.push_back({line.number, Check(*command)});
    } catch (const CLI::ParseError& error) {
      const bool missing = dynamic_cast<const CLI::RequiredError*>(&error) != nullptr;
      throw UsageError{fmt::format("{}:{}: {}", file, line.number,
                                   missing ? Missing(line.words.front(), error) : error.what())};
    } catch (const UsageError& error) {
      throw UsageError{fmt::format("{}:{}: {}", file, line.number, error.message)};
    }
  }
  return commands;
}

int RunScript(Session& session, const std::string& file) {
  const std::vector<ScriptCommand> commands = ParseScript(file);
  // A stop signal ends the script after the command in hand (at once in a wait).
  const StopOnSignals stopOnSignals;
  for (const ScriptCommand& entry : commands) {
    try {
      if (const int signal = StopSignal()) {
        fmt::print(stderr, "ktdac: {}:{}: interrupted before this line\n", file, entry.line);
        return 128 + signal;
      }
      if (const int status = session.Run(entry.command); status != kSuccess) {
        fmt::print(stderr, "ktdac: {}:{}: stopped here (status {})\n", file, entry.line, status);
        return status;
      }
    } catch (const kt::Error& error) {
      throw kt::Error(fmt::format("{}:{}: {}", file, entry.line, error.what()));
    }
  }
  return kSuccess;
}

// CLI11's message, or, where it would only say that a command is missing, the word that
// stands where the command should.
std::string Explain(const CLI::App& app, const std::vector<std::string>& arguments,
                    const CLI::ParseError& error) {
  if (dynamic_cast<const CLI::RequiredError*>(&error) == nullptr) return error.what();
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (word == "--generation" || word == "--library" || word == "--firmware" ||
        word == "--board") {
      ++i;  // and its value
      continue;
    }
    if (word.rfind("--generation=", 0) == 0 || word.rfind("--library=", 0) == 0 ||
        word.rfind("--firmware=", 0) == 0 || word.rfind("--board=", 0) == 0)
      continue;
    if (!word.empty() && word[0] == '-') return "unknown option " + word;
    // A known command that lacks what it needs: say what.
    for (const CLI::App* sub : app.get_subcommands({}))
      if (sub->get_name() == word) return Missing(word, error);
    std::string commands;
    for (const CLI::App* sub : app.get_subcommands({}))
      commands += (commands.empty() ? "" : ", ") + sub->get_name();
    return "unknown command \"" + word + "\" (" + commands + ")";
  }
  return error.what();
}

}  // namespace

int main(int argc, char** argv) {
  kt::platform::RestrictLibrarySearch();
  // Standard output closed by its reader is a write error, said and with its own status.
  kt::platform::FailWritesToClosedPipes();
  const std::vector<std::string> arguments = kt::platform::ProgramArguments(argc, argv);
  CLI::App app{"ktdac: send codes to a KT300 or KT310..KT313 DAC on the evaluation board"};
  kt::link::VendorBoard& own = kt::link::ProgramBoard();
  const int generation = own.Generation();
  Common common;
  common.Generation = generation;
  std::optional<Command> command;
  std::string script;
  app.add_option("--generation", common.Generation, "board library generation: 1 or 2")
      ->capture_default_str()
      ->check(CLI::IsMember({1, 2}));
  app.add_option("--library", common.Library,
                 "second generation: the board library's path, in place of the fixed one")
      ->check(NonEmptyPath());
  app.add_option("--firmware", common.Firmware, "firmware file, in place of the program's SPI.hex")
      ->check(NonEmptyPath());
  kt::link::BoardName named;
  app.add_option(
         "--board", common.Board,
         std::string("another board than the evaluation board's library: ") + kt::link::kBoardUsage)
      ->check(CLI::Validator(
          [&named](std::string& text) {
            try {
              named = kt::link::ReadBoardName(text);
              if (named.Road == kt::link::BoardName::Kind::Library)
                return std::string("it needs a value: ") + kt::link::kBoardUsage;
              return std::string();
            } catch (const kt::Error& error) {
              return std::string(error.what());
            }
          },
          "BOARD"));
  app.set_version_flag("--version", [&own] {
    return fmt::format("ktdac {} ({} generation, board library {})",
                       kt::platform::ProgramFileVersion().Dotted(),
                       own.Generation() == 2 ? "second" : "first", own.LibraryFile());
  });
  AddCommands(app, command, false);
  app.add_subcommand("run", "run a script of commands, one a line (FILE, or - for standard input)")
      ->add_option("script", script, "the script")
      ->required()
      ->check(NonEmptyPath());
  try {
    // CLI11 takes the arguments last first, without the program's name.
    std::vector<std::string> words(arguments.rbegin(), arguments.rend() - 1);
    app.parse(words);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    fmt::print(stderr, "ktdac: {}\n", Explain(app, arguments, error));
    return kUsageError;
  }
  if (common.Generation != generation) {
    // The other generation's program runs with the same arguments; its status is the run's.
    const int status = kt::platform::RunInstead(Sibling(common.Generation), arguments);
    if (status >= 0) return status;
    fmt::print(stderr, "ktdac: cannot start {}\n", Sibling(common.Generation));
    return kRuntimeError;
  }

  try {
    std::unique_ptr<kt::link::Board> made;
    kt::link::Board* board = &own;
    try {
      board = &kt::link::ChooseBoard(named, own, made);
    } catch (const kt::Error& error) {
      throw UsageError{error.what()};
    }
    if (made && (!common.Library.empty() || !common.Firmware.empty()))
      throw UsageError{fmt::format("{} is for the evaluation board's library, not for --board {}",
                                   common.Library.empty() ? "--firmware" : "--library",
                                   common.Board)};
    if (!common.Library.empty()) {
      if (generation != 2)
        throw UsageError{
            "--library replaces the second generation's fixed path; the first "
            "generation finds BoardIO beside the program"};
      kt::link::BindBoardLinkTo(common.Library);
    }
    if (!common.Firmware.empty()) {
      ExpectFile("--firmware", common.Firmware);
      own.UseFirmware(common.Firmware);
    }
    Session session(*board, stdout);
    if (!script.empty()) return RunScript(session, script);
    return session.Run(Check(*command));
  } catch (const UsageError& error) {
    fmt::print(stderr, "ktdac: {}\n", error.message);
    return kUsageError;
  } catch (const WriteError& error) {
    // A write cut short by a stop signal (a reader that stopped reading): the stop's status.
    if (const int signal = StopSignal()) {
      fmt::print(stderr, "ktdac: interrupted while writing: {}\n", error.message);
      return 128 + signal;
    }
    fmt::print(stderr, "ktdac: {}\n", error.message);
    return kWriteFailure;
  } catch (const kt::Error& error) {
    fmt::print(stderr, "ktdac: {}\n", error.what());
    return kRuntimeError;
  }
}
