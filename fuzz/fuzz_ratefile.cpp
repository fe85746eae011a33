// The rate file: any bytes of any length in any format, read, matched against a small shop and
// reported, as the command does after its dialog.
//
// Input: the first byte chooses the format (0, 1 or 2; every fourth value a format outside them,
// which the module reads as 0); the rest is the rate file as it stands on disk.
#include "harness.h"

namespace {

namespace shop = velkar::shop;

constexpr int kWarehouse = 3;
constexpr const char* kRateFile = "stawki.csv";

struct Shop {
  fuzz::fs::path dir;
  std::string products;  // the product file's bytes before every run
};

Shop& theShop() {
  static Shop s;
  return s;
}

shop::ProductRow product(int number, const std::string& name, const std::string& barcode,
                         int newVatCode = 0, const std::string& cnCode = "") {
  return shop::ProductRow{number, name, barcode, 33, newVatCode, cnCode};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Shop& s = theShop();
  s.dir = fuzz::makeShopDir();
  // Products a short rate file can reach: short barcodes, names with letters of the host's code
  // page, a product without a barcode, one already holding a value, and additional codes of this
  // warehouse and of another.
  const std::vector<shop::ProductRow> rows = {
      product(1, "Mleko 3,2%", "5900001"),
      product(2, "Chleb", "1"),
      product(3, "MASŁO", "A", 33),
      product(4, "łosoś", "ab"),
      product(5, "Ser", "x", 0, "0406"),
      product(6, "Woda", ""),
      product(0, "", "Z1"),
  };
  const std::vector<shop::ExtraCodeRow> codes = {
      {"e1", kWarehouse, 6},     {"E2", kWarehouse, 2}, {"1", kWarehouse, 4},
      {"e3", kWarehouse + 1, 5}, {"e4", kWarehouse, 0}, {"", kWarehouse, 5},
  };
  std::string error;
  if (!shop::createShop(s.dir, {{kWarehouse, rows}}, codes, error)) fuzz::fail(error);
  s.products = fuzz::readFile(s.dir / shop::warehouseFileName(kWarehouse));
  fuzz::startModule(s.dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Shop& s = theShop();
  const int format = data[0] % 4 == 3 ? static_cast<int8_t>(data[0]) : data[0] % 4;
  const fuzz::InShop inShop(s.dir);
  fuzz::writeFile(kRateFile, data + 1, size - 1);
  std::remove(REPORT_FILE_NAME);
  fuzz::betweenRuns();

  fuzz::runPhases(kRateFile, format, kWarehouse);

  fuzz::checkNothingLeft();
  const fuzz::fs::path productFile = s.dir / shop::warehouseFileName(kWarehouse);
  const std::string after = fuzz::readFile(productFile);
  fuzz::check(after.size() == s.products.size(), "the product file changed its size");
  const std::string rateFile(reinterpret_cast<const char*>(data + 1), size - 1);
  for (size_t r = 0; r < after.size() / PRODUCT_RECORD_SIZE; ++r)
    fuzz::checkProduct(
        reinterpret_cast<const unsigned char*>(s.products.data()) + r * PRODUCT_RECORD_SIZE,
        reinterpret_cast<const unsigned char*>(after.data()) + r * PRODUCT_RECORD_SIZE, format,
        rateFile, r);
  if (after != s.products) fuzz::writeFile(productFile, s.products.data(), s.products.size());
  return 0;
}
