// The matching benchmark: the whole VAT update command through the native host stand-in, on
// generated shops, against its floor: the same host calls made without the module (bench/floor.h),
// checked call by call against the command's journal. Also runs plain matching (the scans) and the
// replay (the module with each product's entry replayed instead of looked up), and prints the
// times, their ratios, the time of each phase and the memory the indexes took.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/floor.h"
#include "bench/shopgen.h"
#include "vatupdate/rate_index.h"
#include "velkar/host.h"
#include "velkar/host_functions.h"
#include "velkar/loader.h"
#include "velkar/shop.h"
#include "velkar/textfile.h"
#include "velkar/ui.h"

namespace fs = std::filesystem;

namespace {

const char* const usage =
    "usage: vatupdate_bench [--plugin PATH] [--dir DIR] [--repeat N] [--full] [--only NAME]\n"
    "                       [--divide N] [--no-plain] [--no-replay]\n"
    "\n"
    "Runs the VAT update command on generated shops and its floor (the same host calls without\n"
    "the module, checked call by call against the command's journal), and prints processor and\n"
    "wall-clock times, their ratios, the time of each phase and the indexes' memory.\n"
    "\n"
    "  --plugin PATH  the module (default: the one built with the benchmark)\n"
    "  --dir DIR      where the shops are generated (default: a folder in the temporary folder)\n"
    "  --repeat N     timed runs of the command, the replay and the floor; the fastest counts\n"
    "                 (default 3)\n"
    "  --full         plain matching on the whole shop too (formats 0 and 2 take minutes)\n"
    "  --only NAME    one case: barcode, cn, names, names-worst\n"
    "  --divide N     every size divided by N, for a quick look\n"
    "  --no-plain     no plain matching at all\n"
    "  --no-replay    no replay runs\n";

struct Case {
  std::string name;
  bench::ShopSpec spec;
  int plainProducts;  // products for plain matching unless --full
};

enum class Mode { Plain, Indexed, Replay };

struct Run {
  bench::PhaseTimes phases;
  double seconds = 0;   // the whole run, wall clock
  double cpu = 0;       // the whole run, processor time
  double matching = 0;  // finding the products' entries, index building included
  double building = 0;  // building the indexes
  MatchingControl stats{};
  uint64_t productsHash = 0;
  std::string report;
};

typedef int(HOST_STDCALL* StartEntry)(HostCallback callback, char* titleBuffer);
typedef int(HOST_STDCALL* NotifyEntry)(int flag);
typedef void(HOST_CDECL* CommandRoutine)(void);

uint64_t clockNs() {
  return bench::now().wall;
}

double seconds(uint64_t ns) {
  return static_cast<double>(ns) / 1e9;
}

uint64_t hashFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  uint64_t h = 1469598103934665603ULL;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i)
      h = (h ^ static_cast<unsigned char>(buffer[static_cast<size_t>(i)])) * 1099511628211ULL;
  }
  return h;
}

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool sameWindows(const velkar::ui::Shown& a, const velkar::ui::Shown& b) {
  return a.kind == b.kind && a.title == b.title && a.text == b.text && a.result == b.result;
}

class Bench {
 public:
  Bench(std::string plugin, fs::path dir) : plugin_(std::move(plugin)), dir_(std::move(dir)) {}

  // A fresh default host in the shop folder, the product file as generated (a fresh file, not one
  // rewritten in place) and no report.
  void prepare(const fs::path& shop, const fs::path& pristine, bool journal) {
    const fs::path file = shop / velkar::shop::warehouseFileName(bench::WAREHOUSE);
    fs::remove(file);
    fs::copy_file(pristine, file);
    fs::remove(shop / "zmianavat.txt");
    velkar::resetHost();
    velkar::Host& host = velkar::host();
    host.journalEnabled = journal;
    host.shopDir = shop;
    fs::current_path(shop);
    velkar::ui::setOutput(&nowhere_);
  }

  void finish(const fs::path& shop, Run& out) {
    fs::current_path(dir_);
    out.productsHash = hashFile(shop / velkar::shop::warehouseFileName(bench::WAREHOUSE));
    out.report = readAll(shop / "zmianavat.txt");
  }

  // One run of the command. With a recording, the journal is on and the recorders take down what
  // the floor needs; otherwise the journal is off, as in the timed runs.
  bool command(const fs::path& shop, const fs::path& pristine, int format, Mode mode,
               std::vector<int32_t>& trace, bench::Recording* recording, Run& out) {
    prepare(shop, pristine, recording != nullptr);
    velkar::ui::setScript({"message ok",
                           "dialog file=" + std::string(bench::RATE_FILE) +
                               " format=" + std::to_string(format) + " ok",
                           "warehouse " + std::to_string(bench::WAREHOUSE)});
    velkar::Host& host = velkar::host();

    std::string error;
    auto plugin = velkar::loadPlugin(plugin_, error);
    if (!plugin) {
      std::cerr << "the module did not load: " << error << "\n";
      return false;
    }
    auto start = reinterpret_cast<StartEntry>(plugin->entry(30001));
    auto notify = reinterpret_cast<NotifyEntry>(plugin->entry(30008));
    auto* control = static_cast<MatchingControl*>(plugin->symbol("vatMatchingControl"));
    auto** slots = static_cast<void**>(plugin->symbol("velkarHostSlots"));
    char title[64] = {0};
    if (!start || !notify || !control || !slots || start(&velkar::fn::hostCallback, title) != 0) {
      std::cerr << "the module did not start\n";
      return false;
    }
    notify(0);
    if (host.commands.empty()) {
      std::cerr << "the module registered no command\n";
      return false;
    }
    CommandRoutine routine;
    std::memcpy(&routine, static_cast<const char*>(host.commands.front()) + 12, sizeof routine);

    control->mode = mode == Mode::Plain ? MATCHING_PLAIN : MATCHING_INDEXED;
    control->traceMode = mode == Mode::Replay ? TRACE_REPLAY : recording ? TRACE_RECORD : TRACE_OFF;
    control->trace = trace.data();
    control->traceSize = static_cast<int32_t>(trace.size());
    control->clock = &clockNs;
    control->matchingTime = 0;
    control->buildTime = 0;

    out.phases = bench::PhaseTimes{};
    bench::installPhaseClock(slots, &out.phases);
    if (recording) bench::installRecorders(slots, recording);
    const size_t windowsBefore = velkar::ui::shown().size();
    host.journal.clear();

    out.phases.begin[bench::PHASE_PREAMBLE] = bench::now();
    out.phases.seen[bench::PHASE_PREAMBLE] = true;
    routine();
    out.phases.begin[bench::PHASES] = bench::now();
    bench::installPhaseClock(slots, nullptr);

    const bench::Stamp& b = out.phases.begin[bench::PHASE_PREAMBLE];
    const bench::Stamp& e = out.phases.begin[bench::PHASES];
    out.seconds = seconds(e.wall - b.wall);
    out.cpu = seconds(e.cpu - b.cpu);
    out.matching = seconds(control->matchingTime);
    out.building = seconds(control->buildTime);
    out.stats = *control;
    if (recording) {
      for (velkar::Call& c : host.journal)
        if (c.ordinal != 0) recording->journal.push_back(std::move(c));
      host.journal.clear();
      const auto& shown = velkar::ui::shown();
      recording->shown.assign(shown.begin() + static_cast<std::ptrdiff_t>(windowsBefore),
                              shown.end());
    }
    start(nullptr, nullptr);
    plugin.reset();
    finish(shop, out);
    return true;
  }

  // One run of the floor; checked against the recording, or timed.
  bool floor(const fs::path& shop, const fs::path& pristine, bench::Floor& floor,
             const bench::Recording* check, Run& out) {
    prepare(shop, pristine, check != nullptr);
    std::string error;
    if (!floor.run(check != nullptr, out.phases, error)) {
      std::cerr << "FLOOR CHECK FAILED: " << error << "\n";
      return false;
    }
    const bench::Stamp& b = out.phases.begin[bench::PHASE_RATE_FILE];
    const bench::Stamp& e = out.phases.begin[bench::PHASES];
    out.seconds = seconds(e.wall - b.wall);
    out.cpu = seconds(e.cpu - b.cpu);
    if (check) {
      const auto& shown = velkar::ui::shown();
      bool same = !shown.empty() && shown.size() <= check->shown.size();
      for (size_t i = 0; same && i < shown.size(); ++i)
        same = sameWindows(shown[i], check->shown[check->shown.size() - shown.size() + i]);
      if (!same) {
        std::cerr << "FLOOR CHECK FAILED: the floor showed other windows than the command\n";
        return false;
      }
      if (!velkar::host().liveBlocks.empty() || velkar::openTextFileCount() != 0) {
        std::cerr << "FLOOR CHECK FAILED: the floor left blocks or files open\n";
        return false;
      }
    }
    velkar::host().journal.clear();
    finish(shop, out);
    return true;
  }

  static void printRun(const char* what, const Run& r, const char* note) {
    std::printf("    %-16s %8.3f s (%8.3f s)  %s\n", what, r.cpu, r.seconds, note);
  }

  static void printPhases(const Run& command, const Run* replay, const Run& floor) {
    std::printf("  per phase, processor time in s (wall clock):\n");
    std::printf("    %-17s %-19s %-19s %-19s %s\n", "", "command", replay ? "replay" : "", "floor",
                "command / floor");
    for (int p = 0; p < bench::PHASES; ++p) {
      const auto cell = [](const Run* r, int phase) {
        char text[40] = "-";
        if (r && r->phases.seen[phase]) {
          const bench::Stamp s = r->phases.spent(phase);
          std::snprintf(text, sizeof text, "%7.3f (%7.3f)", seconds(s.cpu), seconds(s.wall));
        }
        return std::string(text);
      };
      std::string ratio = "-";
      if (floor.phases.seen[p] && command.phases.seen[p]) {
        const double f = seconds(floor.phases.spent(p).cpu);
        char text[40];
        std::snprintf(text, sizeof text, "%.2f",
                      f > 0 ? seconds(command.phases.spent(p).cpu) / f : 0);
        ratio = text;
      }
      std::printf("    %-17s %-19s %-19s %-19s %s\n", bench::phaseNames[p],
                  cell(&command, p).c_str(), replay ? cell(replay, p).c_str() : "",
                  cell(&floor, p).c_str(), ratio.c_str());
    }
  }

  static void printMemory(const Run& r) {
    const MatchingControl& s = r.stats;
    std::printf(
        "    index memory %d bytes held (%.1f bytes per entry), %d at most while built; "
        "rate list %d bytes%s\n",
        s.indexBytes, s.rateListBytes ? 76.0 * s.indexBytes / s.rateListBytes : 0.0,
        s.indexPeakBytes, s.rateListBytes, s.indexBytes <= s.rateListBytes ? "" : "  ** MORE **");
    if (s.automatonStates)
      std::printf("    automaton: %d patterns, %d states\n", s.patterns, s.automatonStates);
  }

  // The command recorded, the floor compiled from it and checked, then timed runs of the command,
  // the replay and the floor, alternately; the run with the least processor time counts.
  bool commandAgainstFloor(const Case& c, const fs::path& shop, const fs::path& pristine,
                           int repeat, bool withReplay) {
    const int format = c.spec.format;
    std::vector<int32_t> trace(static_cast<size_t>(c.spec.products), -1);
    bench::Floor floor;
    Run recorded, checked;
    {
      bench::Recording recording;
      if (!command(shop, pristine, format, Mode::Indexed, trace, &recording, recorded))
        return false;
      std::string error;
      if (!floor.compile(recording, format, pristine,
                         shop / velkar::shop::warehouseFileName(bench::WAREHOUSE), error)) {
        std::cerr << "FLOOR NOT COMPILED: " << error << "\n";
        return false;
      }
      if (!this->floor(shop, pristine, floor, &recording, checked)) return false;
    }
    if (checked.productsHash != recorded.productsHash || checked.report != recorded.report) {
      std::cerr << "FLOOR CHECK FAILED: the floor left another "
                << (checked.report != recorded.report ? "report" : "product file") << "\n";
      return false;
    }
    std::printf(
        "  floor checked: its %zu host calls (%zu operations) are the command's, call by call "
        "and argument by argument; the same product file, report and windows\n",
        floor.calls(), floor.operations());
    std::fflush(stdout);

    Run command, replay, bottom;
    for (int r = 0; r < repeat; ++r) {
      Run i, p, f;
      if (!this->command(shop, pristine, format, Mode::Indexed, trace, nullptr, i)) return false;
      if (withReplay && !this->command(shop, pristine, format, Mode::Replay, trace, nullptr, p))
        return false;
      if (!this->floor(shop, pristine, floor, nullptr, f)) return false;
      if (i.productsHash != recorded.productsHash || f.productsHash != recorded.productsHash ||
          (withReplay && p.productsHash != recorded.productsHash)) {
        std::cerr << "a timed run wrote other records than the recorded one\n";
        return false;
      }
      if (r == 0 || i.cpu < command.cpu) command = i;
      if (r == 0 || p.cpu < replay.cpu) replay = p;
      if (r == 0 || f.cpu < bottom.cpu) bottom = f;
    }
    const bench::Stamp sinceRateFile = {
        command.phases.begin[bench::PHASES].wall -
            command.phases.begin[bench::PHASE_RATE_FILE].wall,
        command.phases.begin[bench::PHASES].cpu - command.phases.begin[bench::PHASE_RATE_FILE].cpu};
    char note[160];
    std::printf("  whole shop, the fastest of %d runs, processor time (wall clock):\n", repeat);
    std::snprintf(note, sizeof note, "matching %.4f s, building the indexes %.4f s",
                  command.matching, command.building);
    printRun("command", command, note);
    std::printf("      from the rate file on %8.3f s (%8.3f s)\n", seconds(sinceRateFile.cpu),
                seconds(sinceRateFile.wall));
    if (withReplay)
      printRun("replay", replay, "the module, each product's entry replayed: no lookups");
    printRun("floor", bottom, "the host's calls alone, without the module");
    std::printf("    command / floor %.3f (wall clock %.3f); from the rate file on %.3f (%.3f)\n",
                command.cpu / bottom.cpu, command.seconds / bottom.seconds,
                seconds(sinceRateFile.cpu) / bottom.cpu,
                seconds(sinceRateFile.wall) / bottom.seconds);
    if (withReplay)
      std::printf("    replay / floor %.3f, command / replay %.3f\n", replay.cpu / bottom.cpu,
                  command.cpu / replay.cpu);
    printPhases(command, withReplay ? &replay : nullptr, bottom);
    printMemory(command);
    return true;
  }

  bool runCase(const Case& c, int repeat, bool full, bool withPlain, bool withReplay) {
    const fs::path shop = dir_ / c.name;
    std::string error;
    std::printf("%s\n", bench::describe(c.spec).c_str());
    std::fflush(stdout);
    if (!bench::generate(c.spec, shop, error)) {
      std::cerr << error << "\n";
      return false;
    }
    const fs::path product = shop / velkar::shop::warehouseFileName(bench::WAREHOUSE);
    const fs::path pristine = dir_ / (c.name + ".products");
    fs::remove(pristine);
    fs::copy_file(product, pristine);

    if (!commandAgainstFloor(c, shop, pristine, repeat, withReplay)) return false;
    if (!withPlain) {
      std::printf("\n");
      std::fflush(stdout);
      return true;
    }

    // Plain matching: on the whole shop with --full, else on its first products only (the same
    // rate file and additional codes), against indexed matching at that size.
    const int products = full ? c.spec.products : std::min(c.plainProducts, c.spec.products);
    fs::path plainPristine = pristine;
    if (products < c.spec.products) {
      plainPristine = dir_ / (c.name + ".first");
      std::string bytes = readAll(pristine);
      bytes.resize(static_cast<size_t>(products) * velkar::shop::PRODUCT_RECORD_SIZE);
      fs::remove(plainPristine);
      std::ofstream(plainPristine, std::ios::binary) << bytes;
    }
    std::vector<int32_t> none;
    Run indexed, plain;
    for (int r = 0; r < repeat; ++r) {
      Run i;
      if (!command(shop, plainPristine, c.spec.format, Mode::Indexed, none, nullptr, i))
        return false;
      if (r == 0 || i.cpu < indexed.cpu) indexed = i;
    }
    if (!command(shop, plainPristine, c.spec.format, Mode::Plain, none, nullptr, plain))
      return false;
    std::printf("  plain matching on %s, processor time (wall clock):\n",
                products < c.spec.products
                    ? ("the first " + std::to_string(products) + " products").c_str()
                    : "the whole shop");
    char note[96];
    std::snprintf(note, sizeof note, "matching %.4f s", indexed.matching);
    printRun("indexed", indexed, note);
    std::snprintf(note, sizeof note, "matching %.4f s", plain.matching);
    printRun("plain", plain, note);
    std::printf("    plain / indexed: matching %.0fx, whole command %.1fx\n",
                plain.matching / indexed.matching, plain.cpu / indexed.cpu);
    if (products < c.spec.products) {
      // Products stand in random order to the rate file, so a plain search costs the same for
      // any of them: the first products tell what the whole shop would cost.
      const double scale = static_cast<double>(c.spec.products) / products;
      std::printf("  whole shop, plain matching extrapolated from the first %d products: %.1f s\n",
                  products, plain.matching * scale);
    }
    const bool same = plain.productsHash == indexed.productsHash && plain.report == indexed.report;
    std::printf("    plain and indexed left %s\n\n",
                same ? "the same product file and report" : "DIFFERENT RESULTS");
    std::fflush(stdout);
    return same;
  }

 private:
  std::string plugin_;
  fs::path dir_;
  std::ostream nowhere_{nullptr};
};

}  // namespace

int main(int argc, char** argv) {
  std::string plugin = VATUPDATE_PLUGIN;
  fs::path dir = fs::temp_directory_path() / "vatupdate-bench";
  int repeat = 3;
  bool full = false;
  std::string only;
  int divide = 1;
  bool plain = true;
  bool replay = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--plugin" && hasValue)
      plugin = fs::absolute(argv[++i]).string();
    else if (a == "--dir" && hasValue)
      dir = fs::absolute(argv[++i]);
    else if (a == "--repeat" && hasValue)
      repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--full")
      full = true;
    else if (a == "--only" && hasValue)
      only = argv[++i];
    else if (a == "--no-plain")
      plain = false;
    else if (a == "--no-replay")
      replay = false;
    else if (a == "--divide" && hasValue)
      divide = std::max(1, std::atoi(argv[++i]));
    else {
      std::cerr << usage;
      return a == "--help" ? 0 : 2;
    }
  }
  fs::create_directories(dir);
  dir = fs::canonical(dir);

  const std::vector<Case> cases = {
      {"barcode", {0, 100000, 100000, bench::NameData::Typical, 11}, 2000},
      {"cn", {2, 100000, 100000, bench::NameData::Typical, 12}, 2000},
      {"names", {1, 100000, 10000, bench::NameData::Typical, 13}, 1000},
      {"names-worst", {1, 100000, 10000, bench::NameData::Worst, 14}, 1000},
  };
  Bench bench(plugin, dir);
  bool ok = true;
  for (Case c : cases) {
    if (!only.empty() && only != c.name) continue;
    c.spec.products /= divide;
    c.spec.lines /= divide;
    c.plainProducts = std::max(1, c.plainProducts / divide);
    ok = bench.runCase(c, repeat, full, plain, replay) && ok;
  }
  return ok ? 0 : 1;
}
