// The host's character sets: its own set, Mazovia (the DOS Polish set: code page 437 with the 18
// Polish letters in place of some of its Western letters), and the Windows set, Windows-1250.
//
// Both are single-byte sets; every byte of each has a Unicode equivalent:
// - Mazovia bytes 0x00-0x7F are ASCII (control codes included, no graphic symbols for them).
// - Windows-1250 leaves five bytes undefined (0x81, 0x83, 0x88, 0x90, 0x98). The host reads each of
//   them as the C1 control code of the same number (U+0081 ...), as Windows itself does, so that
//   any byte string survives a trip through Unicode unchanged.
#pragma once

#include <string>
#include <string_view>

namespace velkar::codepage {

enum : int { MAZOVIA = 1, WINDOWS_1250 = 3 };

// True for the sets this host knows (MAZOVIA and WINDOWS_1250).
bool known(int set);

// The Unicode code point of one byte of a set; U+FFFD for a byte of a set the host does not know
// (ASCII bytes excepted, which are always themselves).
char32_t toUnicode(unsigned char b, int set);

// The byte of a set for a code point, or -1 when the set has no such character.
int fromUnicode(char32_t c, int set);

// The text in UTF-8. Bytes of an unknown set other than ASCII become U+FFFD.
std::string toUtf8(std::string_view bytes, int set);

// UTF-8 text in the set: characters the set lacks, and bytes that are not valid UTF-8, become '?'.
std::string fromUtf8(std::string_view utf8, int set);

// One byte from one set to another through Unicode; a byte whose character the target set lacks
// becomes '?'. ASCII bytes are never changed; a byte between the same set is itself.
unsigned char convertByte(unsigned char b, int fromSet, int toSet);

// Case folding in Mazovia, to upper case: ASCII letters, the Polish letters and every other
// letter whose capital the set also holds. Letters without a capital in the set stay as they are,
// so a folded text has exactly the length of the original.
unsigned char foldCase(unsigned char mazoviaByte);

// Upper and lower case of ASCII letters and of the 18 Polish letters only; every other byte is
// itself.
unsigned char polishUpper(unsigned char mazoviaByte);
unsigned char polishLower(unsigned char mazoviaByte);
// A Polish letter's base letter in the same case (ą -> a, Ł -> L); every other byte is itself.
unsigned char baseLetter(unsigned char mazoviaByte);

}  // namespace velkar::codepage
