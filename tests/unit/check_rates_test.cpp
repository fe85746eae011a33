// velkar check-rates and velkar report. Each problem file gives its warning, and each line's fate
// (written out by hand below: key, rate and VAT code, or skipped) is what the plug-in made of it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "velkar/program/check_rates.h"
#include "velkar/shop/codepage.h"
#include "velkar/shop/shop.h"

namespace fs = std::filesystem;
using velkar::checkrates::Result;

namespace {

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The temporary folders the check made in a folder.
std::vector<fs::path> scratchFolders(const fs::path& where) {
  std::vector<fs::path> out;
  for (const auto& entry : fs::directory_iterator(where))
    if (entry.path().filename().string().rfind("velkar-check-rates-", 0) == 0)
      out.push_back(entry.path());
  return out;
}

// A line's fate in short: "KEY|RATE|CODE" (CODE "-" when none is written; RATE "zw" for exempt;
// in format 2 "KEY|CN"), or "skipped". Keys in UTF-8.
std::string fate(const velkar::checkrates::LineReport& l, int format) {
  if (!l.accepted) return "skipped";
  const std::string key = velkar::codepage::toUtf8(l.key, velkar::codepage::MAZOVIA);
  if (format == 2) return key + "|" + l.cnCode;
  return key + "|" + (l.rate < 0 ? "zw" : std::to_string(l.rate)) + "|" +
         (l.vatCode ? std::to_string(*l.vatCode) : "-");
}

struct ProgramRun {
  int status;
  std::string out, err;
};

class CheckRatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velkar_checkrates_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    // The check's temporary folders go into the test's own folder (for the program too), where
    // nothing else makes any.
    const char* tmp = std::getenv("TMPDIR");
    if (tmp) savedTmp = tmp;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  void TearDown() override {
    EXPECT_EQ(scratchFolders(dir), std::vector<fs::path>{})
        << "the check left a temporary folder behind";
    if (savedTmp)
      ::setenv("TMPDIR", savedTmp->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    fs::remove_all(dir);
  }

  // Checks a rate file of these bytes (Windows-1250 unless the case is about another set).
  Result check(const std::string& bytes, int format, std::optional<fs::path> shop = {},
               int warehouse = -1) {
    const fs::path file = dir / "rates.csv";
    std::ofstream(file, std::ios::binary) << bytes;
    velkar::checkrates::Options options;
    options.file = file;
    options.plugin = VATUPDATE_PLUGIN;
    options.format = format;
    options.shop = shop;
    options.warehouse = warehouse;
    Result result;
    std::string error;
    EXPECT_TRUE(velkar::checkrates::checkRates(options, result, error)) << error;
    EXPECT_EQ(result.note, "");  // every line the plug-in stored was told apart
    return result;
  }

  std::vector<std::string> fates(const Result& r, int format) {
    std::vector<std::string> out;
    for (const auto& l : r.lines) out.push_back(fate(l, format));
    return out;
  }

  std::vector<int> warned(const Result& r, const std::string& id) {
    const auto* w = r.warning(id);
    return w ? w->lines : std::vector<int>{-1};
  }

  ProgramRun velkar(const std::string& args, const std::string& environment = "") {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string command = "cd '" + dir.string() + "' && " + environment +
                                " " VELKAR_PROGRAM " " + args + " >'" + out.string() + "' 2>'" +
                                err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
  }

  fs::path dir;
  std::optional<std::string> savedTmp;
};

TEST_F(CheckRatesTest, RateTableIsTheModulesOwn) {
  const Result r = check("5901234123457,23\r\n", 0);
  EXPECT_EQ(r.vatCodes, (std::map<int, int>{{-1, 5}, {0, 3}, {5, 15}, {8, 18}, {23, 33}}));
  EXPECT_EQ(r.accepted, 1);
  EXPECT_TRUE(r.warnings.empty());
}

TEST_F(CheckRatesTest, SemicolonsAndTabsBetweenFields) {
  const Result r =
      check("5901234123457;23\r\n5901234123464\t8\r\n5901234123471,5\r\n5901234123488;8,23\r\n", 0);
  EXPECT_EQ(fates(r, 0), (std::vector<std::string>{"skipped", "skipped", "5901234123471|5|15",
                                                   "5901234123488;8|23|33"}));
  EXPECT_EQ(warned(r, "semicolon"), (std::vector<int>{1, 4}));
  EXPECT_EQ(warned(r, "tab"), (std::vector<int>{2}));
  EXPECT_EQ(r.lines[0].reason, "no comma: \";\" separates the fields");
  EXPECT_EQ(r.lines[1].reason, "no comma: a tab separates the fields");
}

TEST_F(CheckRatesTest, Utf8WithAndWithoutByteOrderMark) {
  // "Mąka" and "Żurek" in UTF-8: the plug-in reads the bytes as Windows-1250 and converts them to
  // the host's code page, where "…" and "Ĺ" have no place.
  Result r = check("\xEF\xBB\xBFM\xC4\x85ka,5\r\n\xC5\xBBurek,8\r\n", 1);
  EXPECT_EQ(fates(r, 1), (std::vector<std::string>{"?»żMÄ?ka|5|15", "?»urek|8|18"}));
  EXPECT_EQ(warned(r, "bom"), (std::vector<int>{1}));
  EXPECT_TRUE(r.warning("utf8"));

  r = check("M\xC4\x85ka,5\r\n", 1);
  EXPECT_EQ(fates(r, 1), (std::vector<std::string>{"MÄ?ka|5|15"}));
  EXPECT_FALSE(r.warning("bom"));
  EXPECT_TRUE(r.warning("utf8"));

  // The same name in Windows-1250 is what the plug-in expects.
  r = check("M\xB9ka,5\r\n", 1);
  EXPECT_EQ(fates(r, 1), (std::vector<std::string>{"Mąka|5|15"}));
  EXPECT_TRUE(r.warnings.empty());
}

TEST_F(CheckRatesTest, ScientificNotationAndLostZeros) {
  const Result r = check("5,90123E+12,23\r\n590123412342,8\r\n5901234123457,5\r\n", 0);
  EXPECT_EQ(fates(r, 0),
            (std::vector<std::string>{"5|90123|-", "590123412342|8|18", "5901234123457|5|15"}));
  EXPECT_EQ(warned(r, "scientific"), (std::vector<int>{1}));
  EXPECT_EQ(warned(r, "lost-zeros"), (std::vector<int>{2}));
  EXPECT_EQ(warned(r, "no-vat-code"), (std::vector<int>{1}));
}

TEST_F(CheckRatesTest, FractionsPercentAndRatesWithoutCode) {
  const Result r = check(
      "5901234123457,0,23\r\n5901234123464,0.08\r\n5901234123471,23%\r\n5901234123488,8 %\r\n"
      "5901234123495,7\r\n5901234123501,22\r\n5901234123518,ZW\r\n5901234123525,-5\r\n",
      0);
  EXPECT_EQ(fates(r, 0), (std::vector<std::string>{"5901234123457|0|3", "5901234123464|0|3",
                                                   "5901234123471|23|33", "5901234123488|8|18",
                                                   "5901234123495|7|-", "5901234123501|22|-",
                                                   "5901234123518|zw|5", "skipped"}));
  EXPECT_EQ(warned(r, "fraction"), (std::vector<int>{1, 2}));
  EXPECT_EQ(warned(r, "percent"), (std::vector<int>{3, 4}));
  EXPECT_EQ(warned(r, "no-vat-code"), (std::vector<int>{5, 6}));
  EXPECT_EQ(r.lines[7].reason, "the rate has a sign");
}

TEST_F(CheckRatesTest, BlanksAroundKeysAndRates) {
  const Result r = check(" 5901234123457,23\r\n5901234123464 ,8\r\n5901234123471, 5\r\n", 0);
  EXPECT_EQ(fates(r, 0),
            (std::vector<std::string>{" 5901234123457|23|33", "5901234123464 |8|18", "skipped"}));
  EXPECT_EQ(warned(r, "blanks"), (std::vector<int>{1, 2}));
  EXPECT_EQ(r.lines[2].reason, "the rate begins with a blank");
}

TEST_F(CheckRatesTest, LongKeysAndLongLines) {
  const std::string longKey(45, '1');
  const std::string filler(300, 'x');
  const Result r = check(
      longKey + ",23\r\n5901234123457,8," + filler + "\r\n" + std::string(260, '2') + ",5\r\n", 0);
  EXPECT_EQ(fates(r, 0), (std::vector<std::string>{std::string(40, '1') + "|23|33",
                                                   "5901234123457|8|18", "skipped"}));
  EXPECT_EQ(warned(r, "long-key"), (std::vector<int>{1}));
  EXPECT_EQ(warned(r, "long-line"), (std::vector<int>{2, 3}));
  EXPECT_EQ(r.lines[2].seen.size(), 255u);
  EXPECT_EQ(r.lines[2].reason,
            "its first comma stands after character 255, and the host hands over no more of a "
            "line");
}

TEST_F(CheckRatesTest, RepeatedKeysOnlyTheFirstCounts) {
  const Result r = check(
      "5901234123457,23\r\n590123412346A,8\r\n5901234123457,5\r\n590123412346a,zw\r\n"
      "5901234123457,23\r\n",
      0);
  EXPECT_EQ(fates(r, 0), (std::vector<std::string>{"5901234123457|23|33", "590123412346A|8|18",
                                                   "5901234123457|5|15", "590123412346a|zw|5",
                                                   "5901234123457|23|33"}));
  EXPECT_EQ(warned(r, "repeated-key"), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(r.lines[3].repeats, 2);
  EXPECT_EQ(r.accepted, 5);
}

TEST_F(CheckRatesTest, NameWithinAnEarlierNameNeverApplies) {
  const Result r = check("MLEKO,5\r\nMLEKO 2%,8\r\nmleko,23\r\n", 1);
  EXPECT_EQ(fates(r, 1), (std::vector<std::string>{"MLEKO|5|15", "MLEKO 2%|8|18", "mleko|23|33"}));
  EXPECT_EQ(warned(r, "name-within-name"), (std::vector<int>{2}));
  EXPECT_EQ(warned(r, "repeated-key"), (std::vector<int>{3}));
}

TEST_F(CheckRatesTest, HeadingLines) {
  Result r = check("KOD_KRESKOWY,STAWKA_VAT\r\n5901234123457,23\r\n", 0);
  EXPECT_EQ(fates(r, 0), (std::vector<std::string>{"skipped", "5901234123457|23|33"}));
  EXPECT_EQ(warned(r, "heading"), (std::vector<int>{1}));
  EXPECT_EQ(r.lines[0].reason, "a heading line: the rate \"STAWKA_VAT\" is no number");

  // Column names with ";" between them are a heading too (and the file reads as nothing).
  r = check("KOD_KRESKOWY;STAWKA_VAT\r\n5901234123457;23\r\n", 0);
  EXPECT_EQ(fates(r, 0), (std::vector<std::string>{"skipped", "skipped"}));
  EXPECT_EQ(warned(r, "heading"), (std::vector<int>{1}));
  EXPECT_EQ(warned(r, "semicolon"), (std::vector<int>{1, 2}));

  // In format 2 the heading is read like any line.
  r = check("KOD_KRESKOWY,Kod CN\r\n5901234123457,1905 90 80\r\n", 2);
  EXPECT_EQ(fates(r, 2),
            (std::vector<std::string>{"KOD_KRESKOWY|Kod CN", "5901234123457|1905 90 80"}));
  EXPECT_EQ(warned(r, "heading"), (std::vector<int>{1}));

  // CN codes are cut to 14 characters; an empty one is taken as it is.
  r = check("5901234123457,0401 20 11 99 88\r\n5901234123464,\r\n", 2);
  EXPECT_EQ(fates(r, 2),
            (std::vector<std::string>{"5901234123457|0401 20 11 99 ", "5901234123464|"}));
  EXPECT_EQ(warned(r, "long-cn"), (std::vector<int>{1}));
  EXPECT_EQ(warned(r, "empty-cn"), (std::vector<int>{2}));
}

TEST_F(CheckRatesTest, EmptyAndKeylessLines) {
  const Result r = check("\r\n,23\r\n5901234123457\r\n   \r\n5901234123457,\r\n", 0);
  EXPECT_EQ(fates(r, 0), (std::vector<std::string>(5, "skipped")));
  EXPECT_EQ(r.lines[0].reason, "empty line");
  EXPECT_EQ(r.lines[1].reason, "no key: the line begins with a comma");
  EXPECT_EQ(r.lines[2].reason, "no comma: the line has no second field");
  EXPECT_EQ(r.lines[3].reason, "only blanks");
  EXPECT_EQ(r.lines[4].reason, "the rate is empty");
  EXPECT_EQ(r.accepted, 0);
}

TEST_F(CheckRatesTest, DryRunCountsChangesAndLeavesTheShopAlone) {
  const fs::path shopDir = dir / "shop";
  std::string error;
  using velkar::shop::ProductRow;
  ASSERT_TRUE(velkar::shop::createShop(
      shopDir,
      {{1,
        {ProductRow{1, "Chleb", "5901234123457", 18, 18, ""},
         ProductRow{2, "Bułka", "5901234123464", 18, 15, ""},
         ProductRow{3, "Woda", "5901234123471", 33, 33, ""}, ProductRow{4, "Sól", "", 33, 33, ""},
         ProductRow{5, "Cukier", "5901234123488", 33, 33, ""},
         ProductRow{6, "Ryż", "0012345678905", 18, 18, ""}}},
       {2, {ProductRow{1, "Chleb", "5901234123457", 18, 18, ""}}}},
      {{"2000000000017", 1, 3}}, error))
      << error;
  std::ofstream(shopDir / "velkar.ini", std::ios::binary) << "[Mirtal]\r\nMag=2\r\n";
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(shopDir))
    files[entry.path().filename().string()] = readFile(entry.path());

  // Line 1 changes product 1; line 2 finds product 2 already at 15; line 3 reaches product 3
  // through its additional code, with a rate that has no code; lines 4 and 5 reach nothing (line 5
  // is product 6's barcode without its leading zeros).
  const Result r = check(
      "5901234123457,5\r\n5901234123464,5\r\n2000000000017,7\r\n5909999999999,8\r\n"
      "12345678905,8\r\n",
      0, shopDir, 1);
  ASSERT_TRUE(r.dryRun);
  EXPECT_EQ(r.productCount, 6);
  std::vector<std::pair<int, int>> counts;
  for (const auto& l : r.lines) counts.push_back({l.changes, l.holds});
  EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{1, 0}, {0, 1}, {0, 1}, {0, 0}, {0, 0}}));
  EXPECT_EQ(warned(r, "lost-zeros-shop"), (std::vector<int>{5}));
  std::vector<int> unreached;
  for (const auto& p : r.unreached) unreached.push_back(p.number);
  EXPECT_EQ(unreached, (std::vector<int>{4, 5, 6}));

  std::map<std::string, std::string> after;
  for (const auto& entry : fs::directory_iterator(shopDir))
    after[entry.path().filename().string()] = readFile(entry.path());
  EXPECT_EQ(after, files);
}

TEST_F(CheckRatesTest, ProgramExitStatusAndOutput) {
  std::ofstream(dir / "good.csv", std::ios::binary) << "5901234123457,23\r\nM\xB9ka,5\r\n";
  std::ofstream(dir / "bad.csv", std::ios::binary) << "5901234123457;23\r\n";
  const std::string plugin = " --plugin " VATUPDATE_PLUGIN;

  ProgramRun run = velkar("check-rates good.csv --format 1 --charset windows-1250" + plugin);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("line    2  accepted  \"M\xB9ka\"  rate 5  -> VAT code 15"),
            std::string::npos)
      << run.out;

  run = velkar("check-rates bad.csv --format 0 --charset utf-8" + plugin);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("the plug-in reads 0, skips 1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\";\" between fields"), std::string::npos) << run.out;

  // The plug-in beside the program is the default.
  run = velkar("check-rates good.csv --format 0");
  EXPECT_EQ(run.status, 0) << run.err;

  run = velkar("check-rates good.csv --format 3");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "velkar check-rates: --format: 3 is not 0, 1 or 2 (try --help)\n");
  run = velkar("check-rates good.csv --format 0 --shop .");
  EXPECT_EQ(run.status, 2);
  run = velkar("check-rates missing.csv --format 0");
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("no rate file"), std::string::npos);
  run = velkar("check-rates good.csv --format 0 --shop . --warehouse 7");
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("warehouse 7 of"), std::string::npos) << run.err;
}

TEST_F(CheckRatesTest, ReportIsShownInTheTerminalsCharacterSet) {
  const std::string utf8 = "Mąka -> 5 zmiany: 1, brak zmian: 0\nŻurek niepoprawny kod\n";
  std::string mazovia = velkar::codepage::fromUtf8(utf8, velkar::codepage::MAZOVIA), dos;
  for (char c : mazovia) dos += c == '\n' ? std::string("\r\n") : std::string(1, c);
  fs::create_directories(dir / "shop");
  std::ofstream(dir / "shop" / "zmianavat.txt", std::ios::binary) << dos;

  ProgramRun run = velkar("report --shop shop --charset utf-8");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, utf8);
  run = velkar("report --shop shop --charset windows-1250");
  EXPECT_EQ(run.out, velkar::codepage::fromUtf8(utf8, velkar::codepage::WINDOWS_1250));
  // The locale's set by default; the C locale names none, and UTF-8 is written then.
  run = velkar("report --shop shop", "LC_ALL=C.UTF-8");
  EXPECT_EQ(run.out, utf8);
  run = velkar("report --shop shop", "LC_ALL=C");
  EXPECT_EQ(run.out, utf8);

  fs::remove(dir / "shop" / "zmianavat.txt");
  run = velkar("report --shop shop");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no report in shop"), std::string::npos) << run.err;
  run = velkar("report");
  EXPECT_EQ(run.status, 2);
}

}  // namespace
