// The shop's records: product records and additional-code records of any bytes, matched against
// a fixed rate file in every format, as the command does after its dialog.
//
// Input: byte 0 the format (as in fuzz_ratefile), byte 1 the number of product records (0 to 4),
// byte 2 the warehouse (0 to 3; with its top bit set a warehouse that has no product file), then
// the product records (1024 bytes each, the last one filled up with zero bytes), then the
// additional-code records (144 bytes each, likewise).
#include "harness.h"

namespace {

namespace shop = velkar::shop;

constexpr const char* kRateFile = "stawki.csv";
constexpr size_t kMaxExtraCodes = 64;

// Keys that fuzzed records reach easily: short codes in both cases, a byte above 0x7F, a code of
// 16 characters, and name fragments. Their second fields are read as rates in formats 0 and 1
// and as CN codes in format 2.
constexpr const char kRates[] =
    "a,23\r\nA,8\r\n1,5\r\nab,zw\r\n\xB3,0\r\n0123456789abcdef,8\r\nmleko,5\r\n"
    "e,0401 20 11 99 000\r\n5900001,z\r\n,23\r\nbez przecinka\r\n\xff\xfe,7\r\n";

fuzz::fs::path& shopDir() {
  static fuzz::fs::path dir;
  return dir;
}

// count records of size bytes from data (the last filled up with zero bytes).
std::string records(const uint8_t*& data, size_t& size, size_t count, size_t recordSize) {
  std::string out(count * recordSize, '\0');
  const size_t take = std::min(size, out.size());
  std::memcpy(out.data(), data, take);
  data += take;
  size -= take;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  shopDir() = fuzz::makeShopDir();
  fuzz::writeFile(shopDir() / kRateFile, kRates, sizeof kRates - 1);
  std::string error;
  if (!shop::createShop(shopDir(), {{0, {}}}, {}, error)) fuzz::fail(error);
  fuzz::startModule(shopDir());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int format = data[0] % 4 == 3 ? static_cast<int8_t>(data[0]) : data[0] % 4;
  const size_t productCount = data[1] % 5;
  const int warehouse = data[2] & 0x80 ? -1 - (data[2] & 3) : data[2] & 3;
  data += 3;
  size -= 3;
  const std::string products = records(data, size, productCount, PRODUCT_RECORD_SIZE);
  const size_t codeCount =
      std::min(kMaxExtraCodes, (size + EXTRA_CODE_RECORD_SIZE - 1) / EXTRA_CODE_RECORD_SIZE);
  const std::string codes = records(data, size, codeCount, EXTRA_CODE_RECORD_SIZE);

  const fuzz::InShop inShop(shopDir());
  const fuzz::fs::path productFile = shopDir() / shop::warehouseFileName(warehouse);
  if (warehouse >= 0) fuzz::writeFile(productFile, products.data(), products.size());
  fuzz::writeFile(shopDir() / shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER), codes.data(),
                  codes.size());
  std::remove(REPORT_FILE_NAME);
  fuzz::betweenRuns();

  fuzz::runPhases(kRateFile, format, warehouse);

  fuzz::checkNothingLeft();
  if (warehouse < 0) return 0;
  const std::string after = fuzz::readFile(productFile);
  fuzz::check(after.size() == products.size(), "the product file changed its size");
  for (size_t r = 0; r < productCount; ++r)
    fuzz::checkProduct(
        reinterpret_cast<const unsigned char*>(products.data()) + r * PRODUCT_RECORD_SIZE,
        reinterpret_cast<const unsigned char*>(after.data()) + r * PRODUCT_RECORD_SIZE, format,
        kRates, r);
  fuzz::check(fuzz::readFile(shopDir() / shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER)) == codes,
              "the extra-code file changed");
  return 0;
}
