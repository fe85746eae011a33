// Matching products to rate entries and applying them: barcodes, additional codes and name
// fragments, the rate-to-VAT-code table, which field each format writes, write-back only of
// changed records, text fields read within their records, and stop requests.
#include <string>

#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/shop/shop.h"
#include "velkar/console/ui.h"

using vat_support::argsOf;
using vat_support::quoted;
namespace shop = velkar::shop;

namespace {

using Records = std::vector<std::vector<unsigned char>>;

class MatchingTest : public vat_support::VatTest {
 protected:
  void makeShop(const std::vector<shop::ProductRow>& products,
                const std::vector<shop::ExtraCodeRow>& codes = {}) {
    std::string error;
    ASSERT_TRUE(shop::createShop(dir, {{1, products}, {2, products}}, codes, error)) << error;
    ASSERT_EQ(start(), 0);
    ASSERT_TRUE(shop::readRecords(productFile(), 1024, before, error)) << error;
  }
  void writeRawProducts(const Records& records) {
    std::string error;
    ASSERT_TRUE(shop::createShop(dir, {{1, {}}}, {}, error)) << error;
    ASSERT_TRUE(shop::writeRecords(productFile(), records, error)) << error;
    ASSERT_EQ(start(), 0);
    before = records;
  }
  std::filesystem::path productFile() const { return dir / shop::warehouseFileName(1); }
  // Runs the scan over warehouse 1 in a format, with the extra-code index of warehouse 1.
  void apply(int format) {
    dialogData().format.set(static_cast<int16_t>(format));
    buildExtraCodeIndex(1);
    velkar::host().journal.clear();
    applyRates(1);
  }
  Records after() {
    Records out;
    std::string error;
    EXPECT_TRUE(shop::readRecords(productFile(), 1024, out, error)) << error;
    return out;
  }
  // The byte ranges in which record i differs from what it was, as "from..to" texts.
  std::vector<std::string> changedBytes(int i) {
    const auto now = after();
    std::vector<std::string> out;
    for (size_t b = 0; b < 1024;) {
      if (now.at(i)[b] == before.at(i)[b]) {
        ++b;
        continue;
      }
      size_t e = b;
      while (e + 1 < 1024 && now.at(i)[e + 1] != before.at(i)[e + 1]) ++e;
      out.push_back(std::to_string(b) + ".." + std::to_string(e));
      b = e + 1;
    }
    return out;
  }
  shop::ProductRow product(int i) { return shop::decodeProduct(after().at(i).data()); }
  const RateEntry& entry(int i) { return rates().entries[i]; }
  // status/matched/changed/unchanged of an entry.
  std::string outcome(int i) {
    const RateEntry& e = entry(i);
    return std::to_string(e.status.get()) + "/" + std::to_string(e.matchCount.get()) + "/" +
           std::to_string(e.changedCount.get()) + "/" + std::to_string(e.unchangedCount.get());
  }

  Records before;
};

using Strings = std::vector<std::string>;

shop::ProductRow row(int number, const std::string& name, const std::string& barcode,
                     int newVatCode = 0, const std::string& cnCode = "") {
  return shop::ProductRow{number, name, barcode, 1, newVatCode, cnCode};
}

// --- matching ---

TEST_F(MatchingTest, BarcodesMatchWithTheCaseOfLettersIgnored) {
  makeShop({row(1, "a", "abc123x"), row(2, "b", "żx1"), row(3, "c", "5900003")});
  addRate("ABC123X", 23);
  addRate("5900003", 8);
  addRate(MZ("Żx1"), 5);  // only ASCII letters compare without their case
  addRate(MZ("żX1"), 0);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(product(0).newVatCode, 33);
  EXPECT_EQ(product(1).newVatCode, 3);
  EXPECT_EQ(product(2).newVatCode, 18);
  EXPECT_EQ(outcome(0), "2/1/1/0");
  EXPECT_EQ(outcome(1), "2/1/1/0");
  EXPECT_EQ(outcome(2), "0/0/0/0");
  EXPECT_EQ(outcome(3), "2/1/1/0");
}

TEST_F(MatchingTest, OfTwoEntriesWithTheSameKeyOnlyTheFirstMatches) {
  makeShop({row(1, "a", "590"), row(2, "b", "590", 33)});
  addRate("590", 23);
  addRate("590", 8);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(outcome(0), "3/2/1/1");  // the second product already held the code
  EXPECT_EQ(outcome(1), "0/0/0/0");
}

TEST_F(MatchingTest, AdditionalCodesOfTheProductApplyInIndexOrderWhenTheBarcodeFindsNothing) {
  makeShop({row(5, "a", "MAIN5"), row(6, "b", "MAIN6"), row(0, "c", "MAIN0"), row(7, "d", "")},
           {{"X1", 1, 5},  // not in the file
            {"X9", 2, 5},  // another warehouse's product 5
            {"X2", 1, 5},  // the first of product 5 that finds an entry
            {"X3", 1, 5},
            {"X0", 1, 0},    // no product: never in the index
            {"X7", 1, 7}});  // product 7 has no barcode: not matched at all
  addRate("X3", 5);
  addRate("X9", 0);
  addRate("x2", 8);
  addRate("X0", 23);
  addRate("X7", 23);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(product(0).newVatCode, 18);
  EXPECT_EQ(product(1).newVatCode, 0);
  EXPECT_EQ(product(2).newVatCode, 0);
  EXPECT_EQ(product(3).newVatCode, 0);
  EXPECT_EQ(outcome(0), "0/0/0/0");
  EXPECT_EQ(outcome(1), "0/0/0/0");
  EXPECT_EQ(outcome(2), "2/1/1/0");
  EXPECT_EQ(outcome(3), "0/0/0/0");
  EXPECT_EQ(outcome(4), "0/0/0/0");
}

TEST_F(MatchingTest, TheMainBarcodeWinsOverAdditionalCodes) {
  makeShop({row(5, "a", "MAIN5")}, {{"X1", 1, 5}});
  addRate("X1", 5);
  addRate("MAIN5", 8);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(product(0).newVatCode, 18);
}

TEST_F(MatchingTest, NameFragmentsMatchEveryProductWhoseNameHoldsThem) {
  makeShop({row(1, "Mleko 2%", "1"), row(2, "MLEKO KOZIE", "2"), row(3, "Chleb", "3"),
            row(4, "", "4"), row(5, "Chleb razowy", "5"), row(6, "Woda", "6")});
  addRate("mleko", 5);
  addRate("CHLEB RAZ", 8);
  addRate("hle", 23);
  addRate("", 0);  // passed by the lookups: invalid
  addRate("chleb", 0);
  apply(FORMAT_NAME_RATE);
  EXPECT_EQ(product(0).newVatCode, 15);
  EXPECT_EQ(product(1).newVatCode, 15);
  EXPECT_EQ(product(2).newVatCode, 33);
  EXPECT_EQ(product(3).newVatCode, 0);  // no name: skipped
  EXPECT_EQ(product(4).newVatCode, 18);
  EXPECT_EQ(product(5).newVatCode, 0);
  EXPECT_EQ(outcome(0), "2/2/2/0");
  EXPECT_EQ(outcome(1), "2/1/1/0");
  EXPECT_EQ(outcome(2), "2/1/1/0");
  EXPECT_EQ(outcome(3), "6/0/0/0");
  EXPECT_EQ(outcome(4), "0/0/0/0");
}

TEST_F(MatchingTest, EmptyKeysBecomeInvalidOnlyWhenALookupPassesThem) {
  makeShop({row(1, "a", "590")});
  addRate("590", 23);
  addRate("", 8);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(outcome(1), "0/0/0/0");  // the lookup stopped before it
  EXPECT_EQ(findRateByCode("other"), nullptr);
  EXPECT_EQ(outcome(1), "6/0/0/0");
}

TEST_F(MatchingTest, AnEmptyKeyStaysUnmatchedWhenNoLookupRuns) {
  makeShop({});
  addRate("", 8);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(outcome(0), "0/0/0/0");
}

// --- what is written ---

TEST_F(MatchingTest, RatesBecomeVatCodesByTheTableAndOtherRatesChangeNothing) {
  const int rateValues[] = {RATE_EXEMPT, 0, 5, 8, 23, 7, 22, 100};
  const int codes[] = {5, 3, 15, 18, 33, 9, 9, 9};
  std::vector<shop::ProductRow> products;
  for (int i = 0; i < 8; ++i) products.push_back(row(i + 1, "p", "K" + std::to_string(i), 9));
  makeShop(products);
  for (int i = 0; i < 8; ++i) addRate("K" + std::to_string(i), rateValues[i]);
  apply(FORMAT_BARCODE_RATE);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(rateValues[i]);
    EXPECT_EQ(product(i).newVatCode, codes[i]);
    EXPECT_EQ(outcome(i), i < 5 ? "2/1/1/0" : "3/1/0/1");
    EXPECT_EQ(changedBytes(i), i < 5 ? Strings{"707..707"} : Strings{});
  }
  EXPECT_EQ(velkar::callsOf("writeCurrentRecord").size(), 5u);
}

TEST_F(MatchingTest, ARecordIsWrittenOnlyWhenItsBytesChanged) {
  makeShop({row(1, "a", "A", 33), row(2, "b", "B", 18), row(3, "c", "C", 0, "0101")});
  addRate("A", 23);
  addRate("B", 23);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(outcome(0), "3/1/0/1");
  EXPECT_EQ(outcome(1), "2/1/1/0");
  EXPECT_EQ(velkar::callsOf("writeCurrentRecord").size(), 1u);
  EXPECT_TRUE(changedBytes(0).empty());
  EXPECT_EQ(changedBytes(1), (Strings{"707..707"}));
  EXPECT_TRUE(changedBytes(2).empty());
}

TEST_F(MatchingTest, FormatTwoWritesOnlyTheCnCode) {
  makeShop({row(1, "a", "A", 33, "9999"), row(2, "b", "B", 18, "2222"), row(3, "c", "C", 5, "33"),
            row(4, "d", "D", 5, "12345678901234")});
  addRate("A", 0, "0101 21 00");
  addRate("B", 0, "2222");
  addRate("C", 0, "");
  addRate("D", 0, "9");
  apply(FORMAT_BARCODE_CN);
  EXPECT_EQ(product(0).cnCode, "0101 21 00");
  EXPECT_EQ(product(0).newVatCode, 33);
  EXPECT_EQ(product(1).cnCode, "2222");
  EXPECT_EQ(product(2).cnCode, "");
  EXPECT_EQ(product(3).cnCode, "9");
  EXPECT_EQ(changedBytes(0), (Strings{"528..537"}));
  EXPECT_TRUE(changedBytes(1).empty());
  EXPECT_EQ(changedBytes(2), (Strings{"528..528"}));
  EXPECT_EQ(changedBytes(3), (Strings{"528..529"}));
  EXPECT_EQ(outcome(1), "3/1/0/1");
  EXPECT_EQ(argsOf("copyText")[0], (std::vector<std::string>{"ptr", quoted("0101 21 00"), "14"}));
}

TEST_F(MatchingTest, RateFormatsNeverTouchTheCnCode) {
  makeShop({row(1, "Mleko", "A", 0, "1111")});
  addRate("A", 23, "9999");
  addRate("mle", 8, "9999");
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(changedBytes(0), (Strings{"707..707"}));
  apply(FORMAT_NAME_RATE);
  EXPECT_EQ(changedBytes(0), (Strings{"707..707"}));
  EXPECT_EQ(product(0).newVatCode, 18);
  EXPECT_EQ(product(0).cnCode, "1111");
}

// --- the host's records ---

TEST_F(MatchingTest, HostCallsOfOneScan) {
  makeShop({row(1, "a", "A")});
  addRate("A", 23);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(
      argsOf("warehouseFilePath"),
      (std::vector<std::vector<std::string>>{{"1", "ptr", quoted("MMM"), quoted(".MGR"), "103"}}));
  const auto open = argsOf("openTableCursor");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0][2], "4");
  EXPECT_EQ(open[0][4], "1");
  EXPECT_EQ(open[0][5], "0");
  EXPECT_EQ(argsOf("beginProgress"), (std::vector<std::vector<std::string>>{{"238"}}));
  EXPECT_EQ(argsOf("updateProgress"),
            (std::vector<std::vector<std::string>>{{"0", "1"}, {"1", "1"}}));
  EXPECT_EQ(velkar::callsOf("closeTableCursor").size(), 1u);
  EXPECT_EQ(velkar::callsOf("endProgress").size(), 1u);
  EXPECT_EQ(velkar::openCursorCount(), 0);
}

TEST_F(MatchingTest, TextFieldsAreReadWithinTheirRecords) {
  // A name of 121 characters without its zero byte, followed by a barcode; a barcode without its
  // zero byte up to the end of the record.
  std::vector<unsigned char> longName(1024, 0), longBarcode(1024, 0);
  std::memset(longName.data() + 2, 'A', 121);
  std::memcpy(longName.data() + 123, "XYZ", 3);
  std::memset(longBarcode.data() + 2, 'n', 3);
  std::memset(longBarcode.data() + 123, 'B', 901);
  writeRawProducts({longName, longBarcode});
  addRate("AXYZ", 23);
  addRate(std::string(40, 'B'), 23);
  apply(FORMAT_NAME_RATE);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(after(), before);
  EXPECT_EQ(outcome(0), "0/0/0/0");
  EXPECT_EQ(outcome(1), "0/0/0/0");
  addRate(std::string(121, 'A').substr(0, 40), 8);
  apply(FORMAT_NAME_RATE);
  EXPECT_EQ(outcome(2), "2/1/1/0");
}

TEST_F(MatchingTest, NoProductTableIsLikeAFileThatCannotBeOpened) {
  makeShop({row(1, "a", "A")});
  addRate("A", 23);
  productTable() = nullptr;
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(outcome(0), "0/0/0/0");
  EXPECT_TRUE(velkar::callsOf("openTableCursor").empty());
  EXPECT_EQ(after(), before);
}

TEST_F(MatchingTest, WithoutTheExtraCodeTableMainBarcodesStillMatch) {
  makeShop({row(1, "a", "A"), row(2, "b", "B")}, {{"X2", 1, 2}});
  addRate("A", 23);
  addRate("X2", 23);
  extraCodeTable() = nullptr;
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(outcome(0), "2/1/1/0");
  EXPECT_EQ(outcome(1), "0/0/0/0");
}

TEST_F(MatchingTest, AProductFileThatCannotBeOpenedLeavesEveryEntryUnmatched) {
  makeShop({row(1, "a", "A")});
  addRate("A", 23);
  dialogData().format.set(0);
  applyRates(7);  // no such warehouse file
  EXPECT_EQ(outcome(0), "0/0/0/0");
  EXPECT_EQ(velkar::callsOf("closeTableCursor").size(), 1u);
  EXPECT_EQ(velkar::callsOf("endProgress").size(), 1u);
}

TEST_F(MatchingTest, AShorterHostRecordIsReadAndComparedNoFurtherThanItsSize) {
  // The files keep 1024-byte records; the host shows each in 1000 bytes and writes back those.
  velkar::host().config.products = {true, 1000, 240};
  std::vector<unsigned char> r(1024, 0);
  r[1010] = 0x42;
  std::memcpy(r.data() + 2, "a", 1);
  std::memcpy(r.data() + 123, "A", 1);
  std::string error;
  ASSERT_TRUE(shop::createShop(dir, {{1, {}}}, {}, error)) << error;
  ASSERT_TRUE(shop::writeRecords(productFile(), {r, r}, error)) << error;
  ASSERT_EQ(start(), 0);
  addRate("A", 23);
  apply(FORMAT_BARCODE_RATE);
  EXPECT_EQ(outcome(0), "2/2/2/0");
  Records now;
  ASSERT_TRUE(shop::readRecords(productFile(), 1024, now, error)) << error;
  r[707] = 33;
  EXPECT_EQ(now, (Records{r, r}));
}

// --- stop requests ---

TEST_F(MatchingTest, AStopRequestLeavesTheRecordsAfterItUnread) {
  makeShop({row(1, "a", "A"), row(2, "b", "A"), row(3, "c", "A"), row(4, "d", "A")});
  addRate("A", 23);
  dialogData().format.set(0);
  velkar::ui::setScript({"stop-after 2"});
  applyRates(1);
  EXPECT_EQ(outcome(0), "2/2/2/0");
  EXPECT_EQ(velkar::callsOf("readNextRecord").size(), 2u);
  EXPECT_EQ(product(2).newVatCode, 0);
  EXPECT_EQ(product(3).newVatCode, 0);
  EXPECT_EQ(velkar::openCursorCount(), 0);
}

}  // namespace
