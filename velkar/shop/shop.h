// The shop folder of the host stand-in: one product file per warehouse (table 49), the
// extra-code file (table 117), the settings store, and the tools to build, read, import, export
// and compare them. docs/formats.md describes the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velkar::shop {

constexpr int PRODUCT_RECORD_SIZE = 1024;
constexpr int EXTRA_CODE_RECORD_SIZE = 144;
constexpr int PRODUCT_TABLE = 49;
constexpr int EXTRA_CODE_TABLE = 117;
constexpr int EXTRA_CODE_FILE_NUMBER = 154;
constexpr int MAX_WAREHOUSE = 999;  // product files exist for warehouses 0..999
constexpr const char* SETTINGS_FILE = "velkar.ini";
constexpr const char* REPORT_FILE = "zmianavat.txt";  // written by the module

// ---- record layouts -----------------------------------------------------------------------

// A text field: `size` bytes from `offset`, zero-terminated, so at most size - 1 characters.
struct TextField {
  const char* name;
  size_t offset, size;
};
// A little-endian integer field.
struct IntField {
  const char* name;
  size_t offset, size;
  bool isSigned;
};

// The product record (1024 bytes). Every byte the fields below do not cover is the host's own
// and is kept as it is.
struct ProductFields {
  static constexpr TextField name{"name", 2, 121};         // bytes 2..122
  static constexpr TextField barcode{"barcode", 123, 21};  // bytes 123..143
  static constexpr TextField cnCode{"cn_code", 528, 15};   // bytes 528..542
  static constexpr IntField vatCode{"vat_code", 705, 2, false};
  static constexpr IntField newVatCode{"new_vat_code", 707, 2, false};
  static constexpr IntField number{"number", 1022, 2, false};  // productNo
};
static_assert(ProductFields::name.offset + ProductFields::name.size == 123);
static_assert(ProductFields::barcode.offset == 123 &&
              ProductFields::barcode.offset + ProductFields::barcode.size <=
                  ProductFields::cnCode.offset);
static_assert(ProductFields::cnCode.offset == 528 && ProductFields::cnCode.size == 15);
static_assert(ProductFields::cnCode.offset + ProductFields::cnCode.size <=
              ProductFields::vatCode.offset);
static_assert(ProductFields::vatCode.offset + ProductFields::vatCode.size ==
              ProductFields::newVatCode.offset);
static_assert(ProductFields::newVatCode.offset == 707);
static_assert(ProductFields::number.offset == 1022 &&
              ProductFields::number.offset + ProductFields::number.size == PRODUCT_RECORD_SIZE);

// The extra-code record (144 bytes).
struct ExtraCodeFields {
  static constexpr TextField code{"code", 0, 21};  // bytes 0..20
  static constexpr IntField warehouse{"warehouse", 140, 2, true};
  static constexpr IntField productNo{"product_number", 142, 2, false};
};
static_assert(ExtraCodeFields::code.offset == 0 &&
              ExtraCodeFields::code.size <= ExtraCodeFields::warehouse.offset);
static_assert(ExtraCodeFields::warehouse.offset == 140);
static_assert(ExtraCodeFields::productNo.offset == 142 &&
              ExtraCodeFields::productNo.offset + ExtraCodeFields::productNo.size ==
                  EXTRA_CODE_RECORD_SIZE);

// Field access over raw record bytes (any alignment).
std::string getText(const unsigned char* record, const TextField& field);  // up to the zero
// False when the text does not fit (size - 1 bytes); the record is then unchanged. The rest of the
// field after the text is zeroed.
bool setText(unsigned char* record, const TextField& field, const std::string& bytes);
int64_t getInt(const unsigned char* record, const IntField& field);
void setInt(unsigned char* record, const IntField& field, int64_t value);
// True when the value fits the field.
bool fitsInt(const IntField& field, int64_t value);

// ---- rows, as tools and tests see records -------------------------------------------------

struct ProductRow {
  int number;
  std::string name;  // UTF-8
  std::string barcode;
  int vatCode;
  int newVatCode;
  std::string cnCode;
};
struct ExtraCodeRow {
  std::string code;
  int warehouse;
  int productNo;
};

bool operator==(const ProductRow& a, const ProductRow& b);
bool operator==(const ExtraCodeRow& a, const ExtraCodeRow& b);

// Row <-> record. Texts are UTF-8 in rows and Mazovia in records. A row that does not fit gives
// false and a reason (which field, how long it may be).
bool encodeProduct(const ProductRow& row, unsigned char* record, std::string& error);
ProductRow decodeProduct(const unsigned char* record);
bool encodeExtraCode(const ExtraCodeRow& row, unsigned char* record, std::string& error);
ExtraCodeRow decodeExtraCode(const unsigned char* record);

// ---- file names ---------------------------------------------------------------------------

// "MMM001.MGR" for warehouse 1 (prefix, number in three digits, extension); for a warehouse outside
// 0..999 a name that no warehouse has ("MMM-.MGR").
std::string warehouseFileName(int warehouse, const std::string& prefix = "MMM",
                              const std::string& extension = ".MGR");
// "KODY154.DAT" for the extra-code file, "DANE<n>.DAT" for other data files.
std::string dataFileName(int fileNumber);
// True for the name of a warehouse's product file: "MMM", three digits, ".MGR".
bool isProductFileName(const std::string& name);
// True when `dir` holds the product file of some warehouse, which makes it a shop folder.
bool holdsProductFile(const std::filesystem::path& dir);

// ---- whole files --------------------------------------------------------------------------

// Builds a shop in `dir` (created if needed): one product file per warehouse of the map (an empty
// vector gives an empty file) and the extra-code file. Everything is checked before the first
// file is written; each file is written whole under a temporary name and then renamed.
bool createShop(const std::filesystem::path& dir,
                const std::map<int, std::vector<ProductRow>>& productsByWarehouse,
                const std::vector<ExtraCodeRow>& codes, std::string& error);

// Why no shop may be made at `dir`, whatever it holds: it is the current folder or one that holds
// it, the root or a home folder. Empty when one may.
std::string protectedFolder(const std::filesystem::path& dir);

// Makes the shop folder `dir` as createShop does, without ever leaving half a shop or touching
// what a person keeps there: a folder that exists and holds anything is refused (named in the
// error) unless `replace`, and `replace` takes only a shop folder that holds nothing but a shop's
// files (product files, the extra-code file, the settings store, the report; anything else is
// named); a protected folder (above) and anything that is not a folder are refused. The shop is
// built beside `dir` under a temporary name and then put in its place; a replaced folder is moved
// aside first and removed only once the new one stands. On failure `dir` is as it was.
bool makeShopFolder(const std::filesystem::path& dir,
                    const std::map<int, std::vector<ProductRow>>& productsByWarehouse,
                    const std::vector<ExtraCodeRow>& codes, bool replace, std::string& error);

// Raw records of a file; false when it is missing, unreadable or not a whole number of records.
bool readRecords(const std::filesystem::path& file, size_t recordSize,
                 std::vector<std::vector<unsigned char>>& out, std::string& error);
// Writes records under a temporary name, then renames it over `file`.
bool writeRecords(const std::filesystem::path& file,
                  const std::vector<std::vector<unsigned char>>& records, std::string& error);

bool readProducts(const std::filesystem::path& file, std::vector<ProductRow>& out,
                  std::string& error);
bool readExtraCodes(const std::filesystem::path& file, std::vector<ExtraCodeRow>& out,
                    std::string& error);
// Writes fresh records (host bytes zero).
bool writeProducts(const std::filesystem::path& file, const std::vector<ProductRow>& rows,
                   std::string& error);
bool writeExtraCodes(const std::filesystem::path& file, const std::vector<ExtraCodeRow>& rows,
                     std::string& error);

// ---- CSV ----------------------------------------------------------------------------------
// Products: number,name,barcode,vat_code,new_vat_code,cn_code. Extra codes:
// code,warehouse,product_number. UTF-8, a header line, comma-separated, fields with a comma, a
// quote or blanks at an end in double quotes (a quote inside doubled). `source` names the text in
// error messages ("file.csv line 3: ...").

bool parseProductsCsv(const std::string& text, const std::string& source,
                      std::vector<ProductRow>& out, std::string& error);
std::string formatProductsCsv(const std::vector<ProductRow>& rows);
bool parseExtraCodesCsv(const std::string& text, const std::string& source,
                        std::vector<ExtraCodeRow>& out, std::string& error);
std::string formatExtraCodesCsv(const std::vector<ExtraCodeRow>& rows);

// The product file of a warehouse in `shopDir` from a CSV file, and back. Import replaces the
// file only when the whole CSV is good; export needs the warehouse's file to exist.
bool importProductsCsv(const std::filesystem::path& csv, const std::filesystem::path& shopDir,
                       int warehouse, std::string& error);
bool exportProductsCsv(const std::filesystem::path& shopDir, int warehouse,
                       const std::filesystem::path& csv, std::string& error);
bool importExtraCodesCsv(const std::filesystem::path& csv, const std::filesystem::path& shopDir,
                         std::string& error);
bool exportExtraCodesCsv(const std::filesystem::path& shopDir, const std::filesystem::path& csv,
                         std::string& error);

// ---- host bytes ---------------------------------------------------------------------------

// Rewrites every product file (MMM*.MGR) and the extra-code file of a shop so that every byte that
// no field covers, and every byte after a text field's terminator, holds a non-zero byte (the
// same bytes for the same file, record and place each time). The texts, their terminators and the
// integer fields keep their values. False with a reason when a file cannot be read or written.
bool fillHostBytes(const std::filesystem::path& shopDir, std::string& error);
// The bytes of a record that fillHostBytes leaves as they are: true at each such offset.
std::vector<bool> fieldBytes(const unsigned char* record, size_t recordSize);

// ---- comparing ----------------------------------------------------------------------------

struct Difference {
  int record;         // from 0; -1 for the file as a whole (its record count)
  std::string field;  // a field name, "bytes 300..303" outside the known fields, or "records"
  std::string a, b;   // the values in the first and the second file (texts in UTF-8, or hex)
};
// One line per difference: "record 3 new_vat_code: 18 -> 33".
std::string describe(const Difference& d);

// The differences between two product files, field by field, then any raw bytes outside the
// known fields (runs of neighbouring bytes together). False when a file cannot be read.
bool compareProductFiles(const std::filesystem::path& a, const std::filesystem::path& b,
                         std::vector<Difference>& out, std::string& error);

// A whole file into memory; false with a reason when it is missing or unreadable.
bool readWholeFile(const std::filesystem::path& file, std::string& content, std::string& error);
// Replaces a file as a whole: written under a temporary name, then renamed over it, so that a
// failed write never leaves a damaged file.
bool replaceWholeFile(const std::filesystem::path& file, const std::string& content,
                      std::string& error);

}  // namespace velkar::shop

namespace velkar {

// The table cursors the host has open (openTableCursor without its closeTableCursor yet). A host
// reset closes them all.
int openCursorCount();

}  // namespace velkar
