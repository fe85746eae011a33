// The console UI: text layout with emphasis and tab stops, message windows and their answers,
// the waiting message, progress, the stop request, the choosers and the text-file viewer.
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/console/ui.h"

namespace {

namespace ui = velkar::ui;

std::string mz(const std::string& utf8) {
  return velkar::codepage::fromUtf8(utf8, velkar::codepage::MAZOVIA);
}

std::vector<std::string> layout(const std::string& hostText, ui::Style style = ui::Style::Plain,
                                int width = 76) {
  std::vector<std::string> out;
  for (const ui::Line& l : ui::layoutText(hostText, ui::LayoutOptions{style, width, false}))
    out.push_back(ui::renderLine(l, style));
  return out;
}

// Column (counted in characters) at which `part` starts in `line`.
int columnOf(const std::string& line, const std::string& part) {
  const size_t at = line.find(part);
  return at == std::string::npos ? -1 : ui::textWidth(line.substr(0, at));
}

class Ui : public ::testing::Test {
 protected:
  void SetUp() override {
    velkar::resetHost();
    ui::setOutput(&screen);
  }
  void TearDown() override { velkar::resetHost(); }
  std::ostringstream screen;
};

TEST(Layout, LeftAndRightAlignedTabStops) {
  const auto lines = layout(
      "\x01tl18l33\x01TABELA\tWE WTYCZCE\tW PROGRAMIE\n"
      "\x01tp25p40\x01k9\t1024\t1000\n"
      "\x01tp25p40\x01Kody\t144\tbrak\n");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "TABELA" + std::string(12, ' ') + "WE WTYCZCE" + std::string(5, ' ') + "W PROGRAMIE");
  // Right-aligned: the number ends just before the stop's column.
  EXPECT_EQ(lines[1], "k9" + std::string(19, ' ') + "1024" + std::string(11, ' ') + "1000");
  EXPECT_EQ(columnOf(lines[2], "144") + 3, 25);
  EXPECT_EQ(columnOf(lines[2], "brak") + 4, 40);
  EXPECT_EQ(lines[3], "");

  // Stops set at the start hold for every later line; text already past a stop gets one space.
  const auto summary =
      layout(mz("\x01tp50\x01Ilość towarów odczytana z pliku:\t\x02"
                "12\n"
                "Towary, którym ustalono nową stawkę VAT:\t\x02"
                "3456\n"
                "x\t1\t2"));
  EXPECT_EQ(columnOf(summary[0], "12"), 48);
  EXPECT_EQ(columnOf(summary[1], "3456"), 46);
  EXPECT_EQ(ui::textWidth(summary[0]), 50);
  EXPECT_EQ(summary[2], "x" + std::string(48, ' ') + "1 2");

  // A directive inside a line applies from there on; without stops, tabs go to multiples of 8.
  EXPECT_EQ(layout("a\tb\x01tl12\x01\tc")[0], "a       b   c");
  EXPECT_EQ(layout("ab\tc\tdefghijkl\tm")[0], "ab      c       defghijkl       m");
}

TEST(Layout, EmphasisInEachStyleEndsAtItsMarkOrTheLineEnd) {
  const std::string text = "Moduł \x02vat.dll\x01 NIE\nDodano:\x02 tytuł\nnastępna";
  EXPECT_EQ(layout(mz(text)),
            (std::vector<std::string>{"Moduł vat.dll NIE", "Dodano: tytuł", "następna"}));
  EXPECT_EQ(layout(mz(text), ui::Style::Marked),
            (std::vector<std::string>{"Moduł *vat.dll* NIE", "Dodano:* tytuł*", "następna"}));
  EXPECT_EQ(layout(mz(text), ui::Style::Ansi),
            (std::vector<std::string>{"Moduł \x1b[0m\x1b[1mvat.dll\x1b[0m NIE",
                                      "Dodano:\x1b[0m\x1b[1m tytuł\x1b[0m", "następna"}));
  // Right alignment counts what is drawn: the marked number still ends at its stop.
  const auto marked = layout(
      "\x01tp10\x01n:\t\x02"
      "42",
      ui::Style::Marked);
  EXPECT_EQ(marked[0], "n:    *42*");

  // A 0x01 't' that is no list of stops is an emphasis end and text.
  EXPECT_EQ(layout("\x02"
                   "a\x01tx\x01y",
                   ui::Style::Marked)[0],
            "*a*txy");
  EXPECT_EQ(ui::stripMarkup("\x02"
                            "a\x01tx\x01y\x01tp5\x01\tz"),
            "atxy\tz");
  // Other control bytes show as spaces; CR is dropped.
  EXPECT_EQ(layout("r.\a program\r")[0], "r.  program");
}

TEST(Layout, DialogMarkupAndWrapping) {
  const ui::LayoutOptions dialog{ui::Style::Marked, 76, true};
  EXPECT_EQ(ui::renderLine(ui::layoutText("\x05"
                                          "F3\x01 Zmie\xa4 plik",
                                          dialog)[0],
                           ui::Style::Marked),
            "*F3* Zmień plik");
  EXPECT_EQ(ui::renderLine(ui::layoutText("~P~lik", dialog)[0], ui::Style::Marked), "*P*lik");
  EXPECT_EQ(ui::stripMarkup("~P~lik \x05"
                            "F12\x01 OK",
                            true),
            "Plik F12 OK");
  EXPECT_EQ(ui::stripMarkup("~P~lik"), "~P~lik");  // not in message texts

  EXPECT_EQ(layout("jeden dwa trzy cztery", ui::Style::Plain, 10),
            (std::vector<std::string>{"jeden dwa", "trzy", "cztery"}));
  EXPECT_EQ(layout("abcdefghijkl", ui::Style::Plain, 5),
            (std::vector<std::string>{"abcde", "fghij", "kl"}));
}

TEST(Layout, FrameHoldsTheTitleAndLinesOfEqualWidth) {
  const std::string box = ui::frameBox(
      "uwaga", {ui::plainLine("Za mało pamięci"), ui::plainLine("x")}, ui::Style::Plain);
  std::istringstream in(box);
  std::vector<std::string> rows;
  for (std::string r; std::getline(in, r);) rows.push_back(r);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], "┌───── uwaga ─────┐");
  EXPECT_EQ(rows[1], "│ Za mało pamięci │");
  EXPECT_EQ(rows[2], "│ x               │");
  EXPECT_EQ(rows[3], "└─────────────────┘");
  for (const auto& r : rows) EXPECT_EQ(ui::textWidth(r), 19) << r;
}

// ASCII frames (the Windows console's default) have the same shape as box-drawing ones; the
// progress bar goes ASCII with them. resetHost() returns to the platform's default.
TEST_F(Ui, AsciiFramesKeepTheShapeOfBoxFrames) {
  ui::setFrames(ui::Frames::Ascii);
  const std::string box = ui::frameBox(
      "uwaga", {ui::plainLine("Za mało pamięci"), ui::plainLine("x")}, ui::Style::Plain);
  EXPECT_EQ(box,
            "+----- uwaga -----+\n"
            "| Za mało pamięci |\n"
            "| x               |\n"
            "+-----------------+\n");

  ui::setStyle(ui::Style::Ansi);
  ui::beginProgress(1);
  ui::updateProgress(1, 2);
  ui::endProgress();
  EXPECT_NE(screen.str().find("[###############...............]  50%"), std::string::npos)
      << screen.str();
  EXPECT_EQ(screen.str().find("█"), std::string::npos);

  velkar::resetHost();
  EXPECT_EQ(ui::frames(), ui::Frames::Box);
}

// The text width of windows written to a file or pipe can be narrowed (the shop guide's screens).
TEST_F(Ui, WindowTextWrapsAtTheWidthSet) {
  ui::setFrames(ui::Frames::Ascii);
  ui::setTextWidth(20);
  ui::showMessage("uwaga", mz("jeden dwa trzy cztery pięć sześć"), 1);
  EXPECT_NE(screen.str().find("| jeden dwa trzy    |\n| cztery pięć sześć |"), std::string::npos)
      << screen.str();
  screen.str("");
  ui::setTextWidth(5);  // never below 20 columns
  ui::showMessage("uwaga", mz("jeden dwa trzy cztery pięć sześć"), 1);
  EXPECT_NE(screen.str().find("| jeden dwa trzy    |\n| cztery pięć sześć |"), std::string::npos)
      << screen.str();
}

TEST_F(Ui, MessagesAnswerFromTheScriptOrTakeOk) {
  ui::setScript({"file x.csv", "message cancel", "message ok"});
  // Informational windows take no answer from the script.
  EXPECT_EQ(velkar::fn::showMessage("uwaga", mz("Za mało pamięci").c_str(), 1) & 0xFFFF, 0x5001);
  EXPECT_EQ(velkar::fn::showMessage("uwaga", "pytanie", 9) & 0xFFFF, 0x5002);
  EXPECT_EQ(velkar::fn::showMessage("uwaga", "pytanie", 9) & 0xFFFF, 0x5001);
  EXPECT_EQ(velkar::fn::showMessage("uwaga", "pytanie", 9) & 0xFFFF, 0x5001);  // default
  // The line of another kind is still there for its question.
  EXPECT_EQ(ui::takeScript("file"), "x.csv");

  const auto& shown = ui::shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].kind, "message");
  EXPECT_EQ(shown[0].title, "uwaga");
  EXPECT_EQ(shown[0].text, "Za mało pamięci");
  EXPECT_EQ(shown[1].kind, "confirm");
  EXPECT_EQ(shown[1].result, 0x5002);
  EXPECT_NE(screen.str().find("│ Za mało pamięci"), std::string::npos);
  EXPECT_NE(screen.str().find("[Enter OK]  [Esc Anuluj]"), std::string::npos);
}

TEST_F(Ui, TheWaitingMessageStaysUntilClosedAndTakesNoAnswer) {
  ui::setScript({"message cancel"});
  EXPECT_EQ(
      velkar::fn::showMessage("uwaga", mz("Proszę czekać. Tworzenie raportu.").c_str(), 0x200) &
          0xFFFF,
      0x5001);
  EXPECT_TRUE(ui::waitMessageShown());
  EXPECT_EQ(ui::shown().back().kind, "wait");
  EXPECT_EQ(ui::shown().back().text, "Proszę czekać. Tworzenie raportu.");
  EXPECT_EQ(velkar::fn::showMessage("uwaga", "?", 9) & 0xFFFF, 0x5002);  // the line is still there
  EXPECT_TRUE(ui::waitMessageShown());
  velkar::fn::closeWaitMessage();
  EXPECT_FALSE(ui::waitMessageShown());
}

int showList(const char* caption, const char* format, int style, ...) {
  va_list args;
  va_start(args, style);
  const int r = velkar::fn::showMessageList(0, caption, format, style, args);
  va_end(args);
  return r;
}

TEST_F(Ui, FormattedMessagesFormatTheirArguments) {
  velkar::fn::showFormattedCoded(30000, "STOP!!!", "%s", 0xF001, 0x6E2E,
                                 mz("Moduł 'a.dll'").c_str());
  velkar::fn::showFormatted("STOP!!!", "%02d.%02d.%04d r. 0x%08X", 0xF001, 0x6E2E, 1, 2, 2019,
                            0xFFFFFFFFu);
  showList("uwaga", mz("\x01tp50\x01Ilość:\t\x02%d\nNowe:\t\x02%d").c_str(), 1, 7, 12, 0);
  const auto& shown = ui::shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].title, "STOP!!!");
  EXPECT_EQ(shown[0].text, "Moduł 'a.dll'");
  EXPECT_EQ(shown[1].text, "01.02.2019 r. 0xFFFFFFFF");
  EXPECT_EQ(shown[2].text, "Ilość:\t7\nNowe:\t12");
}

TEST_F(Ui, StopAfterNAnswersFromThePollAfterTheNth) {
  for (int i = 0; i < 50; ++i) EXPECT_EQ(velkar::fn::stopRequested(), 0);
  velkar::resetHost();
  ui::setScript({"stop-after 2"});
  EXPECT_EQ(velkar::fn::stopRequested(), 0);
  EXPECT_EQ(velkar::fn::stopRequested(), 0);
  EXPECT_EQ(velkar::fn::stopRequested(), 1);
  EXPECT_EQ(velkar::fn::stopRequested(), 1);
  velkar::resetHost();
  ui::setScript({"stop-after 0"});
  EXPECT_EQ(velkar::fn::stopRequested(), 1);
}

TEST_F(Ui, ProgressIsSummedUpOffTheTerminalAndRedrawnInPlaceOnIt) {
  velkar::fn::beginProgress(238);
  for (int i = 0; i <= 10; ++i) velkar::fn::updateProgress(i, 10);
  velkar::fn::endProgress();
  EXPECT_EQ(screen.str(), "Postęp: 10/10\n");
  EXPECT_EQ(ui::shown().back().kind, "progress");
  EXPECT_EQ(ui::shown().back().text, "10/10");

  screen.str("");
  ui::setStyle(ui::Style::Ansi);
  velkar::fn::beginProgress(238);
  velkar::fn::updateProgress(0, 4);
  velkar::fn::updateProgress(4, 4);
  velkar::fn::showMessage("uwaga", "x", 1);  // a window starts on a line of its own
  velkar::fn::endProgress();
  const std::string s = screen.str();
  EXPECT_EQ(s.find("\r["), 0u);
  EXPECT_NE(s.find("100%  4/4\x1b[K\n┌"), std::string::npos) << s;
  EXPECT_EQ(s.back(), '\n');
}

TEST_F(Ui, ChoosersAnswerFromTheScript) {
  char name[129] = "stary.csv";
  char mask[] = "c:\\*.*";
  EXPECT_EQ(velkar::fn::chooseFile(57, name, mask, 1), -1);  // no line: nothing chosen
  EXPECT_STREQ(name, "stary.csv");
  ui::setScript({"warehouse 3", "file none", "file nowy.csv", "warehouse none",
                 "file " + std::string(200, 'n')});
  EXPECT_EQ(velkar::fn::chooseFile(57, name, mask, 1), -1);
  EXPECT_STREQ(name, "stary.csv");
  EXPECT_EQ(velkar::fn::chooseFile(57, name, mask, 1), 0);
  EXPECT_STREQ(name, "nowy.csv");
  EXPECT_EQ(velkar::fn::chooseFile(57, name, mask, 1), 0);
  EXPECT_EQ(std::string(name), std::string(128, 'n'));  // at most 128 bytes and the zero
  EXPECT_EQ(velkar::fn::chooseWarehouse(0, 680, 0), 3);
  EXPECT_EQ(velkar::fn::chooseWarehouse(3, 680, 0), -1);
  EXPECT_EQ(velkar::fn::chooseWarehouse(7, 680, 0), 7);  // no line: the current one
  EXPECT_EQ(ui::shown().back().kind, "warehouse");
}

TEST_F(Ui, TextFilesAreShownInUtf8) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("velkar-ui-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  velkar::host().shopDir = dir;
  std::ofstream(dir / "zmianavat.txt", std::ios::binary) << mz("ZMIANA 590\tCZĘŚĆ\r\nwiersz 2\r\n");
  EXPECT_EQ(velkar::fn::showTextFile("zmianavat.txt"), 0);
  EXPECT_EQ(ui::shown().back().kind, "textfile");
  EXPECT_EQ(ui::shown().back().text, "ZMIANA 590      CZĘŚĆ\nwiersz 2");
  EXPECT_NE(screen.str().find("│ wiersz 2"), std::string::npos);
  EXPECT_EQ(velkar::fn::showTextFile("brak.txt"), -1);
  EXPECT_EQ(ui::shown().back().result, -1);
  std::filesystem::remove_all(dir);
}

TEST(Keys, NamesMasksAndCodes) {
  EXPECT_EQ(ui::keyFromName("F3"), 0x3D00);
  EXPECT_EQ(ui::keyFromName("f12"), 0x8600);
  EXPECT_EQ(ui::keyFromName("Enter"), 0x1C0D);
  EXPECT_EQ(ui::keyFromName("esc"), 0x011B);
  EXPECT_EQ(ui::keyFromName("Tab"), 0x0F09);
  EXPECT_EQ(ui::keyFromName("0x4101"), 0x4101);
  EXPECT_EQ(ui::keyFromName("x"), 'x');
  EXPECT_FALSE(ui::keyFromName("F13"));
  EXPECT_FALSE(ui::keyFromName("0x10000"));
  EXPECT_EQ(ui::keyName(0x3D00), "F3");
  EXPECT_EQ(ui::keyName(0x8600), "F12");
  EXPECT_EQ(ui::altKey('P'), 0x1900);

  EXPECT_TRUE(ui::matchesMask("Nowe_stawki_VAT.csv", "*.*"));
  EXPECT_TRUE(ui::matchesMask("README", "*.*"));
  EXPECT_TRUE(ui::matchesMask("ceny.CSV", "*.csv"));
  EXPECT_FALSE(ui::matchesMask("ceny.csv.bak", "*.csv"));
  EXPECT_TRUE(ui::matchesMask("MMM12.MGR", "MMM*.MGR"));
  EXPECT_TRUE(ui::matchesMask("DANE1.TXT", "DANE?.TXT"));
  EXPECT_FALSE(ui::matchesMask("DANE12.TXT", "DANE?.TXT"));
}

// The bytes a terminal sends for a key: escape sequences of both families, a lone Esc, Alt and a
// letter, UTF-8 Polish letters as Mazovia bytes; an unknown sequence is read whole and is no key.
TEST(Keys, TerminalBytesDecodeToKeys) {
  auto decode = [](const std::string& bytes) {
    size_t at = 1;
    const int key = ui::keyFromBytes(static_cast<unsigned char>(bytes[0]), [&](int) {
      return at < bytes.size() ? static_cast<unsigned char>(bytes[at++]) : -1;
    });
    EXPECT_EQ(at, bytes.size()) << "not read whole: " << bytes;
    return key;
  };
  EXPECT_EQ(decode("\x1b"), ui::KEY_ESC);
  EXPECT_EQ(decode("\x1bOR"), ui::KEY_F3);
  EXPECT_EQ(decode("\x1b[13~"), ui::KEY_F3);
  EXPECT_EQ(decode("\x1b[24~"), ui::KEY_F12);
  EXPECT_EQ(decode("\x1b[D"), ui::KEY_LEFT);
  EXPECT_EQ(decode("\x1b[C"), ui::KEY_RIGHT);
  EXPECT_EQ(decode("\x1b[1~"), ui::KEY_HOME);
  EXPECT_EQ(decode("\x1bOF"), ui::KEY_END);
  EXPECT_EQ(decode("\x1b[3~"), ui::KEY_DELETE);
  EXPECT_EQ(decode("\x7f"), ui::KEY_BACKSPACE);
  EXPECT_EQ(decode("\r"), ui::KEY_ENTER);
  EXPECT_EQ(decode("\x1bp"), ui::altKey('p'));
  EXPECT_EQ(decode("ł"), static_cast<unsigned char>(mz("ł")[0]));
  EXPECT_EQ(decode("\x1b[99~"), ui::KEY_NONE);
  EXPECT_EQ(decode("€"), ui::KEY_NONE);  // no such letter in the host's set
}

// Key events of the Windows console: virtual-key codes for the keys that type nothing, the
// character for the rest; AltGr letters are characters, Alt and a letter is the host's Alt key.
TEST(Keys, WindowsConsoleEventsDecodeToKeys) {
  constexpr unsigned SHIFT = 0x10, LEFT_ALT = 0x02, RIGHT_ALT = 0x01, LEFT_CTRL = 0x08;
  EXPECT_EQ(ui::keyFromConsole(0x72, 0, 0), ui::KEY_F3);
  EXPECT_EQ(ui::keyFromConsole(0x7B, 0, 0), ui::KEY_F12);
  EXPECT_EQ(ui::keyFromConsole(0x7A, 0, 0), ui::KEY_F11);
  EXPECT_EQ(ui::keyFromConsole(0x70, 0, 0), ui::KEY_F1);
  EXPECT_EQ(ui::keyFromConsole(0x79, 0, 0), ui::KEY_F10);
  EXPECT_EQ(ui::keyFromConsole(0x1B, 0x1B, 0), ui::KEY_ESC);
  EXPECT_EQ(ui::keyFromConsole(0x0D, '\r', 0), ui::KEY_ENTER);
  EXPECT_EQ(ui::keyFromConsole(0x08, 0x08, 0), ui::KEY_BACKSPACE);
  EXPECT_EQ(ui::keyFromConsole(0x09, '\t', 0), ui::KEY_TAB);
  EXPECT_EQ(ui::keyFromConsole(0x09, '\t', SHIFT), ui::KEY_SHIFT_TAB);
  EXPECT_EQ(ui::keyFromConsole(0x25, 0, 0), ui::KEY_LEFT);
  EXPECT_EQ(ui::keyFromConsole(0x27, 0, 0), ui::KEY_RIGHT);
  EXPECT_EQ(ui::keyFromConsole(0x24, 0, 0), ui::KEY_HOME);
  EXPECT_EQ(ui::keyFromConsole(0x23, 0, 0), ui::KEY_END);
  EXPECT_EQ(ui::keyFromConsole(0x2E, 0, 0), ui::KEY_DELETE);
  EXPECT_EQ(ui::keyFromConsole(0x26, 0, 0), ui::KEY_UP);
  EXPECT_EQ(ui::keyFromConsole(0x22, 0, 0), ui::KEY_PGDN);
  EXPECT_EQ(ui::keyFromConsole(0x20, ' ', 0), ui::KEY_SPACE);
  EXPECT_EQ(ui::keyFromConsole('A', 'a', 0), 'a');
  EXPECT_EQ(ui::keyFromConsole('A', 'A', SHIFT), 'A');
  EXPECT_EQ(ui::keyFromConsole('P', 'p', LEFT_ALT), ui::altKey('p'));
  EXPECT_EQ(ui::keyFromConsole('L', 0x0142, RIGHT_ALT | LEFT_CTRL),  // AltGr+L: "ł"
            static_cast<unsigned char>(mz("ł")[0]));
  EXPECT_EQ(ui::keyFromConsole(0x10, 0, SHIFT), ui::KEY_NONE);
  EXPECT_EQ(ui::keyFromConsole(0x12, 0, LEFT_ALT), ui::KEY_NONE);
  EXPECT_EQ(ui::keyFromConsole(0x45, 0x20AC, RIGHT_ALT | LEFT_CTRL), ui::KEY_NONE);  // "€"
}

// The preset is selected: the first key typed or deleted replaces it; a key that moves keeps it.
TEST(LineEdit, TheFirstKeyReplacesThePresetAndEditingKeysWork) {
  ui::LineEdit e("Nowe_stawki_VAT.csv", 20);
  EXPECT_TRUE(e.selected);
  e.handle('a');
  EXPECT_EQ(e.text, "a");
  EXPECT_FALSE(e.selected);
  for (int key : std::vector<int>{int('b'), ui::KEY_HOME, int('x'), ui::KEY_RIGHT, ui::KEY_DELETE,
                                  ui::KEY_END, int('c'), ui::KEY_LEFT, ui::KEY_BACKSPACE})
    e.handle(key);
  EXPECT_EQ(e.text, "xc");  // "ab" -> "xab" -> "xa" (Delete at b) -> "xac" -> Backspace on a
  EXPECT_EQ(e.cursor, 1u);

  e.set("12", true);
  e.handle(ui::KEY_BACKSPACE);  // deletes the whole selection
  EXPECT_EQ(e.text, "");
  e.set("12", true);
  e.handle(ui::KEY_END);  // keeps the text, ends the selection
  e.handle('3');
  EXPECT_EQ(e.text, "123");
  e.set("12", true);
  e.handle(ui::KEY_LEFT);  // to the start of the selection
  e.handle('0');
  EXPECT_EQ(e.text, "012");

  // Only the characters the field takes; never more than its length; keys of no editing ignored.
  auto digitsOnly = [](char c) { return c >= '0' && c <= '9'; };
  e.set("7", true);
  e.handle('x', digitsOnly);
  EXPECT_EQ(e.text, "7");
  EXPECT_TRUE(e.selected);
  e.handle('9', digitsOnly);
  EXPECT_EQ(e.text, "9");
  e.set(std::string(20, 'a'), false);
  e.handle('b');
  EXPECT_EQ(e.text, std::string(20, 'a'));
  EXPECT_FALSE(e.handle(ui::KEY_F3));
  EXPECT_FALSE(e.handle(ui::KEY_ENTER));
  e.set(std::string(30, 'z'), true);  // a preset over the length is cut to it
  EXPECT_EQ(e.text.size(), 20u);
}

// A warehouse whose product file is not in the shop folder is named in the prompt's note.
TEST_F(Ui, TheWarehousePromptNamesAWarehouseWithoutProductFile) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("velkar-ui-wh-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  velkar::host().shopDir = dir;
  std::ofstream(dir / "MMM001.MGR", std::ios::binary) << "";
  EXPECT_EQ(ui::warehouseNote("1"), "");
  EXPECT_EQ(ui::warehouseNote(""), "");
  EXPECT_EQ(ui::warehouseNote("2"), "Magazyn 2 nie ma pliku towarów (MMM002.MGR)");
  EXPECT_EQ(ui::warehouseNote("1000"), "Magazyn 1000 nie ma pliku towarów");
  std::filesystem::remove_all(dir);

  // "warehouse none" is no choice: the host's answer for it (-1 unless a variant says otherwise).
  ui::setScript({"warehouse none"});
  EXPECT_EQ(velkar::fn::chooseWarehouse(2, 680, 0), -1);
  EXPECT_NE(screen.str().find("Magazyn: brak wyboru"), std::string::npos) << screen.str();
}

}  // namespace
