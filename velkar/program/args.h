// Command-line handling shared by the velkar program's commands.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velkar::program {

// The exit status of the program's commands (README, "Using the stand-in").
enum ExitStatus : int {
  EXIT_DONE = 0,
  EXIT_FILE = 1,          // a file or folder named cannot be read, written or used
  EXIT_USAGE = 2,         // a mistake on the command line
  EXIT_NOT_LOADED = 3,    // run: the plug-in did not load, or is not a plug-in of this host
  EXIT_DOES_NOT_FIT = 4,  // run: the plug-in does not fit this host (entry 30001 said so)
  EXIT_SCRIPT = 5,        // run: the script has a mistake, or an answer did not fit or was unused
  EXIT_CONTRACT = 6,      // run: the plug-in broke the host's contract, as far as the host saw
};

struct OptionSpec {
  const char* name;  // without the leading "--"
  bool takesValue;
};

struct Args {
  std::map<std::string, std::vector<std::string>> options;  // every value given, in order
  std::vector<std::string> positional;
  bool help = false;

  bool has(const std::string& name) const { return options.count(name) != 0; }
  // The last value given for an option, or none.
  std::optional<std::string> value(const std::string& name) const;
  // Every value of a repeatable option, each also split at commas ("--leave-out 1,2 --leave-out
  // 3").
  std::vector<std::string> list(const std::string& name) const;
};

// Parses argv[first..] against the options a command takes: "--name value", "--name=value",
// "--flag", and "-h"/"--help" anywhere. False with a reason for an unknown option or a missing
// value. "--" ends the options.
bool parseArgs(int argc, char** argv, int first, std::initializer_list<OptionSpec> specs, Args& out,
               std::string& error);

// A whole decimal number (optionally signed) in the range of int; none otherwise.
std::optional<int> parseInt(const std::string& text);

// The commands, each returning the program's exit status.
int runCommand(int argc, char** argv);
int mkshopCommand(int argc, char** argv);
int exportCommand(int argc, char** argv);
int compareCommand(int argc, char** argv);

// "velkar: <message>" on stderr; returns the status given.
int fail(int status, const std::string& message);

// A command-line mistake: "velkar COMMAND: <message>" and where to read more, on stderr;
// returns EXIT_USAGE. `command` may be empty (the program itself).
int usageError(const std::string& command, const std::string& message);

}  // namespace velkar::program
