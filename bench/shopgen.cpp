// Shops and rate files of given sizes for the matching benchmark.
#include "bench/shopgen.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <vector>

#include "velkar/shop/codepage.h"
#include "velkar/shop/shop.h"

namespace bench {
namespace fs = std::filesystem;
namespace shop = velkar::shop;

namespace {

const int vatCodes[] = {3, 5, 15, 18, 33};  // 0%, exempt, 5%, 8%, 23%
const char* const rates[] = {"23", "8", "5", "0", "zw", "23%", "7"};
const char* const cnCodes[] = {"0401 10 10", "1905 90 60", "2203 00 01", "0901 21 00", "3401 11"};

class Maker {
 public:
  explicit Maker(uint32_t seed) : random(seed) {}
  int below(int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
  // Small numbers far likelier than large ones: common words come up often.
  int skewed(int n) {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    return std::min(n - 1, static_cast<int>(n * u * u * u));
  }
  template <typename T>
  void shuffle(std::vector<T>& items) {
    std::shuffle(items.begin(), items.end(), random);
  }
  std::mt19937 random;
};

// Thirteen digits: a prefix of three and ten digits from the number. Distinct numbers below 10^10
// give distinct codes.
std::string barcode(const char* prefix, uint64_t number) {
  std::string digits = std::to_string(number % 10000000000ULL);
  return prefix + std::string(10 - digits.size(), '0') + digits;
}

// A permutation of 0..10^10-1, so that codes look random and never repeat.
uint64_t scatter(uint64_t i, uint64_t salt) {
  return (i * 7394436691ULL + salt) % 10000000000ULL;
}

// Syllables of fragments each hold one of the letters K, W, Ł, Ż, Ś, Ć, Ó, Ą, Ę; the other
// syllables hold none of them, so a name made of other syllables holds no fragment, though it
// shares many beginnings with them.
const char* const fragmentSyllables[] = {
    "KO",  "KA",  "KI",  "WO",  "WA",  "WI",  "ŁA",   "ŁO",  "ŻU",  "ŻE",  "ŚNI", "ŚLI",
    "ĆMA", "ĆWI", "ÓW",  "ÓR",  "DĄ",  "GĘ",  "MLEK", "PAK", "SKA", "ROK", "WAR", "DWO",
    "ŁĘ",  "KRĄ", "ŻÓŁ", "NAK", "TEK", "LKA", "MIĘ",  "OWO", "BUK", "JOK", "SER", "CHLEB"};
const char* const otherSyllables[] = {"MLE", "SE", "CHLE", "BA", "PI", "BR",  "CI",  "DO",
                                      "MA",  "NA", "TA",   "LA", "PO", "SZA", "CZO", "RZE",
                                      "GRY", "BU", "PAS",  "JO", "GU", "CE",  "RZY", "SO",
                                      "NO",  "TY", "FA",   "LE", "HO", "ZE",  "DŹ",  "ŃA"};

// Words of two to four syllables of a set, all distinct.
template <size_t N>
std::vector<std::string> words(Maker& maker, int count, const char* const (&syllables)[N]) {
  std::set<std::string> seen;
  std::vector<std::string> out;
  while (static_cast<int>(out.size()) < count) {
    std::string w;
    for (int s = 2 + maker.below(3); s > 0; --s) w += syllables[maker.below(static_cast<int>(N))];
    if (seen.insert(w).second) out.push_back(w);
  }
  return out;
}

// Lower-case ASCII letters; the host's normalisation makes the case of a fragment irrelevant.
std::string lowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool writeBytes(const fs::path& file, const std::string& bytes, std::string& error) {
  std::error_code ec;
  fs::remove(file, ec);
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) error = "cannot write " + file.string();
  return static_cast<bool>(out);
}

template <typename Row>
bool writeTable(const fs::path& file, const std::vector<Row>& rows, size_t size,
                bool (*encode)(const Row&, unsigned char*, std::string&), std::string& error) {
  std::string bytes(rows.size() * size, '\0');
  for (size_t i = 0; i < rows.size(); ++i)
    if (!encode(rows[i], reinterpret_cast<unsigned char*>(&bytes[i * size]), error)) {
      error = file.filename().string() + " record " + std::to_string(i + 1) + ": " + error;
      return false;
    }
  return writeBytes(file, bytes, error);
}

shop::ProductRow product(Maker& maker, int i) {
  shop::ProductRow p;
  p.number = 1 + i % 65535;  // the host's product numbers are 16 bits
  p.vatCode = vatCodes[maker.below(5)];
  p.newVatCode = maker.chance(50) ? 0 : vatCodes[maker.below(5)];
  p.cnCode = maker.chance(50) ? "" : cnCodes[maker.below(5)];
  return p;
}

std::string rateField(Maker& maker, int format) {
  return format == 2 ? cnCodes[maker.below(5)] : rates[maker.below(7)];
}

}  // namespace

std::string describe(const ShopSpec& spec) {
  std::string s = "format " + std::to_string(spec.format) + ", " + std::to_string(spec.products) +
                  " products, " + std::to_string(spec.lines) +
                  (spec.format == 1 ? " fragments" : " lines");
  if (spec.format == 1) s += spec.names == NameData::Typical ? " (typical)" : " (worst case)";
  return s;
}

bool generate(const ShopSpec& spec, const fs::path& dir, std::string& error) {
  Maker maker(spec.seed);
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::vector<shop::ProductRow> products;
  std::vector<shop::ExtraCodeRow> codes;
  std::vector<std::string> lines;  // UTF-8, without the line end

  if (spec.format != 1) {
    const uint64_t salt = maker.random();
    for (int i = 0; i < spec.products; ++i) {
      shop::ProductRow p = product(maker, i);
      p.barcode = barcode("590", scatter(static_cast<uint64_t>(i), salt));
      products.push_back(p);
    }
    // One additional code for every fifth product of warehouse 1, as many in warehouse 2.
    for (int i = 0; i < spec.products; i += 5) {
      codes.push_back({barcode("200", scatter(static_cast<uint64_t>(i), salt + 1)), WAREHOUSE,
                       products[static_cast<size_t>(i)].number});
      codes.push_back({barcode("200", scatter(static_cast<uint64_t>(i), salt + 2)), 2,
                       products[static_cast<size_t>(i)].number});
    }
    // The lines: products by barcode, products by an additional code, codes of no product.
    std::vector<int> order(static_cast<size_t>(spec.products));
    for (int i = 0; i < spec.products; ++i) order[static_cast<size_t>(i)] = i;
    maker.shuffle(order);
    size_t next = 0;
    for (int n = 0; n < spec.lines; ++n) {
      const int kind = maker.below(100);
      std::string key;
      if (kind < 70 && next < order.size()) {
        key = products[static_cast<size_t>(order[next++])].barcode;
      } else if (kind < 80 && !codes.empty()) {
        key = codes[static_cast<size_t>(2 * maker.below(static_cast<int>(codes.size() / 2)))].code;
      } else {
        key = barcode("591", scatter(static_cast<uint64_t>(n), salt + 3));
      }
      lines.push_back(key + "," + rateField(maker, spec.format));
    }
  } else {
    // Fragments: distinct words. Typical names are made of those words, common ones most often;
    // in the worst case names are made of other words, and one in ten holds a fragment from the
    // last hundredth of the list.
    const std::vector<std::string> fragments = words(maker, spec.lines, fragmentSyllables);
    const std::vector<std::string> others = spec.names == NameData::Worst
                                                ? words(maker, spec.lines, otherSyllables)
                                                : std::vector<std::string>{};
    std::vector<int> common(fragments.size());  // the list position of the kth commonest word
    for (size_t i = 0; i < common.size(); ++i) common[i] = static_cast<int>(i);
    maker.shuffle(common);
    const int nf = static_cast<int>(fragments.size());
    for (int i = 0; i < spec.products; ++i) {
      shop::ProductRow p = product(maker, i);
      std::string name;
      const int count = 2 + maker.below(3);
      const int withFragment =
          spec.names == NameData::Worst && maker.chance(10) ? maker.below(count) : -1;
      for (int w = 0; w < count; ++w) {
        if (!name.empty()) name += " ";
        if (spec.names == NameData::Typical)
          name += fragments[static_cast<size_t>(common[static_cast<size_t>(maker.skewed(nf))])];
        else if (w == withFragment)
          name += fragments[static_cast<size_t>(nf - 1 - maker.below(std::max(1, nf / 100)))];
        else
          name += others[static_cast<size_t>(maker.below(nf))];
      }
      name += " " + std::to_string(1 + maker.below(999)) + (maker.chance(50) ? "G" : "ML");
      while (velkar::codepage::fromUtf8(name, velkar::codepage::MAZOVIA).size() > 120)
        name.pop_back();
      p.name = name;
      products.push_back(p);
    }
    for (int n = 0; n < nf; ++n) {
      const std::string& f = fragments[static_cast<size_t>(n)];
      lines.push_back((maker.chance(30) ? lowerAscii(f) : f) + "," + rateField(maker, 1));
    }
  }

  std::string rateFile = "KOD,STAWKA\r\n";
  for (const std::string& line : lines)
    rateFile += velkar::codepage::fromUtf8(line, velkar::codepage::WINDOWS_1250) + "\r\n";
  return writeTable(dir / shop::warehouseFileName(WAREHOUSE), products, shop::PRODUCT_RECORD_SIZE,
                    &shop::encodeProduct, error) &&
         writeTable(dir / shop::dataFileName(shop::EXTRA_CODE_FILE_NUMBER), codes,
                    shop::EXTRA_CODE_RECORD_SIZE, &shop::encodeExtraCode, error) &&
         writeBytes(dir / RATE_FILE, rateFile, error);
}

}  // namespace bench
