// The dialog description record, its validation, and runDialog with its data block, scripted
// answers and the module's key handler.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "velkar/shop/codepage.h"
#include "velkar/console/dialog.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/console/ui.h"

namespace {

using velkar::dialog::DialogModel;
using velkar::dialog::parseDialog;
using Bytes = std::vector<unsigned char>;

std::string mz(const std::string& utf8) {
  return velkar::codepage::fromUtf8(utf8, velkar::codepage::MAZOVIA);
}

// Builds a description record item by item.
struct RecordBuilder {
  Bytes body;  // from the frame item on
  uint16_t count = 0;

  void u16(unsigned v) {
    body.push_back(static_cast<unsigned char>(v & 0xFF));
    body.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  RecordBuilder& item(unsigned type, unsigned id, unsigned flags, unsigned hotKey, unsigned col,
                      unsigned row, unsigned width, unsigned height, const std::string& utf8,
                      bool frame = false) {
    if (type == 5) {
      u16(5);
      u16(38);
    }
    for (unsigned v : {type, id, flags, hotKey, col, row, width, height}) u16(v);
    u32(0);
    if (type == 5)
      for (unsigned v : {0u, 0u, 0u, 0u, 128u, 8u, 0u, 128u, 1u}) u16(v);  // 32-bit zeros as pairs
    const std::string text = mz(utf8);
    body.insert(body.end(), text.begin(), text.end());
    body.push_back(0);
    if (!frame) ++count;
    return *this;
  }
  Bytes finish() const {
    Bytes record;
    const uint32_t after = static_cast<uint32_t>(body.size() + 4);
    for (int i = 0; i < 4; ++i) record.push_back(static_cast<unsigned char>(after >> (8 * i)));
    record.push_back(static_cast<unsigned char>(body.size() & 0xFF));
    record.push_back(static_cast<unsigned char>(body.size() >> 8));
    record.push_back(static_cast<unsigned char>(count & 0xFF));
    record.push_back(static_cast<unsigned char>(count >> 8));
    record.insert(record.end(), body.begin(), body.end());
    return record;
  }
};

// The module's import dialog, as its table gives it.
Bytes importDialog() {
  RecordBuilder b;
  b.item(0xFFFF, 1, 0, 0, 0, 0, 65, 18, "Wprowadź", true)
      .item(3, 0xFFFF, 0, 0x0050, 2, 2, 23, 1, "~P~lik towarów:")
      .item(5, 0x4101, 0x0400, 0, 2, 3, 41, 1, "")
      .item(0, 0x3D00, 0x0180, 0x3D00, 43, 3, 20, 1,
            "\x05"
            "F3\x01 Zmień plik")
      .item(3, 0xFFFF, 0, 0, 2, 5, 13, 1, "Format pliku:")
      .item(1, 0xFFFF, 0x0400, 0, 2, 6, 60, 1, "KOD_KRESOWY,STAWKA_VAT[CR][LF]")
      .item(1, 0xFFFF, 0x0400, 0, 2, 7, 60, 1, "CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]")
      .item(1, 0xFFFF, 0x0400, 0, 2, 8, 60, 1, "KOD_KRESOWY,Kod CN[CR][LF]")
      .item(4, 0xFFFF, 0, 0, 2, 10, 60, 4,
            "Plik importowany ma być w formacie tekstowym:\nKOD_KRESOWY,STAWKA_VAT[CR][LF]\nlub\n"
            "CZĘŚĆ_NAZWY_TOWARU,STAWKA_VAT[CR][LF]")
      .item(0, 0x5001, 0, 0x8600, 27, 15, 10, 1,
            "\x05"
            "F12\x01 OK");
  return b.finish();
}

void set16(Bytes& r, size_t at, unsigned v) {
  r[at] = static_cast<unsigned char>(v & 0xFF);
  r[at + 1] = static_cast<unsigned char>(v >> 8);
}
void set32(Bytes& r, size_t at, uint32_t v) {
  set16(r, at, v & 0xFFFF);
  set16(r, at + 2, v >> 16);
}

std::string parseError(const Bytes& record, size_t available) {
  DialogModel model;
  std::string error;
  EXPECT_FALSE(parseDialog(record.data(), available, model, error));
  return error;
}

// Offsets of the import dialog's items (prefix of the input item included).
constexpr size_t kFrame = 8, kLabel0 = kFrame + 29, kInput1 = kLabel0 + 36, kButton2 = kInput1 + 43;

TEST(DialogRecord, TheImportDialogIsAcceptedWithItsItemsAndBindings) {
  const Bytes record = importDialog();
  ASSERT_EQ(record.size(), 510u);
  DialogModel model;
  std::string error;
  ASSERT_TRUE(parseDialog(record.data(), record.size(), model, error)) << error;
  EXPECT_EQ(model.size, 510u);
  EXPECT_EQ(model.frame.text, mz("Wprowadź"));
  EXPECT_EQ(model.frame.width, 65);
  EXPECT_EQ(model.frame.height, 18);
  ASSERT_EQ(model.items.size(), 9u);
  const std::vector<uint16_t> types = {3, 5, 0, 3, 1, 1, 1, 4, 0};
  for (size_t i = 0; i < types.size(); ++i) EXPECT_EQ(model.items[i].type, types[i]) << i;
  EXPECT_EQ(model.items[1].id, 0x4101);
  EXPECT_EQ(model.items[1].maxLength, 128);
  EXPECT_EQ(model.items[1].offset, kInput1);
  EXPECT_EQ(model.items[2].flags, 0x0180);
  EXPECT_EQ(model.items[8].hotKey, 0x8600);
  EXPECT_EQ(model.items[7].height, 4);

  const auto b = velkar::dialog::bindings(model);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0].kind, velkar::dialog::Binding::INPUT);
  EXPECT_EQ(b[0].offset, 0u);
  EXPECT_EQ(b[0].size, 129u);
  EXPECT_EQ(b[1].kind, velkar::dialog::Binding::RADIO_GROUP);
  EXPECT_EQ(b[1].first, 4u);
  EXPECT_EQ(b[1].last, 6u);
  EXPECT_EQ(b[1].offset, 129u);
  EXPECT_EQ(velkar::dialog::dataSize(model), 131u);
}

TEST(DialogRecord, MalformedRecordsAreRejectedWithTheirReason) {
  const Bytes good = importDialog();
  Bytes r;

  EXPECT_NE(parseError(good, 7).find("shorter than its 8-byte header"), std::string::npos);
  EXPECT_NE(parseError(good, 509).find("claims 506 bytes"), std::string::npos);

  r = good;  // the second count does not match the first
  set16(r, 4, 503);
  EXPECT_NE(parseError(r, r.size()).find("do not add up"), std::string::npos);

  r = good;  // both counts one byte longer: a byte is left after the last item
  r.push_back(0);
  set32(r, 0, 507);
  set16(r, 4, 503);
  EXPECT_NE(parseError(r, r.size()).find("1 bytes are left"), std::string::npos);

  r = good;  // one item more than the record holds
  set16(r, 6, 10);
  EXPECT_NE(parseError(r, r.size()).find("item 9 at byte 510 runs past the end"),
            std::string::npos);

  r = good;  // a label of an unknown type
  set16(r, kLabel0, 7);
  EXPECT_NE(parseError(r, r.size()).find("item 0 has an unknown item type 0x0007"),
            std::string::npos);

  r = good;  // an input item with another body length
  set16(r, kInput1 + 2, 40);
  EXPECT_NE(parseError(r, r.size()).find("body of 40 bytes"), std::string::npos);

  r = good;  // an input prefix before a header of another type
  set16(r, kInput1 + 4, 3);
  EXPECT_NE(parseError(r, r.size()).find("header has type 0x0003"), std::string::npos);

  r = good;  // the last text without its zero byte
  r.back() = 'x';
  EXPECT_NE(parseError(r, r.size()).find("item 8's text runs past the end"), std::string::npos);

  r = good;  // no frame first, or a second one
  set16(r, kFrame, 3);
  EXPECT_NE(parseError(r, r.size()).find("does not start with a frame"), std::string::npos);
  r = good;
  set16(r, kButton2, 0xFFFF);
  EXPECT_NE(parseError(r, r.size()).find("item 2 is a second frame item"), std::string::npos);

  r = good;  // the F3 button one column wider than the frame allows
  set16(r, kButton2 + 12, 23);
  EXPECT_NE(parseError(r, r.size()).find("item 2 lies outside the frame"), std::string::npos);

  r = good;  // an input item without room for any text
  set16(r, kInput1 + 4 + 20 + 8, 0);
  EXPECT_NE(parseError(r, r.size()).find("maximum length of 0"), std::string::npos);
}

// Every cut of the record is rejected, reading only the bytes that are there (each cut is its
// own exactly sized block, so that a sanitizer build sees any read beyond it).
TEST(DialogRecord, NoCutOfTheRecordIsAcceptedOrReadBeyond) {
  const Bytes good = importDialog();
  for (size_t length = 0; length < good.size(); ++length) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[length ? length : 1]);
    std::memcpy(block.get(), good.data(), length);
    DialogModel model;
    std::string error;
    EXPECT_FALSE(parseDialog(block.get(), length, model, error)) << length;
    EXPECT_FALSE(error.empty());
  }
}

// --- runDialog
// --------------------------------------------------------------------------------------

struct ImportData {
  char fileName[129];
  unsigned char format[2];
};
static_assert(sizeof(ImportData) == 131);

struct HandlerLog {
  std::vector<std::pair<int, int>> keys;
  std::string dataDuringKey;  // fileName as exchangeDialogData brought it
  bool choose = true;
};
HandlerLog* handlerLog = nullptr;
ImportData* handlerData = nullptr;

// Behaves like the module's handler: F3 on the input item opens the file chooser.
HOST_STDCALL int importKeys(unsigned short key, unsigned short item) {
  handlerLog->keys.emplace_back(key, item);
  if (key != 0x3D00 || item != 1) return 0;
  velkar::fn::exchangeDialogData(handlerData, 1);
  handlerLog->dataDuringKey = handlerData->fileName;
  char mask[] = "c:\\*.*";
  if (velkar::fn::chooseFile(57, handlerData->fileName, mask, 1) != -1) {
    velkar::fn::exchangeDialogData(handlerData, 0);
    velkar::fn::notifyDialogItem(0x4101);
  }
  return -2;
}

HOST_STDCALL int logKeys(unsigned short key, unsigned short item) {
  handlerLog->keys.emplace_back(key, item);
  return 0;
}

class RunDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    velkar::resetHost();
    velkar::ui::setOutput(&screen);
    std::memset(&data, 0, sizeof data);
    std::strcpy(data.fileName, "Nowe_stawki_VAT.csv");
    handlerLog = &log;
    handlerData = &data;
  }
  void TearDown() override { velkar::resetHost(); }

  int run(std::vector<std::string> script, DialogKeyHandler keys = importKeys) {
    velkar::ui::setScript(std::move(script));
    return velkar::fn::runDialog(record.data(), 1, &data, keys, 0) & 0xFFFF;
  }
  int format() const { return data.format[0] | data.format[1] << 8; }

  Bytes record = importDialog();
  ImportData data;
  HandlerLog log;
  std::ostringstream screen;
};

TEST_F(RunDialog, ScriptSetsFileAndFormatAndOffersKeysToTheHandlerFirst) {
  EXPECT_EQ(run({"file wybrany.csv", "dialog keys=item1:F3 format=2 ok"}), 0x5001);
  EXPECT_EQ(log.keys, (std::vector<std::pair<int, int>>{{0x3D00, 1}}));
  EXPECT_EQ(log.dataDuringKey, "Nowe_stawki_VAT.csv");
  EXPECT_STREQ(data.fileName, "wybrany.csv");  // chosen in the handler, shown, accepted
  EXPECT_EQ(format(), 2);
  EXPECT_EQ(velkar::callsOf("notifyDialogItem").size(), 1u);

  // The fields of the line come after its keys; the name is converted to the host's set.
  EXPECT_EQ(run({"file inny.csv", "dialog file=\"Stawki łódź.csv\" keys=item1:F3 ok"}), 0x5001);
  EXPECT_EQ(std::string(data.fileName), mz("Stawki łódź.csv"));
  EXPECT_EQ(data.fileName[sizeof data.fileName - 1], 0);
}

TEST_F(RunDialog, CancelLeavesTheDataAndOtherResultsWriteIt) {
  data.format[0] = 5;  // a stored format outside the radio items is kept as it is
  EXPECT_EQ(run({"dialog file=x.csv format=1 cancel"}), 0x5002);
  EXPECT_STREQ(data.fileName, "Nowe_stawki_VAT.csv");
  EXPECT_EQ(format(), 5);

  EXPECT_EQ(run({}), 0x5001);  // no script line: accepted as given
  EXPECT_STREQ(data.fileName, "Nowe_stawki_VAT.csv");
  EXPECT_EQ(format(), 5);

  EXPECT_EQ(run({"dialog file=y.csv code=0x3D00"}), 0x3D00);
  EXPECT_STREQ(data.fileName, "y.csv");

  // A key that ends the dialog ends it there; the rest of the line is not used.
  EXPECT_EQ(run({"dialog keys=Esc file=z.csv ok"}), 0x5002);
  EXPECT_STREQ(data.fileName, "y.csv");
  EXPECT_EQ(run({"dialog keys=item0:F12 file=z.csv cancel"}), 0x5001);
  EXPECT_STREQ(data.fileName, "y.csv");

  const auto& shown = velkar::ui::shown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().kind, "dialog");
  EXPECT_EQ(shown.back().title, "Wprowadź");
  EXPECT_EQ(shown.back().result, 0x5001);
}

TEST_F(RunDialog, F3ElsewhereIsLeftToTheHostAndChoosesNothing) {
  EXPECT_EQ(run({"file a.csv", "dialog keys=item0:F3 ok"}), 0x5001);
  EXPECT_EQ(log.keys, (std::vector<std::pair<int, int>>{{0x3D00, 0}}));
  EXPECT_TRUE(velkar::callsOf("chooseFile").empty());
  EXPECT_STREQ(data.fileName, "Nowe_stawki_VAT.csv");

  // On the input item with the chooser left without a choice: the key is handled, the name stays.
  log.keys.clear();
  EXPECT_EQ(run({"file none", "dialog keys=item1:F3 ok"}), 0x5001);
  EXPECT_EQ(log.keys.size(), 1u);
  EXPECT_STREQ(data.fileName, "Nowe_stawki_VAT.csv");
}

TEST_F(RunDialog, FaultyDescriptionCancelsWithoutCallingTheHandler) {
  set16(record, 6, 10);
  EXPECT_EQ(run({"dialog keys=item1:F3 ok"}), 0x5002);
  EXPECT_TRUE(log.keys.empty());
  EXPECT_STREQ(data.fileName, "Nowe_stawki_VAT.csv");
  // A first field claiming far more than a dialog can hold is not followed.
  set32(record, 0, 0xFFFFFFF0u);
  EXPECT_EQ(run({}), 0x5002);
}

TEST_F(RunDialog, DataExchangeOnlyWhileADialogRuns) {
  EXPECT_EQ(velkar::fn::exchangeDialogData(&data, 1), -1);
  EXPECT_EQ(velkar::fn::notifyDialogItem(0x4101), -1);
}

// The keyboard: the same handling the interactive loop uses, key by key.
TEST_F(RunDialog, KeysEditTheInputMoveTheFocusAndChooseRadioItems) {
  DialogModel model;
  std::string error;
  ASSERT_TRUE(parseDialog(record.data(), record.size(), model, error));
  velkar::dialog::Session s(model, logKeys);
  s.load(&data);
  EXPECT_EQ(s.focus(), 1);  // the first item that takes the focus
  // The dialog opens with the text selected: the first key typed replaces it.
  EXPECT_TRUE(s.inputSelected(1));
  s.handleKey('x');
  EXPECT_EQ(s.inputText(1), "x");
  // A text the module puts in through the data block stands with the cursor after it.
  s.load(&data);
  EXPECT_FALSE(s.inputSelected(1));
  for (int key : std::vector<int>{velkar::ui::KEY_BACKSPACE, velkar::ui::KEY_BACKSPACE,
                                  velkar::ui::KEY_BACKSPACE, int('t'), int('x'), int('t')})
    EXPECT_FALSE(s.handleKey(key));
  EXPECT_EQ(s.inputText(1), "Nowe_stawki_VAT.txt");
  s.handleKey(velkar::ui::KEY_HOME);
  s.handleKey(velkar::ui::KEY_DELETE);
  EXPECT_EQ(s.inputText(1), "owe_stawki_VAT.txt");

  // Tab to the F3 button; Enter on it hands its id to the handler for the input item.
  s.handleKey(velkar::ui::KEY_TAB);
  log.keys.clear();
  EXPECT_EQ(s.focus(), 2);
  EXPECT_FALSE(s.handleKey(velkar::ui::KEY_ENTER));
  EXPECT_EQ(log.keys, (std::vector<std::pair<int, int>>{{0x1C0D, 2}, {0x3D00, 1}}));
  s.handleKey(velkar::ui::KEY_TAB);  // to the first radio item
  EXPECT_EQ(s.focus(), 4);
  s.handleKey(velkar::ui::KEY_DOWN);
  s.handleKey(velkar::ui::KEY_DOWN);
  EXPECT_EQ(s.radioValue(4), 2);
  s.handleKey(velkar::ui::KEY_UP);
  EXPECT_EQ(s.radioValue(4), 1);
  s.handleKey(velkar::ui::KEY_DOWN);
  s.handleKey(velkar::ui::KEY_DOWN);  // past the last radio item: on to the OK button
  EXPECT_EQ(s.focus(), 8);
  EXPECT_EQ(s.radioValue(4), 2);

  // Alt+P (the label's hot key) goes to the input item; F12 anywhere is the OK button.
  s.handleKey(velkar::ui::altKey('p'));
  EXPECT_EQ(s.focus(), 1);
  EXPECT_TRUE(s.inputSelected(1));  // selected again as the focus comes to it
  EXPECT_EQ(s.handleKey(velkar::ui::KEY_F12), 0x5001);
  EXPECT_EQ(s.handleKey(velkar::ui::KEY_ENTER), 0x5001);
  EXPECT_EQ(s.handleKey(velkar::ui::KEY_ESC), 0x5002);
  // The input takes no more than its maximum length.
  s.setInputText(1, std::string(128, 'a'));
  s.handleKey('b');
  EXPECT_EQ(s.inputText(1).size(), 128u);
}

TEST_F(RunDialog, TheDialogIsDrawnFromItsRecord) {
  data.format[0] = 1;
  run({});
  const std::string face = velkar::ui::shown().back().text;
  for (const char* part :
       {"Plik towarów:", "[Nowe_stawki_VAT.csv", "] [F3 Zmień plik]", "Format pliku:",
        "( ) KOD_KRESOWY,STAWKA_VAT[CR][LF]", "(•) CZĘŚĆ NAZWY TOWARU", "( ) KOD_KRESOWY,Kod CN",
        "Plik importowany ma być w formacie tekstowym:\n KOD_KRESOWY", "[F12 OK]"})
    EXPECT_NE(face.find(part), std::string::npos) << part << "\n" << face;
  // Items stand at their columns and rows inside the frame.
  std::vector<std::string> rows;
  std::istringstream in(screen.str());
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  ASSERT_GE(rows.size(), 18u);
  EXPECT_EQ(rows[0].rfind("┌", 0), 0u);
  EXPECT_NE(rows[0].find(" Wprowadź "), std::string::npos);
  EXPECT_EQ(rows[2].rfind("│ Plik towarów:", 0), 0u);
  EXPECT_EQ(rows[15].rfind("│" + std::string(26, ' ') + "[F12 OK]", 0), 0u);
  EXPECT_EQ(rows[17].rfind("└", 0), 0u);
  EXPECT_EQ(velkar::ui::textWidth(rows[3]), 65);

  // In ASCII frames (the Windows console's) nothing of the face is outside ASCII but the texts.
  velkar::ui::setFrames(velkar::ui::Frames::Ascii);
  screen.str("");
  run({});
  EXPECT_EQ(screen.str().rfind("+-", 0), 0u) << screen.str();
  EXPECT_NE(screen.str().find("| Plik towarów:"), std::string::npos);
  EXPECT_NE(screen.str().find("(*) CZĘŚĆ NAZWY TOWARU"), std::string::npos);
  EXPECT_EQ(screen.str().find("•"), std::string::npos);
}

}  // namespace
