// The host's dialogs: the description record a module hands to runDialog, its validation, the
// dialog's live state with its keyboard handling, and its face on the console.
//
// The record (little-endian, byte-packed):
//   0   32 bits  bytes that follow this field, to the end of the last item's text
//   4   16 bits  bytes from the frame item to the same end (the first count less 4)
//   6   16 bits  items after the frame item
//   8            the frame item, then the items in screen order
// An item is a 20-byte header (type, id, flags, hot key, column, row, width, height: 16 bits
// each; then 32 bits) followed by its zero-terminated text. An input item is preceded by two
// 16-bit words, its type (5) and its body length (38), and carries 18 parameter bytes between its
// header and its text; the 16 bits at parameter byte 8 are the text's maximum length.
//
// Data binding: the items flagged FLAG_DATA take their values from the caller's data block in
// item order: an input item maxLength + 1 bytes (its text, zero-terminated), a run of consecutive
// radio items one 16-bit index (0 = the first item of the run; a value outside the run selects
// none and is kept as it is).
//
// Keys: every key goes first to the module's key handler with the number of the item that has
// the focus (items numbered from 0 after the frame); -2 means handled. Otherwise the host acts:
// Esc cancels (DIALOG_CANCEL); a button's hot key or Enter on a button presses it; Enter elsewhere
// accepts (DIALOG_OK); Tab, Shift-Tab and the arrows move between items; Up/Down and Space choose
// within a group of radio items; typed characters, Backspace, Delete, Left, Right, Home and End
// edit an input item (ui::LineEdit: its text is selected when the dialog opens with the focus on
// it and whenever the focus comes to it, so that the first key typed replaces it; a text that the
// module puts in through the data block stands with the cursor after it, not selected); Alt and
// a label's hot key letter moves to the item after the label.
// Pressing a button ends the dialog with the button's id, except for a button flagged
// FLAG_DELIVERS: that one hands its id to the key handler, as a key, with the number of the input
// item it stands beside (the nearest input item before it), and the dialog goes on.
// Whatever ends the dialog, the values are written back into the data block, unless the result
// is DIALOG_CANCEL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/host_list.h"
#include "velkar/console/ui.h"

namespace velkar::dialog {

enum : uint16_t {
  ITEM_BUTTON = 0,
  ITEM_RADIO = 1,
  ITEM_LABEL = 3,
  ITEM_TEXT = 4,
  ITEM_INPUT = 5,
  ITEM_FRAME = 0xFFFF,
};

enum : uint16_t {
  FLAG_DELIVERS = 0x0100,  // a button that hands its id to the key handler (0x0180 in use)
  FLAG_DATA = 0x0400,      // bound to the data block
  NO_ID = 0xFFFF,
};

enum : size_t {
  RECORD_HEADER_SIZE = 8,
  ITEM_HEADER_SIZE = 20,
  INPUT_PREFIX_SIZE = 4,
  INPUT_PARAMS_SIZE = 18,
  INPUT_BODY_SIZE = ITEM_HEADER_SIZE + INPUT_PARAMS_SIZE,
  INPUT_MAX_LENGTH_AT = 8,  // in the parameters
  MAX_RECORD_SIZE = 0xFFFF + 8,
};

struct Item {
  uint16_t type = 0, id = NO_ID, flags = 0, hotKey = 0;
  uint16_t column = 0, row = 0, width = 0, height = 0;
  uint32_t reserved = 0;
  std::array<uint8_t, INPUT_PARAMS_SIZE> params{};
  uint16_t maxLength = 0;  // input items
  std::string text;        // host bytes with markup
  size_t offset = 0;       // where the item starts in the record
};

struct DialogModel {
  Item frame;
  std::vector<Item> items;
  size_t size = 0;  // the record's size in bytes
};

// Reads and checks a description record of which `available` bytes may be read. Never reads
// beyond them. False with a reason for a record that is short, whose counts do not add up, that
// holds an unknown item type or a misplaced frame, a text without its zero byte, an input item
// of another body length, or an item outside the frame.
bool parseDialog(const void* bytes, size_t available, DialogModel& out, std::string& error);

// One stretch of the data block.
struct Binding {
  enum Kind { INPUT, RADIO_GROUP } kind;
  size_t first, last;  // items
  size_t offset, size;
};
std::vector<Binding> bindings(const DialogModel& model);
size_t dataSize(const DialogModel& model);

// A running dialog.
class Session {
 public:
  Session(DialogModel model, DialogKeyHandler keys);

  const DialogModel& model() const { return model_; }
  void load(const void* data);
  void store(void* data) const;

  int focus() const { return focus_; }
  bool setFocus(int item);
  // Text of an input item (host bytes); the value of the radio group an item belongs to.
  std::string inputText(size_t item) const;
  void setInputText(size_t item, std::string text);
  int radioValue(size_t item) const;
  void setRadioValue(size_t item, int value);
  // The first input item / radio item, if any.
  std::optional<size_t> firstOf(uint16_t type) const;

  // Whether the text of an input item is selected (the next key typed replaces it).
  bool inputSelected(size_t item) const;

  // Handles one key as described above; the dialog's result when the key ends it.
  std::optional<int> handleKey(int key);

  // The whole dialog, frame included; with focus, the focused item is marked (reverse video).
  std::vector<ui::Line> render(ui::Style style, bool showFocus) const;
  // The inside of the frame as plain text, lines right-trimmed.
  std::string face() const;
  // Terminal cursor position (row, column from 0 at the frame's corner) in a focused input item.
  std::optional<std::pair<int, int>> cursor() const;

  std::vector<uint16_t> notified;  // ids passed to notifyDialogItem

 private:
  struct Field {
    ui::LineEdit edit;
    mutable size_t scroll = 0;  // first column shown, kept by render
  };
  bool focusable(size_t item) const;
  void moveFocus(int direction);
  std::optional<int> press(size_t button, bool byHotKey);
  int offer(int key, int item);
  std::optional<size_t> groupOf(size_t item) const;
  void focusTo(int item);  // moves the focus; an input item's text is selected then

  DialogModel model_;
  DialogKeyHandler keys_;
  std::vector<Binding> bindings_;
  std::vector<Field> fields_;                      // by item; used by input items
  std::vector<int> groupOfItem_;                   // by item; -1 for items in no radio group
  std::vector<std::pair<size_t, size_t>> groups_;  // first and last item of each radio group
  std::vector<int> groupValues_;
  int focus_ = 0;
  bool loaded_ = false;  // the data block has been read once
};

// runDialog: parses the record (a faulty record is reported on stderr and gives DIALOG_CANCEL),
// binds the data block, answers from the script ("dialog [file=NAME] [format=N] [keys=K,...]
// ok|cancel|code=0xNNNN"), else from the keyboard when interactive, else accepts the data as
// given. A scripted key that ends the dialog ends it at once; the rest of the line is not used.
int runDialog(const void* description, void* data, DialogKeyHandler keys);
// exchangeDialogData and notifyDialogItem on the innermost running dialog; -1 when none runs
// (or, for notify, it has no item with that id).
int exchangeData(void* data, int toData);
int notifyItem(int id);

// The innermost running dialog, or null.
Session* activeSession();

// Splits a script line at blanks into out; a value in double quotes may hold blanks. False for a
// quote left open (the words are still split).
bool scriptWords(const std::string& line, std::vector<std::string>& out);

}  // namespace velkar::dialog
