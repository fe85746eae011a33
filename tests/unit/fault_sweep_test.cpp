// Fault sweeps over whole runs of the command. For each scenario and each host function that can
// fail, a clean run counts the function's calls; then the scenario runs again, on a freshly loaded
// module over a fresh host and a restored shop, once with the Nth call failing and once with every
// call from the Nth on failing, for every N. After every run:
//   - every block the module took from the host has been given back, and no block was freed twice
//     or freed without being handed out;
//   - the module's rate list and extra-code index are empty, no text file or table cursor is left
//     open, no progress display or waiting message is left up;
//   - every product record is unchanged, or differs from its original only in the field the format
//     names and holds a value that a line of the rate file gives for that product;
//   - as many records changed on disk as writes the host carried out;
//   - the user saw "Za mało pamięci" exactly once for every failed allocation of the rate list or
//     the extra-code index, right after it, and never for one of the matching indexes;
//   - the summary was shown exactly when the command got as far as the report, its numbers add
//     up, and the report file holds one line for every entry the summary counts as invalid, same
//     rate or new rate, each naming a key and rate of the rate file, with the changes adding up to
//     the writes asked for.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/core/module_entries.h"
#include "velkar/shop/codepage.h"
#include "velkar/shop/shop.h"
#include "velkar/functions/text_files.h"
#include "velkar/console/ui.h"

namespace {

namespace shop = velkar::shop;
namespace codepage = velkar::codepage;
namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// The host functions that can fail during the command, and how they fail.
struct Failing {
  int ordinal;
  const char* name;
};
constexpr Failing kFailing[] = {
    {21286, "reallocMemory"},   {52534, "openTextFile"},   {52536, "readLine"},
    {52278, "openTableCursor"}, {52279, "readNextRecord"}, {52280, "writeCurrentRecord"},
    {52460, "stopRequested"},
};

struct Scenario {
  std::string name;
  int format;
  int warehouse;
  std::map<int, std::vector<shop::ProductRow>> products;
  std::vector<shop::ExtraCodeRow> codes;
  std::vector<std::string> lines;  // the rate file's lines, UTF-8
  bool large = false;              // swept at a stride (see sweepPoints)
};

shop::ProductRow product(int number, const std::string& name, const std::string& barcode,
                         int newVatCode = 0, const std::string& cnCode = "") {
  return shop::ProductRow{number, name, barcode, 33, newVatCode, cnCode};
}

std::vector<shop::ProductRow> groceries() {
  return {
      product(1, "Mleko 3,2%", "5900001"),
      product(2, "Chleb", "5900002", 0, "1905 90"),
      product(3, "Woda", "5900003", 33),
      product(4, "Sok", "5900004"),
      product(5, "Ser żółty", "5900005", 15, "0406"),
      product(6, "Masło", ""),  // no barcode of its own
      product(7, "Jogurt", "5900007"),
      product(8, "Kefir", "5900008"),
      product(9, "Mąka", "abc123"),
      product(10, "Cukier", "5900010"),
      product(0, "Sól", "5900011"),  // belongs to no additional code
  };
}

std::vector<shop::ExtraCodeRow> groceryCodes(int warehouse) {
  return {
      {"EXTRA4", warehouse, 4},
      {"EXTRA6", warehouse, 6},
      {"EXTRA5", warehouse + 1, 5},  // another warehouse's
      {"EXTRA1", warehouse, 0},      // no product's
      {"EXTRA7A", warehouse, 7},
      {"EXTRA7B", warehouse, 7},
      {"EXTRA8", warehouse, 8},
      {"EXTRA11", warehouse, 0},
      {"12345678901234567", warehouse, 4},  // longer than an index entry holds
  };
}

std::vector<Scenario> scenarios() {
  std::vector<Scenario> out;
  out.push_back({"BarcodesAndRates",
                 0,
                 2,
                 {{1, groceries()}, {2, groceries()}},
                 groceryCodes(2),
                 {
                     "KOD_KRESKOWY,STAWKA_VAT",  // a heading: skipped
                     "5900001,23",
                     "5900002,zw",
                     "5900003,23%",  // the product holds it already
                     "extra4,8",     // through an additional code, in another case
                     "EXTRA8,5",     // the product's own barcode comes later
                     "5900001,5",    // a duplicate: never matched
                     "EXTRA5,0",     // another warehouse's code
                     "EXTRA6,0",     // the product has no barcode
                     "EXTRA1,0",     // a code of no product
                     "5900009,7",    // no such product
                     "bez przecinka",
                     "5900005,-1",
                     ",23",
                     "EXTRA7B,0",
                     "ABC123,8",
                     "5900010,7",  // a rate without a VAT code
                     "5900008,23",
                     "5900011,Z",
                     "5900001,0",
                 }});
  out.push_back({"NameFragments",
                 1,
                 1,
                 {{1,
                   {
                       product(1, "Masło extra", "1"),
                       product(2, "MASŁO ROŚLINNE", "2"),
                       product(3, "Mleko 3,2%", "3"),
                       product(4, "Łosoś wędzony", "4"),
                       product(5, "Woda", "5", 5),
                       product(6, "Sok jabłkowy", "6"),
                       product(7, "Sok pomarańczowy", "7"),
                       product(8, "", "8"),
                       product(9, "Chleb żytni", "9"),
                       product(10, "Ser żółty", "10", 15),
                   }},
                  {2, {product(1, "Masło", "1")}}},
                 {{"1", 1, 3}, {"EXTRA", 1, 9}},
                 {
                     "NAZWA,STAWKA",
                     "masło,5",
                     "łosoś,8",
                     "mle,zw",
                     "woda,ZW",
                     "sok,8",
                     "sok jab,23",  // "sok" comes first
                     "chleb,7",
                     "ser,5",
                     "żółty,23",
                     "bez przecinka",
                     ",5",
                     "x,-5",
                     "masło,0",
                 }});
  out.push_back({"CnCodes",
                 2,
                 0,
                 {{0, groceries()}},
                 groceryCodes(0),
                 {
                     "KOD_KRESKOWY,Kod CN",  // stored like any line, matches nothing
                     "5900001,0401 20 11",
                     "5900005,0406",  // the product holds it already
                     "EXTRA4,2009 89 97 99 000",
                     "5900002,",  // empties the CN code
                     "5900003",
                     ",0402",
                     "5900001,9999",
                     "EXTRA7B,1905",
                     "EXTRA8,2202",
                     "5900008,2201",
                     "abc123,1101 00",
                 }});
  // Both the rate list and the extra-code index grow twice (1000 entries a step).
  Scenario large{"Growth", 0, 3, {}, {}, {}, true};
  std::vector<shop::ProductRow> rows;
  for (int p = 1; p <= 10; ++p)
    rows.push_back(product(p, "T" + std::to_string(p), "P" + std::to_string(p)));
  large.products = {{3, rows}};
  const char* rates[] = {"23", "8", "5", "0", "zw", "7"};
  for (int i = 0; i < 1005; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "X%04d", 1004 - i);
    large.lines.push_back(std::string(code) + "," + rates[i % 6]);
  }
  for (int i = 0; i < 1003; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "X%04d", i);
    large.codes.push_back({code, 3, i % 10 + 1});
  }
  out.push_back(large);
  return out;
}

// An accepted line of the rate file as the module stores it.
struct Entry {
  std::string key;  // host code page, at most 40 bytes
  int rate;
  std::string cnCode;
};

// The first two fields of a line, as the host's getField cuts them.
std::vector<Entry> acceptedEntries(const Scenario& s) {
  std::vector<Entry> out;
  for (const std::string& line : s.lines) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    std::string key = codepage::fromUtf8(line.substr(0, comma), codepage::MAZOVIA).substr(0, 40);
    std::string second = line.substr(comma + 1);
    second = second.substr(0, second.find(','));
    if (key.empty()) continue;
    if (s.format == 2) {
      out.push_back({key, 0, second.substr(0, 14)});
    } else if (!second.empty() && (second[0] == 'z' || second[0] == 'Z')) {
      out.push_back({key, -1, ""});
    } else if (!second.empty() && second[0] >= '0' && second[0] <= '9') {
      out.push_back({key, std::atoi(second.c_str()), ""});
    }
  }
  return out;
}

bool sameCode(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int vatCodeFor(int rate) {
  switch (rate) {
    case -1:
      return 5;
    case 0:
      return 3;
    case 5:
      return 15;
    case 8:
      return 18;
    case 23:
      return 33;
    default:
      return -1;
  }
}

// The bytes of the field a format writes: the CN code (as a text) or the new VAT code.
std::string fieldValue(const Bytes& record, int format) {
  if (format == 2) {
    const char* cn = reinterpret_cast<const char*>(record.data() + 528);
    return std::string(cn, strnlen(cn, 15));
  }
  return std::to_string(record[707] | record[708] << 8);
}

// What one faulted run did, from the host's journal.
struct Observed {
  bool rateFileOpened = false;
  bool reportOpened = false;
  bool reachedReport = false;
  bool reportStopped = false;
  int failedShowingAllocs = 0;
  int failedRateListAllocs = 0;
  int outOfMemoryMessages = 0;
  std::vector<std::string> problems;
  long writes = 0, failedWrites = 0;
  long progressBegun = 0, progressEnded = 0;
};

class FaultSweep : public vat_support::VatTest,
                   public ::testing::WithParamInterface<std::tuple<int, int>> {
 protected:
  void SetUp() override {
    VatTest::SetUp();
    scenario = scenarios().at(std::get<0>(GetParam()));
    failing = kFailing[std::get<1>(GetParam())];
    std::string error;
    ASSERT_TRUE(shop::createShop(dir, scenario.products, scenario.codes, error)) << error;
    for (const auto& [warehouse, rows] : scenario.products)
      original[warehouse] = fileRecords(warehouse);
    std::string rateFile;
    for (const std::string& line : scenario.lines)
      rateFile += codepage::fromUtf8(line, codepage::WINDOWS_1250) + "\r\n";
    writeFile("stawki.csv", rateFile);
    entries = acceptedEntries(scenario);
  }

  std::vector<Bytes> fileRecords(int warehouse) {
    std::vector<Bytes> out;
    std::string error;
    EXPECT_TRUE(shop::readRecords(dir / shop::warehouseFileName(warehouse), 1024, out, error))
        << error;
    return out;
  }

  // A freshly loaded module over a fresh host and the shop as it was made, then the command as
  // the host runs it when the user picks it, with the fault (if any) armed.
  void runCommand(const velkar::Fault* fault) {
    plugin.reset();
    velkar::resetHost();
    velkar::ui::setOutput(&quiet);
    quiet.str("");
    for (const auto& [warehouse, records] : original) {
      std::string error;
      ASSERT_TRUE(shop::writeRecords(dir / shop::warehouseFileName(warehouse), records, error))
          << error;
    }
    fs::remove(dir / shop::SETTINGS_FILE);
    fs::remove(dir / "zmianavat.txt");
    ASSERT_TRUE(load());
    ASSERT_EQ(start(), 0);
    velkar::Host& h = velkar::host();
    ASSERT_EQ(h.commands.size(), 1u);
    h.journal.clear();
    h.callCounts.clear();
    if (fault) h.faults = {*fault};
    velkar::ui::setScript(
        {"message ok", "dialog file=stawki.csv format=" + std::to_string(scenario.format) + " ok",
         "warehouse " + std::to_string(scenario.warehouse)});
    velkar::readCommandRecord(h.commands[0]).routine();
  }

  static bool failed(const velkar::Fault* f, int ordinal, long n) {
    return f && f->ordinal == ordinal && (n == f->nth || (f->persistent && n > f->nth));
  }

  Observed observe(const velkar::Fault* fault) {
    Observed o;
    const std::string outOfMemory = vat_support::quoted(MZ("Za mało pamięci"));
    const std::string waiting = vat_support::quoted(MZ("Proszę czekać. Tworzenie raportu."));
    enum { BEFORE, RATES, CODES, MATCHING, REPORT } phase = BEFORE;
    std::map<int, long> n;
    const auto& journal = velkar::host().journal;
    for (size_t i = 0; i < journal.size(); ++i) {
      const velkar::Call& c = journal[i];
      const bool fails = c.ordinal && failed(fault, c.ordinal, ++n[c.ordinal]);
      if (c.name == "openTextFile") {
        if (c.args.at(1) == "\"rt\"") {
          phase = RATES;
          o.rateFileOpened = !fails;
        } else {
          o.reportOpened = !fails;
        }
      } else if (c.name == "dataFilePath") {
        phase = CODES;
      } else if (c.name == "warehouseFilePath") {
        phase = MATCHING;
      } else if (c.name == "showMessage" && c.args.at(1) == waiting) {
        phase = REPORT;
        o.reachedReport = true;
      } else if (c.name == "showMessage" && c.args.at(1) == outOfMemory) {
        ++o.outOfMemoryMessages;
      } else if (c.name == "reallocMemory" && fails) {
        const bool shows = phase == RATES || phase == CODES;
        o.failedShowingAllocs += shows;
        o.failedRateListAllocs += phase == RATES;
        const bool told = i + 1 < journal.size() && journal[i + 1].name == "showMessage" &&
                          journal[i + 1].args.at(1) == outOfMemory;
        if (told != shows)
          o.problems.push_back("allocation call " + std::to_string(n[c.ordinal]) +
                               (shows ? " failed without the message" : " failed with a message"));
      } else if (c.name == "writeCurrentRecord") {
        ++o.writes;
        o.failedWrites += fails;
      } else if (c.name == "stopRequested" && fails && phase == REPORT) {
        o.reportStopped = true;
      } else if (c.name == "beginProgress") {
        ++o.progressBegun;
      } else if (c.name == "endProgress") {
        ++o.progressEnded;
      }
    }
    return o;
  }

  // The values a product's field may take after any run: the one the clean run gave, and in the
  // barcode formats that of every entry keyed by one of its additional codes (a run that reads
  // fewer lines, or keeps fewer codes, can reach the product through one of them first).
  std::set<std::string> allowedValues(int warehouse, size_t record) {
    std::set<std::string> allowed = {cleanValues.at(warehouse).at(record)};
    if (scenario.format == 1) return allowed;
    const shop::ProductRow row = shop::decodeProduct(original.at(warehouse)[record].data());
    if (row.barcode.empty() || row.number == 0 || warehouse != scenario.warehouse) return allowed;
    for (const shop::ExtraCodeRow& code : scenario.codes) {
      if (code.warehouse != warehouse || code.productNo != row.number || code.code.size() > 16)
        continue;
      for (const Entry& e : entries) {
        if (!sameCode(e.key, code.code)) continue;
        if (scenario.format == 2) {
          allowed.insert(e.cnCode);
        } else if (vatCodeFor(e.rate) >= 0) {
          allowed.insert(std::to_string(vatCodeFor(e.rate)));
        }
      }
    }
    return allowed;
  }

  // The five numbers of the summary windows shown.
  static std::vector<std::vector<int>> summaries() {
    std::vector<std::vector<int>> out;
    for (const velkar::ui::Shown& s : velkar::ui::shown()) {
      if (s.text.find("Ilość towarów") == std::string::npos) continue;
      std::vector<int> numbers;
      for (size_t tab = s.text.find('\t'); tab != std::string::npos;
           tab = s.text.find('\t', tab + 1))
        numbers.push_back(std::atoi(s.text.c_str() + tab + 1));
      out.push_back(numbers);
    }
    return out;
  }

  // Checks one run; returns the failures, empty when the run kept every rule.
  std::vector<std::string> check(const velkar::Fault* fault) {
    const Observed o = observe(fault);
    std::vector<std::string> bad = o.problems;
    const auto expect = [&](bool ok, const std::string& what) {
      if (!ok) bad.push_back(what);
    };

    const velkar::Host& h = velkar::host();
    expect(h.liveBlocks.empty(), std::to_string(h.liveBlocks.size()) + " blocks not given back");
    expect(h.badFrees == 0, std::to_string(h.badFrees) + " frees of blocks not handed out");
    expect(rates().entries == nullptr && rates().capacity == 0 && rates().count == 0,
           "the rate list is not empty");
    expect(extraCodes().entries == nullptr && extraCodes().capacity == 0 && extraCodes().count == 0,
           "the extra-code index is not empty");
    expect(velkar::openTextFileCount() == 0, "a text file left open");
    expect(velkar::openCursorCount() == 0, "a table cursor left open");
    expect(velkar::badTextFileHandles() == 0, "a text-file call with a handle not open");
    expect(!velkar::ui::waitMessageShown(), "the waiting message is still up");
    expect(o.progressBegun == o.progressEnded, "a progress display begun and not ended");

    // The product files.
    long changedRecords = 0;
    for (const auto& [warehouse, before] : original) {
      const std::vector<Bytes> after = fileRecords(warehouse);
      if (after.size() != before.size()) {
        bad.push_back("the product file of warehouse " + std::to_string(warehouse) +
                      " changed its size");
        continue;
      }
      const size_t first = scenario.format == 2 ? 528 : 707;
      const size_t last = scenario.format == 2 ? 542 : 708;
      for (size_t r = 0; r < after.size(); ++r) {
        if (after[r] == before[r]) continue;
        ++changedRecords;
        const std::string where =
            "warehouse " + std::to_string(warehouse) + " record " + std::to_string(r);
        for (size_t b = 0; b < 1024; ++b)
          if ((b < first || b > last) && after[r][b] != before[r][b]) {
            bad.push_back(where + " changed at byte " + std::to_string(b));
            break;
          }
        const std::string value = fieldValue(after[r], scenario.format);
        if (!allowedValues(warehouse, r).count(value))
          bad.push_back(where + " holds " + value + ", which no line gives it");
      }
    }
    expect(changedRecords == o.writes - o.failedWrites,
           std::to_string(changedRecords) + " records changed by " +
               std::to_string(o.writes - o.failedWrites) + " writes");

    // What the user was shown.
    int shownOutOfMemory = 0;
    for (const velkar::ui::Shown& s : velkar::ui::shown())
      shownOutOfMemory += s.text == "Za mało pamięci";
    expect(shownOutOfMemory == o.failedShowingAllocs && o.outOfMemoryMessages == shownOutOfMemory,
           "\"Za mało pamięci\" shown " + std::to_string(shownOutOfMemory) + " times for " +
               std::to_string(o.failedShowingAllocs) + " failed allocations");
    const bool reaches = o.rateFileOpened && o.failedRateListAllocs == 0;
    expect(o.reachedReport == reaches, reaches ? "the report never came" : "a report came");
    const auto shownSummaries = summaries();
    expect(shownSummaries.size() == (reaches ? 1u : 0u),
           std::to_string(shownSummaries.size()) + " summaries shown");
    if (!reaches) expect(changedRecords == 0, "records changed by a run that ended early");
    expect(fs::exists(dir / "zmianavat.txt") == o.reportOpened,
           o.reportOpened ? "no report file" : "a report file nobody wrote");
    if (shownSummaries.size() == 1 && shownSummaries[0].size() == 5) {
      const std::vector<int>& n = shownSummaries[0];
      expect(n[0] == n[1] + n[2] + n[3] + n[4], "the summary's numbers do not add up");
      expect(n[0] <= static_cast<int>(entries.size()), "more entries read than the file holds");
      if (o.reportOpened) checkReport(n, o, bad);
    } else if (!shownSummaries.empty()) {
      bad.push_back("a summary without its five numbers");
    }
    return bad;
  }

  // The report's lines against the summary and against the rate file.
  void checkReport(const std::vector<int>& n, const Observed& o, std::vector<std::string>& bad) {
    std::istringstream report(readFile("zmianavat.txt"));
    std::string line;
    long lines = 0, changes = 0;
    while (std::getline(report, line)) {
      ++lines;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t arrow = line.find(" -> ");
      int rate = 0, changed = 0, same = 0;
      if (arrow == std::string::npos ||
          std::sscanf(line.c_str() + arrow, " -> %d zmiany: %d, brak zmian: %d", &rate, &changed,
                      &same) != 3) {
        bad.push_back("a report line of another form: " + line);
        continue;
      }
      changes += changed;
      const std::string key = line.substr(0, arrow);
      bool known = false;
      for (const Entry& e : entries) known = known || (e.key == key && e.rate == rate);
      if (!known) bad.push_back("a report line for no line of the rate file: " + line);
      if (changed + same == 0) bad.push_back("a report line for no product: " + line);
    }
    if (lines != n[1] + n[3] + n[4])
      bad.push_back(std::to_string(lines) + " report lines for a summary of " +
                    std::to_string(n[1] + n[3] + n[4]));
    if (!o.reportStopped && changes != o.writes)
      bad.push_back(std::to_string(changes) + " changes reported for " + std::to_string(o.writes) +
                    " writes");
  }

  // Which call indices to sweep: every one, except in a large scenario, which takes thousands of
  // calls of the functions it calls per line or record: there the first and last twenty calls,
  // those around the 1000th (where the lists grow), and every stride-th call. The stride is 8,
  // or 64 under the sanitizers; VELKAR_SWEEP_STRIDE=1 sweeps every call.
  std::vector<long> sweepPoints(long calls) const {
#if defined(__SANITIZE_ADDRESS__)
    long stride = 64;
#else
    long stride = 8;
#endif
    if (const char* env = std::getenv("VELKAR_SWEEP_STRIDE")) stride = std::max(1L, std::atol(env));
    std::vector<long> out;
    for (long n = 1; n <= calls; ++n)
      if (!scenario.large || n <= 20 || n > calls - 20 || (n >= 995 && n <= 1010) ||
          n % stride == 0)
        out.push_back(n);
    return out;
  }

  Scenario scenario;
  Failing failing;
  std::map<int, std::vector<Bytes>> original;
  std::map<int, std::vector<std::string>> cleanValues;
  std::vector<Entry> entries;
  std::ostringstream quiet;
};

long totalRuns = 0;

TEST_P(FaultSweep, NothingIsLost) {
  // The clean run: it keeps every rule too, and tells how often the function is called.
  runCommand(nullptr);
  for (const auto& [warehouse, records] : original)
    for (const Bytes& record : fileRecords(warehouse))
      cleanValues[warehouse].push_back(fieldValue(record, scenario.format));
  const std::vector<std::string> clean = check(nullptr);
  ASSERT_TRUE(clean.empty()) << "clean run: " << clean.front();
  const long calls = velkar::host().callCounts[failing.ordinal];
  ASSERT_GT(calls, 0) << failing.name << " is never called in this scenario";
  ASSERT_FALSE(summaries().empty());

  long runs = 1, failures = 0;
  for (long nth : sweepPoints(calls)) {
    for (bool persistent : {false, true}) {
      const velkar::Fault fault{failing.ordinal, nth, persistent};
      runCommand(&fault);
      ++runs;
      const std::vector<std::string> bad = check(&fault);
      if (!bad.empty() && ++failures <= 5) {
        std::string all;
        for (const std::string& b : bad) all += "\n  " + b;
        ADD_FAILURE() << failing.name << " call " << nth << (persistent ? " on" : " once")
                      << " failing:" << all;
      }
    }
  }
  totalRuns += runs;
  std::printf("[  SWEEP   ] %s, %s: %ld calls, %ld runs (%ld in this process so far)\n",
              scenario.name.c_str(), failing.name, calls, runs, totalRuns);
  EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FaultSweep,
    ::testing::Combine(::testing::Range(0, 4),
                       ::testing::Range(0, static_cast<int>(std::size(kFailing)))),
    [](const auto& info) {
      return scenarios().at(std::get<0>(info.param)).name + "_" +
             kFailing[std::get<1>(info.param)].name;
    });

}  // namespace
