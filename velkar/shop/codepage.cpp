// The host's character sets and the conversions between them, through Unicode.
#include "velkar/shop/codepage.h"

#include <array>
#include <cstdint>
#include <unordered_map>

namespace velkar::codepage {
namespace {

// Bytes 0x80-0xFF of Mazovia.
constexpr std::array<uint16_t, 128> kMazoviaHigh = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x0105, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x0107, 0x00C4, 0x0104,  // 88
    0x0118, 0x0119, 0x0142, 0x00F4, 0x00F6, 0x0106, 0x00FB, 0x00F9,  // 90
    0x015A, 0x00D6, 0x00DC, 0x00A2, 0x0141, 0x00A5, 0x015B, 0x0192,  // 98
    0x0179, 0x017B, 0x00F3, 0x00D3, 0x0144, 0x0143, 0x017A, 0x017C,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

// Bytes 0x80-0xFF of Windows-1250; the five undefined bytes stand for themselves.
constexpr std::array<uint16_t, 128> kWindows1250High = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

struct CharacterSet {
  std::array<char32_t, 256> toUnicode;
  std::unordered_map<char32_t, unsigned char> fromUnicode;
};

CharacterSet makeSet(const std::array<uint16_t, 128>& high) {
  CharacterSet set;
  for (unsigned b = 0; b < 256; ++b) {
    set.toUnicode[b] = b < 0x80 ? char32_t(b) : char32_t(high[b - 0x80]);
    set.fromUnicode.emplace(set.toUnicode[b], static_cast<unsigned char>(b));
  }
  return set;
}

const CharacterSet* setFor(int set) {
  static const CharacterSet mazovia = makeSet(kMazoviaHigh);
  static const CharacterSet windows1250 = makeSet(kWindows1250High);
  switch (set) {
    case MAZOVIA:
      return &mazovia;
    case WINDOWS_1250:
      return &windows1250;
    default:
      return nullptr;
  }
}

// The capital of a letter, for the letters of the two sets (ASCII, Latin-1, Latin Extended-A,
// Greek); any other character is returned as it is.
char32_t simpleUpper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Pairs: capital first from U+0100 to U+0137 and from U+014A to U+0177, small first in
    // between and after U+0178.
    const bool capitalEven = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool capitalOdd = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (capitalEven && c != 0x131 && (c & 1)) return c - 1;
    if (capitalOdd && !(c & 1)) return c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  return c;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 character at text[pos] and advances pos; a malformed byte is U+FFFD and
// advances by one.
char32_t nextUtf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int extra;
  char32_t c, least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, c = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, c = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, c = lead & 0x07, least = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (int i = 1; i <= extra; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = c << 6 | (next & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += extra + 1;
  return c;
}

struct ConversionTables {
  std::array<unsigned char, 256> mazoviaToWindows, windowsToMazovia, foldMazovia;
};

unsigned char viaUnicode(unsigned char b, int fromSet, int toSet) {
  const int to = fromUnicode(toUnicode(b, fromSet), toSet);
  return to < 0 ? '?' : static_cast<unsigned char>(to);
}

const ConversionTables& tables() {
  static const ConversionTables t = [] {
    ConversionTables made;
    for (unsigned b = 0; b < 256; ++b) {
      const auto byte = static_cast<unsigned char>(b);
      made.mazoviaToWindows[b] = viaUnicode(byte, MAZOVIA, WINDOWS_1250);
      made.windowsToMazovia[b] = viaUnicode(byte, WINDOWS_1250, MAZOVIA);
      const int capital = fromUnicode(simpleUpper(toUnicode(byte, MAZOVIA)), MAZOVIA);
      made.foldMazovia[b] = capital < 0 ? byte : static_cast<unsigned char>(capital);
    }
    return made;
  }();
  return t;
}

}  // namespace

bool known(int set) {
  return setFor(set) != nullptr;
}

char32_t toUnicode(unsigned char b, int set) {
  if (b < 0x80) return b;
  const CharacterSet* s = setFor(set);
  return s ? s->toUnicode[b] : char32_t(0xFFFD);
}

int fromUnicode(char32_t c, int set) {
  const CharacterSet* s = setFor(set);
  if (!s) return c < 0x80 ? static_cast<int>(c) : -1;
  auto it = s->fromUnicode.find(c);
  return it == s->fromUnicode.end() ? -1 : it->second;
}

std::string toUtf8(std::string_view bytes, int set) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) appendUtf8(out, toUnicode(static_cast<unsigned char>(ch), set));
  return out;
}

std::string fromUtf8(std::string_view utf8, int set) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    const int b = fromUnicode(nextUtf8(utf8, pos), set);
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return out;
}

unsigned char convertByte(unsigned char b, int fromSet, int toSet) {
  if (b < 0x80) return b;
  if (fromSet == MAZOVIA && toSet == WINDOWS_1250) return tables().mazoviaToWindows[b];
  if (fromSet == WINDOWS_1250 && toSet == MAZOVIA) return tables().windowsToMazovia[b];
  if (fromSet == toSet && known(fromSet)) return b;
  return '?';
}

unsigned char foldCase(unsigned char mazoviaByte) {
  return tables().foldMazovia[mazoviaByte];
}

namespace {

// The Polish letters, lower then upper case, and their base letters.
constexpr char32_t POLISH_LOWER[] = U"ąćęłńóśźż";
constexpr char32_t POLISH_UPPER[] = U"ĄĆĘŁŃÓŚŹŻ";
constexpr char BASE_LOWER[] = "acelnoszz";

struct PolishTables {
  unsigned char upper[256], lower[256], base[256];
};

const PolishTables& polish() {
  static const PolishTables t = [] {
    PolishTables p{};
    for (int b = 0; b < 256; ++b) {
      const auto c = static_cast<unsigned char>(b);
      p.upper[b] = b >= 'a' && b <= 'z' ? static_cast<unsigned char>(b - 32) : c;
      p.lower[b] = b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : c;
      p.base[b] = c;
    }
    for (size_t i = 0; i < 9; ++i) {
      const int lower = fromUnicode(POLISH_LOWER[i], MAZOVIA);
      const int upper = fromUnicode(POLISH_UPPER[i], MAZOVIA);
      if (lower < 0 || upper < 0) continue;
      p.upper[lower] = static_cast<unsigned char>(upper);
      p.lower[upper] = static_cast<unsigned char>(lower);
      p.base[lower] = static_cast<unsigned char>(BASE_LOWER[i]);
      p.base[upper] = static_cast<unsigned char>(BASE_LOWER[i] - 32);
    }
    return p;
  }();
  return t;
}

}  // namespace

unsigned char polishUpper(unsigned char mazoviaByte) {
  return polish().upper[mazoviaByte];
}
unsigned char polishLower(unsigned char mazoviaByte) {
  return polish().lower[mazoviaByte];
}
unsigned char baseLetter(unsigned char mazoviaByte) {
  return polish().base[mazoviaByte];
}

}  // namespace velkar::codepage
