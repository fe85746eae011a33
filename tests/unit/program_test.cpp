// The velkar program as a user or a script runs it: the bundled sample shop and rate files, the
// run command's way of driving a plug-in (start, diagnostics, withdrawal, a host that lacks a
// function), and the shop tools. Each case runs the real program in a folder of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "velkar/shop/codepage.h"
#include "velkar/shop/shop.h"

namespace fs = std::filesystem;

namespace {

const fs::path examples = fs::path(VELKAR_SOURCE_DIR) / "examples";

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) out.push_back(field);
  if (!line.empty() && line.back() == ',') out.push_back("");
  return out;
}

bool validEan13(const std::string& code) {
  if (code.size() != 13) return false;
  int sum = 0;
  for (size_t i = 0; i < 13; ++i) {
    if (code[i] < '0' || code[i] > '9') return false;
    if (i < 12) sum += (code[i] - '0') * (i % 2 ? 3 : 1);
  }
  return (10 - sum % 10) % 10 == code[12] - '0';
}

struct Result {
  int status;
  std::string out, err;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velkar_program_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs velkar with the arguments (shell words) in `cwd` (default: the test's folder).
  Result velkar(const std::string& args, const fs::path& cwd = {}, const std::string& input = "") {
    const fs::path where = cwd.empty() ? dir : cwd;
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt", in = dir / "stdin.txt";
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = "cd '" + where.string() + "' && '" VELKAR_PROGRAM "' " + args +
                                " <'" + in.string() + "' >'" + out.string() + "' 2>'" +
                                err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
  }

  // The sample shop in dir/shop with the rate files copied in.
  void sampleShop() {
    Result r = velkar("mkshop --dir shop --products '" + (examples / "products.csv").string() +
                      "' --codes '" + (examples / "codes.csv").string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* f : {"Nowe_stawki_VAT.csv", "Nowe_stawki_VAT_nazwy.csv", "Kody_CN.csv"})
      fs::copy_file(examples / f, dir / "shop" / f);
  }

  void script(const std::string& text) { std::ofstream(dir / "answers", std::ios::binary) << text; }

  fs::path dir;
};

// ---- the bundled sample ----------------------------------------------------------------------

TEST(ProgramSample, ProductsAndCodesAreRealisticAndConsistent) {
  const auto productLines = lines(readFile(examples / "products.csv"));
  ASSERT_FALSE(productLines.empty());
  EXPECT_EQ(productLines[0], "warehouse,number,name,barcode,vat_code,new_vat_code,cn_code");
  std::set<std::pair<int, int>> products;  // (warehouse, number)
  std::set<int> warehouses;
  const std::set<int> hostVatCodes = {33, 18, 15, 3, 5};
  int withoutBarcode = 0;
  bool polishLetters = false;
  for (size_t i = 1; i < productLines.size(); ++i) {
    const auto f = split(productLines[i]);
    ASSERT_EQ(f.size(), 7u) << productLines[i];
    const int warehouse = std::stoi(f[0]), number = std::stoi(f[1]);
    EXPECT_TRUE(products.insert({warehouse, number}).second) << "twice: " << productLines[i];
    warehouses.insert(warehouse);
    if (f[3].empty())
      ++withoutBarcode;
    else
      EXPECT_TRUE(validEan13(f[3])) << f[3];
    EXPECT_TRUE(hostVatCodes.count(std::stoi(f[4]))) << productLines[i];
    polishLetters |= f[2].find_first_of("\xC4\xC5\xC3") != std::string::npos;
  }
  EXPECT_GE(products.size(), 30u);
  EXPECT_EQ(warehouses, (std::set<int>{1, 2}));
  EXPECT_EQ(withoutBarcode, 1);
  EXPECT_TRUE(polishLetters);

  const auto codeLines = lines(readFile(examples / "codes.csv"));
  ASSERT_FALSE(codeLines.empty());
  EXPECT_EQ(codeLines[0], "code,warehouse,product_number");
  bool orphan = false, otherWarehouse = false;
  for (size_t i = 1; i < codeLines.size(); ++i) {
    const auto f = split(codeLines[i]);
    ASSERT_EQ(f.size(), 3u) << codeLines[i];
    EXPECT_TRUE(validEan13(f[0])) << f[0];
    const int warehouse = std::stoi(f[1]), number = std::stoi(f[2]);
    if (number == 0)
      orphan = true;
    else
      EXPECT_TRUE(products.count({warehouse, number})) << "no such product: " << codeLines[i];
    otherWarehouse |= warehouse == 2;
  }
  EXPECT_TRUE(orphan);
  EXPECT_TRUE(otherWarehouse);
}

TEST(ProgramSample, RateFilesAreWindows1250WithCrLf) {
  for (const char* name : {"Nowe_stawki_VAT.csv", "Nowe_stawki_VAT_nazwy.csv", "Kody_CN.csv"}) {
    const std::string bytes = readFile(examples / name);
    ASSERT_FALSE(bytes.empty()) << name;
    size_t lf = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
      if (bytes[i] == '\n') {
        ++lf;
        EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << name << ": a line without CR at " << i;
      }
    EXPECT_GT(lf, 3u) << name;
    // Windows-1250 and not UTF-8: the Polish letters are single bytes.
    const std::string utf8 = velkar::codepage::toUtf8(bytes, velkar::codepage::WINDOWS_1250);
    EXPECT_EQ(velkar::codepage::fromUtf8(utf8, velkar::codepage::WINDOWS_1250), bytes);
  }
  const std::string rates = velkar::codepage::toUtf8(readFile(examples / "Nowe_stawki_VAT.csv"),
                                                     velkar::codepage::WINDOWS_1250);
  EXPECT_NE(rates.find("księgowość"), std::string::npos);
  EXPECT_NE(rates.find(",zw\r\n"), std::string::npos);
  std::set<std::string> keys;
  bool duplicate = false, withoutComma = false;
  for (const std::string& line : lines(rates)) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) {
      withoutComma = true;
      continue;
    }
    duplicate |= !keys.insert(line.substr(0, comma)).second;
  }
  EXPECT_TRUE(duplicate);
  EXPECT_TRUE(withoutComma);
}

// ---- velkar run --------------------------------------------------------------------------------

TEST_F(ProgramTest, SampleShopRunsTheWholeCommand) {
  sampleShop();
  script("message ok\ndialog file=Nowe_stawki_VAT.csv format=0 ok\nwarehouse 1\n");
  const fs::path before = dir / "MMM001.before";
  fs::copy_file(dir / "shop" / "MMM001.MGR", before);
  const Result r =
      velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --script answers --style marked");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Wtyczka: Aktualizacja VAT z pliku tekstowego\n"), std::string::npos);
  EXPECT_NE(r.out.find("1. Aktualizacja VAT z pliku tekstowego"), std::string::npos);
  // The summary: read, invalid, unidentified (an unknown code, a duplicate, a code of the other
  // warehouse, the second extra code of a product), same rate, new rate.
  const std::regex summary(
      "odczytana z pliku: +\\*41\\*[^]*niepoprawnych towarów: +\\*0\\*[^]*"
      "niezidentyfikowanych towarów: +\\*4\\*[^]*ta sama stawka VAT: +\\*2\\*[^]*"
      "nową stawkę VAT: +\\*35\\*");
  EXPECT_TRUE(std::regex_search(r.out, summary)) << r.out;
  EXPECT_NE(r.out.find("5909901000018 -> -1 zmiany: 1, brak zmian: 0"), std::string::npos);

  const Result table = velkar("compare --table MMM001.before shop/MMM001.MGR");
  EXPECT_EQ(table.status, 1);
  EXPECT_NE(table.out.find("(35 of 38 products changed)"), std::string::npos) << table.out;
  // Found through its additional code 5900884002518, and the exempt stamp.
  EXPECT_TRUE(
      std::regex_search(table.out, std::regex("\n11 +Kawa mielona 250 g .* 0 -> 33 \\(23%\\)")))
      << table.out;
  EXPECT_TRUE(
      std::regex_search(table.out, std::regex("Znaczek pocztowy krajowy .* 0 -> 5 \\(zw\\)")));
}

TEST_F(ProgramTest, StrictestHostGivesTheDefaultHostsProductsAndReport) {
  sampleShop();
  fs::copy(dir / "shop", dir / "strict", fs::copy_options::recursive);
  script("message ok\ndialog file=Nowe_stawki_VAT.csv format=0 ok\nwarehouse 1\n");
  const Result plain = velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --script answers");
  ASSERT_EQ(plain.status, 0) << plain.err;
  const Result strict = velkar("run --shop strict --plugin '" VATUPDATE_PLUGIN
                               "' --script answers --variant strictest --variant table117=240");
  EXPECT_EQ(strict.status, 0) << strict.err;
  EXPECT_EQ(strict.err, "");
  EXPECT_EQ(readFile(dir / "strict" / "zmianavat.txt"), readFile(dir / "shop" / "zmianavat.txt"));
  // The fields as the default host left them; host bytes of its own in the strict shop.
  for (int w : {1, 2})
    EXPECT_EQ(velkar("export --shop strict --warehouse " + std::to_string(w)).out,
              velkar("export --shop shop --warehouse " + std::to_string(w)).out)
        << w;
  EXPECT_NE(readFile(dir / "strict" / "MMM001.MGR"), readFile(dir / "shop" / "MMM001.MGR"));

  const Result wrong =
      velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --variant memory=lavish");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("memory=lavish"), std::string::npos) << wrong.err;
  EXPECT_NE(velkar("run --help").out.find("--variant NAME"), std::string::npos);
}

TEST_F(ProgramTest, RelativePathsMeanWhereTheProgramStarted) {
  sampleShop();
  fs::create_directory(dir / "elsewhere");
  fs::copy_file(VATUPDATE_PLUGIN, dir / "elsewhere" / "plugin.so");
  std::ofstream(dir / "elsewhere" / "answers") << "message cancel\n";
  const Result r =
      velkar("run --shop ../shop --plugin plugin.so --script answers", dir / "elsewhere");
  EXPECT_EQ(r.status, 0) << r.err;
  // The explanation was shown and cancelled in the shop folder: its settings store got "Pytaj".
  EXPECT_NE(readFile(dir / "shop" / "velkar.ini").find("Pytaj=1"), std::string::npos);
}

TEST_F(ProgramTest, CommandZeroOnlyStartsAndWithdraws) {
  sampleShop();
  const Result r =
      velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --command 0 --journal journal.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string journal = readFile(dir / "journal.txt");
  const size_t registered = journal.find("registerCommand(ptr)");
  const size_t withdrawn = journal.find("unregisterCommand(29902)");
  ASSERT_NE(registered, std::string::npos) << journal;
  ASSERT_NE(withdrawn, std::string::npos) << journal;
  EXPECT_LT(registered, withdrawn);
  EXPECT_EQ(journal.find("showMessage(\"uwaga\""), std::string::npos) << "the command ran";
  EXPECT_EQ(r.err, "");

  const Result tooFar = velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --command 2");
  EXPECT_EQ(tooFar.status, 2);
  EXPECT_NE(tooFar.err.find("only 1 command"), std::string::npos) << tooFar.err;
}

TEST_F(ProgramTest, FailedStartIsExplainedAndReported) {
  sampleShop();
  const Result r = velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN
                          "' --record-size 49=512 --journal journal.txt");
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("failed to start"), std::string::npos) << r.err;
  // Entry 30008 with a non-zero value: the plug-in explains why it cannot work.
  EXPECT_NE(r.out.find("MODUŁ NIE ZOSTANIE ZAŁADOWANY"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Inne"), std::string::npos) << "a menu after a failed start";
  EXPECT_NE(readFile(dir / "journal.txt").find("unregisterCommand(29902)"), std::string::npos);
}

TEST_F(ProgramTest, MissingHostFunctionAsTheUserAnswers) {
  sampleShop();
  const Result aborted =
      velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --leave-out 52028 --style marked");
  EXPECT_EQ(aborted.status, 3);
  EXPECT_NE(aborted.err.find("did not load"), std::string::npos) << aborted.err;
  EXPECT_NE(aborted.out.find("POWAŻNY BŁĄD WTYCZKI"), std::string::npos) << aborted.out;
  EXPECT_NE(aborted.out.find("-> Abort"), std::string::npos);
  EXPECT_EQ(aborted.out.find("Wtyczka:"), std::string::npos);

  // Retry asks again; Ignore loads the plug-in without the host's message window.
  const Result ignored = velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN
                                "' --leave-out 52028 --message-box retry,ignore --command 0");
  EXPECT_EQ(ignored.status, 0) << ignored.err;
  EXPECT_NE(ignored.out.find("-> Retry"), std::string::npos);
  EXPECT_NE(ignored.out.find("-> Ignore"), std::string::npos);
  EXPECT_NE(ignored.out.find("Wtyczka: Aktualizacja"), std::string::npos);
}

TEST_F(ProgramTest, InteractiveMenuRunsThePickedCommandUntilQuit) {
  sampleShop();
  script("message cancel\n");
  // Enter for the menu registration message, 1 for the command (its explanation is scripted),
  // then 0 to leave the menu.
  const Result r = velkar(
      "run --shop shop --plugin '" VATUPDATE_PLUGIN "' --interactive --script answers", {}, "\r10");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("== Aktualizacja VAT z pliku tekstowego"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Opcja umożliwia wczytanie"), std::string::npos);
}

TEST_F(ProgramTest, CommandLineMistakes) {
  sampleShop();
  EXPECT_EQ(velkar("").status, 2);
  const Result frobnicate = velkar("frobnicate");
  EXPECT_EQ(frobnicate.status, 2);
  EXPECT_EQ(frobnicate.err, "velkar: unknown command frobnicate\ntry 'velkar --help'\n");
  const Result version = velkar("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("velkar [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;
  const Result help = velkar("run --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--leave-out"), std::string::npos);
  for (const char* command : {"mkshop", "export", "compare"})
    EXPECT_EQ(velkar(std::string(command) + " --help").status, 0) << command;

  const Result unknown = velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --bogus");
  EXPECT_EQ(unknown.status, 2);
  // One line and where to read more, not the whole help.
  EXPECT_EQ(unknown.err, "velkar run: unknown option --bogus\ntry 'velkar run --help'\n");
  EXPECT_EQ(velkar("run --shop shop").status, 2);
  EXPECT_EQ(velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --leave-out x").status, 2);
  EXPECT_EQ(velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --message-box maybe").status,
            2);
  EXPECT_EQ(velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --record-size 50=1").status, 2);
  const Result noShop = velkar("run --shop nowhere --plugin '" VATUPDATE_PLUGIN "'");
  EXPECT_EQ(noShop.status, 1);
  EXPECT_EQ(lines(noShop.err).size(), 1u) << noShop.err;
  EXPECT_NE(noShop.err.find("no shop folder"), std::string::npos);
  // A folder without a product file is no shop: the plug-in is not loaded there, so the report
  // it would replace stays and no settings store is made.
  fs::create_directory(dir / "notashop");
  std::ofstream(dir / "notashop" / "zmianavat.txt") << "keep me";
  const Result notShop = velkar("run --shop notashop --plugin '" VATUPDATE_PLUGIN "'");
  EXPECT_EQ(notShop.status, 1);
  EXPECT_EQ(notShop.err, "velkar: " + (dir / "notashop").string() +
                             " is not a shop folder: it holds no product file (MMMnnn.MGR)\n");
  EXPECT_EQ(readFile(dir / "notashop" / "zmianavat.txt"), "keep me");
  EXPECT_FALSE(fs::exists(dir / "notashop" / "velkar.ini"));
  const Result noPlugin = velkar("run --shop shop --plugin missing.so");
  EXPECT_EQ(noPlugin.status, 1);
  EXPECT_NE(noPlugin.err.find("no plug-in"), std::string::npos);
  // Not a plug-in at all: the load fails and says so.
  std::ofstream(dir / "junk.so") << "not a library";
  const Result junk = velkar("run --shop shop --plugin junk.so");
  EXPECT_EQ(junk.status, 3);
  EXPECT_NE(junk.err.find("did not load"), std::string::npos) << junk.err;
}

// ---- mkshop, export, compare ---------------------------------------------------------------

TEST_F(ProgramTest, ExportGivesBackWhatMkshopWasGiven) {
  sampleShop();
  for (int warehouse : {1, 2}) {
    std::string expected = "number,name,barcode,vat_code,new_vat_code,cn_code\n";
    const auto source = lines(readFile(examples / "products.csv"));
    for (size_t i = 1; i < source.size(); ++i)
      if (source[i].rfind(std::to_string(warehouse) + ",", 0) == 0)
        expected += source[i].substr(source[i].find(',') + 1) + "\n";
    const Result r = velkar("export --shop shop --warehouse " + std::to_string(warehouse));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
  }
  EXPECT_EQ(velkar("export --shop shop --warehouse 1 --out w1.csv").status, 0);
  EXPECT_EQ(readFile(dir / "w1.csv"), velkar("export --shop shop --warehouse 1").out);
  const Result codes = velkar("export --shop shop --codes");
  EXPECT_EQ(codes.status, 0);
  EXPECT_EQ(lines(codes.out).size(), lines(readFile(examples / "codes.csv")).size());
  EXPECT_EQ(velkar("export --shop shop --warehouse 7").status, 1);
}

TEST_F(ProgramTest, MkshopNamesTheLineOfAMistake) {
  std::ofstream(dir / "bad.csv") << "warehouse,number,name,barcode,vat_code,new_vat_code,cn_code\n"
                                    "1,1,Chleb,5901234100014,15,0,\n"
                                    "2,1,Mleko,5900512001012,15,0,\n"
                                    "1,2,Masło,5900512002156,x,0,\n";
  const Result r = velkar("mkshop --dir shop --products bad.csv");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 4"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "shop" / "MMM002.MGR")) << "a shop made from a bad file";

  std::ofstream(dir / "badw.csv") << "warehouse,number,name,barcode,vat_code,new_vat_code,cn_code\n"
                                     "1,1,Chleb,5901234100014,15,0,\n"
                                     "x,1,Mleko,5900512001012,15,0,\n";
  const Result w = velkar("mkshop --dir shop --products badw.csv");
  EXPECT_EQ(w.status, 1);
  EXPECT_NE(w.err.find("line 3"), std::string::npos) << w.err;

  // Without the warehouse column the rows go to --warehouse.
  std::ofstream(dir / "one.csv") << "number,name,barcode,vat_code,new_vat_code,cn_code\n"
                                    "1,Chleb,5901234100014,15,0,\n";
  EXPECT_EQ(velkar("mkshop --dir shop --products one.csv --warehouse 7").status, 0);
  EXPECT_TRUE(fs::exists(dir / "shop" / "MMM007.MGR"));
}

TEST_F(ProgramTest, CompareStatusTellsSameDifferentOrUnreadable) {
  sampleShop();
  fs::copy_file(dir / "shop" / "MMM001.MGR", dir / "copy.MGR");
  const Result same = velkar("compare shop/MMM001.MGR copy.MGR");
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.out, "shop/MMM001.MGR and copy.MGR are identical (38 products)\n");
  const Result other = velkar("compare shop/MMM001.MGR shop/MMM002.MGR");
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.out.find("records"), std::string::npos) << other.out;
  EXPECT_EQ(velkar("compare shop/MMM001.MGR missing.MGR").status, 2);
  EXPECT_EQ(velkar("compare shop/MMM001.MGR").status, 2);
}

// ---- nothing of a person's is replaced unasked ---------------------------------------------

// Every file under a folder with its bytes, to see that a refused command left it alone.
std::map<std::string, std::string> contents(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    out[fs::relative(e.path(), folder).string()] = e.is_regular_file() ? readFile(e.path()) : "/";
  return out;
}

TEST_F(ProgramTest, MkshopRefusesAFolderThatHoldsAnythingUnlessToldToReplaceIt) {
  const std::string products = " --products '" + (examples / "products.csv").string() + "'";
  fs::create_directories(dir / "mine" / "notes");
  std::ofstream(dir / "mine" / "notes" / "list.txt") << "keep me";
  const auto before = contents(dir / "mine");
  const Result refused = velkar("mkshop --dir mine" + products);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(lines(refused.err).size(), 1u) << refused.err;
  EXPECT_NE(refused.err.find((dir / "mine").string() + " exists and is not empty"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(contents(dir / "mine"), before);
  std::ofstream(dir / "file") << "a file";
  EXPECT_EQ(velkar("mkshop --replace --dir file" + products).status, 1);
  EXPECT_EQ(readFile(dir / "file"), "a file");

  // An empty folder is taken. --replace takes only a shop folder that holds nothing else, and
  // names what else a folder holds.
  fs::create_directory(dir / "shop");
  EXPECT_EQ(velkar("mkshop --dir shop" + products).status, 0);
  const std::string made = readFile(dir / "shop" / "MMM001.MGR");
  for (const char* f : {"velkar.ini", "zmianavat.txt", "Nowe_stawki_VAT.csv"})
    std::ofstream(dir / "shop" / f) << f;
  fs::create_directory(dir / "ini");
  std::ofstream(dir / "ini" / "velkar.ini") << "[VAT]\n";
  const std::map<std::string, std::string> refusals = {
      {"mine", " holds what is not a shop's: notes;"},
      {"shop", " holds what is not a shop's: Nowe_stawki_VAT.csv;"},
      {"ini", " is not a shop folder (no product file MMMnnn.MGR)"}};
  for (const auto& [folder, message] : refusals) {
    const auto kept = contents(dir / folder);
    const Result r = velkar("mkshop --dir " + folder + " --replace" + products);
    EXPECT_EQ(r.status, 1) << folder;
    EXPECT_NE(r.err.find((dir / folder).string() + message), std::string::npos) << r.err;
    EXPECT_EQ(contents(dir / folder), kept) << folder;
  }
  fs::remove(dir / "shop" / "Nowe_stawki_VAT.csv");
  const Result replaced = velkar("mkshop --dir shop --replace" + products);
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_FALSE(fs::exists(dir / "shop" / "velkar.ini"));
  EXPECT_EQ(readFile(dir / "shop" / "MMM001.MGR"), made);

  // A CSV mistake found with --replace leaves the old folder as it was, and nothing beside it.
  std::ofstream(dir / "bad.csv")
      << "number,name,barcode,vat_code,new_vat_code,cn_code\n1,x,,y,0,\n";
  const auto shop = contents(dir / "shop");
  EXPECT_EQ(velkar("mkshop --dir shop --replace --products bad.csv").status, 1);
  EXPECT_EQ(contents(dir / "shop"), shop);
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

// Whatever they hold, the current folder, the folders that hold it, a home folder and the root
// are never replaced: not even a shop with nothing else in it.
TEST_F(ProgramTest, MkshopNeverReplacesTheCurrentFolderItsParentsOrAHome) {
  const std::string products = " --products '" + (examples / "products.csv").string() + "'";
  const fs::path outer = dir / "outer";
  fs::create_directories(outer / "work");
  std::ofstream(outer / "notes.txt") << "keep me";
  std::ofstream(outer / "work" / "list.txt") << "and me";
  ASSERT_EQ(velkar("mkshop --dir outer/shop" + products).status, 0);
  std::ofstream(outer / "shop" / "velkar.ini") << "[VAT]\n";
  const auto before = contents(outer);
  const std::pair<const char*, std::string> cases[] = {
      {"work", "."}, {"work", ".."}, {"work", outer.string()}, {"shop", "."}, {"shop", "../shop/"}};
  for (const auto& [where, target] : cases) {
    const Result r = velkar("mkshop --replace --dir '" + target + "'" + products, outer / where);
    EXPECT_EQ(r.status, 1) << where << " " << target;
    EXPECT_NE(r.err.find(" current folder; it is left alone"), std::string::npos) << r.err;
    EXPECT_EQ(contents(outer), before) << where << " " << target;
  }

  const char* const home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  ::setenv("HOME", (outer / "shop").c_str(), 1);
  const Result r = velkar("mkshop --replace --dir outer/shop" + products);
  home ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find((outer / "shop").string() + " is a home folder; it is left alone"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(contents(outer), before);
  EXPECT_EQ(velkar::shop::protectedFolder("/"), "is the root folder");
  EXPECT_EQ(velkar::shop::protectedFolder(outer / "shop"), "");
}

// The demo as a new user runs it, with a folder named where they stand.
TEST_F(ProgramTest, DemoRefusesAFolderThatHoldsAnythingAndTakesNamesFromWhereItStarted) {
  const fs::path build = fs::path(VELKAR_PROGRAM).parent_path();
  auto demo = [&](const std::string& args) {
    const std::string command = "cd '" + dir.string() + "' && VELKAR_BUILD='" + build.string() +
                                "' bash '" VELKAR_SOURCE_DIR "/scripts/demo' " + args + " >'" +
                                (dir / "demo.out").string() + "' 2>'" +
                                (dir / "demo.err").string() + "' </dev/null";
    const int raw = std::system(command.c_str());
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir / "demo.out"),
                  readFile(dir / "demo.err")};
  };
  fs::create_directory(dir / "examples");
  std::ofstream(dir / "examples" / "mine.csv") << "keep me";
  const Result refused = demo("--shop examples");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "demo: " + (dir / "examples").string() +
                " exists and is not empty; it is left alone (--replace replaces it)\n");
  EXPECT_EQ(readFile(dir / "examples" / "mine.csv"), "keep me");
  // The repository's own sample data is untouched too.
  EXPECT_TRUE(fs::exists(examples / "products.csv"));

  const Result made = demo("--shop newshop");
  ASSERT_EQ(made.status, 0) << made.err << made.out;
  EXPECT_TRUE(fs::exists(dir / "newshop" / "zmianavat.txt"));
  EXPECT_NE(made.out.find("The shop stays in " + (dir / "newshop").string()), std::string::npos);

  // --replace takes the shop an earlier demo made, with the sample rate files it copied in, and
  // no other folder: one with a file of the user's, or with a copied rate file they changed.
  const Result notAShop = demo("--shop=examples --replace");
  EXPECT_EQ(notAShop.status, 1);
  EXPECT_NE(notAShop.err.find("not a shop's: mine.csv;"), std::string::npos) << notAShop.err;
  EXPECT_EQ(contents(dir / "examples"),
            (std::map<std::string, std::string>{{"mine.csv", "keep me"}}));
  std::ofstream(dir / "newshop" / "Kody_CN.csv") << "changed";
  const auto changed = contents(dir / "newshop");
  const Result kept = demo("--shop newshop --replace");
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("not a shop's: Kody_CN.csv;"), std::string::npos) << kept.err;
  EXPECT_EQ(contents(dir / "newshop"), changed);
  fs::copy_file(examples / "Kody_CN.csv", dir / "newshop" / "Kody_CN.csv",
                fs::copy_options::overwrite_existing);
  const Result replaced = demo("--shop newshop --replace");
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_TRUE(fs::exists(dir / "newshop" / "zmianavat.txt"));
}

// ---- scripts are held to what they say ------------------------------------------------------

TEST_F(ProgramTest, ScriptMistakesFailTheRunNamingTheLine) {
  sampleShop();
  const std::string run = "run --shop shop --plugin '" VATUPDATE_PLUGIN "' --script answers";
  const fs::path before = dir / "MMM001.before";
  fs::copy_file(dir / "shop" / "MMM001.MGR", before);
  struct Case {
    const char* script;
    const char* message;  // what standard error says
  };
  const Case misread[] = {
      {"message ok\nwarehose 1\n", "answers line 2: 'warehose 1': not an answer; expected"},
      {"# comment\n\nmessage yes\n", "line 3: 'message yes': expected message ok or message"},
      {"message ok\nwarehouse one\n", "line 2: 'warehouse one': expected warehouse N"},
      {"dialog file=a.csv format=x ok\n", "line 1: 'dialog file=a.csv format=x ok': format=x"},
      {"dialog keys=item1:F33 ok\n", "'F33' is not a key"},
      {"dialog file=\"a b.csv ok\n", "a quote is not closed"},
      {"stop-after soon\n", "expected stop-after N"},
  };
  for (const Case& c : misread) {
    script(c.script);
    const Result r = velkar(run);
    EXPECT_EQ(r.status, 5) << c.script;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.script << r.err;
    EXPECT_EQ(r.out.find("Wtyczka:"), std::string::npos) << "the plug-in ran: " << c.script;
  }
  EXPECT_EQ(readFile(dir / "shop" / "MMM001.MGR"), readFile(before));

  // An answer that no question takes: the explanation is cancelled, so no dialog comes.
  script("message cancel\ndialog file=Nowe_stawki_VAT.csv ok\n\nwarehouse 1\n");
  const Result unused = velkar(run);
  EXPECT_EQ(unused.status, 5);
  EXPECT_NE(unused.err.find("line 2: 'dialog file=Nowe_stawki_VAT.csv ok' was not used"),
            std::string::npos)
      << unused.err;
  EXPECT_NE(unused.err.find("line 4: 'warehouse 1' was not used"), std::string::npos);
  // A script that ends the run early on purpose says so.
  script("allow-unused\nmessage cancel\nwarehouse 1\n");
  const Result allowed = velkar(run);
  EXPECT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_EQ(allowed.err, "");

  // An answer that does not fit the dialog it meets stops the run before the plug-in goes on.
  script("message ok\ndialog keys=item9:F3 file=Nowe_stawki_VAT.csv ok\nwarehouse 1\n");
  const Result misfit = velkar(run + " --journal journal.txt");
  EXPECT_EQ(misfit.status, 5);
  EXPECT_NE(misfit.err.find("line 2: 'dialog keys=item9:F3 file=Nowe_stawki_VAT.csv ok': no "
                            "item '9' in this dialog"),
            std::string::npos)
      << misfit.err;
  EXPECT_NE(misfit.err.find("the run is stopped"), std::string::npos);
  EXPECT_EQ(misfit.out.find("Magazyn:"), std::string::npos) << "the run went on";
  EXPECT_EQ(readFile(dir / "shop" / "MMM001.MGR"), readFile(before));
  EXPECT_NE(readFile(dir / "journal.txt").find("runDialog"), std::string::npos);

  EXPECT_EQ(velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN "' --script nowhere").status, 1);
}

// ---- the host's own files ------------------------------------------------------------------

TEST_F(ProgramTest, HostSaysWhenItsOwnFilesCannotBeUsed) {
  sampleShop();
  const std::string run = "run --shop shop --plugin '" VATUPDATE_PLUGIN "' --script answers";
  // A warehouse without a product file: said on standard error in a scripted run.
  script("message ok\ndialog file=Nowe_stawki_VAT.csv format=0 ok\nwarehouse 7\n");
  const Result missing = velkar(run);
  EXPECT_EQ(missing.status, 0) << missing.err;
  EXPECT_EQ(missing.err,
            "velkar: the product file of warehouse 7 (MMM007.MGR) does not exist in the shop "
            "folder\n");
  // A file that is no whole number of records.
  std::ofstream(dir / "shop" / "KODY154.DAT", std::ios::app) << "x";
  script("message ok\ndialog file=Nowe_stawki_VAT.csv format=0 ok\nwarehouse 1\n");
  const Result broken = velkar(run);
  EXPECT_NE(broken.err.find("KODY154.DAT"), std::string::npos) << broken.err;
  // Interactive: a window of the host, which waits for a key.
  const Result shown = velkar("run --shop shop --plugin '" VATUPDATE_PLUGIN
                              "' --script answers --interactive --command 1 "
                              "--style plain",
                              {}, "\r\r\r\r\r\r");
  EXPECT_NE(shown.out.find("Plik uszkodzony: plik kodów dodatkowych KODY154.DAT ma"),
            std::string::npos)
      << shown.out;

  // A settings store the host cannot write: the plug-in's registration goes on without it.
  fs::remove_all(dir / "shop" / "velkar.ini");
  fs::create_directory(dir / "shop" / "velkar.ini");
  const std::string start = "run --shop shop --plugin '" VATUPDATE_PLUGIN "' --command 0";
  const Result settings = velkar(start);
  EXPECT_EQ(settings.status, 0) << settings.err;
  EXPECT_NE(settings.err.find("velkar: settings: cannot replace"), std::string::npos)
      << settings.err;
  const Result window = velkar(start + " --interactive --style plain");
  EXPECT_NE(window.out.find("Nie można zapisać ustawień w pliku velkar.ini."), std::string::npos)
      << window.out;
}

}  // namespace
