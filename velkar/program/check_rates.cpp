// velkar check-rates: the plug-in asked, line by line, what it makes of a rate file.
//
// The plug-in is run in this process the way `velkar run` runs it (load, entry 30001, entry
// 30008, its command with scripted answers, withdrawal), each time on a scratch shop of its own:
//
// 1. The reading run: the file as it is, over an empty warehouse. The call journal shows, line
//    by line, what the host handed the plug-in (getField's line) and the key it took from it
//    (the text it converted with convertCharset); the summary tells how many lines it stored.
// 2. The line runs: the lines that gave a key, each over a product that carries that key as its
//    barcode (formats 0, 2) or name (format 1) and holds a value no rate writes. Lines that could
//    reach each other's products (the same key; in format 1 a key within another) go to separate
//    runs. A line is accepted when the report names its key; the product shows what it wrote.
// 3. The table run: lines with the rates 0 to 100 and "zw" show the plug-in's rate-to-code table.
// 4. With --shop, two runs on copies of the warehouse's files: the file as it is (the report's
//    counts per line), and the accepted lines with a rate that has a code over products that hold
//    a value no line writes (the products that no line reaches keep it).
#include "velkar/program/check_rates.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/core/module_entries.h"
#include "velkar/loader/loader.h"
#include "velkar/program/args.h"
#include "velkar/console/ui.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#endif

namespace fs = std::filesystem;

namespace velkar::checkrates {

const Warning* Result::warning(const std::string& id) const {
  for (const Warning& w : warnings)
    if (w.id == id) return &w;
  return nullptr;
}

namespace {

constexpr const char* RATE_FILE = "STAWKI.CSV";
constexpr int SCRATCH_WAREHOUSE = 1;
constexpr uint16_t UNTOUCHED_CODE = 0xFFFF;   // a new VAT code no rate writes
constexpr unsigned char UNTOUCHED_CN = 0xFF;  // CN code bytes no line writes (no terminator)
constexpr size_t KEY_CHARS = 40;              // what a key holds
constexpr size_t LINE_CHARS = 255;            // what the host hands over of a line

// ---- scratch folders ---------------------------------------------------------------------------

// A temporary folder, removed with everything in it when this ends.
class Scratch {
 public:
  bool make(std::string& error) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() / ("velkar-check-rates-" + std::to_string(random() % 1000000));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) {
        root_ = candidate;
        return true;
      }
    }
    error = "no temporary folder could be made in " + fs::temp_directory_path().string();
    return false;
  }
  ~Scratch() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  // A fresh, empty folder inside.
  fs::path folder(const std::string& name) {
    const fs::path dir = root_ / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    return dir;
  }

 private:
  fs::path root_;
};

bool writeBytes(const fs::path& file, const std::string& bytes, std::string& error) {
  std::ofstream out(file, std::ios::binary);
  out << bytes;
  if (!out.flush()) {
    error = "cannot write " + file.string();
    return false;
  }
  return true;
}

std::string readBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- one run of the plug-in's command -----------------------------------------------------------

struct NullBuffer : std::streambuf {
  int overflow(int c) override { return traits_type::not_eof(c); }
};

struct ModuleRun {
  std::vector<Call> journal;
  std::vector<ui::Shown> shown;
  std::string report;  // zmianavat.txt as written (host code page); empty when none
};

// Loads the plug-in into `dir` as the host does and runs its command with the answers: accept
// the explanation, the rate file in `format`, the warehouse. The windows it shows go nowhere; what
// the host says on standard error is kept for an error.
bool runModule(const fs::path& pluginPath, const fs::path& dir, int format, int warehouse,
               ModuleRun& out, std::string& error) {
  resetHost();
  NullBuffer nothing;
  std::ostream sink(&nothing);
  std::ostringstream said;
  std::streambuf* const standardError = std::cerr.rdbuf(said.rdbuf());
  ui::setOutput(&sink);
  ui::setStyle(ui::Style::Plain);
  ui::setScript(
      {"message ok",
       "dialog file=" + std::string(RATE_FILE) + " format=" + std::to_string(format) + " ok",
       "warehouse " + std::to_string(warehouse)});
  std::error_code ec;
  const fs::path startedIn = fs::current_path(ec);
  fs::current_path(dir, ec);
  host().shopDir = dir;

  const bool ok = [&] {
    if (ec) {
      error = "cannot work in " + dir.string() + ": " + ec.message();
      return false;
    }
    auto plugin = loadPlugin(pluginPath.string(), error);
    if (!plugin) {
      error = "the plug-in " + pluginPath.string() + " did not load: " + error;
      return false;
    }
    auto start = reinterpret_cast<StartEntry>(plugin->entry(30001));
    auto notify = reinterpret_cast<NotifyEntry>(plugin->entry(30008));
    if (!start || !notify) {
      error = pluginPath.string() + " is not a plug-in of this host";
      return false;
    }
    char title[64] = {};
    if (start(&fn::hostCallback, title) != 0) {
      notify(1);
      start(nullptr, nullptr);
      error = "the plug-in did not start in this host";
      return false;
    }
    notify(0);
    if (host().commands.empty()) {
      error = "the plug-in registered no command";
      start(nullptr, nullptr);
      return false;
    }
    const CommandRoutine routine = readCommandRecord(host().commands.front()).routine;
    std::string fault;
    if (!callCatchingFaults([&] { routine(); }, fault)) {
      error = "the plug-in's command ended with an " + fault;
      (void)plugin.release();  // not called again
      return false;
    }
    start(nullptr, nullptr);
    return true;
  }();

  out.journal = host().journal;
  out.shown = ui::shown();
  out.report = readBytes(dir / shop::REPORT_FILE);
  fs::current_path(startedIn, ec);
  std::cerr.rdbuf(standardError);
  resetHost();
  host().shopDir.clear();
  if (!ok && !said.str().empty()) error += "\n" + said.str();
  return ok;
}

// ---- what the run shows -------------------------------------------------------------------------

std::string unquote(const std::string& arg) {
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"')
    return arg.substr(1, arg.size() - 2);
  return {};
}

// One line as the journal shows the plug-in reading it.
struct SeenLine {
  std::string text;                       // the line getField was given
  std::optional<std::string> keyWindows;  // the key it converted, before conversion
};

// The lines of the rate file in the order the plug-in read them, from the journal of its calls
// between opening and closing the file.
std::vector<SeenLine> linesRead(const std::vector<Call>& journal) {
  std::vector<SeenLine> out;
  bool reading = false;
  for (const Call& c : journal) {
    if (c.name == "openTextFile" && c.args.size() >= 2 && unquote(c.args[1]) == "rt") {
      reading = true;
      out.clear();
      continue;
    }
    if (!reading) continue;
    if (c.name == "closeTextFile") break;
    if (c.name == "getField" && c.args.size() >= 2 && c.args[0] == "0")
      out.push_back({unquote(c.args[1]), std::nullopt});
    else if (c.name == "convertCharset" && c.args.size() >= 3 && !out.empty())
      out.back().keyWindows = unquote(c.args[2]);
  }
  return out;
}

// The count of lines read, from the summary the plug-in showed; -1 when it showed none.
int summaryRead(const std::vector<ui::Shown>& shown) {
  static const std::string label = "odczytana z pliku:";
  for (const ui::Shown& s : shown) {
    const size_t at = s.text.find(label);
    if (at == std::string::npos) continue;
    size_t i = at + label.size();
    while (i < s.text.size() && (s.text[i] == ' ' || s.text[i] == '\t')) ++i;
    int n = 0;
    bool any = false;
    for (; i < s.text.size() && s.text[i] >= '0' && s.text[i] <= '9'; ++i, any = true)
      n = n * 10 + (s.text[i] - '0');
    if (any) return n;
  }
  return -1;
}

struct ReportLine {
  std::string key;  // host code page
  int rate = 0, changed = 0, unchanged = 0;
};

// The lines of zmianavat.txt for entries that matched a product, in list order.
std::vector<ReportLine> parseReport(const std::string& text) {
  std::vector<ReportLine> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t arrow = line.rfind(" -> ");
    if (arrow == std::string::npos) continue;
    ReportLine r;
    r.key = line.substr(0, arrow);
    int used = 0;
    if (std::sscanf(line.c_str() + arrow + 4, "%d zmiany: %d, brak zmian: %d%n", &r.rate,
                    &r.changed, &r.unchanged, &used) == 3 &&
        static_cast<size_t>(used) == line.size() - arrow - 4)
      out.push_back(r);
  }
  return out;
}

std::string toHostCodePage(const std::string& windows) {
  std::string out = windows;
  for (char& c : out)
    c = static_cast<char>(codepage::convertByte(static_cast<unsigned char>(c),
                                                codepage::WINDOWS_1250, codepage::MAZOVIA));
  return out;
}

// How the plug-in compares keys: barcodes with ASCII letters' case ignored; name fragments in
// the host's normalised form (the stand-in's default: letters folded to capitals).
std::string matchForm(const std::string& key, int format) {
  std::string out = key;
  for (char& c : out) {
    const unsigned char b = static_cast<unsigned char>(c);
    c = format == 1 ? static_cast<char>(codepage::foldCase(b))
                    : static_cast<char>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
  }
  return out;
}

// A product of the scratch shop that carries a key where the format looks for it.
std::vector<unsigned char> scratchProduct(int number, const std::string& key, int format) {
  std::vector<unsigned char> record(shop::PRODUCT_RECORD_SIZE, 0);
  // Keys hold at most 40 characters: they fit the name, and the barcode that runs from byte 123.
  const size_t at =
      format == 1 ? shop::ProductFields::name.offset : shop::ProductFields::barcode.offset;
  std::memcpy(record.data() + at, key.data(), std::min(key.size(), size_t{120}));
  if (format == 2)
    std::memset(record.data() + shop::ProductFields::cnCode.offset, UNTOUCHED_CN,
                shop::ProductFields::cnCode.size);
  else
    shop::setInt(record.data(), shop::ProductFields::newVatCode, UNTOUCHED_CODE);
  shop::setInt(record.data(), shop::ProductFields::number, number);
  return record;
}

struct Probe {
  std::string bytes;  // the line, without its line end
  std::string key;    // the key the plug-in takes from it (host code page)
};
struct Outcome {
  bool accepted = false;
  int rate = 0;
  std::optional<int> vatCode;
  std::string cnCode;
};

// Runs the plug-in over lines whose keys cannot reach each other's products, one product per
// line.
bool runLines(const Options& options, const fs::path& dir, const std::vector<Probe>& probes,
              std::vector<Outcome>& outcomes, std::string& error) {
  std::string file;
  std::vector<std::vector<unsigned char>> products;
  for (size_t i = 0; i < probes.size(); ++i) {
    file += probes[i].bytes + "\n";
    products.push_back(scratchProduct(static_cast<int>(i + 1), probes[i].key, options.format));
  }
  const fs::path productFile = dir / shop::warehouseFileName(SCRATCH_WAREHOUSE);
  if (!writeBytes(dir / RATE_FILE, file, error) ||
      !shop::writeRecords(productFile, products, error) ||
      !shop::writeRecords(dir / shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER), {}, error))
    return false;
  ModuleRun run;
  if (!runModule(options.plugin, dir, options.format, SCRATCH_WAREHOUSE, run, error)) return false;
  std::map<std::string, ReportLine> byKey;
  for (const ReportLine& r : parseReport(run.report)) byKey.emplace(r.key, r);
  std::vector<std::vector<unsigned char>> after;
  if (!shop::readRecords(productFile, shop::PRODUCT_RECORD_SIZE, after, error)) return false;
  outcomes.assign(probes.size(), Outcome{});
  for (size_t i = 0; i < probes.size() && i < after.size(); ++i) {
    auto it = byKey.find(probes[i].key);
    if (it == byKey.end()) continue;
    Outcome& o = outcomes[i];
    o.accepted = true;
    o.rate = it->second.rate;
    if (options.format == 2) {
      o.cnCode = shop::getText(after[i].data(), shop::ProductFields::cnCode);
    } else {
      const auto code = shop::getInt(after[i].data(), shop::ProductFields::newVatCode);
      if (code != UNTOUCHED_CODE) o.vatCode = static_cast<int>(code);
    }
  }
  return true;
}

std::vector<std::string> splitLines(const std::string& bytes) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

// ---- the shape of lines (the checker's own reading, for reasons and warnings) ------------------

std::vector<std::string> commaFields(const std::string& line) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t comma = line.find(',', start);
    out.push_back(
        line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), isDigit);
}
bool isBlank(char c) {
  return c == ' ' || c == '\t' || static_cast<unsigned char>(c) == 0xA0;
}
int letters(const std::string& s) {
  int n = 0;
  for (unsigned char c : s) n += std::isalpha(c) || c >= 0x80;
  return n;
}
std::string trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && isBlank(s[a])) ++a;
  while (b > a && isBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// An EAN-8 or EAN-13 whose check digit is right.
bool validEan(const std::string& code) {
  if (!allDigits(code) || (code.size() != 8 && code.size() != 13)) return false;
  int sum = 0;
  const size_t n = code.size();
  for (size_t i = 0; i + 1 < n; ++i) sum += (code[i] - '0') * ((n - 1 - i) % 2 ? 3 : 1);
  return (10 - sum % 10) % 10 == code[n - 1] - '0';
}

bool validUtf8WithMultibyte(const std::string& bytes, bool& anyMultibyte) {
  anyMultibyte = false;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || (n == 2 && b < 0xC2) || i + n > bytes.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    anyMultibyte |= n > 1;
    i += n;
  }
  return true;
}

bool looksScientific(const std::string& s) {
  for (size_t i = 0; i + 3 < s.size(); ++i) {
    if (!isDigit(s[i]) || (s[i + 1] != ',' && s[i + 1] != '.')) continue;
    size_t j = i + 2;
    while (j < s.size() && isDigit(s[j])) ++j;
    if (j == i + 2 || j + 1 >= s.size() || (s[j] != 'E' && s[j] != 'e')) continue;
    ++j;
    if (s[j] == '+') ++j;
    if (j < s.size() && isDigit(s[j])) return true;
  }
  return false;
}

std::string display(const std::string& windowsBytes) {
  std::string s = windowsBytes.size() > 60 ? windowsBytes.substr(0, 57) + "..." : windowsBytes;
  return codepage::toUtf8(s, codepage::WINDOWS_1250);
}

// Column names: a line before the first accepted one whose fields are words, not a barcode and
// a rate (or a CN code).
bool looksLikeHeading(const LineReport& line, int format, int firstAccepted) {
  if (firstAccepted != 0 && line.number > firstAccepted) return false;
  auto f = commaFields(line.seen);
  if (f.size() < 2) {
    // Column names with another separator are a heading too.
    const size_t cut = line.seen.find_first_of(";\t");
    if (cut == std::string::npos) return false;
    f = {line.seen.substr(0, cut), line.seen.substr(cut + 1)};
  }
  if (letters(f[1]) < 2) return false;
  if (format != 2) return f[1][0] != 'z' && f[1][0] != 'Z' && !isDigit(f[1][0]);
  return letters(f[0]) >= 2 && std::none_of(f[0].begin(), f[0].end(), isDigit);
}

// Why the plug-in left a line out, as far as its shape tells.
std::string skipReason(const LineReport& line, int format, int firstAccepted) {
  const std::string& t = line.seen;
  if (line.bytes.empty()) return "empty line";
  if (trimmed(line.bytes).empty()) return "only blanks";
  if (t[0] == ',') return "no key: the line begins with a comma";
  const size_t comma = t.find(',');
  if (comma == std::string::npos) {
    if (line.bytes.find(',') != std::string::npos)
      return "its first comma stands after character " + std::to_string(LINE_CHARS) +
             ", and the host hands over no more of a line";
    if (t.find(';') != std::string::npos) return "no comma: \";\" separates the fields";
    if (t.find('\t') != std::string::npos) return "no comma: a tab separates the fields";
    return "no comma: the line has no second field";
  }
  if (format == 2) return "not read";
  const std::string rate = commaFields(t)[1];
  if (rate.empty()) return "the rate is empty";
  if (isBlank(rate[0])) return "the rate begins with a blank";
  if (rate[0] == '-' || rate[0] == '+') return "the rate has a sign";
  if (rate[0] == '"') return "the rate is in quotes";
  if (looksLikeHeading(line, format, firstAccepted))
    return "a heading line: the rate \"" + display(rate) + "\" is no number";
  return "the rate \"" + display(rate) + "\" is neither a number nor a word beginning with z";
}

void addWarning(Result& result, const std::string& id, const std::string& text,
                std::vector<int> lines = {}) {
  result.warnings.push_back({id, text, std::move(lines)});
}

std::string lineList(const std::vector<int>& lines) {
  std::string out = lines.size() == 1 ? "line " : "lines ";
  for (size_t i = 0; i < lines.size() && i < 10; ++i)
    out += (i ? ", " : "") + std::to_string(lines[i]);
  if (lines.size() > 10) out += " and " + std::to_string(lines.size() - 10) + " more";
  return out;
}

int firstAccepted(const Result& result) {
  for (const LineReport& l : result.lines)
    if (l.accepted) return l.number;
  return 0;
}

void findWarnings(const std::string& bytes, const Options& options, Result& result) {
  const int format = options.format;
  const bool rates = format != 2;
  auto collect = [&](auto&& test) {
    std::vector<int> out;
    for (const LineReport& l : result.lines)
      if (test(l)) out.push_back(l.number);
    return out;
  };
  auto warn = [&](const std::string& id, const std::vector<int>& lines, const std::string& text) {
    if (!lines.empty()) addWarning(result, id, lineList(lines) + ": " + text, lines);
  };

  warn("semicolon", collect([](const LineReport& l) {
         return l.seen.find(';') != std::string::npos &&
                (!l.accepted || l.key.find(';') != std::string::npos);
       }),
       "\";\" between fields. The plug-in separates fields only at \",\" (a spreadsheet with "
       "Polish settings saves \";\"). Save as comma-separated, or replace \";\" with \",\".");
  warn("tab", collect([](const LineReport& l) {
         return l.seen.find('\t') != std::string::npos &&
                (!l.accepted || l.key.find('\t') != std::string::npos);
       }),
       "a tab between fields. The plug-in separates fields only at \",\". Save as "
       "comma-separated.");
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
    addWarning(result, "bom",
               "The file begins with a byte-order mark (EF BB BF). The plug-in takes those three "
               "bytes into the first line's key, which then matches no product. Save the file "
               "without it (\"ANSI\" / Windows-1250).",
               {1});
  if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0)
    addWarning(result, "utf16",
               "The file is UTF-16 (\"Unicode\"). The plug-in reads Windows-1250 and finds no "
               "usable key in it. Save as Windows-1250 (\"ANSI\").");
  bool multibyte = false;
  if (validUtf8WithMultibyte(bytes, multibyte) && multibyte)
    addWarning(result, "utf8",
               "The file is UTF-8. The plug-in reads Windows-1250: each Polish letter becomes two "
               "characters (\"\xC4\x85\" reads as \"\xC3\x84\xE2\x80\xA6\"), so keys with such "
               "letters match nothing. Save as Windows-1250 (\"ANSI\").");
  warn("scientific", collect([](const LineReport& l) { return looksScientific(l.bytes); }),
       "a barcode in scientific notation (such as \"5,90123E+12\"), as a spreadsheet shows long "
       "numbers: its digits are lost. Format the column as text before saving.");
  if (format != 1)
    warn("lost-zeros", collect([](const LineReport& l) {
           const std::string k = l.accepted ? l.key : std::string();
           return allDigits(k) && (k.size() == 12 || k.size() == 7) && validEan("0" + k);
         }),
         "a barcode of 12 or 7 digits that is a whole EAN-13 or EAN-8 with a \"0\" in front: a "
         "spreadsheet drops leading zeros from numbers. Format the column as text.");
  if (rates) {
    warn("fraction", collect([](const LineReport& l) {
           if (!l.accepted || l.rate != 0) return false;
           const auto f = commaFields(l.seen);
           const std::string& r = f[1];
           return (r == "0" && f.size() > 2 && allDigits(trimmed(f[2]).substr(0, 1))) ||
                  (r.size() > 2 && r[0] == '0' && (r[1] == '.' || r[1] == ',') && isDigit(r[2]));
         }),
         "a rate written as a fraction (\"0,23\", \"0.08\"). The plug-in reads the digits before "
         "the decimal sign: 0 %. Write rates in percent: 23, 8, 5, 0, zw.");
    warn("percent", collect([](const LineReport& l) {
           const auto f = commaFields(l.seen);
           return f.size() > 1 && f[1].find('%') != std::string::npos;
         }),
         "a rate with \"%\". The plug-in reads the digits before it (\"8%\" is 8), so this "
         "works, but a blank before \"%\" or a decimal part is read the same way.");
    std::set<int> codeless;
    const auto noCode = collect([&](const LineReport& l) {
      if (!l.accepted || l.vatCode) return false;
      codeless.insert(l.rate);
      return true;
    });
    std::string list;
    int listed = 0;
    for (int r : codeless)
      if (++listed <= 10) list += (list.empty() ? "" : ", ") + std::to_string(r);
    if (listed > 10) list += " ...";
    warn("no-vat-code", noCode,
         "a rate with no VAT code (" + list +
             "). The plug-in writes nothing for it; its products count as \"ta sama stawka\" "
             "(unchanged).");
  }
  if (format == 2) {
    warn("long-cn", collect([](const LineReport& l) {
           const auto f = commaFields(l.seen);
           return l.accepted && f.size() > 1 && f[1].size() > 14;
         }),
         "a CN code over 14 characters. The plug-in keeps its first 14 characters.");
    warn("empty-cn", collect([](const LineReport& l) { return l.accepted && l.cnCode.empty(); }),
         "an empty CN code. The plug-in empties the CN code of every product the line reaches.");
  }
  warn("blanks", collect([](const LineReport& l) {
         const std::string k = l.accepted ? l.key : commaFields(l.seen)[0];
         return !k.empty() && (isBlank(k.front()) || isBlank(k.back()));
       }),
       "blanks around the key. The plug-in keeps them, so the key matches no barcode (and in "
       "names only where the blank stands). Remove them.");
  warn("quotes", collect([](const LineReport& l) { return !l.seen.empty() && l.seen[0] == '"'; }),
       "fields in double quotes. The plug-in keeps the quotes in the key. Save without quotes.");
  warn("long-key", collect([](const LineReport& l) {
         return l.accepted && commaFields(l.seen)[0].size() > KEY_CHARS;
       }),
       "a key over 40 characters. The plug-in keeps its first 40 characters.");
  warn("long-line", collect([](const LineReport& l) { return l.bytes.size() > LINE_CHARS; }),
       "a line over 255 characters. The host hands over only its first 255 characters.");
  warn("repeated-key", collect([](const LineReport& l) { return l.repeats != 0; }),
       "a key already given on an earlier line (letter case aside). Only the first line with a "
       "key ever applies; the later ones count as unidentified.");
  if (format == 1)
    warn("name-within-name", collect([](const LineReport& l) { return l.shadowedBy != 0; }),
         "a name fragment that contains the fragment of an earlier line. Every product it could "
         "reach takes the earlier line first, so this line never applies. Put longer fragments "
         "first.");
  const auto headings = collect(
      [&](const LineReport& l) { return looksLikeHeading(l, format, firstAccepted(result)); });
  warn("heading", headings,
       format == 2 ? "a heading line. In format 2 the plug-in reads it as a barcode and a CN code, "
                     "and it counts as unidentified. Remove it."
                   : "a heading line. The plug-in skips it (its rate is no number); it does no "
                     "harm.");
  if (bytes.find('\n') == std::string::npos && bytes.find('\r') != std::string::npos)
    addWarning(result, "cr-lines",
               "Lines end in CR alone. The host ends lines at LF: the whole file is one line. Save "
               "with CR LF line ends.");

  // The file may be meant for another format.
  int accepted = 0, digitKeys = 0, letterKeys = 0, rateLike = 0;
  for (const LineReport& l : result.lines) {
    if (!l.accepted) continue;
    ++accepted;
    digitKeys += allDigits(l.key);
    letterKeys += letters(l.key) >= 3;
    rateLike += format == 2 && (l.cnCode.size() <= 2 || l.cnCode[0] == 'z' || l.cnCode[0] == 'Z');
  }
  if (accepted > 0 && format == 1 && digitKeys * 2 > accepted)
    addWarning(result, "format",
               "Most keys are numbers: is this a barcode file (--format 0)? In format 1 they are "
               "looked for within product names.");
  if (accepted > 0 && format != 1 && letterKeys * 2 > accepted)
    addWarning(result, "format",
               "Most keys hold letters: is this a name-fragment file (--format 1)? In format " +
                   std::to_string(format) + " they are compared with barcodes.");
  if (accepted > 0 && format == 2 && rateLike * 2 > accepted)
    addWarning(result, "format",
               "Most CN codes look like VAT rates: is this a rate file (--format 0)? In format 2 "
               "the second field is written as the CN code.");
}

// ---- the check ---------------------------------------------------------------------------------

bool dryRun(const Options& options, const std::string& bytes, Scratch& scratch, Result& result,
            std::string& error) {
  const fs::path productFile = *options.shop / shop::warehouseFileName(options.warehouse);
  const fs::path codesFile = *options.shop / shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER);
  std::vector<std::vector<unsigned char>> products, codes;
  std::error_code ec;
  if (!fs::is_regular_file(productFile, ec)) {
    error = "warehouse " + std::to_string(options.warehouse) + " of " + options.shop->string() +
            " has no product file (" + productFile.filename().string() + ")";
    return false;
  }
  if (!shop::readRecords(productFile, shop::PRODUCT_RECORD_SIZE, products, error)) return false;
  if (fs::exists(codesFile, ec) &&
      !shop::readRecords(codesFile, shop::EXTRA_CODE_RECORD_SIZE, codes, error))
    return false;
  result.dryRun = true;
  result.productCount = static_cast<int>(products.size());

  auto prepare = [&](const std::string& name, const std::vector<std::vector<unsigned char>>& recs,
                     const std::string& file, fs::path& dir) {
    dir = scratch.folder(name);
    return shop::writeRecords(dir / productFile.filename(), recs, error) &&
           shop::writeRecords(dir / codesFile.filename(), codes, error) &&
           writeBytes(dir / RATE_FILE, file, error);
  };

  // The file as it is: what each line changes.
  ModuleRun run;
  fs::path dir;
  if (!prepare("shop", products, bytes, dir) ||
      !runModule(options.plugin, dir, options.format, options.warehouse, run, error))
    return false;
  const std::vector<ReportLine> report = parseReport(run.report);
  size_t next = 0;
  for (LineReport& l : result.lines) {
    if (!l.accepted) continue;
    l.changes = 0;
    if (next < report.size() && report[next].key == l.key) {
      l.changes = report[next].changed;
      l.holds = report[next].unchanged;
      ++next;
    }
  }

  // Keys that reach nothing but are a product's barcode without its leading zeros.
  std::map<std::string, std::string> withoutZeros;
  for (const auto& record : products) {
    const std::string barcode = shop::getText(record.data(), shop::ProductFields::barcode);
    const size_t first = barcode.find_first_not_of('0');
    if (first != 0 && first != std::string::npos && allDigits(barcode))
      withoutZeros.emplace(barcode.substr(first), barcode);
  }
  std::vector<int> zerosLost;
  std::string example;
  for (const LineReport& l : result.lines)
    if (l.accepted && l.changes == 0 && l.holds == 0 && withoutZeros.count(l.key)) {
      zerosLost.push_back(l.number);
      if (example.empty()) example = l.key + "\" is the product's \"" + withoutZeros[l.key];
    }
  if (!zerosLost.empty())
    addWarning(result, "lost-zeros-shop",
               lineList(zerosLost) + ": the key reaches no product, but it is a barcode of the " +
                   "warehouse without its leading zeros (\"" + example +
                   "\"). Format the column as text.",
               zerosLost);

  // The accepted lines, each with a value that is written, over products that hold a value no
  // line writes: the products still holding it are the ones no line reaches.
  std::string value = "X";
  if (options.format != 2) {
    value.clear();
    for (const auto& [rate, code] : result.vatCodes)
      if (rate >= 0 && (value.empty() || rate == 23)) value = std::to_string(rate);
    if (value.empty()) {
      result.note =
          "The plug-in wrote no VAT code for any rate, so the products no line reaches "
          "cannot be told.";
      return true;
    }
  }
  std::string reach;
  for (const LineReport& l : result.lines)
    if (l.accepted) reach += l.seen.substr(0, l.seen.find(',')) + "," + value + "\n";
  std::vector<std::vector<unsigned char>> marked = products;
  for (auto& record : marked) {
    if (options.format == 2)
      std::memset(record.data() + shop::ProductFields::cnCode.offset, UNTOUCHED_CN,
                  shop::ProductFields::cnCode.size);
    else
      shop::setInt(record.data(), shop::ProductFields::newVatCode, UNTOUCHED_CODE);
  }
  ModuleRun reachRun;
  fs::path reachDir;
  if (!prepare("reach", marked, reach, reachDir) ||
      !runModule(options.plugin, reachDir, options.format, options.warehouse, reachRun, error))
    return false;
  std::vector<std::vector<unsigned char>> after;
  if (!shop::readRecords(reachDir / productFile.filename(), shop::PRODUCT_RECORD_SIZE, after,
                         error))
    return false;
  for (size_t i = 0; i < after.size() && i < marked.size(); ++i)
    if (after[i] == marked[i]) result.unreached.push_back(shop::decodeProduct(products[i].data()));
  return true;
}

}  // namespace

bool checkRates(const Options& options, Result& result, std::string& error) {
  result = Result{};
  std::string bytes;
  if (!shop::readWholeFile(options.file, bytes, error)) return false;
  std::error_code ec;
  if (!fs::is_regular_file(options.plugin, ec)) {
    error = "no plug-in " + options.plugin.string();
    return false;
  }
  Scratch scratch;
  if (!scratch.make(error)) return false;
  const int format = options.format;

  // 1. The reading run.
  const fs::path readDir = scratch.folder("read");
  ModuleRun reading;
  if (!writeBytes(readDir / RATE_FILE, bytes, error) ||
      !shop::writeRecords(readDir / shop::warehouseFileName(SCRATCH_WAREHOUSE), {}, error) ||
      !shop::writeRecords(readDir / shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER), {}, error) ||
      !runModule(options.plugin, readDir, format, SCRATCH_WAREHOUSE, reading, error))
    return false;
  const std::vector<SeenLine> seen = linesRead(reading.journal);
  const int storedByModule = summaryRead(reading.shown);
  const std::vector<std::string> fileLines = splitLines(bytes);
  for (size_t i = 0; i < std::max(seen.size(), fileLines.size()); ++i) {
    LineReport l;
    l.number = static_cast<int>(i + 1);
    if (i < fileLines.size()) l.bytes = fileLines[i];
    if (i < seen.size()) {
      l.seen = seen[i].text;
      if (seen[i].keyWindows) l.key = toHostCodePage(*seen[i].keyWindows);
    }
    result.lines.push_back(l);
  }

  // 2. The line runs. Lines the host hands over alike fare alike: one of each is run.
  std::map<std::string, size_t> firstOfText;
  std::vector<size_t> runOf(result.lines.size(), SIZE_MAX);
  std::vector<std::vector<size_t>> batches;
  std::vector<std::set<std::string>> batchForms;
  for (size_t i = 0; i < result.lines.size(); ++i) {
    const LineReport& l = result.lines[i];
    if (l.key.empty()) continue;
    if (auto it = firstOfText.find(l.seen); it != firstOfText.end()) {
      runOf[i] = it->second;
      continue;
    }
    firstOfText.emplace(l.seen, i);
    runOf[i] = i;
    const std::string form = matchForm(l.key, format);
    auto clashes = [&](const std::set<std::string>& forms) {
      if (format != 1) return forms.count(form) != 0;
      for (size_t a = 0; a < form.size(); ++a)
        for (size_t n = 1; a + n <= form.size(); ++n)
          if (forms.count(form.substr(a, n))) return true;
      return false;
    };
    size_t b = 0;
    while (b < batches.size() && clashes(batchForms[b])) ++b;
    if (b == batches.size()) {
      batches.emplace_back();
      batchForms.emplace_back();
    }
    batches[b].push_back(i);
    batchForms[b].insert(form);
  }
  auto runBatch = [&](const std::vector<size_t>& batch, const std::string& name) {
    std::vector<Probe> probes;
    for (size_t i : batch) probes.push_back({result.lines[i].bytes, result.lines[i].key});
    std::vector<Outcome> outcomes;
    if (!runLines(options, scratch.folder(name), probes, outcomes, error)) return false;
    for (size_t k = 0; k < batch.size(); ++k) {
      LineReport& l = result.lines[batch[k]];
      l.accepted = outcomes[k].accepted;
      l.rate = outcomes[k].rate;
      l.vatCode = outcomes[k].vatCode;
      l.cnCode = outcomes[k].cnCode;
    }
    return true;
  };
  for (size_t b = 0; b < batches.size(); ++b)
    if (!runBatch(batches[b], "lines" + std::to_string(b))) return false;
  auto spread = [&] {
    int accepted = 0;
    for (size_t i = 0; i < result.lines.size(); ++i) {
      LineReport& l = result.lines[i];
      if (runOf[i] != SIZE_MAX && runOf[i] != i) {
        const LineReport& same = result.lines[runOf[i]];
        l.accepted = same.accepted;
        l.rate = same.rate;
        l.vatCode = same.vatCode;
        l.cnCode = same.cnCode;
      }
      accepted += l.accepted;
    }
    return accepted;
  };
  result.accepted = spread();
  // The runs must account for every line the plug-in stored; if they do not, the lines found
  // wanting are asked again one by one.
  if (storedByModule >= 0 && result.accepted != storedByModule) {
    for (size_t i = 0; i < result.lines.size(); ++i)
      if (runOf[i] == i && !result.lines[i].accepted &&
          !runBatch({i}, "line" + std::to_string(i + 1)))
        return false;
    result.accepted = spread();
    if (result.accepted != storedByModule)
      result.note = "The plug-in stored " + std::to_string(storedByModule) +
                    " lines, but the lines could be told apart for only " +
                    std::to_string(result.accepted) + ".";
  }

  // Repeated keys, and in format 1 fragments within earlier fragments.
  std::map<std::string, int> firstWithForm;
  for (LineReport& l : result.lines) {
    if (!l.accepted) {
      l.reason = skipReason(l, format, firstAccepted(result));
      continue;
    }
    const std::string form = matchForm(l.key, format);
    if (auto it = firstWithForm.find(form); it != firstWithForm.end()) {
      l.repeats = it->second;
      continue;
    }
    if (format == 1)
      for (size_t a = 0; a < form.size() && !l.shadowedBy; ++a)
        for (size_t n = 1; a + n <= form.size() && !l.shadowedBy; ++n)
          if (auto it = firstWithForm.find(form.substr(a, n)); it != firstWithForm.end())
            l.shadowedBy = it->second;
    firstWithForm.emplace(form, l.number);
  }

  // 3. The table run.
  if (format != 2) {
    std::vector<Probe> probes;
    for (int rate = 0; rate <= 100; ++rate) {
      char key[16];  // room for any int, as the compiler sees the range
      std::snprintf(key, sizeof key, "R%03d", rate);
      probes.push_back({std::string(key) + "," + std::to_string(rate), key});
    }
    probes.push_back({"RZW,zw", "RZW"});
    std::vector<Outcome> outcomes;
    if (!runLines(options, scratch.folder("table"), probes, outcomes, error)) return false;
    for (size_t i = 0; i < probes.size(); ++i)
      if (outcomes[i].accepted && outcomes[i].vatCode)
        result.vatCodes[outcomes[i].rate] = *outcomes[i].vatCode;
  }

  findWarnings(bytes, options, result);

  // 4. The dry run.
  if (options.shop && !dryRun(options, bytes, scratch, result, error)) return false;
  return true;
}

namespace {

std::string rateName(int rate) {
  return rate < 0 ? "zw" : std::to_string(rate);
}

std::string keyText(const std::string& hostKey) {
  return "\"" + codepage::toUtf8(hostKey, codepage::MAZOVIA) + "\"";
}

const char* formatName(int format) {
  return format == 1   ? "name fragment and VAT rate"
         : format == 2 ? "barcode and CN code"
                       : "barcode and VAT rate";
}

}  // namespace

std::string describe(const Options& options, const Result& result) {
  std::ostringstream out;
  out << "Rate file " << options.file.string() << ", format " << options.format << " ("
      << formatName(options.format) << "), as the plug-in " << options.plugin.filename().string()
      << " reads it\n";
  if (options.format != 2) {
    out << "The plug-in's VAT codes: ";
    bool first = true;
    for (const auto& [rate, code] : result.vatCodes) {
      out << (first ? "" : ", ") << rateName(rate) << (rate < 0 ? "" : "%") << " -> " << code;
      first = false;
    }
    out << (first ? "none" : "; other rates have none") << "\n";
  }
  out << "\n";
  for (const LineReport& l : result.lines) {
    char number[16];
    std::snprintf(number, sizeof number, "line %4d  ", l.number);
    out << number;
    if (!l.accepted) {
      out << "skipped   " << l.reason;
      if (!l.bytes.empty()) out << ": \"" << display(l.bytes) << "\"";
      out << "\n";
      continue;
    }
    out << "accepted  " << keyText(l.key);
    if (options.format == 2)
      out << "  CN code \"" << codepage::toUtf8(l.cnCode, codepage::MAZOVIA) << "\"";
    else if (l.vatCode)
      out << "  rate " << rateName(l.rate) << "  -> VAT code " << *l.vatCode;
    else
      out << "  rate " << rateName(l.rate) << "  -> no VAT code: nothing written";
    if (l.repeats) out << "  (repeats line " << l.repeats << ": never applies)";
    if (l.shadowedBy) out << "  (line " << l.shadowedBy << " comes first: never applies)";
    if (l.changes >= 0) {
      if (l.changes == 0 && l.holds == 0)
        out << "  [reaches no product]";
      else
        out << "  [changes " << l.changes << ", already holds " << l.holds << "]";
    }
    out << "\n";
  }
  const int lines = static_cast<int>(result.lines.size());
  out << "\n"
      << lines << (lines == 1 ? " line" : " lines") << ": the plug-in reads " << result.accepted
      << ", skips " << lines - result.accepted << ".";
  int never = 0;
  for (const LineReport& l : result.lines) never += l.repeats != 0 || l.shadowedBy != 0;
  if (never) out << " Of the lines it reads, " << never << " never apply (see above).";
  out << "\n";
  if (!result.note.empty()) out << result.note << "\n";
  if (result.dryRun) {
    int changes = 0;
    for (const LineReport& l : result.lines) changes += std::max(0, l.changes);
    out << "\nDry run on a copy of warehouse " << options.warehouse << " of "
        << options.shop->string() << " (" << result.productCount << " products; the shop is not "
        << "touched): " << changes << " products would change.\n";
    out << "Products no line reaches: " << result.unreached.size() << "\n";
    for (const shop::ProductRow& p : result.unreached)
      out << "  nr " << p.number << "  \"" << p.name << "\"  "
          << (p.barcode.empty() ? "(no "
                                  "barcode)"
                                : p.barcode)
          << "\n";
  }
  if (!result.warnings.empty()) {
    out << "\nWarnings:\n";
    for (const Warning& w : result.warnings) out << "- " << w.text << "\n";
  }
  return out.str();
}

// ---- the terminal ----------------------------------------------------------------------------

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The host's own sets by name: none for another name.
std::optional<int> hostSet(const std::string& charset) {
  const std::string name = lowerCase(charset);
  if (name == "windows-1250" || name == "cp1250") return codepage::WINDOWS_1250;
  if (name == "mazovia") return codepage::MAZOVIA;
  return std::nullopt;
}

}  // namespace

void writeTerminal(const std::string& utf8, const std::string& charset) {
  if (auto set = hostSet(charset)) {
    std::cout << codepage::fromUtf8(utf8, *set) << std::flush;
    return;
  }
#ifdef _WIN32
  // A console takes the text as it is; elsewhere UTF-8, or the code page asked for.
  std::cout.flush();
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  const int wideLength =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                      wideLength);
  if (charset.empty() && GetConsoleMode(console, &mode)) {
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  UINT codePage = CP_UTF8;
  const std::string name = lowerCase(charset);
  if (name == "cp852" || name == "ibm852")
    codePage = 852;
  else if (name == "iso-8859-2")
    codePage = 28592;
  else if (auto n = program::parseInt(charset))
    codePage = static_cast<UINT>(*n);
  const int length =
      WideCharToMultiByte(codePage, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), wideLength, text.data(), length, nullptr, nullptr);
  std::cout << (length > 0 ? text : utf8) << std::flush;
#else
  std::string target = charset;
  if (target.empty()) {
    // The locale's character set. The C locale's ASCII means that none was chosen: the stand-in
    // then writes UTF-8, as its windows do.
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_CTYPE, "")) {
      const char* set = nl_langinfo(CODESET);
      target = set ? set : "";
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    if (target == "ANSI_X3.4-1968") target.clear();
    if (auto set = hostSet(target)) {
      std::cout << codepage::fromUtf8(utf8, *set) << std::flush;
      return;
    }
  }
  const std::string name = lowerCase(target);
  iconv_t convert = name.empty() || name == "utf-8" || name == "utf8"
                        ? reinterpret_cast<iconv_t>(-1)
                        : iconv_open((target + "//TRANSLIT").c_str(), "UTF-8");
  if (convert == reinterpret_cast<iconv_t>(-1)) {
    std::cout << utf8 << std::flush;
    return;
  }
  std::string out;
  std::string in = utf8;
  char* from = in.data();
  size_t left = in.size();
  char buffer[4096];
  while (left > 0) {
    char* to = buffer;
    size_t room = sizeof buffer;
    const size_t done = iconv(convert, &from, &left, &to, &room);
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      out += '?';  // a character the set lacks even approximately, or a broken sequence
      ++from;
      --left;
    }
  }
  iconv_close(convert);
  std::cout << out << std::flush;
#endif
}

}  // namespace velkar::checkrates

// ---- the command --------------------------------------------------------------------------------

namespace velkar::program {
namespace {

const char* const checkRatesUsage =
    "usage: velkar check-rates FILE --format N [--plugin PATH] [--shop DIR --warehouse N]\n"
    "                          [--charset NAME]\n"
    "\n"
    "Shows what the plug-in makes of each line of a rate file (accepted: key, rate and the VAT\n"
    "code it becomes; skipped: why), then warnings about the file as a whole. The plug-in itself\n"
    "reads the file, on scratch shops in a temporary folder.\n"
    "\n"
    "  --format N        0 barcode and VAT rate, 1 name fragment and VAT rate, 2 barcode and CN\n"
    "  --plugin PATH     the plug-in (default: vatupdate.so or vatupdate.dll beside velkar)\n"
    "  --shop DIR        with --warehouse: a dry run on a copy of that warehouse's files: how\n"
    "  --warehouse N     many products each line would change, and which products no line\n"
    "                    reaches; the shop itself is not touched\n"
    "  --charset NAME    the output's character set: utf-8, windows-1250, mazovia, or another\n"
    "                    name the system knows (default: the terminal's)\n"
    "\n"
    "Exit status: 0 when the plug-in reads at least one line, 1 when it reads none, 2 for a\n"
    "mistake on the command line, 3 when the check cannot be made.\n";

// The plug-in beside the program.
fs::path defaultPlugin() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path() / "vatupdate.dll";
#else
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path() / "vatupdate.so";
#endif
}

int usageMistake(const std::string& message) {
  std::cerr << "velkar check-rates: " << message << " (try --help)\n";
  return 2;
}

}  // namespace

int checkRatesCommand(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parseArgs(argc, argv, 2,
                 {{"format", true},
                  {"plugin", true},
                  {"shop", true},
                  {"warehouse", true},
                  {"charset", true}},
                 args, error))
    return usageMistake(error);
  if (args.help) {
    std::cout << checkRatesUsage;
    return 0;
  }
  if (args.positional.size() != 1) return usageMistake("one rate file is needed");
  checkrates::Options options;
  options.file = args.positional[0];
  const auto format = args.value("format");
  if (!format) return usageMistake("--format is needed (0, 1 or 2)");
  const auto n = parseInt(*format);
  if (!n || *n < 0 || *n > 2) return usageMistake("--format: " + *format + " is not 0, 1 or 2");
  options.format = *n;
  if (args.has("shop") != args.has("warehouse"))
    return usageMistake("--shop and --warehouse go together");
  if (auto shopDir = args.value("shop")) {
    const auto warehouse = parseInt(*args.value("warehouse"));
    if (!warehouse || *warehouse < 0 || *warehouse > shop::MAX_WAREHOUSE)
      return usageMistake("--warehouse: " + *args.value("warehouse") +
                          " is not a number from 0 to " + std::to_string(shop::MAX_WAREHOUSE));
    std::error_code ec;
    if (!fs::is_directory(*shopDir, ec)) return fail(3, "no shop folder " + *shopDir);
    options.shop = fs::absolute(*shopDir, ec);
    options.warehouse = *warehouse;
  }
  std::error_code ec;
  options.plugin = fs::absolute(args.value("plugin").value_or(defaultPlugin().string()), ec);
  if (!fs::is_regular_file(options.plugin, ec))
    return fail(3, "no plug-in " + options.plugin.string() +
                       (args.has("plugin") ? "" : ": give it with --plugin PATH"));
  options.file = fs::absolute(options.file, ec);
  if (!fs::is_regular_file(options.file, ec))
    return fail(3, "no rate file " + options.file.string());

  checkrates::Result result;
  if (!checkrates::checkRates(options, result, error)) return fail(3, error);
  checkrates::writeTerminal(checkrates::describe(options, result),
                            args.value("charset").value_or(""));
  return result.accepted > 0 ? 0 : 1;
}

}  // namespace velkar::program
