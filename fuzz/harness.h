// What the module's fuzzers share: the module linked into the fuzzer and bound to the host
// stand-in as a load binds it, a shop folder of its own, the command's phases in the order the
// command runs them, and the checks that every run must pass.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "host/binding.h"
#include "host/host_list.h"
#include "entry/entries.h"
#include "vatupdate/command.h"
#include "vatupdate/extracodes.h"
#include "vatupdate/matching.h"
#include "vatupdate/ratefile.h"
#include "vatupdate/records.h"
#include "vatupdate/report.h"
#include "vatupdate/run.h"
#include "velkar/core/host_state.h"
#include "velkar/shop/shop.h"
#include "velkar/functions/text_files.h"
#include "velkar/console/ui.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID);

namespace fuzz {

namespace fs = std::filesystem;

// A finding: what broke, then abort so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}
inline void check(bool ok, const std::string& what) {
  if (!ok) fail(what);
}

// Output that goes nowhere (the UI draws every window it is shown).
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};
inline std::ostream& nullStream() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

inline std::string readFile(const fs::path& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void writeFile(const fs::path& name, const void* bytes, size_t size) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) fail("cannot write " + name.string());
  if (size && std::fwrite(bytes, 1, size, f) != size) fail("short write " + name.string());
  std::fclose(f);
}

// A fresh folder in /dev/shm (or FUZZ_SHOP_BASE) for the shop.
inline fs::path makeShopDir() {
  const char* base = std::getenv("FUZZ_SHOP_BASE");
  fs::path root = base                     ? fs::path(base)
                  : fs::exists("/dev/shm") ? fs::path("/dev/shm")
                                           : fs::temp_directory_path();
  std::string pattern = (root / "velkar-fuzz-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) fail("no shop folder");
  return pattern;
}

// The shop folder as the current directory while one input runs, as while the host runs a
// plug-in; libFuzzer's own files stay where it was started.
class InShop {
 public:
  explicit InShop(const fs::path& shop) : previous_(::open(".", O_RDONLY | O_DIRECTORY)) {
    if (previous_ < 0 || ::chdir(shop.c_str()) != 0) fail("cannot enter the shop folder");
  }
  ~InShop() {
    if (::fchdir(previous_) != 0) fail("cannot leave the shop folder");
    ::close(previous_);
  }
  InShop(const InShop&) = delete;
  InShop& operator=(const InShop&) = delete;

 private:
  int previous_;
};

// The host as it stands before the module is started: no journal (it would grow without end), no
// output.
inline void freshHost() {
  velkar::resetHost();
  velkar::host().journalEnabled = false;
  velkar::ui::setOutput(&nullStream());
}

// Between two runs the host keeps its state: the last run gave everything back (the checks make
// sure), nothing is journalled and the windows do not go through the console, so nothing grows.
// Only the call counts are cleared.
inline void betweenRuns() {
  velkar::host().callCounts.clear();
}

// The host's windows and progress display, kept short: the fuzzers feed the module's files, not
// the host's console, so these slots go to small stand-ins that note what the module asked for.
struct Windows {
  int waitShown = 0;     // the waiting message is up
  int progress = 0;      // progress displays begun and not ended
  int summaries = 0;     // summary windows shown
  int32_t summary[5]{};  // the numbers of the last one
};
inline Windows& windows() {
  static Windows w;
  return w;
}
namespace quiet {
inline HOST_STDCALL int showMessage(const char*, const char*, int style) {
  if (style == 0x200) windows().waitShown = 1;
  return 0x5001;
}
inline HOST_STDCALL int showMessageList(int, const char*, const char*, int, va_list args) {
  Windows& w = windows();
  ++w.summaries;
  for (int32_t& n : w.summary) n = va_arg(args, int32_t);
  return 0x5001;
}
inline HOST_STDCALL int closeWaitMessage() {
  windows().waitShown = 0;
  return 0;
}
inline HOST_STDCALL int beginProgress(int) {
  ++windows().progress;
  return 0;
}
inline HOST_STDCALL int endProgress() {
  --windows().progress;
  return 0;
}
inline HOST_STDCALL int updateProgress(int, int) {
  return 0;
}
inline HOST_STDCALL int progressIdle(int) {
  return 0;
}
inline HOST_STDCALL int stopRequested() {
  return 0;
}
inline HOST_STDCALL int showTextFile(const char*) {
  return 0;
}
}  // namespace quiet

inline void quietWindows() {
  const std::map<int, void*> replaced = {
      {52028, reinterpret_cast<void*>(&quiet::showMessage)},
      {35804, reinterpret_cast<void*>(&quiet::showMessageList)},
      {52064, reinterpret_cast<void*>(&quiet::closeWaitMessage)},
      {52228, reinterpret_cast<void*>(&quiet::beginProgress)},
      {52230, reinterpret_cast<void*>(&quiet::endProgress)},
      {52232, reinterpret_cast<void*>(&quiet::updateProgress)},
      {52235, reinterpret_cast<void*>(&quiet::progressIdle)},
      {52460, reinterpret_cast<void*>(&quiet::stopRequested)},
      {52405, reinterpret_cast<void*>(&quiet::showTextFile)},
  };
  for (int i = 0; i < HOST_FUNCTION_COUNT; ++i) {
    auto it = replaced.find(hostOrdinalAt(i));
    if (it != replaced.end()) hostSlots[i] = it->second;
  }
}

inline HOST_STDCALL int hostCallback(int, int) {
  return 0;
}

// Binds the module as process attach does, then starts it through entry 30001, which records
// the host's table descriptors.
inline void startModule(const fs::path& shop) {
  velkar::resetHost();
  velkar::host().shopDir = shop;
  freshHost();
  static char self;
  if (!DllMain(&self, DLL_PROCESS_ATTACH, nullptr)) fail("the module did not bind");
  char title[64] = {0};
  if (pluginStart(&hostCallback, title) != 0) fail("the module did not start");
  quietWindows();
}

// The command's phases after the dialog, as the command runs them.
inline void runPhases(const char* rateFile, int format, int warehouse) {
  commandRun.choices.format.set(static_cast<int16_t>(format));
  if (readRateFile(rateFile, format) != 0) {
    releaseCommandRun();
    return;
  }
  buildExtraCodeIndex(warehouse);
  applyRates(warehouse);
  writeChangeReport();
}

// Every run: the host's memory given back, nothing left open, the lists empty, the windows
// closed, and the summary's numbers adding up.
inline void checkNothingLeft() {
  const velkar::Host& h = velkar::host();
  check(h.liveBlocks.empty(), std::to_string(h.liveBlocks.size()) + " blocks not given back");
  check(h.badFrees == 0, "a block given back that the host never handed out");
  check(velkar::openTextFileCount() == 0, "a text file left open");
  check(velkar::openCursorCount() == 0, "a table cursor left open");
  check(velkar::badTextFileHandles() == 0, "a text-file call with a handle not open");
  const RateList& rateList = commandRun.rates;
  const ExtraCodeIndex& extraCodeIndex = commandRun.extraCodes;
  check(rateList.entries == nullptr && rateList.capacity == 0 && rateList.count == 0,
        "the rate list is not empty");
  check(extraCodeIndex.entries == nullptr && extraCodeIndex.capacity == 0 &&
            extraCodeIndex.count == 0,
        "the extra-code index is not empty");
  Windows& w = windows();
  check(w.waitShown == 0, "the waiting message is still shown");
  check(w.progress == 0, "a progress display begun and not ended");
  check(w.summaries <= 1, "more than one summary");
  const int32_t* n = w.summary;
  if (w.summaries) check(n[0] == n[1] + n[2] + n[3] + n[4], "the summary's numbers do not add up");
  w = Windows{};
}

// The host's VAT codes the module may write.
inline bool isVatCode(unsigned code) {
  return code == 5 || code == 3 || code == 15 || code == 18 || code == 33;
}

// One product record after a run against the same record before it: unchanged, or changed only
// in the field the format names, to a value the module may write there. cnCodeFrom is the text
// the CN codes came from (a changed CN code occurs in it).
inline void checkProduct(const unsigned char* before, const unsigned char* after, int format,
                         const std::string& cnCodeFrom, size_t index) {
  if (std::memcmp(before, after, PRODUCT_RECORD_SIZE) == 0) return;
  const size_t first = format == FORMAT_BARCODE_CN ? offsetof(ProductRecord, cnCode)
                                                   : offsetof(ProductRecord, newVatCode);
  const size_t last = format == FORMAT_BARCODE_CN ? first + CN_CODE_SIZE - 1 : first + 1;
  for (size_t b = 0; b < PRODUCT_RECORD_SIZE; ++b)
    if ((b < first || b > last) && before[b] != after[b])
      fail("product " + std::to_string(index) + " changed at byte " + std::to_string(b));
  if (format == FORMAT_BARCODE_CN) {
    const char* cn = reinterpret_cast<const char*>(after + first);
    const size_t length = strnlen(cn, CN_CODE_SIZE);
    check(length <= CN_CODE_CHARS, "a CN code without its zero byte");
    check(cnCodeFrom.find(std::string(cn, length)) != std::string::npos,
          "a CN code the rate file does not give");
  } else {
    check(isVatCode(after[first] | after[first + 1] << 8), "a VAT code the module does not use");
  }
}

}  // namespace fuzz
