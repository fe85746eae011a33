// The shop folder: product and extra-code files, CSV, comparison, table descriptors and cursors.
#include <gtest/gtest.h>

#include "support/shop_folder.h"
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/shop/shop.h"

namespace fs = std::filesystem;
using namespace velkar;
using shop::ExtraCodeRow;
using shop::ProductRow;

namespace {

std::string bytesOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

unsigned char* recordBufferOf(TableDescriptor* table) {
  uint32_t address;
  std::memcpy(&address, reinterpret_cast<unsigned char*>(table) + 8, 4);
  return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(address));
}

class ShopTest : public testing_support::ShopFolderTest {
 protected:
  ShopTest() : ShopFolderTest("velkar-shop-") {}

  // Warehouse 1: three products; warehouse 2: one; codes of both.
  void makeShop() {
    std::string error;
    ASSERT_TRUE(
        shop::createShop(dir, {{1, products}, {2, {{9, "Inny", "999", 33, 33, ""}}}}, codes, error))
        << error;
  }

  std::vector<ProductRow> products = {
      {1, "Śliwki węgierki, 1 kg", "5900001", 33, 0, "0809 40"},
      {2, "Mleko \"Łaciate\" 2%", "5900002", 18, 18, ""},
      {3, "", "", 0, 0, ""},
  };
  std::vector<ExtraCodeRow> codes = {{"EXTRA1", 1, 2}, {"EXTRA2", -1, 0}, {"X", 2, 9}};
};

// ---- files --------------------------------------------------------------------------------

TEST_F(ShopTest, CreatedFilesHoldTheRecordsByteForByte) {
  makeShop();
  const std::string mgr = bytesOf(dir / "MMM001.MGR");
  ASSERT_EQ(mgr.size(), 3u * 1024);
  // The name in Mazovia from byte 2: 'Ś' is 0x98, 'ę' 0x91.
  EXPECT_EQ(static_cast<unsigned char>(mgr[2]), 0x98);
  EXPECT_EQ(mgr.substr(3, 6), "liwki ");
  EXPECT_EQ(static_cast<unsigned char>(mgr[2 + 8]), 0x91);
  EXPECT_EQ(mgr.substr(123, 8), std::string("5900001\0", 8));
  EXPECT_EQ(mgr.substr(528, 8), std::string("0809 40\0", 8));
  EXPECT_EQ(mgr.substr(705, 4), std::string("\x21\0\0\0", 4));  // vat code 33, new 0
  EXPECT_EQ(mgr.substr(1024 + 705, 4), std::string("\x12\0\x12\0", 4));
  EXPECT_EQ(mgr.substr(1024 + 1022, 2), std::string("\x02\0", 2));  // product number 2

  const std::string kody = bytesOf(dir / "KODY154.DAT");
  ASSERT_EQ(kody.size(), 3u * 144);
  EXPECT_EQ(kody.substr(0, 7), std::string("EXTRA1\0", 7));
  EXPECT_EQ(kody.substr(140, 4), std::string("\x01\0\x02\0", 4));
  EXPECT_EQ(kody.substr(144 + 140, 4), std::string("\xFF\xFF\0\0", 4));  // warehouse -1

  std::vector<ProductRow> back;
  std::vector<ExtraCodeRow> codesBack;
  std::string error;
  ASSERT_TRUE(shop::readProducts(dir / "MMM001.MGR", back, error)) << error;
  EXPECT_EQ(back, products);
  ASSERT_TRUE(shop::readExtraCodes(dir / "KODY154.DAT", codesBack, error)) << error;
  EXPECT_EQ(codesBack, codes);
}

TEST_F(ShopTest, BadRowsAreRefusedBeforeAnyFileIsWritten) {
  makeShop();
  const std::string before = bytesOf(dir / "MMM001.MGR");
  struct Case {
    std::map<int, std::vector<ProductRow>> products;
    std::vector<ExtraCodeRow> codes;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {{{1, {{1, std::string(121, 'n'), "", 0, 0, ""}}}}, {}, "at most 120"},
      {{{1, {{1, "", std::string(21, '1'), 0, 0, ""}}}}, {}, "barcode"},
      {{{1, {{1, "", "", 0, 0, "123456789012345"}}}}, {}, "cn_code"},
      {{{1, {{1, "Kawa €", "", 0, 0, ""}}}}, {}, "code page"},
      {{{1, {{70000, "", "", 0, 0, ""}}}}, {}, "number 70000"},
      {{{1000, {}}}, {}, "unknown warehouse 1000"},
      {{{-1, {}}}, {}, "unknown warehouse -1"},
      {{{1, {}}}, {{"C", 40000, 1}}, "warehouse 40000"},
      {{{1, {}}}, {{std::string(21, 'c'), 1, 1}}, "code"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(shop::createShop(dir, c.products, c.codes, error)) << c.expected;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_EQ(bytesOf(dir / "MMM001.MGR"), before) << c.expected;
  }
}

TEST_F(ShopTest, MissingAndPartialFilesAreNotRead) {
  std::vector<ProductRow> rows;
  std::string error;
  EXPECT_FALSE(shop::readProducts(dir / "MMM005.MGR", rows, error));
  EXPECT_NE(error.find("no file"), std::string::npos) << error;
  writeBytes(dir / "MMM005.MGR", std::string(1500, '\0'));
  EXPECT_FALSE(shop::readProducts(dir / "MMM005.MGR", rows, error));
  EXPECT_NE(error.find("1500 bytes"), std::string::npos) << error;
}

// ---- CSV ----------------------------------------------------------------------------------

TEST_F(ShopTest, CsvExportAndImportGiveTheSameFile) {
  makeShop();
  std::string error;
  ASSERT_TRUE(shop::exportProductsCsv(dir, 1, dir / "p.csv", error)) << error;
  const std::string csv = bytesOf(dir / "p.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "number,name,barcode,vat_code,new_vat_code,cn_code");
  EXPECT_NE(csv.find("1,\"Śliwki węgierki, 1 kg\",5900001,33,0,0809 40\n"), std::string::npos);
  EXPECT_NE(csv.find("\"Mleko \"\"Łaciate\"\" 2%\""), std::string::npos);

  const std::string before = bytesOf(dir / "MMM001.MGR");
  ASSERT_TRUE(shop::importProductsCsv(dir / "p.csv", dir, 7, error)) << error;
  EXPECT_EQ(bytesOf(dir / "MMM007.MGR"), before);

  ASSERT_TRUE(shop::exportExtraCodesCsv(dir, dir / "k.csv", error)) << error;
  EXPECT_EQ(bytesOf(dir / "k.csv"),
            "code,warehouse,product_number\nEXTRA1,1,2\nEXTRA2,-1,0\nX,2,9\n");
  fs::remove(dir / "KODY154.DAT");
  ASSERT_TRUE(shop::importExtraCodesCsv(dir / "k.csv", dir, error)) << error;
  std::vector<ExtraCodeRow> back;
  ASSERT_TRUE(shop::readExtraCodes(dir / "KODY154.DAT", back, error));
  EXPECT_EQ(back, codes);

  EXPECT_FALSE(shop::exportProductsCsv(dir, 3, dir / "none.csv", error));
  EXPECT_NE(error.find("unknown warehouse 3"), std::string::npos) << error;
}

TEST_F(ShopTest, CsvReadingAcceptsCrLfBomAndLineBreaksInQuotes) {
  std::vector<ProductRow> rows;
  std::string error;
  ASSERT_TRUE(
      shop::parseProductsCsv("\xEF\xBB\xBFnumber,name,barcode,vat_code,new_vat_code,cn_code\r\n"
                             "4,\"A,\nB\",x, 5 ,0,\r\n\r\n5, b ,,0,0,\"\"\n",
                             "in.csv", rows, error))
      << error;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (ProductRow{4, "A,\nB", "x", 5, 0, ""}));
  EXPECT_EQ(rows[1], (ProductRow{5, " b ", "", 0, 0, ""}));
}

TEST_F(ShopTest, MalformedCsvNamesTheLineAndLeavesTheFileAlone) {
  makeShop();
  const std::string before = bytesOf(dir / "MMM001.MGR");
  const std::string header = "number,name,barcode,vat_code,new_vat_code,cn_code\n";
  const std::string good = "1,a,1,0,0,\n";
  struct Case {
    std::string text, expected;
  };
  const std::vector<Case> cases = {
      {"number,name\n" + good, "p.csv line 1: the header line"},
      {"", "line 1: the header line"},
      {header + good + "2,b,2,0,0\n", "line 3: expected 6 fields, found 5"},
      {header + good + "2,b,2,x1,0,\n", "line 3: vat_code \"x1\" is not a whole number"},
      {header + "70000,b,2,0,0,\n", "line 2: number 70000 is outside 0..65535"},
      {header + "1,,2,,0,\n", "line 2: vat_code is empty"},
      {header + good + good + "3,\"open,2,0,0,\n", "line 4: a quoted field is not closed"},
      {header + "3,\"a\"b,2,0,0,\n", "line 2: text after the closing quote"},
      {header + "3,a\"b,2,0,0,\n", "line 2: a quote inside a field"},
      {header + "3," + std::string(121, 'n') + ",2,0,0,\n", "line 2: name"},
      {header + "3,\"x\ny\",2,0,0,\n4,b,2,0,0,\n5,c,1234567890123456789012,0,0,\n",
       "line 5: barcode"},
  };
  for (const Case& c : cases) {
    writeBytes(dir / "p.csv", c.text);
    std::string error;
    EXPECT_FALSE(shop::importProductsCsv(dir / "p.csv", dir, 1, error)) << c.expected;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_EQ(bytesOf(dir / "MMM001.MGR"), before) << c.expected;
  }
  std::string error;
  writeBytes(dir / "k.csv", "code,warehouse,product_number\nA,1\n");
  EXPECT_FALSE(shop::importExtraCodesCsv(dir / "k.csv", dir, error));
  EXPECT_NE(error.find("k.csv line 2: expected 3 fields"), std::string::npos) << error;
  EXPECT_FALSE(shop::importProductsCsv(dir / "p.csv", dir, 1000, error));
  EXPECT_NE(error.find("unknown warehouse 1000"), std::string::npos) << error;
}

TEST_F(ShopTest, ComparisonNamesFieldsRawBytesAndRecordCount) {
  makeShop();
  fs::copy_file(dir / "MMM001.MGR", dir / "b.MGR");
  std::string bytes = bytesOf(dir / "b.MGR");
  bytes[123 + 6] = '9';       // record 0: barcode
  bytes[1024 + 707] = 33;     // record 1: new VAT code 18 -> 33
  bytes[2 * 1024 + 800] = 1;  // record 2: host bytes 800..801
  bytes[2 * 1024 + 801] = 2;
  bytes[2 * 1024 + 2 + 40] = 'z';  // record 2: after the name's terminator
  writeBytes(dir / "b.MGR", bytes + std::string(1024, '\0'));

  std::vector<shop::Difference> diffs;
  std::string error;
  ASSERT_TRUE(shop::compareProductFiles(dir / "MMM001.MGR", dir / "b.MGR", diffs, error));
  std::vector<std::string> lines;
  for (const auto& d : diffs) lines.push_back(shop::describe(d));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "records: 3 -> 4",
                       "record 0 barcode: \"5900001\" -> \"5900009\"",
                       "record 1 new_vat_code: 18 -> 33",
                       "record 2 bytes 42..42: 00 -> 7A",
                       "record 2 bytes 800..801: 00 00 -> 01 02",
                   }));
  EXPECT_FALSE(shop::compareProductFiles(dir / "MMM001.MGR", dir / "none", diffs, error));
}

// ---- host functions: names, descriptors, cursors --------------------------------------------

TEST_F(ShopTest, FileNamesAreBoundedAndOutOfRangeWarehousesNameNoFile) {
  char path[260];
  EXPECT_EQ(fn::warehouseFilePath(1, path, "MMM", ".MGR", 103), path);
  EXPECT_STREQ(path, "MMM001.MGR");
  fn::warehouseFilePath(999, path, "MMM", ".MGR", 103);
  EXPECT_STREQ(path, "MMM999.MGR");
  fn::warehouseFilePath(-1, path, "MMM", ".MGR", 103);
  EXPECT_STREQ(path, "MMM-.MGR");
  fn::warehouseFilePath(1000, path, "MMM", ".MGR", 103);
  EXPECT_STREQ(path, "MMM-.MGR");
  const std::string longPrefix(400, 'P');
  fn::warehouseFilePath(1, path, longPrefix.c_str(), ".MGR", 103);
  EXPECT_EQ(std::strlen(path), 259u);
  char data[256];
  EXPECT_EQ(fn::dataFilePath(154, 0, data, 0), data);
  EXPECT_STREQ(data, "KODY154.DAT");
}

TEST_F(ShopTest, DescriptorsFollowTheHostConfiguration) {
  auto* products = reinterpret_cast<unsigned char*>(fn::getTableDescriptor(49));
  ASSERT_NE(products, nullptr);
  int16_t size;
  uint16_t layout;
  uint32_t buffer;
  std::memcpy(&size, products + 6, 2);
  std::memcpy(&buffer, products + 8, 4);
  std::memcpy(&layout, products + 12, 2);
  EXPECT_EQ(size, 1024);
  EXPECT_EQ(layout, 0);
  EXPECT_NE(buffer, 0u);

  host().config.products = {true, 1000, 240};
  host().config.extraCodes.present = false;
  auto* older = reinterpret_cast<unsigned char*>(fn::getTableDescriptor(49));
  uint32_t sameBuffer;
  std::memcpy(&size, older + 6, 2);
  std::memcpy(&sameBuffer, older + 8, 4);
  std::memcpy(&layout, older + 12, 2);
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(layout, 240);
  EXPECT_EQ(sameBuffer, buffer);  // the plug-in may keep the address
  EXPECT_EQ(fn::getTableDescriptor(117), nullptr);
  EXPECT_EQ(fn::getTableDescriptor(50), nullptr);
  host().faults.push_back({52256, 5});
  EXPECT_EQ(fn::getTableDescriptor(49), nullptr);
}

TEST_F(ShopTest, CursorWritesOnlyTheRecordLastRead) {
  makeShop();
  const std::string before = bytesOf(dir / "MMM001.MGR");
  auto* table = fn::getTableDescriptor(49);
  unsigned char* record = recordBufferOf(table);

  alignas(4) unsigned char cursor[188 + 1];  // + 1: the record count at an odd address
  unsigned char* block = cursor + 1;
  ASSERT_NE(fn::openTableCursor(block, table, 4, "MMM001.MGR", 1, 0), 0);
  int32_t count;
  std::memcpy(&count, block + 116, 4);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(openCursorCount(), 1);
  EXPECT_EQ(fn::writeCurrentRecord(block), 0);  // nothing read yet

  ASSERT_EQ(fn::readNextRecord(block), 1);
  ASSERT_EQ(fn::readNextRecord(block), 1);
  EXPECT_EQ(shop::decodeProduct(record).number, 2);
  record[707] = 33;
  record[900] = 0x5A;
  EXPECT_EQ(fn::writeCurrentRecord(block), 1);
  ASSERT_EQ(fn::readNextRecord(block), 1);
  EXPECT_EQ(fn::readNextRecord(block), 0);  // end of file
  EXPECT_EQ(fn::closeTableCursor(block), 1);
  EXPECT_EQ(openCursorCount(), 0);

  const std::string after = bytesOf(dir / "MMM001.MGR");
  ASSERT_EQ(after.size(), before.size());
  std::string expected = before;
  expected[1024 + 707] = 33;
  expected[1024 + 900] = 0x5A;
  EXPECT_EQ(after, expected);
}

TEST_F(ShopTest, InjectedFaultsChangeNothing) {
  makeShop();
  const std::string before = bytesOf(dir / "MMM001.MGR");
  auto* table = fn::getTableDescriptor(49);
  unsigned char cursor[188];
  std::memset(cursor, 0xEE, sizeof cursor);
  host().faults.push_back({52278, 1});
  EXPECT_EQ(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0);
  EXPECT_EQ(fn::closeTableCursor(cursor), 0);
  EXPECT_EQ(openCursorCount(), 0);

  ASSERT_NE(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0);
  host().faults.push_back({52279, 1});
  EXPECT_EQ(fn::readNextRecord(cursor), 0);
  ASSERT_EQ(fn::readNextRecord(cursor), 1);  // the next call reads the first record
  host().faults.push_back({52280, 1, true});
  std::memset(recordBufferOf(table), 0x77, 1024);
  EXPECT_EQ(fn::writeCurrentRecord(cursor), 0);
  EXPECT_EQ(fn::writeCurrentRecord(cursor), 0);
  fn::closeTableCursor(cursor);
  EXPECT_EQ(bytesOf(dir / "MMM001.MGR"), before);
}

TEST_F(ShopTest, ClosingIsSafeInEveryState) {
  makeShop();
  auto* table = fn::getTableDescriptor(49);
  unsigned char cursor[188], zeroed[188] = {};
  EXPECT_EQ(fn::closeTableCursor(zeroed), 0);
  EXPECT_EQ(fn::closeTableCursor(nullptr), 0);
  EXPECT_EQ(fn::openTableCursor(cursor, table, 4, "MMM404.MGR", 1, 0), 0);  // no such file
  EXPECT_EQ(fn::closeTableCursor(cursor), 0);
  EXPECT_EQ(fn::readNextRecord(cursor), 0);
  EXPECT_EQ(fn::openTableCursor(cursor, nullptr, 4, "MMM001.MGR", 1, 0), 0);

  ASSERT_NE(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0);
  EXPECT_EQ(fn::closeTableCursor(cursor), 1);
  EXPECT_EQ(fn::closeTableCursor(cursor), 0);
  EXPECT_EQ(fn::readNextRecord(cursor), 0);

  // A copy of an open cursor's block is not the cursor; a reset closes what is still open.
  ASSERT_NE(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0);
  unsigned char copy[188];
  std::memcpy(copy, cursor, sizeof copy);
  EXPECT_EQ(fn::readNextRecord(copy), 0);
  resetHost();
  host().shopDir = dir;
  EXPECT_EQ(openCursorCount(), 0);
  EXPECT_EQ(fn::readNextRecord(cursor), 0);
}

TEST_F(ShopTest, FilesOfPartRecordsAreRefusedUntouched) {
  const std::string odd(1024 * 2 + 100, '\x42');
  writeBytes(dir / "MMM003.MGR", odd);
  writeBytes(dir / "KODY154.DAT", std::string(144 * 3, '\0'));
  unsigned char cursor[188];
  EXPECT_EQ(fn::openTableCursor(cursor, fn::getTableDescriptor(49), 4, "MMM003.MGR", 1, 0), 0);
  EXPECT_EQ(bytesOf(dir / "MMM003.MGR"), odd);
  EXPECT_EQ(openCursorCount(), 0);

  // The files keep their own record size (144 for extra codes, 1024 for products), whatever size
  // the descriptor states.
  ASSERT_NE(fn::openTableCursor(cursor, fn::getTableDescriptor(117), 154, "KODY154.DAT", 1, 0), 0);
  int32_t count;
  std::memcpy(&count, cursor + 116, 4);
  EXPECT_EQ(count, 3);
  fn::closeTableCursor(cursor);
  host().config.products = {true, 1000, 240};
  writeBytes(dir / "MMM004.MGR", std::string(3000, '\0'));
  EXPECT_EQ(fn::openTableCursor(cursor, fn::getTableDescriptor(49), 4, "MMM004.MGR", 1, 0), 0);
  writeBytes(dir / "MMM004.MGR", std::string(3 * 1024, '\0'));
  ASSERT_NE(fn::openTableCursor(cursor, fn::getTableDescriptor(49), 4, "MMM004.MGR", 1, 0), 0);
  std::memcpy(&count, cursor + 116, 4);
  EXPECT_EQ(count, 3);
  fn::closeTableCursor(cursor);
}

}  // namespace
