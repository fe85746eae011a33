// velkar run: the host's side of a plug-in's life, over a shop folder.
//
// The host loads the library (process attach and the binding of its host functions), calls entry
// 30001 with its callback and a 36-byte title buffer, then entry 30008 with 0 (or with a non-zero
// value when entry 30001 reported that the plug-in cannot work with this host, so that the
// plug-in explains why), offers the commands the plug-in registered in its "Inne" menu, calls the
// routine of the one the user picks, and at the end calls entry 30001 with a null callback so the
// plug-in withdraws its command.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/core/module_entries.h"
#include "velkar/loader/loader.h"
#include "velkar/program/args.h"
#include "velkar/program/script.h"
#include "velkar/shop/shop.h"
#include "velkar/console/ui.h"

namespace fs = std::filesystem;

namespace velkar::program {
namespace {

const char* const runUsage =
    "usage: velkar run --shop DIR --plugin PATH [--script FILE | --interactive] [--command N]\n"
    "                  [options for tests]\n"
    "\n"
    "Loads the plug-in into the shop folder the way the host does, shows the commands it adds to\n"
    "the \"Inne\" menu and runs one of them. The shop folder becomes the current directory.\n"
    "\n"
    "  --shop DIR          the shop folder (made with 'velkar mkshop'); a folder without a\n"
    "                      product file (MMMnnn.MGR) is refused\n"
    "  --plugin PATH       the plug-in (vatupdate.so natively, vatupdate.dll on Windows)\n"
    "  --script FILE       scripted answers, one a line (message, dialog, file, warehouse,\n"
    "                      stop-after); questions the script does not answer take the defaults.\n"
    "                      A line that cannot be read, an answer that does not fit its question\n"
    "                      and (unless the script says allow-unused) an answer no question took\n"
    "                      fail the run\n"
    "  --interactive       answer from the keyboard and pick the command from the menu\n"
    "                      (scripted answers, when given too, still come first)\n"
    "  --command N         the Nth command of the menu (default 1); 0 runs none: the plug-in is\n"
    "                      only started and withdrawn\n"
    "  --style plain|marked|ansi   how emphasis is drawn\n"
    "  --frames box|ascii  window frames in box-drawing characters or in + - | (the default\n"
    "                      on Windows)\n"
    "  --width N           text width of windows when the output is no terminal (default 76)\n"
    "\n"
    "options for tests:\n"
    "  --leave-out ORD[,ORD...]     the host lacks these exports\n"
    "  --message-box abort|retry|ignore[,...]\n"
    "                      answers of the Windows message boxes, in order (default abort); the\n"
    "                      Windows build shows the system's own message box instead\n"
    "  --interface-level N the host's interface level\n"
    "  --record-size T=N[/L]  record size (and layout value L) the host reports for table T\n"
    "                      (49 products, 117 extra codes); T=none: the host has no such table.\n"
    "                      The files keep their records; each is shown to the plug-in in N bytes\n"
    "  --fault ORD@N[+]    the Nth call of host function ORD fails (+: and every later call)\n"
    "  --refuse-start      the host tells the plug-in that it did not start (entry 30008 with 1)\n"
    "                      even when entry 30001 accepted, and withdraws it (exit status 4)\n"
    "  --ignore-refusal    when entry 30001 refuses to start, the host still offers the plug-in's\n"
    "                      command and runs it (after entry 30008 with 1), as a host that does\n"
    "                      not heed the answer would; the exit status is 4 all the same\n"
    "  --journal FILE      write the journal of host calls to FILE\n"
    "\n"
    "exit status: 0 done, 1 a file problem, 2 a command-line mistake, 3 the plug-in did not load\n"
    "or is not a plug-in, 4 it does not fit this host, 5 the script failed, 6 the plug-in broke\n"
    "the host's contract\n";

// The readings of the host contract, after the options above.
std::string usageText() {
  return std::string(runUsage) + variantHelp();
}

constexpr int TITLE_SIZE = 36;
constexpr int TITLE_GUARD = 28;  // bytes after the buffer that must stay untouched
constexpr unsigned char GUARD_BYTE = 0xCC;

static_assert(sizeof(void*) == 4, "the host's records hold 32-bit pointers");

struct Command {
  const unsigned char* record;
  std::string title;  // UTF-8
  uint16_t id;
  CommandRoutine routine;
};

Command readCommand(const void* record) {
  const RegisteredCommand r = readCommandRecord(record);
  Command c{};
  c.record = static_cast<const unsigned char*>(record);
  c.id = r.id;
  c.routine = r.routine;
  if (r.title) c.title = codepage::toUtf8(std::string_view(r.title, strnlen(r.title, 256)), 1);
  return c;
}

std::vector<Command> registeredCommands() {
  std::vector<Command> out;
  for (const void* record : host().commands) out.push_back(readCommand(record));
  return out;
}

// The run's choices, as parsed from the command line.
struct RunOptions {
  fs::path shop, plugin;
  script::Script script;
  bool interactive = false;
  bool ignoreRefusal = false;
  bool refuseStart = false;
  int command = 1;
  std::vector<int> messageBoxAnswers;
  std::string journalFile;
};

// Applies the options that configure the host; false with a reason for a value it cannot take.
bool configureHost(const Args& args, RunOptions& run, std::string& error) {
  HostConfig& config = host().config;
  for (const std::string& ord : args.list("leave-out")) {
    auto n = parseInt(ord);
    if (!n || *n <= 0 || *n > 65535) {
      error = "--leave-out: " + ord + " is not an ordinal";
      return false;
    }
    leaveOut(*n);
  }
  for (const std::string& answer : args.list("message-box")) {
    if (answer == "abort")
      run.messageBoxAnswers.push_back(3);
    else if (answer == "retry")
      run.messageBoxAnswers.push_back(4);
    else if (answer == "ignore")
      run.messageBoxAnswers.push_back(5);
    else {
      error = "--message-box: " + answer + " is not abort, retry or ignore";
      return false;
    }
  }
#ifdef _WIN32
  if (!run.messageBoxAnswers.empty())
    std::cerr << "velkar: --message-box has no effect on Windows: the system's message box asks\n";
#else
  for (int a : run.messageBoxAnswers) host().messageBoxAnswers.push_back(a);
#endif
  if (auto level = args.value("interface-level")) {
    auto n = parseInt(*level);
    if (!n) {
      error = "--interface-level: " + *level + " is not a number";
      return false;
    }
    config.interfaceLevel = *n;
  }
  for (const std::string& item : args.list("record-size")) {
    const size_t eq = item.find('=');
    auto table = parseInt(item.substr(0, eq));
    TableConfig* t = !table          ? nullptr
                     : *table == 49  ? &config.products
                     : *table == 117 ? &config.extraCodes
                                     : nullptr;
    if (eq == std::string::npos || !t) {
      error = "--record-size: " + item + " is not 49=N or 117=N";
      return false;
    }
    const std::string size = item.substr(eq + 1);
    if (size == "none") {
      t->present = false;
      continue;
    }
    const size_t slash = size.find('/');
    auto n = parseInt(size.substr(0, slash));
    if (!n || *n < -32768 || *n > 32767) {
      error = "--record-size: " + size + " is not a 16-bit record size";
      return false;
    }
    if (slash != std::string::npos) {
      auto layout = parseInt(size.substr(slash + 1));
      if (!layout || *layout < 0 || *layout > 65535) {
        error = "--record-size: " + size + " does not end in a 16-bit layout value";
        return false;
      }
      t->layout = static_cast<uint16_t>(*layout);
    }
    t->present = true;
    t->recordSize = static_cast<int16_t>(*n);
  }
  for (const std::string& item : args.list("variant"))
    if (!applyVariants(item, config, error)) return false;
  for (const std::string& item : args.list("fault")) {
    const size_t at = item.find('@');
    const bool persistent = !item.empty() && item.back() == '+';
    auto ord = parseInt(item.substr(0, at));
    auto nth = at == std::string::npos
                   ? std::nullopt
                   : parseInt(item.substr(at + 1, item.size() - at - 1 - (persistent ? 1 : 0)));
    if (!ord || !nth || *nth < 1) {
      error = "--fault: " + item + " is not ORD@N or ORD@N+";
      return false;
    }
    host().faults.push_back(Fault{*ord, *nth, persistent});
  }
  return true;
}

#ifndef _WIN32
// Natively the Windows message boxes the plug-in showed are recorded by the stand-in's
// MessageBoxA; show them as the user would have seen them, with the answer each got.
void showMessageBoxes(const std::vector<int>& answers) {
  const auto& boxes = host().messageBoxes;
  for (size_t i = 0; i < boxes.size(); ++i) {
    std::vector<ui::Line> lines;
    std::istringstream text(codepage::toUtf8(boxes[i].text, codepage::WINDOWS_1250));
    for (std::string line; std::getline(text, line);) lines.push_back(ui::plainLine(line));
    lines.push_back(ui::plainLine(""));
    const int answer = i < answers.size() ? answers[i] : 3;
    const char* name = answer == 4 ? "Retry" : answer == 5 ? "Ignore" : "Abort";
    lines.push_back(ui::plainLine("[Abort] [Retry] [Ignore]  -> " + std::string(name)));
    ui::out() << ui::frameBox(codepage::toUtf8(boxes[i].caption, codepage::WINDOWS_1250), lines,
                              ui::style());
  }
}
#endif

void showMenu(const std::vector<Command>& commands) {
  std::vector<ui::Line> lines;
  for (size_t i = 0; i < commands.size(); ++i)
    lines.push_back(ui::plainLine(std::to_string(i + 1) + ". " + commands[i].title));
  if (commands.empty()) lines.push_back(ui::plainLine("(pusto)"));
  ui::out() << ui::frameBox("Inne", lines, ui::style());
}

// Interactive: the user picks from the menu until Esc, 0, q or the end of input.
int pickInteractively(const std::vector<Command>& commands) {
  ui::out() << "Wybierz opcję (1-" << commands.size() << "), Esc = koniec: " << std::flush;
  ui::RawMode raw;
  for (;;) {
    const int key = ui::readKey();
    const int ch = key & 0xFF;
    if (key < 0 || key == ui::KEY_ESC || ch == '0' || ch == 'q' || ch == 'Q') {
      ui::out() << "\n";
      return 0;
    }
    if (ch >= '1' && ch <= '9' && static_cast<size_t>(ch - '0') <= commands.size()) {
      ui::out() << static_cast<char>(ch) << "\n";
      return ch - '0';
    }
  }
}

// Runs a command; false when the plug-in touched memory it may not, which ends the command.
bool runRoutine(const Command& command) {
  ui::out() << "\n== " << command.title << "\n" << std::flush;
  std::string fault;
  const bool returned = callCatchingFaults([&] { command.routine(); }, fault);
  ui::out() << std::flush;
  if (!returned)
    std::cerr << "velkar: the command ended with an " << fault
              << ": the plug-in touched memory the host had not given it (or had taken back)\n";
  return returned;
}

// What the host saw the plug-in do against its contract during the run.
bool reportContractBreaches() {
  const Host& h = host();
  bool clean = true;
  if (h.writesBeyondRecord) {
    std::cerr << "velkar: " << h.writesBeyondRecord
              << " record write(s) changed bytes beyond the record of the file\n";
    clean = false;
  }
  if (h.canaryDamage) {
    std::cerr << "velkar: " << h.canaryDamage
              << " memory block(s) had the bytes after their end changed\n";
    clean = false;
  }
  if (h.badFrees) {
    std::cerr << "velkar: " << h.badFrees
              << " call(s) gave back memory the host had not handed out\n";
    clean = false;
  }
  return clean;
}

bool journalFailed = false;

void writeJournal(const std::string& file) {
  std::ofstream out(file, std::ios::binary);
  for (const Call& c : host().journal) {
    out << c.ordinal << ' ' << c.name << '(';
    for (size_t i = 0; i < c.args.size(); ++i) out << (i ? ", " : "") << c.args[i];
    out << ")\n";
  }
  if (!out) {
    std::cerr << "velkar: the journal " << file << " could not be written\n";
    journalFailed = true;
  }
}

// The worse of two outcomes: a breach of the contract outweighs a script's fault.
int worse(int status, int other) {
  if (status == EXIT_CONTRACT || other == EXIT_CONTRACT) return EXIT_CONTRACT;
  return status != EXIT_DONE ? status : other;
}

int runPlugin(const RunOptions& run) {
  std::string error;
  auto plugin = loadPlugin(run.plugin.string(), error);
#ifndef _WIN32
  showMessageBoxes(run.messageBoxAnswers);
#endif
  if (!plugin) return fail(EXIT_NOT_LOADED, "the plug-in did not load: " + error);

  auto start = reinterpret_cast<StartEntry>(plugin->entry(30001));
  auto notify = reinterpret_cast<NotifyEntry>(plugin->entry(30008));
  if (!start || !notify)
    return fail(EXIT_NOT_LOADED, "the plug-in " + run.plugin.string() + " lacks entry " +
                                     (start ? "30008" : "30001") +
                                     ": it is not a plug-in of this host");

  unsigned char buffer[TITLE_SIZE + TITLE_GUARD];
  std::memset(buffer, 0, TITLE_SIZE);
  std::memset(buffer + TITLE_SIZE, GUARD_BYTE, TITLE_GUARD);
  const int started = start(&fn::hostCallback, reinterpret_cast<char*>(buffer));
  int breach = EXIT_DONE;
  for (int i = TITLE_SIZE; i < TITLE_SIZE + TITLE_GUARD; ++i)
    if (buffer[i] != GUARD_BYTE) {
      std::cerr << "velkar: the plug-in wrote past the " << TITLE_SIZE << "-byte title buffer\n";
      breach = EXIT_CONTRACT;
      break;
    }
  const std::string title(reinterpret_cast<const char*>(buffer),
                          strnlen(reinterpret_cast<const char*>(buffer), TITLE_SIZE));
  ui::out() << "Wtyczka: " << codepage::toUtf8(title, codepage::MAZOVIA) << "\n" << std::flush;

  const std::string refused =
      started != 0
          ? "the plug-in does not fit this host: it failed to start (entry 30001 answered " +
                std::to_string(started) + ")"
          : "the host refused the plug-in's start (--refuse-start)";
  if (started != 0 || run.refuseStart) {
    // The host tells the plug-in that it did not start; the plug-in explains why.
    notify(1);
    if (!run.ignoreRefusal || started == 0) {
      start(nullptr, nullptr);
      if (!run.journalFile.empty()) writeJournal(run.journalFile);
      return worse(breach, fail(EXIT_DOES_NOT_FIT, refused));
    }
  } else {
    notify(0);
  }

  const std::vector<Command> commands = registeredCommands();
  showMenu(commands);
  int status = breach;
  if (commands.empty()) {
    status = fail(EXIT_CONTRACT, "the plug-in registered no command");
  } else if (run.interactive && run.command < 0) {
    for (int pick; (pick = pickInteractively(commands)) != 0;) {
      if (!runRoutine(commands[static_cast<size_t>(pick - 1)])) {
        status = EXIT_CONTRACT;
        break;
      }
      showMenu(registeredCommands());
    }
  } else {
    const int pick = run.command < 0 ? 1 : run.command;
    if (pick > static_cast<int>(commands.size()))
      status = usageError("run", "--command " + std::to_string(pick) + ": the menu has only " +
                                     std::to_string(commands.size()) + " command(s)");
    else if (pick > 0 && !runRoutine(commands[static_cast<size_t>(pick - 1)]))
      status = EXIT_CONTRACT;
  }

  // After a fault the plug-in's state is not to be trusted: it is not called again.
  if (host().accessFaults) {
    if (!run.journalFile.empty()) writeJournal(run.journalFile);
    (void)plugin.release();  // left mapped: nothing of it runs any more
    return status;
  }
  start(nullptr, nullptr);
  if (!host().commands.empty()) {
    std::cerr << "velkar: the plug-in did not withdraw its command (id "
              << readCommandRecord(host().commands.front()).id << ")\n";
    status = EXIT_CONTRACT;
  }
  if (ui::waitMessageShown()) {
    std::cerr << "velkar: a waiting message is still on the screen\n";
    status = EXIT_CONTRACT;
  }
  if (!reportContractBreaches()) status = EXIT_CONTRACT;
  if (!run.journalFile.empty()) writeJournal(run.journalFile);
  plugin.reset();
  if (started != 0)
    status = worse(status, fail(EXIT_DOES_NOT_FIT, refused + "; its command was offered all the "
                                                             "same (--ignore-refusal)"));
  return status;
}

}  // namespace

int runCommand(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parseArgs(argc, argv, 2,
                 {{"shop", true},
                  {"plugin", true},
                  {"script", true},
                  {"interactive", false},
                  {"command", true},
                  {"style", true},
                  {"frames", true},
                  {"width", true},
                  {"leave-out", true},
                  {"message-box", true},
                  {"interface-level", true},
                  {"record-size", true},
                  {"fault", true},
                  {"ignore-refusal", false},
                  {"refuse-start", false},
                  {"variant", true},
                  {"journal", true}},
                 args, error))
    return usageError("run", error);
  if (args.help) {
    std::cout << usageText();
    return 0;
  }
  if (!args.positional.empty())
    return usageError("run", "'" + args.positional.front() + "' is not an option");
  if (!args.has("shop") || !args.has("plugin"))
    return usageError("run", "--shop and --plugin are needed");

  RunOptions run;
  run.interactive = args.has("interactive");
  run.ignoreRefusal = args.has("ignore-refusal");
  run.refuseStart = args.has("refuse-start");
  run.command = -1;  // not chosen
  if (auto n = args.value("command")) {
    auto v = parseInt(*n);
    if (!v || *v < 0) return usageError("run", "--command: " + *n + " is not a menu position");
    run.command = *v;
  }
  if (auto file = args.value("script"); file && !script::read(*file, run.script, error)) {
    // A script that is there but wrong is the script's failure; one that cannot be read, a file's.
    return fail(error.rfind("the script ", 0) == 0 ? EXIT_FILE : EXIT_SCRIPT, error);
  }
  run.journalFile = args.value("journal").value_or("");
  if (!run.journalFile.empty()) run.journalFile = fs::absolute(run.journalFile).string();

  // Paths given relative to where the program was started mean the same after the move into the
  // shop folder.
  std::error_code ec;
  run.plugin = fs::absolute(*args.value("plugin"), ec);
  run.shop = fs::absolute(*args.value("shop"), ec);
  if (!fs::is_regular_file(run.plugin, ec))
    return fail(EXIT_FILE, "no plug-in " + run.plugin.string());
  if (!fs::is_directory(run.shop, ec))
    return fail(EXIT_FILE, "no shop folder " + run.shop.string());
  // Not a shop: the module would work in it all the same (its report replaced, a settings store
  // created), so it is never loaded there.
  if (!shop::holdsProductFile(run.shop))
    return fail(EXIT_FILE,
                run.shop.string() + " is not a shop folder: it holds no product file (MMMnnn.MGR)");

  resetHost();
  if (!configureHost(args, run, error)) return usageError("run", error);
  if (auto style = args.value("style")) {
    if (*style == "plain")
      ui::setStyle(ui::Style::Plain);
    else if (*style == "marked")
      ui::setStyle(ui::Style::Marked);
    else if (*style == "ansi")
      ui::setStyle(ui::Style::Ansi);
    else
      return usageError("run", "--style: " + *style + " is not plain, marked or ansi");
  }
  if (auto frames = args.value("frames")) {
    if (*frames == "box")
      ui::setFrames(ui::Frames::Box);
    else if (*frames == "ascii")
      ui::setFrames(ui::Frames::Ascii);
    else
      return usageError("run", "--frames: " + *frames + " is not box or ascii");
  }
  if (auto width = args.value("width")) {
    const auto columns = parseInt(*width);
    if (!columns || *columns < 20 || *columns > 250)
      return usageError("run", "--width: " + *width + " is not a width from 20 to 250");
    ui::setTextWidth(*columns);
  }
  ui::setInteractive(run.interactive);

  fs::current_path(run.shop, ec);
  if (ec) return fail(EXIT_FILE, "cannot work in " + run.shop.string() + ": " + ec.message());
  host().shopDir = fs::current_path();
  // This reading of the records is played through the shop's own files.
  if (host().config.variants.hostBytes && !shop::fillHostBytes(host().shopDir, error))
    return fail(EXIT_FILE, "--variant host-bytes: " + error);

  // An answer that does not fit its question ends the run at the plug-in's next host call: what
  // the plug-in would do next rests on an answer the script did not mean.
  const std::string journal = run.journalFile;
  script::begin(run.script, [journal](const std::string& misfit) {
    ui::out() << std::flush;
    std::cerr << "velkar: script " << misfit << "\nvelkar: the run is stopped" << std::endl;
    if (!journal.empty()) writeJournal(journal);
    std::exit(EXIT_SCRIPT);
  });
  int status = runPlugin(run);
  const std::string misfit = script::pendingMisfit();
  const std::vector<std::string> unused = script::finish();
  if (!misfit.empty()) {
    std::cerr << "velkar: script " << misfit << std::endl;
    return worse(status, EXIT_SCRIPT);
  }
  if (status == EXIT_DONE && !unused.empty() && !run.script.allowUnused) {
    for (const std::string& line : unused) std::cerr << "velkar: script " << line << "\n";
    std::cerr << "velkar: the script's answers do not match the questions asked (a script that\n"
                 "        ends the run early on purpose says allow-unused)"
              << std::endl;
    status = EXIT_SCRIPT;
  }
  if (status == EXIT_DONE && journalFailed) status = EXIT_FILE;
  return status;
}

}  // namespace velkar::program
