// The host's character tables against independent converters (konwert for Mazovia, iconv for
// Windows-1250), byte by byte, and its case folding against the C library's.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <string>
#include <unistd.h>
#include <wctype.h>

#include "velkar/shop/codepage.h"

namespace cp = velkar::codepage;

namespace {

bool haveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a filter over `input` and gives its output; an empty result with ok = false on failure.
std::string filter(const std::string& command, const std::string& input, bool& ok) {
  const auto path =
      std::filesystem::temp_directory_path() / ("codepage_input_" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary) << input;
  std::string out;
  std::FILE* pipe = ::popen((command + " < '" + path.string() + "'").c_str(), "r");
  ok = pipe != nullptr;
  if (pipe) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ok = ::pclose(pipe) == 0;
  }
  std::filesystem::remove(path);
  return out;
}

std::string bytesExcept(std::initializer_list<int> left) {
  std::string out;
  for (int b = 1; b < 256; ++b)
    if (std::find(left.begin(), left.end(), b) == left.end()) out += static_cast<char>(b);
  return out;
}

const int kUndefined1250[] = {0x81, 0x83, 0x88, 0x90, 0x98};

}  // namespace

TEST(CodepageReference, MazoviaEveryByteBothWaysAsKonwert) {
  ASSERT_TRUE(haveTool("konwert")) << "konwert is not installed (scripts/setup installs it)";
  const std::string all = bytesExcept({});
  bool ok;
  const std::string reference = filter("konwert mazovia-utf8", all, ok);
  ASSERT_TRUE(ok);
  const std::string ours = cp::toUtf8(all, cp::MAZOVIA);
  EXPECT_EQ(ours, reference);
  // Back: the reference's own reverse and ours agree on every character of the set.
  EXPECT_EQ(filter("konwert utf8-mazovia", reference, ok), all);
  EXPECT_EQ(cp::fromUtf8(reference, cp::MAZOVIA), all);
  EXPECT_EQ(cp::toUtf8(std::string(1, '\0'), cp::MAZOVIA), std::string(1, '\0'));
}

TEST(CodepageReference, Windows1250EveryByteBothWaysAsIconv) {
  ASSERT_TRUE(haveTool("iconv")) << "iconv is not installed";
  const std::string defined = bytesExcept({0x81, 0x83, 0x88, 0x90, 0x98});
  bool ok;
  const std::string reference = filter("iconv -f CP1250 -t UTF-8", defined, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(cp::toUtf8(defined, cp::WINDOWS_1250), reference);
  EXPECT_EQ(cp::fromUtf8(reference, cp::WINDOWS_1250), defined);
  EXPECT_EQ(filter("iconv -f UTF-8 -t CP1250", cp::toUtf8(defined, cp::WINDOWS_1250), ok), defined);
  EXPECT_TRUE(ok);
  // The undefined bytes stand for the C1 codes of their own numbers and come back unchanged.
  for (int b : kUndefined1250) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(cp::toUnicode(static_cast<unsigned char>(b), cp::WINDOWS_1250), char32_t(b));
    EXPECT_EQ(cp::fromUtf8(cp::toUtf8(one, cp::WINDOWS_1250), cp::WINDOWS_1250), one);
  }
}

TEST(Codepage, PolishLettersInBothSets) {
  // Mazovia byte, Windows-1250 byte, the letter.
  const struct {
    unsigned char mazovia, windows;
    const char* utf8;
  } letters[] = {
      {0x86, 0xB9, "ą"}, {0x8D, 0xE6, "ć"}, {0x91, 0xEA, "ę"}, {0x92, 0xB3, "ł"}, {0xA4, 0xF1, "ń"},
      {0xA2, 0xF3, "ó"}, {0x9E, 0x9C, "ś"}, {0xA6, 0x9F, "ź"}, {0xA7, 0xBF, "ż"}, {0x8F, 0xA5, "Ą"},
      {0x95, 0xC6, "Ć"}, {0x90, 0xCA, "Ę"}, {0x9C, 0xA3, "Ł"}, {0xA5, 0xD1, "Ń"}, {0xA3, 0xD3, "Ó"},
      {0x98, 0x8C, "Ś"}, {0xA0, 0x8F, "Ź"}, {0xA1, 0xAF, "Ż"},
  };
  for (const auto& l : letters) {
    SCOPED_TRACE(l.utf8);
    EXPECT_EQ(cp::toUtf8(std::string(1, static_cast<char>(l.mazovia)), cp::MAZOVIA), l.utf8);
    EXPECT_EQ(cp::toUtf8(std::string(1, static_cast<char>(l.windows)), cp::WINDOWS_1250), l.utf8);
    EXPECT_EQ(cp::convertByte(l.mazovia, cp::MAZOVIA, cp::WINDOWS_1250), l.windows);
    EXPECT_EQ(cp::convertByte(l.windows, cp::WINDOWS_1250, cp::MAZOVIA), l.mazovia);
  }
}

TEST(Codepage, ConvertByteKeepsWhatBothSetsHoldAndMarksTheRest) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    if (b < 0x80) {
      EXPECT_EQ(cp::convertByte(byte, cp::MAZOVIA, cp::WINDOWS_1250), byte);
      EXPECT_EQ(cp::convertByte(byte, cp::WINDOWS_1250, cp::MAZOVIA), byte);
      continue;
    }
    const unsigned char w = cp::convertByte(byte, cp::MAZOVIA, cp::WINDOWS_1250);
    if (w != '?') {
      EXPECT_EQ(cp::convertByte(w, cp::WINDOWS_1250, cp::MAZOVIA), byte) << b;
    }
    const unsigned char m = cp::convertByte(byte, cp::WINDOWS_1250, cp::MAZOVIA);
    if (m != '?') {
      EXPECT_EQ(cp::convertByte(m, cp::MAZOVIA, cp::WINDOWS_1250), byte) << b;
    }
  }
  EXPECT_EQ(cp::convertByte(0xC4, cp::MAZOVIA, cp::WINDOWS_1250), '?');   // a box line
  EXPECT_EQ(cp::convertByte(0x80, cp::WINDOWS_1250, cp::MAZOVIA), '?');   // the euro sign
  EXPECT_EQ(cp::convertByte(0xFF, cp::MAZOVIA, cp::WINDOWS_1250), 0xA0);  // no-break space
}

TEST(Codepage, FromUtf8MarksMissingAndMalformedCharacters) {
  EXPECT_EQ(cp::fromUtf8("a€b", cp::MAZOVIA), "a?b");
  EXPECT_EQ(cp::fromUtf8("x\xC3", cp::WINDOWS_1250), "x?");       // cut short
  EXPECT_EQ(cp::fromUtf8("\xC0\xAFz", cp::WINDOWS_1250), "??z");  // over-long form
  EXPECT_EQ(cp::fromUtf8("\xFF\xE2\x82", cp::MAZOVIA), "???");    // not UTF-8
  EXPECT_EQ(cp::fromUtf8("\xED\xA0\x80", cp::MAZOVIA), "???");    // a surrogate
  EXPECT_EQ(cp::fromUtf8("Łódź", cp::MAZOVIA), "\x9C\xA2\x64\xA6");
}

TEST(Codepage, FoldCaseAsTheCLibraryForEveryByte) {
  locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  ASSERT_NE(utf8, nullptr) << "no C.UTF-8 locale";
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    const auto upper = static_cast<char32_t>(
        ::towupper_l(static_cast<wint_t>(cp::toUnicode(byte, cp::MAZOVIA)), utf8));
    const int inSet = cp::fromUnicode(upper, cp::MAZOVIA);
    EXPECT_EQ(cp::foldCase(byte), inSet < 0 ? byte : inSet) << "byte 0x" << std::hex << b;
  }
  ::freelocale(utf8);
  EXPECT_EQ(cp::toUtf8(std::string(1, static_cast<char>(cp::foldCase(0xA7))), cp::MAZOVIA), "Ż");
}
