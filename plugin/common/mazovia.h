// The system's texts are written in UTF-8 in the sources and turned into the host's code page
// (Mazovia) at compile time: MZ("Za mało pamięci") is a const char* to Mazovia bytes.
#pragma once

#include <stddef.h>

namespace mazovia {

// Deliberately not constexpr: reaching it at compile time means a character Mazovia lacks.
inline unsigned char characterNotInMazovia() {
  return '?';
}

consteval unsigned char fromCodePoint(unsigned cp) {
  if (cp < 0x80) return static_cast<unsigned char>(cp);
  switch (cp) {
    case 0x0105:
      return 0x86;  // ą
    case 0x0107:
      return 0x8D;  // ć
    case 0x0119:
      return 0x91;  // ę
    case 0x0142:
      return 0x92;  // ł
    case 0x0144:
      return 0xA4;  // ń
    case 0x00F3:
      return 0xA2;  // ó
    case 0x015B:
      return 0x9E;  // ś
    case 0x017A:
      return 0xA6;  // ź
    case 0x017C:
      return 0xA7;  // ż
    case 0x0104:
      return 0x8F;  // Ą
    case 0x0106:
      return 0x95;  // Ć
    case 0x0118:
      return 0x90;  // Ę
    case 0x0141:
      return 0x9C;  // Ł
    case 0x0143:
      return 0xA5;  // Ń
    case 0x00D3:
      return 0xA3;  // Ó
    case 0x015A:
      return 0x98;  // Ś
    case 0x0179:
      return 0xA0;  // Ź
    case 0x017B:
      return 0xA1;  // Ż
    default:
      return characterNotInMazovia();
  }
}

template <size_t N>
struct Utf8 {
  char data[N]{};
  consteval Utf8(const char (&text)[N]) {
    for (size_t i = 0; i < N; ++i) data[i] = text[i];
  }
  // Number of characters (code points), without the terminator.
  consteval size_t characters() const {
    size_t count = 0;
    for (size_t i = 0; i + 1 < N; ++i)
      if ((static_cast<unsigned char>(data[i]) & 0xC0) != 0x80) ++count;
    return count;
  }
};

template <size_t M>
struct Bytes {
  char data[M]{};
};

template <Utf8 S>
consteval auto convert() {
  Bytes<S.characters() + 1> out{};
  size_t o = 0;
  for (size_t i = 0; i + 1 < sizeof(S.data);) {
    unsigned char c = static_cast<unsigned char>(S.data[i]);
    unsigned cp = 0;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else {
      cp = c & 0x07;
      len = 4;
    }
    for (size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(S.data[i + k]) & 0x3F);
    out.data[o++] = static_cast<char>(fromCodePoint(cp));
    i += len;
  }
  out.data[o] = 0;
  return out;
}

template <Utf8 S>
inline constexpr auto text = convert<S>();

}  // namespace mazovia

// A Mazovia text from a UTF-8 literal, as a const char* to static bytes.
#define MZ(literal) (::mazovia::text<literal>.data)
// Its size in bytes, terminator included.
#define MZ_SIZE(literal) (sizeof(::mazovia::text<literal>.data))
