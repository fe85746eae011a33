// velkar mkshop, export and compare: the shop folder's files to and from readable CSV.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "velkar/program/args.h"
#include "velkar/shop/shop.h"
#include "velkar/console/ui.h"

namespace fs = std::filesystem;

namespace velkar::program {
namespace {

const char* const mkshopUsage =
    "usage: velkar mkshop --dir DIR --products CSV [--codes CSV] [--warehouse N] [--replace]\n"
    "\n"
    "Makes a shop folder: one product file per warehouse and the additional-code file.\n"
    "\n"
    "  --dir DIR        the new shop folder (relative to where velkar is started). A folder\n"
    "                   that exists and is not empty is refused and left alone, unless\n"
    "                   --replace: then the new shop is built beside it and takes its place.\n"
    "                   --replace takes only a shop folder that holds nothing but a shop's\n"
    "                   files (MMMnnn.MGR, KODY154.DAT, velkar.ini, zmianavat.txt), and never\n"
    "                   the current folder, one that holds it, the root or a home folder\n"
    "  --products CSV   products, UTF-8, with a header line:\n"
    "                     warehouse,number,name,barcode,vat_code,new_vat_code,cn_code\n"
    "                   or, for one warehouse (--warehouse, default 1), without the first column\n"
    "  --codes CSV      additional barcodes: code,warehouse,product_number\n"
    "                   (without it the additional-code file is empty)\n"
    "\n"
    "exit status: 0 done, 1 a file problem (a CSV mistake, a folder refused), 2 a command-line\n"
    "mistake\n";

const char* const exportUsage =
    "usage: velkar export --shop DIR --warehouse N [--out CSV]\n"
    "       velkar export --shop DIR --codes [--out CSV]\n"
    "\n"
    "Writes the product file of a warehouse (number,name,barcode,vat_code,new_vat_code,cn_code),\n"
    "or with --codes the additional-code file, as CSV to a file or to standard output.\n";

const char* const compareUsage =
    "usage: velkar compare FILE_A FILE_B [--table]\n"
    "\n"
    "Compares two product files field by field; one line per difference, or a line saying that\n"
    "they are identical. Exit status 0 when they are the same, 1 when they differ, 2 when one\n"
    "cannot be read.\n"
    "\n"
    "  --table   the products that differ as a table: number, name, barcode and each changed\n"
    "            field before -> after\n";

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// Splits a products CSV with a leading warehouse column into one CSV text per warehouse, in the
// form the shop's own parser reads. The warehouse is a plain number, so the first comma of a line
// ends it. Lines of other warehouses stay as empty lines, so that a line number in a message is
// the line number in the file.
bool splitByWarehouse(const std::string& text, const std::string& source,
                      std::map<int, std::string>& out, std::string& error) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.empty()) return true;
  const std::string header = lines[0].substr(lines[0].find(',') + 1);
  std::map<int, std::vector<std::string>> byWarehouse;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (trim(lines[i]).empty()) continue;
    const size_t comma = lines[i].find(',');
    auto warehouse = parseInt(trim(lines[i].substr(0, comma)));
    if (comma == std::string::npos || !warehouse || *warehouse < 0 ||
        *warehouse > shop::MAX_WAREHOUSE) {
      error = source + " line " + std::to_string(i + 1) +
              ": the warehouse is not a number from 0 to " + std::to_string(shop::MAX_WAREHOUSE);
      return false;
    }
    auto& rows = byWarehouse[*warehouse];
    rows.resize(lines.size());
    rows[i] = lines[i].substr(comma + 1);
  }
  for (auto& [warehouse, rows] : byWarehouse) {
    std::string csv = header + "\n";
    for (size_t i = 1; i < rows.size(); ++i) csv += rows[i] + "\n";
    out[warehouse] = csv;
  }
  return true;
}

const char* vatRateName(int code) {
  switch (code) {
    case 33:
      return "23%";
    case 18:
      return "8%";
    case 15:
      return "5%";
    case 3:
      return "0%";
    case 5:
      return "zw";
    default:
      return nullptr;
  }
}

std::string vatCell(int code) {
  const char* rate = vatRateName(code);
  return std::to_string(code) + (rate ? " (" + std::string(rate) + ")" : "");
}

std::string pad(const std::string& utf8, int width) {
  return utf8 + std::string(static_cast<size_t>(std::max(0, width - ui::textWidth(utf8))), ' ');
}

// The products that differ as a table, one column per field that changed anywhere.
void printTable(const std::vector<shop::ProductRow>& a, const std::vector<shop::ProductRow>& b) {
  struct Column {
    const char* heading;
    std::string (*cell)(const shop::ProductRow&);
  };
  const Column fields[] = {
      {"Nazwa", [](const shop::ProductRow& r) { return r.name; }},
      {"Kod kreskowy", [](const shop::ProductRow& r) { return r.barcode; }},
      {"Stawka VAT", [](const shop::ProductRow& r) { return vatCell(r.vatCode); }},
      {"Nowa stawka VAT", [](const shop::ProductRow& r) { return vatCell(r.newVatCode); }},
      {"Kod CN", [](const shop::ProductRow& r) { return r.cnCode; }},
  };
  const size_t n = std::min(a.size(), b.size());
  std::vector<size_t> changedRows;
  std::vector<bool> changedField(std::size(fields), false);
  for (size_t i = 0; i < n; ++i) {
    bool any = false;
    for (size_t f = 0; f < std::size(fields); ++f)
      if (fields[f].cell(a[i]) != fields[f].cell(b[i])) changedField[f] = any = true;
    if (any || a[i].number != b[i].number) changedRows.push_back(i);
  }
  // Columns: number, name and barcode (as they stand after), then each changed field.
  // The current VAT rate always stands as context.
  changedField[2] = true;
  std::vector<std::string> headings = {"Nr", "Nazwa", "Kod kreskowy"};
  std::vector<std::vector<std::string>> cells;
  for (size_t f = 2; f < std::size(fields); ++f)
    if (changedField[f]) headings.push_back(fields[f].heading);
  for (size_t i : changedRows) {
    std::vector<std::string> row = {std::to_string(b[i].number), b[i].name, b[i].barcode};
    if (changedField[0] && a[i].name != b[i].name) row[1] = a[i].name + " -> " + b[i].name;
    if (changedField[1] && a[i].barcode != b[i].barcode)
      row[2] = a[i].barcode + " -> " + b[i].barcode;
    for (size_t f = 2; f < std::size(fields); ++f) {
      if (!changedField[f]) continue;
      const std::string before = fields[f].cell(a[i]), after = fields[f].cell(b[i]);
      row.push_back(before == after ? before : before + " -> " + after);
    }
    cells.push_back(row);
  }
  std::vector<int> widths;
  for (const std::string& h : headings) widths.push_back(ui::textWidth(h));
  for (const auto& row : cells)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], ui::textWidth(row[c]));
  auto printRow = [&](const std::vector<std::string>& row) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? pad(row[c], widths[c]) + "  " : row[c];
    std::cout << line << "\n";
  };
  printRow(headings);
  std::vector<std::string> rule;
  for (int w : widths) rule.push_back(std::string(static_cast<size_t>(w), '-'));
  printRow(rule);
  for (const auto& row : cells) printRow(row);
  std::cout << "(" << changedRows.size() << " of " << n << " products changed)\n";
}

}  // namespace

int mkshopCommand(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parseArgs(argc, argv, 2,
                 {{"dir", true},
                  {"products", true},
                  {"codes", true},
                  {"warehouse", true},
                  {"replace", false}},
                 args, error))
    return usageError("mkshop", error);
  if (args.help) {
    std::cout << mkshopUsage;
    return 0;
  }
  if (!args.positional.empty())
    return usageError("mkshop", "'" + args.positional.front() + "' is not an option");
  if (!args.has("dir") || !args.has("products"))
    return usageError("mkshop", "--dir and --products are needed");
  int singleWarehouse = 1;
  if (auto w = args.value("warehouse")) {
    auto n = parseInt(*w);
    if (!n || *n < 0 || *n > shop::MAX_WAREHOUSE)
      return usageError("mkshop", "--warehouse: " + *w + " is not a warehouse number");
    singleWarehouse = *n;
  }

  const std::string productsFile = *args.value("products");
  std::string text;
  if (!shop::readWholeFile(productsFile, text, error)) return fail(1, error);
  std::map<int, std::string> csvByWarehouse;
  const std::string firstField = trim(text.substr(0, text.find_first_of(",\n")));
  if (firstField == "warehouse") {
    if (!splitByWarehouse(text, productsFile, csvByWarehouse, error)) return fail(1, error);
  } else {
    csvByWarehouse[singleWarehouse] = text;
  }
  std::map<int, std::vector<shop::ProductRow>> products;
  for (const auto& [warehouse, csv] : csvByWarehouse)
    if (!shop::parseProductsCsv(csv, productsFile, products[warehouse], error))
      return fail(1, error);
  if (products.empty()) products[singleWarehouse];  // a shop with one empty warehouse

  std::vector<shop::ExtraCodeRow> codes;
  if (auto codesFile = args.value("codes")) {
    if (!shop::readWholeFile(*codesFile, text, error)) return fail(1, error);
    if (!shop::parseExtraCodesCsv(text, *codesFile, codes, error)) return fail(1, error);
  }

  const fs::path dir = *args.value("dir");
  if (!shop::makeShopFolder(dir, products, codes, args.has("replace"), error))
    return fail(EXIT_FILE, error);
  std::cout << "shop " << dir.string() << ":";
  for (const auto& [warehouse, rows] : products)
    std::cout << " " << shop::warehouseFileName(warehouse) << " (" << rows.size() << " products),";
  std::cout << " " << shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER) << " (" << codes.size()
            << " additional codes)\n";
  return 0;
}

int exportCommand(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parseArgs(argc, argv, 2,
                 {{"shop", true}, {"warehouse", true}, {"codes", false}, {"out", true}}, args,
                 error))
    return usageError("export", error);
  if (args.help) {
    std::cout << exportUsage;
    return 0;
  }
  if (!args.positional.empty() || !args.has("shop") || args.has("codes") == args.has("warehouse"))
    return usageError("export", "--shop and either --warehouse or --codes are needed");
  const fs::path shopDir = *args.value("shop");
  const auto out = args.value("out");
  if (args.has("codes")) {
    if (out) return shop::exportExtraCodesCsv(shopDir, *out, error) ? 0 : fail(1, error);
    std::vector<shop::ExtraCodeRow> rows;
    if (!shop::readExtraCodes(shopDir / shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER), rows,
                              error))
      return fail(1, error);
    std::cout << shop::formatExtraCodesCsv(rows);
    return 0;
  }
  auto warehouse = parseInt(*args.value("warehouse"));
  if (!warehouse || *warehouse < 0 || *warehouse > shop::MAX_WAREHOUSE)
    return usageError("export",
                      "--warehouse: " + *args.value("warehouse") + " is not a warehouse number");
  if (out) return shop::exportProductsCsv(shopDir, *warehouse, *out, error) ? 0 : fail(1, error);
  std::vector<shop::ProductRow> rows;
  if (!shop::readProducts(shopDir / shop::warehouseFileName(*warehouse), rows, error))
    return fail(1, error);
  std::cout << shop::formatProductsCsv(rows);
  return 0;
}

int compareCommand(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parseArgs(argc, argv, 2, {{"table", false}}, args, error))
    return usageError("compare", error);
  if (args.help) {
    std::cout << compareUsage;
    return 0;
  }
  if (args.positional.size() != 2) return usageError("compare", "two product files are needed");
  const fs::path a = args.positional[0], b = args.positional[1];
  std::vector<shop::Difference> differences;
  if (!shop::compareProductFiles(a, b, differences, error)) return fail(2, error);
  if (args.has("table")) {
    std::vector<shop::ProductRow> rowsA, rowsB;
    if (!shop::readProducts(a, rowsA, error) || !shop::readProducts(b, rowsB, error))
      return fail(2, error);
    printTable(rowsA, rowsB);
    // What the table does not show: a different record count and bytes outside the fields.
    for (const shop::Difference& d : differences)
      if (d.record < 0 || d.field.rfind("bytes", 0) == 0) std::cout << shop::describe(d) << "\n";
  } else {
    for (const shop::Difference& d : differences) std::cout << shop::describe(d) << "\n";
  }
  if (differences.empty()) {
    std::vector<shop::ProductRow> rows;
    const size_t count = shop::readProducts(a, rows, error) ? rows.size() : 0;
    std::cout << a.string() << " and " << b.string() << " are identical (" << count
              << " products)\n";
  }
  return differences.empty() ? 0 : 1;
}

}  // namespace velkar::program
