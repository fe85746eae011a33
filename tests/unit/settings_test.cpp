// The settings store behind hostSettings: scanf/printf-style access, the file and its escapes.
#include <gtest/gtest.h>

#include "support/shop_folder.h"
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <fstream>
#include <iterator>

#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/shop/settings.h"

namespace fs = std::filesystem;
using namespace velkar;

namespace {

// hostSettings as the plug-in calls it: the variable arguments handed on as a va_list.
int settingsCall(int operation, const char* section, const char* key, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = fn::hostSettings(operation, section, key, format, args);
  va_end(args);
  return result;
}

std::string bytesOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class SettingsTest : public testing_support::ShopFolderTest {
 protected:
  SettingsTest() : ShopFolderTest("velkar-settings-") {}
  fs::path ini() const { return dir / "velkar.ini"; }
};

TEST_F(SettingsTest, NumbersRoundTripThroughBothOperationPairs) {
  EXPECT_EQ(settingsCall(2, "Mirtal", "Mag", "%d", -12345), 0);
  EXPECT_EQ(settingsCall(9, "Mirtal", "Opcje", "%d", 2), 0);
  int mag = 0, opcje = 0;
  EXPECT_EQ(settingsCall(1, "Mirtal", "Mag", "%d", &mag), 0);
  EXPECT_EQ(mag, -12345);
  EXPECT_EQ(settingsCall(8, "Mirtal", "Mag", "%d", &mag), 0);  // one store for both pairs
  EXPECT_EQ(settingsCall(8, "Mirtal", "Opcje", "%d", &opcje), 0);
  EXPECT_EQ(opcje, 2);
  EXPECT_EQ(bytesOf(ini()), "[Mirtal]\nMag=-12345\nOpcje=2\n");

  // A fresh host loads what the last one wrote.
  resetHost();
  host().shopDir = dir;
  mag = 0;
  EXPECT_EQ(settingsCall(1, "mirtal", "MAG", "%d", &mag), 0);  // names as the host reads them
  EXPECT_EQ(mag, -12345);
}

TEST_F(SettingsTest, TextsAreReadUpToTheirWidthAndFirstBlank) {
  const std::string exact(128, 'p');
  ASSERT_EQ(settingsCall(9, "Mirtal", "Path", "%s", exact.c_str()), 0);
  char fileName[131];
  std::memset(fileName, 0x55, sizeof fileName);
  ASSERT_EQ(settingsCall(8, "Mirtal", "Path", "%128s", fileName), 0);
  EXPECT_EQ(std::string(fileName), exact);
  EXPECT_EQ(static_cast<unsigned char>(fileName[129]), 0x55);

  const std::string longer = std::string(128, 'q') + "rs";
  ASSERT_EQ(settingsCall(9, "Mirtal", "Path", "%s", longer.c_str()), 0);
  ASSERT_EQ(settingsCall(8, "Mirtal", "Path", "%128s", fileName), 0);
  EXPECT_EQ(std::string(fileName), std::string(128, 'q'));
  EXPECT_EQ(static_cast<unsigned char>(fileName[129]), 0x55);

  ASSERT_EQ(settingsCall(9, "Mirtal", "Path", "%s", "  c:\\dane\\nowe stawki.csv"), 0);
  ASSERT_EQ(settingsCall(8, "Mirtal", "Path", "%128s", fileName), 0);
  EXPECT_STREQ(fileName, "c:\\dane\\nowe");
}

TEST_F(SettingsTest, FailedReadsLeaveTheVariableAlone) {
  std::ofstream(ini()) << "[Mirtal]\nOpcje=abc\nPath=\nBig=99999999999\nShort=70000\n";
  int value = 77;
  char text[129] = "keep";
  EXPECT_NE(settingsCall(1, "Mirtal", "Pytaj", "%d", &value) & 0xFFFF, 0);  // missing
  EXPECT_NE(settingsCall(1, "Other", "Opcje", "%d", &value) & 0xFFFF, 0);   // other section
  EXPECT_NE(settingsCall(8, "Mirtal", "Opcje", "%d", &value) & 0xFFFF, 0);  // not a number
  EXPECT_NE(settingsCall(8, "Mirtal", "Big", "%d", &value) & 0xFFFF, 0);    // too big for int
  EXPECT_NE(settingsCall(8, "Mirtal", "Path", "%128s", text) & 0xFFFF, 0);  // empty
  EXPECT_EQ(value, 77);
  EXPECT_STREQ(text, "keep");

  // All or nothing: the first conversion fits, the second does not, neither is stored.
  short small = 5;
  EXPECT_NE(settingsCall(8, "Mirtal", "Short", "%hd", &small), 0);
  EXPECT_EQ(small, 5);
  std::ofstream(ini()) << "[Mirtal]\nPair=12 x\n";
  settings::reload();
  int first = 1, second = 2;
  EXPECT_NE(settingsCall(1, "Mirtal", "Pair", "%d %d", &first, &second), 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
}

TEST_F(SettingsTest, UnsafeFormatsAndBadCallsAreRefused) {
  ASSERT_EQ(settingsCall(2, "Mirtal", "Path", "%s", "abc"), 0);
  const std::string before = bytesOf(ini());
  char text[8] = "keep";
  int count = 3;
  EXPECT_NE(settingsCall(1, "Mirtal", "Path", "%s", text), 0);  // no width: could overrun
  EXPECT_NE(settingsCall(1, "Mirtal", "Path", "%3s%n", text, &count), 0);
  EXPECT_STREQ(text, "keep");
  EXPECT_NE(settingsCall(2, "Mirtal", "Path", "%s", static_cast<const char*>(nullptr)), 0);
  EXPECT_NE(settingsCall(2, "Mirtal", "Path", "%n", &count), 0);
  EXPECT_NE(settingsCall(2, "Mirtal", "Bad=Key", "%d", 1), 0);
  EXPECT_NE(settingsCall(2, "Bad]", "Key", "%d", 1), 0);
  EXPECT_NE(settingsCall(3, "Mirtal", "Path", "%d", 1), 0);  // no such operation
  EXPECT_NE(settingsCall(2, nullptr, "Path", "%d", 1), 0);
  host().faults.push_back({52224, static_cast<long>(host().callCounts[52224] + 1)});
  EXPECT_NE(settingsCall(2, "Mirtal", "Path", "%s", "changed"), 0);
  EXPECT_EQ(bytesOf(ini()), before);

  // A store whose folder does not exist cannot be written, and says so.
  settings::setStorePath(dir / "missing" / "velkar.ini");
  EXPECT_NE(settingsCall(2, "Mirtal", "Mag", "%d", 1), 0);
}

TEST_F(SettingsTest, TheFileKeepsCommentsAndEscapesHostBytes) {
  std::ofstream(ini()) << "; the shop's settings\r\n[Inne]\r\nA = 1\r\n\r\n[Mirtal]\r\n"
                          "Mag = 7\r\n# end\r\n";
  int mag = 0;
  ASSERT_EQ(settingsCall(1, "Mirtal", "Mag", "%d", &mag), 0);
  EXPECT_EQ(mag, 7);

  // Mazovia bytes (0x86 'ą', 0xA5 'Ń'), a backslash and blanks at the ends survive the file.
  const std::string value = " Nowe_stawki_\x86\xA5\\x.csv ";
  ASSERT_EQ(settingsCall(9, "Mirtal", "Path", "%s", value.c_str()), 0);
  ASSERT_EQ(settingsCall(2, "Nowa", "Klucz", "%04X", 0xAB), 0);
  EXPECT_EQ(bytesOf(ini()),
            "; the shop's settings\r\n[Inne]\r\nA = 1\r\n\r\n[Mirtal]\r\nMag = 7\r\n"
            "Path=\\x20Nowe_stawki_\\x86\\xA5\\\\x.csv\\x20\r\n# end\r\n\r\n[Nowa]\r\n"
            "Klucz=00AB\r\n");
  settings::reload();
  std::string back;
  ASSERT_TRUE(settings::get("Mirtal", "Path", back));
  EXPECT_EQ(back, value);
  char fileName[129];
  ASSERT_EQ(settingsCall(8, "Mirtal", "Path", "%128s", fileName), 0);
  EXPECT_STREQ(fileName, "Nowe_stawki_\x86\xA5\\x.csv");
}

}  // namespace
