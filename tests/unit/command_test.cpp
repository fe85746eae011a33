// The command routine and the import dialog: the explanation, settings defaults and round trips,
// the dialog shown again on other results, the F3 key, the warehouse choice, and the ways the
// command ends early.
#include <string>

#include "common/mazovia.h"
#include "vatupdate_support.h"
#include "velkar/console/dialog.h"
#include "velkar/shop/settings.h"
#include "velkar/shop/shop.h"
#include "velkar/console/ui.h"

using vat_support::argsOf;
using vat_support::quoted;
namespace settings = velkar::settings;

namespace {

using Calls = std::vector<std::vector<std::string>>;
using Strings = std::vector<std::string>;

class CommandTest : public vat_support::VatTest {
 protected:
  void SetUp() override {
    VatTest::SetUp();
    std::string error;
    ASSERT_TRUE(velkar::shop::createShop(dir, {{0, {}}, {3, {}}}, {}, error)) << error;
    ASSERT_EQ(start(), 0);
  }
  void run(std::vector<std::string> script) {
    velkar::ui::setScript(std::move(script));
    velkar::host().journal.clear();
    vatUpdateCommand();
  }
  static std::string setting(const std::string& key) {
    std::string value;
    return settings::get("Mirtal", key, value) ? value : "(none)";
  }
  static void store(const std::string& key, const std::string& value) {
    std::string error;
    ASSERT_TRUE(settings::set("Mirtal", key, value, error)) << error;
  }
};

// --- explanation ---

TEST_F(CommandTest, TheExplanationComesFirstAndCancellingItChangesNothingButTheOldReport) {
  writeFile("zmianavat.txt", "old report");
  run({"message cancel"});
  EXPECT_FALSE(std::filesystem::exists("zmianavat.txt"));
  EXPECT_EQ(argsOf("showMessage"),
            (Calls{{quoted("uwaga"),
                    quoted(MZ("Opcja umożliwia wczytanie nowych stawek VAT z pliku tekstowego.\n\n"
                              "Plik musi być w formacie:\n\x02KOD_KRESKOWY,STAWKA_VAT\n\nProgram "
                              "po wczytaniu danych z pliku wpisze je do pola 'nowa stawka VAT'.\n"
                              "Stawki nie zostana jednak zmieniona do chwili uruchomienia "
                              "specjalnej opcji w przeddzień zmiany stawek VAT. Należy to wykonać "
                              "później specjalną opcją w każdym magazynie - klawisz \x02"
                              "Ctrl-K")),
                    "9"}}));
  EXPECT_EQ(velkar::host().journal.size(), 1u);
}

// --- settings ---

TEST_F(CommandTest, FirstRunShowsTheDefaultFileTheFirstFormatAndWarehouseZero) {
  run({"dialog ok", "warehouse none"});
  EXPECT_STREQ(dialogData().fileName, "Nowe_stawki_VAT.csv");
  EXPECT_EQ(dialogData().format.get(), 0);
  EXPECT_EQ(argsOf("hostSettings"),
            (Calls{{"8", quoted("Mirtal"), quoted("Path"), quoted("%128s"), "ptr"},
                   {"8", quoted("Mirtal"), quoted("Opcje"), quoted("%d"), "ptr"},
                   {"1", quoted("Mirtal"), quoted("Mag"), quoted("%d"), "ptr"},
                   {"9", quoted("Mirtal"), quoted("Path"), quoted("%s"), "ptr"},
                   {"9", quoted("Mirtal"), quoted("Opcje"), quoted("%d"), "ptr"}}));
  EXPECT_EQ(argsOf("chooseWarehouse"), (Calls{{"0", "680", "0"}}));
  EXPECT_EQ(argsOf("runDialog"), (Calls{{"ptr", "1", "ptr", "ptr", "0"}}));
  EXPECT_EQ(setting("Path"), "Nowe_stawki_VAT.csv");
  EXPECT_EQ(setting("Opcje"), "0");
  EXPECT_EQ(setting("Mag"), "(none)");  // no warehouse chosen: not saved
}

TEST_F(CommandTest, AcceptedChoicesAreSavedAndOfferedNextTime) {
  run({"dialog file=stawki.csv format=2 ok", "warehouse 3"});
  EXPECT_EQ(setting("Path"), "stawki.csv");
  EXPECT_EQ(setting("Opcje"), "2");
  EXPECT_EQ(setting("Mag"), "3");
  run({"dialog cancel"});
  EXPECT_STREQ(dialogData().fileName, "stawki.csv");
  EXPECT_EQ(dialogData().format.get(), 2);
  run({"dialog ok"});
  EXPECT_EQ(argsOf("chooseWarehouse"), (Calls{{"3", "680", "0"}}));
}

TEST_F(CommandTest, CancellingTheDialogSavesNothing) {
  store("Path", "a.csv");
  run({"dialog file=b.csv format=1 cancel"});
  EXPECT_EQ(setting("Path"), "a.csv");
  EXPECT_EQ(setting("Opcje"), "(none)");
  EXPECT_TRUE(velkar::callsOf("chooseWarehouse").empty());
}

TEST_F(CommandTest, AStoredPathOf128CharactersIsReadWhole) {
  const std::string name(128, 'p');
  store("Path", name);
  run({"dialog cancel"});
  EXPECT_EQ(std::string(dialogData().fileName), name);
}

TEST_F(CommandTest, AFormatOutsideTheRadioGroupIsKeptSavedAndReadAsBarcodeAndRate) {
  std::string error;
  ASSERT_TRUE(velkar::shop::createShop(dir, {{0, {{1, "a", "A", 1, 0, ""}}}}, {}, error));
  writeFile("Nowe_stawki_VAT.csv", "A,zw\r\n");
  store("Opcje", "5");
  run({"dialog ok"});
  EXPECT_EQ(setting("Opcje"), "5");
  EXPECT_EQ(readFile("zmianavat.txt"), "A -> -1 zmiany: 1, brak zmian: 0\r\n");
}

// --- the dialog ---

TEST_F(CommandTest, TheHostReadsTheDialogDescriptionAsLaidOut) {
  velkar::dialog::DialogModel model;
  std::string error;
  ASSERT_TRUE(velkar::dialog::parseDialog(internals().importDialogDescription, 510, model, error))
      << error;
  EXPECT_EQ(model.size, 510u);
  EXPECT_EQ(model.frame.text, MZ("Wprowadź"));
  EXPECT_EQ(model.frame.width * 100 + model.frame.height, 6518);
  // type id flags hotKey column row width height text (control bytes as <NN>, line breaks as |)
  const Strings expected = {
      "3 ffff 0 50 2 2 23 1 ~P~lik towarów:",
      "5 4101 400 0 2 3 41 1 ",
      "0 3d00 180 3d00 43 3 20 1 <05>F3<01> Zmień plik",
      "3 ffff 0 0 2 5 13 1 Format pliku:",
      "1 ffff 400 0 2 6 60 1 KOD_KRESOWY,STAWKA_VAT[CR][LF]",
      "1 ffff 400 0 2 7 60 1 CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]",
      "1 ffff 400 0 2 8 60 1 KOD_KRESOWY,Kod CN[CR][LF]",
      "4 ffff 0 0 2 10 60 4 Plik importowany ma być w formacie tekstowym:|KOD_KRESOWY,"
      "STAWKA_VAT[CR][LF]|lub|CZĘŚĆ_NAZWY_TOWARU,STAWKA_VAT[CR][LF]",
      "0 5001 0 8600 27 15 10 1 <05>F12<01> OK"};
  Strings items;
  for (const velkar::dialog::Item& i : model.items) {
    char head[64];
    std::snprintf(head, sizeof head, "%x %x %x %x %d %d %d %d ", i.type, i.id, i.flags, i.hotKey,
                  i.column, i.row, i.width, i.height);
    std::string text;
    for (char c : velkar::ui::hostToUtf8(i.text)) {
      char shown[8] = {c, 0};
      if (c == '\n')
        shown[0] = '|';
      else if (c > 0 && c < 0x20)
        std::snprintf(shown, sizeof shown, "<%02x>", c);
      text += shown;
    }
    items.push_back(head + text);
  }
  EXPECT_EQ(items, expected);
  EXPECT_EQ(velkar::dialog::dataSize(model), sizeof(ImportDialogData));
}

TEST_F(CommandTest, OtherDialogResultsShowTheDialogAgainOverTheSameData) {
  run({"dialog file=a.csv code=0x3D00", "dialog format=1 code=0x1234", "dialog ok"});
  EXPECT_EQ(argsOf("runDialog"), (Calls(3, {"ptr", "1", "ptr", "ptr", "0"})));
  EXPECT_EQ(setting("Path"), "a.csv");
  EXPECT_EQ(setting("Opcje"), "1");
}

TEST_F(CommandTest, F3IsHandledOnlyOnTheFileNameItem) {
  velkar::host().journal.clear();
  for (unsigned short item : {0, 2, 4}) EXPECT_EQ(importDialogKeys(0x3D00, item), 0);
  EXPECT_EQ(importDialogKeys(0x8600, 1), 0);
  EXPECT_EQ(importDialogKeys(0x1C0D, 1), 0);
  EXPECT_TRUE(velkar::host().journal.empty());
}

TEST_F(CommandTest, F3WithoutAChoiceKeepsTheNameAndCountsAsHandled) {
  std::strcpy(dialogData().fileName, "typed.csv");
  velkar::ui::setScript({"file none"});
  EXPECT_EQ(importDialogKeys(0x3D00, 1), -2);
  EXPECT_EQ(argsOf("chooseFile"), (Calls{{"57", quoted("typed.csv"), quoted("c:\\*.*"), "1"}}));
  EXPECT_EQ(argsOf("exchangeDialogData"), (Calls{{"ptr", "1"}}));
  EXPECT_TRUE(velkar::callsOf("notifyDialogItem").empty());
  EXPECT_STREQ(dialogData().fileName, "typed.csv");
}

TEST_F(CommandTest, F3WithAChoiceShowsTheNewName) {
  velkar::ui::setScript({"file chosen.csv"});
  EXPECT_EQ(importDialogKeys(0x3D00, 1), -2);
  EXPECT_STREQ(dialogData().fileName, "chosen.csv");
  EXPECT_EQ(argsOf("exchangeDialogData"), (Calls{{"ptr", "1"}, {"ptr", "0"}}));
  EXPECT_EQ(argsOf("notifyDialogItem"), (Calls{{"16641"}}));
}

TEST_F(CommandTest, F3InTheDialogPutsTheChosenFileIntoTheSettings) {
  run({"dialog keys=item1:F3 ok", "file chosen.csv"});
  EXPECT_EQ(setting("Path"), "chosen.csv");
}

// --- warehouse and early ends ---

TEST_F(CommandTest, NoWarehouseChoiceIsNotSavedAndTheCommandGoesOnWithIt) {
  store("Mag", "3");
  writeFile("Nowe_stawki_VAT.csv", "A,23\r\n");
  run({"dialog ok", "warehouse none"});
  EXPECT_EQ(setting("Mag"), "3");
  EXPECT_EQ(argsOf("warehouseFilePath")[0][0], "-1");
  EXPECT_EQ(velkar::callsOf("showTextFile").size(), 1u);
}

TEST_F(CommandTest, ARateFileThatCannotBeOpenedEndsQuietlyAfterTheSettingsAreSaved) {
  run({"dialog file=missing.csv ok", "warehouse 3"});
  EXPECT_EQ(setting("Path"), "missing.csv");
  EXPECT_EQ(setting("Mag"), "3");
  EXPECT_EQ(velkar::callsOf("showMessage").size(), 1u);  // the explanation only
  EXPECT_TRUE(velkar::callsOf("dataFilePath").empty());
  EXPECT_TRUE(velkar::callsOf("showTextFile").empty());
}

TEST_F(CommandTest, OutOfMemoryWhileReadingEndsWithoutMatchingOrReport) {
  writeFile("Nowe_stawki_VAT.csv", "A,23\r\nB,8\r\n");
  velkar::host().faults.push_back({21286, 1, false});
  run({"dialog ok"});
  EXPECT_EQ(argsOf("showMessage").back(),
            (std::vector<std::string>{quoted("uwaga"), quoted(MZ("Za mało pamięci")), "1"}));
  EXPECT_TRUE(velkar::callsOf("dataFilePath").empty());
  EXPECT_TRUE(velkar::callsOf("warehouseFilePath").empty());
  EXPECT_TRUE(velkar::callsOf("showTextFile").empty());
  EXPECT_FALSE(std::filesystem::exists("zmianavat.txt"));
  EXPECT_EQ(rates().entries, nullptr);
  EXPECT_TRUE(velkar::host().liveBlocks.empty());
}

// A start whose table check failed ("Potrzebna nowsza wtyczka!") leaves the command registered.
// A host that runs it anyway gets the same text again, and the module touches nothing: no
// table, no record, no setting, not even the previous report. A later start that passes lets
// the command work again.
TEST_F(CommandTest, AfterAFailedTableCheckTheCommandRefusesAndTouchesNothing) {
  std::string error;
  ASSERT_TRUE(velkar::shop::createShop(dir, {{3, vat_support::groceries()}}, {{"A1", 3, 2}}, error))
      << error;
  writeFile("Nowe_stawki_VAT.csv", "5900001,8\r\nA1,23\r\n");
  store("Mag", "3");
  const std::string products = readFile(velkar::shop::warehouseFileName(3));
  const std::string codes = readFile(velkar::shop::dataFileName(154));
  const struct {
    const char* what;
    velkar::TableConfig products, extraCodes;
  } unfit[] = {
      {"products of another size", {true, 1000, 0}, {true, 144, 0}},
      {"products of another size and layout", {true, 2048, 241}, {true, 144, 0}},
      {"extra codes of another size", {true, 1024, 0}, {true, 100, 240}},
  };
  for (const auto& u : unfit) {
    velkar::host().config.products = u.products;
    velkar::host().config.extraCodes = u.extraCodes;
    ASSERT_EQ(start(), -1) << u.what;
    writeFile("zmianavat.txt", "old report");
    run({"message ok", "dialog ok", "warehouse 3"});
    Strings calls;
    for (const velkar::Call& c : velkar::host().journal)
      if (c.ordinal != 0) calls.push_back(c.name);
    EXPECT_EQ(calls, Strings{"showText"}) << u.what;
    EXPECT_EQ(argsOf("showText"), (Calls{{quoted(MZ("Potrzebna nowsza wtyczka!"))}})) << u.what;
    EXPECT_EQ(readFile("zmianavat.txt"), "old report") << u.what;
    EXPECT_TRUE(readFile(velkar::shop::warehouseFileName(3)) == products) << u.what;
    EXPECT_TRUE(readFile(velkar::shop::dataFileName(154)) == codes) << u.what;
    EXPECT_EQ(setting("Path"), "(none)") << u.what;
    EXPECT_TRUE(velkar::host().liveBlocks.empty()) << u.what;
  }

  velkar::host().config.products = {true, 1024, 0};
  velkar::host().config.extraCodes = {true, 144, 0};
  ASSERT_EQ(start(), 0);
  run({"message ok", "dialog ok", "warehouse 3"});
  EXPECT_EQ(readFile("zmianavat.txt"),
            "5900001 -> 8 zmiany: 1, brak zmian: 0\r\nA1 -> 23 zmiany: 1, brak zmian: 0\r\n");
}

TEST_F(CommandTest, AnEmptyRateFileStillMatchesAndReports) {
  writeFile("Nowe_stawki_VAT.csv", "");
  run({"dialog ok", "warehouse 3"});
  EXPECT_EQ(velkar::callsOf("warehouseFilePath").size(), 1u);
  EXPECT_EQ(readFile("zmianavat.txt"), "");
  EXPECT_EQ(velkar::callsOf("showTextFile").size(), 1u);
  EXPECT_TRUE(velkar::host().liveBlocks.empty());
}

// Every way a run ends leaves it holding nothing: the rate list, the additional codes and the
// lookup's indexes are all given back to the host.
TEST_F(CommandTest, EveryWayARunEndsReleasesAllItHeld) {
  std::string error;
  ASSERT_TRUE(velkar::shop::createShop(
      dir, {{3, {vat_support::product(1, "a", "B1"), vat_support::product(2, "b", "X")}}},
      {{"A1", 3, 2}}, error))
      << error;
  writeFile("Nowe_stawki_VAT.csv", "A1,23\r\nB1,8\r\n,5\r\n");
  struct Ending {
    const char* what;
    Strings script;
    long refusedRealloc;  // the nth reallocMemory of the run the host refuses (0: none)
  };
  const Ending endings[] = {
      {"the explanation declined", {"message cancel"}, 0},
      {"the dialog cancelled", {"dialog cancel"}, 0},
      {"memory out while reading", {"dialog ok", "warehouse 3"}, 1},
      {"the indexes refused memory", {"dialog ok", "warehouse 3"}, 3},
      {"stopped while reading", {"dialog ok", "warehouse 3", "stop-after 1"}, 0},
      {"stopped in the product pass", {"dialog ok", "warehouse 3", "stop-after 4"}, 0},
      {"stopped in the report", {"dialog ok", "warehouse 3", "stop-after 6"}, 0},
      {"to its end", {"dialog ok", "warehouse 3"}, 0},
      // Last: the name is saved for the runs after it.
      {"a rate file that cannot be opened", {"dialog file=none.csv ok", "warehouse 3"}, 0},
  };
  for (const Ending& ending : endings) {
    velkar::Host& h = velkar::host();
    h.faults.clear();
    if (ending.refusedRealloc)
      h.faults.push_back({21286, h.callCounts[21286] + ending.refusedRealloc, false});
    run(ending.script);
    h.faults.clear();
    const CommandRun& r = commandRun();
    EXPECT_EQ(r.rates.entries, nullptr) << ending.what;
    EXPECT_EQ(r.rates.count | r.rates.capacity, 0) << ending.what;
    EXPECT_EQ(r.extraCodes.entries, nullptr) << ending.what;
    EXPECT_EQ(r.extraCodes.count | r.extraCodes.capacity, 0) << ending.what;
    EXPECT_EQ(r.lookup.state, LOOKUP_OFF) << ending.what;
    for (const Block* b : {&r.lookup.codes.slots, &r.lookup.extraCodeMap.slots,
                           &r.lookup.names.nodes, &r.lookup.names.invalid})
      EXPECT_EQ(b->base, nullptr) << ending.what;
    EXPECT_TRUE(h.liveBlocks.empty()) << ending.what;
    EXPECT_EQ(h.badFrees, 0) << ending.what;
  }
}

}  // namespace
