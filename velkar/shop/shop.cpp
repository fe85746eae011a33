// The shop folder: record fields, product and extra-code files, CSV import and export, and the
// field-by-field comparison of product files.
#include "velkar/shop/shop.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "velkar/shop/codepage.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace velkar::shop {

namespace fs = std::filesystem;

// ---- fields -------------------------------------------------------------------------------

std::string getText(const unsigned char* record, const TextField& field) {
  const char* begin = reinterpret_cast<const char*>(record + field.offset);
  return std::string(begin, strnlen(begin, field.size));
}

bool setText(unsigned char* record, const TextField& field, const std::string& bytes) {
  if (bytes.size() >= field.size || bytes.find('\0') != std::string::npos) return false;
  std::memset(record + field.offset, 0, field.size);
  std::memcpy(record + field.offset, bytes.data(), bytes.size());
  return true;
}

int64_t getInt(const unsigned char* record, const IntField& field) {
  uint64_t v = 0;
  for (size_t i = field.size; i-- > 0;) v = (v << 8) | record[field.offset + i];
  if (field.isSigned && field.size < 8 && (v >> (field.size * 8 - 1)) & 1)
    v |= ~uint64_t{0} << (field.size * 8);
  return static_cast<int64_t>(v);
}

void setInt(unsigned char* record, const IntField& field, int64_t value) {
  uint64_t v = static_cast<uint64_t>(value);
  for (size_t i = 0; i < field.size; ++i) {
    record[field.offset + i] = static_cast<unsigned char>(v & 0xFF);
    v >>= 8;
  }
}

bool fitsInt(const IntField& field, int64_t value) {
  const int bits = static_cast<int>(field.size * 8);
  if (field.isSigned)
    return value >= -(int64_t{1} << (bits - 1)) && value < int64_t{1} << (bits - 1);
  return value >= 0 && value < int64_t{1} << bits;
}

// ---- rows ---------------------------------------------------------------------------------

bool operator==(const ProductRow& a, const ProductRow& b) {
  return a.number == b.number && a.name == b.name && a.barcode == b.barcode &&
         a.vatCode == b.vatCode && a.newVatCode == b.newVatCode && a.cnCode == b.cnCode;
}

bool operator==(const ExtraCodeRow& a, const ExtraCodeRow& b) {
  return a.code == b.code && a.warehouse == b.warehouse && a.productNo == b.productNo;
}

namespace {

// UTF-8 to the host's code page, refusing what the code page cannot hold (or broken UTF-8)
// instead of putting '?' in its place.
bool toHost(const std::string& utf8, std::string& out, std::string& error) {
  out = codepage::fromUtf8(utf8, codepage::MAZOVIA);
  if (codepage::toUtf8(out, codepage::MAZOVIA) == utf8) return true;
  error = "\"" + utf8 + "\" holds a character the host's code page does not have";
  return false;
}

std::string fromHost(const std::string& bytes) {
  return codepage::toUtf8(bytes, codepage::MAZOVIA);
}

bool putText(unsigned char* record, const TextField& field, const std::string& utf8,
             std::string& error) {
  std::string bytes;
  if (!toHost(utf8, bytes, error)) {
    error = std::string(field.name) + ": " + error;
    return false;
  }
  if (bytes.find('\0') != std::string::npos) {
    error = std::string(field.name) + " holds a zero byte";
    return false;
  }
  if (!setText(record, field, bytes)) {
    error = std::string(field.name) + " \"" + utf8 + "\" has " + std::to_string(bytes.size()) +
            " characters; the field holds at most " + std::to_string(field.size - 1);
    return false;
  }
  return true;
}

bool putInt(unsigned char* record, const IntField& field, int64_t value, std::string& error) {
  if (!fitsInt(field, value)) {
    const int bits = static_cast<int>(field.size * 8);
    const int64_t low = field.isSigned ? -(int64_t{1} << (bits - 1)) : 0;
    const int64_t high = field.isSigned ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
    error = std::string(field.name) + " " + std::to_string(value) + " is outside " +
            std::to_string(low) + ".." + std::to_string(high);
    return false;
  }
  setInt(record, field, value);
  return true;
}

}  // namespace

bool encodeProduct(const ProductRow& row, unsigned char* record, std::string& error) {
  unsigned char work[PRODUCT_RECORD_SIZE];
  std::memcpy(work, record, sizeof work);
  using F = ProductFields;
  if (!putInt(work, F::number, row.number, error) || !putText(work, F::name, row.name, error) ||
      !putText(work, F::barcode, row.barcode, error) ||
      !putInt(work, F::vatCode, row.vatCode, error) ||
      !putInt(work, F::newVatCode, row.newVatCode, error) ||
      !putText(work, F::cnCode, row.cnCode, error))
    return false;
  std::memcpy(record, work, sizeof work);
  return true;
}

ProductRow decodeProduct(const unsigned char* record) {
  using F = ProductFields;
  return ProductRow{
      static_cast<int>(getInt(record, F::number)),     fromHost(getText(record, F::name)),
      fromHost(getText(record, F::barcode)),           static_cast<int>(getInt(record, F::vatCode)),
      static_cast<int>(getInt(record, F::newVatCode)), fromHost(getText(record, F::cnCode))};
}

bool encodeExtraCode(const ExtraCodeRow& row, unsigned char* record, std::string& error) {
  unsigned char work[EXTRA_CODE_RECORD_SIZE];
  std::memcpy(work, record, sizeof work);
  using F = ExtraCodeFields;
  if (!putText(work, F::code, row.code, error) ||
      !putInt(work, F::warehouse, row.warehouse, error) ||
      !putInt(work, F::productNo, row.productNo, error))
    return false;
  std::memcpy(record, work, sizeof work);
  return true;
}

ExtraCodeRow decodeExtraCode(const unsigned char* record) {
  using F = ExtraCodeFields;
  return ExtraCodeRow{fromHost(getText(record, F::code)),
                      static_cast<int>(getInt(record, F::warehouse)),
                      static_cast<int>(getInt(record, F::productNo))};
}

// ---- file names ---------------------------------------------------------------------------

std::string warehouseFileName(int warehouse, const std::string& prefix,
                              const std::string& extension) {
  if (warehouse < 0 || warehouse > MAX_WAREHOUSE) return prefix + "-" + extension;
  char number[8];
  std::snprintf(number, sizeof number, "%03d", warehouse);
  return prefix + number + extension;
}

std::string dataFileName(int fileNumber) {
  if (fileNumber == EXTRA_CODE_FILE_NUMBER) return "KODY154.DAT";
  return "DANE" + std::to_string(fileNumber) + ".DAT";
}

bool isProductFileName(const std::string& name) {
  // The name warehouseFileName gives the warehouse whose number stands at the digits' place.
  if (name.size() != warehouseFileName(0).size()) return false;
  const std::string digits = name.substr(3, 3);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  return name == warehouseFileName(std::stoi(digits));
}

bool holdsProductFile(const fs::path& dir) {
  std::error_code ec, ignored;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (isProductFileName(it->path().filename().string()) && it->is_regular_file(ignored))
      return true;
  return false;
}

// ---- whole files --------------------------------------------------------------------------

bool readRecords(const fs::path& file, size_t recordSize,
                 std::vector<std::vector<unsigned char>>& out, std::string& error) {
  out.clear();
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    error = "no file " + file.string();
    return false;
  }
  const uintmax_t size = fs::file_size(file, ec);
  if (ec) {
    error = "cannot read " + file.string() + ": " + ec.message();
    return false;
  }
  if (size % recordSize != 0) {
    error = file.string() + ": " + std::to_string(size) + " bytes is not a whole number of " +
            std::to_string(recordSize) + "-byte records";
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot open " + file.string();
    return false;
  }
  std::vector<std::vector<unsigned char>> records(size / recordSize,
                                                  std::vector<unsigned char>(recordSize));
  for (auto& record : records) {
    in.read(reinterpret_cast<char*>(record.data()), static_cast<std::streamsize>(recordSize));
    if (in.gcount() != static_cast<std::streamsize>(recordSize)) {
      error = file.string() + ": the file ended inside a record";
      return false;
    }
  }
  out = std::move(records);
  return true;
}

namespace {

bool encodeProducts(const std::vector<ProductRow>& rows,
                    std::vector<std::vector<unsigned char>>& records, const std::string& where,
                    std::string& error) {
  records.assign(rows.size(), std::vector<unsigned char>(PRODUCT_RECORD_SIZE, 0));
  for (size_t i = 0; i < rows.size(); ++i)
    if (!encodeProduct(rows[i], records[i].data(), error)) {
      error = where + " product " + std::to_string(i + 1) + ": " + error;
      return false;
    }
  return true;
}

bool encodeExtraCodes(const std::vector<ExtraCodeRow>& rows,
                      std::vector<std::vector<unsigned char>>& records, const std::string& where,
                      std::string& error) {
  records.assign(rows.size(), std::vector<unsigned char>(EXTRA_CODE_RECORD_SIZE, 0));
  for (size_t i = 0; i < rows.size(); ++i)
    if (!encodeExtraCode(rows[i], records[i].data(), error)) {
      error = where + " extra code " + std::to_string(i + 1) + ": " + error;
      return false;
    }
  return true;
}

bool checkWarehouse(int warehouse, std::string& error) {
  if (warehouse >= 0 && warehouse <= MAX_WAREHOUSE) return true;
  error = "unknown warehouse " + std::to_string(warehouse) + " (warehouses are 0.." +
          std::to_string(MAX_WAREHOUSE) + ")";
  return false;
}

}  // namespace

bool writeRecords(const fs::path& file, const std::vector<std::vector<unsigned char>>& records,
                  std::string& error) {
  std::string content;
  for (const auto& record : records) content.append(record.begin(), record.end());
  return replaceWholeFile(file, content, error);
}

bool createShop(const fs::path& dir,
                const std::map<int, std::vector<ProductRow>>& productsByWarehouse,
                const std::vector<ExtraCodeRow>& codes, std::string& error) {
  std::map<int, std::vector<std::vector<unsigned char>>> productFiles;
  for (const auto& [warehouse, rows] : productsByWarehouse) {
    if (!checkWarehouse(warehouse, error)) return false;
    if (!encodeProducts(rows, productFiles[warehouse], "warehouse " + std::to_string(warehouse),
                        error))
      return false;
  }
  std::vector<std::vector<unsigned char>> codeRecords;
  if (!encodeExtraCodes(codes, codeRecords, dataFileName(EXTRA_CODE_FILE_NUMBER), error))
    return false;

  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + dir.string() + ": " + ec.message();
    return false;
  }
  for (const auto& [warehouse, records] : productFiles)
    if (!writeRecords(dir / warehouseFileName(warehouse), records, error)) return false;
  return writeRecords(dir / dataFileName(EXTRA_CODE_FILE_NUMBER), codeRecords, error);
}

namespace {

// True when `inner` is `outer` or lies inside it (both absolute and normal).
bool within(const fs::path& inner, const fs::path& outer) {
  const fs::path relative = inner.lexically_relative(outer);
  return !relative.empty() && *relative.begin() != "..";
}

std::vector<fs::path> homeFolders() {
  std::vector<fs::path> out;
  for (const char* variable : {"HOME", "USERPROFILE"})
    if (const char* value = std::getenv(variable); value && *value) out.push_back(value);
#ifndef _WIN32
  if (const passwd* user = getpwuid(geteuid()); user && user->pw_dir && *user->pw_dir)
    out.push_back(user->pw_dir);
#endif
  return out;
}

// True when `dir` holds a product file and nothing but a shop's files, so that a new shop may take
// its place; otherwise false, naming what else it holds.
bool onlyAShop(const fs::path& dir, std::string& error) {
  bool products = false;
  std::vector<std::string> others;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool file = it->symlink_status(ec).type() == fs::file_type::regular;
    if (file && isProductFileName(name))
      products = true;
    else if (!file || (name != dataFileName(EXTRA_CODE_FILE_NUMBER) && name != SETTINGS_FILE &&
                       name != REPORT_FILE))
      others.push_back(name);
  }
  const std::string onlyShops = "; it is left alone (--replace replaces only a shop folder)";
  if (ec) {
    error = "cannot read " + dir.string() + ": " + ec.message() + onlyShops;
  } else if (!others.empty()) {
    std::sort(others.begin(), others.end());
    std::string names;
    for (size_t i = 0; i < others.size() && i < 10; ++i) names += (i ? ", " : "") + others[i];
    if (others.size() > 10) names += " and " + std::to_string(others.size() - 10) + " more";
    error = dir.string() + " holds what is not a shop's: " + names + onlyShops;
  } else if (!products) {
    error = dir.string() + " is not a shop folder (no product file MMMnnn.MGR)" + onlyShops;
  }
  return !ec && others.empty() && products;
}

}  // namespace

std::string protectedFolder(const fs::path& dir) {
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(fs::absolute(dir, ec), ec);
  if (ec || target.empty()) return "cannot be resolved";
  if (target == target.root_path() || !target.has_relative_path()) return "is the root folder";
  const fs::path current = fs::current_path(ec);
  if (!ec && current == target) return "is the current folder";
  if (!ec && within(current, target)) return "holds the current folder";
  for (const fs::path& home : homeFolders()) {
    const fs::path resolved = fs::weakly_canonical(home, ec);
    if (!ec && resolved == target) return "is a home folder";
  }
  return "";
}

bool makeShopFolder(const fs::path& dir,
                    const std::map<int, std::vector<ProductRow>>& productsByWarehouse,
                    const std::vector<ExtraCodeRow>& codes, bool replace, std::string& error) {
  std::error_code ec;
  fs::path target = fs::absolute(dir, ec).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();  // "shop/" names "shop"
  if (ec || target == target.root_path() || target.filename() == "." || target.filename() == "..") {
    error = "cannot make a shop folder at " + dir.string();
    return false;
  }
  const fs::file_status status = fs::symlink_status(target, ec);
  const bool exists = fs::exists(status);
  if (exists && !fs::is_directory(status)) {
    error = target.string() + " exists and is not a folder; it is left alone";
    return false;
  }
  if (const std::string why = protectedFolder(target); !why.empty()) {
    error = target.string() + " " + why + "; it is left alone";
    return false;
  }
  if (exists && !fs::is_empty(target, ec)) {
    if (!replace) {
      error =
          target.string() + " exists and is not empty; it is left alone (--replace replaces it)";
      return false;
    }
    if (!onlyAShop(target, error)) return false;
  }
  const fs::path parent = target.parent_path();
  fs::create_directories(parent, ec);
  if (ec) {
    error = "cannot create " + parent.string() + ": " + ec.message();
    return false;
  }
  // Names beside the folder, hidden, that no other run picks.
  std::random_device random;
  const std::string suffix = std::to_string(random()) + std::to_string(random());
  const fs::path fresh = parent / ("." + target.filename().string() + ".new-" + suffix);
  const fs::path old = parent / ("." + target.filename().string() + ".old-" + suffix);
  if (!createShop(fresh, productsByWarehouse, codes, error)) {
    fs::remove_all(fresh, ec);
    return false;
  }
  if (exists) {
    fs::rename(target, old, ec);
    if (ec) {
      error = "cannot move " + target.string() + " aside: " + ec.message() + "; it is left alone";
      fs::remove_all(fresh, ec);
      return false;
    }
  }
  fs::rename(fresh, target, ec);
  if (ec) {
    error = "cannot put the new shop in place of " + target.string() + ": " + ec.message();
    std::error_code ignored;
    if (exists) fs::rename(old, target, ignored);
    fs::remove_all(fresh, ignored);
    return false;
  }
  if (exists) {
    fs::remove_all(old, ec);
    if (ec) {
      error = "the new shop stands in " + target.string() + ", but the old one in " + old.string() +
              " could not be removed: " + ec.message();
      return false;
    }
  }
  return true;
}

bool readProducts(const fs::path& file, std::vector<ProductRow>& out, std::string& error) {
  std::vector<std::vector<unsigned char>> records;
  if (!readRecords(file, PRODUCT_RECORD_SIZE, records, error)) return false;
  out.clear();
  for (const auto& record : records) out.push_back(decodeProduct(record.data()));
  return true;
}

bool readExtraCodes(const fs::path& file, std::vector<ExtraCodeRow>& out, std::string& error) {
  std::vector<std::vector<unsigned char>> records;
  if (!readRecords(file, EXTRA_CODE_RECORD_SIZE, records, error)) return false;
  out.clear();
  for (const auto& record : records) out.push_back(decodeExtraCode(record.data()));
  return true;
}

bool writeProducts(const fs::path& file, const std::vector<ProductRow>& rows, std::string& error) {
  std::vector<std::vector<unsigned char>> records;
  return encodeProducts(rows, records, file.filename().string(), error) &&
         writeRecords(file, records, error);
}

bool writeExtraCodes(const fs::path& file, const std::vector<ExtraCodeRow>& rows,
                     std::string& error) {
  std::vector<std::vector<unsigned char>> records;
  return encodeExtraCodes(rows, records, file.filename().string(), error) &&
         writeRecords(file, records, error);
}

// ---- CSV ----------------------------------------------------------------------------------

namespace {

struct CsvRecord {
  int line;
  std::vector<std::string> fields;
};

std::string at(const std::string& source, int line) {
  return source + " line " + std::to_string(line) + ": ";
}

// Splits CSV text into records; quoted fields may hold commas, doubled quotes and line breaks.
bool splitCsv(const std::string& text, const std::string& source, std::vector<CsvRecord>& out,
              std::string& error) {
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int line = 1;
  while (pos < text.size()) {
    CsvRecord record{line, {}};
    for (;;) {
      std::string field;
      if (pos < text.size() && text[pos] == '"') {
        const int opened = line;
        ++pos;
        for (;;) {
          if (pos >= text.size()) {
            error = at(source, opened) + "a quoted field is not closed";
            return false;
          }
          if (text[pos] == '"') {
            if (pos + 1 < text.size() && text[pos + 1] == '"') {
              field += '"';
              pos += 2;
              continue;
            }
            ++pos;
            break;
          }
          if (text[pos] == '\n') ++line;
          field += text[pos++];
        }
        if (pos < text.size() && text[pos] != ',' && text[pos] != '\r' && text[pos] != '\n') {
          error = at(source, line) + "text after the closing quote of a field";
          return false;
        }
      } else {
        while (pos < text.size() && text[pos] != ',' && text[pos] != '\r' && text[pos] != '\n') {
          if (text[pos] == '"') {
            error = at(source, line) + "a quote inside a field that does not start with one";
            return false;
          }
          field += text[pos++];
        }
      }
      record.fields.push_back(std::move(field));
      if (pos < text.size() && text[pos] == ',') {
        ++pos;
        continue;
      }
      break;
    }
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    ++line;
    const bool blank = record.fields.size() == 1 && record.fields[0].empty();
    if (!blank) out.push_back(std::move(record));
  }
  return true;
}

bool parseNumber(const std::string& text, const char* name, int64_t low, int64_t high, int& out,
                 std::string& error) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  const std::string token = text.substr(begin, end - begin);
  const bool negative = !token.empty() && token[0] == '-';
  size_t i = negative ? 1 : 0;
  if (i == token.size()) {
    error = std::string(name) + " is empty";
    return false;
  }
  int64_t value = 0;
  for (; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') {
      error = std::string(name) + " \"" + text + "\" is not a whole number";
      return false;
    }
    value = value * 10 + (token[i] - '0');
    if (value > (int64_t{1} << 40)) break;
  }
  if (negative) value = -value;
  if (value < low || value > high) {
    error = std::string(name) + " " + token + " is outside " + std::to_string(low) + ".." +
            std::to_string(high);
    return false;
  }
  out = static_cast<int>(value);
  return true;
}

bool checkHeader(const std::vector<CsvRecord>& records, const std::string& source,
                 const std::vector<std::string>& columns, std::string& error) {
  std::string expected;
  for (const auto& c : columns) expected += (expected.empty() ? "" : ",") + c;
  if (records.empty() || records[0].fields != columns) {
    error = at(source, records.empty() ? 1 : records[0].line) + "the header line must be \"" +
            expected + "\"";
    return false;
  }
  return true;
}

bool checkWidth(const CsvRecord& record, const std::string& source, size_t columns,
                std::string& error) {
  if (record.fields.size() == columns) return true;
  error = at(source, record.line) + "expected " + std::to_string(columns) + " fields, found " +
          std::to_string(record.fields.size());
  return false;
}

std::string csvField(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' ' ||
                                        text.front() == '\t' || text.back() == '\t'));
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

const std::vector<std::string> PRODUCT_COLUMNS = {"number",   "name",         "barcode",
                                                  "vat_code", "new_vat_code", "cn_code"};
const std::vector<std::string> EXTRA_CODE_COLUMNS = {"code", "warehouse", "product_number"};

}  // namespace

bool parseProductsCsv(const std::string& text, const std::string& source,
                      std::vector<ProductRow>& out, std::string& error) {
  std::vector<CsvRecord> records;
  if (!splitCsv(text, source, records, error) ||
      !checkHeader(records, source, PRODUCT_COLUMNS, error))
    return false;
  std::vector<ProductRow> rows;
  for (size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    if (!checkWidth(record, source, PRODUCT_COLUMNS.size(), error)) return false;
    const auto& f = record.fields;
    ProductRow row{0, f[1], f[2], 0, 0, f[5]};
    std::string why;
    unsigned char check[PRODUCT_RECORD_SIZE] = {};
    if (!parseNumber(f[0], "number", 0, 65535, row.number, why) ||
        !parseNumber(f[3], "vat_code", 0, 65535, row.vatCode, why) ||
        !parseNumber(f[4], "new_vat_code", 0, 65535, row.newVatCode, why) ||
        !encodeProduct(row, check, why)) {
      error = at(source, record.line) + why;
      return false;
    }
    rows.push_back(std::move(row));
  }
  out = std::move(rows);
  return true;
}

std::string formatProductsCsv(const std::vector<ProductRow>& rows) {
  std::string out = "number,name,barcode,vat_code,new_vat_code,cn_code\n";
  for (const ProductRow& r : rows)
    out += std::to_string(r.number) + "," + csvField(r.name) + "," + csvField(r.barcode) + "," +
           std::to_string(r.vatCode) + "," + std::to_string(r.newVatCode) + "," +
           csvField(r.cnCode) + "\n";
  return out;
}

bool parseExtraCodesCsv(const std::string& text, const std::string& source,
                        std::vector<ExtraCodeRow>& out, std::string& error) {
  std::vector<CsvRecord> records;
  if (!splitCsv(text, source, records, error) ||
      !checkHeader(records, source, EXTRA_CODE_COLUMNS, error))
    return false;
  std::vector<ExtraCodeRow> rows;
  for (size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    if (!checkWidth(record, source, EXTRA_CODE_COLUMNS.size(), error)) return false;
    const auto& f = record.fields;
    ExtraCodeRow row{f[0], 0, 0};
    std::string why;
    unsigned char check[EXTRA_CODE_RECORD_SIZE] = {};
    if (!parseNumber(f[1], "warehouse", -32768, 32767, row.warehouse, why) ||
        !parseNumber(f[2], "product_number", 0, 65535, row.productNo, why) ||
        !encodeExtraCode(row, check, why)) {
      error = at(source, record.line) + why;
      return false;
    }
    rows.push_back(std::move(row));
  }
  out = std::move(rows);
  return true;
}

std::string formatExtraCodesCsv(const std::vector<ExtraCodeRow>& rows) {
  std::string out = "code,warehouse,product_number\n";
  for (const ExtraCodeRow& r : rows)
    out += csvField(r.code) + "," + std::to_string(r.warehouse) + "," +
           std::to_string(r.productNo) + "\n";
  return out;
}

bool importProductsCsv(const fs::path& csv, const fs::path& shopDir, int warehouse,
                       std::string& error) {
  std::string text;
  std::vector<ProductRow> rows;
  return checkWarehouse(warehouse, error) && readWholeFile(csv, text, error) &&
         parseProductsCsv(text, csv.filename().string(), rows, error) &&
         writeProducts(shopDir / warehouseFileName(warehouse), rows, error);
}

bool exportProductsCsv(const fs::path& shopDir, int warehouse, const fs::path& csv,
                       std::string& error) {
  if (!checkWarehouse(warehouse, error)) return false;
  const fs::path file = shopDir / warehouseFileName(warehouse);
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    error = "unknown warehouse " + std::to_string(warehouse) + ": no file " + file.string();
    return false;
  }
  std::vector<ProductRow> rows;
  return readProducts(file, rows, error) && replaceWholeFile(csv, formatProductsCsv(rows), error);
}

bool importExtraCodesCsv(const fs::path& csv, const fs::path& shopDir, std::string& error) {
  std::string text;
  std::vector<ExtraCodeRow> rows;
  return readWholeFile(csv, text, error) &&
         parseExtraCodesCsv(text, csv.filename().string(), rows, error) &&
         writeExtraCodes(shopDir / dataFileName(EXTRA_CODE_FILE_NUMBER), rows, error);
}

bool exportExtraCodesCsv(const fs::path& shopDir, const fs::path& csv, std::string& error) {
  std::vector<ExtraCodeRow> rows;
  return readExtraCodes(shopDir / dataFileName(EXTRA_CODE_FILE_NUMBER), rows, error) &&
         replaceWholeFile(csv, formatExtraCodesCsv(rows), error);
}

// ---- host bytes ---------------------------------------------------------------------------

std::vector<bool> fieldBytes(const unsigned char* record, size_t recordSize) {
  std::vector<bool> keep(recordSize, false);
  const auto text = [&](const TextField& f) {
    const size_t used = std::min(f.size, getText(record, f).size() + 1);
    for (size_t i = 0; i < used; ++i) keep[f.offset + i] = true;
  };
  const auto integer = [&](const IntField& f) {
    for (size_t i = 0; i < f.size; ++i) keep[f.offset + i] = true;
  };
  if (recordSize == PRODUCT_RECORD_SIZE) {
    using F = ProductFields;
    text(F::name);
    text(F::barcode);
    text(F::cnCode);
    integer(F::vatCode);
    integer(F::newVatCode);
    integer(F::number);
  } else if (recordSize == EXTRA_CODE_RECORD_SIZE) {
    using F = ExtraCodeFields;
    text(F::code);
    integer(F::warehouse);
    integer(F::productNo);
  }
  return keep;
}

namespace {

bool fillFile(const fs::path& file, size_t recordSize, uint32_t seed, std::string& error) {
  std::vector<std::vector<unsigned char>> records;
  if (!readRecords(file, recordSize, records, error)) return false;
  uint32_t state = seed ? seed : 1;
  for (auto& record : records) {
    const std::vector<bool> keep = fieldBytes(record.data(), recordSize);
    for (size_t i = 0; i < recordSize; ++i) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      if (!keep[i]) record[i] = static_cast<unsigned char>(state % 255 + 1);
    }
  }
  return writeRecords(file, records, error);
}

}  // namespace

bool fillHostBytes(const fs::path& shopDir, std::string& error) {
  std::error_code ec;
  uint32_t seed = 0x5EED;
  for (int warehouse = 0; warehouse <= MAX_WAREHOUSE; ++warehouse) {
    const fs::path file = shopDir / warehouseFileName(warehouse);
    ++seed;
    if (fs::exists(file, ec) && !fillFile(file, PRODUCT_RECORD_SIZE, seed * 2654435761u, error))
      return false;
  }
  const fs::path codes = shopDir / dataFileName(EXTRA_CODE_FILE_NUMBER);
  if (fs::exists(codes, ec) && !fillFile(codes, EXTRA_CODE_RECORD_SIZE, 0xC0DE5u, error))
    return false;
  return true;
}

// ---- comparing ----------------------------------------------------------------------------

std::string describe(const Difference& d) {
  if (d.record < 0) return d.field + ": " + d.a + " -> " + d.b;
  return "record " + std::to_string(d.record) + " " + d.field + ": " + d.a + " -> " + d.b;
}

namespace {

std::string hex(const unsigned char* bytes, size_t count) {
  std::string out;
  char two[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02X", bytes[i]);
    out += (i ? " " : "") + std::string(two);
  }
  return out;
}

void compareRecords(int index, const unsigned char* a, const unsigned char* b,
                    std::vector<Difference>& out) {
  using F = ProductFields;
  bool known[PRODUCT_RECORD_SIZE] = {};
  for (const TextField& t : {F::name, F::barcode, F::cnCode}) {
    // The texts with their terminators; bytes after them count as raw bytes.
    const std::string ta = getText(a, t), tb = getText(b, t);
    const size_t used = std::min(t.size, std::max(ta.size(), tb.size()) + 1);
    for (size_t i = 0; i < used; ++i) known[t.offset + i] = true;
    if (ta != tb)
      out.push_back({index, t.name, "\"" + fromHost(ta) + "\"", "\"" + fromHost(tb) + "\""});
  }
  for (const IntField& n : {F::vatCode, F::newVatCode, F::number}) {
    for (size_t i = 0; i < n.size; ++i) known[n.offset + i] = true;
    if (getInt(a, n) != getInt(b, n))
      out.push_back({index, n.name, std::to_string(getInt(a, n)), std::to_string(getInt(b, n))});
  }
  for (size_t i = 0; i < PRODUCT_RECORD_SIZE;) {
    if (known[i] || a[i] == b[i]) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < PRODUCT_RECORD_SIZE && !known[end] && a[end] != b[end]) ++end;
    out.push_back({index, "bytes " + std::to_string(i) + ".." + std::to_string(end - 1),
                   hex(a + i, end - i), hex(b + i, end - i)});
    i = end;
  }
}

}  // namespace

bool compareProductFiles(const fs::path& a, const fs::path& b, std::vector<Difference>& out,
                         std::string& error) {
  std::vector<std::vector<unsigned char>> ra, rb;
  if (!readRecords(a, PRODUCT_RECORD_SIZE, ra, error) ||
      !readRecords(b, PRODUCT_RECORD_SIZE, rb, error))
    return false;
  out.clear();
  if (ra.size() != rb.size())
    out.push_back({-1, "records", std::to_string(ra.size()), std::to_string(rb.size())});
  for (size_t i = 0; i < std::min(ra.size(), rb.size()); ++i)
    compareRecords(static_cast<int>(i), ra[i].data(), rb[i].data(), out);
  return true;
}

bool replaceWholeFile(const fs::path& file, const std::string& content, std::string& error) {
  fs::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) {
      error = "cannot write " + temporary.string();
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, file, ec);
  if (ec) {
    error = "cannot replace " + file.string() + ": " + ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

bool readWholeFile(const fs::path& file, std::string& content, std::string& error) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    error = "no file " + file.string();
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    error = "cannot read " + file.string();
    return false;
  }
  content = text.str();
  return true;
}

}  // namespace velkar::shop
