// The matching benchmark: the whole VAT update command through the native host stand-in, on
// generated shops, against its floor: the same host calls made without the module (bench/floor.h),
// checked call by call against the command's journal. Also runs plain matching (the scans) and the
// replay (the module with each product's entry replayed instead of looked up), and prints the
// times, their ratios, the time of each phase and the memory the indexes took.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/runner.h"
#include "bench/shopgen.h"
#include "velkar/shop/shop.h"

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
    "  --dir DIR      where the shops are generated (default: /dev/shm/vatupdate-bench, a\n"
    "                 memory file system, or the temporary folder where there is none)\n"
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

double seconds(uint64_t ns) {
  return static_cast<double>(ns) / 1e9;
}

using bench::Mode;
using bench::Run;

class Bench {
 public:
  Bench(std::string plugin, fs::path dir) : runner_(std::move(plugin), dir), dir_(std::move(dir)) {}

  static void printRun(const char* what, const Run& r, const char* note) {
    std::printf("    %-16s %8.3f s (%8.3f s)  %s\n", what, r.cpu, r.seconds, note);
  }

  // The least processor time any of the runs spent in the phase, with that run's wall clock;
  // false when no run went through it.
  static bool leastSpent(const std::vector<Run>& runs, int phase, bench::Stamp& least) {
    bool any = false;
    for (const Run& r : runs) {
      if (!r.phases.seen[phase]) continue;
      const bench::Stamp s = r.phases.spent(phase);
      if (!any || s.cpu < least.cpu) least = s;
      any = true;
    }
    return any;
  }

  // Each phase's least time over the runs: a burst of load in one phase of a run then spoils
  // only that phase's figure. Their sums are printed too.
  static void printPhases(const std::vector<Run>& command, const std::vector<Run>* replay,
                          const std::vector<Run>& floor) {
    std::printf("  per phase, the least processor time of the runs in s (wall clock):\n");
    std::printf("    %-17s %-19s %-19s %-19s %s\n", "", "command", replay ? "replay" : "", "floor",
                "command / floor");
    double sums[3] = {0, 0, 0};
    for (int p = 0; p < bench::PHASES; ++p) {
      bench::Stamp least[3];
      bool seen[3] = {leastSpent(command, p, least[0]), replay && leastSpent(*replay, p, least[1]),
                      leastSpent(floor, p, least[2])};
      std::string cells[3];
      for (int k = 0; k < 3; ++k) {
        char text[40] = "-";
        if (seen[k]) {
          std::snprintf(text, sizeof text, "%7.3f (%7.3f)", seconds(least[k].cpu),
                        seconds(least[k].wall));
          sums[k] += seconds(least[k].cpu);
        }
        cells[k] = k == 1 && !replay ? "" : text;
      }
      char ratio[40] = "-";
      if (seen[0] && seen[2] && least[2].cpu > 0)
        std::snprintf(ratio, sizeof ratio, "%.2f", seconds(least[0].cpu) / seconds(least[2].cpu));
      std::printf("    %-17s %-19s %-19s %-19s %s\n", bench::phaseNames[p], cells[0].c_str(),
                  cells[1].c_str(), cells[2].c_str(), ratio);
    }
    char added[3][40];
    for (int k = 0; k < 3; ++k) std::snprintf(added[k], sizeof added[k], "%7.3f", sums[k]);
    std::printf("    %-17s %-19s %-19s %-19s %.3f\n", "added up", added[0], replay ? added[1] : "",
                added[2], sums[2] > 0 ? sums[0] / sums[2] : 0);
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
    Run recorded;
    std::string error;
    if (!runner_.recordAndCheck(shop, pristine, format, trace, floor, recorded, error)) {
      std::cerr << "FLOOR: " << error << "\n";
      return false;
    }
    std::printf(
        "  floor checked: its %zu host calls (%zu operations) are the command's, call by call "
        "and argument by argument; the same product file, report and windows\n",
        floor.calls(), floor.operations());
    std::fflush(stdout);

    // The time spent finding the products' entries, from a run apart: the clock reads cost time of
    // their own, so the timed runs make none.
    Run clocked;
    if (!command(shop, pristine, format, Mode::Indexed, trace, clocked, true)) return false;

    Run best, replay, bottom;
    std::vector<Run> commandRuns, replayRuns, floorRuns;
    std::string spread[3];  // every timed run's processor time
    for (int r = 0; r < repeat; ++r) {
      Run i, p, f;
      if (!command(shop, pristine, format, Mode::Indexed, trace, i)) return false;
      if (withReplay && !command(shop, pristine, format, Mode::Replay, trace, p)) return false;
      if (!this->floor(shop, pristine, floor, f)) return false;
      if (i.productsHash != recorded.productsHash || f.productsHash != recorded.productsHash ||
          (withReplay && p.productsHash != recorded.productsHash)) {
        std::cerr << "a timed run wrote other records than the recorded one\n";
        return false;
      }
      char text[3][16];
      std::snprintf(text[0], sizeof text[0], " %.3f", i.cpu);
      std::snprintf(text[1], sizeof text[1], " %.3f", p.cpu);
      std::snprintf(text[2], sizeof text[2], " %.3f", f.cpu);
      for (int k = 0; k < 3; ++k) spread[k] += text[k];
      i.report.clear(), p.report.clear(), f.report.clear();
      commandRuns.push_back(i);
      if (withReplay) replayRuns.push_back(p);
      floorRuns.push_back(f);
      if (r == 0 || i.cpu < best.cpu) best = i;
      if (r == 0 || p.cpu < replay.cpu) replay = p;
      if (r == 0 || f.cpu < bottom.cpu) bottom = f;
    }
    const bench::Stamp sinceRateFile = {
        best.phases.begin[bench::PHASES].wall - best.phases.begin[bench::PHASE_RATE_FILE].wall,
        best.phases.begin[bench::PHASES].cpu - best.phases.begin[bench::PHASE_RATE_FILE].cpu};
    char note[160];
    std::printf("  whole shop, the fastest of %d runs, processor time (wall clock):\n", repeat);
    std::snprintf(note, sizeof note, "matching %.4f s, building the indexes %.4f s (a clocked run)",
                  clocked.matching, clocked.building);
    printRun("command", best, note);
    std::printf("      from the rate file on %8.3f s (%8.3f s)\n", seconds(sinceRateFile.cpu),
                seconds(sinceRateFile.wall));
    if (withReplay)
      printRun("replay", replay, "the module, each product's entry replayed: no lookups");
    printRun("floor", bottom, "the host's calls alone, without the module");
    std::printf("    command / floor %.3f (wall clock %.3f); from the rate file on %.3f (%.3f)\n",
                best.cpu / bottom.cpu, best.seconds / bottom.seconds,
                seconds(sinceRateFile.cpu) / bottom.cpu,
                seconds(sinceRateFile.wall) / bottom.seconds);
    if (withReplay)
      std::printf("    replay / floor %.3f, command / replay %.3f\n", replay.cpu / bottom.cpu,
                  best.cpu / replay.cpu);
    std::printf("    every run, processor time in s: command%s;%s%s%s floor%s\n", spread[0].c_str(),
                withReplay ? " replay" : "", withReplay ? spread[1].c_str() : "",
                withReplay ? ";" : "", spread[2].c_str());
    printPhases(commandRuns, withReplay ? &replayRuns : nullptr, floorRuns);
    printMemory(best);
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
      std::string bytes = bench::readAll(pristine);
      bytes.resize(static_cast<size_t>(products) * velkar::shop::PRODUCT_RECORD_SIZE);
      fs::remove(plainPristine);
      std::ofstream(plainPristine, std::ios::binary) << bytes;
    }
    std::vector<int32_t> none;
    Run indexed, plain;
    for (int r = 0; r < repeat; ++r) {
      Run i;
      if (!command(shop, plainPristine, c.spec.format, Mode::Indexed, none, i, true)) return false;
      if (r == 0 || i.cpu < indexed.cpu) indexed = i;
    }
    if (!command(shop, plainPristine, c.spec.format, Mode::Plain, none, plain, true)) return false;
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
  // One run of the command or the floor; false, with the reason told, when it failed.
  bool command(const fs::path& shop, const fs::path& pristine, int format, Mode mode,
               std::vector<int32_t>& trace, Run& out, bool clocked = false) {
    std::string error;
    if (runner_.command(shop, pristine, format, mode, trace, nullptr, out, error, clocked))
      return true;
    std::cerr << error << "\n";
    return false;
  }
  bool floor(const fs::path& shop, const fs::path& pristine, bench::Floor& floor, Run& out) {
    std::string error;
    if (runner_.floor(shop, pristine, floor, nullptr, out, error)) return true;
    std::cerr << error << "\n";
    return false;
  }

  bench::Runner runner_;
  fs::path dir_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string plugin = VATUPDATE_PLUGIN;
  // The host's files on a memory file system, so that the disk's speed is no part of the times.
  std::error_code noShm;
  fs::path dir =
      (fs::is_directory("/dev/shm", noShm) ? fs::path("/dev/shm") : fs::temp_directory_path()) /
      "vatupdate-bench";
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
