// Indexed lookups against the plain scans: random shops, rate lists and additional codes, run
// once with each, must leave the same entries (statuses, RATE_INVALID marks, counters) and the
// same product records. Also: the host refusing memory for the indexes, and their release.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lookup/hooks.h"
#include "vatupdate_support.h"
#include "velkar/shop/codepage.h"
#include "velkar/core/host_functions.h"
#include "velkar/shop/shop.h"

namespace shop = velkar::shop;

namespace {

constexpr int WAREHOUSE = 1;
constexpr int REALLOC_ORDINAL = 21286;

struct Case {
  int format = 0;
  std::vector<RateEntry> rates;
  std::map<int, std::vector<shop::ProductRow>> products;  // by warehouse
  std::vector<shop::ExtraCodeRow> codes;
  std::vector<ExtraCodeEntry> directCodes;  // put into the index as they stand
  // Raw bytes put over a product record of the warehouse after it is written (record index,
  // offset, bytes): texts that fill their field and run on without a zero byte of their own.
  struct Patch {
    size_t record, offset;
    std::string bytes;
  };
  std::vector<Patch> productPatches, codePatches;
};

struct Outcome {
  std::vector<RateEntry> entries;
  std::vector<std::vector<unsigned char>> records;
};

std::string printable(const char* bytes) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      out += static_cast<char>(*p);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", *p);
      out += hex;
    }
  }
  return out;
}

std::string describe(const Case& c) {
  std::ostringstream out;
  out << "format " << c.format << "\nrates:";
  for (const RateEntry& e : c.rates)
    out << " [" << printable(e.key) << "|" << e.rate.get() << "|" << printable(e.cnCode) << "]";
  for (const auto& [warehouse, rows] : c.products) {
    out << "\nwarehouse " << warehouse << ":";
    for (const shop::ProductRow& p : rows)
      out << " [" << p.number << "|" << p.name << "|" << p.barcode << "|" << p.newVatCode << "|"
          << p.cnCode << "]";
  }
  out << "\ncodes:";
  for (const shop::ExtraCodeRow& x : c.codes)
    out << " [" << x.code << "|" << x.warehouse << "|" << x.productNo << "]";
  out << "\ndirect codes:";
  for (const ExtraCodeEntry& x : c.directCodes)
    out << " [" << printable(x.code) << "|" << x.productNo.get() << "]";
  for (const auto* patches : {&c.productPatches, &c.codePatches}) {
    out << (patches == &c.productPatches ? "\nproduct patches:" : "\ncode patches:");
    for (const Case::Patch& p : *patches)
      out << " [" << p.record << "@" << p.offset << "|" << printable(p.bytes.c_str()) << "]";
  }
  return out.str();
}

// Random shops and rate lists, small enough that every product meets keys that fit it, and with
// what makes the lookups differ: duplicate keys, empty keys, case, nested and overlapping name
// fragments, Polish letters, additional codes of several warehouses, product number 0.
class CaseMaker {
 public:
  // size multiplies the numbers of keys, products and additional codes.
  explicit CaseMaker(uint32_t seed, int size = 1) : random(seed), size(size) {}

  Case make(int format) {
    Case c;
    c.format = format;
    return format == FORMAT_NAME_RATE ? byName(c) : byCode(c);
  }

 private:
  int below(int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }

  RateEntry entry(const std::string& key) {
    static const int rates[] = {-1, 0, 5, 8, 23, 7, 22};
    static const char* const cn[] = {"", "0401", "22030001", "1905 90"};
    RateEntry e;
    std::memset(&e, 0, sizeof e);
    std::strncpy(e.key, key.c_str(), RATE_KEY_CHARS);
    e.rate.set(rates[below(7)]);
    if (chance(50)) std::strncpy(e.cnCode, cn[below(4)], CN_CODE_CHARS);
    return e;
  }

  shop::ProductRow product(int number) {
    static const int codes[] = {0, 3, 5, 15, 18, 33};
    static const char* const cn[] = {"", "0401", "22030001"};
    return shop::ProductRow{number, "", "", codes[below(6)], codes[below(6)], cn[below(3)]};
  }

  std::string flipCase(std::string text) {
    for (char& ch : text)
      if (std::isalpha(static_cast<unsigned char>(ch)) && chance(40)) ch ^= 0x20;
    return text;
  }

  // Codes of the lengths where limits lie: 1, 16 and 17 (an additional code's room), 20 (the
  // stand-in's barcode field), 40 and 41 (a key's room), and short ones.
  std::string code(int maxLength = 40) {
    static const char alphabet[] = "0123456789AbCxyZ";
    static const int limits[] = {1, 15, 16, 17, 19, 20, 39, 40, 41, 45};
    std::string out;
    int length = chance(15) ? limits[below(10)] : chance(10) ? 15 + below(6) : 1 + below(8);
    if (length > maxLength) length = maxLength;
    for (int i = 0; i < length; ++i) out += alphabet[below(16)];
    return out;
  }

  // A text for a field that it fills and runs past: as long as the room, or longer, with no zero
  // byte in the room.
  std::string overlong(const std::string& text, size_t room) {
    std::string out = text;
    while (out.size() < room) out += static_cast<char>('0' + below(10));
    return out;
  }

  Case& byCode(Case& c) {
    std::vector<std::string> pool;
    for (int i = 1 + below(10); i > 0; --i) pool.push_back(code());
    auto fromPool = [&] { return flipCase(pool[below(static_cast<int>(pool.size()))]); };

    for (int i = below(14 * size); i > 0; --i) {
      if (chance(12))
        c.rates.push_back(entry(""));
      else if (chance(15))
        c.rates.push_back(entry(code()));
      else
        c.rates.push_back(entry(fromPool()));
    }
    for (int warehouse : {WAREHOUSE, 2}) {
      std::vector<shop::ProductRow>& rows = c.products[warehouse];
      for (int i = below(warehouse == WAREHOUSE ? 20 * size : 4); i > 0; --i) {
        shop::ProductRow p = product(below(7));
        const std::string barcode = chance(10) ? "" : chance(60) ? fromPool() : code();
        if (barcode.size() <= 20) {
          p.barcode = barcode;
        } else if (warehouse == WAREHOUSE) {
          // Longer than the stand-in's field: the barcode runs on into the host's bytes, and
          // ends where the text ends, or further on where a zero byte happens to stand.
          c.productPatches.push_back({rows.size(), 123, barcode + (chance(50) ? "" : "\xFF")});
          if (chance(50)) c.productPatches.back().bytes.push_back('\0');
        }
        rows.push_back(p);
      }
    }
    for (int i = below(16 * size); i > 0; --i) {
      static const int warehouses[] = {WAREHOUSE, WAREHOUSE, WAREHOUSE, 2, 0, -1};
      const std::string text = chance(8) ? "" : chance(70) ? fromPool() : code();
      if (text.size() > 20) {
        c.codePatches.push_back({c.codes.size(), 0, text + '\0'});
        c.codes.push_back({"", warehouses[below(6)], below(7)});
      } else {
        c.codes.push_back({text, warehouses[below(6)], below(7)});
      }
      // A code that fills the stand-in's field with no zero byte and runs into the host's bytes.
      if (chance(5) && text.size() <= 20)
        c.codePatches.push_back({c.codes.size() - 1, 0, overlong(text, 21 + below(8))});
    }
    if (chance(30)) {
      for (int i = 1 + below(3); i > 0; --i) {
        ExtraCodeEntry x;
        std::memset(&x, 0, sizeof x);
        std::strncpy(x.code, fromPool().c_str(), EXTRA_CODE_CHARS);
        x.productNo.set(static_cast<uint16_t>(chance(50) ? 0 : below(7)));
        x.warehouse.set(WAREHOUSE);
        c.directCodes.push_back(x);
      }
    }
    return c;
  }

  std::string name() {
    static const char* const words[] = {"MLEKO", "mleko", "Łaciate", "ŁACIATE", "żubrówka",
                                        "ŻUBR",  "ser",   "SEREK",   "ćma",     "Ćma",
                                        "ą",     "Ś",     "2%",      "ko",      "KOKO",
                                        "a",     "aa",    "aaa",     "óśź",     "masło extra"};
    std::string out;
    for (int i = below(5); i > 0; --i) {
      if (!out.empty()) out += " ";
      out += words[below(20)];
    }
    return out;
  }

  Case& byName(Case& c) {
    std::vector<std::string> names;  // in the host code page
    for (int warehouse : {WAREHOUSE, 2}) {
      std::vector<shop::ProductRow>& rows = c.products[warehouse];
      for (int i = below(warehouse == WAREHOUSE ? 20 * size : 4); i > 0; --i) {
        shop::ProductRow p = product(below(7));
        p.name = name();
        std::string bytes = velkar::codepage::fromUtf8(p.name, velkar::codepage::MAZOVIA);
        if (warehouse == WAREHOUSE && chance(8)) {
          // A name that fills its 121 bytes with no zero byte: it ends where the barcode begins.
          bytes = overlong(bytes, 121 + below(4));
          c.productPatches.push_back({rows.size(), 2, bytes});
          bytes.resize(121);
        }
        names.push_back(bytes);
        rows.push_back(p);
      }
    }
    for (int i = below(14 * size); i > 0; --i) {
      std::string key;
      if (chance(12)) {
        key = "";
      } else if (!names.empty() && chance(70)) {
        // A piece of a name, often short, so that keys nest in and overlap one another.
        const std::string& whole = names[below(static_cast<int>(names.size()))];
        if (!whole.empty()) {
          const int from = below(static_cast<int>(whole.size()));
          // Mostly short pieces; some of exactly 40 bytes, the most a key holds, and longer.
          const int length = chance(10) ? 40 + below(3) : 1 + below(chance(60) ? 3 : 12);
          key = whole.substr(chance(10) ? 0 : from, static_cast<size_t>(length));
        }
        key = flipCase(key);
        if (key.empty()) key = "ko";
      } else {
        key = velkar::codepage::fromUtf8(name(), velkar::codepage::MAZOVIA).substr(0, 40);
        if (key.empty()) key = "zz";
      }
      c.rates.push_back(entry(key));
    }
    if (chance(20)) c.codes.push_back({"x", WAREHOUSE, 1});
    return c;
  }

  std::mt19937 random;
  int size;
};

class RateIndexTest : public vat_support::VatTest {
 protected:
  void SetUp() override {
    VatTest::SetUp();
    std::string error;
    ASSERT_TRUE(shop::createShop(dir, {{WAREHOUSE, {}}}, {}, error)) << error;
    ASSERT_EQ(start(), 0);
    velkar::host().journalEnabled = false;
  }

  MatchingControl& control() { return *internals().matchingControl; }
  void releaseRateList() { internals().releaseRateList(); }
  void releaseExtraCodeIndex() { internals().releaseExtraCodeIndex(); }

  // Puts entries into the index as they stand, in host memory as the index's own block.
  void addDirectCodes(const std::vector<ExtraCodeEntry>& direct) {
    ExtraCodeIndex& index = extraCodes();
    for (const ExtraCodeEntry& x : direct) {
      if (index.count == index.capacity) {
        const int capacity = index.capacity + 1000;
        void* grown =
            velkar::fn::reallocMemory(index.entries, capacity * static_cast<int>(sizeof x));
        ASSERT_NE(grown, nullptr);
        index.entries = static_cast<ExtraCodeEntry*>(grown);
        index.capacity = capacity;
      }
      index.entries[index.count++] = x;
    }
  }

  // A file of records written afresh. (Not replaced in place: a file system may then wait for
  // the old contents to reach the disk, which thousands of runs cannot afford.)
  template <typename Row>
  void writeFresh(const std::string& name, const std::vector<Row>& rows, size_t size,
                  bool (*encode)(const Row&, unsigned char*, std::string&)) {
    std::string bytes(rows.size() * size, '\0'), error;
    for (size_t i = 0; i < rows.size(); ++i)
      ASSERT_TRUE(encode(rows[i], reinterpret_cast<unsigned char*>(&bytes[i * size]), error))
          << error;
    std::filesystem::remove(dir / name);
    writeFile(dir / name, bytes);
  }

  // Puts raw bytes over records of a file, each no further than its record's end.
  void patch(const std::string& name, size_t size, const std::vector<Case::Patch>& patches) {
    if (patches.empty()) return;
    std::string bytes = readFile(dir / name);
    for (const Case::Patch& p : patches) {
      const size_t at = p.record * size + p.offset;
      ASSERT_LE(p.record * size + size, bytes.size());
      bytes.replace(at, std::min(p.bytes.size(), size - p.offset), p.bytes, 0,
                    std::min(p.bytes.size(), size - p.offset));
    }
    std::filesystem::remove(dir / name);
    writeFile(dir / name, bytes);
  }

  // Lists ready for applyRates: the rate list, and the index of the shop's additional codes.
  void prepare(const Case& c, int mode) {
    for (const auto& [warehouse, rows] : c.products)
      writeFresh(shop::warehouseFileName(warehouse), rows, 1024, &shop::encodeProduct);
    writeFresh(shop::dataFileName(154), c.codes, 144, &shop::encodeExtraCode);
    patch(shop::warehouseFileName(WAREHOUSE), 1024, c.productPatches);
    patch(shop::dataFileName(154), 144, c.codePatches);
    control().mode = mode;
    dialogData().format.set(static_cast<int16_t>(c.format));
    for (const RateEntry& e : c.rates) ASSERT_EQ(appendRate(&e), 0);
    buildExtraCodeIndex(WAREHOUSE);
    addDirectCodes(c.directCodes);
  }

  Outcome finish() {
    Outcome out;
    out.entries.assign(rates().entries, rates().entries + rates().count);
    std::string error;
    EXPECT_TRUE(
        shop::readRecords(dir / shop::warehouseFileName(WAREHOUSE), 1024, out.records, error))
        << error;
    releaseRateList();
    releaseExtraCodeIndex();
    return out;
  }

  Outcome run(const Case& c, int mode) {
    prepare(c, mode);
    applyRates(WAREHOUSE);
    return finish();
  }

  // Entry by entry, then record by record; the first difference, or "".
  static std::string compare(const Outcome& plain, const Outcome& indexed) {
    std::ostringstream out;
    if (plain.entries.size() != indexed.entries.size()) return "entry counts differ";
    for (size_t i = 0; i < plain.entries.size(); ++i) {
      const RateEntry& a = plain.entries[i];
      const RateEntry& b = indexed.entries[i];
      if (std::memcmp(&a, &b, sizeof a) == 0) continue;
      out << "entry " << i << " [" << printable(a.key) << "]: status " << a.status.get() << "/"
          << b.status.get() << ", matched " << a.matchCount.get() << "/" << b.matchCount.get()
          << ", changed " << a.changedCount.get() << "/" << b.changedCount.get() << ", unchanged "
          << a.unchangedCount.get() << "/" << b.unchangedCount.get();
      return out.str();
    }
    if (plain.records.size() != indexed.records.size()) return "record counts differ";
    for (size_t i = 0; i < plain.records.size(); ++i)
      if (plain.records[i] != indexed.records[i]) {
        const shop::ProductRow a = shop::decodeProduct(plain.records[i].data());
        const shop::ProductRow b = shop::decodeProduct(indexed.records[i].data());
        out << "record " << i << ": new VAT code " << a.newVatCode << "/" << b.newVatCode
            << ", CN code " << a.cnCode << "/" << b.cnCode;
        return out.str();
      }
    return "";
  }

  // Many random cases of one format; counts how many of them used the index.
  void differential(int format, uint32_t seed, int cases, int size = 1) {
    CaseMaker maker(seed, size);
    int indexedRuns = 0;
    for (int n = 0; n < cases; ++n) {
      const Case c = maker.make(format);
      const Outcome plain = run(c, MATCHING_PLAIN);
      EXPECT_EQ(control().indexBytes, 0);
      const Outcome indexed = run(c, MATCHING_INDEXED);
      if (control().indexBytes > 0) ++indexedRuns;
      const std::string difference = compare(plain, indexed);
      ASSERT_EQ(difference, "") << "case " << n << " of seed " << seed << "\n" << describe(c);
      ASSERT_TRUE(velkar::host().liveBlocks.empty()) << "case " << n;
    }
    // Most cases look something up; those build the indexes.
    EXPECT_GT(indexedRuns, cases / 2);
  }
};

TEST_F(RateIndexTest, BarcodeAndRateMatchLikeTheScans) {
  differential(FORMAT_BARCODE_RATE, 7001, 1000);
}

TEST_F(RateIndexTest, NameAndRateMatchLikeTheScans) {
  differential(FORMAT_NAME_RATE, 7002, 1000);
}

TEST_F(RateIndexTest, BarcodeAndCnCodeMatchLikeTheScans) {
  differential(FORMAT_BARCODE_CN, 7003, 1000);
}

TEST_F(RateIndexTest, FormatsOutsideTheListMatchByBarcode) {
  differential(5, 7004, 100);
}

// Longer lists: states with many children, tables and automata that grow while built.
TEST_F(RateIndexTest, LongerListsMatchLikeTheScans) {
  differential(FORMAT_BARCODE_RATE, 7005, 20, 30);
  differential(FORMAT_NAME_RATE, 7006, 20, 30);
}

// The hand-made cases the random ones are likeliest to miss.
TEST_F(RateIndexTest, FirstKeyInListOrderWinsOverTheLeftmostOccurrence) {
  Case c;
  c.format = FORMAT_NAME_RATE;
  for (const char* key : {"SEREK", "", "LEKO", "MLEKO", "K", "ERE", ""}) {
    RateEntry e;
    std::memset(&e, 0, sizeof e);
    std::strcpy(e.key, key);
    e.rate.set(23);
    c.rates.push_back(e);
  }
  c.products[WAREHOUSE] = {{1, "mleko", "", 0, 0, ""},
                           {2, "ser", "", 0, 0, ""},
                           {3, "MLEKO SEREK", "", 0, 0, ""},
                           {4, "krem", "", 0, 0, ""}};
  const Outcome plain = run(c, MATCHING_PLAIN);
  const Outcome indexed = run(c, MATCHING_INDEXED);
  EXPECT_EQ(compare(plain, indexed), "");
  ASSERT_EQ(indexed.entries.size(), 7u);
  EXPECT_EQ(indexed.entries[0].matchCount.get(), 1);  // "MLEKO SEREK": SEREK comes first
  EXPECT_EQ(indexed.entries[2].matchCount.get(), 1);  // "mleko": LEKO before MLEKO
  EXPECT_EQ(indexed.entries[3].matchCount.get(), 0);
  EXPECT_EQ(indexed.entries[4].matchCount.get(), 1);  // "krem"
  EXPECT_EQ(indexed.entries[1].status.get(), RATE_INVALID);
  EXPECT_EQ(indexed.entries[6].status.get(), RATE_INVALID);  // "ser" found nothing
}

TEST_F(RateIndexTest, EmptyKeysAreMarkedOnlyAsFarAsALookupPassed) {
  Case c;
  c.format = FORMAT_BARCODE_RATE;
  for (const char* key : {"", "A1", "", "b2", ""}) {
    RateEntry e;
    std::memset(&e, 0, sizeof e);
    std::strcpy(e.key, key);
    e.rate.set(8);
    c.rates.push_back(e);
  }
  c.products[WAREHOUSE] = {{1, "", "a1", 0, 0, ""}, {2, "", "B2", 0, 0, ""}};
  for (int mode : {MATCHING_PLAIN, MATCHING_INDEXED}) {
    const Outcome out = run(c, mode);
    EXPECT_EQ(out.entries[0].status.get(), RATE_INVALID) << mode;
    EXPECT_EQ(out.entries[2].status.get(), RATE_INVALID) << mode;
    EXPECT_EQ(out.entries[4].status.get(), RATE_UNMATCHED) << mode;  // no lookup got past b2
  }
  // No product: no lookup, no mark.
  c.products[WAREHOUSE].clear();
  const Outcome none = run(c, MATCHING_INDEXED);
  for (const RateEntry& e : none.entries) EXPECT_EQ(e.status.get(), RATE_UNMATCHED);
}

TEST_F(RateIndexTest, KeysAreNormalisedOncePerRun) {
  CaseMaker maker(99);
  Case c = maker.make(FORMAT_NAME_RATE);
  while (c.products[WAREHOUSE].size() < 5 || c.rates.size() < 5) c = maker.make(FORMAT_NAME_RATE);
  for (shop::ProductRow& p : c.products[WAREHOUSE]) p.name = "zzz";  // no key fits
  for (RateEntry& e : c.rates)
    if (e.key[0] == 0) e.key[0] = 'q';
  velkar::host().journalEnabled = true;
  prepare(c, MATCHING_INDEXED);
  velkar::host().journal.clear();
  applyRates(WAREHOUSE);
  EXPECT_EQ(velkar::callsOf("normaliseText").size(), c.rates.size() + c.products[WAREHOUSE].size());
  finish();
}

// The host refuses each of the indexes' blocks in turn, then all of them: matching falls back to
// the scans with the same results, and nothing of the indexes stays allocated.
TEST_F(RateIndexTest, RefusedMemoryFallsBackToTheScans) {
  for (int format : {FORMAT_BARCODE_RATE, FORMAT_NAME_RATE}) {
    CaseMaker maker(500 + static_cast<uint32_t>(format));
    Case c = maker.make(format);
    while (c.products[WAREHOUSE].size() < 8 || c.rates.size() < 6) c = maker.make(format);
    const Outcome plain = run(c, MATCHING_PLAIN);

    int refusals = 0;
    for (int nth = 1;; ++nth) {
      prepare(c, MATCHING_INDEXED);
      velkar::Host& h = velkar::host();
      const size_t listBlocks = h.liveBlocks.size();
      const long before = h.callCounts[REALLOC_ORDINAL];
      h.faults = {velkar::Fault{REALLOC_ORDINAL, before + nth, false}};
      applyRates(WAREHOUSE);
      const bool refused = h.callCounts[REALLOC_ORDINAL] >= before + nth;
      h.faults.clear();
      EXPECT_EQ(h.liveBlocks.size(), listBlocks) << "the indexes are gone; refusal " << nth;
      const Outcome indexed = finish();
      EXPECT_EQ(compare(plain, indexed), "") << "format " << format << ", refusal " << nth;
      if (!refused) break;
      ++refusals;
    }
    EXPECT_GE(refusals, format == FORMAT_NAME_RATE ? 8 : 2);

    prepare(c, MATCHING_INDEXED);
    velkar::Host& h = velkar::host();
    h.faults = {velkar::Fault{REALLOC_ORDINAL, h.callCounts[REALLOC_ORDINAL] + 1, true}};
    applyRates(WAREHOUSE);
    h.faults.clear();
    EXPECT_EQ(control().indexBytes, 0);
    EXPECT_EQ(compare(plain, finish()), "");
    EXPECT_EQ(h.badFrees, 0);
  }
}

// A host whose normalisation drops blanks empties a key of blanks: such a key names no product
// (an empty text occurs in every name), and the index marks it invalid as the scan does.
class RateIndexBlanklessTest : public RateIndexTest {
 protected:
  std::string hostVariants() const override { return "normalise=lower-no-blanks"; }
};

TEST_F(RateIndexBlanklessTest, KeysThatNormaliseToNothingAreInvalidInBoth) {
  Case c;
  c.format = FORMAT_NAME_RATE;
  for (const char* key : {"  ", "ser ek", " ", "MLE"}) {
    RateEntry e;
    std::memset(&e, 0, sizeof e);
    std::strcpy(e.key, key);
    e.rate.set(5);
    c.rates.push_back(e);
  }
  c.products[WAREHOUSE] = {{1, "Serek wiejski", "", 0, 0, ""}, {2, "mleko", "", 0, 0, ""}};
  const Outcome plain = run(c, MATCHING_PLAIN);
  const Outcome indexed = run(c, MATCHING_INDEXED);
  EXPECT_EQ(compare(plain, indexed), "");
  EXPECT_EQ(indexed.entries[0].status.get(), RATE_INVALID);
  EXPECT_EQ(indexed.entries[1].matchCount.get(), 1);  // "serek" holds "serek" once blanks go
  EXPECT_EQ(indexed.entries[2].status.get(), RATE_INVALID);
  EXPECT_EQ(indexed.entries[3].matchCount.get(), 1);
  differential(FORMAT_NAME_RATE, 7008, 300);
}

// The benchmark's floor replays what a run recorded, product by product, with no lookup.
TEST_F(RateIndexTest, ARecordedRunReplaysToTheSameRecords) {
  CaseMaker maker(4242);
  for (int format : {FORMAT_BARCODE_RATE, FORMAT_NAME_RATE, FORMAT_BARCODE_CN}) {
    Case c = maker.make(format);
    while (c.products[WAREHOUSE].size() < 10) c = maker.make(format);
    std::vector<int32_t> trace(c.products[WAREHOUSE].size(), -2);
    control().trace = trace.data();
    control().traceSize = static_cast<int32_t>(trace.size());
    control().traceMode = TRACE_RECORD;
    const Outcome recorded = run(c, MATCHING_INDEXED);
    for (int32_t t : trace) EXPECT_GE(t, -1);
    control().traceMode = TRACE_REPLAY;
    velkar::host().journalEnabled = true;
    prepare(c, MATCHING_INDEXED);
    velkar::host().journal.clear();
    applyRates(WAREHOUSE);
    EXPECT_TRUE(velkar::callsOf("normaliseText").empty());
    velkar::host().journalEnabled = false;
    const Outcome replayed = finish();
    control().traceMode = TRACE_OFF;
    EXPECT_EQ(replayed.records, recorded.records) << "format " << format;
  }
}

}  // namespace
