// The host's text functions as the module calls them, in a temporary shop folder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/functions/text_files.h"

namespace fn = velkar::fn;
namespace fs = std::filesystem;

namespace {

class TextFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velkar::resetHost();
    previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "textfn_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    fs::current_path(dir);
  }
  void TearDown() override {
    velkar::resetHost();
    fs::current_path(previous);
    fs::remove_all(dir);
  }

  static void write(const char* name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  static std::string read(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // All lines readLine gives with a buffer of `size`, joined by '|'.
  static std::string lines(const char* name, int size) {
    void* f = fn::openTextFile(name, "rt", 0x40, 0, -1);
    EXPECT_NE(f, nullptr);
    std::string out;
    std::string buffer(static_cast<size_t>(size) + 8, '#');
    while (fn::readLine(f, buffer.data(), size)) {
      EXPECT_EQ(buffer.substr(static_cast<size_t>(size)), "########") << "written past size";
      out += std::string(buffer.c_str()) + "|";
    }
    EXPECT_EQ(fn::readLine(f, buffer.data(), size), 0);  // the end stays the end
    fn::closeTextFile(f);
    return out;
  }

  fs::path previous, dir;
};

struct Field {
  int result;
  std::string text;
};
Field field(int index, const char* line, int fieldSize = 256, int maxLength = 256,
            const char* separators = ",") {
  char buffer[300];
  std::memset(buffer, '#', sizeof buffer);
  const int result = fn::getField(index, line, buffer, fieldSize, maxLength, separators);
  return {result, result < 0 ? "#" : std::string(buffer, std::strlen(buffer))};
}

}  // namespace

TEST_F(TextFunctionsTest, GetFieldCountsFieldsBetweenSeparators) {
  EXPECT_EQ(field(0, "a,b").text, "a");
  EXPECT_EQ(field(1, "a,b").text, "b");
  EXPECT_LT(field(2, "a,b").result, 0);
  EXPECT_EQ(field(0, "a").text, "a");
  EXPECT_LT(field(1, "a").result, 0);
  EXPECT_EQ(field(0, "").result, 0);
  EXPECT_EQ(field(0, "").text, "");
  EXPECT_LT(field(1, "").result, 0);
  EXPECT_EQ(field(0, ",23").text, "");
  EXPECT_EQ(field(1, "a,,b").text, "");
  EXPECT_EQ(field(2, "a,").result, -1);
  EXPECT_EQ(field(1, "a,").text, "");
  EXPECT_EQ(field(1, " 590 , zw \r").text, " zw \r");  // nothing trimmed
  EXPECT_EQ(field(2, "a;b,c", 256, 256, ",;").text, "c");
  EXPECT_LT(field(-1, "a,b").result, 0);
  EXPECT_LT(field(0, nullptr).result, 0);
}

TEST_F(TextFunctionsTest, GetFieldCopiesNoMoreThanBothLimitsAllow) {
  EXPECT_EQ(field(1, "x,abcdefgh", 4, 100).text, "abc");  // fieldSize - 1
  EXPECT_EQ(field(1, "x,abcdefgh", 100, 2).text, "ab");   // maxLength
  EXPECT_EQ(field(1, "x,abcdefgh", 100, 2).result, 2);
  EXPECT_EQ(field(1, "x,abcdefgh", 9, 8).text, "abcdefgh");
  EXPECT_EQ(field(0, "abc", 100, 0).text, "");
  char guard[4] = {'#', '#', '#', '#'};
  EXPECT_GE(fn::getField(0, "abc", guard, 0, 10, ","), 0);  // the field exists, nothing written
  EXPECT_EQ(std::string(guard, 4), "####");
}

TEST_F(TextFunctionsTest, ReadLineTakesCrLfAndLfLinesAndALastLineWithoutEnd) {
  write("a.txt", "one\r\ntwo\nthree");
  EXPECT_EQ(lines("a.txt", 256), "one|two|three|");
  write("b.txt", "\r\n\n\r\nx\r\n");
  EXPECT_EQ(lines("b.txt", 256), "|||x|");
  write("c.txt", "a\rb\r\nend\r");  // a CR inside a line is data
  EXPECT_EQ(lines("c.txt", 256), "a\rb|end|");
  write("empty.txt", "");
  EXPECT_EQ(lines("empty.txt", 256), "");
}

TEST_F(TextFunctionsTest, ReadLineCutsAnOverLongLineAndSkipsItsRest) {
  write("a.txt", "abcdefgh\r\nxy\nabcd\r\nabcde\r\nz");
  EXPECT_EQ(lines("a.txt", 5), "abcd|xy|abcd|abcd|z|");
  EXPECT_EQ(lines("a.txt", 1), "|||||");
  std::string huge(100000, 'q');
  write("b.txt", huge + "\r\nlast\r\n");
  EXPECT_EQ(lines("b.txt", 256), std::string(255, 'q') + "|last|");
}

TEST_F(TextFunctionsTest, SeekAndTellMeasureTheFileAsTheModuleDoes) {
  write("rates.csv", "590,23\r\n591,8\r\n");
  void* f = fn::openTextFile("rates.csv", "rt", 0x40, 0, -1);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fn::seekFile(f, 0, 2), 0);
  EXPECT_EQ(fn::tellFile(f), 15);
  EXPECT_EQ(fn::seekFile(f, 0, 0), 0);
  char line[256];
  ASSERT_EQ(fn::readLine(f, line, sizeof line), 1);
  EXPECT_STREQ(line, "590,23");
  EXPECT_EQ(fn::tellFile(f), 8);
  EXPECT_EQ(fn::seekFile(f, 0, 7), -1);
  EXPECT_EQ(fn::closeTextFile(f), 0);
}

TEST_F(TextFunctionsTest, PrintToFileWritesDosLines) {
  void* f = fn::openTextFile("zmianavat.txt", "wt", 0x40, 0, -1);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fn::printToFile(f, "%s -> %d zmiany: %d, brak zmian: %d\n", "590", -1, 1, 0), 35);
  EXPECT_EQ(fn::printToFile(f, "%s niepoprawny kod\n", ""), 17);
  const std::string longKey(600, 'k');
  EXPECT_EQ(fn::printToFile(f, "%s\n", longKey.c_str()), 601);
  EXPECT_EQ(fn::closeTextFile(f), 0);
  EXPECT_EQ(read("zmianavat.txt"),
            "590 -> -1 zmiany: 1, brak zmian: 0\r\n niepoprawny kod\r\n" + longKey + "\r\n");
  // Binary mode writes the bytes as given.
  f = fn::openTextFile("raw.bin", "wb", 0, 0, 0);
  fn::printToFile(f, "a\nb");
  fn::closeTextFile(f);
  EXPECT_EQ(read("raw.bin"), "a\nb");
}

TEST_F(TextFunctionsTest, HandlesAreCheckedAndTracked) {
  EXPECT_EQ(fn::openTextFile("missing.csv", "rt", 0x40, 0, -1), nullptr);
  EXPECT_EQ(fn::openTextFile("x.txt", "qt", 0x40, 0, -1), nullptr);
  EXPECT_FALSE(fs::exists("x.txt"));
  write("in.txt", "line\n");
  void* in = fn::openTextFile("in.txt", "rt", 0x40, 0, -1);
  void* out = fn::openTextFile("out.txt", "wt", 0x40, 0, -1);
  ASSERT_TRUE(in && out);
  EXPECT_TRUE(fs::exists(dir / "out.txt"));  // names are taken in the current directory
  EXPECT_EQ(velkar::openTextFileCount(), 2);

  char line[16] = "unchanged";
  EXPECT_LT(fn::printToFile(in, "x"), 0);     // opened for reading
  EXPECT_EQ(fn::readLine(out, line, 16), 0);  // opened for writing
  EXPECT_EQ(fn::readLine(in, line, 0), 0);    // no room
  EXPECT_EQ(fn::readLine(in, nullptr, 16), 0);
  EXPECT_EQ(fn::closeTextFile(in), 0);
  EXPECT_EQ(velkar::openTextFileCount(), 1);

  int notAFile = 0;
  EXPECT_EQ(fn::closeTextFile(in), -1);  // already closed
  EXPECT_EQ(fn::readLine(in, line, 16), 0);
  EXPECT_EQ(fn::readLine(&notAFile, line, 16), 0);
  EXPECT_LT(fn::printToFile(&notAFile, "x"), 0);
  EXPECT_EQ(fn::seekFile(nullptr, 0, 0), -1);
  EXPECT_EQ(fn::tellFile(&notAFile), -1);
  EXPECT_STREQ(line, "unchanged");
  EXPECT_EQ(velkar::badTextFileHandles(), 6);

  velkar::resetHost();  // a fresh host has no file left open
  EXPECT_EQ(velkar::openTextFileCount(), 0);
  EXPECT_EQ(velkar::badTextFileHandles(), 0);
}

TEST_F(TextFunctionsTest, ConvertCharsetStaysInsideTheOutputBuffer) {
  namespace cp = velkar::codepage;
  const std::string windows = cp::fromUtf8("Zażółć", cp::WINDOWS_1250);
  const std::string mazovia = cp::fromUtf8("Zażółć", cp::MAZOVIA);
  char out[16];

  std::memset(out, '#', sizeof out);
  EXPECT_EQ(fn::convertCharset(out, 16, windows.c_str(), -1, 3, 1), 6);
  EXPECT_STREQ(out, mazovia.c_str());

  std::memset(out, '#', sizeof out);
  EXPECT_EQ(fn::convertCharset(out, 4, windows.c_str(), -1, 3, 1), 3);
  EXPECT_EQ(std::string(out, 6), mazovia.substr(0, 3) + std::string("\0##", 3));

  std::memset(out, '#', sizeof out);
  EXPECT_EQ(fn::convertCharset(out, 0, windows.c_str(), -1, 3, 1), 0);
  EXPECT_EQ(fn::convertCharset(out, -5, windows.c_str(), -1, 3, 1), 0);
  EXPECT_EQ(out[0], '#');

  const char unterminated[4] = {'a', '\xB9', 'c', 'd'};  // "ąc" and a byte beyond the length
  EXPECT_EQ(fn::convertCharset(out, 16, unterminated, 3, 3, 1), 3);
  EXPECT_STREQ(out,
               "a\x86"
               "c");

  char key[41];
  std::strcpy(key, windows.c_str());
  EXPECT_EQ(fn::convertCharset(key, 41, key, -1, 3, 1), 6);  // in place, as the module does
  EXPECT_STREQ(key, mazovia.c_str());

  std::memset(out, '#', sizeof out);
  EXPECT_EQ(fn::convertCharset(out, 16, "abc", -1, 3, 7), -1);  // a set the host does not know
  EXPECT_EQ(out[0], '#');
}

TEST_F(TextFunctionsTest, RecodeCopyAndNormalise) {
  namespace cp = velkar::codepage;
  std::string text = cp::fromUtf8("Brak pliku: źródło", cp::MAZOVIA);
  EXPECT_EQ(fn::recodeText(text.data(), text.data(), 1, 3), 18);  // in place
  EXPECT_EQ(cp::toUtf8(text.c_str(), cp::WINDOWS_1250), "Brak pliku: źródło");
  char out[32];
  EXPECT_EQ(fn::recodeText(out, text.c_str(), 3, 1), 18);
  EXPECT_EQ(cp::toUtf8(out, cp::MAZOVIA), "Brak pliku: źródło");

  char copy[8];
  std::memset(copy, '#', sizeof copy);
  EXPECT_EQ(fn::copyText(copy, "1234567890", 5), copy);
  EXPECT_EQ(std::string(copy, 7), std::string("12345\0#", 7));
  EXPECT_STREQ(fn::copyText(copy, "ab", 5), "ab");
  EXPECT_STREQ(fn::copyText(copy, "ab", 0), "");

  std::string name = cp::fromUtf8("mąka żytnia Łódzka 1kg", cp::MAZOVIA);
  const size_t length = name.size();
  EXPECT_EQ(fn::normaliseText(name.data()), name.data());
  EXPECT_EQ(std::strlen(name.c_str()), length);
  EXPECT_EQ(cp::toUtf8(name, cp::MAZOVIA), "MĄKA ŻYTNIA ŁÓDZKA 1KG");
}

TEST_F(TextFunctionsTest, InjectedFaultsFailTheNaturalWay) {
  write("rates.csv", "first\r\nsecond\r\n");
  velkar::host().faults.push_back({52534, 1});
  EXPECT_EQ(fn::openTextFile("rates.csv", "rt", 0x40, 0, -1), nullptr);
  EXPECT_EQ(velkar::openTextFileCount(), 0);
  void* f = fn::openTextFile("rates.csv", "rt", 0x40, 0, -1);  // the second call works
  ASSERT_NE(f, nullptr);

  velkar::host().faults.push_back({52536, 2});
  char line[256];
  ASSERT_EQ(fn::readLine(f, line, sizeof line), 1);
  EXPECT_EQ(fn::readLine(f, line, sizeof line), 0);  // a read error: nothing taken
  ASSERT_EQ(fn::readLine(f, line, sizeof line), 1);
  EXPECT_STREQ(line, "second");
  fn::closeTextFile(f);

  const auto opens = velkar::callsOf("openTextFile");
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].args, (std::vector<std::string>{"\"rates.csv\"", "\"rt\"", "64", "0", "-1"}));
  EXPECT_EQ(velkar::callsOf("readLine").size(), 3u);
}
