// The stand-in's readings of its contract: their spellings, the guarded memory, the table layer
// with other record sizes and buffers, the host bytes, the settings store and normaliseText.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/shop_folder.h"
#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/shop/settings.h"
#include "velkar/shop/shop.h"

namespace {

using namespace velkar;

class HostVariantsTest : public testing_support::ShopFolderTest {
 protected:
  HostVariantsTest() : ShopFolderTest("velkar-variants-") {}

  void makeShop() {
    std::string error;
    ASSERT_TRUE(shop::createShop(
        dir, {{1, {{1, "Mleko", "5900001", 33, 0, "0401"}, {2, "Chleb", "5900002", 33, 18, ""}}}},
        {{"EXTRA", 1, 2}}, error))
        << error;
  }
  static unsigned char* bufferOf(TableDescriptor* table) {
    uint32_t address;
    std::memcpy(&address, reinterpret_cast<unsigned char*>(table) + 8, 4);
    return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(address));
  }
  static int32_t countIn(const unsigned char* cursor) {
    int32_t count;
    std::memcpy(&count, cursor + 116, 4);
    return count;
  }
  std::vector<std::vector<unsigned char>> products() {
    std::vector<std::vector<unsigned char>> out;
    std::string error;
    EXPECT_TRUE(shop::readRecords(dir / "MMM001.MGR", 1024, out, error)) << error;
    return out;
  }
};

TEST_F(HostVariantsTest, SpellingsAndMistakes) {
  HostConfig c;
  std::string error;
  ASSERT_TRUE(applyVariants("buffer-moves,open-result,end-of-table=-1,read-line=0x10000", c, error))
      << error;
  EXPECT_TRUE(c.variants.bufferMovesAtOpen);
  EXPECT_EQ(c.variants.openResult, 0x10007);
  EXPECT_EQ(c.variants.endOfTableResult, -1);
  EXPECT_EQ(c.variants.readLineResult, 0x10000);
  ASSERT_TRUE(applyVariants("table49=600,table117=none,no-choice=-2147483648", c, error)) << error;
  EXPECT_EQ(c.products.recordSize, 600);
  EXPECT_EQ(c.products.layout, 240);
  EXPECT_FALSE(c.extraCodes.present);
  EXPECT_EQ(c.variants.noChoice, INT_MIN);
  ASSERT_TRUE(applyVariants("strictest,settings-text=blank", c, error)) << error;
  EXPECT_EQ(c.variants.memory, MemoryMode::GUARDED);
  EXPECT_FALSE(c.variants.settingsTextWhole);
  EXPECT_TRUE(c.variants.hostBytes && c.variants.bufferNullUntilOpen);

  // Values a reading cannot take: they would not be the reading any more.
  for (const char* wrong :
       {"bogus", "open-result=0", "end-of-table=1", "read-line=0", "stop-result=0", "no-choice=3",
        "memory=fast", "table49=x", "settings-int=8", "end-of-table", "host-bytes=maybe"}) {
    HostConfig fresh;
    EXPECT_FALSE(applyVariants(wrong, fresh, error)) << wrong;
    EXPECT_NE(error.find("--variant"), std::string::npos) << error;
  }
}

TEST_F(HostVariantsTest, GuardedBlocksAreUnalignedFencedAndGoneWhenFreed) {
  host().config.variants.memory = MemoryMode::GUARDED;
  for (int size : {0, 1, 21, 21000, 4096}) {
    auto* block = static_cast<unsigned char*>(fn::reallocMemory(nullptr, size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4, 1u) << size;
    // Past the block and its few slack bytes lies the guard page.
    std::string fault;
    EXPECT_FALSE(callCatchingFaults([&] { block[size + 3] = 1; }, fault)) << size;
    EXPECT_NE(fault, "");
    fn::freeMemory(block);
    EXPECT_FALSE(
        callCatchingFaults([&] { (void)*static_cast<volatile unsigned char*>(block); }, fault));
  }
  // Growing moves the block, keeps its bytes and fills the rest with non-zero bytes; the old
  // block is gone.
  auto* small = static_cast<unsigned char*>(fn::reallocMemory(nullptr, 3));
  std::memcpy(small, "abc", 3);
  auto* grown = static_cast<unsigned char*>(fn::reallocMemory(small, 8));
  ASSERT_NE(grown, small);
  EXPECT_EQ(std::memcmp(grown, "abc", 3), 0);
  EXPECT_EQ(grown[7], 0xA5);
  std::string fault;
  EXPECT_FALSE(callCatchingFaults([&] { small[0] = 'x'; }, fault));
  // A write into the slack after the block is seen when it is freed.
  grown[8] = 0;
  fn::freeMemory(grown);
  EXPECT_EQ(host().canaryDamage, 1);
  EXPECT_TRUE(host().liveBlocks.empty());
  EXPECT_EQ(host().badFrees, 0);
  EXPECT_EQ(host().accessFaults, 11);
}

TEST_F(HostVariantsTest, InPlaceAndMovingBlocks) {
  host().config.variants.memory = MemoryMode::IN_PLACE;
  void* block = fn::reallocMemory(nullptr, 100);
  EXPECT_EQ(fn::reallocMemory(block, 140), block);
  void* moved = fn::reallocMemory(block, 100000);
  EXPECT_NE(moved, block);
  EXPECT_EQ(host().liveBlocks.size(), 1u);
  EXPECT_EQ(host().liveBytes, 100000u);
  fn::freeMemory(moved);
  fn::freeMemory(moved);
  EXPECT_EQ(host().badFrees, 1);

  host().config.variants.memory = MemoryMode::MOVING;
  void* a = fn::reallocMemory(nullptr, 10);
  void* b = fn::reallocMemory(a, 5);
  EXPECT_NE(a, b);
  fn::freeMemory(b);
  EXPECT_TRUE(host().liveBlocks.empty());
}

TEST_F(HostVariantsTest, RecordBufferNullUntilOpenMovedAndUnreadableAfterClose) {
  makeShop();
  HostVariants& v = host().config.variants;
  v.bufferNullUntilOpen = v.bufferMovesAtOpen = v.bufferUnreadableAfterClose = true;
  auto* table = fn::getTableDescriptor(49);
  EXPECT_EQ(bufferOf(table), nullptr);

  alignas(4) unsigned char cursor[188];
  ASSERT_NE(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0);
  unsigned char* first = bufferOf(table);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(fn::readNextRecord(cursor), 1);
  EXPECT_EQ(shop::decodeProduct(first).name, "Mleko");
  // The record's last byte is the last one before the guard page.
  std::string fault;
  EXPECT_FALSE(callCatchingFaults(
      [&] { (void)*static_cast<volatile unsigned char*>(first + 1024); }, fault));
  fn::closeTableCursor(cursor);
  EXPECT_EQ(bufferOf(table), nullptr);
  EXPECT_FALSE(
      callCatchingFaults([&] { (void)*static_cast<volatile unsigned char*>(first); }, fault));

  ASSERT_NE(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0);
  EXPECT_NE(bufferOf(table), first);
  fn::closeTableCursor(cursor);
}

TEST_F(HostVariantsTest, RecordsShownInTheConfiguredSizeWhileTheFilesKeepTheirs) {
  makeShop();
  const auto before = products();
  host().config.products = {true, 600, 240};
  host().config.variants.recordCount = RecordCountMode::PLUS_FIVE;
  host().config.variants.openResult = 0x10007;
  host().config.variants.endOfTableResult = 2;
  auto* table = fn::getTableDescriptor(49);
  alignas(4) unsigned char cursor[188];
  ASSERT_EQ(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0x10007);
  EXPECT_EQ(countIn(cursor), 7);
  unsigned char* record = bufferOf(table);
  ASSERT_EQ(fn::readNextRecord(cursor), 1);
  EXPECT_EQ(shop::decodeProduct(record).barcode, "5900001");
  EXPECT_EQ(record[707], 0);  // beyond the record: not shown
  record[2] = 'm';
  record[707] = 33;
  fn::writeCurrentRecord(cursor);
  ASSERT_EQ(fn::readNextRecord(cursor), 1);
  EXPECT_EQ(fn::readNextRecord(cursor), 2);
  fn::closeTableCursor(cursor);
  auto after = products();
  EXPECT_EQ(after[0][2], 'm');
  after[0][2] = before[0][2];
  EXPECT_EQ(after, before);  // nothing but the record's first 600 bytes was written
  EXPECT_EQ(host().recordsWritten, (std::vector<std::pair<std::string, long>>{{"MMM001.MGR", 0}}));

  // A longer record: host bytes after the disk record, which a write may not change.
  host().config.products = {true, 2000, 240};
  table = fn::getTableDescriptor(49);
  ASSERT_NE(fn::openTableCursor(cursor, table, 4, "MMM001.MGR", 1, 0), 0);
  record = bufferOf(table);
  ASSERT_EQ(fn::readNextRecord(cursor), 1);
  fn::writeCurrentRecord(cursor);
  EXPECT_EQ(host().writesBeyondRecord, 0);
  record[1500] ^= 1;
  fn::writeCurrentRecord(cursor);
  EXPECT_EQ(host().writesBeyondRecord, 1);
  fn::closeTableCursor(cursor);
  EXPECT_EQ(products().size(), 2u);
}

TEST_F(HostVariantsTest, HostBytesFillEverythingButTheFields) {
  makeShop();
  const auto before = products();
  std::string error;
  ASSERT_TRUE(shop::fillHostBytes(dir, error)) << error;
  const auto after = products();
  ASSERT_EQ(after.size(), before.size());
  for (size_t r = 0; r < after.size(); ++r) {
    EXPECT_EQ(shop::decodeProduct(after[r].data()), shop::decodeProduct(before[r].data()));
    const std::vector<bool> field = shop::fieldBytes(before[r].data(), 1024);
    for (size_t i = 0; i < 1024; ++i)
      ASSERT_TRUE(field[i] || after[r][i] != 0) << "record " << r << " byte " << i;
  }
  // The byte right after the name's terminator is a host byte now.
  EXPECT_NE(after[0][2 + 5 + 1], 0);
  std::vector<shop::ExtraCodeRow> codes;
  ASSERT_TRUE(shop::readExtraCodes(dir / "KODY154.DAT", codes, error)) << error;
  EXPECT_EQ(codes, (std::vector<shop::ExtraCodeRow>{{"EXTRA", 1, 2}}));
  // The same bytes each time.
  ASSERT_TRUE(shop::fillHostBytes(dir, error)) << error;
  EXPECT_EQ(products(), after);
}

// hostSettings takes a va_list; this passes the variable arguments on.
int settings(int operation, const char* key, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = fn::hostSettings(operation, "Mirtal", key, format, args);
  va_end(args);
  return result;
}

TEST_F(HostVariantsTest, SettingsStoreReadings) {
  std::string error;
  ASSERT_TRUE(settings::set("Mirtal", "Opcje", "2", error)) << error;
  ASSERT_TRUE(settings::set("Mirtal", "Path", "C:\\stawki nowe.csv", error)) << error;
  host().config.variants.settingsInt16 = true;
  host().config.variants.settingsHighHalf = true;
  int32_t value = -1;
  EXPECT_EQ(static_cast<uint32_t>(settings(8, "Opcje", "%d", &value)), 0xABCD0000u);
  EXPECT_EQ(value, static_cast<int32_t>(0xFFFF0002u));  // the high half as it was
  EXPECT_EQ(static_cast<uint32_t>(settings(8, "Missing", "%d", &value)) & 0xFFFF0000u, 0xABCD0000u);
  EXPECT_NE(settings(8, "Missing", "%d", &value) & 0xFFFF, 0);

  char path[129];
  EXPECT_EQ(settings(8, "Path", "%128s", path) & 0xFFFF, 0);
  EXPECT_STREQ(path, "C:\\stawki");
  host().config.variants.settingsTextWhole = true;
  EXPECT_EQ(settings(8, "Path", "%128s", path) & 0xFFFF, 0);
  EXPECT_STREQ(path, "C:\\stawki nowe.csv");
}

TEST_F(HostVariantsTest, NormalisationsKeepTheLengthBound) {
  const std::string name = codepage::fromUtf8("Łosoś Żółty é", codepage::MAZOVIA);
  const auto normalised = [&](NormaliseMode mode) {
    host().config.variants.normalise = mode;
    std::string text = name;
    fn::normaliseText(text.data());
    text.resize(std::strlen(text.c_str()));
    EXPECT_LE(text.size(), name.size());
    return codepage::toUtf8(text, codepage::MAZOVIA);
  };
  EXPECT_EQ(normalised(NormaliseMode::POLISH_UPPER), "ŁOSOŚ ŻÓŁTY é");
  EXPECT_EQ(normalised(NormaliseMode::NO_DIACRITICS), "LOSOS ZOLTY é");
  EXPECT_EQ(normalised(NormaliseMode::LOWER_NO_BLANKS), "łosośżółtyé");
  host().config.variants.nullTextResults = true;
  char text[] = "abc";
  EXPECT_EQ(fn::normaliseText(text), nullptr);
  EXPECT_STREQ(text, "abc");
}

}  // namespace
