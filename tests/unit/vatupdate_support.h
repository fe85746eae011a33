// What the command's tests share: a freshly loaded module over a fresh host, working in a shop
// folder of its own (the current directory, as while the host runs a plug-in), and access to the
// command's internal functions and state.
#pragma once

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/plugin_fixture.h"
#include "host/host_list.h"
#include "vatupdate/records.h"
#include "vatupdate/run.h"
#include "velkar/core/host_state.h"
#include "velkar/shop/shop.h"

namespace vat_support {

namespace fs = std::filesystem;

class VatTest : public testing_support::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "vatupdate_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    fs::current_path(dir);
    velkar::host().shopDir = dir;
    velkar::resetHost();
    std::string error;
    ASSERT_TRUE(velkar::applyVariants(hostVariants(), velkar::host().config, error)) << error;
    ASSERT_TRUE(load());
  }
  void TearDown() override {
    velkar::resetHost();
    PluginTest::TearDown();
    fs::current_path(previous);
    fs::remove_all(dir);
  }

  // The readings of the host contract this fixture's host plays ("" = the default host; the
  // spellings of velkar run --variant). A test that wants "host-bytes" applies
  // velkar::shop::fillHostBytes to the shop it builds.
  virtual std::string hostVariants() const { return ""; }

  // --- the module's state and functions ---
  CommandRun& commandRun() { return *internals().commandRun; }
  RateList& rates() { return commandRun().rates; }
  ExtraCodeIndex& extraCodes() { return commandRun().extraCodes; }
  ImportDialogData& dialogData() { return commandRun().choices; }
  TableDescriptor*& productTable() { return *internals().productTable; }
  TableDescriptor*& extraCodeTable() { return *internals().extraCodeTable; }

  int readRateFile(const char* name, int format) { return internals().readRateFile(name, format); }
  int appendRate(const RateEntry* entry) { return internals().appendRate(entry); }
  void buildExtraCodeIndex(int warehouse) { internals().buildExtraCodeIndex(warehouse); }
  void applyRates(int warehouse) { internals().applyRates(warehouse); }
  // The plain scans over the rate list (outside a pass of applyRates, as the lookups are).
  RateEntry* findRateByCode(const char* code) { return internals().scanRatesByCode(rates(), code); }
  RateEntry* findRateByName(const char* name) { return internals().scanRatesByName(rates(), name); }
  void writeChangeReport() { internals().writeChangeReport(); }
  int importDialogKeys(unsigned short key, unsigned short item) {
    return internals().importDialogKeys(key, item);
  }
  void vatUpdateCommand() { internals().vatUpdateCommand(); }

  // Entry 30001 with a callback and a title buffer: the command is registered and the host's
  // table descriptors are recorded.
  int start() {
    using Start = int(HOST_STDCALL*)(HostCallback, char*);
    char title[64] = {0};
    return reinterpret_cast<Start>(plugin->entry(30001))(&callbackStub, title);
  }
  static HOST_STDCALL int callbackStub(int, int) { return 0; }

  // Appends entries the way the rate file would give them (key in the host code page).
  void addRate(const std::string& key, int rate, const std::string& cnCode = "") {
    RateEntry e;
    std::memset(&e, 0, sizeof e);
    std::strncpy(e.key, key.c_str(), RATE_KEY_CHARS);
    e.rate.set(rate);
    std::strncpy(e.cnCode, cnCode.c_str(), CN_CODE_CHARS);
    ASSERT_EQ(appendRate(&e), 0);
  }

  // --- files in the shop folder ---
  static void writeFile(const fs::path& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  static std::string readFile(const fs::path& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path previous, dir;
};

// A product row with the current VAT code 33, as the scenarios build their shops.
inline velkar::shop::ProductRow product(int number, const std::string& name,
                                        const std::string& barcode, int newVatCode = 0,
                                        const std::string& cnCode = "") {
  return velkar::shop::ProductRow{number, name, barcode, 33, newVatCode, cnCode};
}

// Six products: one already at 23 %, one holding a CN code, one without a barcode.
inline std::vector<velkar::shop::ProductRow> groceries() {
  return {product(1, "Mleko 3,2%", "5900001"),     product(2, "Chleb", "5900002"),
          product(3, "Woda", "5900003", 33),       product(4, "Sok", "5900004"),
          product(5, "Ser", "5900005", 0, "0406"), product(6, "Masło", "")};
}

// The journal's arguments of every call of one host function.
inline std::vector<std::vector<std::string>> argsOf(const std::string& name) {
  std::vector<std::vector<std::string>> out;
  for (const velkar::Call& c : velkar::callsOf(name)) out.push_back(c.args);
  return out;
}

// A text argument as the journal keeps it.
inline std::string quoted(const std::string& bytes) {
  return "\"" + bytes + "\"";
}

}  // namespace vat_support
