// The matching benchmark: the whole VAT update command through the native host stand-in, on
// generated shops, with plain matching (the scans), indexed matching, and the floor (the same
// command, scan and write-back with the entries an indexed run found replayed product by product:
// no lookup at all). Prints the times, their ratios and the memory the indexes took, and checks
// that plain and indexed matching left the same product file and report.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/shopgen.h"
#include "vatupdate/rate_index.h"
#include "velkar/host.h"
#include "velkar/host_functions.h"
#include "velkar/loader.h"
#include "velkar/shop.h"
#include "velkar/ui.h"

namespace fs = std::filesystem;

namespace {

const char* const usage =
    "usage: vatupdate_bench [--plugin PATH] [--dir DIR] [--repeat N] [--full] [--only NAME]\n"
    "\n"
    "Runs the VAT update command on generated shops with plain matching, indexed matching and\n"
    "the floor (no matching: the entries found replayed), and prints times, ratios and memory.\n"
    "\n"
    "  --plugin PATH  the module (default: the one built with the benchmark)\n"
    "  --dir DIR      where the shops are generated (default: a folder in the temporary folder)\n"
    "  --repeat N     runs of indexed matching and of the floor, the fastest counts (default 3)\n"
    "  --full         plain matching on the whole shop too (formats 0 and 2 take minutes)\n"
    "  --only NAME    one case: barcode, cn, names, names-worst\n"
    "  --divide N     every size divided by N, for a quick look\n"
    "  --no-plain     no plain matching at all\n";

uint64_t nowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000ULL + static_cast<uint64_t>(t.tv_nsec);
}

// User and system time of the process so far, in seconds.
double cpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Case {
  std::string name;
  bench::ShopSpec spec;
  int plainProducts;  // products for plain matching unless --full
};

enum class Mode { Plain, Indexed, Floor };

struct Run {
  double seconds = 0;   // the whole command, wall clock
  double cpu = 0;       // the whole command, processor time
  double matching = 0;  // finding the products' entries, index building included
  double building = 0;  // building the indexes
  MatchingControl stats{};
  uint64_t productsHash = 0;
  std::string report;
};

typedef int(HOST_STDCALL* StartEntry)(HostCallback callback, char* titleBuffer);
typedef int(HOST_STDCALL* NotifyEntry)(int flag);
typedef void(HOST_CDECL* CommandRoutine)(void);

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

class Bench {
 public:
  Bench(std::string plugin, fs::path dir) : plugin_(std::move(plugin)), dir_(std::move(dir)) {}

  // The product file as generated, back in place (a fresh file, not one rewritten in place).
  void restore(const fs::path& shop, const fs::path& pristine) {
    const fs::path file = shop / velkar::shop::warehouseFileName(bench::WAREHOUSE);
    fs::remove(file);
    fs::copy_file(pristine, file);
  }

  bool run(const fs::path& shop, const fs::path& pristine, int format, Mode mode,
           std::vector<int32_t>& trace, bool record, Run& out) {
    restore(shop, pristine);
    fs::remove(shop / "zmianavat.txt");
    velkar::resetHost();
    velkar::Host& host = velkar::host();
    host.journalEnabled = false;
    host.shopDir = shop;
    fs::current_path(shop);
    velkar::ui::setOutput(&nowhere_);
    velkar::ui::setScript({"message ok",
                           "dialog file=" + std::string(bench::RATE_FILE) +
                               " format=" + std::to_string(format) + " ok",
                           "warehouse " + std::to_string(bench::WAREHOUSE)});

    std::string error;
    auto plugin = velkar::loadPlugin(plugin_, error);
    if (!plugin) {
      std::cerr << "the module did not load: " << error << "\n";
      return false;
    }
    auto start = reinterpret_cast<StartEntry>(plugin->entry(30001));
    auto notify = reinterpret_cast<NotifyEntry>(plugin->entry(30008));
    auto* control = static_cast<MatchingControl*>(plugin->symbol("vatMatchingControl"));
    char title[64] = {0};
    if (!start || !notify || !control || start(&velkar::fn::hostCallback, title) != 0) {
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
    control->traceMode = mode == Mode::Floor ? TRACE_REPLAY : record ? TRACE_RECORD : TRACE_OFF;
    control->trace = trace.data();
    control->traceSize = static_cast<int32_t>(trace.size());
    control->clock = &nowNs;
    control->matchingTime = 0;
    control->buildTime = 0;

    const double cpuBegin = cpuSeconds();
    const uint64_t begin = nowNs();
    routine();
    const uint64_t end = nowNs();
    out.cpu = cpuSeconds() - cpuBegin;

    out.seconds = static_cast<double>(end - begin) / 1e9;
    out.matching = static_cast<double>(control->matchingTime) / 1e9;
    out.building = static_cast<double>(control->buildTime) / 1e9;
    out.stats = *control;
    start(nullptr, nullptr);
    plugin.reset();
    fs::current_path(dir_);
    out.productsHash = hashFile(shop / velkar::shop::warehouseFileName(bench::WAREHOUSE));
    out.report = readAll(shop / "zmianavat.txt");
    return true;
  }

  // Indexed and floor runs, alternately, repeat times each; the one with the least processor time
  // counts.
  bool indexedAndFloor(const fs::path& shop, const fs::path& pristine, int format, int products,
                       int repeat, Run& indexed, Run& floor) {
    std::vector<int32_t> trace(static_cast<size_t>(products), -1);
    for (int r = 0; r < repeat; ++r) {
      Run i, f;
      if (!run(shop, pristine, format, Mode::Indexed, trace, r == 0, i)) return false;
      if (!run(shop, pristine, format, Mode::Floor, trace, false, f)) return false;
      if (r == 0 || i.cpu < indexed.cpu) indexed = i;
      if (r == 0 || f.cpu < floor.cpu) floor = f;
      if (f.productsHash != i.productsHash) {
        std::cerr << "the floor wrote other records than indexed matching\n";
        return false;
      }
    }
    return true;
  }

  static void printRun(const char* what, const Run& r) {
    std::printf("    %-8s %8.3f s (processor %8.3f s)   matching %9.4f s", what, r.seconds, r.cpu,
                r.matching);
    if (r.building > 0) std::printf(" (building the indexes %.4f s)", r.building);
    std::printf("\n");
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

  bool runCase(const Case& c, int repeat, bool full, bool withPlain) {
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

    Run indexed, floor;
    if (!indexedAndFloor(shop, pristine, c.spec.format, c.spec.products, repeat, indexed, floor))
      return false;
    std::printf("  whole shop:\n");
    printRun("floor", floor);
    printRun("indexed", indexed);
    std::printf("    indexed / floor %.3f (processor time %.3f)\n", indexed.seconds / floor.seconds,
                indexed.cpu / floor.cpu);
    printMemory(indexed);
    if (!withPlain) {
      std::printf("\n");
      return true;
    }

    // Plain matching: on the whole shop with --full, else on its first products only (the same
    // rate file and additional codes), with indexed matching and the floor again at that size.
    const int products = full ? c.spec.products : std::min(c.plainProducts, c.spec.products);
    fs::path plainPristine = pristine;
    Run sameIndexed = indexed, sameFloor = floor;
    if (products < c.spec.products) {
      plainPristine = dir_ / (c.name + ".first");
      std::string bytes = readAll(pristine);
      bytes.resize(static_cast<size_t>(products) * velkar::shop::PRODUCT_RECORD_SIZE);
      fs::remove(plainPristine);
      std::ofstream(plainPristine, std::ios::binary) << bytes;
      if (!indexedAndFloor(shop, plainPristine, c.spec.format, products, repeat, sameIndexed,
                           sameFloor))
        return false;
    }
    std::vector<int32_t> none;
    Run plain;
    if (!run(shop, plainPristine, c.spec.format, Mode::Plain, none, false, plain)) return false;
    std::printf("  plain matching on %s:\n",
                products < c.spec.products
                    ? ("the first " + std::to_string(products) + " products").c_str()
                    : "the whole shop");
    if (products < c.spec.products) {
      printRun("floor", sameFloor);
      printRun("indexed", sameIndexed);
    }
    printRun("plain", plain);
    std::printf("    plain / indexed: matching %.0fx, whole command %.1fx\n",
                plain.matching / sameIndexed.matching, plain.seconds / sameIndexed.seconds);
    if (products < c.spec.products) {
      // Products stand in random order to the rate file, so a plain search costs the same for
      // any of them: the first products tell what the whole shop would cost.
      const double scale = static_cast<double>(c.spec.products) / products;
      std::printf(
          "  whole shop, plain matching extrapolated from the first %d products:\n"
          "    plain matching %.1f s, plain / indexed matching %.0fx\n",
          products, plain.matching * scale, plain.matching * scale / indexed.matching);
    }
    const bool same =
        plain.productsHash == sameIndexed.productsHash && plain.report == sameIndexed.report;
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
    ok = bench.runCase(c, repeat, full, plain) && ok;
  }
  return ok ? 0 : 1;
}
