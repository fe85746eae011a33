// The velkar program: the host stand-in's command line. velkar.exe and the native velkar are thin
// launchers that call velkarMain.
//
//   velkar run      load a plug-in into a shop folder and run its command
//   velkar mkshop   make a shop folder from readable CSV
//   velkar export   a warehouse's product file back to CSV
//   velkar compare  two product files, field by field
#include "velkar/program/program.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "velkar/program/check_rates.h"
#include "velkar/program/args.h"
#include "velkar/program/report_command.h"

namespace velkar::program {

std::optional<std::string> Args::value(const std::string& name) const {
  auto it = options.find(name);
  if (it == options.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> Args::list(const std::string& name) const {
  std::vector<std::string> out;
  auto it = options.find(name);
  if (it == options.end()) return out;
  for (const std::string& v : it->second) {
    size_t start = 0;
    while (start <= v.size()) {
      const size_t comma = v.find(',', start);
      const size_t end = comma == std::string::npos ? v.size() : comma;
      if (end > start) out.push_back(v.substr(start, end - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return out;
}

bool parseArgs(int argc, char** argv, int first, std::initializer_list<OptionSpec> specs, Args& out,
               std::string& error) {
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      out.help = true;
      continue;
    }
    if (a.rfind("--", 0) != 0) {
      error = "unknown option " + a;
      return false;
    }
    std::string name = a.substr(2), value;
    bool inlineValue = false;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs)
      if (name == s.name) spec = &s;
    if (!spec) {
      error = "unknown option --" + name;
      return false;
    }
    if (!spec->takesValue) {
      if (inlineValue) {
        error = "--" + name + " takes no value";
        return false;
      }
      out.options[name];
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) {
        error = "--" + name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    out.options[name].push_back(value);
  }
  return true;
}

std::optional<int> parseInt(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != 0 || v < INT_MIN || v > INT_MAX ||
      std::isspace(static_cast<unsigned char>(text[0])))
    return std::nullopt;
  return static_cast<int>(v);
}

int fail(int status, const std::string& message) {
  std::cout.flush();
  std::cerr << "velkar: " << message << std::endl;
  return status;
}

int usageError(const std::string& command, const std::string& message) {
  const std::string program = command.empty() ? "velkar" : "velkar " + command;
  std::cout.flush();
  std::cerr << program << ": " << message << "\n"
            << "try '" << program << " --help'" << std::endl;
  return EXIT_USAGE;
}

}  // namespace velkar::program

namespace {

const char* const usageText =
    "usage: velkar COMMAND [OPTIONS]\n"
    "\n"
    "The VELKAR host stand-in: a shop folder with real product files, and a plug-in loaded into\n"
    "it the way the host loads one.\n"
    "\n"
    "commands:\n"
    "  run          load a plug-in into a shop folder and run its command\n"
    "  mkshop       make a shop folder from readable CSV\n"
    "  export       write a warehouse's product file as CSV\n"
    "  compare      compare two product files field by field\n"
    "  check-rates  what the plug-in makes of each line of a rate file\n"
    "  report       show a shop's report (zmianavat.txt) in the terminal's character set\n"
    "\n"
    "'velkar COMMAND --help' describes a command; 'velkar --version' prints the version.\n"
    "\n"
    "exit status of run: 0 done, 1 a file problem, 2 a command-line mistake, 3 the plug-in did\n"
    "not load, 4 it does not fit this host, 5 the script failed, 6 the plug-in broke the\n"
    "host's contract. compare: 0 the same, 1 different, 2 unreadable.\n";

#ifndef VELKAR_VERSION
#define VELKAR_VERSION "unknown"
#endif

}  // namespace

extern "C" int velkarMain(int argc, char** argv) {
  using namespace velkar::program;
  if (argc < 2) return usageError("", "no command given");
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << usageText;
    return 0;
  }
  if (command == "--version" || command == "version") {
    std::cout << "velkar " VELKAR_VERSION "\n";
    return 0;
  }
  if (command == "run") return runCommand(argc, argv);
  if (command == "mkshop") return mkshopCommand(argc, argv);
  if (command == "export") return exportCommand(argc, argv);
  if (command == "compare") return compareCommand(argc, argv);
  if (command == "check-rates") return checkRatesCommand(argc, argv);
  if (command == "report") return reportCommand(argc, argv);
  return usageError("", "unknown command " + command);
}
