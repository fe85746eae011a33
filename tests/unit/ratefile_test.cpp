// Reading the rate file into the rate list: which lines are taken and how, growth of the list, out
// of memory, and stop requests.
#include <climits>
#include <string>

#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/functions/text_files.h"
#include "velkar/console/ui.h"

using vat_support::argsOf;
using vat_support::quoted;

namespace {

class RateFileTest : public vat_support::VatTest {
 protected:
  // key -> rate of every entry, in list order.
  std::vector<std::pair<std::string, int>> keysAndRates() {
    std::vector<std::pair<std::string, int>> out;
    for (int i = 0; i < rates().count; ++i)
      out.emplace_back(rates().entries[i].key, rates().entries[i].rate.get());
    return out;
  }
  std::string manyLines(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "K" + std::to_string(i) + ",23\r\n";
    return text;
  }
};

using Pairs = std::vector<std::pair<std::string, int>>;

TEST_F(RateFileTest, RateFormatsTakeTheLeadingDigitsOrAnExemptWordAndSkipTheRest) {
  const std::string key41(41, '7');
  writeFile("rates.csv",
            "KOD,STAWKA\r\n"  // heading: its rate does not start with a digit
            "5900001\r\n"     // no comma
            ",23\r\n"         // empty key
            "5900002,\r\n"    // empty rate
            "5900003,-5\r\n"
            "5900004, 23\r\n"  // a leading blank
            "5900005,zw\r\n"
            "5900006,Z\r\n"
            "5900007,ZW\r\n"
            "5900008,23%\r\n"
            "5900009,23.00\r\n"
            "5900010,07\r\n"
            "5900011,23abc,99\r\n"
            "5900012,99999999999999\r\n" +
                key41 + ",8\r\n" +
                "5900005,8\r\n"  // a duplicate key stays an entry of its own
                "\r\n"
                "5900013,0");  // last line without a line end
  for (int format : {int{FORMAT_BARCODE_RATE}, int{FORMAT_NAME_RATE}, 7}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(readRateFile("rates.csv", format), 0);
    EXPECT_EQ(keysAndRates(), (Pairs{{"5900005", -1},
                                     {"5900006", -1},
                                     {"5900007", -1},
                                     {"5900008", 23},
                                     {"5900009", 23},
                                     {"5900010", 7},
                                     {"5900011", 23},
                                     {"5900012", INT_MAX},
                                     {key41.substr(0, 40), 8},
                                     {"5900005", 8},
                                     {"5900013", 0}}));
    for (int i = 0; i < rates().count; ++i) {
      const RateEntry& e = rates().entries[i];
      EXPECT_EQ(e.status.get(), RATE_UNMATCHED);
      EXPECT_EQ(e.matchCount.get() | e.changedCount.get() | e.unchangedCount.get(), 0);
      EXPECT_STREQ(e.cnCode, "");
    }
    internals().releaseRateList();
  }
}

TEST_F(RateFileTest, CnFormatStoresAnySecondFieldCutTo14Characters) {
  writeFile("rates.csv",
            "KOD,Kod CN\r\n"
            "5900001,0101 21 00\r\n"
            "5900002,123456789012345\r\n"
            "5900003\r\n"
            "5900004,\r\n"
            "5900005,zw\r\n");
  ASSERT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_CN), 0);
  ASSERT_EQ(rates().count, 5);
  const char* expected[][2] = {{"KOD", "Kod CN"},
                               {"5900001", "0101 21 00"},
                               {"5900002", "12345678901234"},
                               {"5900004", ""},
                               {"5900005", "zw"}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(rates().entries[i].key, expected[i][0]);
    EXPECT_STREQ(rates().entries[i].cnCode, expected[i][1]);
    EXPECT_EQ(rates().entries[i].rate.get(), 0);
  }
}

TEST_F(RateFileTest, KeysAreConvertedFromTheWindowsSetToTheHostSet) {
  // "Łódź" in Windows-1250, "Żółw" in Windows-1250.
  writeFile("rates.csv",
            "\xA3\xF3"
            "d\x9F,8\r\n\xAF\xF3\xB3w,5\r\n");
  ASSERT_EQ(readRateFile("rates.csv", FORMAT_NAME_RATE), 0);
  EXPECT_EQ(keysAndRates(), (Pairs{{MZ("Łódź"), 8}, {MZ("Żółw"), 5}}));
  EXPECT_EQ(argsOf("convertCharset")[0], (std::vector<std::string>{"ptr", "41",
                                                                   quoted("\xA3\xF3"
                                                                          "d\x9F"),
                                                                   "-1", "3", "1"}));
}

TEST_F(RateFileTest, HostCallsOfOneRead) {
  writeFile("rates.csv", "A,5\r\nB\r\n");
  ASSERT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_RATE), 0);
  EXPECT_EQ(argsOf("openTextFile"), (std::vector<std::vector<std::string>>{
                                        {quoted("rates.csv"), quoted("rt"), "64", "0", "-1"}}));
  EXPECT_EQ(argsOf("beginProgress"), (std::vector<std::vector<std::string>>{{"238"}}));
  EXPECT_EQ(argsOf("updateProgress"),
            (std::vector<std::vector<std::string>>{{"0", "8"}, {"5", "8"}, {"8", "8"}}));
  EXPECT_EQ(argsOf("getField")[0],
            (std::vector<std::string>{"0", quoted("A,5"), "ptr", "256", "256", quoted(",")}));
  EXPECT_EQ(argsOf("copyText")[0], (std::vector<std::string>{"ptr", quoted("A"), "40"}));
  EXPECT_EQ(velkar::callsOf("readLine").size(), 3u);  // two lines and the end
  EXPECT_EQ(velkar::callsOf("closeTextFile").size(), 1u);
  EXPECT_EQ(velkar::callsOf("endProgress").size(), 1u);
  EXPECT_EQ(velkar::openTextFileCount(), 0);
}

TEST_F(RateFileTest, AFileThatCannotBeOpenedEndsQuietly) {
  EXPECT_EQ(readRateFile("missing.csv", FORMAT_BARCODE_RATE), -1);
  EXPECT_TRUE(velkar::callsOf("beginProgress").empty());
  EXPECT_TRUE(velkar::callsOf("showMessage").empty());
  EXPECT_EQ(rates().entries, nullptr);
}

TEST_F(RateFileTest, AnEmptyFileGivesAnEmptyList) {
  writeFile("rates.csv", "");
  EXPECT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_RATE), 0);
  EXPECT_EQ(rates().count, 0);
  EXPECT_EQ(rates().entries, nullptr);
}

// --- growth and memory ---

TEST_F(RateFileTest, TheListGrowsByAThousandEntriesAtTheFirstAndTheThousandAndFirstLine) {
  writeFile("rates.csv", manyLines(1001));
  ASSERT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_RATE), 0);
  EXPECT_EQ(argsOf("reallocMemory"),
            (std::vector<std::vector<std::string>>{{"null", "76000"}, {"ptr", "152000"}}));
  EXPECT_EQ(rates().capacity, 2000);
  ASSERT_EQ(rates().count, 1001);
  EXPECT_STREQ(rates().entries[0].key, "K0");
  EXPECT_STREQ(rates().entries[1000].key, "K1000");
}

TEST_F(RateFileTest, OutOfMemoryAtTheFirstGrowthStoresNothingAndSaysSo) {
  velkar::host().faults.push_back({21286, 1, false});
  writeFile("rates.csv", manyLines(3));
  EXPECT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_RATE), 1);
  EXPECT_EQ(rates().entries, nullptr);
  EXPECT_EQ(rates().count, 0);
  EXPECT_EQ(rates().capacity, 0);
  EXPECT_EQ(argsOf("showMessage"), (std::vector<std::vector<std::string>>{
                                       {quoted("uwaga"), quoted(MZ("Za mało pamięci")), "1"}}));
  EXPECT_EQ(velkar::callsOf("readLine").size(), 1u);  // reading ends with the first line
  EXPECT_EQ(velkar::openTextFileCount(), 0);
  EXPECT_EQ(velkar::callsOf("endProgress").size(), 1u);
}

TEST_F(RateFileTest, OutOfMemoryAtALaterGrowthKeepsTheEntriesStoredSoFar) {
  velkar::host().faults.push_back({21286, 2, false});
  writeFile("rates.csv", manyLines(1500));
  EXPECT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_RATE), 1);
  EXPECT_EQ(rates().capacity, 1000);
  ASSERT_EQ(rates().count, 1000);
  EXPECT_STREQ(rates().entries[999].key, "K999");
  EXPECT_EQ(velkar::host().liveBlocks.size(), 1u);
  EXPECT_EQ(velkar::callsOf("readLine").size(), 1001u);
  EXPECT_EQ(velkar::callsOf("showMessage").size(), 1u);
}

TEST_F(RateFileTest, AGrowthWhoseSizeCannotBeExpressedIsOutOfMemory) {
  RateEntry e{};
  std::strcpy(e.key, "X");
  for (int32_t capacity : {28256364 - 1000 + 1, INT_MAX - 500, INT_MAX}) {
    SCOPED_TRACE(capacity);
    velkar::host().journal.clear();
    rates() = RateList{nullptr, capacity, capacity};
    EXPECT_EQ(appendRate(&e), 1);
    EXPECT_TRUE(velkar::callsOf("reallocMemory").empty());
    EXPECT_EQ(velkar::callsOf("showMessage").size(), 1u);
    EXPECT_EQ(rates().capacity, capacity);
    EXPECT_EQ(rates().count, capacity);
  }
  rates() = RateList{nullptr, 0, 0};
}

// --- stop requests ---

TEST_F(RateFileTest, AStopRequestEndsTheReadingWithTheLinesReadSoFar) {
  writeFile("rates.csv", manyLines(10));
  velkar::ui::setScript({"stop-after 3"});  // the poll before the first line, then after each
  EXPECT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_RATE), 0);
  EXPECT_EQ(rates().count, 3);
  EXPECT_EQ(velkar::callsOf("readLine").size(), 3u);
  EXPECT_EQ(velkar::openTextFileCount(), 0);
  EXPECT_EQ(velkar::callsOf("endProgress").size(), 1u);
}

TEST_F(RateFileTest, AStopRequestBeforeTheFirstLineReadsNothing) {
  writeFile("rates.csv", manyLines(10));
  velkar::ui::setScript({"stop-after 0"});
  EXPECT_EQ(readRateFile("rates.csv", FORMAT_BARCODE_RATE), 0);
  EXPECT_EQ(rates().count, 0);
  EXPECT_TRUE(velkar::callsOf("readLine").empty());
}

}  // namespace
