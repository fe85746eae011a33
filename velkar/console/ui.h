// The host's console user interface: message windows, the waiting message, the progress display,
// the stop request, the text-file viewer and the file and warehouse choosers.
//
// Texts from the module are host texts (Mazovia bytes) with the host's markup:
//   0x02 ... 0x01      emphasis; emphasis also ends at the end of a line
//   0x01 't' ... 0x01  tab stops for the rest of the window's text (or, inside a line, from there
//                      on): letters 'l' (left-aligned: the text after a tab starts at the column)
//                      and 'p' (right-aligned: the text after a tab ends just before the column),
//                      each followed by a column counted from 0 at the text's left edge
//   '\t'               moves to the next stop right of the current column; with no stop set,
//                      to the next multiple of 8; with no stop left, one space
//   0x05 ... 0x01      (dialog texts) a key name, shown emphasised
//   "~X~"              (dialog texts) the item's hot key, shown emphasised
// A 0x01 't' run that is not a well-formed list of stops closed by 0x01 is an emphasis end
// followed by ordinary text. Other control bytes show as spaces; CR is dropped.
//
// Emphasis is drawn in one of three styles: ANSI bold (the default when the output is a
// terminal), plain (the default otherwise: the text as it is, so that columns line up in logs and
// files), or marked (each emphasised run between asterisks, for tests and readers who want to see
// it without a terminal).
//
// The UI is scripted (the default), interactive (keyboard in raw mode; chosen by the program), or
// both: a scripted answer, when the script has one, always wins. Every window shown is recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velkar::ui {

// Host result codes.
enum : int { DIALOG_OK = 0x5001, DIALOG_CANCEL = 0x5002 };

// Key codes: scan code in the high byte, character in the low byte. Characters typed without a
// known scan code carry the Mazovia byte in the low byte and 0 in the high byte.
enum : int {
  KEY_ESC = 0x011B,
  KEY_BACKSPACE = 0x0E08,
  KEY_TAB = 0x0F09,
  KEY_SHIFT_TAB = 0x0F00,
  KEY_ENTER = 0x1C0D,
  KEY_SPACE = 0x3920,
  KEY_F1 = 0x3B00,  // F1..F10: 0x3B00..0x4400
  KEY_F3 = 0x3D00,
  KEY_F10 = 0x4400,
  KEY_HOME = 0x4700,
  KEY_UP = 0x4800,
  KEY_PGUP = 0x4900,
  KEY_LEFT = 0x4B00,
  KEY_RIGHT = 0x4D00,
  KEY_END = 0x4F00,
  KEY_DOWN = 0x5000,
  KEY_PGDN = 0x5100,
  KEY_DELETE = 0x5300,
  KEY_F11 = 0x8500,
  KEY_F12 = 0x8600,
  KEY_RESIZE = 0xFF00,  // not a key: the terminal changed its size (see readKey)
};

// The code of a key name: "F1".."F12", "Enter", "Esc", "Tab", "Space", "Up", "Down", "Left",
// "Right", "Home", "End", "Backspace", "Delete", "PgUp", "PgDn", a hexadecimal "0xNNNN", or a
// single printable character. Case does not matter for names.
std::optional<int> keyFromName(std::string_view name);
std::string keyName(int key);
// The code of Alt and a letter (its scan code, character 0); -1 for a character that is no letter.
int altKey(char letter);

// One window as the UI showed it. kind: "message" (informational), "confirm" (asks OK/Cancel),
// "wait" (the waiting message), "text" (showText), "dialog", "file" (file chooser), "warehouse",
// "textfile" (showTextFile), "progress" (one progress display, recorded when it ends; text
// "done/total"). title and text are UTF-8 with the markup removed; tabs and line breaks stay.
// For a dialog, text is the dialog's face (inside the frame) as it stood when it closed.
struct Shown {
  std::string kind;
  std::string title;
  std::string text;
  int result;
};
const std::vector<Shown>& shown();

// Configuration. resetHost() returns the UI to its defaults (no script, not interactive, output
// std::cout, style chosen from the output), so a program sets its choices after a reset.
void setScript(std::vector<std::string> lines);
void addScriptLine(std::string line);
void setInteractive(bool on);
bool interactive();
void setOutput(std::ostream* out);  // null = std::cout
std::ostream& out();

enum class Style { Plain, Marked, Ansi };
void setStyle(Style style);
Style style();
// True when the output is std::cout and standard output is a terminal.
bool outputIsTerminal();

// How window frames are drawn: with box-drawing characters, or with ASCII "+", "-" and "|" (the
// default in the Windows build, whose console code page may have no box-drawing characters).
enum class Frames { Box, Ascii };
void setFrames(Frames frames);
Frames frames();
struct FrameGlyphs {
  const char* horizontal;
  const char* vertical;
  const char* topLeft;
  const char* topRight;
  const char* bottomLeft;
  const char* bottomRight;
  const char* chosen;  // the mark of the chosen radio item, "(x)"
};
const FrameGlyphs& frameGlyphs();

// The width of a window's text when the output is not a terminal (default 76 columns; on a
// terminal, its width less 5, so that the frame ends one column short of the edge). At least 20.
void setTextWidth(int columns);

// Takes the first script line of a kind ("message", "dialog", "file", "warehouse", "stop-after")
// and returns what follows the kind word, trimmed; none when the script has no such line.
std::optional<std::string> takeScript(std::string_view kind);
// How many script lines of a kind are still to be taken.
size_t scriptLinesLeft(std::string_view kind);

// A scripted answer that the question it met cannot take. kind is the script line's kind where
// the complaint is about a part of the line ("dialog"), empty where it quotes the line itself.
// The handler, when one is set and it takes the complaint (velkar run stops the run there and
// names the line), is told; otherwise the complaint is written on standard error as
// "velkar: script: [KIND: ]COMPLAINT" and the answer is passed over.
using ScriptComplaintHandler =
    std::function<bool(const std::string& kind, const std::string& complaint)>;
void setScriptComplaintHandler(ScriptComplaintHandler handler);
void scriptComplaint(const std::string& kind, const std::string& complaint);

// --- Text layout -------------------------------------------------------------------------------

enum : uint8_t { ATTR_EM = 1, ATTR_REVERSE = 2, ATTR_UNDERLINE = 4 };

// One column of laid-out text: one character in UTF-8 and its attributes.
struct Cell {
  std::string ch;
  uint8_t attr = 0;
};
using Line = std::vector<Cell>;

struct LayoutOptions {
  Style style = Style::Plain;
  int maxWidth = 76;          // longer lines wrap at a space (or hard, without one)
  bool dialogMarkup = false;  // 0x05 key names and "~X~" hot keys
};

// Lays out a host text into lines of cells.
std::vector<Line> layoutText(std::string_view hostText, const LayoutOptions& options);
// A host text in UTF-8 with its markup removed (tabs and line breaks kept).
std::string stripMarkup(std::string_view hostText, bool dialogMarkup = false);
// A host text (no markup) in UTF-8.
std::string hostToUtf8(std::string_view hostText);

std::string renderLine(const Line& line, Style style);
int textWidth(std::string_view utf8);
Line plainLine(std::string_view utf8, uint8_t attr = 0);

// A framed box: the title in the top edge, the lines inside with one column of margin.
std::string frameBox(std::string_view titleUtf8, const std::vector<Line>& lines, Style style);

// --- Windows ------------------------------------------------------------------------------------

enum : int { STYLE_ASK = 0x0008, STYLE_WAIT = 0x0200 };

// A message window (showMessage and the formatted variants). STYLE_WAIT: the waiting message,
// shown at once and kept until closeWaitMessage; STYLE_ASK: asks OK or Cancel (a "message" script
// line answers it); anything else is informational (interactive: waits for a key). Returns
// DIALOG_OK or DIALOG_CANCEL.
int showMessage(std::string_view hostTitle, std::string_view hostText, int style);
// showText: an untitled informational window.
int showText(std::string_view hostText);
void closeWaitMessage();
bool waitMessageShown();

void beginProgress(int kind);
void updateProgress(int done, int total);
void endProgress();
// Non-zero when the user asked to stop: Esc on the terminal (interactive), or the script's
// "stop-after N" from the (N+1)th poll on.
bool stopRequested();

// Shows a text file (Mazovia) framed, page by page when interactive. 0, or -1 when it cannot be
// read (a message says so).
int showTextFile(const std::string& name);

// chooseFile: a chosen name (Mazovia, at most 128 bytes) or none.
std::optional<std::string> chooseFile(int kind, const std::string& currentName,
                                      const std::string& mask);
// chooseWarehouse: a warehouse number, or -1 for no choice (Esc at the prompt). Interactively the
// prompt starts from `current`, takes digits only, and names a warehouse that has no product file
// in a line under the field while that number stands in it.
int chooseWarehouse(int current, int kind);
// The note the warehouse prompt shows for what stands in its field; empty when there is nothing to
// say (an empty field, or a warehouse whose product file is in the shop folder).
std::string warehouseNote(const std::string& typed);

// True when a file name matches a DOS mask ("*.*", "*.csv", "DANE?.TXT"); case-insensitive.
// "*.*" matches names without a dot too.
bool matchesMask(std::string_view name, std::string_view mask);

// --- Keyboard -----------------------------------------------------------------------------------

// Raw keyboard mode while alive (nests).
struct RawMode {
  RawMode();
  ~RawMode();
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
};
// The next key, waiting for it; -1 at the end of input. With reportResize, a change of the
// terminal's size while waiting gives KEY_RESIZE; otherwise it is passed over.
int readKey(bool reportResize = false);
// A key if one is waiting, else -1.
int pollKey();
// Terminal size (columns, rows); 80x24 when unknown.
std::pair<int, int> terminalSize();

// The key that a terminal's bytes stand for, from its first byte: escape sequences (VT and xterm
// cursor, editing and function keys), a lone Esc, Alt and a letter (Esc and the letter), UTF-8
// characters (their Mazovia byte) and control characters. `more(ms)` gives the next byte, waiting
// up to ms milliseconds, or -1 when none comes. KEY_NONE for a sequence or character that stands
// for no key the host knows (it has been read whole).
enum : int { KEY_NONE = -2 };
int keyFromBytes(int first, const std::function<int(int waitMs)>& more);

// The key of a Windows console key event (ReadConsoleInput): its virtual-key code, the UTF-16
// character it types (0 for none) and its control-key state. KEY_NONE for a key that is no key
// of its own (Shift, Ctrl or Alt alone, Caps Lock) or that types a character the host's set lacks.
int keyFromConsole(unsigned virtualKey, unsigned character, unsigned controlState);

// A line being edited. The preset is selected: the first key that types or deletes replaces it
// whole, while a key that moves the cursor keeps it and ends the selection. Characters are
// inserted at the cursor; Backspace and Delete remove the character before or at it; Left,
// Right, Home and End move it. Text in host bytes (Mazovia).
struct LineEdit {
  std::string text;
  size_t cursor = 0;
  bool selected = false;
  size_t maxLength = 0;

  LineEdit() = default;
  LineEdit(std::string preset, size_t max);
  // Sets the text with the cursor after it; selected when `select` and the text is not empty.
  void set(std::string preset, bool select);
  // Takes an editing key; false for a key that is not one (the text is unchanged then). `accept`,
  // when given, decides which characters may be typed.
  bool handle(int key, bool (*accept)(char) = nullptr);
};

// Reads a line on the terminal, edited as LineEdit says (Enter ends it; Esc gives none). The line
// comes in Mazovia; `initial` is shown selected.
std::optional<std::string> readLineInteractive(std::string_view promptUtf8,
                                               const std::string& initial, size_t maxLength);

// The least terminal that a window of `columns` x `rows` (frame included) needs, and whether the
// terminal is that large. When it is not, an interactive window says so instead of being drawn:
// waitForRoom shows the message and waits until the terminal is large enough (true) or the user
// gives up with Esc (false).
bool terminalFits(int columns, int rows);
bool waitForRoom(int columns, int rows);
std::string tooSmallMessage(int columns, int rows, int haveColumns, int haveRows);

// While alive, the terminal holds a full-screen dialog: windows shown meanwhile clear it first.
struct FullScreen {
  FullScreen();
  ~FullScreen();
  FullScreen(const FullScreen&) = delete;
  FullScreen& operator=(const FullScreen&) = delete;
};

// Records a window (for the dialog, which draws itself).
void record(Shown s);

}  // namespace velkar::ui
