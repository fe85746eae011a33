// Compatibility checks and the start-up diagnostics.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/plugin_fixture.h"
#include "velkar/shop/codepage.h"
#include "velkar/console/ui.h"

using testing_support::PluginTest;

namespace {

const uint32_t kModuleDate = 0x07E4030B;  // 11 March 2020
const char kTitle[] = "Aktualizacja VAT z pliku tekstowego";

std::string fromHost(const char* bytes) {
  return velkar::codepage::toUtf8(bytes, velkar::codepage::MAZOVIA);
}
std::string quoted(const std::string& utf8) {
  return "\"" + velkar::codepage::fromUtf8(utf8, velkar::codepage::MAZOVIA) + "\"";
}

std::string fileName() {
  return std::filesystem::path(VATUPDATE_PLUGIN).filename().string();
}

std::string sizeReport(const std::string& rows) {
  return "Rozmiary rekordów niektórych tabel nie zgadzają się\nmiędzy programem a wtyczką '" +
         std::string(kTitle) + "' (moduł '" + fileName() +
         "'):\n\n\x01tl18l33\x01TABELA\tWE WTYCZCE\tW PROGRAMIE\n" + rows + "\nModuł \x02" +
         fileName() + "\x01\nNIE zostanie załadowany!";
}

const char kVersionsText[] =
    "Moduł \"%s\" i program występują w różnych wersjach!\n\nZostał zakualizowany tylko program "
    "albo tylko moduł,\na nie oba jednocześnie! Aby naprawić tę sytuację\nzainstaluj "
    "aktualizację programu wraz z modułem \"%s\".\n\nMODUŁ NIE ZOSTANIE ZAŁADOWANY!!!\n";
const char kNotInitialisedText[] =
    "Moduł \"%s\" nie został poprawnie zainicjowany,\nwięc NIE BĘDZIE AKTYWNY!";

}  // namespace

class StartupTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    velkar::ui::setOutput(&screen);
  }
  void TearDown() override {
    PluginTest::TearDown();
    velkar::ui::setOutput(nullptr);
  }

  void loadQuietly() {
    ASSERT_TRUE(load());
    velkar::host().journal.clear();
  }

  int compareBuildDates(uint32_t hostDate, uint32_t moduleDate, int mode, char* buffer) {
    return internals().compareBuildDates(hostDate, moduleDate, mode, buffer);
  }
  int checkRecordSizes() { return internals().checkRecordSizes(); }
  int registerTableSizes() { return internals().registerTableSizes(); }
  int reportTableSizes(char* buffer) { return internals().reportTableSizes(buffer); }
  int checkVersion() { return internals().checkVersion(); }
  void showStartupFailure() { internals().showStartupFailure(); }
  void* productTable() { return *internals().productTable; }
  void* extraCodeTable() { return *internals().extraCodeTable; }

  // The tables asked for, in order.
  std::vector<std::string> tablesAsked() {
    std::vector<std::string> out;
    for (const velkar::Call& c : velkar::callsOf("getTableDescriptor")) out.push_back(c.args.at(0));
    return out;
  }

  // The host's own calls (the Windows ones left out), by name.
  std::vector<std::string> hostCalls() {
    std::vector<std::string> out;
    for (const velkar::Call& c : velkar::host().journal)
      if (c.ordinal != 0) out.push_back(c.name);
    return out;
  }

  std::ostringstream screen;
};

// ---------------------------------------------------------------------------------------------
// Build dates.
// ---------------------------------------------------------------------------------------------

TEST_F(StartupTest, BuildDatesCompareAsUnsignedPackedDates) {
  open();
  const struct {
    uint32_t hostDate, moduleDate;
    int mode, result;
  } cases[] = {
      {kModuleDate, kModuleDate, 0, 0},  {0x07E4030C, kModuleDate, 0, 0},
      {0x07E50101, kModuleDate, 0, 0},   {0xFFFFFFFF, kModuleDate, 0, 0},
      {0x07E4030A, kModuleDate, 0, -1},  {0x07E3FFFF, kModuleDate, 0, -1},
      {0, kModuleDate, 0, -1},           {kModuleDate, kModuleDate, 1, 0},
      {0x07E4030C, kModuleDate, 1, -1},  {0x07E4030A, kModuleDate, 1, -1},
      {kModuleDate, kModuleDate, -1, 0}, {0x07E4030C, kModuleDate, 7, -1},
      {0x7FFFFFFF, 0x7FFFFFFF, 0, -1},   {0xFFFFFFFF, 0x7FFFFFFF, 0, -1},
      {0x7FFFFFFF, 0x7FFFFFFF, 1, -1},   {0, 0, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(compareBuildDates(c.hostDate, c.moduleDate, c.mode, nullptr), c.result)
        << std::hex << c.hostDate << " " << c.moduleDate << " mode " << c.mode;
}

TEST_F(StartupTest, FailedDateComparisonNamesTheModulesDateFirst) {
  ASSERT_TRUE(load());
  char buffer[3072];
  EXPECT_EQ(compareBuildDates(0x07E30201, kModuleDate, 0, buffer), -1);
  EXPECT_EQ(fromHost(buffer), "Moduł '" + fileName() +
                                  "' pochodzi z dnia 11.03.2020 r.\a program z dnia 01.02.2019 "
                                  "r.\nJest zatem nowszy niż program, dlatego nie zostanie "
                                  "załadowany!");
}

TEST_F(StartupTest, ForbiddenModuleDateGivesItsOwnTextInEveryMode) {
  ASSERT_TRUE(load());
  for (int mode : {0, 1}) {
    char buffer[3072] = "stale";
    EXPECT_EQ(compareBuildDates(0x07EA0C08, 0x7FFFFFFF, mode, buffer), -1);
    EXPECT_EQ(fromHost(buffer),
              "Ładowanie tej wersji modułu '" + fileName() + "'\njest zabronione!");
  }
}

TEST_F(StartupTest, PassingComparisonEmptiesTheBuffer) {
  ASSERT_TRUE(load());
  char buffer[16] = "stale";
  EXPECT_EQ(compareBuildDates(kModuleDate, kModuleDate, 0, buffer), 0);
  EXPECT_EQ(buffer[0], 0);
}

// ---------------------------------------------------------------------------------------------
// Record sizes at start.
// ---------------------------------------------------------------------------------------------

struct SizeCase {
  const char* name;
  velkar::TableConfig products, extraCodes;
  int result;
  std::vector<std::string> asked;
};

class RecordSizes : public StartupTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RecordSizes, CheckRecordSizes) {
  const SizeCase& c = GetParam();
  velkar::host().config.products = c.products;
  velkar::host().config.extraCodes = c.extraCodes;
  loadQuietly();
  EXPECT_EQ(checkRecordSizes(), c.result);
  EXPECT_EQ(tablesAsked(), c.asked);
  const auto texts = velkar::callsOf("showText");
  if (c.result == 0) {
    EXPECT_TRUE(texts.empty());
  } else {
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].args, std::vector<std::string>{quoted("Potrzebna nowsza wtyczka!")});
  }
  EXPECT_EQ(productTable() != nullptr, c.products.present);
  EXPECT_EQ(extraCodeTable() != nullptr, c.asked.size() == 2 && c.extraCodes.present);
  if (productTable()) {
    int16_t size;
    std::memcpy(&size, static_cast<char*>(productTable()) + 6, 2);
    EXPECT_EQ(size, c.products.recordSize);
  }
}

const std::vector<std::string> kBoth = {"49", "117"};
const std::vector<std::string> kProductsOnly = {"49"};

INSTANTIATE_TEST_SUITE_P(
    Tables, RecordSizes,
    ::testing::Values(
        SizeCase{"BothFit", {true, 1024, 0}, {true, 144, 0}, 0, kBoth},
        SizeCase{"ProductsOfAnotherSizeWithLayout240", {true, 1000, 240}, {true, 144, 0}, 0, kBoth},
        SizeCase{"ProductsOfAnotherSize", {true, 1000, 0}, {true, 144, 0}, -1, kProductsOnly},
        SizeCase{
            "ProductsOfAnotherSizeAndLayout", {true, 2048, 241}, {true, 144, 0}, -1, kProductsOnly},
        SizeCase{"NoProducts", {false, 0, 0}, {true, 144, 0}, 0, kBoth},
        SizeCase{"ExtraCodesOfAnotherSizeWithLayout0", {true, 1024, 0}, {true, 100, 0}, 0, kBoth},
        SizeCase{"ExtraCodesOfAnotherSize", {true, 1024, 0}, {true, 100, 240}, -1, kBoth},
        SizeCase{"NoExtraCodes", {true, 1024, 0}, {false, 0, 0}, 0, kBoth},
        SizeCase{"NoTables", {false, 0, 0}, {false, 0, 0}, 0, kBoth}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartupTest, FailedProductCheckKeepsTheExtraCodeDescriptorOfAnEarlierRun) {
  loadQuietly();
  ASSERT_EQ(checkRecordSizes(), 0);
  void* extraCodes = extraCodeTable();
  ASSERT_NE(extraCodes, nullptr);
  velkar::host().config.products = {true, 1000, 0};
  EXPECT_EQ(checkRecordSizes(), -1);
  EXPECT_EQ(extraCodeTable(), extraCodes);
}

// ---------------------------------------------------------------------------------------------
// The mismatch list and its report.
// ---------------------------------------------------------------------------------------------

TEST_F(StartupTest, FittingTablesGiveNoMismatchAndAnEmptyReport) {
  loadQuietly();
  EXPECT_EQ(registerTableSizes(), 0);
  char buffer[3072] = "stale";
  EXPECT_EQ(reportTableSizes(buffer), 0);
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(StartupTest, ReportListsEachMismatchUnderItsColumnsInTableOrder) {
  velkar::host().config.products = {true, 1000, 240};
  velkar::host().config.extraCodes = {false, 0, 0};
  loadQuietly();
  EXPECT_EQ(checkRecordSizes(), 0);  // the layout value makes up for products, not here
  EXPECT_EQ(registerTableSizes(), 2);
  char buffer[3072];
  EXPECT_EQ(reportTableSizes(buffer), -1);
  EXPECT_EQ(fromHost(buffer), sizeReport("\x01tp25p40\x01k9\t1024\t1000\n"
                                         "\x01tp25p40\x01Kody\t144\tbrak\n"));
}

TEST_F(StartupTest, ReportOfOneMismatchAndNegativeHostSize) {
  velkar::host().config.extraCodes = {true, -144, 0};
  loadQuietly();
  EXPECT_EQ(registerTableSizes(), 1);
  char buffer[3072];
  EXPECT_EQ(reportTableSizes(buffer), -1);
  EXPECT_EQ(fromHost(buffer), sizeReport("\x01tp25p40\x01Kody\t144\t-144\n"));
}

TEST_F(StartupTest, MismatchListIsBuiltOnceAndNeverAsksTheHostAgain) {
  velkar::host().config.products = {false, 0, 0};
  loadQuietly();
  EXPECT_EQ(registerTableSizes(), 1);
  EXPECT_EQ(tablesAsked(), kBoth);
  velkar::host().config.products = {true, 1024, 0};
  velkar::host().config.extraCodes = {true, 1, 0};
  EXPECT_EQ(registerTableSizes(), 1);
  EXPECT_EQ(checkVersion(), -1);
  EXPECT_EQ(tablesAsked(), kBoth);
  char buffer[3072];
  EXPECT_EQ(reportTableSizes(buffer), -1);
  EXPECT_EQ(fromHost(buffer), sizeReport("\x01tp25p40\x01k9\t1024\tbrak\n"));
}

// ---------------------------------------------------------------------------------------------
// The version chain.
// ---------------------------------------------------------------------------------------------

TEST_F(StartupTest, VersionChainAsksInOrderAndPassesOnAFittingHost) {
  loadQuietly();
  EXPECT_EQ(checkVersion(), 0);
  EXPECT_EQ(hostCalls(),
            (std::vector<std::string>{"buildDate", "buildDate", "checkModule", "interfaceLevel",
                                      "getTableDescriptor", "getTableDescriptor"}));
  const auto dates = velkar::callsOf("buildDate");
  EXPECT_EQ(dates[0].args, std::vector<std::string>{"\"Mar 11 2020\""});
  EXPECT_EQ(dates[1].args, std::vector<std::string>{"null"});
  EXPECT_EQ(velkar::callsOf("checkModule")[0].args, (std::vector<std::string>{"ptr", "null", "0"}));
}

struct VersionCase {
  const char* name;
  void (*configure)(velkar::HostConfig&);
  int result;
  size_t callsMade;  // host calls of the chain before it stopped
};

class VersionChain : public StartupTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionChain, StopsAtTheFirstFailingStep) {
  GetParam().configure(velkar::host().config);
  loadQuietly();
  EXPECT_EQ(checkVersion(), GetParam().result);
  EXPECT_EQ(hostCalls().size(), GetParam().callsMade);
}

INSTANTIATE_TEST_SUITE_P(
    HostStates, VersionChain,
    ::testing::Values(
        VersionCase{"SameDay", [](velkar::HostConfig& c) { c.buildDate = kModuleDate; }, 0, 6},
        VersionCase{"OlderHost", [](velkar::HostConfig& c) { c.buildDate = kModuleDate - 1; }, -1,
                    2},
        VersionCase{"ModuleRejected", [](velkar::HostConfig& c) { c.checkModuleResult = 3; }, -1,
                    3},
        VersionCase{"Level111", [](velkar::HostConfig& c) { c.interfaceLevel = 111; }, -1, 4},
        VersionCase{"Level113", [](velkar::HostConfig& c) { c.interfaceLevel = 113; }, -1, 4},
        VersionCase{"TableMismatch", [](velkar::HostConfig& c) { c.products.recordSize = 1000; },
                    -1, 6}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The start-up failure message: exactly one, the first that applies.
// ---------------------------------------------------------------------------------------------

class StartupFailureTest : public StartupTest {
 protected:
  // The message windows opened, as "function|title|format".
  std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (const velkar::Call& c : velkar::host().journal) {
      if (c.name == "showFormattedCoded") {
        EXPECT_EQ(c.args.at(0), "30000");
        EXPECT_EQ(c.args.at(3), "61441");
        EXPECT_EQ(c.args.at(4), "28206");
        out.push_back("coded|" + c.args.at(1) + "|" + c.args.at(2));
      } else if (c.name == "showFormatted") {
        EXPECT_EQ(c.args.at(2), "61441");
        EXPECT_EQ(c.args.at(3), "28206");
        out.push_back("plain|" + c.args.at(0) + "|" + c.args.at(1));
      } else if (c.name.rfind("show", 0) == 0) {
        out.push_back(c.name);
      }
    }
    return out;
  }
  // What the one window showed (markup removed).
  std::string shownText() {
    const auto& shown = velkar::ui::shown();
    EXPECT_EQ(shown.size(), 1u);
    return shown.empty() ? "" : shown.back().text;
  }
  std::string coded(const std::string& format) { return "coded|\"STOP!!!\"|" + quoted(format); }
};

TEST_F(StartupFailureTest, FittingHostGetsTheNotInitialisedTextAfterTheCallback) {
  loadQuietly();
  showStartupFailure();
  EXPECT_EQ(messages(),
            std::vector<std::string>{"plain|\"STOP!!!\"|" + quoted(kNotInitialisedText)});
  EXPECT_EQ(shownText(), "Moduł \"" + fileName() +
                             "\" nie został poprawnie zainicjowany,\nwięc NIE BĘDZIE AKTYWNY!");
  ASSERT_FALSE(velkar::host().journal.empty());
  EXPECT_EQ(velkar::host().journal.front().name, "hostCallback");
  EXPECT_EQ(velkar::host().callbacks, (std::vector<std::pair<int, int>>{{1, -1}}));
}

TEST_F(StartupFailureTest, FallbackInPlaceOfAHostFunctionIsReportedAsMissingFeature) {
  velkar::host().config.leftOut = {52040, 52232};
  velkar::host().messageBoxAnswers = {5};
  loadQuietly();
  showStartupFailure();
  EXPECT_EQ(messages(), std::vector<std::string>{coded("%s")});
  EXPECT_EQ(shownText(), "Program nie obsługuje cech 0x00000088,\nktóre są niezbędne dla modułu '" +
                             std::string(kTitle) + "'.");
}

TEST_F(StartupFailureTest, FeatureWordUnknownBeforeTheBindingCompletes) {
  open();
  internals().recordModuleName(plugin->handle());
  internals().attachHost();
  showStartupFailure();
  EXPECT_EQ(messages(), std::vector<std::string>{coded("%s")});
  EXPECT_NE(shownText().find("cech 0xFFFFFFFF,"), std::string::npos);
}

TEST_F(StartupFailureTest, HostsReasonIsShownWhenItRejectsTheModule) {
  velkar::host().config.checkModuleResult = 2;
  velkar::host().config.checkModuleReason =
      velkar::codepage::fromUtf8("Moduł wycofany", velkar::codepage::MAZOVIA);
  loadQuietly();
  showStartupFailure();
  EXPECT_EQ(messages(), std::vector<std::string>{coded("%s")});
  const auto checks = velkar::callsOf("checkModule");
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_EQ(checks[0].args, (std::vector<std::string>{"ptr", "ptr", "3072"}));
  EXPECT_EQ(shownText(), "Moduł wycofany");
}

TEST_F(StartupFailureTest, WrongInterfaceLevelGetsTheVersionsText) {
  velkar::host().config.interfaceLevel = 113;
  loadQuietly();
  showStartupFailure();
  EXPECT_EQ(messages(), std::vector<std::string>{coded(kVersionsText)});
  const std::string name = fileName();
  EXPECT_EQ(shownText(), "Moduł \"" + name +
                             "\" i program występują w różnych wersjach!\n\nZostał zakualizowany "
                             "tylko program albo tylko moduł,\na nie oba jednocześnie! Aby "
                             "naprawić tę sytuację\nzainstaluj aktualizację programu wraz z "
                             "modułem \"" +
                             name + "\".\n\nMODUŁ NIE ZOSTANIE ZAŁADOWANY!!!\n");
}

TEST_F(StartupFailureTest, TableMismatchIsFirstToldAsVersionsThenInDetail) {
  velkar::host().config.extraCodes = {false, 0, 0};
  loadQuietly();
  showStartupFailure();
  EXPECT_EQ(messages(), std::vector<std::string>{coded(kVersionsText)});

  velkar::host().journal.clear();
  showStartupFailure();
  EXPECT_EQ(messages(), std::vector<std::string>{coded("%s")});
  const auto& shown = velkar::ui::shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_NE(shown[1].text.find("TABELA\tWE WTYCZCE\tW PROGRAMIE\nKody\t144\tbrak\n"),
            std::string::npos)
      << shown[1].text;
  // The list was built once: the second run asked the host for no table.
  EXPECT_TRUE(velkar::callsOf("getTableDescriptor").empty());
}
