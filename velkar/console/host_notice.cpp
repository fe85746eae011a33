#include "velkar/console/host_notice.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/shop/shop.h"
#include "velkar/console/ui.h"

namespace fs = std::filesystem;

namespace velkar {
namespace {

constexpr int OPEN_TABLE_CURSOR = 52278;

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// What the host knows of one of its files by its name: a warehouse's product file (MMMnnn.MGR)
// or the additional-code file.
struct OwnFile {
  std::string polishName, englishName;
  long recordSize;
};

bool ownFile(const std::string& name, OwnFile& out) {
  const std::string n = upper(fs::path(name).filename().string());
  if (n == upper(shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER))) {
    out = {"plik kodów dodatkowych " + n, "the additional-code file " + n,
           shop::EXTRA_CODE_RECORD_SIZE};
    return true;
  }
  if (n.size() > 7 && n.rfind("MMM", 0) == 0 && n.compare(n.size() - 4, 4, ".MGR") == 0) {
    const std::string digits = n.substr(3, n.size() - 7);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::string warehouse = std::to_string(std::stol(digits));
    out = {"plik towarów magazynu " + warehouse + " (" + n + ")",
           "the product file of warehouse " + warehouse + " (" + n + ")",
           shop::PRODUCT_RECORD_SIZE};
    return true;
  }
  return false;
}

}  // namespace

void showNotice(const std::string& polish, const std::string& english) {
  if (ui::interactive()) {
    ui::showMessage("VELKAR", codepage::fromUtf8(polish, codepage::MAZOVIA), 1);
    return;
  }
  ui::out().flush();
  std::cerr << "velkar: " << english << std::endl;
}

void noticeOwnFile(int ordinal, const std::vector<std::string>& args) {
  if (ordinal != OPEN_TABLE_CURSOR || args.size() < 4) return;
  const std::string& quoted = args[3];
  if (quoted.size() < 2 || quoted.front() != '"') return;
  const std::string name = quoted.substr(1, quoted.size() - 2);
  OwnFile file;
  if (!ownFile(name, file)) return;
  fs::path path(name);
  if (path.is_relative() && !host().shopDir.empty()) path = host().shopDir / path;
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    hostNotice("Brak pliku: " + file.polishName + " nie istnieje w folderze sklepu.",
               file.englishName + " does not exist in the shop folder");
    return;
  }
  std::FILE* f = std::fopen(path.string().c_str(), "r+b");
  if (!f) {
    hostNotice("Nie można otworzyć pliku: " + file.polishName + ".",
               file.englishName + " cannot be opened for reading and writing");
    return;
  }
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::fclose(f);
  if (size >= 0 && size % file.recordSize == 0) return;
  // The host's table functions say so on standard error themselves; the window is for the user.
  if (ui::interactive())
    hostNotice("Plik uszkodzony: " + file.polishName + " ma " + std::to_string(size) +
                   " bajtów, a to nie jest wielokrotność długości rekordu (" +
                   std::to_string(file.recordSize) + " bajtów).",
               "");
}

namespace {

NoticeHook shown(&showNotice);
CallHook watched(nullptr, &noticeOwnFile);

}  // namespace

}  // namespace velkar
