// The command's whole runs under every reading of the host contract that the stand-in can play,
// one at a time and all of the strictest together. Each run is judged against a run of the same
// scenario on the default host: every product record may differ from its own input only in the
// format's field; that field, the records written, the report, the summary and the settings must
// be what the default host gives, except where the reading changes the outcome, and then the
// expected difference is stated here. Everything the run took must be given back.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_list.h"
#include "plugin/platform/platform.h"
#include "support/plugin_fixture.h"
#include "vatupdate_support.h"
#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/shop/settings.h"
#include "velkar/shop/shop.h"
#include "velkar/functions/text_files.h"
#include "velkar/console/ui.h"

namespace {

namespace fs = std::filesystem;
namespace shop = velkar::shop;
using Records = std::vector<std::vector<unsigned char>>;
using Written = std::vector<std::pair<std::string, long>>;

long matrixRuns = 0;

HOST_STDCALL int callbackStub(int, int) {
  return 0;
}

// ---- scenarios ----------------------------------------------------------------------------

struct Scenario {
  std::string name;
  int format;  // 0, 1 or 2: which field may change
  std::map<int, std::vector<shop::ProductRow>> products;
  std::vector<shop::ExtraCodeRow> codes;
  std::string rateFile;  // its bytes
  bool rateFilePresent = true;
  std::vector<std::string> script;
  bool stops = false;          // the run is stopped: poll counts must be those of the default
  bool usesExtraCodes = true;  // formats 0 and 2 fall back to additional codes
  std::string rateFileName = "stawki.csv";
  std::map<std::string, std::string> storedSettings;  // section "Mirtal", before the run
  // Where the default host's run must end: its summary and the product records it writes.
  std::optional<std::vector<int>> summary;
  std::optional<std::vector<long>> written;
};

// Named in test output by its name alone.
void PrintTo(const Scenario& s, std::ostream* out) {
  *out << s.name;
}

using vat_support::groceries;
using vat_support::product;

std::string win1250(const std::string& utf8) {
  return velkar::codepage::fromUtf8(utf8, velkar::codepage::WINDOWS_1250);
}

const std::string BARCODE_RATES =
    "KOD_KRESKOWY,STAWKA_VAT\r\n"
    "5900001,23\r\n"
    "5900002,zw\r\n"
    "5900003,23%\r\n"
    "extra4,8\r\n"
    "5900001,5\r\n"
    "EXTRA5,0\r\n"
    "EXTRA6,0\r\n"
    "EXTRA1,0\r\n"
    "5900009,7\r\n"
    "bez przecinka\r\n"
    "5900005,-1\r\n"
    ",23\r\n";

Scenario barcodes(const std::string& name, std::vector<std::string> extra = {}) {
  Scenario s{name,
             0,
             {{1, groceries()}, {2, groceries()}},
             {{"EXTRA4", 2, 4}, {"EXTRA6", 2, 6}, {"EXTRA5", 1, 5}, {"EXTRA1", 2, 0}},
             BARCODE_RATES,
             true,
             {"message ok", "dialog file=stawki.csv format=0 ok", "warehouse 2"}};
  for (auto& line : extra) s.script.push_back(line);
  s.stops = !extra.empty();
  return s;
}

std::vector<Scenario> scenarios() {
  std::vector<Scenario> out;
  out.push_back(barcodes("Barcodes"));
  out.back().summary = std::vector<int>{9, 0, 5, 1, 3};
  out.back().written = std::vector<long>{0, 1, 3};

  Scenario names{
      "Names",
      1,
      {{1,
        {product(1, "Masło extra", "1"), product(2, "MASŁO ROŚLINNE", "2"),
         product(3, "Mleko", "3"), product(4, "Łosoś wędzony", "4"), product(5, "Woda", "5", 5),
         product(6, "Ser żółty", "6"), product(7, "Sok jabłkowy", "7"), product(8, "", "8")}}},
      {{"1", 1, 3}},
      win1250("masło extra,8\r\nmasło,5\r\nłosoś,8\r\nmle,zw\r\nwoda,ZW\r\n"
              "zolty,23\r\nsokjab,0\r\n"),
      true,
      {"message ok", "dialog file=stawki.csv format=1 ok", "warehouse 1"}};
  names.usesExtraCodes = false;
  out.push_back(names);

  out.push_back(Scenario{"CnCodes",
                         2,
                         {{0, groceries()}},
                         {{"EXTRA4", 0, 4}},
                         "KOD_KRESKOWY,Kod CN\r\n"
                         "5900001,0401 20 11\r\n"
                         "5900005,0406\r\n"  // the product holds it already
                         "EXTRA4,2009 89 97 99 000\r\n"
                         "5900002,\r\n"  // an empty CN code
                         "5900003\r\n",
                         true,
                         {"dialog file=stawki.csv format=2 ok", "warehouse 0"}});

  out.push_back(Scenario{"AdditionalCodes",
                         0,
                         {{3,
                           {product(1, "A", "100"), product(2, "B", "200"), product(0, "C", "300"),
                            product(4, "D", "400", 18)}}},
                         {{"A-1", 3, 1},
                          {"A-2", 3, 1},
                          {"B-1", 4, 2},  // another warehouse
                          {"B-2", 3, 2},
                          {"C-1", 3, 0},  // no product
                          {"D-1", 3, 4}},
                         "a-2,5\r\nA-1,8\r\nB-1,23\r\nB-2,0\r\nC-1,8\r\nd-1,8\r\n",
                         true,
                         {"dialog file=stawki.csv format=0 ok", "warehouse 3"}});

  // Growth: 1100 lines and 1100 additional codes of the warehouse; the matches lie past 1000.
  {
    Scenario g{"Growth",
               0,
               {{1,
                 {product(1, "A", "G0001"), product(2, "B", "G9999"), product(3, "C", ""),
                  product(4, "D", "G1099", 15)}}},
               {},
               "",
               true,
               {"dialog file=stawki.csv format=0 ok", "warehouse 1"}};
    for (int i = 0; i < 1100; ++i) {
      char line[32];
      std::snprintf(line, sizeof line, "G%04d,%d\r\n", i, i % 2 ? 8 : 5);
      g.rateFile += line;
      char code[16];
      std::snprintf(code, sizeof code, "X%04d", i);
      g.codes.push_back({code, 1, i >= 1050 && i < 1052 ? 2 : 100 + i % 7});
    }
    g.rateFile += "X1051,23\r\nX1050,0\r\n";
    // Product 2 through its first additional code, the 1051st entry of the index.
    g.summary = std::vector<int>{1102, 0, 1099, 0, 3};
    g.written = std::vector<long>{0, 1, 3};
    out.push_back(g);
  }

  // Stops: "stop-after N" stops at the (N+1)th poll, and every later poll stops too. The rate
  // file takes about 13 polls, the index 5 and the products 7, then the report one per entry;
  // the summary and the records written show where each run stopped.
  out.push_back(barcodes("StopWhileReading", {"stop-after 3"}));
  out.back().summary = std::vector<int>{0, 0, 0, 0, 0};
  out.back().written = std::vector<long>{};
  out.push_back(barcodes("StopWhileIndexing", {"stop-after 16"}));
  out.back().summary = std::vector<int>{0, 0, 0, 0, 0};
  out.back().written = std::vector<long>{};
  out.push_back(barcodes("StopWhileScanning", {"stop-after 21"}));  // after two products
  out.back().summary = std::vector<int>{0, 0, 0, 0, 0};
  out.back().written = std::vector<long>{0, 1};
  out.push_back(barcodes("StopWhileReporting", {"stop-after 29"}));  // after three entries
  out.back().summary = std::vector<int>{3, 0, 0, 1, 2};
  out.back().written = std::vector<long>{0, 1, 3};

  Scenario missing = barcodes("MissingRateFile");
  missing.rateFilePresent = false;
  out.push_back(missing);

  // Choices stored by an earlier run, taken as they are.
  Scenario stored = out[2];
  stored.name = "StoredSettings";
  stored.products = {{5, groceries()}};
  stored.codes = {{"EXTRA4", 5, 4}};
  stored.storedSettings = {{"Path", "stawki.csv"}, {"Opcje", "2"}, {"Mag", "5"}};
  stored.script = {"message ok", "dialog ok"};
  out.push_back(stored);
  // A stored name with a blank: this host's "%128s" stops at the blank, so the file is not found.
  Scenario blank = stored;
  blank.name = "StoredPathWithBlank";
  blank.rateFileName = "stawki nowe.csv";
  blank.storedSettings["Path"] = "stawki nowe.csv";
  out.push_back(blank);

  Scenario none = barcodes("NoWarehouseChosen");
  none.script = {"message ok", "dialog file=stawki.csv format=0 ok", "warehouse none"};
  out.push_back(none);
  return out;
}

// ---- one run ------------------------------------------------------------------------------

struct Outcome {
  std::map<int, Records> before, after;
  Written written;
  bool reportExists = false;
  std::string report;
  std::vector<int> summary;
  std::map<std::string, std::string> settings;
  std::vector<std::string> journal;  // "name(args)" of every call
  // What the host saw at the end.
  size_t liveBlocks = 0;
  long badFrees = 0, writesBeyond = 0, canaryDamage = 0;
  int openCursors = 0, openTextFiles = 0;
  std::string fault;
};

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<int> summaryNumbers() {
  for (const velkar::ui::Shown& s : velkar::ui::shown()) {
    if (s.text.find("Ilość towarów") == std::string::npos) continue;
    std::vector<int> numbers;
    for (size_t tab = s.text.find('\t'); tab != std::string::npos; tab = s.text.find('\t', tab + 1))
      numbers.push_back(std::stoi(s.text.substr(tab + 1)));
    return numbers;
  }
  return {};
}

Records productRecords(const fs::path& dir, int warehouse) {
  Records out;
  std::string error;
  EXPECT_TRUE(shop::readRecords(dir / shop::warehouseFileName(warehouse), 1024, out, error))
      << error;
  return out;
}

// Runs a scenario on a fresh host configured by `configure`, with a fresh copy of the module.
Outcome run(const Scenario& s, const std::function<void(velkar::HostConfig&)>& configure) {
  ++matrixRuns;
  Outcome o;
  const fs::path previous = fs::current_path();
  std::string pattern = (fs::temp_directory_path() / "vatmatrix_XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    ADD_FAILURE() << "no temporary folder";
    return o;
  }
  const fs::path dir = pattern;
  fs::current_path(dir);
  velkar::host().shopDir = dir;
  velkar::resetHost();
  configure(velkar::host().config);
  std::ostringstream screen;
  velkar::ui::setOutput(&screen);

  std::string error;
  EXPECT_TRUE(shop::createShop(dir, s.products, s.codes, error)) << error;
  if (velkar::host().config.variants.hostBytes) {
    EXPECT_TRUE(shop::fillHostBytes(dir, error)) << error;
  }
  for (const auto& [warehouse, rows] : s.products)
    o.before[warehouse] = productRecords(dir, warehouse);
  if (s.rateFilePresent) std::ofstream(s.rateFileName, std::ios::binary) << s.rateFile;
  for (const auto& [key, value] : s.storedSettings)
    EXPECT_TRUE(velkar::settings::set("Mirtal", key, value, error)) << error;

  {
    auto plugin = velkar::PluginModule::open(VATUPDATE_PLUGIN, error);
    EXPECT_TRUE(plugin && plugin->attach()) << error;
    if (plugin && plugin->attached()) {
      using Start = int(HOST_STDCALL*)(HostCallback, char*);
      char title[64] = {0};
      const auto start = reinterpret_cast<Start>(plugin->entry(30001));
      const int started = start(&callbackStub, title);
      EXPECT_EQ(started, 0);
      if (started == 0 && velkar::host().commands.size() == 1) {
        const auto* record = static_cast<const unsigned char*>(velkar::host().commands[0]);
        void(HOST_CDECL * routine)(void);
        std::memcpy(&routine, record + 12, sizeof routine);
        velkar::ui::setScript(s.script);
        velkar::callCatchingFaults([&] { routine(); }, o.fault);
      }
      if (o.fault.empty()) start(nullptr, nullptr);
    }
  }

  for (const auto& [warehouse, rows] : s.products)
    o.after[warehouse] = productRecords(dir, warehouse);
  const velkar::Host& h = velkar::host();
  o.written = h.recordsWritten;
  o.reportExists = fs::exists(dir / "zmianavat.txt");
  o.report = readFile(dir / "zmianavat.txt");
  o.summary = summaryNumbers();
  for (const char* key : {"Path", "Opcje", "Mag"}) {
    std::string value;
    o.settings[key] = velkar::settings::get("Mirtal", key, value) ? value : "(none)";
  }
  for (const velkar::Call& c : h.journal) {
    std::string line = c.name + "(";
    for (size_t i = 0; i < c.args.size(); ++i) line += (i ? ", " : "") + c.args[i];
    o.journal.push_back(line + ")");
  }
  o.liveBlocks = h.liveBlocks.size();
  o.badFrees = h.badFrees;
  o.writesBeyond = h.writesBeyondRecord;
  o.canaryDamage = h.canaryDamage;
  o.openCursors = velkar::openCursorCount();
  o.openTextFiles = velkar::openTextFileCount();

  velkar::ui::setOutput(nullptr);
  velkar::resetHost();
  fs::current_path(previous);
  fs::remove_all(dir);
  return o;
}

// ---- expected outcomes --------------------------------------------------------------------

// The value of the format's field in a record: the new VAT code, or the CN code's text.
std::string fieldValue(int format, const std::vector<unsigned char>& r) {
  if (format == 2) return shop::getText(r.data(), shop::ProductFields::cnCode);
  return std::to_string(r[707] | r[708] << 8);
}

// Records that changed on disk, per warehouse.
std::map<int, std::vector<size_t>> changedRecords(const Outcome& o) {
  std::map<int, std::vector<size_t>> out;
  for (const auto& [w, after] : o.after)
    for (size_t r = 0; r < after.size(); ++r)
      if (after[r] != o.before.at(w)[r]) out[w].push_back(r);
  return out;
}

// What a run must give: the field per record, the changed records, the records written, the
// report, the summary and the settings.
struct Expected {
  std::map<int, std::vector<std::string>> fields;
  std::map<int, std::vector<size_t>> changed;
  Written written;
  bool reportExists;
  std::string report;
  std::vector<int> summary;
  std::map<std::string, std::string> settings;
};

Expected expectedFrom(int format, const Outcome& o) {
  Expected e;
  for (const auto& [w, after] : o.after)
    for (const auto& r : after) e.fields[w].push_back(fieldValue(format, r));
  e.changed = changedRecords(o);
  e.written = o.written;
  e.reportExists = o.reportExists;
  e.report = o.report;
  e.summary = o.summary;
  e.settings = o.settings;
  return e;
}

// A host whose product records end before the format's field: no change can be made, so every
// product an entry matches counts as unchanged and nothing is written.
Expected noChangePossible(Expected e, const Outcome& reference, int format) {
  for (const auto& [w, before] : reference.before)
    for (size_t r = 0; r < before.size(); ++r) e.fields[w][r] = fieldValue(format, before[r]);
  e.changed.clear();
  e.written.clear();
  std::istringstream lines(e.report);
  std::string out;
  for (std::string line; std::getline(lines, line);) {
    int changed = 0, unchanged = 0;
    const size_t at = line.find(" zmiany: ");
    if (at != std::string::npos &&
        std::sscanf(line.c_str() + at, " zmiany: %d, brak zmian: %d", &changed, &unchanged) == 2)
      line = line.substr(0, at) + " zmiany: 0, brak zmian: " + std::to_string(changed + unchanged) +
             "\r";
    out += line + "\n";
  }
  e.report = out;
  if (e.summary.size() == 5) {
    e.summary[3] += e.summary[4];
    e.summary[4] = 0;
  }
  return e;
}

template <typename T>
std::string show(const T& value) {
  return ::testing::PrintToString(value);
}

// Judges one run against what it must give: one failure per run, listing what differs.
void judge(const Scenario& s, const Outcome& o, const Expected& e) {
  std::vector<std::string> problems;
  const auto differ = [&](const std::string& what, const auto& got, const auto& want) {
    if (!(got == want)) problems.push_back(what + ": " + show(got) + ", expected " + show(want));
  };
  if (!o.fault.empty()) problems.push_back("the command ended with an " + o.fault);
  for (const auto& [w, after] : o.after) {
    const Records& before = o.before.at(w);
    if (after.size() != before.size()) {
      problems.push_back("warehouse " + std::to_string(w) + ": record count changed");
      continue;
    }
    for (size_t r = 0; r < after.size(); ++r) {
      const std::string where = "warehouse " + std::to_string(w) + " record " + std::to_string(r);
      const auto& a = after[r];
      const auto& b = before[r];
      // Only the format's field may differ from the record's own input.
      size_t first = 707, last = 708;
      if (s.format == 2) {
        first = 528;
        last = 528 + shop::getText(a.data(), shop::ProductFields::cnCode).size();
      }
      for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && (i < first || i > last)) {
          problems.push_back(where + ": byte " + std::to_string(i) + " changed");
          break;
        }
      differ(where + " field", fieldValue(s.format, a), e.fields.at(w).at(r));
    }
  }
  differ("records changed", changedRecords(o), e.changed);
  differ("records written", o.written, e.written);
  differ("report written", o.reportExists, e.reportExists);
  differ("report", o.report, e.report);
  differ("summary", o.summary, e.summary);
  differ("settings", o.settings, e.settings);
  differ("blocks not given back", o.liveBlocks, size_t{0});
  differ("frees of blocks not handed out", o.badFrees, 0L);
  differ("writes changing bytes beyond the record", o.writesBeyond, 0L);
  differ("blocks whose following bytes were changed", o.canaryDamage, 0L);
  differ("cursors left open", o.openCursors, 0);
  differ("text files left open", o.openTextFiles, 0);
  if (problems.empty()) return;
  std::string text;
  for (const std::string& p : problems) text += "\n  " + p;
  ADD_FAILURE() << problems.size() << " difference(s) from the expected outcome:" << text;
}

// ---- the readings -------------------------------------------------------------------------

using velkar::HostConfig;
using velkar::MemoryMode;
using velkar::NormaliseMode;
using velkar::RecordCountMode;

// How a reading changes the outcome of a scenario.
enum class Effect {
  NONE,              // the default host's outcome
  NO_EXTRA_CODES,    // as the default host without table 117
  NO_CHANGE,         // formats 0/1 (and 2 where CN is cut): matches count as unchanged
  NO_PRODUCT_TABLE,  // no product is read: every entry unidentified
  NORMALISE,         // format 1 matches differ: stated per mode below
  WHOLE_PATH,        // a stored name with a blank is read whole
};

struct Reading {
  std::string name;
  std::function<void(HostConfig&)> configure;
  // The effect per format (0/1, 2).
  Effect rateFormats = Effect::NONE, cnFormat = Effect::NONE;
  bool changesPolls = false;  // a phase polls differently: stop scenarios are not comparable
};

std::vector<Reading> readings() {
  std::vector<Reading> out;
  const auto add = [&](std::string name, std::function<void(HostConfig&)> f) {
    out.push_back(Reading{std::move(name), std::move(f)});
  };
  add("BufferNullUntilOpen", [](HostConfig& c) { c.variants.bufferNullUntilOpen = true; });
  add("BufferMoves", [](HostConfig& c) { c.variants.bufferMovesAtOpen = true; });
  add("BufferUnreadableAfterClose",
      [](HostConfig& c) { c.variants.bufferUnreadableAfterClose = true; });
  add("HostBytes", [](HostConfig& c) { c.variants.hostBytes = true; });
  add("MovedBufferWithHostBytes", [](HostConfig& c) {
    c.variants.bufferMovesAtOpen = true;
    c.variants.hostBytes = true;
  });
  add("OpenResult", [](HostConfig& c) { c.variants.openResult = 0x00010000 | 7; });
  add("EndOfTableMinus1", [](HostConfig& c) { c.variants.endOfTableResult = -1; });
  add("EndOfTable2", [](HostConfig& c) { c.variants.endOfTableResult = 2; });
  add("ReadLineMinus7", [](HostConfig& c) { c.variants.readLineResult = -7; });
  add("ReadLine0x10000", [](HostConfig& c) { c.variants.readLineResult = 0x10000; });
  add("StopResult0x100", [](HostConfig& c) { c.variants.stopResult = 0x100; });
  add("SettingsHighHalf", [](HostConfig& c) { c.variants.settingsHighHalf = true; });
  add("MessageHighHalf", [](HostConfig& c) { c.variants.messageHighHalf = true; });
  add("NullTextResults", [](HostConfig& c) { c.variants.nullTextResults = true; });
  add("RecordCountPlus5",
      [](HostConfig& c) { c.variants.recordCount = RecordCountMode::PLUS_FIVE; });
  add("RecordCountHalf", [](HostConfig& c) { c.variants.recordCount = RecordCountMode::HALF; });
  add("RecordCountZero", [](HostConfig& c) { c.variants.recordCount = RecordCountMode::ZERO; });
  add("NoChoiceMinus2", [](HostConfig& c) { c.variants.noChoice = -2; });
  add("NoChoiceIntMin", [](HostConfig& c) { c.variants.noChoice = INT_MIN; });
  add("SettingsInt16", [](HostConfig& c) { c.variants.settingsInt16 = true; });
  add("SettingsTextWhole", [](HostConfig& c) { c.variants.settingsTextWhole = true; });
  out.back().rateFormats = out.back().cnFormat = Effect::WHOLE_PATH;
  add("NormalisePolishUpper",
      [](HostConfig& c) { c.variants.normalise = NormaliseMode::POLISH_UPPER; });
  add("NormaliseNoDiacritics",
      [](HostConfig& c) { c.variants.normalise = NormaliseMode::NO_DIACRITICS; });
  out.back().rateFormats = Effect::NORMALISE;
  add("NormaliseLowerNoBlanks",
      [](HostConfig& c) { c.variants.normalise = NormaliseMode::LOWER_NO_BLANKS; });
  out.back().rateFormats = Effect::NORMALISE;
  add("MemoryInPlace", [](HostConfig& c) { c.variants.memory = MemoryMode::IN_PLACE; });
  add("MemoryMoving", [](HostConfig& c) { c.variants.memory = MemoryMode::MOVING; });
  add("MemoryGuarded", [](HostConfig& c) { c.variants.memory = MemoryMode::GUARDED; });

  const auto table = [&](std::string name, bool products, bool present, int16_t size, Effect rate,
                         Effect cn, bool polls = false) {
    out.push_back(Reading{std::move(name),
                          [=](HostConfig& c) {
                            velkar::TableConfig& t = products ? c.products : c.extraCodes;
                            t.present = present;
                            t.recordSize = size;
                            t.layout = products ? 240 : 0;
                          },
                          rate, cn, polls});
  };
  table("Table49Missing", true, false, 0, Effect::NO_PRODUCT_TABLE, Effect::NO_PRODUCT_TABLE, true);
  table("Table49Size1000", true, true, 1000, Effect::NO_EXTRA_CODES, Effect::NO_EXTRA_CODES);
  table("Table49Size600", true, true, 600, Effect::NO_CHANGE, Effect::NO_EXTRA_CODES);
  table("Table49Size530", true, true, 530, Effect::NO_CHANGE, Effect::NO_CHANGE);
  table("Table49Size2000", true, true, 2000, Effect::NONE, Effect::NONE);
  table("Table117Missing", false, false, 0, Effect::NO_EXTRA_CODES, Effect::NO_EXTRA_CODES, true);
  table("Table117Size100", false, true, 100, Effect::NO_EXTRA_CODES, Effect::NO_EXTRA_CODES);
  table("Table117Size240", false, true, 240, Effect::NONE, Effect::NONE);
  table("Table117Size600", false, true, 600, Effect::NONE, Effect::NONE);
  table("Table117Size2000", false, true, 2000, Effect::NONE, Effect::NONE);

  // Both readings of "%128s" are as strict; the strictest host keeps this host's.
  add("Strictest", [](HostConfig& c) {
    velkar::applyStrictest(c.variants);
    c.variants.settingsTextWhole = false;
  });
  return out;
}

// The expected outcome of the names scenario under a normalisation that reaches further.
Expected normalised(Expected e, const std::string& reading) {
  // "zolty" reaches "Ser żółty" only without diacritics; "sokjab" reaches "Sok jabłkowy" only
  // without blanks.
  const bool noDiacritics = reading == "NormaliseNoDiacritics";
  const size_t record = noDiacritics ? 5 : 6;
  const std::string code = noDiacritics ? "33" : "3";
  e.fields[1][record] = code;
  e.changed[1].push_back(record);
  std::sort(e.changed[1].begin(), e.changed[1].end());
  e.written.emplace_back("MMM001.MGR", static_cast<long>(record));
  std::sort(e.written.begin(), e.written.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  e.report += noDiacritics ? "zolty -> 23 zmiany: 1, brak zmian: 0\r\n"
                           : "sokjab -> 0 zmiany: 1, brak zmian: 0\r\n";
  e.summary = {7, 0, 1, 1, 5};
  return e;
}

// ---- the matrix ---------------------------------------------------------------------------

class VariantMatrix : public ::testing::TestWithParam<Scenario> {};

TEST_P(VariantMatrix, EveryReadingGivesTheDefaultHostsOutcome) {
  const Scenario& s = GetParam();
  const auto plain = [](HostConfig&) {};
  const Outcome reference = run(s, plain);
  ASSERT_EQ(reference.fault, "");
  EXPECT_EQ(reference.summary, s.summary.value_or(reference.summary));
  if (s.written) {
    std::vector<long> records;
    for (const auto& w : reference.written) records.push_back(w.second);
    EXPECT_EQ(records, *s.written);
  }
  const Expected base = expectedFrom(s.format, reference);
  // The default host's own run is judged too: it gives everything back.
  judge(s, reference, base);
  std::optional<Expected> withoutCodes;

  for (const Reading& r : readings()) {
    Effect effect = s.format == 2 ? r.cnFormat : r.rateFormats;
    if (effect == Effect::NO_EXTRA_CODES && !s.usesExtraCodes) effect = Effect::NONE;
    if (effect == Effect::NORMALISE && s.name != "Names") effect = Effect::NONE;
    if (effect == Effect::WHOLE_PATH && s.name != "StoredPathWithBlank") effect = Effect::NONE;
    // A stopped run's outcome hangs on the number of polls of each phase: only readings that
    // change nothing else are compared.
    if (s.stops && (r.changesPolls || effect != Effect::NONE)) continue;
    SCOPED_TRACE("reading " + r.name + " of scenario " + s.name);
    const Outcome o = run(s, r.configure);
    if ((effect == Effect::NO_EXTRA_CODES || effect == Effect::NO_CHANGE) && !withoutCodes &&
        s.usesExtraCodes)
      withoutCodes =
          expectedFrom(s.format, run(s, [](HostConfig& c) { c.extraCodes.present = false; }));
    const Expected& noCodes = s.usesExtraCodes ? *withoutCodes : base;
    switch (effect) {
      case Effect::NONE:
        judge(s, o, base);
        break;
      case Effect::NO_EXTRA_CODES:
        judge(s, o, noCodes);
        break;
      case Effect::NO_CHANGE:
        judge(s, o, noChangePossible(noCodes, o, s.format));
        break;
      case Effect::NORMALISE:
        judge(s, o, normalised(base, r.name));
        break;
      case Effect::WHOLE_PATH: {
        // As the default host with the same name without its blank; only the name differs.
        Scenario plainName = s;
        plainName.rateFileName = "stawki_nowe.csv";
        plainName.storedSettings["Path"] = plainName.rateFileName;
        Expected e = expectedFrom(s.format, run(plainName, plain));
        e.settings["Path"] = s.rateFileName;
        judge(s, o, e);
        // The default host's run, for contrast, found no file.
        EXPECT_FALSE(reference.reportExists);
        break;
      }
      case Effect::NO_PRODUCT_TABLE: {
        // No product is read: nothing changes; no lookup runs, so every entry read is
        // unidentified, none invalid. No call touches the product table.
        Expected e = base;
        for (auto& [w, fields] : e.fields)
          for (size_t i = 0; i < fields.size(); ++i)
            fields[i] = fieldValue(s.format, o.before.at(w)[i]);
        e.changed.clear();
        e.written.clear();
        if (e.reportExists) e.report = "";
        if (e.summary.size() == 5) e.summary = {e.summary[0], 0, e.summary[0], 0, 0};
        judge(s, o, e);
        for (const std::string& call : o.journal)
          if (call.find("MMM") != std::string::npos && call.rfind("warehouseFilePath", 0) != 0) {
            ADD_FAILURE() << "a call on the product table: " << call;
            break;
          }
        break;
      }
    }
  }
}

std::string scenarioName(const ::testing::TestParamInfo<Scenario>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, VariantMatrix, ::testing::ValuesIn(scenarios()), scenarioName);

// The number of runs the matrix made in this process.
class MatrixCount : public ::testing::Environment {
 public:
  void TearDown() override {
    if (matrixRuns) std::printf("[ MATRIX   ] %ld runs\n", matrixRuns);
  }
};
const auto* const matrixCount = ::testing::AddGlobalTestEnvironment(new MatrixCount);

}  // namespace
