// Runs of the VAT update command and of its floor on a generated shop.
#include "bench/runner.h"

#include <time.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "bench/shopgen.h"
#include "internals/internals.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/loader/loader.h"
#include "velkar/shop/shop.h"
#include "velkar/functions/text_files.h"
#include "velkar/console/ui.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

typedef int(HOST_STDCALL* StartEntry)(HostCallback callback, char* titleBuffer);
typedef int(HOST_STDCALL* NotifyEntry)(int flag);
typedef void(HOST_CDECL* CommandRoutine)(void);

const char* const REPORT_FILE = "zmianavat.txt";

// The module's clock in clocked runs: processor time, which other programs' load leaves alone.
uint64_t clockNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000ULL + static_cast<uint64_t>(t.tv_nsec);
}

double seconds(uint64_t ns) {
  return static_cast<double>(ns) / 1e9;
}

bool sameWindow(const velkar::ui::Shown& a, const velkar::ui::Shown& b) {
  return a.kind == b.kind && a.title == b.title && a.text == b.text && a.result == b.result;
}

fs::path productFile(const fs::path& shop) {
  return shop / velkar::shop::warehouseFileName(WAREHOUSE);
}

}  // namespace

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

Runner::Runner(std::string plugin, fs::path dir)
    : plugin_(std::move(plugin)), dir_(std::move(dir)) {}

// A fresh host in the shop folder, the product file as generated (a fresh file, not one rewritten
// in place) and no report. Always the default host as resetHost leaves it: its plain memory calls
// and files, the host the figures are about, with no checking variant of any of them.
void Runner::prepare(const fs::path& shop, const fs::path& pristine, bool journal) {
  fs::remove(productFile(shop));
  fs::copy_file(pristine, productFile(shop));
  fs::remove(shop / REPORT_FILE);
  velkar::resetHost();
  velkar::Host& host = velkar::host();
  host.journalEnabled = journal;
  host.shopDir = shop;
  fs::current_path(shop);
  velkar::ui::setOutput(&nowhere_);
}

void Runner::finish(const fs::path& shop, Run& out) {
  fs::current_path(dir_);
  out.productsHash = hashFile(productFile(shop));
  out.report = readAll(shop / REPORT_FILE);
}

bool Runner::command(const fs::path& shop, const fs::path& pristine, int format, Mode mode,
                     std::vector<int32_t>& trace, Recording* recording, Run& out,
                     std::string& error, bool clocked) {
  prepare(shop, pristine, recording != nullptr);
  velkar::ui::setScript(
      {"message ok",
       "dialog file=" + std::string(RATE_FILE) + " format=" + std::to_string(format) + " ok",
       "warehouse " + std::to_string(WAREHOUSE)});
  velkar::Host& host = velkar::host();

  auto plugin = velkar::loadPlugin(plugin_, error);
  if (!plugin) {
    error = "the module did not load: " + error;
    return false;
  }
  auto start = reinterpret_cast<StartEntry>(plugin->entry(30001));
  auto notify = reinterpret_cast<NotifyEntry>(plugin->entry(30008));
  auto internals =
      reinterpret_cast<ModuleInternalsFunction>(plugin->symbol(MODULE_INTERNALS_SYMBOL));
  const ModuleInternals* module = internals ? internals() : nullptr;
  MatchingControl* control = module ? module->matchingControl : nullptr;
  void** slots = module ? module->hostSlots : nullptr;
  char title[64] = {0};
  if (!start || !notify || !control || !slots || start(&velkar::fn::hostCallback, title) != 0) {
    error = "the module did not start";
    return false;
  }
  notify(0);
  if (host.commands.empty()) {
    error = "the module registered no command";
    return false;
  }
  CommandRoutine routine;
  std::memcpy(&routine, static_cast<const char*>(host.commands.front()) + 12, sizeof routine);

  control->mode = mode == Mode::Plain ? MATCHING_PLAIN : MATCHING_INDEXED;
  control->traceMode = mode == Mode::Replay                 ? TRACE_REPLAY
                       : recording && mode == Mode::Indexed ? TRACE_RECORD
                                                            : TRACE_OFF;
  control->trace = trace.data();
  control->traceSize = static_cast<int32_t>(trace.size());
  control->clock = clocked ? &clockNs : nullptr;
  control->matchingTime = 0;
  control->buildTime = 0;

  out.phases = PhaseTimes{};
  installPhaseClock(slots, &out.phases);
  if (recording) installRecorders(slots, recording);
  const size_t windowsBefore = velkar::ui::shown().size();
  host.journal.clear();

  out.phases.begin[PHASE_PREAMBLE] = now();
  out.phases.seen[PHASE_PREAMBLE] = true;
  routine();
  out.phases.begin[PHASES] = now();
  installPhaseClock(slots, nullptr);

  const Stamp& b = out.phases.begin[PHASE_PREAMBLE];
  const Stamp& e = out.phases.begin[PHASES];
  out.seconds = seconds(e.wall - b.wall);
  out.cpu = seconds(e.cpu - b.cpu);
  out.matching = seconds(control->matchingTime);
  out.building = seconds(control->buildTime);
  out.stats = *control;
  if (recording) {
    // The host functions' calls; the Windows loader's (ordinal 0) are no part of the command.
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

bool Runner::floor(const fs::path& shop, const fs::path& pristine, Floor& floor,
                   const Recording* check, Run& out, std::string& error) {
  prepare(shop, pristine, check != nullptr);
  if (!floor.run(check != nullptr, out.phases, error)) {
    fs::current_path(dir_);
    return false;
  }
  const Stamp& b = out.phases.begin[PHASE_RATE_FILE];
  const Stamp& e = out.phases.begin[PHASES];
  out.seconds = seconds(e.wall - b.wall);
  out.cpu = seconds(e.cpu - b.cpu);
  if (check) {
    // The windows of the floor are the command's last ones (the command showed its explanation,
    // dialog and warehouse choice first).
    const auto& shown = velkar::ui::shown();
    bool same = !shown.empty() && shown.size() <= check->shown.size();
    for (size_t i = 0; same && i < shown.size(); ++i)
      same = sameWindow(shown[i], check->shown[check->shown.size() - shown.size() + i]);
    if (!same) error = "the floor showed other windows than the command";
    if (!velkar::host().liveBlocks.empty() || velkar::openTextFileCount() != 0)
      error = "the floor left blocks or files open";
  }
  velkar::host().journal.clear();
  finish(shop, out);
  return error.empty();
}

bool Runner::recordAndCheck(const fs::path& shop, const fs::path& pristine, int format,
                            std::vector<int32_t>& trace, Floor& floor, Run& recorded,
                            std::string& error) {
  Recording recording;
  if (!command(shop, pristine, format, Mode::Indexed, trace, &recording, recorded, error))
    return false;
  if (!floor.compile(recording, format, pristine, productFile(shop), error)) {
    error = "the floor was not compiled: " + error;
    return false;
  }
  Run checked;
  if (!this->floor(shop, pristine, floor, &recording, checked, error)) {
    error = "the floor check failed: " + error;
    return false;
  }
  if (checked.productsHash != recorded.productsHash) {
    error = "the floor check failed: the floor left another product file";
    return false;
  }
  if (checked.report != recorded.report) {
    error = "the floor check failed: the floor left another report";
    return false;
  }
  return true;
}

}  // namespace bench
