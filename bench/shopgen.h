// Shops and rate files of given sizes for the matching benchmark.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

constexpr int WAREHOUSE = 1;
constexpr const char* RATE_FILE = "stawki.csv";

enum class NameData {
  Typical,  // names made of common words, each of them a fragment somewhere in the list
  Worst,    // most names hold no fragment; the rest hold one from the end of the list
};

struct ShopSpec {
  int format = 0;    // 0 barcode and rate, 1 name fragment and rate, 2 barcode and CN code
  int products = 0;  // products of warehouse 1
  int lines = 0;     // lines of the rate file (name fragments in format 1)
  NameData names = NameData::Typical;
  uint32_t seed = 1;
};

// Writes into dir (created when needed) warehouse 1's product file, the extra-code file (codes of
// warehouse 1 and of warehouse 2) and the rate file RATE_FILE (Windows-1250, CR LF), replacing
// what is there. Formats 0 and 2: about 70% of the lines name a product by its barcode, 10% by
// an additional code, the rest no product of the shop, in random order. False with a reason.
bool generate(const ShopSpec& spec, const std::filesystem::path& dir, std::string& error);

// A short description: "format 0, 100000 products, 100000 lines".
std::string describe(const ShopSpec& spec);

}  // namespace bench
