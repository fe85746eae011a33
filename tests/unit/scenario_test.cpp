// Whole runs of the command through the host stand-in, as the host drives it: the module is
// loaded, started through entry 30001, and its command routine is called from the CommandRecord
// the host holds, with the user's answers scripted. The shop's files are then checked byte by
// byte, and the report line by line.
#include <string>

#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/core/module_entries.h"
#include "velkar/shop/settings.h"
#include "velkar/shop/shop.h"
#include "velkar/functions/text_files.h"
#include "velkar/console/ui.h"

namespace shop = velkar::shop;

namespace {

using Records = std::vector<std::vector<unsigned char>>;
using Strings = std::vector<std::string>;

class ScenarioTest : public vat_support::VatTest {
 protected:
  void makeShop(const std::map<int, std::vector<shop::ProductRow>>& products,
                const std::vector<shop::ExtraCodeRow>& codes) {
    std::string error;
    ASSERT_TRUE(shop::createShop(dir, products, codes, error)) << error;
    for (const auto& [warehouse, rows] : products) before[warehouse] = records(warehouse);
    char title[64] = {0};
    using Start = int(HOST_STDCALL*)(HostCallback, char*);
    ASSERT_EQ(reinterpret_cast<Start>(plugin->entry(30001))(&callbackStub, title), 0);
    ASSERT_STREQ(title, MZ("Aktualizacja VAT z pliku tekstowego"));
  }
  Records records(int warehouse) {
    Records out;
    std::string error;
    EXPECT_TRUE(shop::readRecords(dir / shop::warehouseFileName(warehouse), 1024, out, error))
        << error;
    return out;
  }
  // The command as the host runs it when the user picks it.
  void runCommand(std::vector<std::string> script) {
    ASSERT_EQ(velkar::host().commands.size(), 1u);
    const unsigned char* record = static_cast<const unsigned char*>(velkar::host().commands[0]);
    ASSERT_EQ(readLe16(record + 8), 29902);
    velkar::ui::setScript(std::move(script));
    velkar::readCommandRecord(record).routine();
  }
  // Per record of a warehouse: the byte ranges that changed, "" for an unchanged record.
  Strings changes(int warehouse) {
    const Records now = records(warehouse);
    const Records& was = before.at(warehouse);
    EXPECT_EQ(now.size(), was.size());
    Strings out;
    for (size_t r = 0; r < now.size() && r < was.size(); ++r) {
      std::string ranges;
      for (size_t b = 0; b < 1024;) {
        if (now[r][b] == was[r][b]) {
          ++b;
          continue;
        }
        size_t e = b;
        while (e + 1 < 1024 && now[r][e + 1] != was[r][e + 1]) ++e;
        ranges += (ranges.empty() ? "" : " ") + std::to_string(b) + ".." + std::to_string(e);
        b = e + 1;
      }
      out.push_back(ranges);
    }
    return out;
  }
  int newVatCode(int warehouse, int record) {
    return shop::decodeProduct(records(warehouse).at(record).data()).newVatCode;
  }
  std::string cnCode(int warehouse, int record) {
    return shop::decodeProduct(records(warehouse).at(record).data()).cnCode;
  }
  // The five numbers of the summary window.
  static std::vector<int> summary() {
    for (const velkar::ui::Shown& s : velkar::ui::shown()) {
      if (s.text.find("Ilość towarów") == std::string::npos) continue;
      std::vector<int> numbers;
      for (size_t tab = s.text.find('\t'); tab != std::string::npos;
           tab = s.text.find('\t', tab + 1))
        numbers.push_back(std::stoi(s.text.substr(tab + 1)));
      return numbers;
    }
    return {};
  }
  // Everything the run took is given back.
  void expectNothingLeftOpen() {
    EXPECT_TRUE(velkar::host().liveBlocks.empty());
    EXPECT_EQ(velkar::host().badFrees, 0);
    EXPECT_EQ(velkar::openCursorCount(), 0);
    EXPECT_EQ(velkar::openTextFileCount(), 0);
    EXPECT_EQ(rates().entries, nullptr);
    EXPECT_EQ(extraCodes().entries, nullptr);
  }
  static std::string setting(const std::string& key) {
    std::string value;
    return velkar::settings::get("Mirtal", key, value) ? value : "(none)";
  }

  std::map<int, Records> before;
};

using vat_support::groceries;
using vat_support::product;

TEST_F(ScenarioTest, BarcodesAndRatesWithAdditionalCodesDuplicatesAndInvalidLines) {
  makeShop({{1, groceries()}, {2, groceries()}},
           {{"EXTRA4", 2, 4}, {"EXTRA6", 2, 6}, {"EXTRA5", 1, 5}, {"EXTRA1", 2, 0}});
  writeFile("stawki.csv",
            "KOD_KRESKOWY,STAWKA_VAT\r\n"
            "5900001,23\r\n"
            "5900002,zw\r\n"
            "5900003,23%\r\n"
            "extra4,8\r\n"
            "5900001,5\r\n"  // a duplicate: never matched
            "EXTRA5,0\r\n"   // an additional code of warehouse 1
            "EXTRA6,0\r\n"   // the product has no barcode of its own
            "EXTRA1,0\r\n"   // a code of no product
            "5900009,7\r\n"  // no such product
            "bez przecinka\r\n"
            "5900005,-1\r\n"
            ",23\r\n");
  runCommand({"message ok", "dialog file=stawki.csv format=0 ok", "warehouse 2"});

  EXPECT_EQ(changes(2), (Strings{"707..707", "707..707", "", "707..707", "", ""}));
  EXPECT_EQ(newVatCode(2, 0), 33);
  EXPECT_EQ(newVatCode(2, 1), 5);
  EXPECT_EQ(newVatCode(2, 3), 18);
  EXPECT_EQ(changes(1), (Strings(6, "")));
  EXPECT_EQ(readFile("zmianavat.txt"),
            "5900001 -> 23 zmiany: 1, brak zmian: 0\r\n"
            "5900002 -> -1 zmiany: 1, brak zmian: 0\r\n"
            "5900003 -> 23 zmiany: 0, brak zmian: 1\r\n"
            "extra4 -> 8 zmiany: 1, brak zmian: 0\r\n");
  EXPECT_EQ(summary(), (std::vector<int>{9, 0, 5, 1, 3}));
  EXPECT_EQ(setting("Path"), "stawki.csv");
  EXPECT_EQ(setting("Opcje"), "0");
  EXPECT_EQ(setting("Mag"), "2");
  expectNothingLeftOpen();
}

TEST_F(ScenarioTest, NameFragmentsInTheWindowsCodePage) {
  makeShop(
      {{1,
        {product(1, "Masło extra", "1"), product(2, "MASŁO ROŚLINNE", "2"),
         product(3, "Mleko", "3"), product(4, "Łosoś wędzony", "4"), product(5, "Woda", "5", 5)}}},
      {});
  // "masło,5", "łosoś,8", "mle,zw", "woda,zw" in Windows-1250.
  writeFile("nazwy.csv", "mas\xB3o,5\r\n\xB3oso\x9C,8\r\nmle,zw\r\nwoda,ZW\r\n");
  runCommand({"dialog file=nazwy.csv format=1 ok", "warehouse 1"});

  EXPECT_EQ(changes(1), (Strings{"707..707", "707..707", "707..707", "707..707", ""}));
  EXPECT_EQ(newVatCode(1, 0), 15);
  EXPECT_EQ(newVatCode(1, 1), 15);
  EXPECT_EQ(newVatCode(1, 2), 5);
  EXPECT_EQ(newVatCode(1, 3), 18);
  EXPECT_EQ(readFile("zmianavat.txt"), std::string(MZ("masło")) +
                                           " -> 5 zmiany: 2, brak zmian: 0\r\n" + MZ("łosoś") +
                                           " -> 8 zmiany: 1, brak zmian: 0\r\n"
                                           "mle -> -1 zmiany: 1, brak zmian: 0\r\n"
                                           "woda -> -1 zmiany: 0, brak zmian: 1\r\n");
  EXPECT_EQ(summary(), (std::vector<int>{4, 0, 0, 1, 3}));
  expectNothingLeftOpen();
}

TEST_F(ScenarioTest, CnCodesChangeOnlyTheCnCodeField) {
  makeShop({{0, groceries()}}, {{"EXTRA4", 0, 4}});
  writeFile("cn.csv",
            "KOD_KRESKOWY,Kod CN\r\n"  // stored like any line, matches nothing
            "5900001,0401 20 11\r\n"
            "5900005,0406\r\n"  // the product holds it already
            "EXTRA4,2009 89 97 99 000\r\n"
            "5900002,\r\n"
            "5900003\r\n");
  runCommand({"dialog file=cn.csv format=2 ok", "warehouse 0"});

  EXPECT_EQ(changes(0), (Strings{"528..537", "", "", "528..541", "", ""}));
  EXPECT_EQ(cnCode(0, 0), "0401 20 11");
  EXPECT_EQ(cnCode(0, 3), "2009 89 97 99 ");
  EXPECT_EQ(cnCode(0, 4), "0406");
  EXPECT_EQ(readFile("zmianavat.txt"),
            "5900001 -> 0 zmiany: 1, brak zmian: 0\r\n"
            "5900005 -> 0 zmiany: 0, brak zmian: 1\r\n"
            "EXTRA4 -> 0 zmiany: 1, brak zmian: 0\r\n"
            "5900002 -> 0 zmiany: 0, brak zmian: 1\r\n");
  EXPECT_EQ(summary(), (std::vector<int>{5, 0, 1, 2, 2}));
  expectNothingLeftOpen();
}

// The bytes after a text's zero byte are the host's: a host may keep anything there. A product
// that holds the file's CN code is unchanged whatever follows the code in its field.
TEST_F(ScenarioTest, ACnCodeFollowedByHostBytesIsUnchangedAndNotWritten) {
  std::string error;
  ASSERT_TRUE(shop::createShop(dir, {{0, groceries()}}, {}, error)) << error;
  Records file = records(0);
  // Product 5 holds "0406": fill the rest of its field, up to its last byte, with host bytes.
  for (size_t b = 528 + 5; b <= 542; ++b) file[4][b] = static_cast<unsigned char>('A' + b % 26);
  // Product 1 gets a new code over old host bytes: what lies past the copied text stays.
  for (size_t b = 528; b <= 542; ++b) file[0][b] = 0x7E;
  ASSERT_TRUE(shop::writeRecords(dir / shop::warehouseFileName(0), file, error)) << error;
  before[0] = records(0);
  char title[64] = {0};
  using Start = int(HOST_STDCALL*)(HostCallback, char*);
  ASSERT_EQ(reinterpret_cast<Start>(plugin->entry(30001))(&callbackStub, title), 0);

  writeFile("cn.csv", "5900005,0406\r\n5900001,0401\r\n");
  runCommand({"dialog file=cn.csv format=2 ok", "warehouse 0"});

  EXPECT_EQ(changes(0), (Strings{"528..532", "", "", "", "", ""}));
  EXPECT_EQ(records(0)[0][533], 0x7E);
  EXPECT_EQ(records(0)[0][542], 0x7E);
  EXPECT_EQ(vat_support::argsOf("writeCurrentRecord").size(), 1u);
  EXPECT_EQ(readFile("zmianavat.txt"),
            "5900005 -> 0 zmiany: 0, brak zmian: 1\r\n"
            "5900001 -> 0 zmiany: 1, brak zmian: 0\r\n");
  EXPECT_EQ(summary(), (std::vector<int>{2, 0, 0, 1, 1}));
  expectNothingLeftOpen();
}

TEST_F(ScenarioTest, ARunWithoutTheExtraCodeTableMatchesByMainBarcodes) {
  velkar::host().config.extraCodes.present = false;
  makeShop({{1, groceries()}}, {{"EXTRA4", 1, 4}});
  writeFile("stawki.csv", "5900001,8\r\nEXTRA4,8\r\n");
  runCommand({"dialog file=stawki.csv ok", "warehouse 1"});
  EXPECT_EQ(changes(1), (Strings{"707..707", "", "", "", "", ""}));
  EXPECT_EQ(summary(), (std::vector<int>{2, 0, 1, 0, 1}));
  expectNothingLeftOpen();
}

TEST_F(ScenarioTest, AStopRequestWhileScanningKeepsWhatWasWrittenAndReportsIt) {
  makeShop({{1, groceries()}}, {});
  writeFile("stawki.csv", "5900001,8\r\n5900002,8\r\n5900004,8\r\n");
  // Polls: 4 while reading 3 lines, 1 for the empty extra-code file, then one before each
  // product: the 7th, before the second product, asks to stop.
  runCommand({"dialog file=stawki.csv ok", "warehouse 1", "stop-after 6"});
  EXPECT_EQ(changes(1), (Strings{"707..707", "", "", "", "", ""}));
  // The report's loop stops at once: nothing written, nothing counted.
  EXPECT_EQ(readFile("zmianavat.txt"), "");
  EXPECT_EQ(summary(), (std::vector<int>{0, 0, 0, 0, 0}));
  expectNothingLeftOpen();
}

// A host may hand its record buffer out only when a table is opened (and take it back at the
// close): the descriptor holds no buffer before. The products and the additional codes are still
// read, matched and written.
class BufferAtOpenTest : public ScenarioTest {
 protected:
  std::string hostVariants() const override { return "buffer-null-until-open"; }
};

TEST_F(BufferAtOpenTest, ARecordBufferHandedOutAtTheOpenIsUsed) {
  makeShop({{1, groceries()}}, {{"EXTRA4", 1, 4}});
  writeFile("stawki.csv", "5900001,8\r\nEXTRA4,5\r\n5900003,23\r\n");
  runCommand({"dialog file=stawki.csv ok", "warehouse 1"});
  EXPECT_EQ(changes(1), (Strings{"707..707", "", "", "707..707", "", ""}));
  EXPECT_EQ(readFile("zmianavat.txt"),
            "5900001 -> 8 zmiany: 1, brak zmian: 0\r\n"
            "EXTRA4 -> 5 zmiany: 1, brak zmian: 0\r\n"
            "5900003 -> 23 zmiany: 0, brak zmian: 1\r\n");
  EXPECT_EQ(summary(), (std::vector<int>{3, 0, 0, 1, 2}));
  expectNothingLeftOpen();
}

}  // namespace
