// The extra-code index: which records of the host's extra-code file it keeps, how it grows, out of
// memory, a missing table or file, and stop requests.
#include <string>

#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/shop/shop.h"
#include "velkar/console/ui.h"

using vat_support::argsOf;
using vat_support::quoted;
namespace shop = velkar::shop;

namespace {

class ExtraCodesTest : public vat_support::VatTest {
 protected:
  void makeShop(const std::vector<shop::ExtraCodeRow>& codes) {
    std::string error;
    ASSERT_TRUE(shop::createShop(dir, {{1, {}}}, codes, error)) << error;
    ASSERT_EQ(start(), 0);
  }
  // Raw extra-code records written as they stand.
  void writeRawCodes(const std::vector<std::vector<unsigned char>>& records) {
    std::string error;
    ASSERT_TRUE(shop::writeRecords(dir / shop::dataFileName(154), records, error)) << error;
    ASSERT_EQ(start(), 0);
  }
  static std::vector<unsigned char> rawCode(const std::string& codeBytes, int16_t warehouse,
                                            uint16_t productNo) {
    std::vector<unsigned char> r(144, 0);
    std::memcpy(r.data(), codeBytes.data(), std::min<size_t>(codeBytes.size(), 144));
    ExtraCodeRecord* rec = reinterpret_cast<ExtraCodeRecord*>(r.data());
    if (codeBytes.size() <= 140) {
      rec->warehouse.set(warehouse);
      rec->productNo.set(productNo);
    }
    return r;
  }
  // code/productNo/warehouse of every index entry.
  std::vector<std::string> index() {
    std::vector<std::string> out;
    for (int i = 0; i < extraCodes().count; ++i) {
      const ExtraCodeEntry& e = extraCodes().entries[i];
      out.push_back(std::string(e.code) + "/" + std::to_string(e.productNo.get()) + "/" +
                    std::to_string(e.warehouse.get()));
    }
    return out;
  }
  static std::vector<shop::ExtraCodeRow> manyCodes(int n, int warehouse) {
    std::vector<shop::ExtraCodeRow> codes;
    for (int i = 0; i < n; ++i) codes.push_back({"C" + std::to_string(i), warehouse, 1 + i % 50});
    return codes;
  }
};

using Strings = std::vector<std::string>;

TEST_F(ExtraCodesTest, KeepsTheCodesOfTheWarehouseInFileOrder) {
  makeShop({{"A1", 1, 5},
            {"B1", 2, 5},  // another warehouse
            {"A2", 1, 0},  // no product
            {"A3", 1, 7},
            {"", 1, 9},  // an empty code is kept as it is
            {"A4", 1, 5},
            {"B2", 0, 5}});
  buildExtraCodeIndex(1);
  EXPECT_EQ(index(), (Strings{"A1/5/1", "A3/7/1", "/9/1", "A4/5/1"}));
  for (int i = 0; i < extraCodes().count; ++i) {
    const ExtraCodeEntry& e = extraCodes().entries[i];
    const size_t length = std::strlen(e.code);
    for (size_t k = length; k < sizeof e.code; ++k) EXPECT_EQ(e.code[k], 0);
  }
  EXPECT_EQ(extraCodes().capacity, 1000);
}

TEST_F(ExtraCodesTest, HostCallsOfOneBuild) {
  makeShop({{"A1", 1, 5}, {"A2", 1, 6}});
  velkar::host().journal.clear();
  buildExtraCodeIndex(1);
  const auto path = argsOf("dataFilePath");
  ASSERT_EQ(path.size(), 1u);
  EXPECT_EQ(path[0], (std::vector<std::string>{"154", "0", "ptr", "0"}));
  const auto open = argsOf("openTableCursor");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0][2], "154");
  EXPECT_EQ(open[0][4], "1");
  EXPECT_EQ(open[0][5], "0");
  EXPECT_EQ(argsOf("beginProgress"), (std::vector<std::vector<std::string>>{{"238"}}));
  EXPECT_EQ(argsOf("updateProgress"),
            (std::vector<std::vector<std::string>>{{"0", "2"}, {"1", "2"}, {"2", "2"}}));
  EXPECT_EQ(velkar::callsOf("readNextRecord").size(), 3u);
  EXPECT_EQ(velkar::callsOf("closeTableCursor").size(), 1u);
  EXPECT_EQ(velkar::callsOf("endProgress").size(), 1u);
  EXPECT_EQ(velkar::openCursorCount(), 0);
}

TEST_F(ExtraCodesTest, WarehouseNumbersCompareAsSigned16Bits) {
  makeShop({{"N1", -1, 3}, {"P1", 1, 4}});
  buildExtraCodeIndex(-1);
  EXPECT_EQ(index(), (Strings{"N1/3/-1"}));
  internals().releaseExtraCodeIndex();
  buildExtraCodeIndex(65535);  // not -1
  EXPECT_TRUE(index().empty());
  buildExtraCodeIndex(65537);  // not 1
  EXPECT_TRUE(index().empty());
}

TEST_F(ExtraCodesTest, CodesLongerThanAnEntryHoldsAreLeftOut) {
  makeShop({{"1234567890123456", 1, 5},   // 16 characters: kept
            {"12345678901234567", 1, 6},  // 17: a cut code would be the one above
            {"12345678901234567890", 1, 7}});
  buildExtraCodeIndex(1);
  EXPECT_EQ(index(), (Strings{"1234567890123456/5/1"}));
}

TEST_F(ExtraCodesTest, ACodeWithoutItsZeroByteIsReadNoFurtherThanItsRecord) {
  writeRawCodes({rawCode(std::string(144, 'X'), 0, 0),  // runs over warehouse and product
                 rawCode(std::string(140, 'Y'), 1, 5),  // runs up to the warehouse field
                 rawCode("OK", 1, 6)});
  buildExtraCodeIndex(1);
  EXPECT_EQ(index(), (Strings{"OK/6/1"}));
}

TEST_F(ExtraCodesTest, NoTableOrNoFileLeavesTheIndexEmpty) {
  makeShop({{"A1", 1, 5}});
  extraCodeTable() = nullptr;
  velkar::host().journal.clear();
  buildExtraCodeIndex(1);
  EXPECT_TRUE(index().empty());
  EXPECT_TRUE(velkar::callsOf("openTableCursor").empty());
  EXPECT_TRUE(velkar::callsOf("readNextRecord").empty());

  ASSERT_EQ(start(), 0);
  std::filesystem::remove(dir / shop::dataFileName(154));
  velkar::host().journal.clear();
  buildExtraCodeIndex(1);
  EXPECT_TRUE(index().empty());
  EXPECT_TRUE(velkar::callsOf("readNextRecord").empty());
  EXPECT_EQ(velkar::callsOf("closeTableCursor").size(), 1u);
  EXPECT_EQ(velkar::callsOf("endProgress").size(), 1u);
}

// --- growth and memory ---

TEST_F(ExtraCodesTest, GrowsByAThousandEntriesAtTheFirstAndTheThousandAndFirstCode) {
  makeShop(manyCodes(1001, 1));
  buildExtraCodeIndex(1);
  EXPECT_EQ(argsOf("reallocMemory"),
            (std::vector<std::vector<std::string>>{{"null", "21000"}, {"ptr", "42000"}}));
  EXPECT_EQ(extraCodes().capacity, 2000);
  ASSERT_EQ(extraCodes().count, 1001);
  EXPECT_STREQ(extraCodes().entries[1000].code, "C1000");
}

TEST_F(ExtraCodesTest, OutOfMemoryLosesOnlyTheCodesThatFoundNoRoom) {
  makeShop({{"A1", 1, 5}, {"B1", 2, 5}, {"A2", 1, 6}, {"A3", 1, 7}});
  velkar::host().faults.push_back({21286, 1, false});
  buildExtraCodeIndex(1);
  EXPECT_EQ(index(), (Strings{"A2/6/1", "A3/7/1"}));
  EXPECT_EQ(argsOf("showMessage"), (std::vector<std::vector<std::string>>{
                                       {quoted("uwaga"), quoted(MZ("Za mało pamięci")), "1"}}));
}

TEST_F(ExtraCodesTest, OutOfMemoryAtALaterGrowthKeepsTheEntriesStored) {
  makeShop(manyCodes(1003, 1));
  velkar::host().faults.push_back({21286, 2, false});
  buildExtraCodeIndex(1);
  ASSERT_EQ(extraCodes().count, 1002);
  EXPECT_STREQ(extraCodes().entries[999].code, "C999");
  EXPECT_STREQ(extraCodes().entries[1000].code, "C1001");
  EXPECT_EQ(extraCodes().capacity, 2000);
  EXPECT_EQ(velkar::callsOf("showMessage").size(), 1u);
}

TEST_F(ExtraCodesTest, AGrowthWhoseSizeCannotBeExpressedIsOutOfMemory) {
  makeShop({{"A1", 1, 5}});
  extraCodes() = ExtraCodeIndex{nullptr, INT32_MAX - 10, INT32_MAX - 10};
  velkar::host().journal.clear();
  buildExtraCodeIndex(1);
  EXPECT_TRUE(velkar::callsOf("reallocMemory").empty());
  EXPECT_EQ(velkar::callsOf("showMessage").size(), 1u);
  EXPECT_EQ(extraCodes().count, INT32_MAX - 10);
  extraCodes() = ExtraCodeIndex{nullptr, 0, 0};
}

TEST_F(ExtraCodesTest, AStopRequestEndsTheBuildWithTheCodesStoredSoFar) {
  makeShop(manyCodes(10, 1));
  velkar::ui::setScript({"stop-after 2"});
  buildExtraCodeIndex(1);
  EXPECT_EQ(index(), (Strings{"C0/1/1", "C1/2/1"}));
  EXPECT_EQ(velkar::callsOf("readNextRecord").size(), 2u);
  EXPECT_EQ(velkar::openCursorCount(), 0);
}

}  // namespace
